// The real program under Wine, against the reference endpoint on 127.0.0.1: which installer is
// launched (exactly once), the bytes at SetupPath, what the window showed, and that the run ended in time.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/status_texts.h"
#include "endpoint/endpoint_server.h"
#include "tests/e2e/e2e_support.h"
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

endpoint::Release NextRelease() {
  return {"2.53.0.0", ReadBytes(Artifacts::NextInstaller()), ""};
}

TEST(Offline, WritesAndLaunchesTheEmbeddedInstallerWithoutEverShowingTheWindow) {
  WineSandbox sandbox(TestName());
  const auto payload = ReadBytes(Artifacts::EmbeddedPayload());
  {
    // A longer file from an earlier run must be replaced, not overwritten in part.
    std::ofstream stale(sandbox.TempFolder() / "TalvimorasterSetup.exe", std::ios::binary);
    std::vector<char> junk(payload.size() + 4096, 'x');
    stale.write(junk.data(), static_cast<std::streamsize>(junk.size()));
  }
  const RunResult run = sandbox.Run({.online = false, .probeArgs = {}, .timeoutSeconds = 60});
  EXPECT_FALSE(run.EverVisible());
  ExpectSingleLaunch(sandbox, run, "TalvimorasterSetup.exe", payload);
  EXPECT_EQ(run.launches[0].affid, "00000000");
  EXPECT_FALSE(fs::exists(sandbox.TempFolder() / "TalvimorasterLastVer.txt"));
  EXPECT_LT(run.seconds, 15.0);
}

class Online : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox_.emplace(TestName());
    server_.emplace(NextRelease(), "");
    server_->SetLogSink([](const std::string&) {});
  }
  void StartEndpoint() {
    const int port = Artifacts::EndpointPort();
    ASSERT_EQ(server_->Start("127.0.0.1", port), port) << "the endpoint port is taken";
  }
  RunResult RunProgram(std::vector<std::string> probeArgs = {}, int timeoutSeconds = 60) {
    RunResult run = sandbox_->Run({.online = true, .probeArgs = std::move(probeArgs), .timeoutSeconds = timeoutSeconds});
    server_->Stop();
    EXPECT_TRUE(run.EverVisible());
    return run;
  }
  std::vector<std::uint8_t> Payload() const { return ReadBytes(Artifacts::EmbeddedPayload()); }

  std::optional<WineSandbox> sandbox_;
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
  const auto requests = server_->Requests();
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

TEST_F(Online, SameVersionUsesTheEmbeddedInstallerWithoutDownloading) {
  endpoint::StageFault sameVersion;
  sameVersion.versionText = "2.52.0.0";
  server_->SetFault(endpoint::Stage::Version, sameVersion);
  StartEndpoint();
  const RunResult run = RunProgram();
  EXPECT_TRUE(InOrder(run.Labels(), {Utf8(StatusSearching), Utf8(StatusLatestInUse)}));
  ExpectSingleLaunch(*sandbox_, run, "TalvimorasterSetup.exe", Payload());
  EXPECT_EQ(server_->Requests().size(), 1u);
}

TEST_F(Online, RefusedVersionRequestFallsBackToTheEmbeddedInstaller) {
  // No endpoint listens.
  const RunResult run = RunProgram();
  EXPECT_TRUE(InOrder(run.Labels(), {Utf8(StatusSearching), Utf8(StatusUndetermined)}));
  ExpectSingleLaunch(*sandbox_, run, "TalvimorasterSetup.exe", Payload());
  EXPECT_LT(run.seconds, 15.0);
}

struct FaultCase {
  const char* name;
  endpoint::Stage stage;
  endpoint::StageFault fault;
  std::wstring_view status;
};

endpoint::StageFault Body(std::string body) {
  endpoint::StageFault fault;
  fault.body = std::move(body);
  return fault;
}
endpoint::StageFault Status(int status) {
  endpoint::StageFault fault;
  fault.status = status;
  return fault;
}
endpoint::StageFault Fault(void (*set)(endpoint::StageFault&)) {
  endpoint::StageFault fault;
  set(fault);
  return fault;
}

class OnlineFault : public Online, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(OnlineFault, FallsBackToTheEmbeddedInstaller) {
  server_->SetFault(GetParam().stage, GetParam().fault);
  StartEndpoint();
  const RunResult run = RunProgram();
  EXPECT_TRUE(Contains(run.Labels(), Utf8(GetParam().status)));
  ExpectSingleLaunch(*sandbox_, run, "TalvimorasterSetup.exe", Payload());
  EXPECT_LT(run.seconds, 20.0);
}

const std::string kGoodTail = "size=100\r\nconsum=5\r\nurl=127.0.0.1/x\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, OnlineFault,
    ::testing::Values(
        FaultCase{"VersionNotFound", endpoint::Stage::Version, Status(404), StatusUndetermined},
        FaultCase{"UpperCaseKey", endpoint::Stage::Version, Body("VER=2.53.0.0\r\n" + kGoodTail), StatusUndetermined},
        FaultCase{"ByteOrderMark", endpoint::Stage::Version, Body("\xEF\xBB\xBFver=2.53.0.0\r\n" + kGoodTail),
                  StatusUndetermined},
        FaultCase{"ThreeLines", endpoint::Stage::Version, Body("ver=2.53.0.0\r\nsize=100\r\nconsum=5\r\n"),
                  StatusUndetermined},
        FaultCase{"InstallerReset", endpoint::Stage::Installer,
                  Fault([](endpoint::StageFault& f) { f.resetAfter = 1000; }), StatusDownloadFailed},
        FaultCase{"WrongSize", endpoint::Stage::Version,
                  Fault([](endpoint::StageFault& f) { f.sizeDelta = 1; }), StatusDownloadFailed},
        FaultCase{"WrongChecksum", endpoint::Stage::Version,
                  Fault([](endpoint::StageFault& f) { f.checksumDelta = 1; }), StatusDownloadFailed}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

// 16 KiB every 50 ms: the 700 KB sample installer takes about two seconds, long enough to act on.
endpoint::StageFault SlowInstaller() {
  return Fault([](endpoint::StageFault& f) {
    f.throttleChunk = 16384;
    f.throttleDelayMs = 50;
  });
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

TEST_F(Online, HangingVersionRequestEndsThroughTheTimeOutAndTheSecondName) {
  endpoint::StageFault hang;
  hang.hang = true;
  server_->SetFault(endpoint::Stage::Version, hang);
  StartEndpoint();
  const RunResult run = RunProgram({}, 120);
  // Searching until the time-out, then the cancel text.
  EXPECT_TRUE(InOrder(run.Labels(), {Utf8(StatusSearching), Utf8(StatusCancelled)}));
  const auto cancelled = std::find_if(run.snapshots.begin(), run.snapshots.end(), [](const WindowSnapshot& s) {
    return s.label == Utf8(StatusCancelled);
  });
  ASSERT_NE(cancelled, run.snapshots.end());
  EXPECT_GE(cancelled->elapsedMs, 59000);
  ExpectSingleLaunch(*sandbox_, run, "TalvimorasterSetup2.exe", Payload());
  EXPECT_GE(run.seconds, 64.0);
  EXPECT_LT(run.seconds, 80.0);
}

}  // namespace
}  // namespace isetup::e2e
