// The atomic replacement on Windows: CreateFileW(CREATE_NEW), WriteFile, FlushFileBuffers, CloseHandle,
// MoveFileExW(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH).
#include <windows.h>

#include <algorithm>

#include "base/atomic_file.h"
#include "base/file_handle_win.h"
#include "base/utf8_path.h"

namespace isetup {
namespace {

// The system's text for an error code, in UTF-8, without the line end it comes with.
std::string Reason(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                          FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message(text != nullptr ? text : L"", length);
  if (text != nullptr) LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ' ||
                              message.back() == L'.')) {
    message.pop_back();
  }
  std::string utf8 = Utf8FromPath(std::filesystem::path(message));
  return (utf8.empty() ? "error" : utf8) + " (" + std::to_string(error) + ")";
}

std::string Abandon(FileHandle& file, const std::filesystem::path& temporary, const std::string& what) {
  const DWORD error = GetLastError();
  file.reset();
  DeleteFileW(temporary.c_str());
  return what + ": " + Reason(error);
}

}  // namespace

std::optional<std::string> ReplaceFileAtomically(const std::filesystem::path& target,
                                                 std::span<const std::uint8_t> bytes,
                                                 const std::filesystem::path&) {
  namespace fs = std::filesystem;
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return Utf8FromPath(target) + " is a folder, not a file";
  }
  // Windows refuses to move a file over a read-only one; said here, so that the answer does not depend
  // on the file system underneath (Wine on a Unix file system, for one, would let the move through).
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return Utf8FromPath(target) + " is marked read-only";
  }

  fs::path temporary;
  FileHandle file;
  const DWORD seed = GetCurrentProcessId() * 65599u;
  for (DWORD attempt = 0; !file; ++attempt) {
    temporary = TemporarySibling(target, seed + attempt);
    file.reset(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    const DWORD error = GetLastError();
    if (!file && ((error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) || attempt == 1000)) {
      const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
      return "cannot create a temporary file in " + Utf8FromPath(folder) + ": " + Reason(error);
    }
  }
  const std::string name = Utf8FromPath(temporary);

  for (std::size_t done = 0; done < bytes.size();) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 24));
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr)) {
      return Abandon(file, temporary, "cannot write " + name);
    }
    if (written == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return Abandon(file, temporary, "cannot write " + name);
    }
    done += written;
  }
  if (!FlushFileBuffers(file.get())) return Abandon(file, temporary, "cannot flush " + name + " to the disk");
  if (!CloseHandle(file.release())) return Abandon(file, temporary, "cannot close " + name);
  if (!MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return Abandon(file, temporary, "cannot move " + name + " over " + Utf8FromPath(target));
  }
  return std::nullopt;
}

}  // namespace isetup
