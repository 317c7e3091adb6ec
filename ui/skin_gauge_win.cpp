// TSkinGauge: the progress gauge with its composed text, plain look or a skin entry's.
#include <cassert>

#include "ui/skin_controls_win.h"

namespace isetup::ui {

bool SkinGauge::Create(HWND parent, const Box& box, const ComponentSpec& declared) {
  model_ = GaugeModel(declared.gauge);
  fontSpec_ = declared.defaultFont;
  font_ = CreateDeclaredFont(fontSpec_);
  shownText_ = model_.Text();
  return CreateControl(kSkinGaugeClass, parent, box, shownText_);
}

// Keeps the window text equal to the composed text, then redraws now or at the next paint.
void SkinGauge::Changed(bool now) {
  std::wstring text = model_.Text();
  if (text != shownText_) {
    shownText_ = std::move(text);
    if (hwnd()) SetWindowTextW(hwnd(), shownText_.c_str());
  }
  if (now) {
    RedrawNow();
  } else {
    MarkForRedraw();
  }
}

void SkinGauge::SetValue(int value) {
  assert(OnOwnThread());
  if (model_.SetValue(value)) Changed(false);
}

void SkinGauge::SetMinValue(int value) {
  assert(OnOwnThread());
  model_.SetMinValue(value);
  Changed(true);
}

void SkinGauge::SetMaxValue(int value) {
  assert(OnOwnThread());
  model_.SetMaxValue(value);
  Changed(true);
}

void SkinGauge::SetProgressText(const std::wstring& text) {
  assert(OnOwnThread());
  model_.SetProgressText(text);
  Changed(true);
}

void SkinGauge::SetShowProgressText(bool show) {
  assert(OnOwnThread());
  model_.SetShowProgressText(show);
  Changed(true);
}

void SkinGauge::SetShowPercent(bool show) {
  assert(OnOwnThread());
  model_.SetShowPercent(show);
  Changed(true);
}

void SkinGauge::SetProgressAnimationPause(int milliseconds) {
  assert(OnOwnThread());
  // Only a skin's animation uses the pause, and none is ever started: nothing to redraw.
  (void)model_.SetProgressAnimationPause(milliseconds);
}

void SkinGauge::SetSkinEntry(const GaugeSkinEntry* entry) {
  assert(OnOwnThread());
  skin_ = entry;
  RedrawNow();
}

void SkinGauge::Paint(HDC dc, const RECT& client) {
  if (skin_) {
    skin_->DrawGauge(dc, client, model_);
  } else {
    PaintPlain(dc, client);
  }
}

void SkinGauge::PaintPlain(HDC dc, const RECT& client) {
  FillRect(dc, &client, GetSysColorBrush(COLOR_WINDOW));
  FrameRect(dc, &client, GetSysColorBrush(COLOR_BTNSHADOW));

  const RECT area{client.left + 1, client.top + 1, client.right - 1, client.bottom - 1};
  const int filled = model_.FillLength(area.right - area.left);
  if (filled > 0 && area.bottom > area.top) {
    const RECT fill{area.left, area.top, area.left + filled, area.bottom};
    GdiObject<HBRUSH> brush(CreateSolidBrush(kPlainGaugeFill));
    if (brush) FillRect(dc, &fill, brush.get());
  }

  const std::wstring text = model_.Text();
  if (text.empty()) return;
  SelectGuard font(dc, font_.get());
  SIZE extent{};
  const int length = static_cast<int>(text.size());
  GetTextExtentPoint32W(dc, text.c_str(), length, &extent);
  const Point at = GaugeTextOrigin({client.right - client.left, client.bottom - client.top}, {extent.cx, extent.cy},
                                   fontSpec_.height);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, ToColorRef(fontSpec_.colour));
  ExtTextOutW(dc, client.left + at.x, client.top + at.y, ETO_CLIPPED, &client, text.c_str(),
              static_cast<UINT>(length), nullptr);
}

void SkinGauge::OnDestroy() { font_.reset(); }

}  // namespace isetup::ui
