// Reading the affiliate query out of an installer image and stamping tags into it.
#include "payload/affiliate_tags.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace isetup {
namespace {

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

// One string constant as the installer stores it: code page, char size, refcount, length, text, zero.
std::string StringConstant(std::string_view text, std::uint32_t length) {
  std::string out = {'\xE3', '\x04', '\x01', '\x00', '\xFF', '\xFF', '\xFF', '\xFF'};
  for (int i = 0; i < 4; ++i) out += static_cast<char>(length >> (8 * i) & 0xFF);
  out += text;
  out += '\0';
  return out;
}

std::string UntaggedImage() {
  return "MZ loader" + StringConstant("affid=00000000", 14) + '\0' + StringConstant("affsid=00000000", 15) +
         " setup data";
}

TEST(ExtractAffiliateQuery, TheFourForms) {
  struct Case {
    std::string image;
    std::wstring query;
  } cases[] = {
      {UntaggedImage(), L"affid=00000000&affsid=00000000"},
      {"..affid=Ab12-_xY..", L"affid=Ab12-_xY"},
      {"..affsid=Ab12-_xY..", L"&affsid=Ab12-_xY"},
      {"neither marker here", L""},
      {"", L""},
      {"affid=1234", L"affid=1234"},                       // value cut off by the end
      {"affsid=", L"&affsid="},
      {"affid=AAAAAAAAaffid=BBBBBBBB", L"affid=AAAAAAAA"},  // first occurrence only
      {"AFFID=AAAAAAAA", L""},                             // case-sensitive
  };
  for (const auto& c : cases) EXPECT_EQ(ExtractAffiliateQuery(Bytes(c.image)), c.query) << c.image;
}

TEST(FindAffiliateTags, ReportsOffsetsAndValues) {
  const std::string image = UntaggedImage();
  const AffiliateTags tags = FindAffiliateTags(Bytes(image));
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
  auto bytes = Bytes(UntaggedImage());
  ASSERT_EQ(StampAffiliateTags(bytes, "Dist0001", "sub-_002"), std::nullopt);
  std::string expected = UntaggedImage();
  expected.replace(expected.find("affid=") + 6, 8, "Dist0001");
  expected.replace(expected.find("affsid=") + 7, 8, "sub-_002");
  EXPECT_EQ(bytes, Bytes(expected));

  ASSERT_EQ(StampAffiliateTags(bytes, std::nullopt, "00000000"), std::nullopt);
  EXPECT_EQ(ExtractAffiliateQuery(bytes), L"affid=Dist0001&affsid=00000000");
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
    auto bytes = Bytes(c.image);
    const auto problem = StampAffiliateTags(bytes, c.affid, c.affsid);
    EXPECT_TRUE(problem.has_value()) << c.image;
    EXPECT_EQ(bytes, Bytes(c.image));
  }
}

}  // namespace
}  // namespace isetup
