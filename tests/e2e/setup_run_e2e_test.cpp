// The real program under Wine, against the reference endpoint on a loopback address: the main roads in detail
// (requests, texts, window) and acting on the window; the faults are in the fault matrix.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "endpoint/endpoint_server.h"
#include "endpoint/request_recorder.h"
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/shown_texts.h"
#include "tests/e2e/wine_sandbox.h"

namespace isetup::e2e {
namespace {

namespace fs = std::filesystem;

const std::string kCaption = Utf8(CaptionPrefix) + " 2.52.0.0";

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// `expected` appear in this order among `texts` (others may stand between them).
::testing::AssertionResult InOrder(const std::vector<std::string>& texts, const std::vector<std::string>& expected) {
  auto at = texts.begin();
  for (const auto& text : expected) {
    at = std::find(at, texts.end(), text);
    if (at == texts.end()) {
      std::string seen;
      for (const auto& t : texts) seen += "\n  " + t;
      return ::testing::AssertionFailure() << "missing \"" << text << "\" in order; labels seen:" << seen;
    }
  }
  return ::testing::AssertionSuccess();
}

// The most taskbar entries of the program that the probe saw at any one time.
int MostTaskbarEntries(const RunResult& run) {
  int most = 0;
  for (const auto& event : run.probeEvents) {
    if (event.rfind("taskbar\t", 0) == 0) most = std::max(most, std::stoi(event.substr(8)));
  }
  return most;
}

endpoint::Release NextRelease() {
  return {"2.53.0.0", ReadBytes(Artifacts::NextInstaller()), ""};
}

TEST(Offline, WritesAndLaunchesTheEmbeddedInstallerWithoutEverShowingTheWindow) {
  WineSandbox sandbox(CurrentTestName());
  const auto payload = ReadBytes(Artifacts::EmbeddedPayload());
  {
    // A longer file from an earlier run must be replaced, not overwritten in part.
    std::ofstream stale(sandbox.TempFolder() / "TalvimorasterSetup.exe", std::ios::binary);
    std::vector<char> junk(payload.size() + 4096, 'x');
    stale.write(junk.data(), static_cast<std::streamsize>(junk.size()));
  }
  // What killed runs left: the hours-old one goes, the recent one (a run beside this one) stays.
  const fs::path leftover = sandbox.TempFolder() / "TalvimorasterSetup.exe.~0123456789abcdef.tmp";
  const fs::path recent = sandbox.TempFolder() / "TalvimorasterLastVer.txt.~00000000000000ff.tmp";
  std::ofstream(leftover) << "left";
  std::ofstream(recent) << "left";
  fs::last_write_time(leftover, fs::file_time_type::clock::now() - std::chrono::hours(3));
  const RunResult run = sandbox.Run({.online = false, .probeArgs = {}, .timeoutSeconds = 60});
  EXPECT_FALSE(run.EverVisible());
  // Not even a hidden window, so no taskbar entry either: the road that shows nothing makes none.
  EXPECT_TRUE(run.snapshots.empty()) << "the offline road made the setup window";
  EXPECT_FALSE(fs::exists(leftover));
  EXPECT_TRUE(fs::exists(recent));
  ASSERT_NO_FATAL_FAILURE(ExpectSingleLaunch(sandbox, run, "TalvimorasterSetup.exe", payload));
  EXPECT_EQ(run.launches[0].affid, "00000000");
  EXPECT_FALSE(fs::exists(sandbox.TempFolder() / "TalvimorasterLastVer.txt"));
  EXPECT_LT(run.seconds, 15.0);
}

class Online : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox_.emplace(CurrentTestName());
    server_.emplace(NextRelease(), "");
    server_->SetLogSink([](const std::string&) {});
    recorder_.emplace(*server_);
  }
  void StartEndpoint() {
    const int port = Artifacts::EndpointPort();
    ASSERT_EQ(server_->Start(LaneAddress(), port), port) << "the endpoint port is taken";
  }
  RunResult RunProgram(std::vector<std::string> probeArgs = {}, int timeoutSeconds = 60) {
    RunResult run = sandbox_->Run({.online = true, .probeArgs = std::move(probeArgs), .timeoutSeconds = timeoutSeconds});
    server_->Stop();
    EXPECT_TRUE(run.EverVisible()) << "the program ended with " << run.exitCode << " after " << run.seconds << " s";
    return run;
  }
  std::vector<std::uint8_t> Payload() const { return ReadBytes(Artifacts::EmbeddedPayload()); }

  std::optional<WineSandbox> sandbox_;
  std::optional<endpoint::testing::RequestRecorder> recorder_;
  std::optional<endpoint::Server> server_;
};

TEST_F(Online, NewerVersionIsDownloadedVerifiedAndLaunched) {
  StartEndpoint();
  const RunResult run = RunProgram();
  ASSERT_FALSE(run.snapshots.empty());
  const auto firstVisible = std::find_if(run.snapshots.begin(), run.snapshots.end(),
                                         [](const WindowSnapshot& s) { return s.visible; });
  ASSERT_NE(firstVisible, run.snapshots.end());
  EXPECT_EQ(firstVisible->caption, kCaption);  // never seen with an empty caption
  EXPECT_EQ(firstVisible->button, Utf8(L"Отменить"));
  EXPECT_TRUE(InOrder(run.Labels(), {Utf8(StatusSearching), Utf8(StatusDownloading) + " 2.53.0.0",
                                     Utf8(StatusCompleted)}));
  EXPECT_TRUE(Contains(run.Gauges(), Utf8(L"Загружено 0%")));
  ExpectSingleLaunch(*sandbox_, run, "TalvimorasterSetup.exe", ReadBytes(Artifacts::NextInstaller()));
  EXPECT_LT(run.seconds, 20.0);

  // Both requests carry the own version, the embedded tags and the same random number.
  const auto requests = recorder_->Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].path, "/version.php");
  EXPECT_EQ(requests[1].path, "/download/TalvimorasterSetup-2.53.0.0.exe");
  for (const auto& request : requests) {
    EXPECT_EQ(request.params.at("ISetupVer"), "02340000");
    EXPECT_EQ(request.params.at("affid"), "00000000");
    EXPECT_EQ(request.params.at("affsid"), "00000000");
  }
  EXPECT_EQ(requests[0].params.at("rnd"), requests[1].params.at("rnd"));
  EXPECT_EQ(requests[0].query, requests[1].query);
  EXPECT_TRUE(fs::exists(sandbox_->TempFolder() / "TalvimorasterLastVer.txt"));
}

