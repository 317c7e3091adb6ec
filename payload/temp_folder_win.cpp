// The user's temp folder from the system, in its long form when that can be made, and the removal of
// what killed runs left in it.
#include "payload/temp_folder.h"

#include <windows.h>

#include <vector>

#include "base/held_file_win.h"
#include "payload/temp_paths.h"

namespace isetup {
namespace {

// Both calls return the length without the zero on success, the buffer size needed when the buffer
// is too small, and 0 on failure; a path longer than the usual 255 characters just takes a second call.
template <typename Call>
std::wstring CallWithGrowingBuffer(Call call) {
  std::vector<wchar_t> buffer(256);
  for (int attempt = 0; attempt < 3; ++attempt) {
    const DWORD length = call(buffer.data(), static_cast<DWORD>(buffer.size() - 1));
    if (length == 0) return {};
    if (length < buffer.size() - 1) return std::wstring(buffer.data(), length);
    buffer.resize(static_cast<std::size_t>(length) + 2);
  }
  return {};
}

// Creates `folder` and any missing folders above it (a temp variable may name one that was removed or
// never made); failures are left to the writes that follow.
void CreateFolderPath(const std::wstring& folder) {
  if (GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) return;
  for (std::size_t at = folder.find_first_of(L"\\/", 3); at != std::wstring::npos;
       at = folder.find_first_of(L"\\/", at + 1)) {
    CreateDirectoryW(folder.substr(0, at).c_str(), nullptr);
  }
  CreateDirectoryW(folder.c_str(), nullptr);
}

}  // namespace

std::wstring GetTempFolder() {
  const std::wstring systemForm =
      CallWithGrowingBuffer([](wchar_t* buffer, DWORD length) { return GetTempPathW(length, buffer); });
  std::wstring longForm, shortForm;
  if (!systemForm.empty()) {
    CreateFolderPath(systemForm);
    longForm = CallWithGrowingBuffer([&](wchar_t* buffer, DWORD length) {
      return GetLongPathNameW(systemForm.c_str(), buffer, length);
    });
    if (!LeavesRoomForTheFileNames(longForm.empty() ? systemForm : longForm)) {
      shortForm = CallWithGrowingBuffer([&](wchar_t* buffer, DWORD length) {
        return GetShortPathNameW(systemForm.c_str(), buffer, length);
      });
    }
  }
  return ChooseTempFolder(longForm, systemForm, shortForm);
}

void RemoveLeftoversOfKilledRuns(const std::wstring& folder) noexcept {
  // A run ends within about 65 s; a fresh file of ours that is hours old belongs to none still going.
  constexpr std::uint64_t kLeftoverAgeMs = 2 * 60 * 60 * 1000;
  RemoveLeftoverFiles(folder, std::wstring(kFreshFilesPattern), IsFreshFileOfOurs, kLeftoverAgeMs);
}

}  // namespace isetup
