// A child process for the test harnesses that drive Wine, Xvfb and the like: started in a process
// group of its own (killed as a whole), its standard output optionally read line by line.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace isetup::testing {

class ChildProcess {
 public:
  using Clock = std::chrono::steady_clock;

  // `extraEnv` entries (NAME=VALUE) replace inherited ones of the same name; `extraFdToChild`, when not
  // -1, becomes the child's descriptor 3. Throws std::runtime_error when it cannot be started.
  ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv, bool captureStdout,
               int extraFdToChild = -1);
  ~ChildProcess();  // kills the group when the child was not waited for
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // One line of the captured output without its line end (LF or CR LF); false at its end.
  bool ReadLine(std::string& line);
  // Waits for the exit until `deadline`: its exit code, or -1 after killing it there (or a signal).
  int Wait(Clock::time_point deadline);
  void Kill();

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  bool reaped_ = false;
};

}  // namespace isetup::testing
