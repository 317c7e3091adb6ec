// The user's temp folder, in its long form, ending with a backslash.
#pragma once

#include <string>

namespace isetup {

// Always a folder path ending with "\": the long form when it can be made, else the path as the system
// gave it; the 8.3 form when the long one leaves no room for the program's file names. A folder that
// does not exist is created first.
std::wstring GetTempFolder();

// Removes what killed runs of ours left in `folder` (see IsFreshFileOfOurs) once it is hours old, so
// that such files never pile up while a run going on beside this one keeps its own.
void RemoveLeftoversOfKilledRuns(const std::wstring& folder) noexcept;

}  // namespace isetup
