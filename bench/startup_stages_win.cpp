// InternetSetup's start taken apart: a minimal window program that carries the same imports, manifest,
// version resource and 14 MB payload, and calls the same routines before it shows its window. Each
// run appends the time of each stage since process creation (ms) to the file named by
// BENCH_STAGES_LOG before it shows the window (the timer ends it once the window is visible), one
// tab-separated line:  entry  window  affiliate  version  temp  online
// Built a second time with BENCH_IMPORTS_ONLY, it makes none of those calls: the load alone.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <urlmon.h>
#include <wininet.h>

#include <cstdio>
#include <string>

#include "payload/embedded_installer.h"
#include "payload/temp_folder.h"
#include "update/own_version.h"

namespace {

double SinceCreation() {
  FILETIME created, exited, kernel, user, now;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  GetSystemTimePreciseAsFileTime(&now);
  auto ticks = [](const FILETIME& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  return static_cast<double>(ticks(now) - ticks(created)) / 10000.0;
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

// Referenced so that the loader resolves them like InternetSetup's own imports; never called.
volatile const void* const kImports[] = {reinterpret_cast<const void*>(&URLDownloadToFileW),
                                         reinterpret_cast<const void*>(&ShellExecuteW),
                                         reinterpret_cast<const void*>(&CoInitializeEx)};

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  [[maybe_unused]] double stages[6];
  stages[0] = SinceCreation();

  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  windowClass.lpszClassName = L"BenchStagesWindow";
  RegisterClassExW(&windowClass);
  HWND hwnd = CreateWindowExW(WS_EX_DLGMODALFRAME, L"BenchStagesWindow", L"", WS_POPUP | WS_CAPTION, CW_USEDEFAULT,
                              CW_USEDEFAULT, 446, 126, nullptr, nullptr, instance, nullptr);
  if (hwnd == nullptr) return 1;
  stages[1] = SinceCreation();
#ifdef BENCH_IMPORTS_ONLY
  if (kImports[0] != nullptr) {
    ShowWindow(hwnd, SW_SHOWNORMAL);
    UpdateWindow(hwnd);
  }
#else
  const std::wstring query = isetup::ExtractEmbeddedAffiliateQuery();
  stages[2] = SinceCreation();
  const std::wstring version = isetup::GetOwnFileVersion();
  stages[3] = SinceCreation();
  const std::wstring temp = isetup::GetTempFolder();
  stages[4] = SinceCreation();
  DWORD flags = 0;
  const BOOL online = InternetGetConnectedState(&flags, 0);
  stages[5] = SinceCreation();
  wchar_t log[MAX_PATH];
  if (online && kImports[0] != nullptr && !temp.empty() && GetEnvironmentVariableW(L"BENCH_STAGES_LOG", log, MAX_PATH)) {
    if (FILE* file = _wfopen(log, L"a")) {
      for (int i = 0; i < 6; ++i) std::fprintf(file, i ? "\t%.2f" : "%.2f", stages[i]);
      std::fprintf(file, "\n");
      std::fclose(file);
    }
  }
  SetWindowTextW(hwnd, (version + L" " + query).c_str());
  ShowWindow(hwnd, SW_SHOWNORMAL);
  UpdateWindow(hwnd);
#endif

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
