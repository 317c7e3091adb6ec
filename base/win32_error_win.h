// The one place where a Win32 failure becomes an IoError carrying the system's error code.
#pragma once

#include <cstdint>

namespace isetup {

// Throws IoError with GetLastError() and `what` (what was being done, e.g. "cannot open ...").
[[noreturn]] void ThrowLastError(const char* what);

// Throws IoError with the given system error code, for failures that set no last error.
[[noreturn]] void ThrowWin32Error(std::uint32_t code, const char* what);

}  // namespace isetup
