// Loads a release from its folder only when it is whole: the manifest parses, the installer it names
// has rested for the settle time, and nothing changed while it was read.
#include "endpoint/release_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>
#include <utility>

#include "base/lower_hex.h"
#include "base/unique_fd_posix.h"

namespace isetup::endpoint {
namespace {

using SystemClock = std::chrono::system_clock;

FileStamp StampOf(const struct stat& info) {
  FileStamp stamp;
  stamp.device = info.st_dev;
  stamp.inode = info.st_ino;
  stamp.size = info.st_size;
  stamp.modifiedNs = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
  return stamp;
}

SystemClock::time_point ModifiedAt(const FileStamp& stamp) {
  return SystemClock::time_point(
      std::chrono::duration_cast<SystemClock::duration>(std::chrono::nanoseconds(stamp.modifiedNs)));
}

// O_NOFOLLOW: a link named in the folder could lead anywhere on the machine.
UniqueFd OpenPlainFile(const std::filesystem::path& path) {
  return UniqueFd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK));
}

std::string SystemError(int error) {
  return error == ELOOP ? "it is a symbolic link; the folder takes plain files only" : std::strerror(error);
}

std::optional<Sha256Digest> ParseDigest(std::string_view hex) {
  Sha256Digest digest{};
  const auto bytes = ParseHexAnyCase(hex, digest.size());
  if (!bytes) return std::nullopt;
  std::copy(bytes->begin(), bytes->end(), digest.begin());
  return digest;
}

// The whole file into `out`, which holds `size` bytes afterwards; false when it yields more or fewer.
bool ReadExactly(int fd, std::size_t size, std::vector<std::uint8_t>& out, std::string& error) {
  out.resize(size);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t count = read(fd, out.data() + done, size - done);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) {
      error = SystemError(errno);
      return false;
    }
    if (count == 0) {
      error = "it ended after " + std::to_string(done) + " of " + std::to_string(size) + " bytes";
      return false;
    }
    done += static_cast<std::size_t>(count);
  }
  std::uint8_t extra;
  if (read(fd, &extra, 1) != 0) {
    error = "it grew while being read";
    return false;
  }
  return true;
}

struct ManifestFile {
  std::optional<Manifest> manifest;
  FileStamp stamp;
  std::string error;
};

ManifestFile ReadManifest(const std::filesystem::path& folder) {
  ManifestFile result;
  const std::filesystem::path path = folder / kManifestName;
  const UniqueFd file = OpenPlainFile(path);
  struct stat info {};
  if (file.get() < 0 || fstat(file.get(), &info) != 0) {
    result.error = "cannot open " + path.string() + ": " + SystemError(errno);
    return result;
  }
  result.stamp = StampOf(info);
  if (!S_ISREG(info.st_mode)) {
    result.error = path.string() + " is not a regular file";
    return result;
  }
  if (info.st_size > static_cast<off_t>(kMaxManifestBytes)) {
    result.error = path.string() + " is larger than " + std::to_string(kMaxManifestBytes) + " bytes";
    return result;
  }
  std::vector<std::uint8_t> bytes;
  std::string error;
  if (!ReadExactly(file.get(), static_cast<std::size_t>(info.st_size), bytes, error)) {
    result.error = "cannot read " + path.string() + ": " + error;
    return result;
  }
  ParsedManifest parsed = ParseManifest(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  if (!parsed.manifest) {
    result.error = path.string() + ", " + parsed.error;
    return result;
  }
  result.manifest = std::move(parsed.manifest);
  return result;
}

std::string Elapsed(std::chrono::milliseconds duration) { return std::to_string(duration.count()) + " ms"; }

}  // namespace

