// The skinned look of the setup window's three controls, drawn from a loaded skin at a display's DPI.
// The form makes one per DPI it is shown at and plugs its entries into the controls.
#pragma once

#include <memory>

#include "ui/skin_controls_win.h"
#include "ui/skin_loader.h"

namespace isetup::ui {

class SkinnedControlLook {
 public:
  // Builds the entries the skin describes, with pictures, corner points and fonts scaled from 96 dpi
  // to dpi. Null when none can be built; the controls then keep their plain look.
  static std::unique_ptr<SkinnedControlLook> Create(const Skin& skin, int dpi);
  virtual ~SkinnedControlLook() = default;

  // Each is null when the skin has no entry for that control. They live as long as this object.
  virtual const LabelSkinEntry* Label() const = 0;
  virtual const GaugeSkinEntry* Gauge() const = 0;
  virtual const ButtonSkinEntry* Button() const = 0;
};

}  // namespace isetup::ui
