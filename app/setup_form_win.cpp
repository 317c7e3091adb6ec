// The setup window's controller: start of the run, the two roads, cancel, and the close protocol that
// launches the installer once.
#include "app/setup_form_win.h"

#include <shellapi.h>

#include <cassert>

#include "app/connectivity_check_win.h"
#include "app/launch_guard_win.h"
#include "app/run_threads_win.h"
#include "run/status_texts.h"
#include "run/thread_layer.h"
#include "payload/embedded_installer.h"
#include "payload/temp_folder.h"
#include "payload/temp_paths.h"
#include "resources/resource_ids.h"
#include "ui/dpi_scale.h"
#include "ui/setup_form_layout.h"
#include "ui/window_dpi_win.h"
#include "update/own_version.h"

namespace isetup {
namespace {

constexpr UINT_PTR kTimer1 = 1;
constexpr ui::Size kClientSize{440, 97};  // at 96 dpi
constexpr int kPlainGaugeHeight = 25;

// The plain look, used when the stored skin cannot be loaded: a fixed dialog frame without window menu,
// caption buttons or icon.
constexpr DWORD kPlainStyle = WS_POPUP | WS_CAPTION | WS_CLIPCHILDREN;
constexpr DWORD kPlainExStyle = WS_EX_DLGMODALFRAME;

// The stored skin as the program image carries it, read in place; empty when it is missing.
std::span<const std::uint8_t> StoredSkinResource() {
  const HMODULE self = GetModuleHandleW(nullptr);
  const HRSRC found = FindResourceW(self, MAKEINTRESOURCEW(INTERNETSETUP_STORED_SKIN_ID), RT_RCDATA);
  if (!found) return {};
  const HGLOBAL loaded = LoadResource(self, found);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes) return {};
  return {static_cast<const std::uint8_t*>(bytes), SizeofResource(self, found)};
}

// The skin loaded from the stored one; none when it is missing or cannot be loaded (the plain look).
std::optional<ui::Skin> LoadSkinFrom(std::span<const std::uint8_t> stored) {
  if (stored.empty()) return std::nullopt;
  ui::SkinResult<ui::Skin> loaded = ui::LoadStoredSkinChecked(stored);
  if (!loaded.ok()) return std::nullopt;
  return std::move(loaded).value();
}

// The stored skin being loaded on a thread since the online road was known; never freed, like the run.
WorkAhead<std::optional<ui::Skin>>* g_skinAhead = nullptr;

// The outer size of the plain frame around the client area at dpi.
SIZE PlainFrameSize(int dpi) {
  const ui::Size client = ui::ScaleForDpi(kClientSize, dpi);
  RECT frame{0, 0, client.width, client.height};
  AdjustWindowRectEx(&frame, kPlainStyle, FALSE, kPlainExStyle);
  return {frame.right - frame.left, frame.bottom - frame.top};
}

void MoveControl(HWND control, const ui::Box& box) {
  if (control) MoveWindow(control, box.left, box.top, box.width(), box.height(), TRUE);
}

// The embedded installer at SetupPath (under the second name when that cannot be replaced), then Finished.
void FinishWithEmbeddedInstaller(SetupRun& run) {
  run.SetupPath.Set(WriteOrUseSecondName(run.SetupPath.Get(), WriteEmbeddedInstallerForLaunch));
  run.State.Finished.store(true);
}

// Launched is claimed before the shell is called: a close that arrives while the shell pumps messages
// must not launch a second time. Only the installer held since its write or verification is launched,
// so nothing swapped in meanwhile.
void LaunchOnce(SetupRun& run, HWND owner) {
  if (!run.State.Launched.exchange(true)) (void)TheLaunchGuard().LaunchHeld(owner, run.SetupPath.Get());
}

}  // namespace

TInternetSetupForm::TInternetSetupForm(SetupRun& run, SyncCallQueue& sync) : run_(run), sync_(sync) {}

bool TInternetSetupForm::Create(HWND owner) {
  // Created bare and hidden: the skin, the frame and the controls come only when the online road is about
  // to show the window (PrepareLook), so the offline road, which never shows it, pays for none of them.
  const SIZE frame = PlainFrameSize(ui::kDesignDpi);
  if (!CreateBound({.name = kClassName, .background = GetSysColorBrush(COLOR_BTNFACE)},
                   {.exStyle = kPlainExStyle,
                    .style = kPlainStyle,
                    .x = CW_USEDEFAULT,
                    .y = CW_USEDEFAULT,
                    .width = frame.cx,
                    .height = frame.cy,
                    .parent = owner})) {
    return false;
  }
  FormCreate();
  return true;
}

