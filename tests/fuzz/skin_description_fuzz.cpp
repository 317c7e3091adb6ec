// Fuzzes the skin description parser, and the checks of the loader on the parsed entries against pictures
// of sizes the input chooses: whatever the loader accepts must be drawable without reading outside.
#include "tests/fuzz/skin_checks.h"
#include "ui/skin_description.h"

using namespace isetup;
using namespace isetup::fuzz;

namespace {

ui::SkinPicture Picture(int width, int height) {
  ui::SkinPicture picture;
  picture.width = width;
  picture.height = height;
  picture.pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  for (std::size_t i = 0; i < picture.pixels.size(); ++i) picture.pixels[i] = i % 5 == 0 ? 0 : 0xFF000000u | static_cast<std::uint32_t>(i);
  return picture;
}

}  // namespace

// Four bytes give the picture sizes (frame width and height, control picture width and height, each
// 1 + byte % 128); the rest is the description text.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 4), size - 4);
  const auto parsed = ui::ParseSkinDescription(text);
  FUZZ_CHECK(parsed.ok() != !parsed.error().empty(), "a result both accepted and refused");

  ui::SkinContainer container;
  container.frame = Picture(1 + data[0] % 128, 1 + data[1] % 128);
  container.mask = container.frame;
  container.controlPictures.push_back(Picture(1 + data[2] % 128, 1 + data[3] % 128));
  container.description.assign(text);
  const auto skin = ui::AssembleSkin(std::move(container));
  // The loader refuses everything the parser refuses, for the same reason.
  if (!parsed) {
    FUZZ_CHECK(!skin && skin.error() == parsed.error(), "AssembleSkin accepted a description the parser refused");
    return 0;
  }
  if (skin) CheckAcceptedSkin(skin.value());
  return 0;
}
