// Examining, deleting and renaming files through handles on their names, so that what is examined is
// what is changed.
#include "base/name_facts_win.h"

#include <cstring>
#include <vector>

#include "base/file_handle_win.h"
#include "base/file_names.h"

namespace isetup {
namespace {

// The path of the file behind `handle`, without the volume; empty when the system cannot tell.
std::wstring FinalPathOf(HANDLE handle) {
  constexpr DWORD kFlags = FILE_NAME_NORMALIZED | VOLUME_NAME_NONE;
  std::wstring path(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DWORD length = GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()), kFlags);
    if (length == 0) return {};
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

// Whether `handle` is the entry `name` in its folder and not something a link there led to. When the
// system cannot give either path (a file system without name queries) there is nothing to compare and
// the attributes alone decide.
bool HandleIsAtName(HANDLE handle, const std::wstring& name) {
  const std::wstring folderName(FolderOf(name));
  if (folderName.empty()) return true;
  FileHandle folder(OpenNameItself(folderName + L"\\", FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
  if (!folder.valid()) return true;
  const std::wstring folderPath = FinalPathOf(folder.get());
  const std::wstring filePath = FinalPathOf(handle);
  if (folderPath.empty() || filePath.empty()) return true;
  std::wstring expected = folderPath;
  if (expected.back() != L'\\') expected += L'\\';
  expected += LeafOf(name);
  return SameName(filePath, expected);
}

}  // namespace

HANDLE OpenNameItself(const std::wstring& name, DWORD access, DWORD share) noexcept {
  return CreateFileW(name.c_str(), access, share, nullptr, OPEN_EXISTING,
                     FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

std::optional<NameFacts> ExamineFile(HANDLE handle) noexcept {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(handle, &information)) return std::nullopt;
  NameFacts facts;
  facts.identity.volume = information.dwVolumeSerialNumber;
  facts.identity.index = (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
  facts.attributes = information.dwFileAttributes;
  facts.links = information.nNumberOfLinks;
  return facts;
}

std::optional<NameFacts> ExamineName(HANDLE handle, const std::wstring& name) noexcept {
  std::optional<NameFacts> facts = ExamineFile(handle);
  if (facts) facts->atName = HandleIsAtName(handle, name);
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
