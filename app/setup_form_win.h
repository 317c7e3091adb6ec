// The setup window: its controller handlers, the close-and-launch protocol, and its three controls.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "monitor/status_monitor.h"
#include "ui/base_window_win.h"
#include "ui/skin_controls_win.h"
#include "ui/skin_frame_win.h"
#include "ui/skin_loader.h"
#include "ui/skinned_control_look_win.h"

namespace isetup {

class SyncCallQueue;

// Private message that starts the run once the message loop is going (first private number + 301).
inline constexpr UINT WM_START_SETUP = WM_USER + 301;

// The values both roads need, fixed before any window or thread exists: the temp folder and the two
// paths in it.
void FixRunValues(SetupRun& run);

// The values only the online road needs (the affiliate query and the program's own version, for the
// caption and the version request), fixed before its windows and threads: the offline road neither
// scans the embedded installer for them nor loads version.dll.
void FixOnlineRunValues(SetupRun& run);

// The road without a connection, on the thread that runs the program: the embedded installer is written
// and launched, once, and no window is ever made (nothing is shown on this road).
void RunOfflineRoad(SetupRun& run);

// Starts loading the stored skin on a thread of its own, so that it is ready when the window is about to
// be shown; the online road calls it as it begins, before the windows are made.
void StartLoadingStoredSkin();

// Window thread only (checked in debug builds).
class TInternetSetupForm final : public ui::BaseWindow, public StatusView {
 public:
  static constexpr const wchar_t* kClassName = L"TInternetSetupForm";

  TInternetSetupForm(SetupRun& run, SyncCallQueue& sync);

  // Creates the window hidden, owned by `owner` so that it has no taskbar button of its own (the owner
  // keeps the program's), then runs FormCreate, which starts the online road once the message loop runs.
  // The run's values must be fixed already.
  bool Create(HWND owner);

  // The close protocol: the close query, and on yes the close handler and the end of the message loop.
  void Close();

  // Reached from the other threads through the synchronous call.
  void CloseSetupWindow() { Close(); }

  // StatusView, for the monitor's refresh.
  void SetGaugeValue(int value) override { SkinGauge1.SetValue(value); }
  void SetLabelCaption(const std::wstring& caption) override { SkinLabel1.SetCaption(caption); }

 private:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  void PrepareLook();
  void LoadStoredSkin();
  void AttachSkin();
  void CreateComponents();
  void ApplyControlLook();
  void ApplyDpi(int dpi, const RECT* suggested);
  void FormCreate();
  void WMStartSetup();
  bool FormCloseQuery();
  void FormClose();
  void Timer1Timer();
  void CancelButtonClick();
  void StartOfflineRoad();
  void ShowTaskbarEntry(const std::wstring& caption);
  void ShowCentred();

  SetupRun& run_;
  SyncCallQueue& sync_;
  int dpi_ = 96;

  // The stored skin as the program carries it, the skin loaded from it, and the frame drawn from that.
  std::span<const std::uint8_t> CompressedStoredSkin1;
  std::optional<ui::Skin> SkinData1;
  ui::SkinFrame SkinForm1;
  // The controls' skinned look at dpi_; declared before the controls, which hold its entries.
  std::unique_ptr<ui::SkinnedControlLook> controlLook_;

  ui::SkinButton CancelButton;
  ui::SkinGauge SkinGauge1;
  ui::SkinLabel SkinLabel1;
};

}  // namespace isetup
