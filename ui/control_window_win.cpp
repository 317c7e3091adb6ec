// Flicker-free painting and focus refusal shared by the three controls, and the colour and font helpers.
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

bool ControlWindow::CreateControl(const wchar_t* className, HWND parent, const Box& box, const std::wstring& text) {
  // No WS_TABSTOP: the dialog manager never moves the focus here.
  return CreateBound({.name = className}, {.style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS,
                                           .text = text.c_str(),
                                           .x = box.left,
                                           .y = box.top,
                                           .width = box.width(),
                                           .height = box.height(),
                                           .parent = parent});
}

LRESULT ControlWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ERASEBKGND:
      return 1;  // Paint covers every pixel
    case WM_PAINT: {
      PaintDC paint(hwnd());
      if (paint) PaintBuffered(paint.get());
      return 0;
    }
    case WM_PRINTCLIENT:
      PaintBuffered(reinterpret_cast<HDC>(wParam));
      return 0;
    case WM_SETFOCUS: {
      // Never keep the focus: give it to the parent, whose keys do nothing here.
      const HWND parent = GetParent(hwnd());
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
  return DefaultHandling(message, wParam, lParam);
}

void ControlWindow::PaintBuffered(HDC target) {
  if (!target) return;
  RECT client{};
  GetClientRect(hwnd(), &client);
  PaintBuffer buffer(target, client.right, client.bottom);
  if (!buffer.valid()) {
    Paint(target, client);
    return;
  }
  Paint(buffer.dc(), client);
  buffer.CopyTo(target);
}

void ControlWindow::RedrawNow() const {
  if (!hwnd()) return;
  InvalidateRect(hwnd(), nullptr, FALSE);
  UpdateWindow(hwnd());
}

void ControlWindow::MarkForRedraw() const {
  if (hwnd()) InvalidateRect(hwnd(), nullptr, FALSE);
}

}  // namespace isetup::ui
