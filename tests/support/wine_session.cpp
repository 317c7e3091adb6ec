// Prefix copies, the environment and the wineserver of one scenario's Wine session.
#include "tests/support/wine_session.h"

#include <cstdlib>
#include <stdexcept>

#include "tests/support/child_process.h"

namespace isetup::testing {
namespace {

namespace fs = std::filesystem;

std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// The folders a run never writes: the system folder's DLLs, the side-by-side assemblies and Wine's own
// programs, 680 of the prefix's 695 MB. They are hard links to the template's; everything else (the
// registry, the users' folders, the temp folder) is copied, so a run changes only its own prefix.
constexpr const char* kLinkedFolders[] = {"drive_c/windows/system32", "drive_c/windows/winsxs",
                                          "drive_c/Program Files"};

bool CopyPrefix(const fs::path& from, const fs::path& to) {
  const std::string source = Quoted(from.string()), target = Quoted(to.string());
  std::string excluded, links;
  for (const char* folder : kLinkedFolders) {
    excluded += " --exclude=" + Quoted(std::string("./") + folder);
    links += " && cp -al " + Quoted((from / folder).string()) + " " + Quoted((to / folder).parent_path().string()) + "/";
  }
  const std::string command =
      "mkdir -p " + target + " && tar -C " + source + excluded + " -cf - . | tar -C " + target + " -xf -" + links;
  return std::system(command.c_str()) == 0;
}

// Runs wineserver with `option` for the prefix; its exit code, or -1 when `deadline` came first.
int Wineserver(const std::vector<std::string>& env, const char* option, ChildProcess::Clock::time_point deadline) {
  ChildProcess server({"wineserver", option}, env, false);
  return server.Wait(deadline);
}

}  // namespace

WineSession::WineSession(const fs::path& folder, const fs::path& templatePrefix, const char* keepIfSet)
    : folder_(folder, keepIfSet), prefix_(folder / "prefix") {
  if (!CopyPrefix(templatePrefix, prefix_)) throw std::runtime_error("cannot copy the Wine template prefix");
}

WineSession::~WineSession() { EndAll(); }

std::vector<std::string> WineSession::Environment(const std::vector<std::string>& more) const {
  std::vector<std::string> env = {"WINEPREFIX=" + prefix_.string(), "WINEDEBUG=-all"};
  env.insert(env.end(), more.begin(), more.end());
  return env;
}

bool WineSession::WaitForAllEnded(Clock::time_point deadline) const {
  return Wineserver(Environment(), "-w", deadline) == 0;
}

void WineSession::EndAll() const { Wineserver(Environment(), "-k", Clock::now() + std::chrono::seconds(30)); }

std::vector<std::string> WineCommand(const fs::path& exe, const std::vector<std::string>& args, bool offline) {
  std::vector<std::string> command;
  if (offline) command = {"unshare", "-n"};
  command.push_back("wine");
  command.push_back(exe.string());
  command.insert(command.end(), args.begin(), args.end());
  return command;
}

}  // namespace isetup::testing
