// Where the program's DLLs come from: the system folder only, never the folder the program was
// started from (a download folder, where anyone may have left a version.dll or urlmon.dll).
#pragma once

#include <windows.h>

namespace isetup {

// First thing at program start: every later load by name, ours and the system's own, searches the
// system folder only. On systems without SetDefaultDllDirectories (Windows 7 before KB2533623) the
// current folder is at least taken out of the search. Returns whether the system-folder-only search
// is in force.
bool RestrictDllSearchToSystemFolder() noexcept;

// Loads `name` (a bare file name such as L"urlmon.dll") from the system folder only; null when it is
// not there. A name that the process's activation context redirects (comctl32.dll version 6 from the
// manifest) still resolves through that redirection.
HMODULE LoadSystemLibrary(const wchar_t* name) noexcept;

// What the delay-load hooks bind `function` to when it cannot be had from the system's DLL: a routine
// that returns the function's own failure value (0, or a failing status code). Null for a function the
// program does not delay-load, whose failure stays the delay-load exception.
FARPROC DelayLoadStandIn(const char* function) noexcept;

}  // namespace isetup