ParsedManifest ParseManifest(std::string_view text) {
  ParsedManifest result;
  std::optional<std::string> version;
  std::optional<std::string> file;
  std::optional<std::int64_t> size;
  std::optional<Sha256Digest> sha256;
  bool sha256Given = false;
  int number = 0;
  const auto fail = [&](const std::string& why) {
    result.error = "line " + std::to_string(number) + ": " + why;
    return result;
  };
  while (!text.empty()) {
    ++number;
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    if (!std::all_of(line.begin(), line.end(), [](char c) { return c >= 0x20 && c < 0x7F; })) {
      return fail("only printable ASCII is allowed");
    }
    if (line.front() == ' ' || line.back() == ' ') return fail("blanks at the start or end of a line");
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return fail("not key=value");
    const std::string_view key = line.substr(0, equals);
    const std::string value(line.substr(equals + 1));
    if (key.back() == ' ' || (!value.empty() && value.front() == ' ')) return fail("blanks around \"=\"");
    std::optional<std::string>* slot = nullptr;
    if (key == "version") {
      if (auto problem = CheckVersionText(value)) return fail(*problem);
      slot = &version;
    } else if (key == "file") {
      if (auto problem = CheckFileName(value)) return fail(*problem);
      slot = &file;
    } else if (key == "size") {
      if (size) return fail("\"size\" is given twice");
      std::int64_t parsed = 0;
      const auto [stop, error] = std::from_chars(value.data(), value.data() + value.size(), parsed);
      if (value.empty() || value.front() == '-' || error != std::errc() || stop != value.data() + value.size() ||
          parsed < 1 || parsed > std::numeric_limits<std::int32_t>::max()) {
        return fail("size must be a byte count 1..2147483647");
      }
      size = parsed;
      continue;
    } else if (key == "sha256") {
      if (sha256Given) return fail("\"sha256\" is given twice");
      sha256 = ParseDigest(value);
      if (!sha256) return fail("sha256 must be 64 hexadecimal digits");
      sha256Given = true;
      continue;
    } else {
      return fail("unknown key \"" + std::string(key) + "\" (version, file, size, sha256)");
    }
    if (*slot) return fail("\"" + std::string(key) + "\" is given twice");
    *slot = value;
  }
  number = 0;
  if (!version) return fail("no \"version=\" line");
  if (!file) return fail("no \"file=\" line");
  // Without the size a copy that stalls longer than the settle time would look whole.
  if (!size) return fail("no \"size=\" line (the installer's size in bytes)");
  result.error.clear();
  result.manifest = Manifest{*version, *file, *size, sha256};
  return result;
}

FolderStamp StampReleaseFolder(const std::filesystem::path& folder) {
  FolderStamp stamp;
  const ManifestFile manifest = ReadManifest(folder);
  stamp.manifest = manifest.stamp;
  struct stat info {};
  if (manifest.manifest && lstat((folder / manifest.manifest->fileName).c_str(), &info) == 0) {
    stamp.installer = StampOf(info);
  }
  return stamp;
}

LoadedRelease LoadReleaseFolder(const std::filesystem::path& folder, SystemClock::time_point now,
                                std::chrono::milliseconds settle) {
  LoadedRelease result;
  ManifestFile manifestFile = ReadManifest(folder);
  result.stamp.manifest = manifestFile.stamp;
  if (!manifestFile.manifest) {
    result.error = manifestFile.error;
    return result;
  }
  const Manifest& manifest = *manifestFile.manifest;
  const std::filesystem::path path = folder / manifest.fileName;
  const UniqueFd file = OpenPlainFile(path);
  struct stat before {};
  if (file.get() < 0 || fstat(file.get(), &before) != 0) {
    result.error = "cannot open the installer " + path.string() + ": " + SystemError(errno);
    return result;
  }
  result.stamp.installer = StampOf(before);
  if (!S_ISREG(before.st_mode)) {
    result.error = "the installer " + path.string() + " is not a regular file";
    return result;
  }

  // A file that was written a moment ago may still be in the middle of a copy.
  const SystemClock::time_point lastChange =
      std::max(ModifiedAt(result.stamp.manifest), ModifiedAt(result.stamp.installer));
  if (settle.count() > 0 && now < lastChange + settle) {
    result.settlesAt = lastChange + settle;
    const auto age = std::chrono::duration_cast<std::chrono::milliseconds>(now - lastChange);
    result.error = "the manifest or " + path.string() + " changed " + Elapsed(age) + " ago; waiting until both have " +
                   "rested for " + Elapsed(settle);
    return result;
  }
  if (before.st_size <= 0 || before.st_size > std::numeric_limits<std::int32_t>::max()) {
    result.error = "the installer " + path.string() + " has " + std::to_string(before.st_size) +
                   " bytes; it must have 1..2147483647";
    return result;
  }
  if (manifest.size != before.st_size) {
    result.error = "the installer " + path.string() + " has " + std::to_string(before.st_size) +
                   " bytes, the manifest says size=" + std::to_string(manifest.size);
    return result;
  }

  Release release{manifest.versionText, {}, manifest.fileName};
  std::string error;
  if (!ReadExactly(file.get(), static_cast<std::size_t>(before.st_size), release.installer, error)) {
    result.error = "cannot read the installer " + path.string() + ": " + error;
    return result;
  }
  struct stat after {};
  if (fstat(file.get(), &after) != 0 || !(StampOf(after) == result.stamp.installer)) {
    result.error = "the installer " + path.string() + " changed while being read";
    return result;
  }
  // The manifest must still be the one that named this file.
  const ManifestFile again = ReadManifest(folder);
  if (!(again.stamp == result.stamp.manifest)) {
    result.error = "the manifest changed while the installer was read";
    return result;
  }
  Sha256Hasher hasher;
  hasher.Update(release.installer);
  const std::optional<Sha256Digest> digest = hasher.Finish();
  if (!digest) {
    result.error = "cannot hash the installer " + path.string();
    return result;
  }
  if (manifest.sha256 && *manifest.sha256 != *digest) {
    result.error = "the installer " + path.string() + " has the SHA-256 " + LowerHex(*digest) +
                   ", the manifest says sha256=" + LowerHex(*manifest.sha256);
    return result;
  }
  if (auto problem = CheckRelease(release)) {
    result.error = *problem;
    return result;
  }
  result.sha256 = *digest;
  result.release = std::move(release);
  return result;
}

