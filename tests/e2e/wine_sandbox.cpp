// Process plumbing for the end-to-end tests: a prefix per sandbox, the probe and the program started
// under Wine, their output and the sample installer's launch log collected.
#include "tests/e2e/wine_sandbox.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "build_config.h"
#include "tests/support/child_process.h"

namespace isetup::e2e {
namespace fs = std::filesystem;
namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> Split(const std::string& line, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream stream(line);
  while (std::getline(stream, part, separator)) parts.push_back(part);
  if (!line.empty() && line.back() == separator) parts.emplace_back();
  return parts;
}

std::string UserName() {
  const passwd* entry = getpwuid(geteuid());
  return entry ? entry->pw_name : "root";
}

using Child = isetup::testing::ChildProcess;

}  // namespace

bool RunResult::EverVisible() const {
  for (const auto& snapshot : snapshots)
    if (snapshot.visible) return true;
  return false;
}

std::vector<std::string> RunResult::Labels() const {
  std::vector<std::string> labels;
  for (const auto& snapshot : snapshots)
    if (snapshot.visible && (labels.empty() || labels.back() != snapshot.label)) labels.push_back(snapshot.label);
  return labels;
}

std::vector<std::string> RunResult::Gauges() const {
  std::vector<std::string> gauges;
  for (const auto& snapshot : snapshots)
    if (snapshot.visible && (gauges.empty() || gauges.back() != snapshot.gauge)) gauges.push_back(snapshot.gauge);
  return gauges;
}

fs::path Artifacts::ProgramExe() { return fs::path(INTERNETSETUP_WINDOWS_BUILD_DIR) / "InternetSetup.exe"; }
fs::path Artifacts::ProbeExe() { return fs::path(INTERNETSETUP_WINDOWS_BUILD_DIR) / "probe.exe"; }
fs::path Artifacts::PlantedDll() { return fs::path(INTERNETSETUP_WINDOWS_BUILD_DIR) / "planted.dll"; }
fs::path Artifacts::BareDll() { return fs::path(INTERNETSETUP_WINDOWS_BUILD_DIR) / "bare.dll"; }
fs::path Artifacts::RunningInstaller() {
  return fs::path(INTERNETSETUP_WINDOWS_BUILD_DIR) / "running_installer.exe";
}
fs::path Artifacts::LaneProgram(int lane) {
  if (lane == 0) return ProgramExe();
  return fs::path(INTERNETSETUP_WINDOWS_BUILD_DIR) / ("InternetSetup-lane" + std::to_string(lane) + ".exe");
}
fs::path Artifacts::EmbeddedPayload() {
  return fs::path(INTERNETSETUP_WINDOWS_BUILD_DIR) / "sample_installers" / "TalvimorasterSampleSetup.exe";
}
fs::path Artifacts::NextInstaller() {
  return fs::path(INTERNETSETUP_WINDOWS_BUILD_DIR) / "sample_installers" /
         "TalvimorasterSampleSetup-2.53.0.0.exe";
}
fs::path Artifacts::WineTemplate() { return fs::path(INTERNETSETUP_E2E_DIR) / "wine-template"; }
int Artifacts::EndpointPort() {
  const std::string host = INTERNETSETUP_ENDPOINT_HOST;
  const auto colon = host.rfind(':');
  return colon == std::string::npos ? 80 : std::stoi(host.substr(colon + 1));
}

int Lane() {
  const char* given = std::getenv("CTEST_RESOURCE_GROUP_0_LANES");
  const std::string text = given ? given : "";
  const auto id = text.find("id:");
  return id == std::string::npos ? 0 : std::stoi(text.substr(id + 3));
}

std::string LaneAddress() { return "127.0.0." + std::to_string(Lane() == 0 ? 1 : Lane()); }

WineSandbox::WineSandbox(const std::string& name)
    : wine_(fs::path(INTERNETSETUP_E2E_DIR) / "runs" / name, Artifacts::WineTemplate(), "INTERNETSETUP_E2E_KEEP"),
      tempWindows_("C:\\users\\" + UserName() + "\\Temp\\") {
  fs::create_directories(TempFolder());
}

WineSandbox::~WineSandbox() = default;

fs::path WineSandbox::TempFolder() const { return LinuxPath(tempWindows_); }

fs::path WineSandbox::DriveC() const { return wine_.Prefix() / "drive_c"; }

std::string WineSandbox::TempFolderWindows() const { return tempWindows_; }

fs::path WineSandbox::LinuxPath(const std::string& windowsPath) const {
  if (windowsPath.size() < 3 || windowsPath.compare(0, 3, "C:\\") != 0)
    throw std::invalid_argument("not a path on C: " + windowsPath);
  std::string rest = windowsPath.substr(3);
  std::replace(rest.begin(), rest.end(), '\\', '/');
  while (!rest.empty() && rest.back() == '/') rest.pop_back();  // a folder ends in its own name
  return DriveC() / rest;
}

