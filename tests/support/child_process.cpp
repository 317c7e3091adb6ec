// Starting, reading and ending the test harnesses' child processes with posix_spawn.
#include "tests/support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

extern char** environ;

namespace isetup::testing {
namespace {

// The inherited environment with `extra` put over it, name by name.
std::vector<std::string> Environment(const std::vector<std::string>& extra) {
  auto overridden = [&](const std::string& entry) {
    const std::string name = entry.substr(0, entry.find('=') + 1);
    for (const auto& e : extra)
      if (e.compare(0, name.size(), name) == 0) return true;
    return false;
  };
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    if (!overridden(*e)) env.emplace_back(*e);
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
                           bool captureStdout, int extraFdToChild) {
  const std::vector<std::string> env = Environment(extraEnv);
  std::vector<char*> argvPointers, envPointers;
  for (const auto& a : argv) argvPointers.push_back(const_cast<char*>(a.c_str()));
  argvPointers.push_back(nullptr);
  for (const auto& e : env) envPointers.push_back(const_cast<char*>(e.c_str()));
  envPointers.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  int fds[2] = {-1, -1};
  if (captureStdout) {
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  }
  if (extraFdToChild >= 0) posix_spawn_file_actions_adddup2(&actions, extraFdToChild, 3);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  const int error =
      posix_spawnp(&pid_, argvPointers[0], &actions, &attributes, argvPointers.data(), envPointers.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (captureStdout) {
    close(fds[1]);
    out_ = fds[0];
  }
  if (error != 0) throw std::runtime_error("cannot start " + argv[0]);
}

ChildProcess::~ChildProcess() {
  Kill();
  if (out_ >= 0) close(out_);
}

void ChildProcess::Kill() {
  if (pid_ > 0 && !reaped_) {
    kill(-pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    reaped_ = true;
  }
}

int ChildProcess::Wait(Clock::time_point deadline) {
  while (!reaped_) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      reaped_ = true;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (Clock::now() > deadline) {
      Kill();
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return -1;
}

bool ChildProcess::ReadLine(std::string& line) {
  line.clear();
  char c;
  while (read(out_, &c, 1) == 1) {
    if (c == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return true;
    }
    line.push_back(c);
  }
  return !line.empty();
}

}  // namespace isetup::testing
