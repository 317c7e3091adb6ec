// Tests for reading the skin's BMP pictures: layouts that are accepted and every header field that is checked.
#include "ui/skin_bitmap.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>

#include "ui/skin_test_support.h"

namespace isetup::ui {
namespace {

using testing::Bytes;
using testing::MakeBmp;
using testing::PutU16;
using testing::PutU32;

const std::vector<std::uint32_t> kPixels = {0xFF102030, 0xFF405060, 0xFF708090,  // top row
                                            0x11223344, 0x55667788, 0x99AABBCC};

TEST(DecodeBmp, ReadsBottomUpTopDownAnd24BitAlike) {
  struct Case {
    const char* name;
    int bits;
    bool topDown;
  };
  for (const Case& c : {Case{"32 bottom-up", 32, false}, Case{"32 top-down", 32, true}, Case{"24 padded", 24, false}}) {
    const auto picture = DecodeBmp(MakeBmp(3, 2, kPixels, c.bits, c.topDown));
    ASSERT_TRUE(picture) << c.name << ": " << picture.error();
    EXPECT_EQ(picture.value().width, 3) << c.name;
    EXPECT_EQ(picture.value().height, 2) << c.name;
    for (int i = 0; i < 6; ++i) {
      // 24-bit pictures carry no alpha and come out opaque.
      const std::uint32_t expected = c.bits == 24 ? (kPixels[i] | 0xFF000000u) : kPixels[i];
      EXPECT_EQ(picture.value().pixels[i], expected) << c.name << " pixel " << i;
    }
  }
}

TEST(DecodeBmp, AcceptsStandardBitfieldsAndIgnoresBytesAfterTheFile) {
  Bytes file = MakeBmp(3, 2, kPixels);
  Bytes withMasks(file.begin(), file.begin() + 54);
  for (std::uint32_t mask : {0x00FF0000u, 0x0000FF00u, 0x000000FFu}) {
    for (int i = 0; i < 4; ++i) withMasks.push_back(static_cast<std::uint8_t>(mask >> (8 * i)));
  }
  withMasks.insert(withMasks.end(), file.begin() + 54, file.end());
  PutU32(withMasks, 2, static_cast<std::uint32_t>(withMasks.size()));
  PutU32(withMasks, 10, 66);
  PutU32(withMasks, 30, 3);  // BI_BITFIELDS
  withMasks.push_back(0xEE);  // not part of the file: bfSize ends before it
  const auto picture = DecodeBmp(withMasks);
  ASSERT_TRUE(picture) << picture.error();
  EXPECT_EQ(picture.value().pixels, kPixels);
}

TEST(DecodeBmp, RefusesEveryMalformedHeaderField) {
  struct Case {
    const char* name;
    std::function<void(Bytes&)> damage;
  };
  const Case cases[] = {
      {"signature", [](Bytes& b) { b[1] = 'A'; }},
      {"file size below headers", [](Bytes& b) { PutU32(b, 2, 40); }},
      {"file size past the data", [](Bytes& b) { PutU32(b, 2, static_cast<std::uint32_t>(b.size() + 1)); }},
      {"info header too small", [](Bytes& b) { PutU32(b, 14, 12); }},
      {"info header past the file", [](Bytes& b) { PutU32(b, 14, 0x7FFFFFFF); }},
      {"zero width", [](Bytes& b) { PutU32(b, 18, 0); }},
      {"negative width", [](Bytes& b) { PutU32(b, 18, static_cast<std::uint32_t>(-3)); }},
      {"zero height", [](Bytes& b) { PutU32(b, 22, 0); }},
      {"height INT32_MIN", [](Bytes& b) { PutU32(b, 22, 0x80000000u); }},
      {"width too large", [](Bytes& b) { PutU32(b, 18, kMaxSkinPictureSide + 1); }},
      {"huge width", [](Bytes& b) { PutU32(b, 18, 0x7FFFFFFF); }},
      {"planes", [](Bytes& b) { PutU16(b, 26, 2); }},
      {"8 bits per pixel", [](Bytes& b) { PutU16(b, 28, 8); }},
      {"RLE compression", [](Bytes& b) { PutU32(b, 30, 1); }},
      {"bit fields with other masks", [](Bytes& b) { PutU32(b, 30, 3); }},
      {"pixel offset inside the headers", [](Bytes& b) { PutU32(b, 10, 20); }},
      {"pixel offset past the file", [](Bytes& b) { PutU32(b, 10, 0xFFFFFFF0u); }},
      {"pixels cut short", [](Bytes& b) { PutU32(b, 10, 58); }},
      {"more rows than pixels", [](Bytes& b) { PutU32(b, 22, 3); }},
  };
  ASSERT_TRUE(DecodeBmp(MakeBmp(3, 2, kPixels)));
  for (const Case& c : cases) {
    Bytes file = MakeBmp(3, 2, kPixels);
    c.damage(file);
    const auto picture = DecodeBmp(file);
    EXPECT_FALSE(picture) << c.name;
    EXPECT_FALSE(picture.error().empty()) << c.name;
  }
}

TEST(DecodeBmp, RefusesEveryTruncation) {
  const Bytes file = MakeBmp(3, 2, kPixels);
  for (std::size_t length = 0; length < file.size(); ++length) {
    EXPECT_FALSE(DecodeBmp(std::span(file).first(length))) << length;
  }
}

TEST(SkinPicture, ContainsChecksEveryEdge) {
  SkinPicture picture{10, 5, std::vector<std::uint32_t>(50)};
  EXPECT_TRUE(picture.Contains({0, 0, 10, 5}));
  EXPECT_TRUE(picture.Contains({10, 5, 10, 5}));  // empty, on the far corner
  EXPECT_FALSE(picture.Contains({-1, 0, 5, 5}));
  EXPECT_FALSE(picture.Contains({0, -1, 5, 5}));
  EXPECT_FALSE(picture.Contains({0, 0, 11, 5}));
  EXPECT_FALSE(picture.Contains({0, 0, 10, 6}));
  EXPECT_FALSE(picture.Contains({5, 0, 4, 5}));  // inverted
}

}  // namespace
}  // namespace isetup::ui
