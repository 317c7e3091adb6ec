// The skinned frame's message handling: client area placement, frame painting, caption, shape, hit tests,
// DPI changes and the inactive blur.
#include "ui/skin_frame_win.h"

#include <windowsx.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <string>
#include <vector>

#include "base/ansi_text.h"
#include "ui/dpi_scale.h"
#include "ui/font_choice_win.h"
#include "ui/text_placement.h"
#include "ui/window_dpi_win.h"

namespace isetup::ui {
namespace {

// The window's shape as a region of the given rows of pixels; null for the whole rectangle.
HRGN CreateRunsRegion(const std::vector<Box>& runs, Size bounds) {
  if (runs.empty()) return nullptr;
  std::vector<std::byte> buffer(sizeof(RGNDATAHEADER) + runs.size() * sizeof(RECT));
  auto* data = reinterpret_cast<RGNDATA*>(buffer.data());
  data->rdh.dwSize = sizeof(RGNDATAHEADER);
  data->rdh.iType = RDH_RECTANGLES;
  data->rdh.nCount = static_cast<DWORD>(runs.size());
  data->rdh.nRgnSize = static_cast<DWORD>(runs.size() * sizeof(RECT));
  data->rdh.rcBound = {0, 0, bounds.width, bounds.height};
  auto* rects = reinterpret_cast<RECT*>(data->Buffer);
  for (std::size_t i = 0; i < runs.size(); ++i) rects[i] = {runs[i].left, runs[i].top, runs[i].right, runs[i].bottom};
  return ExtCreateRegion(nullptr, static_cast<DWORD>(buffer.size()), data);
}

std::wstring WindowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(window, text.data(), length + 1);
  text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
  return text;
}

GdiObject<HFONT> CreateCaptionFont(const SkinFont& font) {
  const std::wstring face = DecodeAnsi(font.name);
  FontRequest request;
  request.face = face;
  request.height = -font.height;  // the skin gives character heights
  request.bold = (font.style & kFontBold) != 0;
  request.italic = (font.style & kFontItalic) != 0;
  request.underline = (font.style & kFontUnderline) != 0;
  request.strikeOut = (font.style & kFontStrikeOut) != 0;
  return CreateSubstitutedFont(request);
}

}  // namespace

bool SkinFrame::Attach(HWND window, const Skin& skin, Size designClient, bool blurWhenInactive) {
  if (!window || look_) return false;
  std::optional<FrameLook> look = BuildFrameLook(skin, WindowDpi(window), designClient);
  if (!look) return false;
  window_ = window;
  skin_ = &skin;
  designClient_ = designClient;
  blurWhenInactive_ = blurWhenInactive;
  active_ = GetActiveWindow() == window;
  if (ApplyLook(std::move(look), nullptr)) return true;
  window_ = nullptr;
  skin_ = nullptr;
  return false;
}

bool SkinFrame::SetDpi(int dpi, const RECT* suggested) {
  if (!window_ || !skin_) return false;
  return ApplyLook(BuildFrameLook(*skin_, dpi, designClient_), suggested);
}

bool SkinFrame::ApplyLook(std::optional<FrameLook> look, const RECT* suggested) {
  if (!look) return false;
  auto frame = std::make_unique<PictureCanvas>(look->frame);
  auto background = std::make_unique<PictureCanvas>(look->clientBackground);
  if (!frame->valid() || !background->valid()) return false;
  captionFont_ = CreateCaptionFont(look->captionFont);
  frame_ = std::move(frame);
  clientBackground_ = std::move(background);
  look_ = std::move(look);

  // A snapshot taken at the old size no longer fits; the next deactivation takes a new one.
  blur_.Hide();
  RECT current{};
  GetWindowRect(window_, &current);
  const POINT at = suggested ? POINT{suggested->left, suggested->top} : POINT{current.left, current.top};
  const Size outer = look_->metrics.outer;
  // The frame has one size per DPI: the suggested rectangle gives the place, the look the size (the same
  // size when the system asked WM_GETDPISCALEDSIZE first).
  SetWindowPos(window_, nullptr, at.x, at.y, outer.width, outer.height,
               SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  HRGN shape = CreateRunsRegion(look_->windowRuns, outer);
  if (!SetWindowRgn(window_, shape, TRUE) && shape) DeleteObject(shape);  // the window owns it on success
  RedrawWindow(window_, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
  return true;
}

bool SkinFrame::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (!look_) return false;
  switch (message) {
    case WM_NCCALCSIZE: {
      // The client area keeps the frame's offsets from the left and top and its margins to the right and
      // bottom, whatever size the window is given.
      RECT* rect = wParam ? &reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam)->rgrc[0] : reinterpret_cast<RECT*>(lParam);
      const FrameMetrics& m = look_->metrics;
      rect->left += m.client.left;
      rect->top += m.client.top;
      rect->right = std::max(rect->left, rect->right - (m.outer.width - m.client.right));
      rect->bottom = std::max(rect->top, rect->bottom - (m.outer.height - m.client.bottom));
      result = 0;
      return true;
    }
    case WM_NCPAINT:
      RedrawFrame();
      result = 0;
      return true;
    case WM_NCACTIVATE:
      // Answered here: the system's own caption drawing must not run over the skin.
      active_ = wParam != FALSE;
      RedrawFrame();
      result = TRUE;
      return true;
    case WM_ACTIVATE:
      OnActivate(LOWORD(wParam) != WA_INACTIVE);
      return false;
    case WM_NCHITTEST:
      result = HitTest(lParam);
      return true;
    case WM_SETTEXT:
      result = DefWindowProcW(window_, message, wParam, lParam);
      RedrawFrame();
      return true;
    case WM_ERASEBKGND:
      result = 1;  // PaintClient covers every pixel
      return true;
    case WM_PAINT: {
      PaintDC paint(window_);
      if (paint) PaintClient(paint.get());
      result = 0;
      return true;
    }
    case WM_PRINTCLIENT:
      PaintClient(reinterpret_cast<HDC>(wParam));
      result = 0;
      return true;
    case WM_GETDPISCALEDSIZE: {
      // The size the frame will have at the new DPI, so that the suggested rectangle of WM_DPICHANGED fits.
      const int dpi = static_cast<int>(wParam);
      const FrameGeometry geometry =
          ScaleFrameGeometry(skin_->description, ScaleForDpi(skin_->frame->size(), dpi), dpi);
      const FrameMetrics metrics = ComputeFrameMetrics(geometry, ScaleForDpi(designClient_, dpi));
      auto* size = reinterpret_cast<SIZE*>(lParam);
      size->cx = metrics.outer.width;
      size->cy = metrics.outer.height;
      result = TRUE;
      return true;
    }
    case WM_SYSCOMMAND:
      switch (wParam & 0xFFF0) {
        case SC_SIZE:
        case SC_MAXIMIZE:
        case SC_MOUSEMENU:
        case SC_KEYMENU:
          result = 0;  // fixed size, and no window menu
          return true;
        default:
          return false;
      }
    case WM_CONTEXTMENU:
      result = 0;  // no window menu from a right click on the caption either
      return true;
    default:
      return false;
  }
}

