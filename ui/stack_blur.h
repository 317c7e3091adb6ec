// Stack blur: a triangle-weighted blur over 32-bit pixels, used for the inactive window's client snapshot.
#pragma once

#include <cstdint>
#include <span>

#include "ui/skin_bitmap.h"

namespace isetup::ui {

inline constexpr int kInactiveBlurRadius = 3;
inline constexpr int kMaxStackBlurRadius = 254;

// Blurs width × height pixels (rows one after the other, no padding) in place: each byte of a pixel
// (B, G, R and A alike) becomes the triangle-weighted mean of its neighbours up to radius away, with
// weights radius + 1 − distance, first along rows, then along columns, each pass rounded to the
// nearest value. Pixels beyond the edges repeat the edge pixel. Returns false, changing nothing, when
// the sizes do not match the buffer or radius is outside 0..kMaxStackBlurRadius; radius 0 changes nothing.
[[nodiscard]] bool StackBlur(std::span<std::uint32_t> pixels, int width, int height, int radius = kInactiveBlurRadius);

// A blurred copy; an inconsistent picture or bad radius gives an unchanged copy.
SkinPicture StackBlurred(const SkinPicture& picture, int radius = kInactiveBlurRadius);

}  // namespace isetup::ui
