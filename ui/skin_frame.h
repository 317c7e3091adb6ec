// The skinned frame of the setup window at one DPI: where the client area, the drag area and the caption
// text band lie in the window, the frame picture drawn at the window's size and the window's shape.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/geometry.h"
#include "ui/skin_bitmap.h"
#include "ui/skin_description.h"
#include "ui/skin_geometry.h"
#include "ui/skin_loader.h"
#include "ui/picture_scale.h"

namespace isetup::ui {

// The frame geometry of a skin, in pixels of the frame picture as drawn at one DPI.
struct FrameGeometry {
  Size picture;
  Box clientRect;
  Box captionRect;  // where a drag moves the window
  CornerPoints corners;
  Box captionText;  // the caption object's text band (its skin rect plus its text rect); empty: no caption
};

// The skin's frame geometry for a frame picture of the given size, every coordinate scaled from 96 dpi to
// dpi (an unset corner point stays unset).
FrameGeometry ScaleFrameGeometry(const SkinDescription& description, Size picture, int dpi);

// Maps a rectangle of the frame picture into the frame drawn at frameSize. A coordinate before the picture's
// right or bottom fixed part keeps its distance to the left or top edge; one inside that part keeps its
// distance to the right or bottom edge, as the parts themselves do.
Box MapFrameRect(const FrameGeometry& geometry, Size frameSize, const Box& rect);

// Where the window's parts lie, in window pixels (relative to the window's top-left corner).
struct FrameMetrics {
  Size outer;
  Box client;
  Box caption;
  Box captionText;
  friend bool operator==(const FrameMetrics&, const FrameMetrics&) = default;
};

// The metrics of a frame whose client area is clientSize.
FrameMetrics ComputeFrameMetrics(const FrameGeometry& geometry, Size clientSize);

enum class FrameHit { Client, Caption, Border };

// What a point of the window (window pixels) is: the client area, the drag area, or frame that does nothing.
// Points outside the window count as frame.
FrameHit HitTestFrame(const FrameMetrics& metrics, Point point);

// A smoothly resampled copy of a picture at another size.
using PictureResampler = std::function<SkinPicture(const SkinPicture& source, Size size)>;

// Every pixel black (window) when its mean channel value is below one half, else white (cut away): a mask
// that smoothing has greyed along its edges made sharp again.
SkinPicture SharpenMask(const SkinPicture& mask);

// The frame as drawn at one DPI for a client area of a given size.
struct FrameLook {
  int dpi = 96;
  FrameGeometry geometry;
  FrameMetrics metrics;
  SkinPicture frame;             // metrics.outer in size
  SkinPicture clientBackground;  // the frame picture's client part, repeated over the client area
  std::vector<Box> windowRuns;   // the window's shape; empty: the whole rectangle
  // Caption font and colours, the font height already scaled.
  SkinFont captionFont;
  TextAlignment captionAlignment = TextAlignment::Center;
  SkinColour activeCaptionColour;
  SkinColour inactiveCaptionColour;
};

// Builds the look from a loaded skin: the frame picture (and mask) resampled to dpi once, when dpi is not 96,
// then cut at the corner points for the window's size; designClient is the client size at 96 dpi. Absent when
// the skin has no frame picture, the size cannot be drawn, or a resampling is needed and resample is empty.
std::optional<FrameLook> BuildFrameLook(const Skin& skin, int dpi, Size designClient,
                                        const PictureResampler& resample = ResamplePicture);

// The caption as it fits a band width: whole when it fits; otherwise characters dropped from its end, one at
// a time, until the rest followed by "..." fits, and that ("..." alone when nothing else fits). A surrogate
// pair is dropped as one character. measure gives a text's width in the caption font.
std::wstring FitCaption(std::wstring_view caption, int width, const std::function<int(std::wstring_view)>& measure);

}  // namespace isetup::ui
