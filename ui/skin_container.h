// The inflated skin container: version, flagged frame, inactive frame and mask pictures, the control
// pictures and the skin description text.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ui/skin_bitmap.h"
#include "ui/skin_result.h"

namespace isetup::ui {

// Layout (integers 32-bit little-endian, flags one byte, 0 = a BMP file follows, anything else = none):
//   version; frame flag [+ BMP]; inactive frame flag [+ BMP]; mask flag [+ BMP];
//   version 2 only: two more flagged pictures, read and dropped;
//   count of control pictures; that many BMP files without flags; the description text to the end.
inline constexpr std::int32_t kOldestSkinContainerVersion = 2;
inline constexpr std::int32_t kNewestSkinContainerVersion = 3;

// No skin carries more control pictures than this; a larger count is a damaged field.
inline constexpr std::int32_t kMaxSkinControlPictures = 256;

struct SkinContainer {
  std::int32_t version = kNewestSkinContainerVersion;
  std::optional<SkinPicture> frame;
  std::optional<SkinPicture> inactiveFrame;
  std::optional<SkinPicture> mask;
  std::vector<SkinPicture> controlPictures;
  std::string description;  // INI text in the ANSI code page, as stored
};

// Reads an inflated container; every field is checked against the bytes present.
SkinResult<SkinContainer> ReadSkinContainer(std::span<const std::uint8_t> data);

}  // namespace isetup::ui
