// DPI awareness and a window's DPI, looked up dynamically in user32 and shcore.
#include "ui/window_dpi_win.h"

#include "base/gdi_win.h"
#include "ui/dpi_scale.h"

namespace isetup::ui {
namespace {

// GetProcAddress's result as the function type it really has. The detour through void (*)() is the
// conversion GCC accepts without a cast-function-type warning.
template <typename Function>
Function Lookup(const wchar_t* module, const char* name) {
  HMODULE handle = GetModuleHandleW(module);
  if (!handle) handle = LoadLibraryW(module);
  if (!handle) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(handle, name)));
}

using SetContextFunction = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
using SetAwarenessFunction = HRESULT(WINAPI*)(int);
using SetAwareFunction = BOOL(WINAPI*)();
using DpiForWindowFunction = UINT(WINAPI*)(HWND);

constexpr int kProcessPerMonitorDpiAware = 2;  // PROCESS_PER_MONITOR_DPI_AWARE of shellscalingapi.h

}  // namespace

bool DeclareDpiAwareness() {
  if (const auto setContext = Lookup<SetContextFunction>(L"user32.dll", "SetProcessDpiAwarenessContext")) {
    // Version 2 is refused as unknown by systems (and Wine) that have only version 1.
    for (const DPI_AWARENESS_CONTEXT context : {DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2,
                                                DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE}) {
      if (setContext(context)) return true;
      // Declared already (by the manifest, as in the program): the older calls would be refused too, so
      // shcore is not loaded for them.
      if (GetLastError() == ERROR_ACCESS_DENIED) return IsProcessDPIAware() != FALSE;
    }
  }
  if (const auto setAwareness = Lookup<SetAwarenessFunction>(L"shcore.dll", "SetProcessDpiAwareness")) {
    if (SUCCEEDED(setAwareness(kProcessPerMonitorDpiAware))) return true;
  }
  if (const auto setAware = Lookup<SetAwareFunction>(L"user32.dll", "SetProcessDPIAware")) {
    return setAware() != FALSE;
  }
  return false;
}

int WindowDpi(HWND window) {
  static const auto dpiForWindow = Lookup<DpiForWindowFunction>(L"user32.dll", "GetDpiForWindow");
  if (dpiForWindow && window) {
    const UINT dpi = dpiForWindow(window);
    if (dpi > 0) return static_cast<int>(dpi);
  }
  WindowDC dc(window);
  const int dpi = dc ? GetDeviceCaps(dc.get(), LOGPIXELSY) : 0;
  return dpi > 0 ? dpi : kDesignDpi;
}

}  // namespace isetup::ui