LRESULT SkinFrame::HitTest(LPARAM screenPoint) const {
  RECT window{};
  GetWindowRect(window_, &window);
  const Point point{GET_X_LPARAM(screenPoint) - window.left, GET_Y_LPARAM(screenPoint) - window.top};
  switch (HitTestFrame(look_->metrics, point)) {
    case FrameHit::Client:
      return HTCLIENT;
    case FrameHit::Caption:
      return HTCAPTION;
    case FrameHit::Border:
      break;
  }
  return HTBORDER;  // frame that neither moves nor sizes the window
}

void SkinFrame::OnActivate(bool active) {
  if (!blurWhenInactive_) return;
  if (active) {
    blur_.Hide();
  } else if (IsWindowVisible(window_)) {
    (void)blur_.ShowBlurred(window_);  // without a snapshot the live client area simply stays
  }
}

void SkinFrame::RedrawFrame() const {
  WindowFrameDC dc(window_);
  if (!dc) return;
  const Box& client = look_->metrics.client;
  ExcludeClipRect(dc.get(), client.left, client.top, client.right, client.bottom);
  PaintFrame(dc.get());
}

void SkinFrame::PaintFrame(HDC dc) const {
  if (!look_ || !frame_ || !dc) return;
  const Size outer = look_->metrics.outer;
  PaintBuffer buffer(dc, outer.width, outer.height);
  const HDC target = buffer.valid() ? buffer.dc() : dc;
  frame_->DrawTo(target, 0, 0);
  DrawCaption(target);
  if (buffer.valid()) buffer.CopyTo(dc);
}

void SkinFrame::DrawCaption(HDC dc) const {
  const Box& band = look_->metrics.captionText;
  if (band.width() <= 0 || band.height() <= 0) return;
  const std::wstring caption = WindowText(window_);
  if (caption.empty()) return;
  SelectGuard font(dc, captionFont_.get());
  const auto measure = [dc](std::wstring_view text) {
    SIZE size{};
    return GetTextExtentPoint32W(dc, text.data(), static_cast<int>(text.size()), &size) ? size.cx : INT_MAX;
  };
  const std::wstring shown = FitCaption(caption, band.width(), measure);
  SIZE extent{};
  GetTextExtentPoint32W(dc, shown.data(), static_cast<int>(shown.size()), &extent);
  const Point origin = PlaceText(band, {extent.cx, extent.cy}, look_->captionAlignment, look_->captionFont.height);
  const SkinColour colour = active_ ? look_->activeCaptionColour : look_->inactiveCaptionColour;
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, static_cast<COLORREF>(colour.bgr));
  const RECT clip{band.left, band.top, band.right, band.bottom};
  ExtTextOutW(dc, origin.x, origin.y, ETO_CLIPPED, &clip, shown.data(), static_cast<UINT>(shown.size()), nullptr);
}

void SkinFrame::PaintClient(HDC dc) const {
  if (!clientBackground_ || !dc) return;
  RECT client{};
  GetClientRect(window_, &client);
  PaintBuffer buffer(dc, client.right, client.bottom);
  const HDC target = buffer.valid() ? buffer.dc() : dc;
  clientBackground_->TileTo(target, {0, 0, client.right, client.bottom});
  if (buffer.valid()) buffer.CopyTo(dc);
}

}  // namespace isetup::ui
