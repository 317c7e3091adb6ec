// The internetsetup-endpoint program run as a process on an ephemeral port, and its usage errors.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "endpoint/test_installer.h"
#include "payload/affiliate_tags.h"
#include "payload/checksum.h"

extern char** environ;

namespace isetup::endpoint {
namespace {

// One run of the program with its standard output and error on pipes.
class Program {
 public:
  explicit Program(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), ENDPOINT_PROGRAM);
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
  std::string ReadLine() {
    while (true) {
      if (const std::size_t end = out_buffer_.find('\n'); end != std::string::npos) {
        std::string line = out_buffer_.substr(0, end);
        out_buffer_.erase(0, end + 1);
        return line;
      }
      pollfd ready{out_, POLLIN, 0};
      if (poll(&ready, 1, 10000) <= 0) return {};
      char buffer[1024];
      const ssize_t count = read(out_, buffer, sizeof buffer);
      if (count <= 0) return {};
      out_buffer_.append(buffer, static_cast<std::size_t>(count));
    }
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

 private:
  pid_t pid_ = -1;
  bool spawned_ = false;
  bool reaped_ = false;
  int out_ = -1;
  int err_ = -1;
  std::string out_buffer_;
};

class EndpointProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    installerPath_ = std::filesystem::temp_directory_path() / ("endpoint_program_test_" + std::to_string(getpid()));
    installer_ = testing::MakeInstaller();
    std::ofstream(installerPath_, std::ios::binary)
        .write(reinterpret_cast<const char*>(installer_.data()), static_cast<std::streamsize>(installer_.size()));
  }
  void TearDown() override { std::filesystem::remove(installerPath_); }

  // Starts the program on an ephemeral port; returns the port from its first line, or 0.
  int StartProgram(Program& program) {
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

  std::vector<std::string> Arguments(std::vector<std::string> more = {}) const {
    std::vector<std::string> arguments{"--port", "0", "--installer", installerPath_.string(), "--version", "2.53.0.0"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return arguments;
  }

  std::filesystem::path installerPath_;
  std::vector<std::uint8_t> installer_;
};

TEST_F(EndpointProgramTest, ServesTheReplyAndTheStampedInstallerAndStopsOnSigterm) {
  Program program(Arguments());
  const int port = StartProgram(program);
  ASSERT_GT(port, 0);
  httplib::Client client("127.0.0.1", port);
  client.set_read_timeout(10, 0);
  const std::string query = "?ISetupVer=02340000&affid=ABCD1234&affsid=EFGH5678&rnd=42";
  const auto reply = client.Get(("/version.php" + query).c_str());
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->body, "ver=2.53.0.0\r\nsize=" + std::to_string(installer_.size()) + "\r\nconsum=" +
                             std::to_string(ByteSumChecksum(installer_)) + "\r\nurl=127.0.0.1:" + std::to_string(port) +
                             "/download/TalvimorasterSetup-2.53.0.0.exe\r\n");
  const std::string logLine = program.ReadLine();
  EXPECT_EQ(logLine.rfind("127.0.0.1 - - [", 0), 0u) << logLine;
  EXPECT_TRUE(logLine.ends_with("] \"GET /version.php" + query + " HTTP/1.1\" 200 " + std::to_string(reply->body.size())))
      << logLine;

  const auto download = client.Get(("/download/TalvimorasterSetup-2.53.0.0.exe" + query).c_str());
  ASSERT_TRUE(download);
  const auto tags = FindAffiliateTags({reinterpret_cast<const std::uint8_t*>(download->body.data()), download->body.size()});
  ASSERT_TRUE(tags.affid && tags.affsid);
  EXPECT_EQ(tags.affid->value, "ABCD1234");
  EXPECT_EQ(tags.affsid->value, "EFGH5678");
  EXPECT_TRUE(program.ReadLine().ends_with(" 200 " + std::to_string(installer_.size())));

  program.Signal(SIGTERM);
  EXPECT_EQ(program.Wait(), 0);
}

TEST_F(EndpointProgramTest, FaultFlagsReachTheServerAndSigintStopsAHang) {
  Program program(Arguments({"--fault", "version:status=500", "--fault=installer:hang", "--public-host",
                             "downloads.example.com:8080"}));
  const int port = StartProgram(program);
  ASSERT_GT(port, 0);
  httplib::Client client("127.0.0.1", port);
  const auto reply = client.Get("/version.php?ISetupVer=02340000&&rnd=1");
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status, 500);
  // A hanging download must not keep the program from stopping.
  httplib::Client hanging("127.0.0.1", port);
  hanging.set_read_timeout(30, 0);
  std::thread request([&] { EXPECT_FALSE(hanging.Get("/download/TalvimorasterSetup-2.53.0.0.exe")); });
  program.ReadLine();  // the 500
  program.Signal(SIGINT);
  EXPECT_EQ(program.Wait(), 0);
  request.join();
}

TEST_F(EndpointProgramTest, BadUsageExitsWithTwoAndSaysWhy) {
  struct Case {
    std::vector<std::string> arguments;
    const char* message;
  };
  const std::string installer = installerPath_.string();
  const Case cases[] = {
      {{"--installer", installer, "--version", "2.53.0"}, "2.53.0"},
      {{"--installer", installer, "--version", "0.0.0.0"}, "0.0.0.0"},
      {{"--installer", installer}, "--version"},
      {{"--version", "2.53.0.0"}, "--installer"},
      {{"--installer", installer, "--version", "2.53.0.0", "--port", "70000"}, "--port"},
      {{"--installer", installer, "--version", "2.53.0.0", "--port"}, "--port needs a value"},
      {{"--installer", installer, "--version", "2.53.0.0", "--fault", "client:hang"}, "client"},
      {{"--installer", installer, "--version", "2.53.0.0", "--public-host", "http://x"}, "http://x"},
      {{"--installer", installer, "--version", "2.53.0.0", "--file-name", "a/b.exe"}, "a/b.exe"},
      {{"--installer", installer, "--version", "2.53.0.0", "--verbose"}, "--verbose"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    Program program(c.arguments);
    ASSERT_TRUE(program.spawned());
    EXPECT_EQ(program.Wait(), 2);
    EXPECT_NE(program.ReadErrors().find(c.message), std::string::npos);
    EXPECT_EQ(program.ReadLine(), "");
  }
  Program help({"--help"});
  EXPECT_EQ(help.Wait(), 0);
  EXPECT_EQ(help.ReadLine().rfind("Usage: internetsetup-endpoint", 0), 0u);
  Program missing({"--installer", installer + ".missing", "--version", "2.53.0.0"});
  EXPECT_EQ(missing.Wait(), 1);
  EXPECT_NE(missing.ReadErrors().find("cannot read"), std::string::npos);
}

}  // namespace
}  // namespace isetup::endpoint
