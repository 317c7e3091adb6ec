// The inactive window's blur: a snapshot of the client area as the window paints it, blurred, shown in a
// child panel (window class "TBlurPanel") over the whole client area until the window is active again.
#pragma once

#include <windows.h>

#include <memory>

#include "ui/base_window_win.h"
#include "ui/picture_canvas_win.h"
#include "ui/skin_bitmap.h"

namespace isetup::ui {

inline constexpr wchar_t kBlurPanelClass[] = L"TBlurPanel";

// The client area of window drawn off screen: its own WM_PRINTCLIENT, then that of each visible child from
// the bottom of the z-order up, skip left out. Overlapping windows of other programs never get into it.
// Empty when the client area is empty or cannot be drawn.
SkinPicture SnapshotClient(HWND window, HWND skip = nullptr);

// Window thread only. The panel lets the mouse through (HTTRANSPARENT), so a click on a control under it
// reaches that control, and it never takes the focus.
class BlurPanel final : public BaseWindow {
 public:
  BlurPanel() = default;

  // Covers parent's client area with picture, above every other child; the panel is made on first use.
  [[nodiscard]] bool Show(HWND parent, const SkinPicture& picture);
  // Snapshots parent's client area, blurs it and shows it.
  [[nodiscard]] bool ShowBlurred(HWND parent);
  void Hide();
  bool visible() const;

 private:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void Paint(HDC dc) const;

  std::unique_ptr<PictureCanvas> picture_;
};

}  // namespace isetup::ui
