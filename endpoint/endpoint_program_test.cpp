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

#include "endpoint/test_client.h"
#include "endpoint/test_installer.h"
#include "endpoint/test_program.h"
#include "payload/checksum.h"
#include "payload/tag_fields.h"
#include "tests/support/scratch_folder.h"

namespace isetup::endpoint {
namespace {

using testing::Program;

class EndpointProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    installer_ = testing::MakeInstaller();
    std::ofstream(installerPath_, std::ios::binary)
        .write(reinterpret_cast<const char*>(installer_.data()), static_cast<std::streamsize>(installer_.size()));
  }

  // Starts the program on an ephemeral port; returns the port from its first line, or 0.
  int StartProgram(Program& program) { return testing::ListeningPort(program); }

  std::vector<std::string> Arguments(std::vector<std::string> more = {}) const {
    std::vector<std::string> arguments{"--port", "0", "--installer", installerPath_.string(), "--version", "2.53.0.0"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return arguments;
  }

  isetup::testing::ScratchFolder scratch_{isetup::testing::ScratchFolder::ForTest("endpoint_program")};
  const std::filesystem::path installerPath_ = scratch_ / "installer.exe";
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

TEST_F(EndpointProgramTest, AStalledOrVanishedLogReaderNeverStopsServing) {
  for (const bool vanished : {false, true}) {
    SCOPED_TRACE(vanished ? "reader gone" : "reader stalled");
    Program program(Arguments());
    const int port = StartProgram(program);
    ASSERT_GT(port, 0);
    if (vanished) program.CloseOutput();
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(5, 0);
    // About 90 bytes a line: three times what the pipe holds, which nobody reads.
    for (int i = 0; i < 2000; ++i) {
      const auto reply = client.Get("/healthz");
      ASSERT_TRUE(reply) << "request " << i;
      ASSERT_EQ(reply->status, 200);
    }
    if (vanished) {
      EXPECT_NE(program.WaitForErrorLine("cannot be written"), "");
    }
    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(), 0);  // a vanished reader's SIGPIPE would end it with -1
  }
}

TEST_F(EndpointProgramTest, ASigningKeySignsTheRepliesAndOneThatCannotBeLoadedStopsTheStart) {
  const std::string keys = UPDATE_TEST_KEY_DIR;
  {
    Program program(Arguments({"--signing-key", keys + "/update-test-key.private.pem"}));
    const int port = StartProgram(program);
    ASSERT_GT(port, 0);
    httplib::Client client("127.0.0.1", port);
    const auto reply = client.Get("/version.php?ISetupVer=02340000&&rnd=42");
    ASSERT_TRUE(reply);
    // The signature itself is checked against the server in reply_signer_test.
    EXPECT_TRUE(std::regex_search(reply->body, std::regex("\r\nsha256=[0-9a-f]{64}\r\nsig=[0-9a-f]{128}\r\n$")))
        << reply->body;
    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(), 0);
  }
  Program refused(Arguments({"--signing-key", keys + "/update-test-key.public.pem"}));
  ASSERT_TRUE(refused.spawned());
  EXPECT_EQ(refused.Wait(), 1);
  EXPECT_NE(refused.ReadErrors().find("update-test-key.public.pem is not an unencrypted PEM private key"),
            std::string::npos);
}

TEST_F(EndpointProgramTest, FaultFlagsReachTheServerAndSigintStopsAHang) {
  Program program(Arguments({"--fault", "version:status=500", "--fault=installer:hang", "--public-host",
                             "downloads.example.com:8080", "--drain-ms", "100"}));
  const int port = StartProgram(program);
  ASSERT_GT(port, 0);
  httplib::Client client("127.0.0.1", port);
  const auto reply = client.Get("/version.php?ISetupVer=02340000&&rnd=1");
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status, 500);
  // A hanging download must not keep the program from stopping: it is cut when the drain time is up.
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

