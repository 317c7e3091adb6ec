// The program's own FileVersion text from its version resource.
#pragma once

#include <string>

namespace isetup {

// The FileVersion string of the first translation of the running program's version resource;
// empty when there is none. Never throws.
std::wstring GetOwnFileVersion();

// The same for any file: empty when it has no version block, no translation or no FileVersion string.
std::wstring GetFileVersionText(const std::wstring& path);

}  // namespace isetup
