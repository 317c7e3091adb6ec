// Replacing and holding files by handle: each step acts on the file it examined, so a link planted or
// swapped in between is never written through.
#include "base/held_file_win.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <memory>
#include <new>
#include <optional>

#include "base/file_names.h"
#include "base/name_facts_win.h"

namespace isetup {
namespace {

constexpr int kFreshNameAttempts = 8;

}  // namespace

// Hard to guess, so that no one can have planted something at the fresh name beforehand; a name that
// is taken all the same is simply skipped (it is created with CREATE_NEW).
std::uint64_t FreshNameNonce() noexcept {
  static std::atomic<std::uint64_t> counter{0};
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  std::uint64_t value = static_cast<std::uint64_t>(now.QuadPart) ^ (std::uint64_t{GetCurrentProcessId()} << 40) ^
                        (++counter * 0x9E3779B97F4A7C15ULL);
  value ^= value >> 29;
  return value * 0xBF58476D1CE4E5B9ULL;
}

namespace {

std::optional<FileIdentity> IdentityOf(HANDLE handle) {
  const std::optional<NameFacts> facts = ExamineFile(handle);
  if (!facts) return std::nullopt;
  return facts->identity;
}

// MapViewOfFile / UnmapViewOfFile.
struct FileViewTraits {
  using Value = const void*;
  static const void* Invalid() noexcept { return nullptr; }
  static bool IsValid(const void* view) noexcept { return view != nullptr; }
  static void Close(const void* view) noexcept { UnmapViewOfFile(view); }
};

// A read-only view of a whole file; an empty owner when it cannot be mapped.
UniqueOwner<FileViewTraits> MapWholeFile(HANDLE file, std::size_t size) noexcept {
  const FileHandle mapping(CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping) return {};
  return UniqueOwner<FileViewTraits>(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, size));
}

// Hands `check` the whole file through a read-only view, without copying it; false when it cannot be
// mapped. Every handle of ours on it shares reading only, so nobody can change it meanwhile.
bool ContentPasses(HANDLE handle, const ContentCheck& check) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(handle, &size) || size.QuadPart < 0 ||
      size.QuadPart > std::numeric_limits<std::int32_t>::max()) {
    return false;
  }
  const auto count = static_cast<std::size_t>(size.QuadPart);
  if (count == 0) return check({});  // an empty file has no view
  const auto view = MapWholeFile(handle, count);
  if (!view) return false;
  return check(std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(view.get()), count));
}

// Opens `path` for reading, sharing `share`, and keeps the handle only when it is a plain file standing
// at that name itself.
FileHandle OpenPlainFile(const std::wstring& path, DWORD access, DWORD share) {
  FileHandle file(OpenNameItself(path, access, share));
  if (!file.valid()) return {};
  const std::optional<NameFacts> facts = ExamineName(file.get(), path);
  if (!facts || !facts->plainFile()) return {};
  return file;
}

// Opens `path` when it is still the plain file `ours` (no link, a single name). The identity alone
// decides, so the name is not examined.
FileHandle OpenOurFile(const std::wstring& path, DWORD access, DWORD share, const FileIdentity& ours) {
  FileHandle file(OpenNameItself(path, access, share));
  if (!file.valid()) return {};
  const std::optional<NameFacts> facts = ExamineFile(file.get());
  if (!facts || !facts->plainFile() || facts->identity != ours) return {};
  return file;
}

