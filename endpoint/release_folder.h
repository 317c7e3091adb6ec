// The release folder: one installer file per version and the manifest "release.txt" that names the
// current one. Loading it whole and consistent, and watching it for changes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "endpoint/endpoint_server.h"
#include "payload/sha256.h"

namespace isetup::endpoint {

inline constexpr std::string_view kManifestName = "release.txt";
inline constexpr std::size_t kMaxManifestBytes = 4096;

// The manifest, lines "key=value" (LF or CR LF), blank lines and "#" comments ignored:
//   version=2.53.0.0                          required: the version announced in "ver="
//   file=TalvimorasterSetup-2.53.0.0.exe      required: the installer, a plain name in the folder
//   size=14178100                             required: the installer must have exactly this size
//   sha256=<64 hexadecimal digits>            optional: the installer file's SHA-256 must be this
// Keys are lower case, each at most once; no blanks around "=" or at the end; nothing else.
struct Manifest {
  std::string versionText;
  std::string fileName;
  std::int64_t size = 0;
  std::optional<Sha256Digest> sha256;
};

struct ParsedManifest {
  std::optional<Manifest> manifest;
  std::string error;  // when there is none: "line 3: ..."
};

ParsedManifest ParseManifest(std::string_view text);

// What tells that a file was replaced, written or touched.
struct FileStamp {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = -1;
  std::int64_t modifiedNs = 0;  // mtime, nanoseconds since the epoch
  bool operator==(const FileStamp&) const = default;
};

struct FolderStamp {
  FileStamp manifest;
  FileStamp installer;
  bool operator==(const FolderStamp&) const = default;
};

struct LoadedRelease {
  std::optional<Release> release;
  Sha256Digest sha256{};  // of the installer file as read, when there is a release
  FolderStamp stamp;   // as far as the files could be looked at
  std::string error;   // why there is no release
  // Refused only because a file changed less than the settle time ago: worth a look again then.
  std::optional<std::chrono::system_clock::time_point> settlesAt;
};

// Reads the manifest and the installer it names, each whole, never following a symbolic link.
// Refuses, with the reason, a bad manifest; an installer that is missing, a link or not a regular
// file, unreadable, empty, over 2147483647 bytes, of another size than "size=" or another SHA-256
// than "sha256=" says; files that changed while they were read; and files modified less than
// `settle` before `now` (a copy may still be going on).
LoadedRelease LoadReleaseFolder(const std::filesystem::path& folder, std::chrono::system_clock::time_point now,
                                std::chrono::milliseconds settle);

// The manifest's and the named installer's stamps, without reading the installer: the cheap look
// that each poll takes. A file that cannot be looked at keeps the default stamp.
FolderStamp StampReleaseFolder(const std::filesystem::path& folder);

// Publishes a new release whenever the folder holds a complete, consistent and settled one that
// differs from the one published last; until then the last one stays and the reason is reported
// (once for each state of the folder). A file name that is offered (the current release or the
// one before) is never published again with other bytes: replies already handed out describe the
// bytes served under that name. Check runs on one thread at a time: the watcher's own thread
// once Start has run, or the caller's in tests.
class ReleaseWatcher {
 public:
  using Publish = std::function<void(Release)>;
  using Report = std::function<void(const std::string&)>;

  // `served` is the stamp of the release already published (from the first load), if any.
  // `servedFile` and `servedSha256`: the installer already served under that name, if any.
  ReleaseWatcher(std::filesystem::path folder, std::chrono::milliseconds settle, std::string servedVersion,
                 std::optional<FolderStamp> served, Publish publish, Report report, std::string servedFile = {},
                 Sha256Digest servedSha256 = {});
  ~ReleaseWatcher();
  ReleaseWatcher(const ReleaseWatcher&) = delete;
  ReleaseWatcher& operator=(const ReleaseWatcher&) = delete;

  // One look at the folder as of `now`. `forced` (SIGHUP) reads it again even when nothing seems
  // changed. True when a release was published.
  bool Check(std::chrono::system_clock::time_point now, bool forced);

  // Looks every `interval` (0: only on RequestReload and while a young release settles), on a
  // thread of its own.
  void Start(std::chrono::milliseconds interval);
  // Asks the thread for a forced look at once. Not for signal handlers: call it from the thread that
  // waits for the signals.
  void RequestReload();
  void Stop();

 private:
  void Run(std::chrono::milliseconds interval);
  // The steps of Check.
  bool NothingNew(std::chrono::system_clock::time_point now);  // the cheap look finds what was seen before
  void RefuseChangedInPlace(LoadedRelease& loaded) const;      // an offered name with other bytes
  void Refuse(const LoadedRelease& loaded, bool forced);
  void ReportRefused(const std::string& reason) const;
  void RememberRefused(const FolderStamp& stamp, std::string reason,
                       std::optional<std::chrono::system_clock::time_point> retryAt);
  bool PublishLoaded(LoadedRelease& loaded);
  void Serving(const LoadedRelease& loaded, const std::string& summary, const std::string& fileName);

  const std::filesystem::path folder_;
  const std::chrono::milliseconds settle_;
  const Publish publish_;
  const Report report_;
  // Owned by the checking thread.
  std::string servedVersion_;
  std::optional<FolderStamp> served_;
  std::optional<FolderStamp> refused_;
  std::string refusedReason_;
  std::optional<std::chrono::system_clock::time_point> retryAt_;
  std::vector<std::pair<std::string, Sha256Digest>> offered_;  // current first, then the one before

  std::mutex mutex_;
  std::condition_variable wake_;
  bool reloadRequested_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace isetup::endpoint
