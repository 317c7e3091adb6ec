// Examining, deleting and renaming files through handles on their names, so that what is examined is
// what is changed.
#include "base/name_facts_win.h"

#include <winternl.h>

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "base/file_handle_win.h"
#include "base/file_names.h"

namespace isetup {
namespace {

// The object's own name, as Wine gives it (\??\C:\Users\...), in the form of a final path
// (\\?\C:\Users\...); empty when the system gives none, or one of another form.
std::wstring ObjectNameOf(HANDLE handle) {
  constexpr std::wstring_view kObjectPrefix = L"\\??\\";
  std::vector<std::uint8_t> buffer(sizeof(UNICODE_STRING) + 32768 * sizeof(wchar_t));
  ULONG length = 0;
  if (NtQueryObject(handle, ObjectNameInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &length) < 0) {
    return {};
  }
  const auto* name = reinterpret_cast<const UNICODE_STRING*>(buffer.data());
  const std::wstring_view text(name->Buffer, name->Length / sizeof(wchar_t));
  if (!text.starts_with(kObjectPrefix)) return {};
  return L"\\\\?\\" + std::wstring(text.substr(kObjectPrefix.size()));
}

// The path of the file behind `handle` with its drive or share (\\?\C:\Users\..., \\?\UNC\server\share\...);
// empty when the system cannot tell. Wine 8 refuses the final path of a file whose path is longer than
// MAX_PATH (ERROR_MORE_DATA whatever the buffer): the object's own name stands in, which is what its
// final path is made of.
std::wstring FinalPathOf(HANDLE handle) {
  constexpr DWORD kFlags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
  std::wstring path(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DWORD length = GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()), kFlags);
    if (length == 0) return GetLastError() == ERROR_MORE_DATA ? ObjectNameOf(handle) : std::wstring();
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.assign(length + 1, L'\0');
  }
  return {};
}

bool SameName(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

// Whether the file whose final path is `filePath` is the entry `name` in its folder and not something a
// link there led to. When the system cannot give either path (a file system without name queries)
// there is nothing to compare and the attributes alone decide.
bool IsAtName(const std::wstring& filePath, const std::wstring& name) {
  const std::wstring folderName(FolderOf(name));
  if (folderName.empty() || filePath.empty()) return true;
  FileHandle folder(OpenNameItself(folderName + L"\\", FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
  if (!folder.valid()) return true;
  std::wstring expected = FinalPathOf(folder.get());
  if (expected.empty()) return true;
  if (expected.back() != L'\\') expected += L'\\';
  expected += LeafOf(name);
  return SameName(filePath, expected);
}

// The facts of `handle`, and its final path (empty when the system cannot tell). Cheap queries only:
// the volume's serial number (which Wine fetches from its mount manager, at about half a millisecond)
// is asked only when the path is missing.
std::optional<NameFacts> Examine(HANDLE handle, std::wstring& path) {
  FILE_BASIC_INFO basic{};
  FILE_STANDARD_INFO standard{};
  FILE_INTERNAL_INFORMATION internal{};
  IO_STATUS_BLOCK status{};
  if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof(basic)) ||
      !GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof(standard)) ||
      NtQueryInformationFile(handle, &status, &internal, sizeof(internal), FileInternalInformation) < 0) {
    return std::nullopt;
  }
  NameFacts facts;
  facts.attributes = basic.FileAttributes;
  facts.links = standard.NumberOfLinks;
  facts.identity.index = static_cast<std::uint64_t>(internal.IndexNumber.QuadPart);
  path = FinalPathOf(handle);
  const std::size_t leaf = path.rfind(L'\\');
  if (leaf != std::wstring::npos && leaf > 0) {
    facts.identity.folder = path.substr(0, leaf);
  } else {
    path.clear();
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(handle, &information)) return std::nullopt;
    facts.identity.volume = information.dwVolumeSerialNumber;
  }
  return facts;
}

}  // namespace

HANDLE OpenNameItself(const std::wstring& name, DWORD access, DWORD share) noexcept {
  return CreateFileW(name.c_str(), access, share, nullptr, OPEN_EXISTING,
                     FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

std::optional<NameFacts> ExamineFile(HANDLE handle) noexcept {
  std::wstring path;
  return Examine(handle, path);
}

std::optional<NameFacts> ExamineName(HANDLE handle, const std::wstring& name) noexcept {
  std::wstring path;
  std::optional<NameFacts> facts = Examine(handle, path);
  if (facts) facts->atName = IsAtName(path, name);
  return facts;
}

bool DeleteThroughHandle(HANDLE handle) noexcept {
  FILE_DISPOSITION_INFO disposition{TRUE};
  return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

bool RenameThroughHandle(HANDLE handle, const std::wstring& newName, bool replaceExisting) noexcept {
  const std::size_t nameBytes = newName.size() * sizeof(wchar_t);
  std::vector<std::uint8_t> buffer(sizeof(FILE_RENAME_INFO) + nameBytes, 0);
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = replaceExisting ? TRUE : FALSE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(nameBytes);
  std::memcpy(rename->FileName, newName.data(), nameBytes);
  return SetFileInformationByHandle(handle, FileRenameInfo, rename, static_cast<DWORD>(buffer.size())) != FALSE;
}

}  // namespace isetup
