// Tests for loading the stored skin: the committed asset and its values, and refusal of damaged skins.
#include "ui/skin_loader.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>

#include "ui/skin_geometry.h"
#include "ui/skin_inflate.h"
#include "ui/skin_test_support.h"

namespace isetup::ui {
namespace {

using testing::Bytes;
using testing::PutU32;

// Where the committed container keeps its fields.
constexpr std::size_t kFrameAt = 5;
constexpr std::size_t kMaskAt = 1'014'009;
constexpr std::size_t kCountAt = 2'028'011;
constexpr std::size_t kControlAt = 2'028'015;
constexpr std::size_t kDescriptionAt = 2'084'373;

class CommittedSkin : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    compressed_ = new Bytes(testing::ReadCommittedSkin());
    auto inflated = InflateSkin(*compressed_);
    container_ = new Bytes(inflated ? inflated.value() : Bytes());
  }
  static void TearDownTestSuite() {
    delete compressed_;
    delete container_;
  }
  static SkinResult<Skin> LoadContainer(std::span<const std::uint8_t> bytes) {
    auto container = ReadSkinContainer(bytes);
    if (!container) return SkinResult<Skin>::Fail(container.error());
    return AssembleSkin(std::move(container).value());
  }
  // The container with the first `from` in its description replaced by `to`; empty when `from` is not there.
  static Bytes WithDescriptionEdit(const std::string& from, const std::string& to) {
    std::string text(container_->begin() + kDescriptionAt, container_->end());
    const std::size_t at = text.find(from);
    if (at == std::string::npos) return {};
    text.replace(at, from.size(), to);
    Bytes bytes(container_->begin(), container_->begin() + kDescriptionAt);
    bytes.insert(bytes.end(), text.begin(), text.end());
    return bytes;
  }
  static Bytes* compressed_;
  static Bytes* container_;
};
Bytes* CommittedSkin::compressed_ = nullptr;
Bytes* CommittedSkin::container_ = nullptr;

TEST_F(CommittedSkin, LoadsWithThePicturesTheWindowNeeds) {
  ASSERT_GE(compressed_->size(), 2u);
  EXPECT_EQ((*compressed_)[0], 0x78);
  EXPECT_EQ((*compressed_)[1], 0xDA);
  const auto loaded = LoadStoredSkinChecked(*compressed_);
  ASSERT_TRUE(loaded) << loaded.error();
  const Skin& skin = loaded.value();
  ASSERT_TRUE(skin.frame);
  EXPECT_EQ(skin.frame->size(), (Size{629, 403}));
  EXPECT_FALSE(skin.inactiveFrame);
  ASSERT_TRUE(skin.mask);
  EXPECT_EQ(skin.mask->size(), (Size{629, 403}));
  ASSERT_EQ(skin.controlPictures.size(), 1u);
  EXPECT_EQ(skin.controlPictures[0].size(), (Size{276, 51}));

  // Header band, edge line and the rounded corners cut from the mask.
  EXPECT_EQ(skin.frame->at(300, 0) & 0xFFFFFFu, 0x4A6A91u);
  EXPECT_EQ(skin.frame->at(300, 39) & 0xFFFFFFu, 0x3E5D81u);
  EXPECT_EQ(skin.frame->at(0, 200) & 0xFFFFFFu, 0xD9E0E7u);
  EXPECT_EQ(skin.mask->at(0, 0) & 0xFFFFFFu, 0xFFFFFFu);
  EXPECT_EQ(skin.mask->at(628, 0) & 0xFFFFFFu, 0xFFFFFFu);
  EXPECT_EQ(skin.mask->at(314, 0) & 0xFFFFFFu, 0u);
  const std::vector<Box> runs = MaskWindowRuns(*skin.mask);
  ASSERT_FALSE(runs.empty());
  EXPECT_GT(runs.front().left, 0);           // first row starts inside the curve
  EXPECT_EQ(runs.back(), (Box{0, 402, 629, 403}));  // the bottom row is whole

  // Every control rectangle is drawable from the control picture.
  EXPECT_EQ(skin.ControlPicture(0).at(15, 50) & 0xFFFFFFu, 0x5F7D9Du);
}

