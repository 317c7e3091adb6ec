// Smooth resizing of skin pictures, used to draw the 96-dpi artwork at a display's DPI.
#pragma once

#include "ui/geometry.h"
#include "ui/skin_bitmap.h"

namespace isetup::ui {

// The picture resampled to size: area averaging on an axis that shrinks, bilinear filtering (pixel
// centres, edges clamped) on one that grows, a plain copy on one that keeps its length. Colours are
// weighted by their alpha, so fully transparent pixels never tint their neighbours; a picture whose
// alpha is zero everywhere (alpha unused, as in many 32-bit BMP files) is filtered as opaque and keeps
// its zero alpha. The same size gives an identical copy. An empty or inconsistent source, or a size
// that is not positive or exceeds kMaxSkinPictureSide, gives an empty picture.
SkinPicture ResamplePicture(const SkinPicture& source, Size size);

// The pixels of source inside area, as a picture of their own; empty when area is empty or does not
// lie inside source.
SkinPicture CropPicture(const SkinPicture& source, const Box& area);

}  // namespace isetup::ui
