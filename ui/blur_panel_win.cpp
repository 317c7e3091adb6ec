// Snapshot of a client area through WM_PRINTCLIENT, and the click-through panel that shows it blurred.
#include "ui/blur_panel_win.h"

#include "ui/stack_blur.h"

namespace isetup::ui {
namespace {

// The offset of child's client area inside parent's.
POINT ClientOffset(HWND child, HWND parent) {
  POINT origin{0, 0};
  ClientToScreen(child, &origin);
  ScreenToClient(parent, &origin);
  return origin;
}

void PrintInto(HDC dc, HWND window, POINT at, SIZE clip) {
  const int saved = SaveDC(dc);
  SetViewportOrgEx(dc, at.x, at.y, nullptr);
  IntersectClipRect(dc, 0, 0, clip.cx, clip.cy);
  SendMessageW(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
  RestoreDC(dc, saved);
}

}  // namespace

SkinPicture SnapshotClient(HWND window, HWND skip) {
  RECT client{};
  if (!window || !GetClientRect(window, &client) || client.right <= 0 || client.bottom <= 0) return {};
  PictureCanvas canvas(client.right, client.bottom);
  if (!canvas.valid()) return {};
  PrintInto(canvas.dc(), window, {0, 0}, {client.right, client.bottom});
  const HWND top = GetWindow(window, GW_CHILD);
  for (HWND child = top ? GetWindow(top, GW_HWNDLAST) : nullptr; child; child = GetWindow(child, GW_HWNDPREV)) {
    // Its own visible style, not IsWindowVisible: a hidden window's children are drawn as it would show them.
    if (child == skip || (GetWindowLongPtrW(child, GWL_STYLE) & WS_VISIBLE) == 0) continue;
    RECT area{};
    GetClientRect(child, &area);
    PrintInto(canvas.dc(), child, ClientOffset(child, window), {area.right, area.bottom});
  }
  return canvas.Read();
}

bool BlurPanel::Show(HWND parent, const SkinPicture& picture) {
  auto canvas = std::make_unique<PictureCanvas>(picture);
  if (!parent || !canvas->valid()) return false;
  if (hwnd() && GetParent(hwnd()) != parent) DestroyBound();
  // Hidden at first: it is placed and shown above the other children below.
  if (!hwnd() && !CreateBound({.name = kBlurPanelClass}, {.style = WS_CHILD | WS_CLIPSIBLINGS, .parent = parent})) {
    return false;
  }
  picture_ = std::move(canvas);
  RECT client{};
  GetClientRect(parent, &client);
  SetWindowPos(hwnd(), HWND_TOP, 0, 0, client.right, client.bottom, SWP_NOACTIVATE | SWP_SHOWWINDOW);
  InvalidateRect(hwnd(), nullptr, FALSE);
  UpdateWindow(hwnd());
  return true;
}

bool BlurPanel::ShowBlurred(HWND parent) {
  const SkinPicture snapshot = SnapshotClient(parent, hwnd());
  if (snapshot.pixels.empty()) return false;
  return Show(parent, StackBlurred(snapshot, kInactiveBlurRadius));
}

void BlurPanel::Hide() {
  if (hwnd() && IsWindowVisible(hwnd())) ShowWindow(hwnd(), SW_HIDE);
  picture_.reset();
}

bool BlurPanel::visible() const { return hwnd() && IsWindowVisible(hwnd()); }

LRESULT BlurPanel::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NCHITTEST:
      return HTTRANSPARENT;  // the mouse goes to whatever lies beneath
    case WM_MOUSEACTIVATE:
      return MA_NOACTIVATE;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PaintDC paint(hwnd());
      if (paint) Paint(paint.get());
      return 0;
    }
    case WM_PRINTCLIENT:
      Paint(reinterpret_cast<HDC>(wParam));
      return 0;
    default:
      return DefaultHandling(message, wParam, lParam);
  }
}

void BlurPanel::Paint(HDC dc) const {
  if (picture_) picture_->DrawTo(dc, 0, 0);
}

}  // namespace isetup::ui
