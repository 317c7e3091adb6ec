// The download worker: asks the endpoint, downloads and verifies a newer installer, or puts the
// embedded one in place; then finishes the run and asks the window to close.
#pragma once

#include <cstdint>
#include <string>

#include "app/run_state.h"
#include "update/version.h"
#include "update/version_reply.h"

namespace isetup {

// What the worker does outside itself (the platform side, or fakes in tests).
class WorkerServices {
 public:
  virtual ~WorkerServices() = default;
  virtual bool DownloadUrlToFile(const std::wstring& url, const std::wstring& path) = 0;
  virtual VersionReply ReadVersionReply(const std::wstring& path) = 0;      // may throw IoError
  virtual std::int32_t QueryFileSize(const std::wstring& path) = 0;         // may throw IoError
  virtual std::int32_t ComputeDownloadChecksum(const std::wstring& path) = 0;  // may throw IoError
  // Keeps the verified installer at `path` unchanged until it is launched; false when the file there is
  // no longer of `size` bytes with `checksum` (someone changed it after the checks).
  virtual bool HoldVerifiedInstaller(const std::wstring& path, std::int32_t size, std::int32_t checksum) = 0;
  virtual void WriteEmbeddedInstaller(const std::wstring& path) = 0;
  virtual void CloseSetupWindow() = 0;  // on the window thread, waited for
  virtual void Sleep(int milliseconds) = 0;
  virtual std::uint32_t QuerySeed() = 0;
};

struct WorkerSettings {
  std::wstring versionEndpoint;  // "http://" + host + "/version.php"
  PackedVersion embeddedInstallerVersion = 0;
};

inline constexpr int kWorkerPauseMs = 1000;

// The worker's body. Every visible action goes through `gate`; once the monitor has stopped the worker,
// the body returns at its next action without doing it.
void RunDownloadWorker(SetupRun& run, WorkerGate& gate, WorkerServices& services,
                       const WorkerSettings& settings);

}  // namespace isetup
