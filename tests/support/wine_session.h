// The Wine session of one end-to-end or screenshot scenario: a prefix of its own, copied from the
// template prefix into a scratch folder, the environment its programs get, and its wineserver.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/scratch_folder.h"

namespace isetup::testing {

class WineSession {
 public:
  using Clock = std::chrono::steady_clock;

  // Copies `templatePrefix` to `folder`/prefix; throws std::runtime_error when that fails. The folder is
  // left behind when the environment variable `keepIfSet` is set.
  WineSession(const std::filesystem::path& folder, const std::filesystem::path& templatePrefix,
              const char* keepIfSet);
  ~WineSession();  // ends every process of the prefix, then removes the folder
  WineSession(const WineSession&) = delete;
  WineSession& operator=(const WineSession&) = delete;

  const std::filesystem::path& Folder() const { return folder_.path(); }
  const std::filesystem::path& Prefix() const { return prefix_; }
  // WINEPREFIX, WINEDEBUG=-all and `more` (NAME=VALUE), for ChildProcess.
  std::vector<std::string> Environment(const std::vector<std::string>& more = {}) const;
  // Waits until every process of the prefix has ended (an installer outlives the program that started
  // it); false when `deadline` came first.
  bool WaitForAllEnded(Clock::time_point deadline) const;
  void EndAll() const;  // wineserver -k

 private:
  ScratchFolder folder_;
  std::filesystem::path prefix_;
};

// The command that runs a Windows program under Wine; `offline`: in a network namespace of its own
// (loopback only), where Wine reports no connection.
std::vector<std::string> WineCommand(const std::filesystem::path& exe, const std::vector<std::string>& args,
                                     bool offline = false);

}  // namespace isetup::testing
