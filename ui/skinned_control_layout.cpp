// Scaling and laying out the controls' skin pictures; the Win32 side only draws the boxes computed here.
#include "ui/skinned_control_layout.h"

#include <algorithm>

#include "ui/dpi_scale.h"
#include "ui/picture_scale.h"
#include "ui/text_placement.h"

namespace isetup::ui {

CornerPoints ScaleForDpi(const CornerPoints& corners, int dpi) {
  return {ScaleForDpi(corners.leftTop, dpi), ScaleForDpi(corners.rightTop, dpi), ScaleForDpi(corners.leftBottom, dpi),
          ScaleForDpi(corners.rightBottom, dpi)};
}

SkinFont ScaleForDpi(const SkinFont& font, int dpi) {
  SkinFont out = font;
  out.height = ScaleForDpi(font.height, dpi);
  return out;
}

ButtonSkinData ScaleForDpi(const ButtonSkinData& entry, int dpi) {
  ButtonSkinData out = entry;
  out.skinRect = ScaleForDpi(entry.skinRect, dpi);
  out.activeSkinRect = ScaleForDpi(entry.activeSkinRect, dpi);
  out.downSkinRect = ScaleForDpi(entry.downSkinRect, dpi);
  out.corners = ScaleForDpi(entry.corners, dpi);
  out.clientRect = ScaleForDpi(entry.clientRect, dpi);
  out.font = ScaleForDpi(entry.font, dpi);
  return out;
}

GaugeSkinData ScaleForDpi(const GaugeSkinData& entry, int dpi) {
  GaugeSkinData out = entry;
  out.skinRect = ScaleForDpi(entry.skinRect, dpi);
  out.corners = ScaleForDpi(entry.corners, dpi);
  out.progressArea = ScaleForDpi(entry.progressArea, dpi);
  out.progressRect = ScaleForDpi(entry.progressRect, dpi);
  out.font = ScaleForDpi(entry.font, dpi);
  out.animationRect = ScaleForDpi(entry.animationRect, dpi);
  return out;
}

LabelSkinData ScaleForDpi(const LabelSkinData& entry, int dpi) {
  LabelSkinData out = entry;
  out.skinRect = ScaleForDpi(entry.skinRect, dpi);
  out.corners = ScaleForDpi(entry.corners, dpi);
  out.font = ScaleForDpi(entry.font, dpi);
  return out;
}

SkinPicture ScaledPicturePart(const SkinPicture& picture, const Box& rect, int dpi) {
  const Box scaled = ScaleForDpi(rect, dpi);
  return ResamplePicture(CropPicture(picture, rect), {scaled.width(), scaled.height()});
}

SliceLayout StretchedLayout(Size picture, const CornerPoints& corners, Size wanted) {
  const Growth growth = GrowthOf(corners);
  const bool anySet = growth.horizontal || growth.vertical || corners.leftTop != Point{};
  if (anySet) return SlicePicture(picture, corners, wanted);
  SliceLayout layout;
  layout.size = {std::max(wanted.width, 0), std::max(wanted.height, 0)};
  layout.pieces[static_cast<std::size_t>(SlicePart::Centre)] = {Box{0, 0, picture.width, picture.height},
                                                                Box{0, 0, layout.size.width, layout.size.height}};
  return layout;
}

SkinPicture StretchPicture(const SkinPicture& picture, Size wanted) {
  if (picture.width <= 0 || picture.height <= 0 || wanted.width <= 0 || wanted.height <= 0) return {};
  SliceLayout layout;
  layout.size = wanted;
  layout.pieces[static_cast<std::size_t>(SlicePart::Centre)] = {Box{0, 0, picture.width, picture.height},
                                                                Box{0, 0, wanted.width, wanted.height}};
  return RenderSlices(picture, Box{0, 0, picture.width, picture.height}, layout);
}

Box GaugeFillArea(Size background, const Box& progressArea, Size drawn) {
  const Box mapped = MapClientRect(background, progressArea, drawn);
  Box area{std::max(mapped.left, 0), std::max(mapped.top, 0), std::min(mapped.right, drawn.width),
           std::min(mapped.bottom, drawn.height)};
  if (area.right < area.left) area.right = area.left;
  if (area.bottom < area.top) area.bottom = area.top;
  return area;
}

Box GaugeFilledBox(const Box& fillArea, const GaugeModel& model) {
  const int length = std::clamp(model.FillLength(fillArea.width()), 0, std::max(fillArea.width(), 0));
  return {fillArea.left, fillArea.top, fillArea.left + length, fillArea.bottom};
}

std::vector<Box> TileRun(const Box& run, int tileWidth) {
  std::vector<Box> tiles;
  if (tileWidth <= 0 || run.width() <= 0 || run.height() <= 0) return tiles;
  tiles.reserve(static_cast<std::size_t>(run.width() / tileWidth + 1));
  for (int x = run.left; x < run.right; x += tileWidth) {
    tiles.push_back({x, run.top, std::min(x + tileWidth, run.right), run.bottom});
  }
  return tiles;
}

Point CentredTextOrigin(const Box& box, Size text) {
  return {CentredStart(box.left, box.width(), text.width), CentredStart(box.top, box.height(), text.height)};
}

}  // namespace isetup::ui
