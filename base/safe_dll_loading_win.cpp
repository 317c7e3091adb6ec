// The DLL search of the program, and the delay-load hook through which every DLL that is not one of
// Windows' KnownDLLs is loaded (cmake/InternetSetupDelayLoad.cmake links the program that way).
#include "base/safe_dll_loading_win.h"

#include <delayimp.h>

#include <cstring>
#include <cwchar>
#include <string>

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

// Stand-ins for a delay-loaded function that cannot be had (its DLL is not in the system folder, or the
// DLL loaded under that name lacks it: an older Windows, or under Wine a planted version.dll that the
// platform's own user32 loaded before our first line ran). Each returns its routine's own failure
// value, so the caller takes the failure road it already has: no own version, download failed,
// signature not verified, no accessibility object. Taking no arguments is sound on x64, where the caller
// owns and cleans up its arguments.
LONG_PTR WINAPI ReturnsZero() {  // FALSE, 0, a null pointer or handle; nothing for a void routine
  SetLastError(ERROR_PROC_NOT_FOUND);
  return 0;
}
LONG_PTR WINAPI ReturnsFailureCode() {  // a failing HRESULT, NTSTATUS or LRESULT: negative in every width
  SetLastError(ERROR_PROC_NOT_FOUND);
  return static_cast<LONG_PTR>(static_cast<LONG>(E_FAIL));
}

// Every function named in cmake/delay_load/*.def whose result is a status code; the others fail with 0.
constexpr const char* kStatusCodeFunctions[] = {
    "BCryptCloseAlgorithmProvider", "BCryptCreateHash", "BCryptDestroyHash", "BCryptDestroyKey",
    "BCryptFinishHash", "BCryptHashData", "BCryptImportKeyPair", "BCryptOpenAlgorithmProvider",
    "BCryptVerifySignature", "CoInitializeEx", "CreateStdAccessibleObject", "LresultFromObject", "DispInvoke",
    "URLDownloadToFileW"};
constexpr const char* kZeroFunctions[] = {
    "InitCommonControlsEx", "AlphaBlend", "GradientFill", "TransparentBlt", "CoUninitialize", "SysAllocStringLen",
    "VariantInit", "ShellExecuteW", "GetFileVersionInfoSizeW", "GetFileVersionInfoW", "VerQueryValueW",
    "InternetGetConnectedState"};

template <std::size_t N>
bool Names(const char* const (&names)[N], const char* function) {
  for (const char* name : names) {
    if (std::strcmp(name, function) == 0) return true;
  }
  return false;
}

FARPROC StandInFor(PDelayLoadInfo info) {
  if (info == nullptr || !info->dlp.fImportByName || info->dlp.szProcName == nullptr) return nullptr;
  return DelayLoadStandIn(info->dlp.szProcName);
}

// The DLL's name as the import table spells it, widened; empty when it is not plain ASCII.
std::wstring WideDllName(const char* dll) {
  std::wstring name;
  for (; dll != nullptr && *dll != '\0'; ++dll) {
    const unsigned char c = static_cast<unsigned char>(*dll);
    if (name.size() + 1 >= MAX_PATH || c >= 0x80) return {};  // DLL names in our import table are plain ASCII
    name.push_back(static_cast<wchar_t>(c));
  }
  return name;
}

HMODULE LoadFromSystemFolder(PDelayLoadInfo info) {
  const std::wstring name = WideDllName(info->szDll);
  return name.empty() ? nullptr : LoadSystemLibrary(name.c_str());
}

// The runtime's delay-load helper asks this hook before it loads a DLL. Answering with the module
// loaded from the system folder takes the place of its own LoadLibrary, which would search the
// program's folder first. A DLL that the system folder lacks is settled before that, when the helper
// starts: the function's stand-in is returned, so the runtime's own load is never tried.
FARPROC WINAPI LoadDelayedLibraryFromSystemFolder(unsigned notification, PDelayLoadInfo info) {
  if (info == nullptr || info->szDll == nullptr) return nullptr;
  if (notification == dliStartProcessing) {
    // The DLL stays loaded (nothing of ours unloads it), so the pre-load below finds it again.
    return LoadFromSystemFolder(info) == nullptr ? StandInFor(info) : nullptr;
  }
  if (notification != dliNotePreLoadLibrary) return nullptr;
  HMODULE module = LoadFromSystemFolder(info);
  if (module == nullptr) {
    // Only for a function without a stand-in: the failure every delay-load failure is.
    info->dwLastError = GetLastError();
    ULONG_PTR argument = reinterpret_cast<ULONG_PTR>(info);
    RaiseException(VcppException(ERROR_SEVERITY_ERROR, ERROR_MOD_NOT_FOUND), 0, 1, &argument);
  }
  return reinterpret_cast<FARPROC>(module);
}

// A DLL that is there but lacks the function: its stand-in, which the helper then keeps for later calls.
FARPROC WINAPI StandInForMissingFunction(unsigned notification, PDelayLoadInfo info) {
  return notification == dliFailGetProc ? StandInFor(info) : nullptr;
}

}  // namespace

FARPROC DelayLoadStandIn(const char* function) noexcept {
  if (function == nullptr) return nullptr;
  if (Names(kStatusCodeFunctions, function)) return reinterpret_cast<FARPROC>(ReturnsFailureCode);
  if (Names(kZeroFunctions, function)) return reinterpret_cast<FARPROC>(ReturnsZero);
  return nullptr;
}

}  // namespace isetup

// The runtime's delay-load helper reads these hooks; defining them here replaces the runtime's empty ones.
extern "C" {
PfnDliHook __pfnDliNotifyHook2 = isetup::LoadDelayedLibraryFromSystemFolder;
PfnDliHook __pfnDliFailureHook2 = isetup::StandInForMissingFunction;
}
