// Watches InternetSetup's window from another process, the way a screen reader would: class names,
// visibility and window texts. Prints each change as one UTF-8 line and can act on the window.
//
//   probe.exe [--timeout-ms N] [--action click|close|endsession|activate-entry --when visible|searching|downloading|
//             gauge-mid|gauge-full|finished-label]
#include <windows.h>

#include <string>
#include <string_view>

#include "tests/e2e/shown_texts.h"

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
  if (when == L"searching") return state.label == isetup::e2e::StatusSearching;
  if (when == L"downloading") return StartsWith(state.label, isetup::e2e::StatusDownloading);
  if (when == L"gauge-mid") return GaugePercent(state.gauge) > 0 && GaugePercent(state.gauge) < 100;
  // The whole installer is in and being checked: still the downloading text, the gauge full.
  if (when == L"gauge-full") return StartsWith(state.label, isetup::e2e::StatusDownloading) && GaugePercent(state.gauge) == 100;
  if (when == L"finished-label") return state.label == isetup::e2e::StatusCompleted;
  return false;
}

// The program's windows that would have a button on the taskbar: visible top-level windows that are
// unowned and no tool windows, or that ask for one (WS_EX_APPWINDOW).
struct TaskbarEntries {
  DWORD process = 0;
  int count = 0;
  HWND first = nullptr;
};

BOOL CALLBACK CountEntry(HWND hwnd, LPARAM context) {
  auto* entries = reinterpret_cast<TaskbarEntries*>(context);
  DWORD process = 0;
  GetWindowThreadProcessId(hwnd, &process);
  if (process != entries->process || !IsWindowVisible(hwnd)) return TRUE;
  const LONG_PTR exStyle = GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
  const bool unowned = GetWindow(hwnd, GW_OWNER) == nullptr && (exStyle & WS_EX_TOOLWINDOW) == 0;
  if (unowned || (exStyle & WS_EX_APPWINDOW) != 0) {
    if (++entries->count == 1) entries->first = hwnd;
  }
  return TRUE;
}

TaskbarEntries EntriesOf(HWND form) {
  TaskbarEntries entries;
  if (form) GetWindowThreadProcessId(form, &entries.process);
  if (entries.process) EnumWindows(CountEntry, reinterpret_cast<LPARAM>(&entries));
  return entries;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[256] = L"<none>";
  if (hwnd) GetClassNameW(hwnd, name, 256);
  return name;
}

// A user who clicked elsewhere and then on the program's taskbar entry: another window takes the
// foreground, then the entry is activated as the taskbar does it. Reports the foreground's class.
void ActivateTaskbarEntry(HWND form) {
  HWND elsewhere = CreateWindowExW(0, L"STATIC", L"elsewhere", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                                   nullptr, nullptr);
  SetForegroundWindow(elsewhere);
  Print(L"foreground-before\t" + ClassOf(GetForegroundWindow()));
  SetForegroundWindow(EntriesOf(form).first);
  // The program answers on its own thread: wait for the foreground to settle on one of its windows.
  const ULONGLONG deadline = GetTickCount64() + 5000;
  while (GetTickCount64() < deadline && GetForegroundWindow() != form) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    Sleep(10);
  }
  Print(L"foreground\t" + ClassOf(GetForegroundWindow()));
  DestroyWindow(elsewhere);
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
  } else if (action == L"activate-entry") {
    ActivateTaskbarEntry(form);
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
  int lastEntries = -1;
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
    // Each change of the number of taskbar entries, including the first count.
    if (const int entries = EntriesOf(form).count; entries != lastEntries) {
      Print(L"taskbar\t" + std::to_wstring(entries));
      lastEntries = entries;
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