ReleaseWatcher::ReleaseWatcher(std::filesystem::path folder, std::chrono::milliseconds settle,
                               std::string servedVersion, std::optional<FolderStamp> served, Publish publish,
                               Report report, std::string servedFile, Sha256Digest servedSha256)
    : folder_(std::move(folder)),
      settle_(settle),
      publish_(std::move(publish)),
      report_(std::move(report)),
      servedVersion_(std::move(servedVersion)),
      served_(served) {
  if (!servedFile.empty()) offered_.emplace_back(std::move(servedFile), servedSha256);
}

ReleaseWatcher::~ReleaseWatcher() { Stop(); }

bool ReleaseWatcher::Check(SystemClock::time_point now, bool forced) {
  if (!forced) {
    const FolderStamp stamp = StampReleaseFolder(folder_);
    if (served_ && stamp == *served_) {
      // Back to what is served (an edit undone): nothing is waiting any more.
      refused_.reset();
      retryAt_.reset();
      return false;
    }
    if (refused_ && stamp == *refused_ && !(retryAt_ && now >= *retryAt_)) return false;
  }
  LoadedRelease loaded = LoadReleaseFolder(folder_, now, settle_);
  if (loaded.release) {
    for (const auto& [name, digest] : offered_) {
      if (name == loaded.release->fileName && digest != loaded.sha256) {
        loaded.error = "the installer " + name + " was changed in place, but replies already handed out describe " +
                       "the bytes served under that name; publish it under a new file name";
        loaded.release.reset();
      }
    }
  }
  if (!loaded.release) {
    // The same reason for the same files is reported once; a settling release only when it starts.
    const bool news = !(refused_ && loaded.stamp == *refused_ &&
                        (loaded.error == refusedReason_ || (loaded.settlesAt && retryAt_)));
    if (news || forced) {
      report_("release folder " + folder_.string() + ": " + loaded.error + "; still serving " + servedVersion_);
    }
    refused_ = loaded.stamp;
    refusedReason_ = loaded.error;
    retryAt_ = loaded.settlesAt;
    return false;
  }
  const std::string summary = loaded.release->versionText + " (" + loaded.release->fileName + ", " +
                              std::to_string(loaded.release->installer.size()) + " bytes)";
  const std::string fileName = loaded.release->fileName;
  try {
    publish_(std::move(*loaded.release));
  } catch (const std::exception& failure) {
    report_("release folder " + folder_.string() + ": " + failure.what() + "; still serving " + servedVersion_);
    refused_ = loaded.stamp;
    refusedReason_ = failure.what();
    retryAt_.reset();
    return false;
  }
  report_("now serving release " + summary);
  // The server keeps the release before downloadable under its own name; so do the checks.
  std::erase_if(offered_, [&](const auto& offered) { return offered.first == fileName; });
  offered_.insert(offered_.begin(), {fileName, loaded.sha256});
  if (offered_.size() > 2) offered_.resize(2);
  servedVersion_ = summary.substr(0, summary.find(' '));
  served_ = loaded.stamp;
  refused_.reset();
  retryAt_.reset();
  return true;
}

void ReleaseWatcher::Start(std::chrono::milliseconds interval) {
  std::lock_guard lock(mutex_);
  if (thread_.joinable() || stopping_) return;
  thread_ = std::thread([this, interval] { Run(interval); });
}

void ReleaseWatcher::RequestReload() {
  {
    std::lock_guard lock(mutex_);
    reloadRequested_ = true;
  }
  wake_.notify_all();
}

void ReleaseWatcher::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void ReleaseWatcher::Run(std::chrono::milliseconds interval) {
  using SteadyClock = std::chrono::steady_clock;
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    SteadyClock::time_point wakeAt = SteadyClock::now() + std::chrono::hours(24);
    if (interval.count() > 0) wakeAt = SteadyClock::now() + interval;
    if (retryAt_) {
      // A settling release is looked at again when it has rested, polling or not (a little after,
      // so that the look finds it settled).
      const auto left = std::chrono::duration_cast<SteadyClock::duration>(*retryAt_ - SystemClock::now());
      wakeAt = std::min(wakeAt, SteadyClock::now() + std::max(left, SteadyClock::duration::zero()) +
                                    std::chrono::milliseconds(10));
    }
    wake_.wait_until(lock, wakeAt, [this] { return stopping_ || reloadRequested_; });
    if (stopping_) break;
    const bool forced = std::exchange(reloadRequested_, false);
    lock.unlock();
    Check(SystemClock::now(), forced);
    lock.lock();
  }
}

}  // namespace isetup::endpoint
