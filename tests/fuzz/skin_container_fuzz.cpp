// Fuzzes the reading of an inflated skin container (pictures and description) and the loader's checks on
// it, past the inflation that random bytes would rarely survive.
#include "tests/fuzz/skin_checks.h"
#include "ui/skin_container.h"

using namespace isetup;
using namespace isetup::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto container = ui::ReadSkinContainer(std::span<const std::uint8_t>(data, size));
  if (!container) return 0;
  const ui::SkinContainer& read = container.value();
  std::vector<const ui::SkinPicture*> pictures;
  for (const auto* slot : {&read.frame, &read.inactiveFrame, &read.mask}) {
    if (*slot) pictures.push_back(&**slot);
  }
  for (const ui::SkinPicture& picture : read.controlPictures) pictures.push_back(&picture);
  for (const ui::SkinPicture* picture : pictures) {
    FUZZ_CHECK(picture->width > 0 && picture->height > 0 && picture->width <= ui::kMaxSkinPictureSide &&
                   picture->height <= ui::kMaxSkinPictureSide &&
                   picture->pixels.size() == static_cast<std::size_t>(picture->width) * picture->height,
               "a %d x %d picture with %zu pixels", picture->width, picture->height, picture->pixels.size());
  }
  FUZZ_CHECK(read.description.size() <= size, "the description is longer than the container");

  const auto skin = ui::AssembleSkin(std::move(container).value());
  if (skin) CheckAcceptedSkin(skin.value());
  return 0;
}
