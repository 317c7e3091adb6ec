// TSkinLabel: the status line, a centred caption clipped to its box, plain look or a skin entry's.
#include <cassert>

#include "ui/skin_controls_win.h"

namespace isetup::ui {

bool SkinLabel::Create(HWND parent, const Box& box, const ComponentSpec& declared) {
  caption_ = std::wstring(declared.caption);
  alignment_ = declared.alignment;
  border_ = declared.border;
  fontSpec_ = declared.defaultFont;
  font_ = CreateDeclaredFont(fontSpec_);
  return CreateControl(kSkinLabelClass, parent, box, caption_);
}

void SkinLabel::SetCaption(const std::wstring& caption) {
  assert(OnOwnThread());
  // The same text again changes nothing on screen: skip the redraw, as the toolkit's own labels do.
  if (caption == caption_) return;
  caption_ = caption;
  if (hwnd()) SetWindowTextW(hwnd(), caption_.c_str());
  RedrawNow();
}

void SkinLabel::SetSkinEntry(const LabelSkinEntry* entry) {
  assert(OnOwnThread());
  skin_ = entry;
  RedrawNow();
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
  SelectGuard font(dc, font_.get());
  SIZE extent{};
  const int length = static_cast<int>(caption_.size());
  GetTextExtentPoint32W(dc, caption_.c_str(), length, &extent);
  const Point at = PlaceText(textBox, {extent.cx, extent.cy}, alignment_, fontSpec_.height);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, ToColorRef(fontSpec_.colour));
  // Clipped at the box on both sides, no ellipsis.
  ExtTextOutW(dc, at.x, at.y, ETO_CLIPPED, &clip, caption_.c_str(), static_cast<UINT>(length), nullptr);
}

void SkinLabel::OnDestroy() { font_.reset(); }

}  // namespace isetup::ui
