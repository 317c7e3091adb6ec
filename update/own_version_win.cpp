// The program's own FileVersion text, read from the version resource of its own file.
#include "update/own_version.h"

#include <windows.h>

#include <cwchar>
#include <vector>

namespace isetup {

std::wstring GetFileVersionText(const std::wstring& path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return {};
  std::vector<std::uint8_t> block(size, 0);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return {};

  struct Translation {
    WORD language;
    WORD codePage;
  };
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length) || value == nullptr ||
      length < sizeof(Translation)) {
    return {};
  }
  const auto* first = static_cast<const Translation*>(value);
  wchar_t key[64];
  std::swprintf(key, std::size(key), L"\\StringFileInfo\\%04X%04X\\FileVersion", first->language, first->codePage);
  value = nullptr;
  length = 0;
  if (!VerQueryValueW(block.data(), key, &value, &length) || value == nullptr) return {};
  // The length counts characters, the terminating zero included when there is one.
  const auto* text = static_cast<const wchar_t*>(value);
  return std::wstring(text, wcsnlen(text, length));
}

std::wstring GetOwnFileVersion() try {
  // The path may be longer than MAX_PATH: grow the buffer until the name fits.
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) return GetFileVersionText(std::wstring(path.data(), length));
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
} catch (...) {
  return {};  // out of memory: no version, like every other failure here
}

}  // namespace isetup
