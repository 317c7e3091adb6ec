// Loading the stored skin: inflate, read the container and the description, and check that every
// rectangle the window will draw from lies inside its picture.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "ui/skin_bitmap.h"
#include "ui/skin_container.h"
#include "ui/skin_description.h"
#include "ui/skin_result.h"

namespace isetup::ui {

struct Skin {
  std::optional<SkinPicture> frame;          // FORMINFO and the caption object refer to it
  std::optional<SkinPicture> inactiveFrame;  // same size as frame when present
  std::optional<SkinPicture> mask;           // same size as frame when present
  std::vector<SkinPicture> controlPictures;  // the controls' pictureindex refers here
  SkinDescription description;

  // The picture a control entry draws from; pictureIndex is checked at load time.
  const SkinPicture& ControlPicture(int pictureIndex) const {
    return controlPictures[static_cast<std::size_t>(pictureIndex)];
  }
};

// Loads a stored skin (the zlib stream as kept in the program). A malformed skin is refused with the
// reason; the window then keeps its plain look.
SkinResult<Skin> LoadStoredSkinChecked(std::span<const std::uint8_t> compressed);

// The same for callers that only need to know whether it worked, such as a fuzzer.
std::optional<Skin> LoadStoredSkin(std::span<const std::uint8_t> compressed);

// The checks on an already inflated container and its description: sizes of the frame, inactive frame
// and mask agree, picture indexes exist, and every rectangle and corner point lies in its picture.
SkinResult<Skin> AssembleSkin(SkinContainer container);

}  // namespace isetup::ui
