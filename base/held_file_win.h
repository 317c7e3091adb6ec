// Files of ours in a folder that others can write to (the user's temp folder, which the elevated
// program shares with every process of the user): written so that a link planted at the name is
// replaced, never written through, and held so that no one can change or replace them until we let go.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/file_handle_win.h"
#include "base/name_facts_win.h"

namespace isetup {

// A number for FreshSiblingName that others cannot guess in advance.
std::uint64_t FreshNameNonce() noexcept;

// Judges a file's whole content.
using ContentCheck = std::function<bool(std::span<const std::uint8_t>)>;

// A file kept open for reading and shared for reading only: while it is held no other process can
// write it, delete it, rename it or put another file at its name. The shell and CreateProcess can
// still start it, and it can still be read.
class HeldFile {
 public:
  HeldFile() = default;
  HeldFile(FileHandle handle, std::wstring path) noexcept : handle_(std::move(handle)), path_(std::move(path)) {}

  bool valid() const noexcept { return handle_.valid(); }
  HANDLE handle() const noexcept { return handle_.get(); }
  const std::wstring& path() const noexcept { return path_; }
  void Release() noexcept { handle_.reset(); }

 private:
  FileHandle handle_;
  std::wstring path_;
};

// Holds the file at `path` when it is a plain file standing there itself (no link of any kind, a
// single name) and its whole content passes `check`; an invalid HeldFile otherwise.
HeldFile HoldFile(const std::wstring& path, const ContentCheck& check) noexcept;

// Whether a plain file (see HoldFile) stands at `path` itself.
bool PlainFileStandsAt(const std::wstring& path) noexcept;

// A file under a fresh, unpredictable name of ours beside its destination, taken over by handle (one
// that a platform routine wrote by name, or a sealed FileReplacement): then moved over the destination
// or, when that never happens, removed.
class FreshFile {
 public:
  FreshFile() = default;
  ~FreshFile();
  FreshFile(FreshFile&&) noexcept = default;
  FreshFile& operator=(FreshFile&& other) noexcept;

  // Takes over the file at `freshPath` when it is a plain file standing there itself (see HoldFile) of
  // at most `largest` bytes: from then on nobody else can write, delete or rename it. Invalid otherwise;
  // what stood there is then removed (a link itself, never what it points to).
  static FreshFile TakeOver(const std::wstring& freshPath, std::uint64_t largest) noexcept;

  bool valid() const noexcept { return file_.valid(); }

  // Moves the file over `path` by its handle: whatever stood at `path` (a link included) is replaced,
  // never followed. Returns a handle that keeps the name `path` from being deleted, renamed or
  // replaced, while others may open the file for reading and writing (a later hold re-checks its
  // content). Invalid when the move fails: `path` stays as it was and the fresh file is removed.
  FileHandle MoveOver(const std::wstring& path) noexcept;

  // The same move, but the file then stays held at `path` (see HeldFile), as a sealed replacement is.
  HeldFile MoveOverAndHold(const std::wstring& path) noexcept;

 private:
  friend class FileReplacement;
  FreshFile(FileHandle file, const FileIdentity& identity) noexcept : file_(std::move(file)), identity_(identity) {}
  void Discard() noexcept;

  FileHandle file_;
  FileIdentity identity_;
};

// A file that is written under a fresh name beside `path` and then moved over `path` in one step. The
// write never goes through whatever stood at `path` (a symbolic link, a junction, a hard link to
// another file, a stale copy): that entry is replaced, and what it pointed to is left as it was.
class FileReplacement {
 public:
  explicit FileReplacement(std::wstring path) noexcept;
  ~FileReplacement();  // a fresh file that was never committed is removed
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  // Write the content here (no other process can open it meanwhile); INVALID_HANDLE_VALUE when no
  // fresh file could be made (no such folder, no access).
  HANDLE handle() const noexcept { return writer_.get(); }

  // Ends the writing and keeps the fresh file under its fresh name, shared for reading only, once the
  // content that arrived on disk passes `check`: from then on nobody can change it until it is moved
  // over `path` (FreshFile::MoveOverAndHold) or dropped (then removed). Invalid when it fails (the fresh
  // file is then removed).
  FreshFile Seal(const ContentCheck& check) noexcept;

  // The same for a write of exactly `written` (all of it went through handle()). A program (an image
  // the system can map) is not read back: an image section made while the writer alone has the file
  // open keeps every other process from opening it for writing, truncating it or deleting it once the
  // writer is closed, and its size shows an append. Any other content is read back and compared.
  // `whileUnheld`, when given, runs in the instant between the writer's close and the hold.
  FreshFile SealWritten(std::span<const std::uint8_t> written, const std::function<void()>& whileUnheld = {}) noexcept;

  // Moves the written file over `path` and returns it held, after checking that the content that
  // arrived on disk passes `check`. Invalid when it fails or the name cannot be taken (another process
  // has the file at `path` open, or a folder stands there): `path` then stays as it was and the fresh
  // file is removed. (Invalid too, with the new file at `path` but not held, when someone moved it
  // away in the instant between the two handles that take it over.)
  HeldFile Commit(const ContentCheck& check) noexcept;

  // The same in fewer steps for a write of exactly `written`, checked as SealWritten checks it once it
  // stands at `path`: the writer itself moves the file there while it still keeps everyone else out.
  // Invalid when the name cannot be taken (`path` stays as it was, the fresh file is removed), or when
  // someone changed or moved the file in the instant between the writer's close and the hold: a
  // changed file of ours is removed, a file someone put at `path` is left alone.
  HeldFile CommitWritten(std::span<const std::uint8_t> written, const std::function<void()>& whileUnheld = {}) noexcept;

 private:
  // How the writing ends: the content's check, the size of a write that may be a program (which is
  // then kept by an image section instead of read back), the hook between the writer's close and the
  // hold, and, for a commit, the name that the writer moves the file to first.
  struct Ending {
    const ContentCheck& check;
    std::optional<std::uint64_t> imageSize;
    const std::function<void()>& whileUnheld;
    const std::wstring* moveTo = nullptr;
  };
  // Closes the writer and returns the file opened with `access`, sharing reading only, once it is
  // proven to be ours and unchanged; `ours` is then its identity. Invalid otherwise.
  FileHandle EndWriting(const Ending& ending, DWORD access, FileIdentity& ours) noexcept;
  static ContentCheck SameAs(std::span<const std::uint8_t> written);

  std::wstring path_;
  std::wstring freshPath_;
  FileHandle writer_;
};

// Removes the entry at `path` itself when it is a file or a link of any kind (a link goes as a link,
// what it points to stays); a real folder, or a file that someone has open without sharing deletion,
// stays. Whether it went.
bool RemoveEntryItself(const std::wstring& path) noexcept;

// Removes the entries in `folder` (ending with a separator) that match the search `pattern`, that
// `ours` accepts by name, and that were last written more than `olderThanMs` ago: a link under such a
// name is removed itself, never what it points to; real folders are left alone.
void RemoveLeftoverFiles(const std::wstring& folder, const std::wstring& pattern,
                         const std::function<bool(std::wstring_view)>& ours, std::uint64_t olderThanMs) noexcept;

}  // namespace isetup