namespace isetup::endpoint {
namespace {

using testing::ParseResponses;
using testing::RawConnection;
using testing::RawResult;

constexpr const char* kQuery = "?ISetupVer=02340000&affid=ABCD1234&affsid=EFGH5678&rnd=42";

std::string Text(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The program serving a release folder of its own.
class ReleaseFolderProgramTest : public EndpointProgramTest {
 protected:
  void SetUp() override {
    EndpointProgramTest::SetUp();
    Write("Setup-2.53.0.0.exe", installer_);
    Write("release.txt", Manifest("2.53.0.0", installer_));
  }
  static std::string Manifest(const std::string& version, const std::vector<std::uint8_t>& bytes) {
    return "version=" + version + "\nfile=Setup-" + version + ".exe\nsize=" + std::to_string(bytes.size()) + "\n";
  }
  void Write(const std::string& name, const std::vector<std::uint8_t>& bytes) { Write(name, Text(bytes)); }
  void Write(const std::string& name, const std::string& text) {
    std::ofstream(folder_ / name, std::ios::binary) << text;
  }
  std::vector<std::string> FolderArguments(std::vector<std::string> more) const {
    std::vector<std::string> arguments{"--port", "0", "--release-dir", folder_.string()};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return arguments;
  }
  static std::string Reply(httplib::Client& client) {
    const auto reply = client.Get((std::string("/version.php") + kQuery).c_str());
    return reply ? reply->body : "(no answer)";
  }
  static std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\r')); }

  const isetup::testing::ScratchFolder folder_{scratch_ / "releases"};
  const std::vector<std::uint8_t> next_ = testing::MakeInstaller(6000, 5000);
};

TEST_F(ReleaseFolderProgramTest, AnEditedManifestIsServedAndTheOldInstallerStaysDownloadable) {
  Program program(FolderArguments({"--poll-ms", "20", "--settle-ms", "0"}));
  const int port = StartProgram(program);
  ASSERT_GT(port, 0);
  EXPECT_NE(program.WaitForErrorLine("serving release 2.53.0.0 (Setup-2.53.0.0.exe, "), "");
  httplib::Client client("127.0.0.1", port);
  client.set_read_timeout(10, 0);
  EXPECT_EQ(FirstLine(Reply(client)), "ver=2.53.0.0");

  // Publishing: the installer first, then the one line of the manifest.
  Write("Setup-2.54.0.0.exe", next_);
  Write("release.txt", Manifest("2.54.0.0", next_));
  EXPECT_NE(program.WaitForErrorLine("now serving release 2.54.0.0 (Setup-2.54.0.0.exe, "), "");
  EXPECT_EQ(Reply(client), "ver=2.54.0.0\r\nsize=" + std::to_string(next_.size()) + "\r\nconsum=" +
                               std::to_string(ByteSumChecksum(next_)) + "\r\nurl=127.0.0.1:" + std::to_string(port) +
                               "/download/Setup-2.54.0.0.exe\r\n");
  const auto download = client.Get("/download/Setup-2.54.0.0.exe");
  ASSERT_TRUE(download);
  EXPECT_EQ(download->body, Text(next_));
  const auto old = client.Get("/download/Setup-2.53.0.0.exe");
  ASSERT_TRUE(old);
  EXPECT_EQ(old->body, Text(installer_));
  program.Signal(SIGTERM);
  EXPECT_EQ(program.Wait(), 0);
}

TEST_F(ReleaseFolderProgramTest, SighupReloadsWithoutPolling) {
  Program program(FolderArguments({"--poll-ms", "0", "--settle-ms", "0"}));
  const int port = StartProgram(program);
  ASSERT_GT(port, 0);
  Write("Setup-2.54.0.0.exe", next_);
  Write("release.txt", Manifest("2.54.0.0", next_));
  program.Signal(SIGHUP);
  EXPECT_NE(program.WaitForErrorLine("now serving release 2.54.0.0"), "");
  httplib::Client client("127.0.0.1", port);
  EXPECT_EQ(FirstLine(Reply(client)), "ver=2.54.0.0");
  // A SIGHUP is no stop, and a broken manifest keeps what is served.
  Write("release.txt", "version=2.55.0.0\n");
  program.Signal(SIGHUP);
  EXPECT_NE(program.WaitForErrorLine("no \"file=\" line; still serving 2.54.0.0"), "");
  EXPECT_EQ(FirstLine(Reply(client)), "ver=2.54.0.0");
  program.Signal(SIGTERM);
  EXPECT_EQ(program.Wait(), 0);
}

TEST_F(ReleaseFolderProgramTest, AnInstallerStillBeingWrittenIsNeverServed) {
  struct Case {
    const char* settleMs;
    const char* says;
  };
  // A settle time longer than the test keeps a fresh copy out; without one, a copy that stalls is
  // kept out by its declared size.
  for (const Case c : {Case{"600000", "waiting until both have rested"}, Case{"0", "has 3000 bytes"}}) {
    SCOPED_TRACE(c.settleMs);
    Write("release.txt", Manifest("2.53.0.0", installer_));
    std::filesystem::remove(folder_ / "Setup-2.54.0.0.exe");
    Program program(FolderArguments({"--poll-ms", "20", "--settle-ms", c.settleMs}));
    const int port = StartProgram(program);
    ASSERT_GT(port, 0);
    Write("Setup-2.54.0.0.exe", std::vector<std::uint8_t>(next_.begin(), next_.begin() + 3000));
    Write("release.txt", Manifest("2.54.0.0", next_));
    const std::string waiting = program.WaitForErrorLine(c.says);
    EXPECT_NE(waiting.find("still serving 2.53.0.0"), std::string::npos) << waiting;
    httplib::Client client("127.0.0.1", port);
    EXPECT_EQ(FirstLine(Reply(client)), "ver=2.53.0.0");
    const auto half = client.Get("/download/Setup-2.54.0.0.exe");
    ASSERT_TRUE(half);
    EXPECT_EQ(half->status, 404);
    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(), 0);
  }
}

TEST_F(ReleaseFolderProgramTest, AFolderWithoutAWholeReleaseStopsTheStart) {
  Write("release.txt", "version=2.54.0.0\nfile=Missing.exe\nsize=10\n");
  Program program(FolderArguments({}));
  ASSERT_TRUE(program.spawned());
  EXPECT_EQ(program.Wait(), 1);
  EXPECT_NE(program.ReadErrors().find("Missing.exe"), std::string::npos);
}

TEST_F(EndpointProgramTest, MalformedSlowAndExcessRequestsAreRefusedAndTheServerGoesOn) {
  Program program(Arguments({"--max-connections", "3", "--request-timeout-ms", "300"}));
  const int port = StartProgram(program);
  ASSERT_GT(port, 0);
  struct Case {
    std::string bytes;
    int status;
  };
  const Case cases[] = {
      // A refusal after a well-formed head keeps the connection open; these ask for its close.
      {"GET /version.php HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n", 400},  // no query
      {"GET /version.php?ISetupVer=ZZ&rnd=1 HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n", 400},
      {"GET /etc/passwd HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n", 404},
      {"GET /download/../release.txt HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n", 404},
      {"GET /version.php?ISetupVer=02340000&rnd=1 HTTP/1.1\r\n\r\n", 400},            // no Host
      {"PUT /version.php HTTP/1.1\r\nHost: a\r\nContent-Length: 1\r\n\r\nx", 405},
      {"GET / HTTP/3.0\r\nHost: a\r\n\r\n", 505},
      {"GET /" + std::string(10000, 'x') + " HTTP/1.1\r\nHost: a\r\n\r\n", 414},
      {"GET / HTTP/1.1\r\nHost: a\r\nCookie: " + std::string(20000, 'c') + "\r\n\r\n", 431},
      {"GET /version.php?ISetupVer=02340000&rnd=1 HTTP/1.1\r\nHost: a\r\n", 408},   // never finished
      {"\r\n\r\n\x7f\x45LF\r\n\r\n", 400},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes.substr(0, 60));
    RawConnection connection(port);
    ASSERT_TRUE(connection.Send(c.bytes));
    RawResult result;
    connection.ReadToEnd(result);
    ASSERT_FALSE(result.timedOut);
    const auto responses = ParseResponses(result.received);
    ASSERT_EQ(responses.size(), 1u) << result.received.substr(0, 100);
    EXPECT_EQ(responses[0].status, c.status);
    EXPECT_EQ(responses[0].body.rfind(std::to_string(c.status) + " ", 0), 0u) << responses[0].body;
  }
  {
    // Three silent connections hold every place; the fourth is turned away at once.
    RawConnection idle[3] = {RawConnection(port), RawConnection(port), RawConnection(port)};
    RawConnection excess(port);
    RawResult turnedAway;
    excess.ReadToEnd(turnedAway);
    EXPECT_EQ(turnedAway.received.rfind("HTTP/1.1 503", 0), 0u) << turnedAway.received;
    for (RawConnection& connection : idle) {
      RawResult result;
      connection.ReadToEnd(result);
      EXPECT_EQ(result.received.rfind("HTTP/1.1 408", 0), 0u) << result.received;
    }
  }
  httplib::Client client("127.0.0.1", port);
  client.set_read_timeout(10, 0);
  const auto reply = client.Get((std::string("/version.php") + kQuery).c_str());
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status, 200);
  EXPECT_EQ(reply->body.rfind("ver=2.53.0.0\r\n", 0), 0u);
  // Every refusal and the answer were logged, one line each, in the order they were answered.
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < std::size(cases) + 4 + 1; ++i) lines.push_back(program.ReadLine());
  EXPECT_TRUE(lines.back().ends_with(" 200 " + std::to_string(reply->body.size()))) << lines.back();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.find("\" 503 ") != std::string::npos; }), 1);
  program.Signal(SIGTERM);
  EXPECT_EQ(program.Wait(), 0);
}

}  // namespace
}  // namespace isetup::endpoint
