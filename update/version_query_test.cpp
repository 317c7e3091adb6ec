// The query text and its random number.
#include "update/version_query.h"

#include <gtest/gtest.h>

namespace isetup {
namespace {

TEST(DrawQueryRandom, FollowsTheGenerator) {
  // seed 0 -> 1, 1 * 99999999 >> 32 = 0; seed 1 -> 134775814.
  std::uint32_t seed = 0;
  EXPECT_EQ(DrawQueryRandom(seed), 0u);
  EXPECT_EQ(seed, 1u);
  EXPECT_EQ(DrawQueryRandom(seed), static_cast<std::uint32_t>(134775814ull * 99999999ull >> 32));
  EXPECT_EQ(seed, 134775814u);
  seed = 0xFFFFFFFFu;  // wraps: 0xFFFFFFFF * 134775813 + 1 = -134775812 mod 2^32
  const std::uint32_t next = 0u - 134775812u;
  EXPECT_EQ(DrawQueryRandom(seed), static_cast<std::uint32_t>(std::uint64_t{next} * 99999999ull >> 32));
  EXPECT_EQ(seed, next);
}

TEST(DrawQueryRandom, StaysBelow99999999) {
  std::uint32_t largest = 0;
  for (std::uint32_t start : {0x4B000000u, 0xFFFFFFFEu, 0x12345678u}) {
    std::uint32_t seed = start;
    for (int i = 0; i < 100000; ++i) largest = std::max(largest, DrawQueryRandom(seed));
  }
  EXPECT_LE(largest, 99999998u);
  EXPECT_GT(largest, 99990000u);
}

TEST(BuildVersionQuery, JoinsThePartsInOrder) {
  std::uint32_t seed = 77;
  const std::wstring rnd = std::to_wstring(DrawQueryRandom(seed));
  EXPECT_EQ(BuildVersionQuery(L"2.52.0.0", L"affid=00000000&affsid=00000000", 77),
            L"?ISetupVer=02340000&affid=00000000&affsid=00000000&rnd=" + rnd);
  EXPECT_EQ(BuildVersionQuery(L"", L"", 77), L"?ISetupVer=00000000&&rnd=" + rnd);
  EXPECT_EQ(BuildVersionQuery(L"2.52", L"&affsid=12345678", 77), L"?ISetupVer=00000000&&affsid=12345678&rnd=" + rnd);
  EXPECT_EQ(BuildVersionQuery(L"2.52.0.0", L"", 77), BuildVersionQuery(L"2.52.0.0", L"", 77));
}

TEST(QueryRandomText, IsTheNumberSentLastEvenWhenATagLooksLikeIt) {
  std::uint32_t seed = 77;
  const std::string rnd = std::to_string(DrawQueryRandom(seed));
  EXPECT_EQ(QueryRandomText(BuildVersionQuery(L"2.52.0.0", L"affid=&rnd=123&affsid=00000000", 77)), rnd);
  EXPECT_EQ(QueryRandomText(BuildVersionQuery(L"", L"", 77)), rnd);
}

}  // namespace
}  // namespace isetup