TEST_F(CommittedSkin, CarriesTheValuesOfTheWindowsLook) {
  const auto loaded = LoadStoredSkin(*compressed_);
  ASSERT_TRUE(loaded);
  const SkinDescription& d = loaded->description;
  EXPECT_EQ(d.version, 1);
  EXPECT_EQ(d.form.clientRect, (Box{12, 80, 616, 393}));
  EXPECT_EQ(d.form.captionRect, (Box{10, 6, 620, 80}));
  EXPECT_EQ(d.form.corners, (CornerPoints{{259, 48}, {614, 53}, {12, 392}, {616, 391}}));
  EXPECT_EQ(d.form.buttonsRect, (Box{0, 0, 0, 0}));
  EXPECT_EQ(d.form.bgPictureIndex, -1);
  EXPECT_EQ(d.form.stretchType, "stfull");
  EXPECT_EQ(d.form.stretchEffect, 0);
  EXPECT_EQ(d.form.inactiveEffect, "iebrightness");
  EXPECT_FALSE(d.form.autoRenderingInactiveImage);

  ASSERT_TRUE(d.caption);
  EXPECT_EQ(d.caption->skinRect, (Box{6, 1, 623, 79}));
  EXPECT_EQ(d.caption->textRect, (Box{5, 55, 611, 77}));
  EXPECT_EQ(d.caption->font, (SkinFont{"Tahoma", 14, kFontRegular}));
  EXPECT_EQ(d.caption->alignment, TextAlignment::Center);
  EXPECT_EQ(d.caption->fontColor, SkinColour::FromRgb(0x50, 0x74, 0x9B));
  EXPECT_EQ(d.caption->activeFontColor, SkinColour::FromRgb(0x4F, 0x73, 0x9A));

  ASSERT_TRUE(d.button);
  EXPECT_EQ(d.button->skinRect, (Box{0, 0, 92, 25}));
  EXPECT_EQ(d.button->activeSkinRect, (Box{92, 0, 184, 25}));
  EXPECT_EQ(d.button->downSkinRect, (Box{184, 0, 276, 25}));
  EXPECT_EQ(d.button->corners, (CornerPoints{{4, 4}, {87, 4}, {4, 20}, {87, 20}}));
  EXPECT_EQ(d.button->clientRect, (Box{7, 6, 87, 18}));
  EXPECT_EQ(d.button->font, (SkinFont{"Arial", 14, kFontBold}));
  for (SkinColour c : {d.button->fontColor, d.button->activeFontColor, d.button->downFontColor, d.button->disabledFontColor}) {
    EXPECT_EQ(c, SkinColour::FromRgb(0xFF, 0xFF, 0xFF));
  }

  ASSERT_TRUE(d.gauge);
  EXPECT_EQ(d.gauge->skinRect, (Box{191, 34, 221, 51}));
  EXPECT_EQ(d.gauge->corners, (CornerPoints{{0, 0}, {29, 1}, {0, 0}, {0, 0}}));
  EXPECT_EQ(d.gauge->progressArea, (Box{0, 0, 30, 16}));
  EXPECT_EQ(d.gauge->progressRect, (Box{15, 31, 156, 51}));
  EXPECT_FALSE(d.gauge->progressStretch);
  EXPECT_EQ(d.gauge->font, (SkinFont{"Tahoma", 13, kFontBold}));
  EXPECT_EQ(d.gauge->fontColor, SkinColour::FromRgb(0x69, 0x8C, 0xB1));
  EXPECT_EQ(d.gauge->animationRect, (Box{0, 0, 0, 0}));
  EXPECT_EQ(d.gauge->animationFrames, 0);
  EXPECT_EQ(d.gauge->animationInterval, 0);

  ASSERT_TRUE(d.label);
  EXPECT_EQ(d.label->skinRect, (Box{207, 28, 273, 47}));
  EXPECT_TRUE(d.label->leftStretch && d.label->topStretch && d.label->rightStretch && d.label->bottomStretch);
  EXPECT_EQ(d.label->font, (SkinFont{"Tahoma", 13, kFontRegular}));
  EXPECT_EQ(d.label->fontColor, SkinColour::FromRgb(0x61, 0x85, 0xAA));

  // Drawn at the window's size the gauge keeps 17 pixels and the frame leaves a 440 × 97 client area.
  EXPECT_EQ(SlicePicture({30, 17}, d.gauge->corners, {410, 25}).size, (Size{410, 17}));
  const Size frame = FrameSizeForClient(loaded->frame->size(), d.form.clientRect, {440, 97});
  EXPECT_EQ(MapClientRect(loaded->frame->size(), d.form.clientRect, frame), (Box{12, 80, 452, 177}));
}

