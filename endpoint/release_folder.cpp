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

using Problem = std::optional<std::string>;

// The keys of the manifest as far as they have been read.
struct ManifestFields {
  std::optional<std::string> version;
  std::optional<std::string> file;
  std::optional<std::int64_t> size;
  std::optional<Sha256Digest> sha256;
};

// Takes the first line off `text`, without its LF and a CR before it.
std::string_view TakeLine(std::string_view& text) {
  const std::size_t end = text.find('\n');
  std::string_view line = text.substr(0, end);
  text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// Takes "key=value" apart; what is wrong with the line's shape, std::nullopt when nothing is.
Problem SplitManifestLine(std::string_view line, std::string_view& key, std::string& value) {
  if (!std::all_of(line.begin(), line.end(), [](char c) { return c >= 0x20 && c < 0x7F; })) {
    return "only printable ASCII is allowed";
  }
  if (line.front() == ' ' || line.back() == ' ') return "blanks at the start or end of a line";
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) return "not key=value";
  key = line.substr(0, equals);
  value = std::string(line.substr(equals + 1));
  // A line that starts with "=" has no key: it is refused below as an unknown one.
  if ((!key.empty() && key.back() == ' ') || (!value.empty() && value.front() == ' ')) return "blanks around \"=\"";
  return std::nullopt;
}

// "version" and "file": the value's own check first, then that the key is new.
Problem SetOnce(std::string_view key, const std::string& value, Problem problem, std::optional<std::string>& slot) {
  if (problem) return problem;
  if (slot) return "\"" + std::string(key) + "\" is given twice";
  slot = value;
  return std::nullopt;
}

Problem SetVersionKey(std::string_view key, const std::string& value, ManifestFields& fields) {
  return SetOnce(key, value, CheckVersionText(value), fields.version);
}

Problem SetFileKey(std::string_view key, const std::string& value, ManifestFields& fields) {
  return SetOnce(key, value, CheckFileName(value), fields.file);
}

std::optional<std::int64_t> ParseByteCount(const std::string& value) {
  std::int64_t parsed = 0;
  const auto [stop, error] = std::from_chars(value.data(), value.data() + value.size(), parsed);
  if (value.empty() || value.front() == '-' || error != std::errc() || stop != value.data() + value.size() ||
      parsed < 1 || parsed > std::numeric_limits<std::int32_t>::max()) {
    return std::nullopt;
  }
  return parsed;
}

Problem SetSizeKey(std::string_view, const std::string& value, ManifestFields& fields) {
  if (fields.size) return "\"size\" is given twice";
  fields.size = ParseByteCount(value);
  if (!fields.size) return "size must be a byte count 1..2147483647";
  return std::nullopt;
}

Problem SetSha256Key(std::string_view, const std::string& value, ManifestFields& fields) {
  if (fields.sha256) return "\"sha256\" is given twice";
  fields.sha256 = ParseDigest(value);
  if (!fields.sha256) return "sha256 must be 64 hexadecimal digits";
  return std::nullopt;
}

using ManifestSetter = Problem (*)(std::string_view key, const std::string& value, ManifestFields& fields);

const std::pair<std::string_view, ManifestSetter> kManifestKeys[] = {
    {"version", SetVersionKey},
    {"file", SetFileKey},
    {"size", SetSizeKey},
    {"sha256", SetSha256Key},
};

// One line that is neither blank nor a comment; what is wrong with it, std::nullopt when nothing is.
Problem ApplyManifestLine(std::string_view line, ManifestFields& fields) {
  std::string_view key;
  std::string value;
  if (auto problem = SplitManifestLine(line, key, value)) return problem;
  const auto known = std::find_if(std::begin(kManifestKeys), std::end(kManifestKeys),
                                  [&](const auto& entry) { return entry.first == key; });
  if (known == std::end(kManifestKeys)) {
    return "unknown key \"" + std::string(key) + "\" (version, file, size, sha256)";
  }
  return known->second(key, value, fields);
}

Problem CheckComplete(const ManifestFields& fields) {
  if (!fields.version) return "no \"version=\" line";
  if (!fields.file) return "no \"file=\" line";
  // Without the size a copy that stalls longer than the settle time would look whole.
  if (!fields.size) return "no \"size=\" line (the installer's size in bytes)";
  return std::nullopt;
}

