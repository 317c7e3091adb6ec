// Fuzzes loading the stored skin: the zlib stream as the program keeps it, and containers that the target
// compresses itself, which must load exactly as reading the container directly does.
#include <zlib.h>

#include "tests/fuzz/skin_checks.h"
#include "ui/skin_inflate.h"

using namespace isetup;
using namespace isetup::fuzz;

// The first byte is the mode: even, the rest is a stored skin (a zlib stream); odd, the rest is an
// inflated container, compressed here at level (mode / 2) % 10.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t mode = data[0];
  const std::span<const std::uint8_t> rest(data + 1, size - 1);
  if (mode % 2 == 0) {
    // A small ceiling keeps a stream that inflates to megabytes from slowing the run down.
    const auto inflated = ui::InflateSkin(rest, 8u << 20);
    const auto skin = ui::LoadStoredSkin(rest);
    FUZZ_CHECK(!skin || inflated, "a skin loaded from a stream that does not inflate");
    if (skin) CheckAcceptedSkin(*skin);
    return 0;
  }

  uLongf compressedSize = compressBound(static_cast<uLong>(rest.size()));
  std::vector<std::uint8_t> compressed(compressedSize);
  const int level = (mode / 2) % 10;
  FUZZ_CHECK(compress2(compressed.data(), &compressedSize, rest.data(), static_cast<uLong>(rest.size()), level) == Z_OK,
             "zlib could not compress");
  compressed.resize(compressedSize);

  const auto inflated = ui::InflateSkin(compressed);
  FUZZ_CHECK(inflated && std::equal(inflated.value().begin(), inflated.value().end(), rest.begin(), rest.end()),
             "inflating a freshly compressed container does not give it back");

  const auto loaded = ui::LoadStoredSkinChecked(compressed);
  auto container = ui::ReadSkinContainer(rest);
  const auto direct = container ? ui::AssembleSkin(std::move(container).value())
                                : ui::SkinResult<ui::Skin>::Fail(container.error());
  FUZZ_CHECK(loaded.ok() == direct.ok() && loaded.error() == direct.error(),
             "stored load \"%s\", direct read \"%s\"", loaded.error().c_str(), direct.error().c_str());
  if (loaded) CheckAcceptedSkin(loaded.value());
  return 0;
}
