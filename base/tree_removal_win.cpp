// Depth-first removal through handles: each folder is held while its entries go, so it cannot be
// swapped for a link to somewhere else half-way.
#include "base/tree_removal_win.h"

#include <windows.h>

#include <cstdint>
#include <optional>

#include "base/file_handle_win.h"
#include "base/file_names.h"
#include "base/held_file_win.h"
#include "base/name_facts_win.h"

namespace isetup {
namespace {

// Deeper than any tree we would ever plant ourselves; deeper ones are left standing.
constexpr int kMaxDepth = 32;

bool RemoveEntry(const std::wstring& path, int depth) {
  // No delete sharing: while we work on it, nobody can rename this entry or put a link in its place.
  FileHandle entry(OpenNameItself(path, DELETE | FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE));
  if (!entry.valid()) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  const std::optional<NameFacts> facts = ExamineName(entry.get(), path);
  if (!facts) return false;
  if (facts->reparsePoint()) return DeleteThroughHandle(entry.get());  // the link itself
  if (!facts->atName) return false;  // reached through a link we cannot remove as a link
  if (facts->directory()) {
    if (depth >= kMaxDepth) return false;
    // Listed through the handle we hold, not by opening the folder once more by its name.
    alignas(8) std::uint8_t buffer[16 * 1024];
    bool all = true;
    for (FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;; kind = FileIdBothDirectoryInfo) {
      if (!GetFileInformationByHandleEx(entry.get(), kind, buffer, sizeof(buffer))) {
        if (GetLastError() != ERROR_NO_MORE_FILES) return false;
        break;
      }
      for (std::size_t at = 0;;) {
        const auto* found = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer + at);
        const std::wstring name(found->FileName, found->FileNameLength / sizeof(wchar_t));
        if (name != L"." && name != L"..") all = RemoveEntry(path + L"\\" + name, depth + 1) && all;
        if (found->NextEntryOffset == 0) break;
        at += found->NextEntryOffset;
      }
    }
    if (!all) return false;
  }
  return DeleteThroughHandle(entry.get());
}

bool NothingAt(const std::wstring& path) {
  if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace

bool RemoveTreeWithoutFollowingLinks(const std::wstring& path) noexcept {
  return RemoveEntry(path, 0) && NothingAt(path);
}

bool ClearNameWithoutFollowingLinks(const std::wstring& path) noexcept {
  if (RemoveTreeWithoutFollowingLinks(path)) return true;
  FileHandle folder(OpenNameItself(path, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE));
  if (!folder.valid()) return NothingAt(path);
  const std::optional<NameFacts> facts = ExamineName(folder.get(), path);
  // Renaming through anything but the folder itself would move what a link points to.
  if (!facts || !facts->directory() || facts->reparsePoint() || !facts->atName) return false;
  if (!RenameThroughHandle(folder.get(), FreshSiblingName(path, FreshNameNonce()), false)) return false;
  folder.reset();
  return NothingAt(path);
}

}  // namespace isetup
