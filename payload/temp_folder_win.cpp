// The user's temp folder from the system, in its long form when that can be made.
#include "payload/temp_folder.h"

#include <windows.h>

#include <vector>

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

}  // namespace

std::wstring GetTempFolder() {
  const std::wstring systemForm =
      CallWithGrowingBuffer([](wchar_t* buffer, DWORD length) { return GetTempPathW(length, buffer); });
  std::wstring longForm;
  if (!systemForm.empty()) {
    longForm = CallWithGrowingBuffer([&](wchar_t* buffer, DWORD length) {
      return GetLongPathNameW(systemForm.c_str(), buffer, length);
    });
  }
  return ChooseTempFolder(longForm, systemForm);
}

}  // namespace isetup
