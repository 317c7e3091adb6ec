// Base of the program's own windows: class registration on first use, the object bound to its window from
// WM_NCCREATE to WM_NCDESTROY, and its messages handed to a member handler.
#pragma once

#include <windows.h>

namespace isetup::ui {

// A window class of ours. Its window procedure is BaseWindow's, its cursor the arrow, no class styles.
struct WindowClass {
  const wchar_t* name = nullptr;
  HBRUSH background = nullptr;  // none: the window paints its own background
};

// The window itself: styles, text, position and size, and its parent (a child's) or owner (a top-level's).
struct WindowShape {
  DWORD exStyle = 0;
  DWORD style = 0;
  const wchar_t* text = L"";
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  HWND parent = nullptr;
};

// One window per object at a time. The object must outlive its window or destroy it; only the thread that
// created the window may use either (OnOwnThread, checked in debug builds by the users).
class BaseWindow {
 public:
  BaseWindow(const BaseWindow&) = delete;
  BaseWindow& operator=(const BaseWindow&) = delete;

  HWND hwnd() const { return hwnd_; }

 protected:
  BaseWindow() = default;
  // Destroys the window if it still exists (see DestroyBound).
  virtual ~BaseWindow();

  // Registers the class in this module on first use and creates the window bound to this object. False
  // when either fails, or when the object has a window already.
  [[nodiscard]] bool CreateBound(const WindowClass& windowClass, const WindowShape& shape);
  // Unbinds first, so that the window's last messages reach DefWindowProc only (a destructor calls this
  // once the derived part is gone), then destroys the window. Nothing happens without a window.
  void DestroyBound();

  // Every message from WM_NCCREATE on; WM_NCDESTROY only unbinds and goes to DefWindowProc.
  virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;
  LRESULT DefaultHandling(UINT message, WPARAM wParam, LPARAM lParam) const;

  // True on the thread that created the window, and on any thread before the first window is made.
  bool OnOwnThread() const;

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  HWND hwnd_ = nullptr;
  DWORD thread_ = 0;
};

}  // namespace isetup::ui
