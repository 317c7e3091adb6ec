// The declared font of the skinned controls, scaled for the DPI.
#include <cassert>

#include "ui/font_choice_win.h"
#include "ui/skin_controls_win.h"

namespace isetup::ui {

void FontedControl::DeclareFont(const DeclaredFont& declared) {
  declaredFont_ = fontAtDpi_ = declared;
  font_ = CreatePlainFont(fontAtDpi_);
}

void FontedControl::SetDpi(int dpi) {
  assert(OnOwnThread());
  fontAtDpi_ = ScaleDeclaredFont(declaredFont_, dpi);
  font_ = CreatePlainFont(fontAtDpi_);
  RedrawNow();
}

}  // namespace isetup::ui
