// Where the tag fields lie, stamping values into them, and the blanked content against the direct model,
// whole and in pieces split everywhere.
#include "payload/tag_fields.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "payload/pe_test_image.h"
#include "payload/tag_fields_model.h"

namespace isetup {
namespace {

using testing::ModelBlanked;
using testing::TestBytes;

// The two tags in the installer's string layout between other bytes, as an installer holds them.
std::string UntaggedImage() {
  const auto tags = testing::TagBlock();
  return "MZ loader" + std::string(tags.begin(), tags.end()) + " setup data";
}

TEST(FindAffiliateTags, ReportsOffsetsAndValues) {
  const std::string image = UntaggedImage();
  const AffiliateTags tags = FindAffiliateTags(TestBytes(image));
  ASSERT_TRUE(tags.affid && tags.affsid);
  EXPECT_EQ(tags.affid->markerOffset, image.find("affid="));
  EXPECT_EQ(tags.affid->valueOffset, image.find("affid=") + 6);
  EXPECT_EQ(tags.affsid->valueOffset, image.find("affsid=") + 7);
  EXPECT_EQ(tags.affsid->value, "00000000");
}

// The first occurrence of a marker found the plain way, as the search did before it was vectorised.
std::optional<std::size_t> PlainFind(const std::vector<std::uint8_t>& bytes, std::string_view marker) {
  const auto at = std::search(bytes.begin(), bytes.end(), marker.begin(), marker.end(),
                              [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); });
  if (at == bytes.end()) return std::nullopt;
  return static_cast<std::size_t>(at - bytes.begin());
}

TEST(FindAffiliateTags, AgreesWithAPlainSearchWhereverTheTagsStand) {
  // Both tags planted at every pair of offsets in 80 bytes of near misses, overlapping each other too.
  const std::string filler = "aff affi affs affsi affid affsid ";
  const std::string affid = "affid=Ab12-_xY", affsid = "affsid=Zz09yy87";
  for (std::size_t p = 0; p + affid.size() <= 80; p += 3) {
    for (std::size_t q = 0; q + affsid.size() <= 80; ++q) {
      std::vector<std::uint8_t> bytes(80);
      for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(filler[i % filler.size()]);
      std::copy(affid.begin(), affid.end(), bytes.begin() + static_cast<std::ptrdiff_t>(p));
      std::copy(affsid.begin(), affsid.end(), bytes.begin() + static_cast<std::ptrdiff_t>(q));
      const AffiliateTags tags = FindAffiliateTags(bytes);
      const auto expectedAffid = PlainFind(bytes, "affid="), expectedAffsid = PlainFind(bytes, "affsid=");
      ASSERT_EQ(tags.affid.has_value(), expectedAffid.has_value()) << p << " " << q;
      ASSERT_EQ(tags.affsid.has_value(), expectedAffsid.has_value()) << p << " " << q;
      if (expectedAffid) {
        ASSERT_EQ(tags.affid->markerOffset, *expectedAffid) << p << " " << q;
        ASSERT_EQ(tags.affid->value, std::string(bytes.begin() + *expectedAffid + 6,
                                                 bytes.begin() + std::min<std::size_t>(*expectedAffid + 14, 80)));
      }
      if (expectedAffsid) {
        ASSERT_EQ(tags.affsid->markerOffset, *expectedAffsid) << p << " " << q;
      }
    }
  }
}

TEST(IsValidTagValue, AcceptsOnlyEightUrlSafeCharacters) {
  for (const char* good : {"00000000", "AbCdEfGh", "a-b_c-d9"}) EXPECT_TRUE(IsValidTagValue(good)) << good;
  for (const char* bad : {"", "1234567", "123456789", "1234 678", "1234&678", "1234=678", "abc%20de"}) {
    EXPECT_FALSE(IsValidTagValue(bad)) << bad;
  }
}

TEST(StampAffiliateTags, StampsBothValuesAndNothingElse) {
  auto bytes = TestBytes(UntaggedImage());
  ASSERT_EQ(StampAffiliateTags(bytes, "Dist0001", "sub-_002"), std::nullopt);
  std::string expected = UntaggedImage();
  expected.replace(expected.find("affid=") + 6, 8, "Dist0001");
  expected.replace(expected.find("affsid=") + 7, 8, "sub-_002");
  EXPECT_EQ(bytes, TestBytes(expected));

  ASSERT_EQ(StampAffiliateTags(bytes, std::nullopt, "00000000"), std::nullopt);
  const AffiliateTags tags = FindAffiliateTags(bytes);
  EXPECT_EQ(tags.affid->value, "Dist0001");
  EXPECT_EQ(tags.affsid->value, "00000000");
}

TEST(FindStampPlace, TheValueOfAWellFormedTagOrWhyNot) {
  const std::string good = UntaggedImage();
  const struct {
    std::string image;
    std::string_view marker;
    std::optional<std::size_t> valueOffset;
    const char* says;
  } cases[] = {
      {good, kAffidMarker, good.find("affid=") + 6, ""},
      {good, kAffsidMarker, good.find("affsid=") + 7, ""},
      {"no tags in here", kAffsidMarker, std::nullopt, "the affsid marker \"affsid=\" is missing"},
      {"affid=00000000", kAffidMarker, std::nullopt, "the affid tag is cut off by the end of the data"},
  };
  for (const auto& c : cases) {
    const StampPlace place = FindStampPlace(TestBytes(c.image), c.marker);
    EXPECT_EQ(place.valueOffset, c.valueOffset) << c.image;
    EXPECT_EQ(place.problem, c.says) << c.image;
  }
}

TEST(StampAffiliateTags, RefusesAndLeavesTheBytesUntouched) {
  const std::string good = UntaggedImage();
  std::string wrongLength = good;
  wrongLength[wrongLength.find("affsid=") - 4] = 16;
  std::string noTerminator = good;
  noTerminator[noTerminator.find("affid=") + 14] = 'X';
  struct Case {
    std::string image;
    std::optional<std::string_view> affid, affsid;
  } cases[] = {
      {good, "bad value", "00000000"},  // a valid affid must not be written when affsid fails
      {good, "00000000", "abc&efgh"},
      {"no tags in here", "00000000", std::nullopt},
      {wrongLength, "11111111", "22222222"},
      {noTerminator, "11111111", std::nullopt},
      {"affid=00000000", "11111111", std::nullopt},  // no header before it
      {good.substr(0, good.find("affsid=") + 10), std::nullopt, "11111111"},
  };
  for (const auto& c : cases) {
    auto bytes = TestBytes(c.image);
    const auto problem = StampAffiliateTags(bytes, c.affid, c.affsid);
    EXPECT_TRUE(problem.has_value()) << c.image;
    EXPECT_EQ(bytes, TestBytes(c.image));
  }
}

// The blanked content handed out for `content` fed in a first piece of `first` bytes, then pieces of `size`.
std::vector<std::uint8_t> Streamed(std::span<const std::uint8_t> content, std::size_t first, std::size_t size) {
  std::vector<std::uint8_t> joined;
  const auto collect = [&](std::span<const std::uint8_t> run) {
    EXPECT_FALSE(run.empty());
    joined.insert(joined.end(), run.begin(), run.end());
  };
  BlankedStream stream;
  for (std::size_t at = 0, take = first; at < content.size(); at += take, take = size) {
    take = std::min(take, content.size() - at);
    stream.Add(content.subspan(at, take), collect);
  }
  return joined;
}

std::vector<std::string> AllContents() {
  std::vector<std::string> contents = testing::TrickyTagContents();
  for (const std::string& text : testing::GeneratedTagContents(4711, 2000, 12)) contents.push_back(text);
  return contents;
}

TEST(ForEachBlankedPiece, AgreesWithTheModel) {
  for (const std::string& text : AllContents()) {
    const auto bytes = TestBytes(text);
    std::vector<std::uint8_t> joined;
    ForEachBlankedPiece(bytes, [&](std::span<const std::uint8_t> run) {
      EXPECT_FALSE(run.empty());
      joined.insert(joined.end(), run.begin(), run.end());
    });
    ASSERT_EQ(joined, ModelBlanked(bytes)) << text;
  }
}

TEST(BlankedStream, AnyTwoPiecesAgreeWithTheModel) {
  for (const std::string& text : testing::TrickyTagContents()) {
    const auto bytes = TestBytes(text);
    for (std::size_t split = 0; split <= bytes.size(); ++split) {
      ASSERT_EQ(Streamed(bytes, split, bytes.size()), ModelBlanked(bytes)) << text << " split at " << split;
    }
  }
}

TEST(BlankedStream, EveryPieceSizeAgreesWithTheModel) {
  for (const std::string& text : testing::TrickyTagContents()) {
    const auto bytes = TestBytes(text);
    for (std::size_t size = 1; size <= 20; ++size) {
      ASSERT_EQ(Streamed(bytes, size, size), ModelBlanked(bytes)) << text << " in pieces of " << size;
    }
  }
  int round = 0;
  for (const std::string& text : testing::GeneratedTagContents(54321, 3000, 10)) {
    const auto bytes = TestBytes(text);
    const std::size_t size = 1 + round++ % 9;
    ASSERT_EQ(Streamed(bytes, size, size), ModelBlanked(bytes)) << text << " in pieces of " << size;
  }
}

TEST(BlankedStream, TagsAcrossLargePieceBordersAgreeWithTheModel) {
  // A tag block placed so that a border of the pieces cuts each of its bytes in turn.
  const auto block = testing::TagBlock("Dist0001", "Sub-_002");
  for (std::size_t shift = 0; shift <= block.size(); ++shift) {
    std::vector<std::uint8_t> bytes(3 * 4096, 0x90);
    std::copy(block.begin(), block.end(), bytes.begin() + static_cast<std::ptrdiff_t>(4096 - shift));
    ASSERT_EQ(Streamed(bytes, 4096, 4096), ModelBlanked(bytes)) << shift;
  }
}

}  // namespace
}  // namespace isetup
