// Pictures of the stored skin: a BMP file read into top-down 32-bit pixels, every field checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "ui/geometry.h"
#include "ui/skin_result.h"

namespace isetup::ui {

// Top-down rows, 0xAARRGGBB per pixel: in memory B, G, R, A, the layout of a 32-bit DIB section.
struct SkinPicture {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;  // width * height

  Size size() const { return {width, height}; }
  std::uint32_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
  // True when the box lies inside the picture (an empty box anywhere inside counts).
  bool Contains(const Box& box) const;
};

// Pictures wider or higher than this are refused: no skin needs them, and it bounds the memory a
// damaged file can make us allocate.
inline constexpr int kMaxSkinPictureSide = 8192;

// Bytes the BMP file at the start of data occupies, from its file header ("BM" and the total size);
// fails when the header is missing or the size runs past the data.
SkinResult<std::size_t> BmpFileSize(std::span<const std::uint8_t> data);

// Decodes one whole BMP file: BITMAPINFOHEADER (or a later header of that family), no compression
// (BI_RGB, or BI_BITFIELDS with the standard masks), 32 or 24 bits per pixel, bottom-up or top-down.
// 24-bit pictures come out opaque (alpha 0xFF).
SkinResult<SkinPicture> DecodeBmp(std::span<const std::uint8_t> file);

}  // namespace isetup::ui
