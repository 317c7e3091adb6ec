// Cutting a skin picture at its corner points: fixed corners, edges and centre that follow the size
// the picture is drawn at, the client area inside a skinned frame, and the window shape from a mask.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "ui/geometry.h"
#include "ui/skin_bitmap.h"

namespace isetup::ui {

// Points of a picture (relative to its top-left) where its four fixed corners end: the left-top
// corner is the area above and left of leftTop, the right-top corner the area above and right of
// rightTop, and so on. (0, 0) means the point is not set.
struct CornerPoints {
  Point leftTop;
  Point rightTop;
  Point leftBottom;
  Point rightBottom;
  friend constexpr bool operator==(const CornerPoints&, const CornerPoints&) = default;
};

// A picture grows sideways only when a right-hand point fixes where its right part begins, and
// downwards only when a bottom point fixes where its bottom part begins; otherwise that side keeps
// the picture's own extent. So a picture with only rightTop set (the gauge) keeps its height.
struct Growth {
  bool horizontal = false;
  bool vertical = false;
  friend constexpr bool operator==(const Growth&, const Growth&) = default;
};
Growth GrowthOf(const CornerPoints& corners);

enum class SlicePart { LeftTop, Top, RightTop, Left, Centre, Right, LeftBottom, Bottom, RightBottom };
inline constexpr std::size_t kSlicePartCount = 9;

// One piece: drawn from source (relative to the picture) into destination (relative to the drawn
// area), stretched or tiled when the sizes differ. Either rectangle may be empty: nothing to draw.
struct SlicePiece {
  Box source;
  Box destination;
};

struct SliceLayout {
  Size size;  // the size actually drawn; see SlicePicture
  std::array<SlicePiece, kSlicePartCount> pieces;
  const SlicePiece& operator[](SlicePart part) const { return pieces[static_cast<std::size_t>(part)]; }
};

// Cuts a picture of the given size for drawing at wanted. The corner points split the picture into a
// top band (as high as the higher top corner), a bottom band (as high as the higher bottom corner) and
// the middle between them; the top band is cut across at the top points, the bottom band at the bottom
// points, the middle band keeps side edges as narrow as the narrower corner on that side. An unset
// point takes its x from the set point on the same side and its y from the set point on the same row,
// else the picture's edge. Corners keep their size; edges and the centre take up the rest. On an axis
// the picture cannot grow (GrowthOf) the drawn size is the picture's own, and it never shrinks below
// the fixed parts. Points outside the picture are clamped into it.
SliceLayout SlicePicture(Size picture, const CornerPoints& corners, Size wanted);

// The client area of a skinned frame drawn at frameSize: the same offsets from the left and top, and
// the same margins to the right and bottom, as clientRect has inside the frame picture.
Box MapClientRect(Size framePicture, const Box& clientRect, Size frameSize);

// The outer size of a frame whose client area is clientSize.
Size FrameSizeForClient(Size framePicture, const Box& clientRect, Size clientSize);

// Draws the part area of source (the picture's pixels inside it, e.g. a control's skin rect) into a new
// picture laid out by layout, each piece stretched by nearest neighbour. Pixels outside area are never read;
// an area outside the picture, or a drawn size above kMaxSkinPictureSide, gives an empty picture.
SkinPicture RenderSlices(const SkinPicture& source, const Box& area, const SliceLayout& layout);

// The window's shape from a mask picture: black pixels belong to the window, others are cut away.
// Returned as runs of window pixels, one row at a time (each box one pixel high), ready to be joined
// into a region.
std::vector<Box> MaskWindowRuns(const SkinPicture& mask);

}  // namespace isetup::ui
