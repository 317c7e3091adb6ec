// Reads the skin container that the stored skin inflates to.
#include "ui/skin_container.h"

#include "ui/skin_bytes.h"

namespace isetup::ui {
namespace {

SkinResult<SkinPicture> ReadPicture(ByteCursor& cursor, const char* what) {
  const auto size = BmpFileSize(cursor.rest());
  if (!size) return SkinResult<SkinPicture>::Fail(std::string(what) + " " + size.error());
  auto picture = DecodeBmp(*cursor.Take(size.value()));
  if (!picture) return SkinResult<SkinPicture>::Fail(std::string(what) + " " + picture.error());
  return picture;
}

// A one-byte flag, then the picture when the flag is 0.
SkinResult<std::optional<SkinPicture>> ReadFlaggedPicture(ByteCursor& cursor, const char* what) {
  using Result = SkinResult<std::optional<SkinPicture>>;
  const auto flag = cursor.U8();
  if (!flag) return Result::Fail(std::string(what) + " flag: skin cut short");
  if (*flag != 0) return Result::Ok(std::nullopt);
  auto picture = ReadPicture(cursor, what);
  if (!picture) return Result::Fail(picture.error());
  return Result::Ok(std::move(picture).value());
}

}  // namespace

SkinResult<SkinContainer> ReadSkinContainer(std::span<const std::uint8_t> data) {
  using Result = SkinResult<SkinContainer>;
  ByteCursor cursor(data);
  SkinContainer container;

  const auto version = cursor.I32();
  if (!version) return Result::Fail("container: no version");
  if (*version < kOldestSkinContainerVersion || *version > kNewestSkinContainerVersion) {
    return Result::Fail("container: version " + std::to_string(*version) + " is not read");
  }
  container.version = *version;

  struct Slot {
    std::optional<SkinPicture>* target;
    const char* name;
  };
  for (const Slot& slot : {Slot{&container.frame, "frame picture"}, Slot{&container.inactiveFrame, "inactive frame picture"},
                           Slot{&container.mask, "mask picture"}}) {
    auto picture = ReadFlaggedPicture(cursor, slot.name);
    if (!picture) return Result::Fail(picture.error());
    *slot.target = std::move(picture).value();
  }
  if (container.version == 2) {
    // Version 2 carried two more pictures that nothing uses any more.
    for (const char* name : {"old extra picture 1", "old extra picture 2"}) {
      auto picture = ReadFlaggedPicture(cursor, name);
      if (!picture) return Result::Fail(picture.error());
    }
  }

  const auto count = cursor.I32();
  if (!count) return Result::Fail("container: no control picture count");
  if (*count < 0 || *count > kMaxSkinControlPictures) {
    return Result::Fail("container: control picture count " + std::to_string(*count) + " out of range");
  }
  container.controlPictures.reserve(static_cast<std::size_t>(*count));
  for (std::int32_t i = 0; i < *count; ++i) {
    auto picture = ReadPicture(cursor, "control picture");
    if (!picture) return Result::Fail(picture.error() + " (index " + std::to_string(i) + ")");
    container.controlPictures.push_back(std::move(picture).value());
  }

  const auto text = cursor.rest();
  container.description.assign(reinterpret_cast<const char*>(text.data()), text.size());
  return Result::Ok(std::move(container));
}

}  // namespace isetup::ui
