// The declared font of the skinned controls, scaled for the DPI.
#include <cassert>

#include "ui/font_choice_win.h"
#include "ui/skin_controls_win.h"

namespace isetup::ui {

void FontedControl::DeclareFont(const FontSpec& declared) {
  declaredFont_ = fontSpec_ = declared;
  font_ = CreatePlainFont(fontSpec_);
}

void FontedControl::SetDpi(int dpi) {
  assert(OnOwnThread());
  fontSpec_ = ScaleDeclaredFont(declaredFont_, dpi);
  font_ = CreatePlainFont(fontSpec_);
  RedrawNow();
}

}  // namespace isetup::ui
