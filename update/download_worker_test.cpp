// The worker's roads: each outcome's status texts, which file ends at SetupPath, the order of the
// end of the run, and a stop by the monitor that leaves nothing visible behind.
#include "update/download_worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "run/status_texts.h"
#include "run/thread_layer.h"
#include "base/io_error.h"
#include "update/version_query.h"

namespace isetup {
namespace {

const std::wstring kEndpoint = L"http://127.0.0.1:1/version.php";
const std::wstring kSetupPath = L"C:\\Temp\\TalvimorasterSetup.exe";
const std::wstring kInfoPath = L"C:\\Temp\\TalvimorasterLastVer.txt";
constexpr std::uint32_t kSeed = 12345;
constexpr std::int32_t kSize = 14178100;
constexpr std::int32_t kChecksum = -123456;
const UpdateKey kKey = [] {
  UpdateKey key{};
  key[0] = 0x42;
  return key;
}();
const Sha256Digest kDigest{0xD1, 0x6E, 0x57};
const ReplySignature kSignature{0x51, 0x6E};

// The rnd that the worker sends with kSeed.
std::string RunRnd() {
  std::uint32_t seed = kSeed;
  return std::to_string(DrawQueryRandom(seed));
}

class FakeServices : public WorkerServices {
 public:
  explicit FakeServices(SetupRun& run) : run_(run) {}

  bool DownloadUrlToFile(const std::wstring& url, const std::wstring& path) override {
    Note("download " + Name(path));
    urls.push_back(url);
    if (onDownload) onDownload(path);
    if (onOutsideTheGate) onOutsideTheGate();
    return path == kInfoPath ? versionRequestOk : installerRequestOk;
  }
  bool PlaceDownload(const std::wstring& path) override {
    Note("place " + Name(path));
    return std::find(unplaceable.begin(), unplaceable.end(), path) == unplaceable.end();
  }
  VersionReply ReadVersionReply(const std::wstring& path) override {
    EXPECT_EQ(path, kInfoPath);
    Note("read reply");
    if (replyThrows) throw IoError(2, "gone");
    return reply;
  }
  std::int32_t QueryFileSize(const std::wstring& path) override {
    EXPECT_EQ(path, kSetupPath);
    Note("size");
    return size;
  }
  std::int32_t ComputeDownloadChecksum(const std::wstring& path) override {
    EXPECT_EQ(path, kSetupPath);
    Note("checksum");
    return checksum;
  }
  bool HoldVerifiedInstaller(const std::wstring& path, std::int32_t heldSize, std::int32_t heldChecksum,
                             const std::optional<Sha256Digest>& digest) override {
    EXPECT_EQ(path, kSetupPath);
    EXPECT_EQ(heldSize, reply.Size);
    EXPECT_EQ(heldChecksum, reply.Checksum);
    // With a key the hold checks the signed digest again; without one there is none to check.
    if (digest) {
      EXPECT_EQ(digest, reply.Authentication.sha256);
    }
    Note(digest ? "hold signed" : "hold");
    return holdOk;
  }
  // A signature is good only by kKey, as kSignature, over lines 1..5 followed by `signedRnd`.
  bool VerifyReplySignature(const UpdateKey& key, std::string_view message, const ReplySignature& signature) override {
    Note("verify");
    return key == kKey && signature == kSignature &&
           message == SignedReplyMessage(reply.Authentication.signedLines, signedRnd);
  }
  std::optional<Sha256Digest> ComputeDownloadSha256(const std::wstring& path) override {
    EXPECT_EQ(path, kSetupPath);
    Note("sha256");
    return sha256;
  }
  bool WriteEmbeddedInstaller(const std::wstring& path) override {
    const std::string where = path == kSetupPath ? "" : " at " + Narrow(path);
    Note("write embedded" + where + ", finished=" + (run_.State.Finished ? "yes" : "no"));
    return std::find(unwritable.begin(), unwritable.end(), path) == unwritable.end();
  }
  void CloseSetupWindow() override {
    Note(std::string("close, finished=") + (run_.State.Finished ? "yes" : "no"));
  }
  void Sleep(int milliseconds) override {
    EXPECT_EQ(milliseconds, 1000);
    Note("sleep");
    if (onOutsideTheGate) onOutsideTheGate();
  }
  std::uint32_t QuerySeed() override { return kSeed; }

