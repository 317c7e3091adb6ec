// The skinned frame of a top-level window: no system frame parts; frame, caption and client background
// painted from the skin, the window shaped by its mask, the caption area dragging the window, nothing sizing
// it, and the client area blurred while the window is inactive. All of it scaled to the window's DPI.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>

#include "base/gdi_win.h"
#include "ui/blur_panel_win.h"
#include "ui/picture_canvas_win.h"
#include "ui/skin_frame.h"
#include "ui/skin_loader.h"

namespace isetup::ui {

// The window styles that leave every part of the frame to SkinFrame.
inline constexpr DWORD kSkinnedFrameStyle = WS_POPUP | WS_CLIPCHILDREN;

// Window thread only. The skin must outlive the frame.
class SkinFrame {
 public:
  SkinFrame() = default;
  SkinFrame(const SkinFrame&) = delete;
  SkinFrame& operator=(const SkinFrame&) = delete;

  // Skins window (made with kSkinnedFrameStyle) for a client area of designClient pixels at 96 dpi, at the
  // window's DPI: sizes it (keeping its top-left corner), shapes it and repaints it. False, leaving the window
  // untouched, when the skin cannot draw a frame.
  [[nodiscard]] bool Attach(HWND window, const Skin& skin, Size designClient, bool blurWhenInactive);
  bool attached() const { return look_.has_value(); }

  // Rebuilds the look for dpi. The window takes the new size at suggested's top-left corner, or at its own
  // when there is none. False, keeping the current look, when the frame cannot be drawn at that DPI.
  [[nodiscard]] bool SetDpi(int dpi, const RECT* suggested = nullptr);
  int dpi() const { return look_ ? look_->dpi : 96; }
  // Only while attached.
  const FrameMetrics& metrics() const { return look_->metrics; }
  bool active() const { return active_; }
  bool blurred() const { return blur_.visible(); }

  // Lets the frame answer one of the window's messages first: true when it did, with the answer in result.
  // Messages it only watches (activation) return false so that the window's own handling still runs.
  bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

  // The whole window, frame and caption, into dc in window coordinates (what WM_NCPAINT shows).
  void PaintFrame(HDC dc) const;
  // The client background into dc in client coordinates (WM_PAINT and WM_PRINTCLIENT).
  void PaintClient(HDC dc) const;

 private:
  bool ApplyLook(std::optional<FrameLook> look, const RECT* suggested);
  void RedrawFrame() const;
  void DrawCaption(HDC dc) const;
  void OnActivate(bool active);
  LRESULT HitTest(LPARAM screenPoint) const;

  HWND window_ = nullptr;
  const Skin* skin_ = nullptr;
  Size designClient_;
  bool blurWhenInactive_ = false;
  bool active_ = false;
  std::optional<FrameLook> look_;
  std::unique_ptr<PictureCanvas> frame_;
  std::unique_ptr<PictureCanvas> clientBackground_;
  GdiObject<HFONT> captionFont_;
  BlurPanel blur_;
};

}  // namespace isetup::ui
