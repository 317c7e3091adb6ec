// Program entry: the hidden application window, the setup window, the message loop, the exit.
#include <windows.h>

#include "app/connectivity_check_win.h"
#include "app/launch_guard_win.h"
#include "run/run_state.h"
#include "app/setup_form_win.h"
#include "run/thread_layer.h"
#include "base/safe_dll_loading_win.h"
#include "payload/temp_folder.h"
#include "ui/window_dpi_win.h"

namespace isetup {
namespace {

// Posted to the application window when another thread has queued a synchronous call.
constexpr UINT WM_RUN_QUEUED_CALLS = WM_APP + 1;
// Posted to it when its taskbar entry has activated it: the setup window comes forward instead.
constexpr UINT WM_BRING_SETUP_FORWARD = WM_APP + 2;

SyncCallQueue* g_sync = nullptr;
HWND g_setupWindow = nullptr;

LRESULT CALLBACK ApplicationWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_RUN_QUEUED_CALLS:
      if (g_sync) g_sync->RunPending();
      return 0;
    case WM_ACTIVATE:
      // Posted, so that the activation under way ends before another one starts.
      if (LOWORD(wParam) != WA_INACTIVE) PostMessageW(hwnd, WM_BRING_SETUP_FORWARD, 0, 0);
      break;
    case WM_BRING_SETUP_FORWARD:
      if (g_setupWindow && IsWindowVisible(g_setupWindow)) SetForegroundWindow(g_setupWindow);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

// The application-level window: it owns the setup window, so that one gets no taskbar button of its
// own, keeps the program's one taskbar entry once the online road shows it (0 by 0 pixels, so only the
// entry is seen), and receives the wake-ups of the synchronous call.
HWND CreateApplicationWindow(HINSTANCE instance) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = ApplicationWindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = L"TApplication";
  RegisterClassExW(&windowClass);
  return CreateWindowExW(WS_EX_APPWINDOW, L"TApplication", L"", WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX, 0, 0, 0, 0,
                         nullptr, nullptr, instance, nullptr);
}

// The online road: the application window, the setup window and the message loop, until the close.
void RunOnlineRoad(HINSTANCE instance, SetupRun& run) {
  // Inflating the skin's pictures goes on beside the making of the windows (the display connection).
  StartLoadingStoredSkin();
  FixOnlineRunValues(run);

  // Before the first window: the window is drawn for the monitor's DPI, not stretched by the system. The
  // manifest usually says so already, and then this call changes nothing.
  (void)ui::DeclareDpiAwareness();
  HWND application = CreateApplicationWindow(instance);
  g_sync = new SyncCallQueue([application] { PostMessageW(application, WM_RUN_QUEUED_CALLS, 0, 0); });
  auto* form = new TInternetSetupForm(run, *g_sync);
  if (application == nullptr || !form->Create(application)) {
    // No window can be made (no display, no desktop): the run still ends with the embedded installer.
    RunOfflineRoad(run);
    return;
  }
  g_setupWindow = form->hwnd();

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
    g_sync->RunPending();  // also between messages, not only on the wake-up
  }
}

int Run(HINSTANCE instance) {
  // The run's shared values and the window live until the process ends: nothing is freed, so the
  // threads can never see them go.
  auto* run = new SetupRun;
  FixRunValues(*run);
  // Every road but a successful download launches the embedded installer: it is written on a thread
  // while the connectivity check runs and sealed once the answer is in, so that a road taking it only
  // moves it in place. The offline road, which needs it at once, then waits only for the sealing. A
  // read-back beside the check held the online answer up (under Wine, 25 ms instead of 20).
  StartWritingEmbeddedInstallerAhead(run->SetupPath.Get(), [] { (void)IsOnline(); });
  const bool online = IsOnline();
  // Offline nothing is ever shown, so that road makes no window at all: it pays neither for the display
  // connection nor for the skin.
  if (!online) {
    RunOfflineRoad(*run);
  } else {
    RunOnlineRoad(instance, *run);
  }
  // The installer has been handed over: only now, on either road, what killed runs left goes, and the
  // copy written ahead when the road launched a download instead.
  DropEmbeddedInstallerAhead();
  RemoveLeftoversOfKilledRuns(run->TempFolder);
  return 0;
}

}  // namespace
}  // namespace isetup

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // Before anything can load a DLL by name: only from the system folder, never from ours.
  (void)isetup::RestrictDllSearchToSystemFolder();
  // Loading wininet and asking runs beside the work before the answer is needed.
  isetup::StartConnectivityCheck();
  isetup::Run(instance);
  // Neither thread is waited for; static destructors do not run while they may still be working.
  ExitProcess(0);
}
