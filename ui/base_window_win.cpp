// Registration and the self-binding window procedure shared by the setup window, its controls and its blur panel.
#include "ui/base_window_win.h"

namespace isetup::ui {
namespace {

// True when the class exists in instance, registered now or before.
bool RegisterOnce(HINSTANCE instance, const WindowClass& windowClass, WNDPROC procedure) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExW(instance, windowClass.name, &existing)) return true;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = procedure;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = windowClass.background;
  wc.lpszClassName = windowClass.name;
  return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

BaseWindow::~BaseWindow() { DestroyBound(); }

bool BaseWindow::CreateBound(const WindowClass& windowClass, const WindowShape& shape) {
  if (hwnd_) return false;
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  if (!RegisterOnce(instance, windowClass, &BaseWindow::WindowProc)) return false;
  thread_ = GetCurrentThreadId();
  // WM_NCCREATE binds the window to this object; a window that failed later is unbound again.
  const HWND made = CreateWindowExW(shape.exStyle, windowClass.name, shape.text, shape.style, shape.x, shape.y,
                                    shape.width, shape.height, shape.parent, nullptr, instance, this);
  return made != nullptr && made == hwnd_;
}

void BaseWindow::DestroyBound() {
  if (!hwnd_) return;
  const HWND window = hwnd_;
  SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  hwnd_ = nullptr;
  DestroyWindow(window);
}

LRESULT BaseWindow::DefaultHandling(UINT message, WPARAM wParam, LPARAM lParam) const {
  return DefWindowProcW(hwnd_, message, wParam, lParam);
}

bool BaseWindow::OnOwnThread() const { return thread_ == 0 || thread_ == GetCurrentThreadId(); }

LRESULT CALLBACK BaseWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<BaseWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<BaseWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  // Before WM_NCCREATE (a top-level window's WM_GETMINMAXINFO) and after the unbinding: no object.
  if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
  return self->HandleMessage(message, wParam, lParam);
}

}  // namespace isetup::ui
