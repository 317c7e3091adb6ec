// Base of the window's custom controls: a bound child window that paints through a memory DC and never
// keeps the focus.
#pragma once

#include <windows.h>

#include <string>

#include "base/gdi_win.h"
#include "ui/base_window_win.h"
#include "ui/geometry.h"
#include "ui/setup_form_layout.h"

namespace isetup::ui {

COLORREF ToColorRef(const Colour& colour);
// The font as declared (face, height value, weight); an empty owner when the system refuses it.
GdiObject<HFONT> CreateDeclaredFont(const DeclaredFont& declared);
RECT ToRect(const Box& box);

// A child window drawn entirely by its owner object (see BaseWindow for binding and thread affinity).
// None of these controls keeps the keyboard focus: it is handed back to the parent at once.
class ControlWindow : public BaseWindow {
 protected:
  ControlWindow() = default;

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

 private:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) final;
  void PaintBuffered(HDC target);
};

}  // namespace isetup::ui
