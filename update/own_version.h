// The program's own FileVersion text from its version resource.
#pragma once

#include <string>

namespace isetup {

// The FileVersion string of the first translation of the running program's version resource;
// empty when there is none. Never throws.
std::wstring GetOwnFileVersion();

}  // namespace isetup
