// Helpers for the skin tests: small BMP files built in memory and the committed stored skin.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "base/test_files.h"

namespace isetup::ui::testing {

using Bytes = std::vector<std::uint8_t>;

inline void PutU16(Bytes& out, std::size_t at, std::uint32_t v) {
  out[at] = static_cast<std::uint8_t>(v);
  out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutU32(Bytes& out, std::size_t at, std::uint32_t v) {
  PutU16(out, at, v & 0xFFFF);
  PutU16(out, at + 2, v >> 16);
}

// A BMP file of the given top-down pixels (0xAARRGGBB), stored bottom-up unless topDown.
inline Bytes MakeBmp(int width, int height, const std::vector<std::uint32_t>& pixels, int bits = 32,
                     bool topDown = false) {
  const std::size_t stride = ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4;
  Bytes out(54 + stride * height, 0);
  out[0] = 'B';
  out[1] = 'M';
  PutU32(out, 2, static_cast<std::uint32_t>(out.size()));
  PutU32(out, 10, 54);
  PutU32(out, 14, 40);
  PutU32(out, 18, static_cast<std::uint32_t>(width));
  PutU32(out, 22, static_cast<std::uint32_t>(topDown ? -height : height));
  PutU16(out, 26, 1);
  PutU16(out, 28, static_cast<std::uint32_t>(bits));
  for (int y = 0; y < height; ++y) {
    const int stored = topDown ? y : height - 1 - y;
    for (int x = 0; x < width; ++x) {
      const std::uint32_t p = pixels[static_cast<std::size_t>(y) * width + x];
      const std::size_t at = 54 + stored * stride + x * (bits / 8);
      if (bits == 32) {
        PutU32(out, at, p);
      } else {
        out[at] = static_cast<std::uint8_t>(p);
        out[at + 1] = static_cast<std::uint8_t>(p >> 8);
        out[at + 2] = static_cast<std::uint8_t>(p >> 16);
      }
    }
  }
  return out;
}

// resources/tlvm.skn of this checkout (the tests of ui/ get its path from the build).
inline Bytes ReadCommittedSkin() {
  return isetup::testing::ReadBytes(COMMITTED_SKIN_PATH);
}

}  // namespace isetup::ui::testing