LRESULT TInternetSetupForm::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT answer = 0;
  if (SkinForm1.HandleMessage(message, wParam, lParam, answer)) return answer;
  switch (message) {
    case WM_CREATE:
      dpi_ = ui::WindowDpi(hwnd());
      return 0;
    case WM_DPICHANGED:
      ApplyDpi(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
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
      const LRESULT hit = DefaultHandling(message, wParam, lParam);
      return (hit >= HTLEFT && hit <= HTBOTTOMRIGHT) || hit == HTSIZE ? HTBORDER : hit;
    }
    default:
      break;
  }
  return DefaultHandling(message, wParam, lParam);
}

void StartLoadingStoredSkin() {
  g_skinAhead = new WorkAhead<std::optional<ui::Skin>>([] { return LoadSkinFrom(StoredSkinResource()); });
}

void TInternetSetupForm::LoadStoredSkin() {
  CompressedStoredSkin1 = StoredSkinResource();
  // A skin that cannot be loaded leaves the plain look; nothing is reported.
  SkinData1 = g_skinAhead ? g_skinAhead->Take() : LoadSkinFrom(CompressedStoredSkin1);
}

void TInternetSetupForm::PrepareLook() {
  LoadStoredSkin();
  // With a skin the frame is drawn by SkinForm1 alone; it sizes the window for its DPI as it attaches.
  if (SkinData1) {
    SetWindowLongPtrW(hwnd(), GWL_STYLE, ui::kSkinnedFrameStyle);
    SetWindowLongPtrW(hwnd(), GWL_EXSTYLE, 0);
  }
  dpi_ = ui::WindowDpi(hwnd());
  AttachSkin();
  CreateComponents();
  ApplyControlLook();
}