TEST_F(CommittedSkin, CutStreamsFail) {
  for (std::size_t length = 0; length < compressed_->size(); length += 29) {
    EXPECT_FALSE(LoadStoredSkin(std::span(*compressed_).first(length))) << length;
  }
}

TEST_F(CommittedSkin, CutContainersFailBeforeTheDescription) {
  // Every few kilobytes through the pictures, and byte by byte around each header.
  std::vector<std::size_t> cuts;
  for (std::size_t at = 0; at < kDescriptionAt; at += 16411) cuts.push_back(at);
  for (std::size_t field : {kFrameAt, kMaskAt, kCountAt, kControlAt}) {
    for (std::size_t at = field - 2; at < field + 56; ++at) cuts.push_back(at);
  }
  for (std::size_t length : cuts) {
    EXPECT_FALSE(LoadContainer(std::span(*container_).first(length))) << length;
  }
}

TEST_F(CommittedSkin, CutDescriptionsNeverCrashAndLackSectionsEarly) {
  const std::string text(container_->begin() + kDescriptionAt, container_->end());
  const std::size_t controls = text.find("[SKINCONTROLS]");
  ASSERT_NE(controls, std::string::npos);
  for (std::size_t length = 0; length <= text.size(); ++length) {
    const auto description = ParseSkinDescription(std::string_view(text).substr(0, length));
    if (length < controls + 13) {
      EXPECT_FALSE(description) << length;
    }
  }
}

TEST_F(CommittedSkin, DamagedFieldsAreRefused) {
  struct Case {
    const char* name;
    std::size_t at;
    std::uint32_t value;
  };
  const Case cases[] = {
      {"version 4", 0, 4},
      {"frame size past the end", kFrameAt + 2, 0xFFFFFFF0u},
      {"frame size cut", kFrameAt + 2, 1000},
      {"mask size past the end", kMaskAt + 2, 0x7FFFFFFF},
      {"mask taller than the frame", kMaskAt + 22, 202},
      {"count zero: the controls name a missing picture", kCountAt, 0},
      {"count two", kCountAt, 2},
      {"count negative", kCountAt, 0x80000000u},
      {"control picture width", kControlAt + 18, 200},
  };
  for (const Case& c : cases) {
    Bytes bytes = *container_;
    PutU32(bytes, c.at, c.value);
    EXPECT_FALSE(LoadContainer(bytes)) << c.name;
  }
}

TEST_F(CommittedSkin, RectanglesOutsideTheirPicturesAreRefused) {
  struct Case {
    const char* from;
    const char* to;
  };
  const Case cases[] = {
      {"clientrect=12,80,616,393", "clientrect=12,80,630,393"},
      {"skinrect=6,1,623,79", "skinrect=6,1,623,404"},
      {"textrect=5,55,611,77", "textrect=5,55,611,79"},
      {"downskinrect=184,0,276,25", "downskinrect=185,0,277,25"},
      {"downskinrect=184,0,276,25", "downskinrect=184,0,275,25"},  // smaller than the other images
      {"progressrect=15,31,156,51", "progressrect=15,31,156,52"},
      {"righttoppoint=29,1", "righttoppoint=31,1"},
      {"skinrect=207,28,273,47", "skinrect=207,28,-273,47"},
      {"pictureindex=0\r\nskinrect=0,0,92,25", "pictureindex=1\r\nskinrect=0,0,92,25"},
  };
  for (const Case& c : cases) {
    const Bytes bytes = WithDescriptionEdit(c.from, c.to);
    ASSERT_FALSE(bytes.empty()) << c.from;
    EXPECT_FALSE(LoadContainer(bytes)) << c.to;
  }
}

