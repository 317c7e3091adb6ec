// Cutting skin pictures at their corner points, and the frame and mask geometry the window needs.
#include "ui/skin_geometry.h"

#include <algorithm>

namespace isetup::ui {
namespace {

bool IsSet(Point point) { return point.x != 0 || point.y != 0; }

// The corner points with unset ones filled in from their neighbours and all clamped into the picture.
CornerPoints Resolve(Size picture, const CornerPoints& given) {
  const bool lt = IsSet(given.leftTop);
  const bool rt = IsSet(given.rightTop);
  const bool lb = IsSet(given.leftBottom);
  const bool rb = IsSet(given.rightBottom);
  const int w = picture.width;
  const int h = picture.height;
  CornerPoints out;
  out.leftTop = {lt ? given.leftTop.x : (lb ? given.leftBottom.x : 0), lt ? given.leftTop.y : (rt ? given.rightTop.y : 0)};
  out.rightTop = {rt ? given.rightTop.x : (rb ? given.rightBottom.x : w), rt ? given.rightTop.y : (lt ? given.leftTop.y : 0)};
  out.leftBottom = {lb ? given.leftBottom.x : (lt ? given.leftTop.x : 0),
                    lb ? given.leftBottom.y : (rb ? given.rightBottom.y : h)};
  out.rightBottom = {rb ? given.rightBottom.x : (rt ? given.rightTop.x : w),
                     rb ? given.rightBottom.y : (lb ? given.leftBottom.y : h)};
  for (Point* p : {&out.leftTop, &out.rightTop, &out.leftBottom, &out.rightBottom}) {
    p->x = std::clamp(p->x, 0, w);
    p->y = std::clamp(p->y, 0, h);
  }
  return out;
}

// Where one band is cut across: its left part ends at leftEnd, its right part starts at rightStart.
struct Cut {
  int leftEnd;
  int rightStart;
  int Fixed(int width) const { return leftEnd + (width - rightStart); }
};

Cut MakeCut(int leftEnd, int rightStart) { return {leftEnd, std::max(leftEnd, rightStart)}; }

// The source index whose pixel centre is nearest the centre of destination index i.
int Sample(int i, int sourceExtent, int destinationExtent) {
  return static_cast<int>((2LL * i + 1) * sourceExtent / (2LL * destinationExtent));
}

bool Inside(const Box& box, int width, int height) {
  return box.left >= 0 && box.top >= 0 && box.right <= width && box.bottom <= height;
}

}  // namespace

Growth GrowthOf(const CornerPoints& corners) {
  return {IsSet(corners.rightTop) || IsSet(corners.rightBottom), IsSet(corners.leftBottom) || IsSet(corners.rightBottom)};
}

SliceLayout SlicePicture(Size picture, const CornerPoints& corners, Size wanted) {
  const int w = std::max(picture.width, 0);
  const int h = std::max(picture.height, 0);
  const CornerPoints p = Resolve({w, h}, corners);

  const int topEnd = std::max(p.leftTop.y, p.rightTop.y);
  const int bottomStart = std::max(topEnd, std::min(p.leftBottom.y, p.rightBottom.y));
  const Cut top = MakeCut(p.leftTop.x, p.rightTop.x);
  const Cut middle = MakeCut(std::min(p.leftTop.x, p.leftBottom.x), std::max(p.rightTop.x, p.rightBottom.x));
  const Cut bottom = MakeCut(p.leftBottom.x, p.rightBottom.x);

  const Growth growth = GrowthOf(corners);
  const int minWidth = std::max({top.Fixed(w), middle.Fixed(w), bottom.Fixed(w)});
  const int minHeight = topEnd + (h - bottomStart);
  SliceLayout layout;
  layout.size.width = growth.horizontal ? std::max(wanted.width, minWidth) : w;
  layout.size.height = growth.vertical ? std::max(wanted.height, minHeight) : h;
  const int dw = layout.size.width;
  const int dh = layout.size.height;

  struct Band {
    int sourceTop, sourceBottom, top, bottom;
    Cut cut;
    SlicePart first;
  };
  const Band bands[] = {
      {0, topEnd, 0, topEnd, top, SlicePart::LeftTop},
      {topEnd, bottomStart, topEnd, dh - (h - bottomStart), middle, SlicePart::Left},
      {bottomStart, h, dh - (h - bottomStart), dh, bottom, SlicePart::LeftBottom},
  };
  for (const Band& band : bands) {
    const int rightAt = dw - (w - band.cut.rightStart);
    const int columns[4][2] = {{0, 0}, {band.cut.leftEnd, band.cut.leftEnd}, {band.cut.rightStart, rightAt}, {w, dw}};
    for (int i = 0; i < 3; ++i) {
      SlicePiece& piece = layout.pieces[static_cast<std::size_t>(band.first) + i];
      piece.source = {columns[i][0], band.sourceTop, columns[i + 1][0], band.sourceBottom};
      piece.destination = {columns[i][1], band.top, columns[i + 1][1], band.bottom};
    }
  }
  return layout;
}

Box MapClientRect(Size framePicture, const Box& clientRect, Size frameSize) {
  return {clientRect.left, clientRect.top, frameSize.width - (framePicture.width - clientRect.right),
          frameSize.height - (framePicture.height - clientRect.bottom)};
}

Size FrameSizeForClient(Size framePicture, const Box& clientRect, Size clientSize) {
  return {clientSize.width + clientRect.left + (framePicture.width - clientRect.right),
          clientSize.height + clientRect.top + (framePicture.height - clientRect.bottom)};
}

SkinPicture RenderSlices(const SkinPicture& source, const Box& area, const SliceLayout& layout) {
  SkinPicture out;
  if (!source.Contains(area) || layout.size.width <= 0 || layout.size.height <= 0 ||
      layout.size.width > kMaxSkinPictureSide || layout.size.height > kMaxSkinPictureSide) {
    return out;
  }
  out.width = layout.size.width;
  out.height = layout.size.height;
  out.pixels.assign(static_cast<std::size_t>(out.width) * out.height, 0);
  for (const SlicePiece& piece : layout.pieces) {
    const Box& s = piece.source;
    const Box& d = piece.destination;
    if (s.width() <= 0 || s.height() <= 0 || d.width() <= 0 || d.height() <= 0) continue;
    if (!Inside(s, area.width(), area.height()) || !Inside(d, out.width, out.height)) {
      continue;  // a layout made for another picture: draw nothing rather than read outside
    }
    for (int y = d.top; y < d.bottom; ++y) {
      // Sampling at pixel centres keeps the first and last rows and columns of a piece when it shrinks.
      const int sy = area.top + s.top + Sample(y - d.top, s.height(), d.height());
      for (int x = d.left; x < d.right; ++x) {
        const int sx = area.left + s.left + Sample(x - d.left, s.width(), d.width());
        out.pixels[static_cast<std::size_t>(y) * out.width + x] = source.at(sx, sy);
      }
    }
  }
  return out;
}

std::vector<Box> MaskWindowRuns(const SkinPicture& mask) {
  std::vector<Box> runs;
  for (int y = 0; y < mask.height; ++y) {
    int x = 0;
    while (x < mask.width) {
      while (x < mask.width && (mask.at(x, y) & 0x00FFFFFFu) != 0) ++x;
      const int start = x;
      while (x < mask.width && (mask.at(x, y) & 0x00FFFFFFu) == 0) ++x;
      if (x > start) runs.push_back({start, y, x, y + 1});
    }
  }
  return runs;
}

}  // namespace isetup::ui