// A true reparse point at `path` (a junction, a symbolic link the system reports as one) is removed
// itself; the folder or file it points to is not touched. False when there is none or it stays.
bool RemoveReparsePointAt(const std::wstring& path) {
  FileHandle entry(OpenNameItself(path, DELETE | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
  if (!entry.valid()) return false;
  const std::optional<NameFacts> facts = ExamineName(entry.get(), path);
  // Only a handle that reports the reparse point is the link itself; deleting through anything else
  // would delete what the link points to.
  if (!facts || !facts->reparsePoint()) return false;
  return DeleteThroughHandle(entry.get());
}

// Moves the file behind `file` (opened with delete access) over `path`: the entry at `path` itself is
// replaced, a junction there removed first; a link's target keeps its bytes. Whether it moved.
bool MoveThroughHandleOver(HANDLE file, const std::wstring& path) {
  return RenameThroughHandle(file, path, true) || (RemoveReparsePointAt(path) && RenameThroughHandle(file, path, true));
}

// Moves our file `fresh` (opened with delete access) over `path` by its handle. Returns the file
// reopened for reading only, sharing `share`, once it is proven to stand at `path` itself; invalid
// otherwise (the fresh file is removed when it was not moved).
FileHandle MoveOurFileOver(FileHandle fresh, const std::wstring& path, const FileIdentity& ours, DWORD share) {
  if (!MoveThroughHandleOver(fresh.get(), path)) {
    (void)DeleteThroughHandle(fresh.get());
    return {};
  }
  // The handle that renamed has delete access, which a program opening its own file (sharing reading
  // only) would collide with. Change over to a read-only hold through a bridge that shares deleting
  // but, like every handle here, never writing. Both reopen the same file object, not the name.
  FileHandle bridge(ReOpenFile(fresh.get(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, 0));
  if (!bridge.valid()) return {};
  fresh.reset();
  FileHandle held(ReOpenFile(bridge.get(), GENERIC_READ, share, 0));
  if (!held.valid()) return {};
  // The move must have put our file at `path` itself (Wine, which follows a Unix symbolic link at the
  // fresh name, would have moved the link instead).
  const std::optional<NameFacts> facts = ExamineName(held.get(), path);
  if (!facts || !facts->plainFile() || facts->identity != ours) return {};
  return held;
}

}  // namespace

HeldFile HoldFile(const std::wstring& path, const ContentCheck& check) noexcept {
  FileHandle file = OpenPlainFile(path, GENERIC_READ, FILE_SHARE_READ);
  if (!file.valid() || !ContentPasses(file.get(), check)) return {};
  return HeldFile(std::move(file), path);
}

bool PlainFileStandsAt(const std::wstring& path) noexcept {
  FileHandle file(OpenNameItself(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
  if (!file.valid()) return false;
  const std::optional<NameFacts> facts = ExamineName(file.get(), path);
  return facts && facts->plainFile();
}

FileReplacement::FileReplacement(std::wstring path) noexcept : path_(std::move(path)) {
  for (int attempt = 0; attempt < kFreshNameAttempts; ++attempt) {
    std::wstring fresh = FreshSiblingName(path_, FreshNameNonce());
    // CREATE_NEW never opens anything that already stands at the name, a link included.
    // Reading and executing too, which an image section of the written program needs.
    FileHandle writer(CreateFileW(fresh.c_str(), GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | DELETE, 0, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (writer.valid()) {
      writer_ = std::move(writer);
      freshPath_ = std::move(fresh);
      return;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return;
  }
}

FileReplacement::~FileReplacement() {
  // Still our writer (nobody else can have opened it): the fresh file goes again.
  if (writer_.valid()) (void)DeleteThroughHandle(writer_.get());
}

ContentCheck FileReplacement::SameAs(std::span<const std::uint8_t> written) {
  return [written](std::span<const std::uint8_t> content) { return std::ranges::equal(content, written); };
}

FreshFile FileReplacement::Seal(const ContentCheck& check) noexcept {
  FileIdentity ours;
  FileHandle fresh = EndWriting({check, std::nullopt, {}}, GENERIC_READ | DELETE, ours);
  if (!fresh.valid()) return {};
  return FreshFile(std::move(fresh), ours);
}

FreshFile FileReplacement::SealWritten(std::span<const std::uint8_t> written,
                                       const std::function<void()>& whileUnheld) noexcept {
  FileIdentity ours;
  FileHandle fresh = EndWriting({SameAs(written), written.size(), whileUnheld}, GENERIC_READ | DELETE, ours);
  if (!fresh.valid()) return {};
  return FreshFile(std::move(fresh), ours);
}

HeldFile FileReplacement::Commit(const ContentCheck& check) noexcept { return Seal(check).MoveOverAndHold(path_); }

HeldFile FileReplacement::CommitWritten(std::span<const std::uint8_t> written,
                                        const std::function<void()>& whileUnheld) noexcept {
  FileIdentity ours;
  FileHandle held = EndWriting({SameAs(written), written.size(), whileUnheld, &path_}, GENERIC_READ, ours);
  if (!held.valid()) return {};
  return HeldFile(std::move(held), path_);
}

FileHandle FileReplacement::EndWriting(const Ending& ending, DWORD access, FileIdentity& ours) noexcept {
  if (!writer_.valid()) return {};
  const std::optional<FileIdentity> identity = IdentityOf(writer_.get());
  if (!identity) return {};
  ours = *identity;
  // Made while nobody else can have the file open, an image section leaves others no way to write it
  // once the writer is gone: the system refuses to open a mapped program for writing or deleting, and
  // to truncate it; only appending stays possible. Fails for anything that is not a program.
  FileHandle image(ending.imageSize
                       ? CreateFileMappingW(writer_.get(), nullptr, PAGE_READONLY | SEC_IMAGE, 0, 0, nullptr)
                       : nullptr);
  // A commit moves the file while the writer still keeps everyone else out; if that fails, the
  // destructor removes the fresh file through the writer.
  if (ending.moveTo != nullptr && !MoveThroughHandleOver(writer_.get(), *ending.moveTo)) return {};
  const std::wstring& name = ending.moveTo != nullptr ? *ending.moveTo : freshPath_;
  writer_.reset();
  if (ending.whileUnheld) ending.whileUnheld();

  // Held from here under a handle that lets no one write it any more. Under its fresh name the
  // identity alone proves it is ours (the name that counts is examined once it has been moved); at
  // the name it ends at, that name must be the file itself, not a link someone put there.
  FileHandle file(OpenNameItself(name, access, FILE_SHARE_READ));
  std::optional<NameFacts> facts;
  if (file.valid()) facts = ending.moveTo != nullptr ? ExamineName(file.get(), name) : ExamineFile(file.get());
  const bool isOurs = facts && facts->plainFile() && facts->identity == ours;
  const bool mapped = image.valid();
  image.reset();  // the hold takes over; a mapped program could not be deleted
  // Without an image section, what another process may have done to the file while it was closed
  // shows only in its content, which is read back.
  LARGE_INTEGER size{};
  const bool intact = isOurs && (mapped ? GetFileSizeEx(file.get(), &size) &&
                                              static_cast<std::uint64_t>(size.QuadPart) == *ending.imageSize
                                        : ContentPasses(file.get(), ending.check));
  if (intact) return file;
  // Removed only when it is still our file; a name someone else took over is left alone.
  file.reset();
  FileHandle stale =
      OpenOurFile(name, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, ours);
  if (stale.valid()) (void)DeleteThroughHandle(stale.get());
  return {};
}

FreshFile::~FreshFile() { Discard(); }

FreshFile& FreshFile::operator=(FreshFile&& other) noexcept {
  if (this != &other) {
    Discard();
    file_ = std::move(other.file_);
    identity_ = other.identity_;
  }
  return *this;
}

void FreshFile::Discard() noexcept {
  if (file_.valid()) (void)DeleteThroughHandle(file_.get());
  file_.reset();
}

FreshFile FreshFile::TakeOver(const std::wstring& freshPath, std::uint64_t largest) noexcept {
  FreshFile taken;
  // Sharing reading only: from here on nobody else can write, delete or rename it.
  FileHandle file(OpenNameItself(freshPath, GENERIC_READ | DELETE, FILE_SHARE_READ));
  if (!file.valid()) return taken;
  const std::optional<NameFacts> facts = ExamineName(file.get(), freshPath);
  LARGE_INTEGER size{};
  const bool fits = GetFileSizeEx(file.get(), &size) && size.QuadPart >= 0 &&
                    static_cast<std::uint64_t>(size.QuadPart) <= largest;
  if (!facts || !facts->plainFile() || !fits) {
    // Removed only where the handle is the entry itself (not a Unix link that Wine followed), and not a
    // real folder: a link goes as a link, a second name of another file goes, that file stays.
    if (facts && facts->atName && (facts->reparsePoint() || !facts->directory())) (void)DeleteThroughHandle(file.get());
    return taken;
  }
  taken.file_ = std::move(file);
  taken.identity_ = facts->identity;
  return taken;
}

FileHandle FreshFile::MoveOver(const std::wstring& path) noexcept {
  if (!file_.valid()) return {};
  // Others may open it for writing again once it stands at `path`, as the reads that follow may want.
  return MoveOurFileOver(std::move(file_), path, identity_, FILE_SHARE_READ | FILE_SHARE_WRITE);
}

HeldFile FreshFile::MoveOverAndHold(const std::wstring& path) noexcept {
  if (!file_.valid()) return {};
  FileHandle held = MoveOurFileOver(std::move(file_), path, identity_, FILE_SHARE_READ);
  if (!held.valid()) return {};
  return HeldFile(std::move(held), path);
}

bool RemoveEntryItself(const std::wstring& path) noexcept {
  // A link planted at the name goes as a link, never what it points to.
  FileHandle entry(OpenNameItself(path, DELETE | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
  if (!entry.valid()) return false;
  const std::optional<NameFacts> facts = ExamineName(entry.get(), path);
  if (!facts || !facts->atName || (facts->directory() && !facts->reparsePoint())) return false;
  return DeleteThroughHandle(entry.get());
}

void RemoveLeftoverFiles(const std::wstring& folder, const std::wstring& pattern,
                         const std::function<bool(std::wstring_view)>& ours, std::uint64_t olderThanMs) noexcept {
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileExW((folder + pattern).c_str(), FindExInfoBasic, &found,
                                         FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return;
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const auto ticks = [](const FILETIME& time) {
    return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
  };
  const std::uint64_t cutoff = ticks(now) - std::min(ticks(now), olderThanMs * 10000);
  do {
    if (!ours(found.cFileName) || ticks(found.ftLastWriteTime) > cutoff) continue;
    (void)RemoveEntryItself(folder + found.cFileName);
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

}  // namespace isetup
