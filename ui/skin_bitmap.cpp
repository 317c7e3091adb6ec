// Reads the BMP pictures of the stored skin into top-down 32-bit pixels.
#include "ui/skin_bitmap.h"

#include <string>

#include "ui/skin_bytes.h"

namespace isetup::ui {
namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;  // BITMAPINFOHEADER; V4 and V5 extend it
constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitfields = 3;

}  // namespace

bool SkinPicture::Contains(const Box& box) const {
  return box.left >= 0 && box.top >= 0 && box.left <= box.right && box.top <= box.bottom && box.right <= width &&
         box.bottom <= height;
}

SkinResult<std::size_t> BmpFileSize(std::span<const std::uint8_t> data) {
  if (data.size() < kFileHeaderSize) return SkinResult<std::size_t>::Fail("picture: file header cut short");
  if (data[0] != 'B' || data[1] != 'M') return SkinResult<std::size_t>::Fail("picture: no \"BM\" signature");
  const std::uint32_t size = LoadU32(data, 2);
  if (size < kFileHeaderSize + kInfoHeaderSize) return SkinResult<std::size_t>::Fail("picture: file size too small");
  if (size > data.size()) return SkinResult<std::size_t>::Fail("picture: file runs past the end of the skin");
  return SkinResult<std::size_t>::Ok(size);
}

SkinResult<SkinPicture> DecodeBmp(std::span<const std::uint8_t> file) {
  using Result = SkinResult<SkinPicture>;
  const auto declared = BmpFileSize(file);
  if (!declared) return Result::Fail(declared.error());
  file = file.first(declared.value());

  const std::uint32_t headerSize = LoadU32(file, kFileHeaderSize);
  if (headerSize < kInfoHeaderSize || headerSize > file.size() - kFileHeaderSize) {
    return Result::Fail("picture: not a BITMAPINFOHEADER");
  }
  const std::size_t info = kFileHeaderSize;
  const std::int32_t width = LoadI32(file, info + 4);
  const std::int32_t rawHeight = LoadI32(file, info + 8);
  const std::uint16_t planes = LoadU16(file, info + 12);
  const std::uint16_t bitCount = LoadU16(file, info + 14);
  const std::uint32_t compression = LoadU32(file, info + 16);

  // A negative height marks top-down rows; INT32_MIN has no positive counterpart.
  if (rawHeight == INT32_MIN) return Result::Fail("picture: bad height");
  const bool topDown = rawHeight < 0;
  const std::int32_t height = topDown ? -rawHeight : rawHeight;
  if (width <= 0 || height <= 0 || width > kMaxSkinPictureSide || height > kMaxSkinPictureSide) {
    return Result::Fail("picture: size out of range");
  }
  if (planes != 1) return Result::Fail("picture: plane count is not 1");
  if (bitCount != 32 && bitCount != 24) return Result::Fail("picture: only 32 and 24 bits per pixel are read");
  if (compression == kBiBitfields) {
    // Only the masks that mean plain BGRA are accepted; they follow the 40 header bytes either way.
    const std::size_t masks = info + kInfoHeaderSize;
    if (bitCount != 32 || file.size() < masks + 12 || LoadU32(file, masks) != 0x00FF0000u ||
        LoadU32(file, masks + 4) != 0x0000FF00u || LoadU32(file, masks + 8) != 0x000000FFu) {
      return Result::Fail("picture: unsupported bit fields");
    }
  } else if (compression != kBiRgb) {
    return Result::Fail("picture: compressed pictures are not read");
  }

  const std::size_t stride = ((static_cast<std::size_t>(width) * bitCount + 31) / 32) * 4;
  const std::size_t pixelBytes = stride * static_cast<std::size_t>(height);
  const std::uint32_t offset = LoadU32(file, 10);
  if (offset < kFileHeaderSize + headerSize || offset > file.size() || file.size() - offset < pixelBytes) {
    return Result::Fail("picture: pixel data lies outside the file");
  }

  SkinPicture picture;
  picture.width = width;
  picture.height = height;
  picture.pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  const std::size_t bytesPerPixel = bitCount / 8;
  for (std::int32_t y = 0; y < height; ++y) {
    const std::int32_t sourceRow = topDown ? y : height - 1 - y;
    const std::size_t row = offset + static_cast<std::size_t>(sourceRow) * stride;
    std::uint32_t* out = picture.pixels.data() + static_cast<std::size_t>(y) * width;
    for (std::int32_t x = 0; x < width; ++x) {
      const std::size_t at = row + static_cast<std::size_t>(x) * bytesPerPixel;
      out[x] = bitCount == 32 ? LoadU32(file, at)
                              : 0xFF000000u | (static_cast<std::uint32_t>(file[at + 2]) << 16) |
                                    (static_cast<std::uint32_t>(file[at + 1]) << 8) | file[at];
    }
  }
  return Result::Ok(std::move(picture));
}

}  // namespace isetup::ui
