// A copy of InternetSetup.exe stamped by installer-tags, run under Wine: online its requests carry the
// new tags (and so does the installer it downloads), offline the embedded installer it launches does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "endpoint/endpoint_server.h"
#include "endpoint/request_recorder.h"
#include "tests/e2e/wine_sandbox.h"

namespace isetup::e2e {
namespace {

namespace fs = std::filesystem;

constexpr const char* kAffid = "Dist0001";
constexpr const char* kAffsid = "Web-_002";

std::string Quoted(const std::string& arg) { return "'" + arg + "'"; }

// The payload with its two tag values replaced, as the stamped program must write it out.
std::vector<std::uint8_t> StampedPayload() {
  std::vector<std::uint8_t> bytes = ReadBytes(Artifacts::EmbeddedPayload());
  for (const auto& [marker, value] : {std::pair<std::string, std::string>{"affid=", kAffid}, std::pair<std::string, std::string>{"affsid=", kAffsid}}) {
    const auto at = std::search(bytes.begin(), bytes.end(), marker.begin(), marker.end());
    EXPECT_NE(at, bytes.end()) << marker;
    if (at != bytes.end()) std::copy(value.begin(), value.end(), at + static_cast<std::ptrdiff_t>(marker.size()));
  }
  return bytes;
}

class Stamped : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox_.emplace(CurrentTestName());
    // C:\Distribution inside the prefix: the user folders such as Downloads are links out of it.
    program_ = sandbox_->TempFolder().parent_path().parent_path().parent_path() / "Distribution" / "InternetSetup.exe";
    fs::create_directories(program_.parent_path());
    fs::copy_file(Artifacts::LaneProgram(Lane()), program_);
    const std::string command = Quoted(INSTALLER_TAGS_PROGRAM) + " stamp " + Quoted(program_.string()) +
                                " --affid " + kAffid + " --affsid " + kAffsid + " >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }

  void ExpectLaunchedWithTheStampedTags(const RunResult& run, const std::vector<std::uint8_t>& installer) {
    ASSERT_EQ(run.launches.size(), 1u);
    EXPECT_EQ(run.launches[0].path, sandbox_->TempFolderWindows() + "TalvimorasterSetup.exe");
    EXPECT_EQ(run.launches[0].affid, kAffid);
    EXPECT_EQ(run.launches[0].affsid, kAffsid);
    EXPECT_TRUE(ReadBytes(sandbox_->TempFolder() / "TalvimorasterSetup.exe") == installer);
    EXPECT_EQ(run.exitCode, 0);
  }

  std::optional<WineSandbox> sandbox_;
  fs::path program_;
};

TEST_F(Stamped, OfflineLaunchesTheEmbeddedInstallerWithTheStampedTags) {
  const RunResult run = sandbox_->Run({.online = false, .probeArgs = {}, .timeoutSeconds = 60, .program = program_});
  EXPECT_FALSE(run.EverVisible());
  ExpectLaunchedWithTheStampedTags(run, StampedPayload());
}

TEST_F(Stamped, OnlineSendsTheStampedTagsAndGetsAStampedInstaller) {
  endpoint::Server server({"2.53.0.0", ReadBytes(Artifacts::NextInstaller()), ""}, "");
  server.SetLogSink([](const std::string&) {});
  endpoint::testing::RequestRecorder recorder(server);
  const int port = Artifacts::EndpointPort();
  ASSERT_EQ(server.Start(LaneAddress(), port), port) << "the endpoint port is taken";
  const RunResult run = sandbox_->Run({.online = true, .probeArgs = {}, .timeoutSeconds = 60, .program = program_});
  server.Stop();
  EXPECT_TRUE(run.EverVisible());

  const auto requests = recorder.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].path, "/version.php");
  for (const auto& request : requests) {
    EXPECT_EQ(request.params.at("ISetupVer"), "02340000");
    EXPECT_EQ(request.params.at("affid"), kAffid);
    EXPECT_EQ(request.params.at("affsid"), kAffsid);
  }
  // The endpoint stamps the download with the request's tags; the launched installer reports them.
  ASSERT_EQ(run.launches.size(), 1u);
  EXPECT_EQ(run.launches[0].affid, kAffid);
  EXPECT_EQ(run.launches[0].affsid, kAffsid);
  EXPECT_EQ(run.launches[0].size, static_cast<long long>(ReadBytes(Artifacts::NextInstaller()).size()));
}

}  // namespace
}  // namespace isetup::e2e