void WineSandbox::UseTempFolder(const std::string& windowsFolder) {
  // The user's environment in the registry wins over the Unix one under Wine: edit user.reg while
  // the prefix is not running.
  std::string escaped;
  for (const char c : windowsFolder) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  const fs::path registry = wine_.Prefix() / "user.reg";
  std::ifstream in(registry);
  std::string text, line;
  int replaced = 0;
  while (std::getline(in, line)) {
    if (line.rfind("\"TEMP\"=", 0) == 0 || line.rfind("\"TMP\"=", 0) == 0) {
      line = line.substr(0, line.find('=') + 1) + "\"" + escaped + "\"";
      ++replaced;
    }
    text += line + "\n";
  }
  in.close();
  if (replaced != 2) throw std::runtime_error("user.reg does not name TEMP and TMP once each");
  std::ofstream(registry, std::ios::trunc) << text;
  tempWindows_ = windowsFolder.back() == '\\' ? windowsFolder : windowsFolder + "\\";
}

RunResult WineSandbox::Run(const RunOptions& options) {
  // The launch log stays in the first temp folder whatever UseTempFolder said.
  const std::string logWindows = "C:\\users\\" + UserName() + "\\Temp\\TalvimorasterSampleLaunches.log";
  const std::vector<std::string> env = wine_.Environment({"TALVIMORASTER_SAMPLE_LOG=" + logWindows});
  RunResult result;
  const auto deadline = Clock::now() + std::chrono::seconds(options.timeoutSeconds);

  // The probe first, so that it sees the window from its creation.
  std::vector<std::string> probeArgs = {"--timeout-ms", std::to_string(options.timeoutSeconds * 1000)};
  probeArgs.insert(probeArgs.end(), options.probeArgs.begin(), options.probeArgs.end());
  Child probe(isetup::testing::WineCommand(Artifacts::ProbeExe(), probeArgs, !options.online), env, true);
  std::string line;
  if (!probe.ReadLine(line) || line != "ready") throw std::runtime_error("the probe did not start: " + line);
  std::thread reader([&] {
    std::string probeLine;
    while (probe.ReadLine(probeLine)) {
      if (!probeLine.empty() && probeLine.back() == '\r') probeLine.pop_back();
      const auto parts = Split(probeLine, '\t');
      if (parts.size() == 7 && parts[0] == "state") {
        result.snapshots.push_back({std::stol(parts[1]), parts[2] == "1", parts[3], parts[4], parts[5], parts[6]});
      } else {
        result.probeEvents.push_back(probeLine);
      }
    }
  });

  std::optional<Child> earlier;
  if (!options.runningBefore.empty()) {
    earlier.emplace(isetup::testing::WineCommand(options.runningBefore, {}, !options.online), env, false);
    const fs::path running = options.runningBefore.string() + ".running";
    const auto startBy = Clock::now() + std::chrono::seconds(30);
    while (!fs::exists(running) && Clock::now() < startBy) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!fs::exists(running)) throw std::runtime_error("the earlier program did not start");
  }

  const auto start = Clock::now();
  std::vector<std::string> programEnv = env;
  programEnv.insert(programEnv.end(), options.environment.begin(), options.environment.end());
  const fs::path programPath = options.program.empty() ? Artifacts::LaneProgram(Lane()) : options.program;
  Child program(isetup::testing::WineCommand(programPath, {}, !options.online), programEnv, false);
  result.exitCode = program.Wait(deadline);
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();

  // A window that was made is gone with the program, and the probe says so and ends within moments; on a
  // road that makes no window the probe would wait out its time-out, so it is stopped then.
  probe.Wait(std::min(deadline + std::chrono::seconds(5), Clock::now() + std::chrono::seconds(3)));
  reader.join();
  if (earlier) {
    std::ofstream(options.runningBefore.string() + ".stop").put('\n');
    earlier->Wait(Clock::now() + std::chrono::seconds(20));
  }
  // The launched installer outlives the program: wait for everything in the prefix to end.
  wine_.WaitForAllEnded(Clock::now() + std::chrono::seconds(30));

  std::ifstream log(LinuxPath(logWindows));
  while (std::getline(log, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto parts = Split(line, '\t');
    if (parts.size() == 5 && parts[0] == "launch")
      result.launches.push_back({parts[1], parts[2], parts[3], std::stoll(parts[4])});
  }
  return result;
}

std::string Utf8(std::wstring_view text) {
  std::string out;
  for (const wchar_t unit : text) {
    const auto c = static_cast<char32_t>(unit);  // the status texts lie in the Basic Multilingual Plane
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
    } else {
      out += {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
              static_cast<char>(0x80 | (c & 0x3F))};
    }
  }
  return out;
}

}  // namespace isetup::e2e
