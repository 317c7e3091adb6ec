// TSkinButton: a mouse-only push button that never takes the focus; plain look or a skin entry's.
#include <windowsx.h>

#include <cassert>

#include "ui/control_accessible_win.h"
#include "ui/font_choice_win.h"
#include "ui/skin_controls_win.h"

namespace isetup::ui {

bool SkinButton::Create(HWND parent, const Box& box, const DeclaredComponent& declared, std::function<void()> onClick) {
  caption_ = std::wstring(declared.caption);
  onClick_ = std::move(onClick);
  DeclareFont(declared.defaultFont);
  return CreateControl(kSkinButtonClass, parent, box, caption_);
}

void SkinButton::SetSkinEntry(const ButtonSkinEntry* entry) {
  assert(OnOwnThread());
  skin_ = entry;
  RedrawNow();
}

void SkinButton::SetState(ButtonState state) {
  if (state == state_) return;
  state_ = state;
  RedrawNow();
}

bool SkinButton::Contains(LPARAM point) const {
  RECT client{};
  GetClientRect(hwnd(), &client);
  const POINT p{GET_X_LPARAM(point), GET_Y_LPARAM(point)};
  return PtInRect(&client, p) != FALSE;
}

LRESULT SkinButton::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_MOUSEMOVE:
      if (state_ == ButtonState::Pressed) return 0;  // pressed stays pressed until the release
      if (!tracking_) {
        TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, hwnd(), 0};
        tracking_ = TrackMouseEvent(&track) != FALSE;
      }
      SetState(Contains(lParam) ? ButtonState::Hot : ButtonState::Normal);
      return 0;
    case WM_MOUSELEAVE:
      tracking_ = false;
      if (state_ == ButtonState::Hot) SetState(ButtonState::Normal);
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      // No SetFocus here, unlike a system button: the focus stays where it was.
      SetCapture(hwnd());
      SetState(ButtonState::Pressed);
      return 0;
    case WM_LBUTTONUP: {
      if (state_ != ButtonState::Pressed) return 0;
      const bool over = Contains(lParam);
      SetState(over ? ButtonState::Hot : ButtonState::Normal);
      if (GetCapture() == hwnd()) ReleaseCapture();
      // Last, since the handler may do anything with the window.
      if (over && onClick_) onClick_();
      return 0;
    }
    case WM_CAPTURECHANGED:
      // Capture taken away mid-press (another window, a menu): the press is abandoned.
      if (state_ == ButtonState::Pressed && reinterpret_cast<HWND>(lParam) != hwnd()) SetState(ButtonState::Normal);
      return 0;
    case WM_GETOBJECT:
      if (const LRESULT object = AnswerAccessibleObject(hwnd(), wParam, lParam, ROLE_SYSTEM_PUSHBUTTON, false)) {
        return object;
      }
      return ControlWindow::OnMessage(message, wParam, lParam);
    case WM_GETDLGCODE:
      return 0;  // wants no keys
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CHAR:
      return 0;  // no keyboard operation at all
    default:
      return ControlWindow::OnMessage(message, wParam, lParam);
  }
}

void SkinButton::Paint(HDC dc, const RECT& client) {
  if (skin_) {
    skin_->DrawButton(dc, client, state_, caption_);
  } else {
    PaintPlain(dc, client);
  }
}

void SkinButton::PaintPlain(HDC dc, const RECT& client) {
  FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
  RECT face = client;
  UINT flags = DFCS_BUTTONPUSH;
  if (state_ == ButtonState::Pressed) flags |= DFCS_PUSHED;
  if (state_ == ButtonState::Hot) flags |= DFCS_HOT;
  DrawFrameControl(dc, &face, DFC_BUTTON, flags);

  if (caption_.empty()) return;
  RECT text = client;
  if (state_ == ButtonState::Pressed) OffsetRect(&text, 1, 1);
  SelectGuard font(dc, Font());
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, ToColorRef(FontAtDpi().colour));
  DrawTextW(dc, caption_.c_str(), static_cast<int>(caption_.size()), &text,
            DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

void SkinButton::OnDestroy() {
  FontedControl::OnDestroy();
  if (GetCapture() == hwnd()) ReleaseCapture();
}

}  // namespace isetup::ui
