// Writing the stored skin: BMP files, the skin description text, the container and its zlib stream.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/skin_generator/skin_artwork.h"

namespace isetup::skingen {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::int32_t kContainerVersion = 3;

// A complete 32-bit BMP file: BITMAPFILEHEADER ("BM", total size, pixel offset 54), BITMAPINFOHEADER
// (BI_RGB, 96 dpi), rows bottom-up.
Bytes EncodeBmp(const Canvas& canvas);

// The skin description, INI-style with CR LF line ends.
std::string SkinDescriptionText();

// Container version 3: version, flagged frame, inactive frame (none), flagged mask, the count of control
// pictures, the control pictures, the description to the end.
Bytes BuildContainer(const Canvas& frame, const Canvas& mask, const std::vector<Canvas>& controls,
                     const std::string& description);

// zlib at the maximum level (stream starts 0x78 0xDA); fails only when zlib does.
bool Deflate(const Bytes& data, Bytes& out);

// The whole stored skin as the program carries it.
Bytes BuildStoredSkin();

}  // namespace isetup::skingen