// The loader measured these boxes before checking them, and the edges' difference overflowed int
// (seen while writing tests/fuzz/skin_description_fuzz, whose corpus keeps the caption case).
TEST_F(CommittedSkin, RectanglesWithEdgesAtTheEndsOfTheIntRangeAreRefused) {
  struct Case {
    const char* from;
    const char* to;
  };
  const Case cases[] = {
      {"skinrect=6,1,623,79", "skinrect=-2147483648,0,2147483647,0"},
      {"skinrect=6,1,623,79", "skinrect=0,2147483647,5,-2147483648"},
      {"skinrect=0,0,92,25", "skinrect=-2147483648,0,92,25"},
      {"activeskinrect=92,0,184,25", "activeskinrect=-2147483648,0,184,25"},
      {"skinrect=191,34,221,51", "skinrect=191,-2147483648,221,51"},
      {"skinrect=207,28,273,47", "skinrect=2147483647,28,-2147483648,47"},
  };
  for (const Case& c : cases) {
    const Bytes bytes = WithDescriptionEdit(c.from, c.to);
    ASSERT_FALSE(bytes.empty()) << c.from;
    const auto skin = LoadContainer(bytes);
    EXPECT_FALSE(skin) << c.to;
    EXPECT_NE(skin.error().find("outside"), std::string::npos) << c.to << ": " << skin.error();
  }
}

TEST_F(CommittedSkin, VersionTwoContainerWithTheExtraPicturesLoads) {
  Bytes bytes(container_->begin(), container_->begin() + kCountAt);
  PutU32(bytes, 0, 2);
  bytes.push_back(1);  // first extra picture: none
  bytes.push_back(0);
  const Bytes extra = testing::MakeBmp(2, 2, {1, 2, 3, 4});
  bytes.insert(bytes.end(), extra.begin(), extra.end());
  bytes.insert(bytes.end(), container_->begin() + kCountAt, container_->end());
  const auto skin = LoadContainer(bytes);
  ASSERT_TRUE(skin) << skin.error();
  EXPECT_EQ(skin.value().controlPictures.size(), 1u);
  EXPECT_TRUE(skin.value().description.gauge);
}

TEST_F(CommittedSkin, SeededByteDamageNeverBreaksTheInvariants) {
  // Damage lands in the headers and the description, where the lengths and values are.
  std::mt19937 random(20240611);
  const std::size_t regions[] = {0, kFrameAt, kMaskAt - 2, kCountAt, kControlAt, kDescriptionAt};
  for (int round = 0; round < 60; ++round) {
    Bytes bytes = *container_;
    for (int hit = 0; hit < 3; ++hit) {
      const std::size_t at = regions[random() % std::size(regions)] + random() % 64;
      bytes[at] = static_cast<std::uint8_t>(random());
    }
    const auto skin = LoadContainer(bytes);
    if (!skin) {
      EXPECT_FALSE(skin.error().empty());
      continue;
    }
    for (const SkinPicture& p : skin.value().controlPictures) {
      EXPECT_EQ(p.pixels.size(), static_cast<std::size_t>(p.width) * p.height);
    }
    if (skin.value().description.button) {
      EXPECT_TRUE(skin.value().ControlPicture(skin.value().description.button->pictureIndex).Contains(
          skin.value().description.button->skinRect));
    }
  }
}

}  // namespace
}  // namespace isetup::ui
