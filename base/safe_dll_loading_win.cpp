// The DLL search of the program, and the delay-load hook through which every DLL that is not one of
// Windows' KnownDLLs is loaded (cmake/InternetSetupDelayLoad.cmake links the program that way).
#include "base/safe_dll_loading_win.h"

#include <delayimp.h>

#include <cwchar>

namespace isetup {

bool RestrictDllSearchToSystemFolder() noexcept {
  // Looked up at run time: the function came with an update of Windows 7, not with the system itself.
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto setDefault = kernel ? reinterpret_cast<SetDefaultDllDirectoriesFunction>(
                                       reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")))
                                 : nullptr;
  if (setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return true;
  SetDllDirectoryW(L"");
  return false;
}

HMODULE LoadSystemLibrary(const wchar_t* name) noexcept {
  if (name == nullptr || *name == L'\0' || std::wcspbrk(name, L"\\/:") != nullptr) return nullptr;
  HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module != nullptr || GetLastError() != ERROR_INVALID_PARAMETER) return module;
  // The flag is unknown to this system: name the file in the system folder in full instead.
  wchar_t path[MAX_PATH];
  const UINT length = GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length + 1 + std::wcslen(name) >= MAX_PATH) return nullptr;
  path[length] = L'\\';
  std::wcscpy(path + length + 1, name);
  return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

namespace {

// The runtime's delay-load helper asks this hook before it loads a DLL. Answering with the module
// loaded from the system folder takes the place of its own LoadLibrary, which would search the
// program's folder first. When the DLL is not in the system folder the load fails the way a delay-load
// failure always does (the exception the runtime raises), and the runtime's own load is never tried.
FARPROC WINAPI LoadDelayedLibraryFromSystemFolder(unsigned notification, PDelayLoadInfo info) {
  if (notification != dliNotePreLoadLibrary || info == nullptr || info->szDll == nullptr) return nullptr;
  wchar_t name[MAX_PATH];
  std::size_t length = 0;
  for (; info->szDll[length] != '\0'; ++length) {
    const unsigned char c = static_cast<unsigned char>(info->szDll[length]);
    if (length + 1 >= MAX_PATH || c >= 0x80) {
      length = 0;  // DLL names in our import table are plain ASCII; anything else is refused
      break;
    }
    name[length] = static_cast<wchar_t>(c);
  }
  name[length] = L'\0';
  HMODULE module = length > 0 ? LoadSystemLibrary(name) : nullptr;
  if (module == nullptr) {
    info->dwLastError = GetLastError();
    ULONG_PTR argument = reinterpret_cast<ULONG_PTR>(info);
    RaiseException(VcppException(ERROR_SEVERITY_ERROR, ERROR_MOD_NOT_FOUND), 0, 1, &argument);
  }
  return reinterpret_cast<FARPROC>(module);
}

}  // namespace
}  // namespace isetup

// The runtime's delay-load helper reads this hook; defining it here replaces the runtime's empty one.
extern "C" {
PfnDliHook __pfnDliNotifyHook2 = isetup::LoadDelayedLibraryFromSystemFolder;
}
