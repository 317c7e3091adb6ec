// What an accepted skin promises the drawing code, checked on every skin a fuzz target gets accepted:
// each rectangle and corner point lies in its picture, and cutting and drawing the pictures at a few
// sizes stays inside them (ASan watches the reads).
#pragma once

#include "tests/fuzz/fuzz_models.h"
#include "ui/skin_geometry.h"
#include "ui/skin_loader.h"

namespace isetup::fuzz {

inline bool ModelInside(const ui::Box& box, int width, int height) {
  return 0 <= box.left && box.left <= box.right && box.right <= width && 0 <= box.top && box.top <= box.bottom &&
         box.bottom <= height;
}

inline bool ModelPointsInside(const ui::CornerPoints& c, int width, int height) {
  for (const ui::Point& p : {c.leftTop, c.rightTop, c.leftBottom, c.rightBottom}) {
    if (p.x < 0 || p.y < 0 || p.x > width || p.y > height) return false;
  }
  return true;
}

// Cuts the part `area` of the picture at its corner points and draws it at a few sizes.
inline void DrawAtSomeSizes(const ui::SkinPicture& picture, const ui::Box& area, const ui::CornerPoints& corners) {
  const ui::Size own{area.right - area.left, area.bottom - area.top};
  for (const ui::Size wanted : {own, ui::Size{1, 1}, ui::Size{own.width * 3 + 7, own.height * 2 + 5}}) {
    const ui::SliceLayout layout = ui::SlicePicture(own, corners, wanted);
    const ui::SkinPicture drawn = ui::RenderSlices(picture, area, layout);
    FUZZ_CHECK(drawn.pixels.size() == static_cast<std::size_t>(drawn.width) * static_cast<std::size_t>(drawn.height),
               "RenderSlices made %d x %d with %zu pixels", drawn.width, drawn.height, drawn.pixels.size());
  }
}

inline void CheckAcceptedSkin(const ui::Skin& skin) {
  const ui::SkinDescription& d = skin.description;
  if (skin.frame) {
    const int w = skin.frame->width;
    const int h = skin.frame->height;
    FUZZ_CHECK(!skin.mask || (skin.mask->width == w && skin.mask->height == h), "mask size differs from the frame");
    FUZZ_CHECK(!skin.inactiveFrame || (skin.inactiveFrame->width == w && skin.inactiveFrame->height == h),
               "inactive frame size differs from the frame");
    for (const ui::Box* box : {&d.form.clientRect, &d.form.captionRect, &d.form.buttonsRect}) {
      FUZZ_CHECK(ModelInside(*box, w, h), "accepted a FORMINFO rectangle outside the frame");
    }
    FUZZ_CHECK(ModelPointsInside(d.form.corners, w, h), "accepted a FORMINFO corner outside the frame");
    DrawAtSomeSizes(*skin.frame, {0, 0, w, h}, d.form.corners);
    const ui::Box client = ui::MapClientRect(skin.frame->size(), d.form.clientRect, {w + 40, h + 30});
    FUZZ_CHECK(client.right - client.left == d.form.clientRect.right - d.form.clientRect.left + 40,
               "MapClientRect does not widen the client with the frame");
    if (skin.mask) {
      std::size_t windowPixels = 0;
      for (const ui::Box& run : ui::MaskWindowRuns(*skin.mask)) {
        FUZZ_CHECK(ModelInside(run, w, h) && run.bottom == run.top + 1 && run.right > run.left, "bad mask run");
        windowPixels += static_cast<std::size_t>(run.right - run.left);
      }
      std::size_t black = 0;
      for (const std::uint32_t pixel : skin.mask->pixels) black += (pixel & 0x00FFFFFFu) == 0;
      FUZZ_CHECK(windowPixels == black, "mask runs cover %zu pixels, the mask has %zu black ones", windowPixels, black);
    }
    if (d.caption) {
      const ui::Box& s = d.caption->skinRect;
      FUZZ_CHECK(ModelInside(s, w, h), "accepted a caption outside the frame");
      FUZZ_CHECK(ModelInside(d.caption->textRect, s.right - s.left, s.bottom - s.top),
                 "accepted a caption text band outside the caption");
    }
  } else {
    FUZZ_CHECK(!skin.mask && !skin.inactiveFrame && !d.caption, "frame parts kept without a frame picture");
  }

  const auto pictureOf = [&](int index) -> const ui::SkinPicture& {
    FUZZ_CHECK(index >= 0 && static_cast<std::size_t>(index) < skin.controlPictures.size(),
               "accepted pictureindex %d of %zu pictures", index, skin.controlPictures.size());
    return skin.ControlPicture(index);
  };
  if (d.button) {
    const ui::SkinPicture& picture = pictureOf(d.button->pictureIndex);
    for (const ui::Box* box : {&d.button->skinRect, &d.button->activeSkinRect, &d.button->downSkinRect}) {
      FUZZ_CHECK(ModelInside(*box, picture.width, picture.height), "accepted a button image outside its picture");
      DrawAtSomeSizes(picture, *box, d.button->corners);
    }
  }
  if (d.gauge) {
    const ui::SkinPicture& picture = pictureOf(d.gauge->pictureIndex);
    for (const ui::Box* box : {&d.gauge->skinRect, &d.gauge->progressRect, &d.gauge->animationRect}) {
      FUZZ_CHECK(ModelInside(*box, picture.width, picture.height), "accepted a gauge part outside its picture");
    }
    DrawAtSomeSizes(picture, d.gauge->skinRect, d.gauge->corners);
    DrawAtSomeSizes(picture, d.gauge->progressRect, {});
  }
  if (d.label) {
    const ui::SkinPicture& picture = pictureOf(d.label->pictureIndex);
    FUZZ_CHECK(ModelInside(d.label->skinRect, picture.width, picture.height), "accepted a label outside its picture");
    DrawAtSomeSizes(picture, d.label->skinRect, d.label->corners);
  }
}

}  // namespace isetup::fuzz
