// What stands at a file name, seen through a handle opened on the name itself rather than on what a
// link there points to.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

namespace isetup {

// Which file a handle is on: the folder it stands in, by the final path that the system gives it with
// its drive or share (so it tells volumes apart), and its index on that volume. Where the system cannot name the
// file, the volume's serial number stands in for the folder. Files of ours only ever move within their
// folder, so a file that turns up in another one does not count as ours.
struct FileIdentity {
  std::wstring folder;
  DWORD volume = 0;
  std::uint64_t index = 0;
  bool operator==(const FileIdentity&) const = default;
};

struct NameFacts {
  FileIdentity identity;
  DWORD attributes = 0;
  DWORD links = 0;
  // The handle's own path is the name it was opened by. False when the system reached another file
  // through a link without reporting a reparse point (Wine follows Unix symbolic links that way).
  bool atName = true;

  bool reparsePoint() const { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
  bool directory() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
  // A file of ours to keep: no link of any kind, no second name that another file could share.
  bool plainFile() const { return !reparsePoint() && !directory() && links == 1 && atName; }
};

// Opens `name` itself: a symbolic link or junction there is opened as the link, never followed
// (FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, so folders open too). INVALID_HANDLE_VALUE
// on failure, with the last error set.
HANDLE OpenNameItself(const std::wstring& name, DWORD access, DWORD share) noexcept;

// The facts of the file that `handle` (opened on `name`) refers to; nothing when they cannot be read.
std::optional<NameFacts> ExamineName(HANDLE handle, const std::wstring& name) noexcept;
// The same without comparing the handle's path with a name (`atName` stays true): for a handle whose
// identity is checked instead, which spares opening the folder.
std::optional<NameFacts> ExamineFile(HANDLE handle) noexcept;

// Both return whether the system did it. The delete takes effect when the last handle closes; the
// rename moves the file that `handle` refers to, so no other file can be moved in its place.
[[nodiscard]] bool DeleteThroughHandle(HANDLE handle) noexcept;
[[nodiscard]] bool RenameThroughHandle(HANDLE handle, const std::wstring& newName, bool replaceExisting) noexcept;

}  // namespace isetup
