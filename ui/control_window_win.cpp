// Registration, self-binding window procedure and flicker-free painting shared by the three controls.
#include "ui/control_window_win.h"

namespace isetup::ui {

COLORREF ToColorRef(const Colour& colour) {
  if (!colour.isSystem) {
    return RGB((colour.rgb >> 16) & 0xFF, (colour.rgb >> 8) & 0xFF, colour.rgb & 0xFF);
  }
  switch (colour.system) {
    case SystemColour::WindowText:
      return GetSysColor(COLOR_WINDOWTEXT);
    case SystemColour::Window:
      return GetSysColor(COLOR_WINDOW);
    case SystemColour::ButtonFace:
      return GetSysColor(COLOR_BTNFACE);
    case SystemColour::ButtonShadow:
      return GetSysColor(COLOR_BTNSHADOW);
    case SystemColour::ButtonText:
      return GetSysColor(COLOR_BTNTEXT);
  }
  return GetSysColor(COLOR_WINDOWTEXT);
}

GdiObject<HFONT> CreateDeclaredFont(const DeclaredFont& declared) {
  const std::wstring face(declared.face);
  return GdiObject<HFONT>(CreateFontW(declared.height, 0, 0, 0, declared.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                                      DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                      DEFAULT_PITCH | FF_DONTCARE, face.c_str()));
}

RECT ToRect(const Box& box) { return RECT{box.left, box.top, box.right, box.bottom}; }

ControlWindow::~ControlWindow() {
  if (!hwnd_) return;
  // The derived part is gone already: detach first so the window's last messages reach DefWindowProc only.
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
  DestroyWindow(hwnd_);
}

bool ControlWindow::CreateControl(const wchar_t* className, HWND parent, const Box& box, const std::wstring& text) {
  if (hwnd_) return false;
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (!GetClassInfoExW(instance, className, &existing)) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &ControlWindow::WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = className;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
  }
  thread_ = GetCurrentThreadId();
  // No WS_TABSTOP: the dialog manager never moves the focus here.
  const HWND hwnd = CreateWindowExW(0, className, text.c_str(), WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, box.left,
                                    box.top, box.width(), box.height(), parent, nullptr, instance, this);
  return hwnd != nullptr && hwnd == hwnd_;
}

LRESULT CALLBACK ControlWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<ControlWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<ControlWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
  return self->Handle(message, wParam, lParam);
}

LRESULT ControlWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ERASEBKGND:
      return 1;  // Paint covers every pixel
    case WM_PAINT: {
      PaintDC paint(hwnd_);
      if (paint) PaintBuffered(paint.get());
      return 0;
    }
    case WM_PRINTCLIENT:
      PaintBuffered(reinterpret_cast<HDC>(wParam));
      return 0;
    case WM_SETFOCUS: {
      // Never keep the focus: give it to the parent, whose keys do nothing here.
      const HWND parent = GetParent(hwnd_);
      if (parent) SetFocus(parent);
      return 0;
    }
    case WM_DESTROY:
      OnDestroy();
      return 0;
    default:
      return OnMessage(message, wParam, lParam);
  }
}

LRESULT ControlWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(hwnd_, message, wParam, lParam);
}

void ControlWindow::PaintBuffered(HDC target) {
  if (!target) return;
  RECT client{};
  GetClientRect(hwnd_, &client);
  PaintBuffer buffer(target, client.right, client.bottom);
  if (!buffer.valid()) {
    Paint(target, client);
    return;
  }
  Paint(buffer.dc(), client);
  buffer.CopyTo(target);
}

void ControlWindow::RedrawNow() const {
  if (!hwnd_) return;
  InvalidateRect(hwnd_, nullptr, FALSE);
  UpdateWindow(hwnd_);
}

void ControlWindow::MarkForRedraw() const {
  if (hwnd_) InvalidateRect(hwnd_, nullptr, FALSE);
}

bool ControlWindow::OnOwnThread() const { return thread_ == 0 || thread_ == GetCurrentThreadId(); }

}  // namespace isetup::ui
