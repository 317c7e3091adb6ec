// Inflates the zlib stream the skin is stored in, with a ceiling on the inflated size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "ui/skin_result.h"

namespace isetup::ui {

// The stored skin inflates to about 2 MB; anything past this is a damaged or hostile stream.
inline constexpr std::size_t kMaxInflatedSkinSize = 64u << 20;

// One complete zlib stream (RFC 1950) covering the whole input; fails on a damaged or cut stream, on
// bytes after its end, and when the output would exceed limit.
SkinResult<std::vector<std::uint8_t>> InflateSkin(std::span<const std::uint8_t> compressed,
                                                  std::size_t limit = kMaxInflatedSkinSize);

}  // namespace isetup::ui