// No endpoint: the failed version request leaves the previous reply file as it was.
TEST_F(Online, FailedVersionRequestKeepsThePreviousReplyFile) {
  const std::string previous = "ver=2.51.0.0\r\nsize=1\r\nconsum=1\r\nurl=x\r\n";
  std::ofstream(sandbox_->TempFolder() / "TalvimorasterLastVer.txt", std::ios::binary) << previous;
  const RunResult run = RunProgram();
  EXPECT_TRUE(InOrder(run.Labels(), {Utf8(StatusSearching), Utf8(StatusUndetermined)}));
  ExpectSingleLaunch(*sandbox_, run, "TalvimorasterSetup.exe", Payload());
  EXPECT_EQ(isetup::testing::ReadText(sandbox_->TempFolder() / "TalvimorasterLastVer.txt"), previous);
}

TEST_F(Online, SameVersionUsesTheEmbeddedInstallerWithoutDownloading) {
  endpoint::StageFault sameVersion;
  sameVersion.versionText = "2.52.0.0";
  server_->SetFault(endpoint::Stage::Version, sameVersion);
  StartEndpoint();
  const RunResult run = RunProgram();
  EXPECT_TRUE(InOrder(run.Labels(), {Utf8(StatusSearching), Utf8(StatusLatestInUse)}));
  ExpectSingleLaunch(*sandbox_, run, "TalvimorasterSetup.exe", Payload());
  EXPECT_EQ(recorder_->Requests().size(), 1u);
}

// Online, but the program's process has no display, so no window can be made (as when Wine's desktop
// fails to start under load): the run still ends with the embedded installer, launched once.
TEST_F(Online, NoWindowCanBeMadeAndTheEmbeddedInstallerIsLaunched) {
  StartEndpoint();
  const RunResult run = sandbox_->Run({.online = true, .probeArgs = {}, .timeoutSeconds = 60, .environment = {"DISPLAY="}});
  server_->Stop();
  EXPECT_FALSE(run.EverVisible());
  EXPECT_EQ(run.exitCode, 0);
  ExpectSingleLaunch(*sandbox_, run, "TalvimorasterSetup.exe", Payload());
  EXPECT_TRUE(recorder_->Requests().empty());
}

// 16 KiB every 50 ms: the 700 KB sample installer takes about two seconds, long enough to act on.
endpoint::StageFault SlowInstaller() {
  endpoint::StageFault fault;
  fault.throttleChunk = 16384;
  fault.throttleDelayMs = 50;
  return fault;
}

TEST_F(Online, CancelDuringAThrottledDownloadLaunchesTheEmbeddedInstaller) {
  server_->SetFault(endpoint::Stage::Installer, SlowInstaller());
  StartEndpoint();
  const RunResult run = RunProgram({"--action", "click", "--when", "gauge-mid"});
  ASSERT_TRUE(Contains(run.probeEvents, "acted\tclick")) << "the gauge never stood between 0% and 100%";
  EXPECT_TRUE(InOrder(run.Labels(), {Utf8(StatusDownloading) + " 2.53.0.0", Utf8(StatusCancelled)}));
  ExpectSingleLaunch(*sandbox_, run, "TalvimorasterSetup.exe", Payload());
  EXPECT_LT(run.seconds, 15.0);
}

TEST_F(Online, CloseRequestBeforeFinishedIsRefusedAndCountsAsCancel) {
  server_->SetFault(endpoint::Stage::Installer, SlowInstaller());
  StartEndpoint();
  const RunResult run = RunProgram({"--action", "close", "--when", "downloading"});
  ASSERT_TRUE(Contains(run.probeEvents, "acted\tclose"));
  // The window stays and shows the cancel.
  const bool cancelShown = std::any_of(run.snapshots.begin(), run.snapshots.end(), [](const WindowSnapshot& s) {
    return s.visible && s.label == Utf8(StatusCancelled);
  });
  EXPECT_TRUE(cancelShown);
  ExpectSingleLaunch(*sandbox_, run, "TalvimorasterSetup.exe", Payload());
}

// One taskbar entry on the online road; after a click elsewhere, activating it brings the setup window
// forward again.
TEST_F(Online, HasOneTaskbarEntryThatBringsTheWindowForward) {
  server_->SetFault(endpoint::Stage::Installer, SlowInstaller());
  StartEndpoint();
  const RunResult run = RunProgram({"--action", "activate-entry", "--when", "downloading"});
  ASSERT_TRUE(Contains(run.probeEvents, "acted\tactivate-entry"));
  EXPECT_EQ(MostTaskbarEntries(run), 1);
  EXPECT_TRUE(Contains(run.probeEvents, "foreground-before\tStatic"));
  EXPECT_TRUE(Contains(run.probeEvents, "foreground\tTInternetSetupForm"));
  ExpectSingleLaunch(*sandbox_, run, "TalvimorasterSetup.exe", ReadBytes(Artifacts::NextInstaller()));
}

}  // namespace
}  // namespace isetup::e2e
