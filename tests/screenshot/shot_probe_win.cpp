// Helper of the screenshot tests, run under Wine beside InternetSetup.exe.
//
//   shot_probe.exe watch [--timeout-ms N]
//     Prints one UTF-8 line whenever the setup window changes: where it and its client area, button and
//     gauge lie on the screen, whether it is active and blurred, and the gauge and label texts:
//       state <visible> <active> <blurred> <window l t r b> <client l t r b> <button l t r b> <gauge l t r b>
//             <gauge text> <label text>          (tab-separated; rectangles as four blank-separated numbers)
//     Ends with "gone" when the window has been seen and is gone, or "timeout".
//   shot_probe.exe window X Y [--timeout-ms N]
//     Shows a small window of its own at (X, Y), makes it the active one, prints "shown <active>" and keeps
//     it until the timeout or until it is killed.
#include <windows.h>

#include <string>
#include <string_view>

namespace {

void Print(const std::wstring& line) {
  const std::wstring text = line + L"\n";
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::wstring TextOf(HWND hwnd) {
  wchar_t buffer[512] = {};
  if (hwnd) GetWindowTextW(hwnd, buffer, 512);
  return buffer;
}

std::wstring Rect(const RECT& r) {
  return std::to_wstring(r.left) + L" " + std::to_wstring(r.top) + L" " + std::to_wstring(r.right) + L" " +
         std::to_wstring(r.bottom);
}

RECT ScreenRect(HWND hwnd) {
  RECT rect{};
  if (hwnd) GetWindowRect(hwnd, &rect);
  return rect;
}

RECT ClientScreenRect(HWND hwnd) {
  RECT rect{};
  GetClientRect(hwnd, &rect);
  MapWindowPoints(hwnd, nullptr, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

std::wstring Observe(HWND form) {
  const HWND button = FindWindowExW(form, nullptr, L"TSkinButton", nullptr);
  const HWND gauge = FindWindowExW(form, nullptr, L"TSkinGauge", nullptr);
  const HWND label = FindWindowExW(form, nullptr, L"TSkinLabel", nullptr);
  const HWND blur = FindWindowExW(form, nullptr, L"TBlurPanel", nullptr);
  const bool blurred = blur && IsWindowVisible(blur);
  return L"state\t" + std::to_wstring(IsWindowVisible(form) ? 1 : 0) + L"\t" +
         std::to_wstring(GetForegroundWindow() == form ? 1 : 0) + L"\t" + std::to_wstring(blurred ? 1 : 0) + L"\t" +
         Rect(ScreenRect(form)) + L"\t" + Rect(ClientScreenRect(form)) + L"\t" + Rect(ScreenRect(button)) + L"\t" +
         Rect(ScreenRect(gauge)) + L"\t" + TextOf(gauge) + L"\t" + TextOf(label);
}

int Watch(DWORD timeoutMs) {
  Print(L"ready");
  const ULONGLONG start = GetTickCount64();
  std::wstring last;
  bool seen = false;
  while (GetTickCount64() - start < timeoutMs) {
    const HWND form = FindWindowW(L"TInternetSetupForm", nullptr);
    if (!form && seen) {
      Print(L"gone");
      return 0;
    }
    if (form) {
      seen = true;
      const std::wstring state = Observe(form);
      if (state != last) Print(state);
      last = state;
    }
    Sleep(10);
  }
  Print(L"timeout");
  return 0;
}

int ShowOwnWindow(int x, int y, DWORD timeoutMs) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
  wc.lpszClassName = L"ShotProbeOtherWindow";
  RegisterClassW(&wc);
  const HWND window = CreateWindowExW(0, wc.lpszClassName, L"Другое окно", WS_OVERLAPPEDWINDOW, x, y, 160, 90, nullptr,
                                      nullptr, wc.hInstance, nullptr);
  if (!window) return 1;
  ShowWindow(window, SW_SHOWNORMAL);
  SetForegroundWindow(window);
  UpdateWindow(window);
  Print(L"shown\t" + std::to_wstring(GetForegroundWindow() == window ? 1 : 0));
  const ULONGLONG start = GetTickCount64();
  MSG message;
  while (GetTickCount64() - start < timeoutMs) {
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // DPI aware like the program, so that window rectangles come in the screen's own pixels at any DPI.
  SetProcessDPIAware();
  if (argc < 2) return 2;
  const std::wstring_view mode = argv[1];
  DWORD timeoutMs = 120000;
  for (int i = 2; i + 1 < argc; ++i) {
    if (std::wstring_view(argv[i]) == L"--timeout-ms") timeoutMs = static_cast<DWORD>(_wtoi(argv[i + 1]));
  }
  if (mode == L"watch") return Watch(timeoutMs);
  if (mode == L"window" && argc >= 4) return ShowOwnWindow(_wtoi(argv[2]), _wtoi(argv[3]), timeoutMs);
  return 2;
}
