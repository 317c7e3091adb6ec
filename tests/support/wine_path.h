// For tests that run under Wine: a build-tree path (a Unix path) as the Windows side sees it.
#pragma once

#include <string>
#include <string_view>

namespace isetup::testing {

// Wine shows the Unix root as drive Z:; "/work/build/x.exe" is "Z:\work\build\x.exe". Relative paths
// only have their separators turned.
inline std::wstring WindowsPath(std::string_view unixPath) {
  std::wstring out(unixPath.begin(), unixPath.end());
  if (!out.empty() && out.front() == L'/') out.insert(0, L"Z:");
  for (wchar_t& c : out) {
    if (c == L'/') c = L'\\';
  }
  return out;
}

}  // namespace isetup::testing
