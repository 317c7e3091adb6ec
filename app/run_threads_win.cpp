// The worker's and the monitor's actions bound to the platform: downloads, files, the synchronous
// call onto the window thread, and the gate that stops the worker.
#include "app/run_threads_win.h"

#include <windows.h>
#include <objbase.h>

#include <limits>
#include <memory>
#include <system_error>

#include "app/launch_guard_win.h"
#include "app/setup_form_win.h"
#include "run/thread_layer.h"
#include "app/program_endpoint.h"
#include "build_config.h"
#include "payload/blanked_sha256.h"
#include "payload/download_verification.h"
#include "payload/embedded_installer.h"
#include "update/download_worker.h"
#include "update/query_seed.h"
#include "update/signature_verifier.h"
#include "update/update_key.h"
#include "update/url_download.h"

namespace isetup {
namespace {

// One gate per run: the monitor's forced fall-back revokes it.
WorkerGate& TheWorkerGate() {
  static WorkerGate gate;
  return gate;
}

class WorkerServicesWin final : public WorkerServices {
 public:
  WorkerServicesWin(SetupRun& run, SyncCallQueue& sync, TInternetSetupForm& form)
      : run_(run), sync_(sync), form_(form) {}

  bool DownloadUrlToFile(const std::wstring& url, const std::wstring& path) override {
    // A reply too large to read whole is not read at all (a few lines are all it needs to say); an
    // installer must fit the 32-bit size it is compared with.
    const std::uint64_t largest = path == run_.VersionInfoPath ? kLargestReplyBytes : kLargestInstallerBytes;
    fetched_ = DownloadUrlBeside(url, path, largest,
                                 {&run_.DownloadPercent, &run_.State.CancelRequested, &TheWorkerGate()});
    return fetched_.valid();
  }
  bool PlaceDownload(const std::wstring& path) override {
    placed_ = fetched_.MoveOver(path);
    return placed_.valid();
  }
  VersionReply ReadVersionReply(const std::wstring& path) override { return isetup::ReadVersionReply(path); }
  std::int32_t QueryFileSize(const std::wstring& path) override { return isetup::QueryFileSize(path); }
  std::int32_t ComputeDownloadChecksum(const std::wstring& path) override {
    return isetup::ComputeDownloadChecksum(path);
  }
  bool HoldVerifiedInstaller(const std::wstring& path, std::int32_t size, std::int32_t checksum,
                             const std::optional<Sha256Digest>& digest) override {
    const bool held = HoldDownloadedInstallerForLaunch(path, size, checksum, digest);
    placed_.reset();  // the hold (or the fall-back's write) takes over from here
    return held;
  }
  bool VerifyReplySignature(const UpdateKey& key, std::string_view message,
                            const ReplySignature& signature) override {
    return isetup::VerifyReplySignature(key, message, signature);
  }
  std::optional<Sha256Digest> ComputeDownloadSha256(const std::wstring& path) override {
    return isetup::ComputeDownloadSha256(path);
  }
  bool WriteEmbeddedInstaller(const std::wstring& path) override {
    placed_.reset();  // a download kept at `path` would block its replacement
    return WriteEmbeddedInstallerForLaunch(path);
  }
  void CloseSetupWindow() override {
    sync_.Call([this] { form_.CloseSetupWindow(); });
  }
  void Sleep(int milliseconds) override { SleepMilliseconds(milliseconds); }
  std::uint32_t QuerySeed() override { return QuerySeedFromClock(); }

 private:
  static constexpr std::uint64_t kLargestReplyBytes = 16 * 1024 * 1024;
  static constexpr std::uint64_t kLargestInstallerBytes = std::numeric_limits<std::int32_t>::max();

  SetupRun& run_;
  SyncCallQueue& sync_;
  TInternetSetupForm& form_;
  FreshFile fetched_;   // the last transfer's file, until it is moved over its name
  FileHandle placed_;   // keeps the name of the file last moved in place
};

class MonitorActionsWin final : public MonitorActions {
 public:
  MonitorActionsWin(SetupRun& run, SyncCallQueue& sync, TInternetSetupForm& form)
      : run_(run), sync_(sync), form_(form) {}

  void RefreshStatusView() override {
    sync_.Call([this] { isetup::RefreshStatusView(run_, form_); });
  }
  void StopWorker() override { TheWorkerGate().Revoke(); }
  bool WriteEmbeddedInstaller(const std::wstring& path) override { return WriteEmbeddedInstallerForLaunch(path); }
  void CloseSetupWindow() override {
    sync_.Call([this] { form_.CloseSetupWindow(); });
  }
  void Sleep(int milliseconds) override { SleepMilliseconds(milliseconds); }

 private:
  SetupRun& run_;
  SyncCallQueue& sync_;
  TInternetSetupForm& form_;
};

// The thread objects are never freed: they live until the process ends.
template <typename Body>
bool StartThread(Body body) {
  try {
    new BackgroundThread(std::move(body));
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

}  // namespace

bool StartDownloadThread(SetupRun& run, SyncCallQueue& sync, TInternetSetupForm& form) {
  return StartThread([&run, &sync, &form] {
    // The URL moniker machinery wants COM on its thread.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    WorkerServicesWin services(run, sync, form);
    const WorkerSettings settings{std::wstring(L"http://") + ProgramEndpointHost() + L"/version.php",
                                  INTERNETSETUP_PAYLOAD_VERSION_PACKED, BuiltInUpdateKey()};
    RunDownloadWorker(run, TheWorkerGate(), services, settings);
    if (SUCCEEDED(com)) CoUninitialize();
  });
}

bool StartStatusThread(SetupRun& run, SyncCallQueue& sync, TInternetSetupForm& form) {
  return StartThread([&run, &sync, &form] {
    MonitorActionsWin actions(run, sync, form);
    RunStatusMonitor(run, actions);
  });
}

}  // namespace isetup
