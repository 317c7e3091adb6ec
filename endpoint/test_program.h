// Test helper: one run of internetsetup-endpoint as a process, its standard output and error on pipes.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

extern char** environ;

namespace isetup::endpoint::testing {

// One run of the program with its standard output and error on pipes.
class Program {
 public:
  explicit Program(std::vector<std::string> arguments, std::string program = ENDPOINT_PROGRAM) {
    arguments.insert(arguments.begin(), program);
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    int out[2], err[2];
    EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
    EXPECT_EQ(pipe2(err, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    spawned_ = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ~Program() {
    if (spawned_ && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(out_);
    close(err_);
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  bool spawned() const { return spawned_; }

  // The next line of standard output, without its line end; empty when none comes within 10 s.
  std::string ReadLine() { return NextLine(out_, out_buffer_); }
  // The same for standard error.
  std::string ReadErrorLine() { return NextLine(err_, err_buffer_); }
  // Reads standard error up to the first line holding `text`; that line, or empty when none comes.
  std::string WaitForErrorLine(const std::string& text) {
    for (std::string line; !(line = ReadErrorLine()).empty();) {
      if (line.find(text) != std::string::npos) return line;
    }
    return {};
  }

  std::string ReadErrors() {
    std::string text;
    char buffer[1024];
    for (ssize_t count; (count = read(err_, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(count));
    return text;
  }

  // The exit code, or -1 when it ended by a signal.
  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    reaped_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  void Signal(int signal) { kill(pid_, signal); }
  // The reader of standard output goes away, as a log shipper that restarts.
  void CloseOutput() {
    close(out_);
    out_ = -1;
  }

 private:
  pid_t pid_ = -1;
  bool spawned_ = false;
  bool reaped_ = false;
  static std::string NextLine(int fd, std::string& buffer) {
    while (true) {
      if (const std::size_t end = buffer.find('\n'); end != std::string::npos) {
        std::string line = buffer.substr(0, end);
        buffer.erase(0, end + 1);
        return line;
      }
      pollfd ready{fd, POLLIN, 0};
      if (poll(&ready, 1, 10000) <= 0) return {};
      char chunk[1024];
      const ssize_t count = read(fd, chunk, sizeof chunk);
      if (count <= 0) return {};
      buffer.append(chunk, static_cast<std::size_t>(count));
    }
  }

  int out_ = -1;
  int err_ = -1;
  std::string out_buffer_;
  std::string err_buffer_;
};

// Reads the program's first line, "listening on 127.0.0.1:PORT": the port, or 0 with a failure.
inline int ListeningPort(Program& program) {
  if (!program.spawned()) return 0;
  std::smatch match;
  const std::string line = program.ReadLine();
  static const std::regex listening(R"(listening on 127\.0\.0\.1:(\d+))");
  if (!std::regex_match(line, match, listening)) {
    ADD_FAILURE() << "first line: \"" << line << "\", errors: " << program.ReadErrors();
    return 0;
  }
  return std::stoi(match[1]);
}

}  // namespace isetup::endpoint::testing