void TInternetSetupForm::AttachSkin() {
  const bool blur = ui::SetupFormComponent(ui::ComponentRole::FrameSkin).clientInactiveBlur;
  if (SkinData1 && SkinForm1.Attach(hwnd(), *SkinData1, kClientSize, blur)) return;
  // No skinned frame: the plain dialog frame, sized for the DPI.
  if ((GetWindowLongPtrW(hwnd(), GWL_STYLE) & WS_CAPTION) != WS_CAPTION) {
    SetWindowLongPtrW(hwnd(), GWL_STYLE, kPlainStyle);
    SetWindowLongPtrW(hwnd(), GWL_EXSTYLE, kPlainExStyle);
  }
  const SIZE frame = PlainFrameSize(dpi_);
  SetWindowPos(hwnd(), nullptr, 0, 0, frame.cx, frame.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

void TInternetSetupForm::CreateComponents() {
  using ui::ComponentRole;
  using ui::SetupFormComponent;
  // Placed for the plain look at 96 dpi here; ApplyControlLook moves them for the skin and the DPI.
  const ui::SetupFormBoxes boxes = ui::LayOutSetupForm(kClientSize, kPlainGaugeHeight);
  // Created in tab order: the button, the gauge, the label. A control that cannot be created leaves a
  // window without it; the run itself does not depend on them.
  (void)CancelButton.Create(hwnd(), boxes.cancelButton, SetupFormComponent(ComponentRole::CancelButton),
                            [this] { CancelButtonClick(); });
  (void)SkinGauge1.Create(hwnd(), boxes.gauge, SetupFormComponent(ComponentRole::ProgressGauge));
  (void)SkinLabel1.Create(hwnd(), boxes.label, SetupFormComponent(ComponentRole::StatusLine));
}

void TInternetSetupForm::ApplyControlLook() {
  std::unique_ptr<ui::SkinnedControlLook> look = SkinData1 ? ui::SkinnedControlLook::Create(*SkinData1, dpi_) : nullptr;
  const ui::ButtonSkinEntry* button = look ? look->Button() : nullptr;
  const ui::GaugeSkinEntry* gauge = look ? look->Gauge() : nullptr;
  const ui::LabelSkinEntry* label = look ? look->Label() : nullptr;
  CancelButton.SetDpi(dpi_);
  SkinGauge1.SetDpi(dpi_);
  SkinLabel1.SetDpi(dpi_);
  CancelButton.SetSkinEntry(button);
  SkinGauge1.SetSkinEntry(gauge);
  SkinLabel1.SetSkinEntry(label);
  // The old look goes only now that no control holds its entries any more.
  controlLook_ = std::move(look);

  // The 96-dpi layout, each edge scaled; a gauge skin that keeps its height decides the gauge's.
  const ui::SetupFormBoxes boxes = ui::LayOutSetupForm(kClientSize, kPlainGaugeHeight);
  ui::Box gaugeBox = ui::ScaleForDpi(boxes.gauge, dpi_);
  if (gauge && gauge->FixedHeight() > 0) gaugeBox.bottom = gaugeBox.top + gauge->FixedHeight();
  MoveControl(CancelButton.hwnd(), ui::ScaleForDpi(boxes.cancelButton, dpi_));
  MoveControl(SkinGauge1.hwnd(), gaugeBox);
  MoveControl(SkinLabel1.hwnd(), ui::ScaleForDpi(boxes.label, dpi_));
}

void TInternetSetupForm::ApplyDpi(int dpi, const RECT* suggested) {
  if (dpi <= 0 || dpi == dpi_) return;
  if (SkinForm1.attached()) {
    // A frame that cannot be drawn at the new DPI keeps its look, and the controls keep theirs with it.
    if (!SkinForm1.SetDpi(dpi, suggested)) return;
  } else if (suggested) {
    SetWindowPos(hwnd(), nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  dpi_ = dpi;
  ApplyControlLook();
}

void FixRunValues(SetupRun& run) {
  run.TempFolder = GetTempFolder();
  run.SetupPath.Set(run.TempFolder + std::wstring(kSetupFileName));
  run.VersionInfoPath = run.TempFolder + std::wstring(kVersionInfoFileName);
}

void FixOnlineRunValues(SetupRun& run) {
  run.AffiliateQuery = ExtractEmbeddedAffiliateQuery();
  run.OwnVersionText = GetOwnFileVersion();
}

void RunOfflineRoad(SetupRun& run) {
  FinishWithEmbeddedInstaller(run);
  LaunchOnce(run, nullptr);
}

void TInternetSetupForm::FormCreate() { PostMessageW(hwnd(), WM_START_SETUP, 0, 0); }

void TInternetSetupForm::WMStartSetup() {
  if (!IsOnline()) {
    StartOfflineRoad();
    return;
  }
  const std::wstring caption = std::wstring(CaptionPrefix) + L" " + run_.OwnVersionText;
  SetWindowTextW(hwnd(), caption.c_str());
  run_.StatusText.Set(std::wstring(StatusSearching));
  PrepareLook();
  ShowCentred();
  // After the window, which so appears a few milliseconds sooner (showing the owner maps a window too).
  ShowTaskbarEntry(caption);
  if (!StartDownloadThread(run_, sync_, *this)) {
    // Without a worker nobody would ever finish the run: take the embedded installer at once.
    StartOfflineRoad();
    return;
  }
  // Without a monitor the worker still ends the run; only the time bound and the refresh are lost.
  StartStatusThread(run_, sync_, *this);
}

void TInternetSetupForm::StartOfflineRoad() {
  FinishWithEmbeddedInstaller(run_);
  Close();
}

void TInternetSetupForm::ShowTaskbarEntry(const std::wstring& caption) {
  // The owner keeps the program's one taskbar entry, under the window's caption; activating it brings
  // this window forward (the program entry's window procedure).
  const HWND application = GetWindow(hwnd(), GW_OWNER);
  if (!application) return;
  SetWindowTextW(application, caption.c_str());
  ShowWindow(application, SW_SHOWNA);
}

void TInternetSetupForm::ShowCentred() {
  RECT window{};
  GetWindowRect(hwnd(), &window);
  const int width = window.right - window.left;
  const int height = window.bottom - window.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  SetWindowPos(hwnd(), nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(hwnd(), SW_SHOWNORMAL);
  UpdateWindow(hwnd());
}

void TInternetSetupForm::Close() {
  assert(OnOwnThread());
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
  LaunchOnce(run_, hwnd());
  SetTimer(hwnd(), kTimer1, SetupFormComponent(ui::ComponentRole::CloseTimer).timerInterval, nullptr);
}

void TInternetSetupForm::Timer1Timer() { Close(); }

void TInternetSetupForm::CancelButtonClick() { run_.State.CancelRequested.store(true); }

}  // namespace isetup
