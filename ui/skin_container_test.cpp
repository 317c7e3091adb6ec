// Tests for reading the skin container: both versions, the version gate, and every cut or damaged field.
#include "ui/skin_container.h"

#include <gtest/gtest.h>

#include <string>

#include "ui/skin_test_support.h"

namespace isetup::ui {
namespace {

using testing::Bytes;
using testing::MakeBmp;
using testing::PutU32;

Bytes Picture(int width, int height, std::uint32_t colour) {
  return MakeBmp(width, height, std::vector<std::uint32_t>(static_cast<std::size_t>(width) * height, colour));
}

void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }
void AppendU32(Bytes& out, std::uint32_t value) {
  out.resize(out.size() + 4);
  PutU32(out, out.size() - 4, value);
}

// version, frame 4×3, no inactive frame, mask 4×3, [version 2: two extra pictures], two control pictures, text.
struct Built {
  Bytes bytes;
  std::size_t countAt = 0;
  std::size_t descriptionAt = 0;
};
Built Build(std::int32_t version, bool extras) {
  Built b;
  AppendU32(b.bytes, static_cast<std::uint32_t>(version));
  b.bytes.push_back(0);
  Append(b.bytes, Picture(4, 3, 0xFF0000FFu));
  b.bytes.push_back(1);
  b.bytes.push_back(0);
  Append(b.bytes, Picture(4, 3, 0xFF000000u));
  if (extras) {
    b.bytes.push_back(7);  // any non-zero flag: none
    b.bytes.push_back(0);
    Append(b.bytes, Picture(2, 2, 0xFF123456u));
  }
  b.countAt = b.bytes.size();
  AppendU32(b.bytes, 2);
  Append(b.bytes, Picture(5, 1, 0xFF00FF00u));
  Append(b.bytes, Picture(1, 6, 0xFFFF0000u));
  b.descriptionAt = b.bytes.size();
  const std::string text = "[VERSION]\r\nver=1\r\n";
  b.bytes.insert(b.bytes.end(), text.begin(), text.end());
  return b;
}

void ExpectContents(const SkinContainer& c) {
  ASSERT_TRUE(c.frame);
  EXPECT_EQ(c.frame->size(), (Size{4, 3}));
  EXPECT_EQ(c.frame->at(3, 2), 0xFF0000FFu);
  EXPECT_FALSE(c.inactiveFrame);
  ASSERT_TRUE(c.mask);
  EXPECT_EQ(c.mask->at(0, 0), 0xFF000000u);
  ASSERT_EQ(c.controlPictures.size(), 2u);
  EXPECT_EQ(c.controlPictures[0].size(), (Size{5, 1}));
  EXPECT_EQ(c.controlPictures[1].size(), (Size{1, 6}));
  EXPECT_EQ(c.description, "[VERSION]\r\nver=1\r\n");
}

TEST(ReadSkinContainer, ReadsVersion3) {
  const auto c = ReadSkinContainer(Build(3, false).bytes);
  ASSERT_TRUE(c) << c.error();
  EXPECT_EQ(c.value().version, 3);
  ExpectContents(c.value());
}

TEST(ReadSkinContainer, ReadsAndDropsTheTwoExtraPicturesOfVersion2) {
  const auto c = ReadSkinContainer(Build(2, true).bytes);
  ASSERT_TRUE(c) << c.error();
  EXPECT_EQ(c.value().version, 2);
  ExpectContents(c.value());
  // The same bytes as version 3 put the extra pictures where the count belongs.
  EXPECT_FALSE(ReadSkinContainer(Build(3, true).bytes));
}

TEST(ReadSkinContainer, ReadsOnlyVersions2And3) {
  for (std::int32_t version : {4, 5, 1, 0, -1, 0x7FFFFFFF, INT32_MIN}) {
    const auto c = ReadSkinContainer(Build(version, false).bytes);
    ASSERT_FALSE(c) << version;
    EXPECT_NE(c.error().find("version"), std::string::npos) << c.error();
  }
}

TEST(ReadSkinContainer, EveryCutBeforeTheDescriptionFails) {
  for (bool v2 : {false, true}) {
    const Built b = Build(v2 ? 2 : 3, v2);
    for (std::size_t length = 0; length < b.bytes.size(); ++length) {
      const auto c = ReadSkinContainer(std::span(b.bytes).first(length));
      if (length < b.descriptionAt) {
        EXPECT_FALSE(c) << length;
      } else {
        ASSERT_TRUE(c) << length;  // only the text gets shorter
        EXPECT_EQ(c.value().description.size(), length - b.descriptionAt);
      }
    }
  }
}

TEST(ReadSkinContainer, RefusesDamagedLengthsAndCounts) {
  const Built good = Build(3, false);
  const std::size_t frameSize = Picture(4, 3, 0).size();
  struct Case {
    const char* name;
    std::size_t at;
    std::uint32_t value;
  };
  const Case cases[] = {
      {"frame size past the end", 4 + 1 + 2, 0xFFFFFFFFu},
      {"frame size too small for its pixels", 4 + 1 + 2, 60},
      {"frame width too large for its pixels", 4 + 1 + 18, 40},
      {"mask size past the end", 4 + 1 + frameSize + 2 + 2, static_cast<std::uint32_t>(good.bytes.size())},
      {"negative count", good.countAt, 0xFFFFFFFFu},
      {"count beyond the pictures present", good.countAt, 3},
      {"count beyond any skin", good.countAt, static_cast<std::uint32_t>(kMaxSkinControlPictures + 1)},
      {"control size past the end", good.countAt + 4 + 2, 0x7FFFFFFF},
  };
  for (const Case& c : cases) {
    Bytes bytes = good.bytes;
    PutU32(bytes, c.at, c.value);
    const auto result = ReadSkinContainer(bytes);
    EXPECT_FALSE(result) << c.name;
  }
}

}  // namespace
}  // namespace isetup::ui
