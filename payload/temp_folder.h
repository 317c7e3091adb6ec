// The user's temp folder, in its long form, ending with a backslash.
#pragma once

#include <string>

namespace isetup {

// Always a usable folder path ending with "\": the long form when it can be made (at any length),
// else the path as the system gave it.
std::wstring GetTempFolder();

}  // namespace isetup
