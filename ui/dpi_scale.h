// Scaling the window's 96-dpi design (client sizes, picture pixels, font heights) to a display's DPI.
#pragma once

#include "ui/geometry.h"

namespace isetup::ui {

inline constexpr int kDesignDpi = 96;

// value × dpi / 96, rounded half away from zero; a dpi of 0 or less counts as 96.
constexpr int ScaleForDpi(int value, int dpi) {
  if (dpi <= 0) dpi = kDesignDpi;
  const long long scaled = static_cast<long long>(value) * dpi;
  return static_cast<int>(scaled >= 0 ? (scaled + kDesignDpi / 2) / kDesignDpi
                                      : -((-scaled + kDesignDpi / 2) / kDesignDpi));
}

// Each edge is scaled on its own, so boxes that touch at 96 dpi still touch when scaled.
constexpr Box ScaleForDpi(const Box& box, int dpi) {
  return {ScaleForDpi(box.left, dpi), ScaleForDpi(box.top, dpi), ScaleForDpi(box.right, dpi),
          ScaleForDpi(box.bottom, dpi)};
}

constexpr Size ScaleForDpi(Size size, int dpi) {
  return {ScaleForDpi(size.width, dpi), ScaleForDpi(size.height, dpi)};
}

constexpr Point ScaleForDpi(Point point, int dpi) {
  return {ScaleForDpi(point.x, dpi), ScaleForDpi(point.y, dpi)};
}

}  // namespace isetup::ui
