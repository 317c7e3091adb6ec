// The arithmetic of drawing the skinned controls: skin entries scaled to a DPI, pictures cut and stretched
// to a control's size, the gauge's fill area and its repeated fill pieces, and the button caption's spot.
#pragma once

#include <vector>

#include "ui/gauge_model.h"
#include "ui/geometry.h"
#include "ui/skin_bitmap.h"
#include "ui/skin_description.h"
#include "ui/skin_geometry.h"

namespace isetup::ui {

// Each point scaled on its own; unset points (0, 0) stay unset.
CornerPoints ScaleForDpi(const CornerPoints& corners, int dpi);
// The character height scaled; name and style kept.
SkinFont ScaleForDpi(const SkinFont& font, int dpi);
// Every rectangle, point and font height of the entry scaled; picture index, colours and flags kept.
ButtonSkinData ScaleForDpi(const ButtonSkinData& entry, int dpi);
GaugeSkinData ScaleForDpi(const GaugeSkinData& entry, int dpi);
LabelSkinData ScaleForDpi(const LabelSkinData& entry, int dpi);

// The pixels of picture inside rect (96-dpi picture pixels), smoothly resampled to the size that
// ScaleForDpi(rect, dpi) has. Empty when rect is empty or outside the picture.
SkinPicture ScaledPicturePart(const SkinPicture& picture, const Box& rect, int dpi);

// How a picture is laid out to cover wanted: cut at its corner points when any is set (SlicePicture, so
// axes the points do not let grow keep the picture's extent), else the whole picture stretched to wanted.
SliceLayout StretchedLayout(Size picture, const CornerPoints& corners, Size wanted);

// The picture stretched to wanted by nearest pixel centres, so its first and last rows and columns
// survive (the fill strip's bottom line, for one). Empty when either size is empty.
SkinPicture StretchPicture(const SkinPicture& picture, Size wanted);

// The gauge's fill area inside a background drawn at drawn: progressArea keeps its offsets from the left
// and top and its margins to the right and bottom of the background picture, so it widens with the
// gauge; clipped to the drawn area.
Box GaugeFillArea(Size background, const Box& progressArea, Size drawn);

// The filled part of the fill area: from its left edge, GaugeModel::FillLength of its width long.
Box GaugeFilledBox(const Box& fillArea, const GaugeModel& model);

// Pieces of a picture tileWidth wide repeated along run from its left edge, each as high as run; the
// last is cut short at run's right edge. None when run is empty or tileWidth is not positive.
std::vector<Box> TileRun(const Box& run, int tileWidth);

// Origin of a text of the given size centred both ways in box (div truncating toward zero).
Point CentredTextOrigin(const Box& box, Size text);

}  // namespace isetup::ui