ParsedManifest ManifestError(int line, const std::string& why) {
  return ParsedManifest{std::nullopt, "line " + std::to_string(line) + ": " + why};
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

// The installer that the manifest names, open, as it was before it was read.
struct InstallerFile {
  std::filesystem::path path;
  UniqueFd file;
  struct stat before {};
};

// Looks at the opened installer, its stamp into `stamp`; refused unless it is a regular file.
Problem LookAtInstaller(InstallerFile& installer, FileStamp& stamp) {
  if (installer.file.get() < 0 || fstat(installer.file.get(), &installer.before) != 0) {
    return "cannot open the installer " + installer.path.string() + ": " + SystemError(errno);
  }
  stamp = StampOf(installer.before);
  if (!S_ISREG(installer.before.st_mode)) return "the installer " + installer.path.string() + " is not a regular file";
  return std::nullopt;
}

// A file that was written a moment ago may still be in the middle of a copy: refused until `settlesAt`.
Problem CheckSettled(const std::filesystem::path& path, const FolderStamp& stamp, SystemClock::time_point now,
                     std::chrono::milliseconds settle, std::optional<SystemClock::time_point>& settlesAt) {
  const SystemClock::time_point lastChange = std::max(ModifiedAt(stamp.manifest), ModifiedAt(stamp.installer));
  if (settle.count() <= 0 || now >= lastChange + settle) return std::nullopt;
  settlesAt = lastChange + settle;
  const auto age = std::chrono::duration_cast<std::chrono::milliseconds>(now - lastChange);
  return "the manifest or " + path.string() + " changed " + Elapsed(age) + " ago; waiting until both have " +
         "rested for " + Elapsed(settle);
}

Problem CheckInstallerSize(const InstallerFile& installer, const Manifest& manifest) {
  const off_t size = installer.before.st_size;
  const std::string has = "the installer " + installer.path.string() + " has " + std::to_string(size);
  if (size <= 0 || size > std::numeric_limits<std::int32_t>::max()) return has + " bytes; it must have 1..2147483647";
  if (manifest.size != size) return has + " bytes, the manifest says size=" + std::to_string(manifest.size);
  return std::nullopt;
}

// Reads the installer whole into release.installer; refused when it or the manifest changed meanwhile.
Problem ReadInstaller(const std::filesystem::path& folder, const InstallerFile& installer, const FolderStamp& stamp,
                      Release& release) {
  std::string error;
  if (!ReadExactly(installer.file.get(), static_cast<std::size_t>(installer.before.st_size), release.installer,
                   error)) {
    return "cannot read the installer " + installer.path.string() + ": " + error;
  }
  struct stat after {};
  if (fstat(installer.file.get(), &after) != 0 || !(StampOf(after) == stamp.installer)) {
    return "the installer " + installer.path.string() + " changed while being read";
  }
  // The manifest must still be the one that named this file.
  if (!(ReadManifest(folder).stamp == stamp.manifest)) return "the manifest changed while the installer was read";
  return std::nullopt;
}

// The installer's SHA-256 into `digest`, checked against "sha256="; then the release as a whole.
Problem CheckContents(const std::filesystem::path& path, const Manifest& manifest, const Release& release,
                      Sha256Digest& digest) {
  Sha256Hasher hasher;
  hasher.Update(release.installer);
  const std::optional<Sha256Digest> hashed = hasher.Finish();
  if (!hashed) return "cannot hash the installer " + path.string();
  if (manifest.sha256 && *manifest.sha256 != *hashed) {
    return "the installer " + path.string() + " has the SHA-256 " + LowerHex(*hashed) +
           ", the manifest says sha256=" + LowerHex(*manifest.sha256);
  }
  digest = *hashed;
  return CheckRelease(release);
}

// The installer that `manifest` names, into `result`; why it is refused, std::nullopt when it is loaded.
Problem LoadInstaller(const std::filesystem::path& folder, const Manifest& manifest, SystemClock::time_point now,
                      std::chrono::milliseconds settle, LoadedRelease& result) {
  const std::filesystem::path path = folder / manifest.fileName;
  InstallerFile installer{path, OpenPlainFile(path), {}};
  if (auto problem = LookAtInstaller(installer, result.stamp.installer)) return problem;
  if (auto problem = CheckSettled(path, result.stamp, now, settle, result.settlesAt)) return problem;
  if (auto problem = CheckInstallerSize(installer, manifest)) return problem;
  Release release{manifest.versionText, {}, manifest.fileName};
  if (auto problem = ReadInstaller(folder, installer, result.stamp, release)) return problem;
  Sha256Digest digest{};
  if (auto problem = CheckContents(path, manifest, release, digest)) return problem;
  result.sha256 = digest;
  result.release = std::move(release);
  return std::nullopt;
}

}  // namespace

