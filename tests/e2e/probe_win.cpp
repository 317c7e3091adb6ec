// Watches InternetSetup's window from another process, the way a screen reader would: class names,
// visibility and window texts. Prints each change as one UTF-8 line and can act on the window.
//
//   probe.exe [--timeout-ms N] [--action click|close|endsession --when visible|searching|downloading|
//             gauge-mid|gauge-full|finished-label]
#include <windows.h>

#include <string>
#include <string_view>

#include "app/status_texts.h"

namespace {

struct WindowState {
  bool present = false;
  bool visible = false;
  std::wstring caption, label, gauge, button;
  bool operator==(const WindowState&) const = default;
};

std::wstring TextOf(HWND hwnd) {
  if (hwnd == nullptr) return L"<none>";
  wchar_t buffer[1024] = {};
  GetWindowTextW(hwnd, buffer, 1024);
  return buffer;
}

HWND Child(HWND parent, const wchar_t* className) { return FindWindowExW(parent, nullptr, className, nullptr); }

WindowState Observe(HWND& form) {
  WindowState state;
  form = FindWindowW(L"TInternetSetupForm", nullptr);
  if (form == nullptr) return state;
  state.present = true;
  state.visible = IsWindowVisible(form) != FALSE;
  state.caption = TextOf(form);
  state.label = TextOf(Child(form, L"TSkinLabel"));
  state.gauge = TextOf(Child(form, L"TSkinGauge"));
  state.button = TextOf(Child(form, L"TSkinButton"));
  return state;
}

void Print(const std::wstring& line) {
  std::wstring text = line + L"\n";
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

bool StartsWith(const std::wstring& text, std::wstring_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// N of "Загружено N%", -1 without digits.
int GaugePercent(const std::wstring& gauge) {
  const std::size_t digits = gauge.find_first_of(L"0123456789");
  return digits == std::wstring::npos ? -1 : _wtoi(gauge.c_str() + digits);
}

bool Triggered(const std::wstring& when, const WindowState& state) {
  if (!state.visible) return false;
  if (when == L"visible") return true;
  if (when == L"searching") return state.label == isetup::StatusSearching;
  if (when == L"downloading") return StartsWith(state.label, isetup::StatusDownloading);
  if (when == L"gauge-mid") return GaugePercent(state.gauge) > 0 && GaugePercent(state.gauge) < 100;
  // The whole installer is in and being checked: still the downloading text, the gauge full.
  if (when == L"gauge-full") return StartsWith(state.label, isetup::StatusDownloading) && GaugePercent(state.gauge) == 100;
  if (when == L"finished-label") return state.label == isetup::StatusCompleted;
  return false;
}

void Act(const std::wstring& action, HWND form) {
  if (action == L"click") {
    HWND button = Child(form, L"TSkinButton");
    RECT box{};
    GetClientRect(button, &box);
    const LPARAM point = MAKELPARAM(box.right / 2, box.bottom / 2);
    PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, point);
    PostMessageW(button, WM_LBUTTONUP, 0, point);
  } else if (action == L"close") {
    PostMessageW(form, WM_CLOSE, 0, 0);
  } else if (action == L"endsession") {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(form, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 5000, &result);
    Print(L"endsession-answer\t" + std::to_wstring(result));
  }
  Print(L"acted\t" + action);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  DWORD timeoutMs = 120000;
  std::wstring action, when;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::wstring_view flag = argv[i];
    if (flag == L"--timeout-ms") timeoutMs = static_cast<DWORD>(_wtoi(argv[i + 1]));
    else if (flag == L"--action") action = argv[i + 1];
    else if (flag == L"--when") when = argv[i + 1];
  }
  Print(L"ready");
  const ULONGLONG start = GetTickCount64();
  WindowState last;
  bool seen = false;
  bool acted = action.empty();
  while (GetTickCount64() - start < timeoutMs) {
    HWND form = nullptr;
    const WindowState state = Observe(form);
    if (!(state == last)) {
      const std::wstring elapsed = std::to_wstring(GetTickCount64() - start);
      if (state.present) {
        Print(L"state\t" + elapsed + L"\t" + (state.visible ? L"1" : L"0") + L"\t" + state.caption + L"\t" +
              state.label + L"\t" + state.gauge + L"\t" + state.button);
      } else if (seen) {
        Print(L"gone\t" + elapsed);
        return 0;
      }
      last = state;
    }
    seen = seen || state.present;
    if (!acted && Triggered(when, state)) {
      Act(action, form);
      acted = true;
    }
    Sleep(10);
  }
  Print(L"timeout");
  return 0;
}
