// The download worker: asks the endpoint, downloads and verifies a newer installer, or puts the
// embedded one in place; then finishes the run and asks the window to close.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "payload/sha256.h"
#include "run/run_state.h"
#include "update/update_key.h"
#include "update/version.h"
#include "update/version_reply.h"
#include "update/version_reply_format.h"

namespace isetup {

// What the worker does outside itself (the platform side, or fakes in tests).
class WorkerServices {
 public:
  virtual ~WorkerServices() = default;
  // Fetches `url` into a fresh file of ours beside `path`; nothing at `path` changes. False when the
  // transfer failed or its result is not a plain file of a size the worker can take.
  virtual bool DownloadUrlToFile(const std::wstring& url, const std::wstring& path) = 0;
  // Moves the file just fetched over `path` by its handle, keeping its name until the next download, a
  // hold or a write; false when it cannot (the fetched file is removed, `path` stays as it was).
  virtual bool PlaceDownload(const std::wstring& path) = 0;
  virtual VersionReply ReadVersionReply(const std::wstring& path) = 0;      // may throw IoError
  virtual std::int32_t QueryFileSize(const std::wstring& path) = 0;         // may throw IoError
  virtual std::int32_t ComputeDownloadChecksum(const std::wstring& path) = 0;  // may throw IoError
  // Keeps the verified installer at `path` unchanged until it is launched; false when the file there is
  // no longer of `size` bytes with `checksum` (someone changed it after the checks).
  // With an update key, `digest` is the signed blanked SHA-256 the held content must also have.
  virtual bool HoldVerifiedInstaller(const std::wstring& path, std::int32_t size, std::int32_t checksum,
                                     const std::optional<Sha256Digest>& digest) = 0;
  // Only with an update key: the reply's signature, and the download's blanked SHA-256 (std::nullopt
  // when the file cannot be read or hashed).
  virtual bool VerifyReplySignature(const UpdateKey& key, std::string_view message,
                                    const ReplySignature& signature) = 0;
  virtual std::optional<Sha256Digest> ComputeDownloadSha256(const std::wstring& path) = 0;
  virtual bool WriteEmbeddedInstaller(const std::wstring& path) = 0;  // false: nothing written there
  virtual void CloseSetupWindow() = 0;  // on the window thread, waited for
  virtual void Sleep(int milliseconds) = 0;
  virtual std::uint32_t QuerySeed() = 0;
};

struct WorkerSettings {
  std::wstring versionEndpoint;  // "http://" + host + "/version.php"
  PackedVersion embeddedInstallerVersion = 0;
  // With a key, a reply counts only when signed by it for this run's rnd (else it is not usable), and
  // a download only when its blanked SHA-256 is the signed one (else it failed). Without, neither
  // line is looked at.
  std::optional<UpdateKey> updateKey;
};

inline constexpr int kWorkerPauseMs = 1000;

// The worker's body. Every step that touches a file, the hold or the run state goes through `gate`;
// once the monitor has stopped the worker, the body returns at its next step without doing it. Only
// the transfers and the pauses run outside it, so that a stop never waits for them.
void RunDownloadWorker(SetupRun& run, WorkerGate& gate, WorkerServices& services,
                       const WorkerSettings& settings);

}  // namespace isetup
