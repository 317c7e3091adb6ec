// Turning Win32 error codes into the program's IoError.
#include "base/win32_error_win.h"

#include <windows.h>

#include <string>

#include "base/io_error.h"

namespace isetup {

void ThrowWin32Error(std::uint32_t code, const char* what) {
  throw IoError(code, std::string(what) + " (system error " + std::to_string(code) + ")");
}

void ThrowLastError(const char* what) { ThrowWin32Error(GetLastError(), what); }

}  // namespace isetup
