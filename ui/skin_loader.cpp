// Loads the stored skin and checks its entries against its pictures, so drawing never reads outside one.
#include "ui/skin_loader.h"

#include <climits>
#include <string>

#include "ui/skin_inflate.h"

namespace isetup::ui {
namespace {

bool BoxWithin(const Box& box, Size area) {
  return box.left >= 0 && box.top >= 0 && box.left <= box.right && box.top <= box.bottom && box.right <= area.width &&
         box.bottom <= area.height;
}

bool PointsWithin(const CornerPoints& corners, Size area) {
  for (const Point& p : {corners.leftTop, corners.rightTop, corners.leftBottom, corners.rightBottom}) {
    if (p.x < 0 || p.y < 0 || p.x > area.width || p.y > area.height) return false;
  }
  return true;
}

// The size of a box that may not have been checked yet. Edges too far apart for an int (never those of
// a box inside a picture) give -1, which nothing lies within, instead of an overflowing difference.
Size SizeOf(const Box& box) {
  const auto extent = [](int from, int to) {
    const long long length = static_cast<long long>(to) - from;
    return length < INT_MIN || length > INT_MAX ? -1 : static_cast<int>(length);
  };
  return {extent(box.left, box.right), extent(box.top, box.bottom)};
}

// Collects the first failed check.
class Checks {
 public:
  void Require(bool condition, const char* what) {
    if (!condition && error_.empty()) error_ = std::string("skin: ") + what;
  }
  const std::string& error() const { return error_; }

 private:
  std::string error_;
};

// The control's picture, when its index names one.
const SkinPicture* PictureFor(const Skin& skin, int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= skin.controlPictures.size()) return nullptr;
  return &skin.controlPictures[static_cast<std::size_t>(index)];
}

}  // namespace

SkinResult<Skin> AssembleSkin(SkinContainer container) {
  auto description = ParseSkinDescription(container.description);
  if (!description) return SkinResult<Skin>::Fail(description.error());

  Skin skin;
  skin.frame = std::move(container.frame);
  skin.inactiveFrame = std::move(container.inactiveFrame);
  skin.mask = std::move(container.mask);
  skin.controlPictures = std::move(container.controlPictures);
  skin.description = std::move(description).value();
  const SkinDescription& d = skin.description;

  Checks check;
  if (skin.frame) {
    const Size frame = skin.frame->size();
    check.Require(!skin.inactiveFrame || skin.inactiveFrame->size() == frame, "inactive frame picture differs in size");
    check.Require(!skin.mask || skin.mask->size() == frame, "mask picture differs in size from the frame");
    check.Require(BoxWithin(d.form.clientRect, frame), "FORMINFO clientrect outside the frame picture");
    check.Require(BoxWithin(d.form.captionRect, frame), "FORMINFO captionrect outside the frame picture");
    check.Require(BoxWithin(d.form.buttonsRect, frame), "FORMINFO buttonsrect outside the frame picture");
    check.Require(PointsWithin(d.form.corners, frame), "FORMINFO corner point outside the frame picture");
    if (d.caption) {
      check.Require(BoxWithin(d.caption->skinRect, frame), "caption skinrect outside the frame picture");
      check.Require(BoxWithin(d.caption->textRect, SizeOf(d.caption->skinRect)), "caption textrect outside the caption");
    }
  } else {
    // Without a frame picture nothing of the frame can be drawn, so the entries that use it go.
    skin.inactiveFrame.reset();
    skin.mask.reset();
    skin.description.caption.reset();
  }

  if (d.button) {
    const SkinPicture* picture = PictureFor(skin, d.button->pictureIndex);
    check.Require(picture != nullptr, "button pictureindex names no control picture");
    if (picture) {
      const Size image = SizeOf(d.button->skinRect);
      for (const Box* box : {&d.button->skinRect, &d.button->activeSkinRect, &d.button->downSkinRect}) {
        check.Require(picture->Contains(*box), "button image outside its picture");
        check.Require(SizeOf(*box) == image, "button images differ in size");
      }
      check.Require(PointsWithin(d.button->corners, image), "button corner point outside the image");
      check.Require(BoxWithin(d.button->clientRect, image), "button clientrect outside the image");
    }
  }
  if (d.gauge) {
    const SkinPicture* picture = PictureFor(skin, d.gauge->pictureIndex);
    check.Require(picture != nullptr, "gauge pictureindex names no control picture");
    if (picture) {
      const Size image = SizeOf(d.gauge->skinRect);
      check.Require(picture->Contains(d.gauge->skinRect), "gauge skinrect outside its picture");
      check.Require(picture->Contains(d.gauge->progressRect), "gauge progressrect outside its picture");
      check.Require(picture->Contains(d.gauge->animationRect), "gauge animation strip outside its picture");
      check.Require(PointsWithin(d.gauge->corners, image), "gauge corner point outside the gauge");
      check.Require(BoxWithin(d.gauge->progressArea, image), "gauge progressarea outside the gauge");
      check.Require(d.gauge->animationFrames >= 0 && d.gauge->animationInterval >= 0, "gauge animation counts negative");
    }
  }
  if (d.label) {
    const SkinPicture* picture = PictureFor(skin, d.label->pictureIndex);
    check.Require(picture != nullptr, "label pictureindex names no control picture");
    if (picture) {
      check.Require(picture->Contains(d.label->skinRect), "label skinrect outside its picture");
      check.Require(PointsWithin(d.label->corners, SizeOf(d.label->skinRect)), "label corner point outside the label");
    }
  }
  if (!check.error().empty()) return SkinResult<Skin>::Fail(check.error());
  return SkinResult<Skin>::Ok(std::move(skin));
}

SkinResult<Skin> LoadStoredSkinChecked(std::span<const std::uint8_t> compressed) {
  auto inflated = InflateSkin(compressed);
  if (!inflated) return SkinResult<Skin>::Fail(inflated.error());
  auto container = ReadSkinContainer(inflated.value());
  if (!container) return SkinResult<Skin>::Fail(container.error());
  return AssembleSkin(std::move(container).value());
}

std::optional<Skin> LoadStoredSkin(std::span<const std::uint8_t> compressed) {
  auto skin = LoadStoredSkinChecked(compressed);
  if (!skin) return std::nullopt;
  return std::move(skin).value();
}

}  // namespace isetup::ui