ParsedManifest ParseManifest(std::string_view text) {
  ManifestFields fields;
  int number = 0;
  while (!text.empty()) {
    ++number;
    const std::string_view line = TakeLine(text);
    if (line.empty() || line.front() == '#') continue;
    if (auto problem = ApplyManifestLine(line, fields)) return ManifestError(number, *problem);
  }
  // Something missing belongs to no line.
  if (auto problem = CheckComplete(fields)) return ManifestError(0, *problem);
  return ParsedManifest{Manifest{*fields.version, *fields.file, *fields.size, fields.sha256}, {}};
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
  const ManifestFile manifestFile = ReadManifest(folder);
  result.stamp.manifest = manifestFile.stamp;
  if (!manifestFile.manifest) {
    result.error = manifestFile.error;
    return result;
  }
  if (auto problem = LoadInstaller(folder, *manifestFile.manifest, now, settle, result)) result.error = *problem;
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
  if (!forced && NothingNew(now)) return false;
  LoadedRelease loaded = LoadReleaseFolder(folder_, now, settle_);
  if (loaded.release) RefuseChangedInPlace(loaded);
  if (!loaded.release) {
    Refuse(loaded, forced);
    return false;
  }
  return PublishLoaded(loaded);
}

bool ReleaseWatcher::NothingNew(SystemClock::time_point now) {
  const FolderStamp stamp = StampReleaseFolder(folder_);
  if (served_ && stamp == *served_) {
    // Back to what is served (an edit undone): nothing is waiting any more.
    refused_.reset();
    retryAt_.reset();
    return true;
  }
  return refused_ && stamp == *refused_ && !(retryAt_ && now >= *retryAt_);
}

void ReleaseWatcher::RefuseChangedInPlace(LoadedRelease& loaded) const {
  const auto reused = std::find_if(offered_.begin(), offered_.end(), [&](const auto& offered) {
    return offered.first == loaded.release->fileName && offered.second != loaded.sha256;
  });
  if (reused == offered_.end()) return;
  loaded.error = "the installer " + reused->first + " was changed in place, but replies already handed out describe " +
                 "the bytes served under that name; publish it under a new file name";
  loaded.release.reset();
}

void ReleaseWatcher::Refuse(const LoadedRelease& loaded, bool forced) {
  // The same reason for the same files is reported once; a settling release only when it starts.
  const bool news = !(refused_ && loaded.stamp == *refused_ &&
                      (loaded.error == refusedReason_ || (loaded.settlesAt && retryAt_)));
  if (news || forced) ReportRefused(loaded.error);
  RememberRefused(loaded.stamp, loaded.error, loaded.settlesAt);
}

void ReleaseWatcher::ReportRefused(const std::string& reason) const {
  report_("release folder " + folder_.string() + ": " + reason + "; still serving " + servedVersion_);
}

void ReleaseWatcher::RememberRefused(const FolderStamp& stamp, std::string reason,
                                     std::optional<SystemClock::time_point> retryAt) {
  refused_ = stamp;
  refusedReason_ = std::move(reason);
  retryAt_ = retryAt;
}

bool ReleaseWatcher::PublishLoaded(LoadedRelease& loaded) {
  const std::string summary = loaded.release->versionText + " (" + loaded.release->fileName + ", " +
                              std::to_string(loaded.release->installer.size()) + " bytes)";
  const std::string fileName = loaded.release->fileName;
  try {
    publish_(std::move(*loaded.release));
  } catch (const std::exception& failure) {
    ReportRefused(failure.what());
    RememberRefused(loaded.stamp, failure.what(), std::nullopt);
    return false;
  }
  Serving(loaded, summary, fileName);
  return true;
}

void ReleaseWatcher::Serving(const LoadedRelease& loaded, const std::string& summary, const std::string& fileName) {
  report_("now serving release " + summary);
  // The server keeps the release before downloadable under its own name; so do the checks.
  std::erase_if(offered_, [&](const auto& offered) { return offered.first == fileName; });
  offered_.insert(offered_.begin(), {fileName, loaded.sha256});
  if (offered_.size() > 2) offered_.resize(2);
  servedVersion_ = summary.substr(0, summary.find(' '));
  served_ = loaded.stamp;
  refused_.reset();
  retryAt_.reset();
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
