// Base of the window's custom controls: class registration, binding on WM_NCCREATE, buffered painting.
#pragma once

#include <windows.h>

#include <string>

#include "base/gdi_win.h"
#include "ui/geometry.h"
#include "ui/setup_form_layout.h"

namespace isetup::ui {

COLORREF ToColorRef(const Colour& colour);
// The font as declared (face, height value, weight); an empty owner when the system refuses it.
GdiObject<HFONT> CreateDeclaredFont(const DeclaredFont& declared);
RECT ToRect(const Box& box);

// A child window drawn entirely by its owner object. The object binds itself to its window on
// WM_NCCREATE and must outlive it or destroy it; only the thread that created the window may use it.
// None of these controls keeps the keyboard focus: it is handed back to the parent at once.
class ControlWindow {
 public:
  ControlWindow(const ControlWindow&) = delete;
  ControlWindow& operator=(const ControlWindow&) = delete;

  HWND hwnd() const { return hwnd_; }

 protected:
  ControlWindow() = default;
  // Destroys the window if it still exists, after unbinding so that no handler runs on a half-gone object.
  virtual ~ControlWindow();

  // Registers the class on first use and creates a visible child with the given window text.
  [[nodiscard]] bool CreateControl(const wchar_t* className, HWND parent, const Box& box,
                                   const std::wstring& text);

  // Paints the whole client area into dc (a memory DC for WM_PAINT, the given DC for WM_PRINTCLIENT).
  virtual void Paint(HDC dc, const RECT& client) = 0;
  // Messages the base does not handle itself; the default is DefWindowProcW.
  virtual LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  // WM_DESTROY: release cached GDI objects here.
  virtual void OnDestroy() {}

  // Redraw before returning (InvalidateRect + UpdateWindow), or at the next paint only.
  void RedrawNow() const;
  void MarkForRedraw() const;
  bool OnOwnThread() const;

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void PaintBuffered(HDC target);

  HWND hwnd_ = nullptr;
  DWORD thread_ = 0;
};

}  // namespace isetup::ui
