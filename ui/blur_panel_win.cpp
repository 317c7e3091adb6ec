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

bool RegisterPanelClass(HINSTANCE instance, WNDPROC procedure) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExW(instance, kBlurPanelClass, &existing)) return true;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = procedure;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kBlurPanelClass;
  return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
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

BlurPanel::~BlurPanel() {
  if (!hwnd_) return;
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
  DestroyWindow(hwnd_);
}

bool BlurPanel::Show(HWND parent, const SkinPicture& picture) {
  auto canvas = std::make_unique<PictureCanvas>(picture);
  if (!parent || !canvas->valid()) return false;
  if (hwnd_ && GetParent(hwnd_) != parent) {
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
    hwnd_ = nullptr;
  }
  if (!hwnd_) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    if (!RegisterPanelClass(instance, &BlurPanel::WindowProc)) return false;
    // Hidden at first: it is placed and shown above the other children below.
    hwnd_ = CreateWindowExW(0, kBlurPanelClass, L"", WS_CHILD | WS_CLIPSIBLINGS, 0, 0, 0, 0, parent, nullptr, instance,
                            this);
    if (!hwnd_) return false;
  }
  picture_ = std::move(canvas);
  RECT client{};
  GetClientRect(parent, &client);
  SetWindowPos(hwnd_, HWND_TOP, 0, 0, client.right, client.bottom, SWP_NOACTIVATE | SWP_SHOWWINDOW);
  InvalidateRect(hwnd_, nullptr, FALSE);
  UpdateWindow(hwnd_);
  return true;
}

bool BlurPanel::ShowBlurred(HWND parent) {
  const SkinPicture snapshot = SnapshotClient(parent, hwnd_);
  if (snapshot.pixels.empty()) return false;
  return Show(parent, StackBlurred(snapshot, kInactiveBlurRadius));
}

void BlurPanel::Hide() {
  if (hwnd_ && IsWindowVisible(hwnd_)) ShowWindow(hwnd_, SW_HIDE);
  picture_.reset();
}

bool BlurPanel::visible() const { return hwnd_ && IsWindowVisible(hwnd_); }

LRESULT CALLBACK BlurPanel::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<BlurPanel*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<BlurPanel*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  switch (message) {
    case WM_NCHITTEST:
      return HTTRANSPARENT;  // the mouse goes to whatever lies beneath
    case WM_MOUSEACTIVATE:
      return MA_NOACTIVATE;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PaintDC paint(hwnd);
      if (paint && self) self->Paint(paint.get());
      return 0;
    }
    case WM_PRINTCLIENT:
      if (self) self->Paint(reinterpret_cast<HDC>(wParam));
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      if (self) self->hwnd_ = nullptr;
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

void BlurPanel::Paint(HDC dc) const {
  if (picture_) picture_->DrawTo(dc, 0, 0);
}

}  // namespace isetup::ui
