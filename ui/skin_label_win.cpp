// TSkinLabel: the status line, a centred caption clipped to its box, plain look or a skin entry's.
#include <cassert>

#include "ui/control_accessible_win.h"
#include "ui/font_choice_win.h"
#include "ui/skin_controls_win.h"

namespace isetup::ui {

bool SkinLabel::Create(HWND parent, const Box& box, const DeclaredComponent& declared) {
  caption_ = std::wstring(declared.caption);
  alignment_ = declared.alignment;
  border_ = declared.border;
  DeclareFont(declared.defaultFont);
  return CreateControl(kSkinLabelClass, parent, box, caption_);
}

void SkinLabel::SetCaption(const std::wstring& caption) {
  assert(OnOwnThread());
  // The same text again changes nothing on screen: skip the redraw, as the toolkit's own labels do.
  if (caption == caption_) return;
  caption_ = caption;
  if (hwnd()) SetWindowTextW(hwnd(), caption_.c_str());
  RedrawNow();
  NotifyClientChange(hwnd(), EVENT_OBJECT_NAMECHANGE);
}

void SkinLabel::SetSkinEntry(const LabelSkinEntry* entry) {
  assert(OnOwnThread());
  skin_ = entry;
  RedrawNow();
}

LRESULT SkinLabel::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_GETOBJECT) {
    if (const LRESULT object = AnswerAccessibleObject(hwnd(), wParam, lParam, ROLE_SYSTEM_STATICTEXT, false)) {
      return object;
    }
  }
  return ControlWindow::OnMessage(message, wParam, lParam);
}

void SkinLabel::Paint(HDC dc, const RECT& client) {
  if (skin_) {
    skin_->DrawLabel(dc, client, caption_, alignment_);
  } else {
    PaintPlain(dc, client);
  }
}

void SkinLabel::PaintPlain(HDC dc, const RECT& client) {
  FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
  if (border_ == LabelBorder::Frame) FrameRect(dc, &client, GetSysColorBrush(COLOR_BTNSHADOW));
  if (caption_.empty()) return;

  const Box textBox = LabelTextBox(Box{client.left, client.top, client.right, client.bottom}, false);
  const RECT clip = ToRect(textBox);
  SelectGuard font(dc, Font());
  SIZE extent{};
  const int length = static_cast<int>(caption_.size());
  GetTextExtentPoint32W(dc, caption_.c_str(), length, &extent);
  const Point at = PlaceText(textBox, {extent.cx, extent.cy}, alignment_, FontAtDpi().height);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, ToColorRef(FontAtDpi().colour));
  // Clipped at the box on both sides, no ellipsis.
  ExtTextOutW(dc, at.x, at.y, ETO_CLIPPED, &clip, caption_.c_str(), static_cast<UINT>(length), nullptr);
}


}  // namespace isetup::ui
