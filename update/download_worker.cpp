// The download worker's steps, from the first pause to the close request.
#include "update/download_worker.h"

#include "run/status_texts.h"
#include "payload/temp_paths.h"
#include "update/version_query.h"

namespace isetup {
namespace {

// Thrown when the worker has been stopped; ends the body quietly.
struct WorkerStopped {};

class Worker {
 public:
  Worker(SetupRun& run, WorkerGate& gate, WorkerServices& services)
      : run_(run), gate_(gate), services_(services) {}

  template <typename Action>
  void Act(Action&& action) {
    if (!gate_.Act(std::forward<Action>(action))) throw WorkerStopped{};
  }
  void SetStatus(std::wstring text) {
    Act([&] { run_.StatusText.Set(std::move(text)); });
  }

  // Fetches, reads, compares, downloads and verifies; true when a verified newer installer stands at
  // SetupPath, held for the launch.
  bool TryUpdate(const WorkerSettings& settings, const std::wstring& query) {
    if (!Fetch(settings.versionEndpoint + query, run_.VersionInfoPath)) {
      SetStatus(std::wstring(StatusUndetermined));
      return false;
    }
    VersionReply reply;
    Act([&] { reply = services_.ReadVersionReply(run_.VersionInfoPath); });
    if (!reply.Usable || (settings.updateKey && !IsSignedForThisRun(reply, *settings.updateKey, query))) {
      SetStatus(std::wstring(StatusUndetermined));
      return false;
    }
    if (settings.embeddedInstallerVersion >= reply.Version) {
      SetStatus(std::wstring(StatusLatestInUse));
      return false;
    }
    SetStatus(std::wstring(StatusDownloading) + L" " + reply.VersionText);
    const std::wstring setupPath = run_.SetupPath.Get();
    if (!Fetch(L"http://" + reply.Url + query, setupPath)) {
      SetStatus(std::wstring(StatusDownloadFailed));
      return false;
    }
    services_.Sleep(kWorkerPauseMs);
    bool verified = false;
    Act([&] {
      verified = services_.QueryFileSize(setupPath) == reply.Size &&
                 services_.ComputeDownloadChecksum(setupPath) == reply.Checksum &&
                 (!settings.updateKey || HasTheSignedDigest(setupPath, reply)) &&
                 services_.HoldVerifiedInstaller(setupPath, reply.Size, reply.Checksum,
                                                 settings.updateKey ? reply.Authentication.sha256 : std::nullopt);
    });
    SetStatus(std::wstring(verified ? StatusCompleted : StatusDownloadFailed));
    return verified;
  }

 private:
  // Lines 1..5 signed by `key` together with the rnd that this run sent.
  bool IsSignedForThisRun(const VersionReply& reply, const UpdateKey& key, const std::wstring& query) {
    const ReplyAuthentication& signedPart = reply.Authentication;
    if (signedPart.signedLines.empty() || !signedPart.sha256 || !signedPart.signature) return false;
    return services_.VerifyReplySignature(key, SignedReplyMessage(signedPart.signedLines, QueryRandomText(query)),
                                          *signedPart.signature);
  }

  // The transfer runs outside the gate; the move over `path` only while the worker may still act.
  bool Fetch(const std::wstring& url, const std::wstring& path) {
    if (!services_.DownloadUrlToFile(url, path)) return false;
    bool placed = false;
    Act([&] { placed = services_.PlaceDownload(path); });
    return placed;
  }

  bool HasTheSignedDigest(const std::wstring& setupPath, const VersionReply& reply) {
    const auto digest = services_.ComputeDownloadSha256(setupPath);
    return digest && reply.Authentication.sha256 && *digest == *reply.Authentication.sha256;
  }

  SetupRun& run_;
  WorkerGate& gate_;
  WorkerServices& services_;
};

}  // namespace

void RunDownloadWorker(SetupRun& run, WorkerGate& gate, WorkerServices& services,
                       const WorkerSettings& settings) {
  Worker worker(run, gate, services);
  try {
    services.Sleep(kWorkerPauseMs);
    const std::wstring query = BuildVersionQuery(run.OwnVersionText, run.AffiliateQuery, services.QuerySeed());
    const bool verified = worker.TryUpdate(settings, query);
    services.Sleep(kWorkerPauseMs);
    // The file at SetupPath is complete before Finished, and Finished is set before the close.
    worker.Act([&] {
      if (!verified) {
        run.SetupPath.Set(WriteOrUseSecondName(
            run.SetupPath.Get(), [&](const std::wstring& path) { return services.WriteEmbeddedInstaller(path); }));
      }
      run.State.Finished.store(true);
    });
    worker.Act([&] { services.CloseSetupWindow(); });
  } catch (const WorkerStopped&) {
    // Stopped by the monitor: nothing more of ours may become visible.
  }
}

}  // namespace isetup
