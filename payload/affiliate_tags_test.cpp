// Reading the affiliate query out of an installer image and stamping tags into it.
#include "payload/affiliate_tags.h"

#include <gtest/gtest.h>

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
