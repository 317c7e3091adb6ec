// TSkinGauge: the progress gauge with its composed text, plain look or a skin entry's.
#include <cassert>

#include "ui/control_accessible_win.h"
#include "ui/font_choice_win.h"
#include "ui/skin_controls_win.h"

namespace isetup::ui {

bool SkinGauge::Create(HWND parent, const Box& box, const DeclaredComponent& declared) {
  model_ = GaugeModel(declared.gauge);
  DeclareFont(declared.defaultFont);
  shownText_ = model_.Text();
  shownValue_ = AccessibleValue();
  return CreateControl(kSkinGaugeClass, parent, box, shownText_);
}

std::wstring SkinGauge::AccessibleValue() const { return std::to_wstring(model_.Percent()) + L'%'; }

// Keeps the window text equal to the composed text, redraws now or at the next paint, and tells
// accessibility clients what changed.
void SkinGauge::Changed(bool now) {
  std::wstring text = model_.Text();
  const bool nameChanged = text != shownText_;
  if (nameChanged) {
    shownText_ = std::move(text);
    if (hwnd()) SetWindowTextW(hwnd(), shownText_.c_str());
  }
  std::wstring value = AccessibleValue();
  const bool valueChanged = value != shownValue_;
  if (valueChanged) shownValue_ = std::move(value);
  if (now) {
    RedrawNow();
  } else {
    MarkForRedraw();
  }
  if (nameChanged) NotifyClientChange(hwnd(), EVENT_OBJECT_NAMECHANGE);
  if (valueChanged) NotifyClientChange(hwnd(), EVENT_OBJECT_VALUECHANGE);
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

LRESULT SkinGauge::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_GETOBJECT:
      if (const LRESULT object = AnswerAccessibleObject(hwnd(), wParam, lParam, ROLE_SYSTEM_PROGRESSBAR, true)) {
        return object;
      }
      break;
    case kGetAccessibleValue: {
      // Asked by our own accessible object, in this process: lParam points at wParam characters.
      auto* buffer = reinterpret_cast<wchar_t*>(lParam);
      const std::wstring value = AccessibleValue();
      if (!buffer || wParam <= value.size()) return 0;
      value.copy(buffer, value.size());
      buffer[value.size()] = L'\0';
      return static_cast<LRESULT>(value.size());
    }
    default:
      break;
  }
  return ControlWindow::OnMessage(message, wParam, lParam);
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
  SelectGuard font(dc, Font());
  SIZE extent{};
  const int length = static_cast<int>(text.size());
  GetTextExtentPoint32W(dc, text.c_str(), length, &extent);
  const Point at = GaugeTextOrigin({client.right - client.left, client.bottom - client.top}, {extent.cx, extent.cy},
                                   FontAtDpi().height);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, ToColorRef(FontAtDpi().colour));
  ExtTextOutW(dc, client.left + at.x, client.top + at.y, ETO_CLIPPED, &client, text.c_str(),
              static_cast<UINT>(length), nullptr);
}


}  // namespace isetup::ui
