// The setup window's controller: start of the run, the two roads, cancel, and the close protocol that
// launches the installer once.
#include "app/setup_form_win.h"

#include <shellapi.h>
#include <wininet.h>

#include <cassert>

#include "app/launch_guard_win.h"
#include "app/run_threads_win.h"
#include "app/status_texts.h"
#include "app/thread_layer.h"
#include "payload/embedded_installer.h"
#include "payload/temp_folder.h"
#include "payload/temp_paths.h"
#include "ui/setup_form_layout.h"
#include "update/own_version.h"

namespace isetup {
namespace {

constexpr UINT_PTR kTimer1 = 1;
constexpr ui::Size kClientSize{440, 97};
constexpr int kPlainGaugeHeight = 25;

}  // namespace

bool IsOnline() {
  DWORD flags = 0;
  return InternetGetConnectedState(&flags, 0) != FALSE;
}

TInternetSetupForm::TInternetSetupForm(SetupRun& run, SyncCallQueue& sync) : run_(run), sync_(sync) {}

bool TInternetSetupForm::Create(HINSTANCE instance, HWND owner) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  windowClass.lpszClassName = kClassName;
  RegisterClassExW(&windowClass);

  // A fixed dialog frame without window menu, caption buttons or icon.
  const DWORD style = WS_POPUP | WS_CAPTION | WS_CLIPCHILDREN;
  const DWORD exStyle = WS_EX_DLGMODALFRAME;
  RECT frame{0, 0, kClientSize.width, kClientSize.height};
  AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  ownerThread_ = GetCurrentThreadId();
  hwnd_ = CreateWindowExW(exStyle, kClassName, L"", style, CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                          frame.bottom - frame.top, owner, nullptr, instance, this);
  if (hwnd_ == nullptr) return false;
  FormCreate();
  return true;
}

LRESULT CALLBACK TInternetSetupForm::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<TInternetSetupForm*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<TInternetSetupForm*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
  return self->HandleMessage(message, wParam, lParam);
}

LRESULT TInternetSetupForm::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      CreateComponents();
      return 0;
    case WM_START_SETUP:
      WMStartSetup();
      return 0;
    case WM_CLOSE:
      Close();
      return 0;
    case WM_QUERYENDSESSION:
      // The system's logoff or shutdown query is a close request like any other.
      return FormCloseQuery() ? TRUE : FALSE;
    case WM_TIMER:
      if (wParam == kTimer1) Timer1Timer();
      return 0;
    case WM_SYSCOMMAND:
      // No window menu: keyboard access to it (Alt, F10, Alt+Space) does nothing.
      if ((wParam & 0xFFF0) == SC_KEYMENU) return 0;
      break;
    case WM_NCHITTEST: {
      // Nothing sizes the window.
      const LRESULT hit = DefWindowProcW(hwnd_, message, wParam, lParam);
      return (hit >= HTLEFT && hit <= HTBOTTOMRIGHT) || hit == HTSIZE ? HTBORDER : hit;
    }
    default:
      break;
  }
  return DefWindowProcW(hwnd_, message, wParam, lParam);
}

void TInternetSetupForm::CreateComponents() {
  using ui::ComponentRole;
  using ui::SetupFormComponent;
  const ui::SetupFormBoxes boxes = ui::LayOutSetupForm(kClientSize, kPlainGaugeHeight);
  // Created in tab order: the button, the gauge, the label. A control that cannot be created leaves a
  // window without it; the run itself does not depend on them.
  (void)CancelButton.Create(hwnd_, boxes.cancelButton, SetupFormComponent(ComponentRole::CancelButton),
                            [this] { CancelButtonClick(); });
  (void)SkinGauge1.Create(hwnd_, boxes.gauge, SetupFormComponent(ComponentRole::ProgressGauge));
  (void)SkinLabel1.Create(hwnd_, boxes.label, SetupFormComponent(ComponentRole::StatusLine));
}

void TInternetSetupForm::FormCreate() {
  run_.AffiliateQuery = ExtractEmbeddedAffiliateQuery();
  run_.OwnVersionText = GetOwnFileVersion();
  run_.TempFolder = GetTempFolder();
  run_.SetupPath.Set(run_.TempFolder + std::wstring(kSetupFileName));
  run_.VersionInfoPath = run_.TempFolder + std::wstring(kVersionInfoFileName);
  PostMessageW(hwnd_, WM_START_SETUP, 0, 0);
}

void TInternetSetupForm::WMStartSetup() {
  if (!IsOnline()) {
    StartOfflineRoad();
    return;
  }
  SetWindowTextW(hwnd_, (std::wstring(CaptionPrefix) + L" " + run_.OwnVersionText).c_str());
  run_.StatusText.Set(std::wstring(StatusSearching));
  ShowCentred();
  if (!StartDownloadThread(run_, sync_, *this)) {
    // Without a worker nobody would ever finish the run: take the embedded installer at once.
    StartOfflineRoad();
    return;
  }
  // Without a monitor the worker still ends the run; only the time bound and the refresh are lost.
  StartStatusThread(run_, sync_, *this);
}

void TInternetSetupForm::StartOfflineRoad() {
  WriteEmbeddedInstallerForLaunch(run_.SetupPath.Get());
  run_.State.Finished.store(true);
  Close();
}

void TInternetSetupForm::ShowCentred() {
  RECT window{};
  GetWindowRect(hwnd_, &window);
  const int width = window.right - window.left;
  const int height = window.bottom - window.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(hwnd_, SW_SHOWNORMAL);
  UpdateWindow(hwnd_);
}

void TInternetSetupForm::Close() {
  assert(GetCurrentThreadId() == ownerThread_);
  if (!FormCloseQuery()) return;
  FormClose();
  // The main window's accepted close ends the application.
  PostQuitMessage(0);
}

bool TInternetSetupForm::FormCloseQuery() {
  const bool finished = run_.State.Finished.load();
  if (!finished) run_.State.CancelRequested.store(true);
  return finished;
}

void TInternetSetupForm::FormClose() {
  using ui::SetupFormComponent;
  // Launched is claimed before the shell is called: a close that arrives while the shell pumps
  // messages must not launch a second time.
  if (!run_.State.Launched.exchange(true)) {
    const std::wstring setupPath = run_.SetupPath.Get();
    // Only the installer held since its write or verification, so nothing swapped in is launched.
    (void)TheLaunchGuard().LaunchHeld(hwnd_, setupPath);
  }
  SetTimer(hwnd_, kTimer1, SetupFormComponent(ui::ComponentRole::CloseTimer).timerInterval, nullptr);
}

void TInternetSetupForm::Timer1Timer() { Close(); }

void TInternetSetupForm::CancelButtonClick() { run_.State.CancelRequested.store(true); }

}  // namespace isetup