  // Every event, and every status text that was visible at some event.
  void Note(const std::string& event) {
    events.push_back(event);
    const std::wstring status = run_.StatusText.Get();
    if (statuses.empty() || statuses.back() != status) statuses.push_back(status);
  }
  static std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }
  static std::string Name(const std::wstring& path) {
    return Narrow(path == kSetupPath ? L"setup" : path == kInfoPath ? L"info" : path);
  }

  bool versionRequestOk = true;
  bool installerRequestOk = true;
  bool replyThrows = false;
  bool holdOk = true;
  VersionReply reply;
  std::int32_t size = kSize;
  std::int32_t checksum = kChecksum;
  std::optional<Sha256Digest> sha256 = kDigest;
  std::string signedRnd = RunRnd();
  std::vector<std::wstring> unwritable;  // names whose write fails (held by a running installer)
  std::vector<std::wstring> unplaceable;  // names a fetched file cannot be moved over
  std::function<void(const std::wstring&)> onDownload;
  std::function<void()> onOutsideTheGate;  // at the end of each transfer and pause
  std::vector<std::string> events;
  std::vector<std::wstring> statuses;
  std::vector<std::wstring> urls;

 private:
  SetupRun& run_;
};

VersionReply Reply(const std::wstring& version) {
  VersionReply reply;
  reply.VersionText = version;
  reply.Version = ParsePackedVersion(version);
  reply.Size = kSize;
  reply.Checksum = kChecksum;
  reply.Url = L"downloads.example/TalvimorasterSetup.exe";
  return reply;
}

VersionReply SignedReply(const std::wstring& version) {
  VersionReply reply = Reply(version);
  reply.Authentication.signedLines = "ver=...\r\nsize=...\r\nconsum=...\r\nurl=...\r\nsha256=...\r\n";
  reply.Authentication.sha256 = kDigest;
  reply.Authentication.signature = kSignature;
  return reply;
}

struct Road {
  const char* name;
  std::function<void(FakeServices&)> arrange;
  std::vector<std::string> events;
  std::vector<std::wstring> statuses;  // after the initial searching text
  bool keyed = false;                  // built with kKey, the reply signed unless arranged otherwise
};

const std::wstring kDownloading253 = std::wstring(StatusDownloading) + L" 2.53.0.0";

class DownloadWorkerRoads : public ::testing::TestWithParam<Road> {};

TEST_P(DownloadWorkerRoads, StatusTextsFilesAndTheEndOfTheRun) {
  const Road& road = GetParam();
  SetupRun run;
  run.SetupPath.Set(kSetupPath);
  run.VersionInfoPath = kInfoPath;
  run.OwnVersionText = L"2.52.0.0";
  run.AffiliateQuery = L"affid=00000000&affsid=00000000";
  run.StatusText.Set(std::wstring(StatusSearching));
  FakeServices services(run);
  services.reply = road.keyed ? SignedReply(L"2.53.0.0") : Reply(L"2.53.0.0");
  road.arrange(services);
  WorkerGate gate;
  RunDownloadWorker(run, gate, services,
                    {kEndpoint, 0x02340000, road.keyed ? std::optional(kKey) : std::nullopt});

  EXPECT_EQ(services.events, road.events);
  std::vector<std::wstring> expectedStatuses{std::wstring(StatusSearching)};
  expectedStatuses.insert(expectedStatuses.end(), road.statuses.begin(), road.statuses.end());
  EXPECT_EQ(services.statuses, expectedStatuses);
  EXPECT_TRUE(run.State.Finished);
  EXPECT_FALSE(run.State.CancelRequested);  // the worker never raises a cancel itself

  // Both requests carry the same query.
  std::uint32_t seed = kSeed;
  const std::wstring query = L"?ISetupVer=02340000&affid=00000000&affsid=00000000&rnd=" +
                             std::to_wstring(DrawQueryRandom(seed));
  ASSERT_FALSE(services.urls.empty());
  EXPECT_EQ(services.urls[0], kEndpoint + query);
  if (services.urls.size() > 1) {
    EXPECT_EQ(services.urls[1], L"http://" + services.reply.Url + query);
  }
}

const std::vector<std::string> kFallBackEnd{"sleep", "write embedded, finished=no", "close, finished=yes"};

std::vector<std::string> Events(std::vector<std::string> head, bool verified = false) {
  if (verified) {
    head.insert(head.end(), {"sleep", "close, finished=yes"});
  } else {
    head.insert(head.end(), kFallBackEnd.begin(), kFallBackEnd.end());
  }
  return head;
}

INSTANTIATE_TEST_SUITE_P(
    Roads, DownloadWorkerRoads,
    ::testing::Values(
        Road{"Verified", [](FakeServices&) {},
             Events({"sleep", "download info", "place info", "read reply", "download setup", "place setup", "sleep", "size", "checksum", "hold"},
                    true),
             {kDownloading253, std::wstring(StatusCompleted)}},
        Road{"VersionRequestFails", [](FakeServices& s) { s.versionRequestOk = false; },
             Events({"sleep", "download info"}), {std::wstring(StatusUndetermined)}},
        Road{"ReplyUnusable", [](FakeServices& s) { s.reply.Usable = false; },
             Events({"sleep", "download info", "place info", "read reply"}), {std::wstring(StatusUndetermined)}},
        Road{"SameVersion", [](FakeServices& s) { s.reply = Reply(L"2.52.0.0"); },
             Events({"sleep", "download info", "place info", "read reply"}), {std::wstring(StatusLatestInUse)}},
        Road{"OlderVersion", [](FakeServices& s) { s.reply = Reply(L"2.51.255.255"); },
             Events({"sleep", "download info", "place info", "read reply"}), {std::wstring(StatusLatestInUse)}},
        Road{"HugeVersionIsNewerUnsigned", [](FakeServices& s) { s.reply = Reply(L"200.0.0.0"); },
             Events({"sleep", "download info", "place info", "read reply", "download setup", "place setup", "sleep", "size", "checksum", "hold"},
                    true),
             {std::wstring(StatusDownloading) + L" 200.0.0.0", std::wstring(StatusCompleted)}},
        Road{"InstallerRequestFails", [](FakeServices& s) { s.installerRequestOk = false; },
             Events({"sleep", "download info", "place info", "read reply", "download setup"}),
             {kDownloading253, std::wstring(StatusDownloadFailed)}},
        // The previous reply stays; the fetched one is never read.
        Road{"ReplyCannotBeMovedInPlace", [](FakeServices& s) { s.unplaceable = {kInfoPath}; },
             Events({"sleep", "download info", "place info"}), {std::wstring(StatusUndetermined)}},
        Road{"InstallerCannotBeMovedInPlace", [](FakeServices& s) { s.unplaceable = {kSetupPath}; },
             Events({"sleep", "download info", "place info", "read reply", "download setup", "place setup"}),
             {kDownloading253, std::wstring(StatusDownloadFailed)}},
        Road{"WrongSizeSkipsTheChecksum", [](FakeServices& s) { s.size = kSize - 1; },
             Events({"sleep", "download info", "place info", "read reply", "download setup", "place setup", "sleep", "size"}),
             {kDownloading253, std::wstring(StatusDownloadFailed)}},
        Road{"WrongChecksum", [](FakeServices& s) { s.checksum = kChecksum + 1; },
             Events({"sleep", "download info", "place info", "read reply", "download setup", "place setup", "sleep", "size", "checksum"}),
             {kDownloading253, std::wstring(StatusDownloadFailed)}},
        // Changed between the checks and the hold: the embedded installer replaces it.
        Road{"ChangedBeforeItCouldBeHeld", [](FakeServices& s) { s.holdOk = false; },
             Events({"sleep", "download info", "place info", "read reply", "download setup", "place setup", "sleep", "size", "checksum", "hold"}),
             {kDownloading253, std::wstring(StatusDownloadFailed)}},
        Road{"SignedIsVerified", [](FakeServices&) {},
             Events({"sleep", "download info", "place info", "read reply", "verify", "download setup", "place setup", "sleep", "size", "checksum",
                     "sha256", "hold signed"}, true),
             {kDownloading253, std::wstring(StatusCompleted)}, true},
        Road{"SignedSameVersion", [](FakeServices& s) { s.reply = SignedReply(L"2.52.0.0"); },
             Events({"sleep", "download info", "place info", "read reply", "verify"}), {std::wstring(StatusLatestInUse)}, true},
        Road{"SignatureByAnotherKeyOrBroken", [](FakeServices& s) { s.reply.Authentication.signature->at(0) ^= 1; },
             Events({"sleep", "download info", "place info", "read reply", "verify"}), {std::wstring(StatusUndetermined)}, true},
        Road{"SignedForAnotherRnd", [](FakeServices& s) { s.signedRnd = "1" + RunRnd(); },
             Events({"sleep", "download info", "place info", "read reply", "verify"}), {std::wstring(StatusUndetermined)}, true},
        Road{"UnsignedReply", [](FakeServices& s) { s.reply = Reply(L"2.53.0.0"); },
             Events({"sleep", "download info", "place info", "read reply"}), {std::wstring(StatusUndetermined)}, true},
        Road{"SameSizeAndChecksumOtherDigest", [](FakeServices& s) { s.sha256->at(31) ^= 1; },
             Events({"sleep", "download info", "place info", "read reply", "verify", "download setup", "place setup", "sleep", "size", "checksum",
                     "sha256"}),
             {kDownloading253, std::wstring(StatusDownloadFailed)}, true},
        Road{"DownloadCannotBeHashed", [](FakeServices& s) { s.sha256.reset(); },
             Events({"sleep", "download info", "place info", "read reply", "verify", "download setup", "place setup", "sleep", "size", "checksum",
                     "sha256"}),
             {kDownloading253, std::wstring(StatusDownloadFailed)}, true}),
    [](const ::testing::TestParamInfo<Road>& info) { return std::string(info.param.name); });

// A cancel that comes once the installer's transfer has ended gives up nothing: the
// worker does not read the flag, so the verified download is kept.
TEST(DownloadWorker, CancelAfterTheTransferEndedKeepsTheVerifiedDownload) {
  SetupRun run;
  run.SetupPath.Set(kSetupPath);
  run.VersionInfoPath = kInfoPath;
  run.OwnVersionText = L"2.52.0.0";
  FakeServices services(run);
  services.reply = Reply(L"2.53.0.0");
  services.onDownload = [&run](const std::wstring& path) {
    if (path == kSetupPath) run.State.CancelRequested = true;
  };
  WorkerGate gate;
  RunDownloadWorker(run, gate, services, {kEndpoint, 0x02340000, std::nullopt});
  EXPECT_EQ(services.events,
            Events({"sleep", "download info", "place info", "read reply", "download setup", "place setup", "sleep", "size", "checksum", "hold"},
                   true));
  EXPECT_EQ(run.StatusText.Get(), StatusCompleted);
  EXPECT_EQ(run.SetupPath.Get(), kSetupPath);
}

// A SetupPath that cannot be replaced (an earlier installer still runs from it) moves the run to the
// second name before Finished; when neither can be written, SetupPath stays and nothing is held.
TEST(DownloadWorker, EmbeddedInstallerGoesToTheSecondNameWhenSetupPathCannotBeReplaced) {
  const std::wstring second = L"C:\\Temp\\TalvimorasterSetup2.exe";
  struct Case {
    std::vector<std::wstring> unwritable;
    std::wstring endPath;
    std::vector<std::string> writes;
  };
  for (const Case& c : {Case{{kSetupPath}, second, {"write embedded, finished=no",
                                                     "write embedded at C:\\Temp\\TalvimorasterSetup2.exe, finished=no"}},
                        Case{{kSetupPath, second}, kSetupPath, {"write embedded, finished=no",
                                                                 "write embedded at C:\\Temp\\TalvimorasterSetup2.exe, finished=no"}},
                        Case{{}, kSetupPath, {"write embedded, finished=no"}}}) {
    SetupRun run;
    run.SetupPath.Set(kSetupPath);
    run.VersionInfoPath = kInfoPath;
    FakeServices services(run);
    services.versionRequestOk = false;
    services.unwritable = c.unwritable;
    WorkerGate gate;
    RunDownloadWorker(run, gate, services, {kEndpoint, 0x02340000, std::nullopt});
    std::vector<std::string> writes;
    std::copy_if(services.events.begin(), services.events.end(), std::back_inserter(writes),
                 [](const std::string& e) { return e.rfind("write", 0) == 0; });
    EXPECT_EQ(writes, c.writes);
    EXPECT_EQ(run.SetupPath.Get(), c.endPath);
    EXPECT_EQ(services.events.back(), "close, finished=yes");
  }
}

TEST(DownloadWorker, UnreadableReplyEndsTheThreadWithoutFinishingTheRun) {
  SetupRun run;
  run.SetupPath.Set(kSetupPath);
  run.VersionInfoPath = kInfoPath;
  FakeServices services(run);
  services.replyThrows = true;
  WorkerGate gate;
  EXPECT_THROW(RunDownloadWorker(run, gate, services, {kEndpoint, 0x02340000, std::nullopt}), IoError);
  EXPECT_FALSE(run.State.Finished);
  EXPECT_EQ(services.events, (std::vector<std::string>{"sleep", "download info", "place info", "read reply"}));
}

TEST(DownloadWorker, StoppedDuringTheDownloadDoesNothingVisibleAfterwards) {
  SetupRun run;
  run.SetupPath.Set(kSetupPath);
  run.VersionInfoPath = kInfoPath;
  FakeServices services(run);
  services.reply = Reply(L"2.53.0.0");
  services.installerRequestOk = false;  // the transfer returns, late, as failed
  WorkerGate gate;
  services.onDownload = [&](const std::wstring& path) {
    if (path == kSetupPath) gate.Revoke();
  };
  RunDownloadWorker(run, gate, services, {kEndpoint, 0x02340000, std::nullopt});
  EXPECT_EQ(services.events, (std::vector<std::string>{"sleep", "download info", "place info", "read reply", "download setup"}));
  EXPECT_EQ(run.StatusText.Get(), kDownloading253);  // not replaced by the failure text
  EXPECT_FALSE(run.State.Finished);
}

// The monitor's stop can land whenever the worker is outside its gate (in a transfer or a pause). From
// then on nothing of the worker's touches a file, the hold or the run state: a transfer that still
// completes is neither moved in place nor verified nor held over the monitor's own installer.
TEST(DownloadWorker, AStopAtAnyTransferOrPauseLeavesNothingVisibleAfterIt) {
  // The verified road passes five such points: pause, reply transfer, installer transfer, two pauses.
  for (const bool keyed : {false, true}) {
    for (int stopAt = 1; stopAt <= 5; ++stopAt) {
      SCOPED_TRACE(testing::Message() << "stop at point " << stopAt << (keyed ? ", signed" : ""));
      SetupRun run;
      run.SetupPath.Set(kSetupPath);
      run.VersionInfoPath = kInfoPath;
      run.StatusText.Set(L"before");
      FakeServices services(run);
      services.reply = keyed ? SignedReply(L"2.53.0.0") : Reply(L"2.53.0.0");
      WorkerGate gate;
      int points = 0;
      std::size_t eventsAtStop = 0;
      std::wstring statusAtStop;
      services.onOutsideTheGate = [&] {
        if (++points != stopAt) return;
        gate.Revoke();
        eventsAtStop = services.events.size();
        statusAtStop = run.StatusText.Get();
      };
      RunDownloadWorker(run, gate, services, {kEndpoint, 0x02340000, keyed ? std::optional(kKey) : std::nullopt});
      ASSERT_TRUE(gate.Revoked());
      // Only a transfer into a fresh file of its own may still start; nothing is placed, read or held.
      for (std::size_t i = eventsAtStop; i < services.events.size(); ++i) {
        EXPECT_EQ(services.events[i].rfind("download ", 0), 0u) << services.events[i];
      }
      EXPECT_EQ(run.StatusText.Get(), statusAtStop);
      EXPECT_FALSE(run.State.Finished);
      EXPECT_EQ(run.SetupPath.Get(), kSetupPath);
    }
  }
}

// The worker on a thread of its own, as the program runs it: the close goes through the synchronous call
// onto the window thread, while another thread reads the status as the monitor does. Under the tsan
// preset this shows that the shared values and the call hand over without races.
TEST(DownloadWorker, OnItsOwnThreadClosesThroughTheWindowThread) {
  SetupRun run;
  run.SetupPath.Set(kSetupPath);
  run.VersionInfoPath = kInfoPath;
  run.OwnVersionText = L"2.52.0.0";
  run.StatusText.Set(std::wstring(StatusSearching));

  std::mutex wakeMutex;
  std::condition_variable woken;
  bool wakePending = false;
  SyncCallQueue windowCalls([&] {
    std::lock_guard lock(wakeMutex);
    wakePending = true;
    woken.notify_all();
  });
  const std::thread::id windowThread = std::this_thread::get_id();

  class ThreadedServices : public FakeServices {
   public:
    ThreadedServices(SetupRun& run, SyncCallQueue& calls) : FakeServices(run), calls_(calls) {}
    void CloseSetupWindow() override {
      calls_.Call([&] {
        closedOn = std::this_thread::get_id();
        FakeServices::CloseSetupWindow();
      });
    }
    std::thread::id closedOn;

   private:
    SyncCallQueue& calls_;
  } services(run, windowCalls);
  services.reply = Reply(L"2.53.0.0");
  WorkerGate gate;

  // The worker's thread is never joined, so it owns the promise it sets.
  auto workerDone = std::make_shared<std::promise<void>>();
  std::future<void> workerFinished = workerDone->get_future();
  BackgroundThread worker([&, workerDone] {
    RunDownloadWorker(run, gate, services, {kEndpoint, 0x02340000, std::nullopt});
    workerDone->set_value();
  });
  auto monitor = std::async(std::launch::async, [&] {
    // Every status read is one the worker set as a whole.
    const std::vector<std::wstring> known{std::wstring(StatusSearching), kDownloading253, std::wstring(StatusCompleted)};
    for (int pass = 0; pass < 2000; ++pass) {
      const std::wstring status = run.StatusText.Get();
      if (std::find(known.begin(), known.end(), status) == known.end()) return false;
      (void)run.DownloadPercent.load();
      (void)run.State.Finished.load();
    }
    return true;
  });

  {  // The window thread: sleeps until woken, then runs what was queued.
    std::unique_lock lock(wakeMutex);
    woken.wait(lock, [&] { return wakePending; });
  }
  windowCalls.RunPending();
  workerFinished.wait();
  EXPECT_TRUE(monitor.get());

  EXPECT_EQ(services.closedOn, windowThread);
  EXPECT_TRUE(run.State.Finished);
  EXPECT_EQ(run.StatusText.Get(), StatusCompleted);
  ASSERT_FALSE(services.events.empty());
  EXPECT_EQ(services.events.back(), "close, finished=yes");
  EXPECT_FALSE(worker.Error());
}

}  // namespace
}  // namespace isetup
