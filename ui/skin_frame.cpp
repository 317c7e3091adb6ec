// The skinned frame's geometry at a DPI, its hit test, the drawn frame and shape, and the caption fitting.
#include "ui/skin_frame.h"

#include <algorithm>

#include "ui/dpi_scale.h"
#include "ui/picture_scale.h"
#include "ui/skinned_control_layout.h"

namespace isetup::ui {
namespace {

bool IsSet(Point point) { return point.x != 0 || point.y != 0; }

// Where the far fixed part begins on one axis: the nearer of the two set points on that side, else the
// picture's own extent (nothing is anchored to the far edge but the edge itself).
int FarCut(Point first, Point second, int Point::*axis, int extent) {
  int cut = extent;
  for (Point point : {first, second}) {
    if (IsSet(point)) cut = std::min(cut, point.*axis);
  }
  return cut;
}

int Anchor(int value, int cut, int pictureExtent, int frameExtent) {
  return value >= cut ? frameExtent - (pictureExtent - value) : value;
}

bool Contains(const Box& box, Point point) {
  return point.x >= box.left && point.x < box.right && point.y >= box.top && point.y < box.bottom;
}

bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }

}  // namespace

FrameGeometry ScaleFrameGeometry(const SkinDescription& description, Size picture, int dpi) {
  FrameGeometry geometry;
  geometry.picture = picture;
  geometry.clientRect = ScaleForDpi(description.form.clientRect, dpi);
  geometry.captionRect = ScaleForDpi(description.form.captionRect, dpi);
  geometry.corners = ScaleForDpi(description.form.corners, dpi);
  if (description.caption) {
    const Box& object = description.caption->skinRect;
    const Box& text = description.caption->textRect;
    const Box band{object.left + text.left, object.top + text.top, object.left + text.right, object.top + text.bottom};
    geometry.captionText = ScaleForDpi(band, dpi);
  }
  return geometry;
}

Box MapFrameRect(const FrameGeometry& geometry, Size frameSize, const Box& rect) {
  const CornerPoints& c = geometry.corners;
  const int rightCut = FarCut(c.rightTop, c.rightBottom, &Point::x, geometry.picture.width);
  const int bottomCut = FarCut(c.leftBottom, c.rightBottom, &Point::y, geometry.picture.height);
  const int w = geometry.picture.width;
  const int h = geometry.picture.height;
  return {Anchor(rect.left, rightCut, w, frameSize.width), Anchor(rect.top, bottomCut, h, frameSize.height),
          Anchor(rect.right, rightCut, w, frameSize.width), Anchor(rect.bottom, bottomCut, h, frameSize.height)};
}

FrameMetrics ComputeFrameMetrics(const FrameGeometry& geometry, Size clientSize) {
  FrameMetrics metrics;
  metrics.outer = FrameSizeForClient(geometry.picture, geometry.clientRect, clientSize);
  metrics.client = MapClientRect(geometry.picture, geometry.clientRect, metrics.outer);
  metrics.caption = MapFrameRect(geometry, metrics.outer, geometry.captionRect);
  metrics.captionText = MapFrameRect(geometry, metrics.outer, geometry.captionText);
  return metrics;
}

FrameHit HitTestFrame(const FrameMetrics& metrics, Point point) {
  if (Contains(metrics.client, point)) return FrameHit::Client;
  if (Contains(metrics.caption, point)) return FrameHit::Caption;
  return FrameHit::Border;
}

SkinPicture SharpenMask(const SkinPicture& mask) {
  SkinPicture out = mask;
  for (std::uint32_t& pixel : out.pixels) {
    const unsigned sum = (pixel & 0xFFu) + ((pixel >> 8) & 0xFFu) + ((pixel >> 16) & 0xFFu);
    pixel = sum < 3u * 128u ? 0xFF000000u : 0xFFFFFFFFu;
  }
  return out;
}

std::optional<FrameLook> BuildFrameLook(const Skin& skin, int dpi, Size designClient, const PictureResampler& resample) {
  if (!skin.frame || skin.frame->width <= 0 || skin.frame->height <= 0) return std::nullopt;
  if (dpi <= 0) dpi = kDesignDpi;
  const Size pictureSize = ScaleForDpi(skin.frame->size(), dpi);

  // Resampled once for this DPI; at 96 dpi the pictures are used as they are, pixel for pixel.
  SkinPicture scaledFrame;
  std::optional<SkinPicture> scaledMask;
  const SkinPicture* frame = &*skin.frame;
  const SkinPicture* mask = skin.mask ? &*skin.mask : nullptr;
  if (pictureSize != skin.frame->size()) {
    if (!resample) return std::nullopt;
    scaledFrame = resample(*skin.frame, pictureSize);
    if (scaledFrame.size() != pictureSize) return std::nullopt;
    frame = &scaledFrame;
    if (mask) {
      scaledMask = SharpenMask(resample(*mask, pictureSize));
      mask = scaledMask->size() == pictureSize ? &*scaledMask : nullptr;
    }
  }

  FrameLook look;
  look.dpi = dpi;
  look.geometry = ScaleFrameGeometry(skin.description, pictureSize, dpi);
  look.metrics = ComputeFrameMetrics(look.geometry, ScaleForDpi(designClient, dpi));
  const SliceLayout layout = SlicePicture(pictureSize, look.geometry.corners, look.metrics.outer);
  // A frame whose fixed parts do not fit the window, or that cannot grow to it, is not drawn at all.
  if (layout.size != look.metrics.outer) return std::nullopt;
  const Box whole{0, 0, pictureSize.width, pictureSize.height};
  look.frame = RenderSlices(*frame, whole, layout);
  if (look.frame.size() != look.metrics.outer) return std::nullopt;
  look.clientBackground = CropPicture(*frame, look.geometry.clientRect);
  if (look.clientBackground.pixels.empty()) return std::nullopt;

  if (mask) {
    // A mask that cuts everything away gives no runs, and so the whole rectangle: never an invisible window.
    look.windowRuns = MaskWindowRuns(RenderSlices(*mask, whole, layout));
  }

  if (skin.description.caption) {
    const CaptionSkinData& caption = *skin.description.caption;
    look.captionFont = ScaleForDpi(caption.font, dpi);
    look.captionAlignment = caption.alignment;
    look.activeCaptionColour = caption.activeFontColor;
    look.inactiveCaptionColour = caption.fontColor;
  }
  return look;
}

std::wstring FitCaption(std::wstring_view caption, int width, const std::function<int(std::wstring_view)>& measure) {
  if (measure(caption) <= width) return std::wstring(caption);
  std::wstring_view rest = caption;
  while (!rest.empty()) {
    const bool pair = rest.size() >= 2 && IsLowSurrogate(rest.back()) && IsHighSurrogate(rest[rest.size() - 2]);
    rest.remove_suffix(pair ? 2 : 1);
    std::wstring shortened(rest);
    shortened += L"...";
    if (measure(shortened) <= width) return shortened;
  }
  return L"...";
}

}  // namespace isetup::ui
