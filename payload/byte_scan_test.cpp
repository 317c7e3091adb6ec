// The vectorised search (each width it can work in) and sum against std::search and a plain loop, at
// every alignment and length around the blocks they work in.
#include "payload/byte_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace isetup {
namespace {

std::size_t ReferenceFind(const std::vector<std::uint8_t>& haystack, std::string_view needle, std::size_t from) {
  if (needle.empty() || from > haystack.size()) return kNotFound;
  const auto found = std::search(haystack.begin() + static_cast<std::ptrdiff_t>(from), haystack.end(),
                                 needle.begin(), needle.end(),
                                 [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); });
  return found == haystack.end() ? kNotFound : static_cast<std::size_t>(found - haystack.begin());
}

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

TEST(FindBytes, HandMadeCases) {
  struct Case {
    std::string haystack;
    std::string needle;
    std::size_t from;
    std::size_t expected;
  } cases[] = {
      {"affid=", "affid=", 0, 0},
      {"affid", "affid=", 0, kNotFound},         // cut off by the end
      {"xaffaffid=", "affid=", 0, 4},            // a false start overlapping the match
      {"affid=affid=", "affid=", 1, 6},
      {"affid=affid=", "affid=", 7, kNotFound},
      {"abc", "abc", 3, kNotFound},
      {"abc", "abc", 4, kNotFound},              // from beyond the end
      {"abc", "", 0, kNotFound},
      {"a", "a", 0, 0},
      {"ba", "a", 0, 1},
      {"a=a=", "a=", 1, 2},                      // two-byte needle: no middle to compare
      {std::string(40, 'a') + "=", "affid=", 0, kNotFound},  // first and last bytes everywhere, no match
      {std::string(40, 'a') + "ffid=", "affid=", 0, 39},
      {std::string(63, 'x') + "affsid=", "affsid=", 0, 63},  // in the scalar tail
      {std::string(64, '\xFF') + "\xFF=", "\xFF=", 0, 64},   // high bytes compare unsigned
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FindBytes(Bytes(c.haystack), c.needle, c.from), c.expected) << c.haystack << " / " << c.needle;
    EXPECT_EQ(FindBytesWith(ScanWidth::Sse2, Bytes(c.haystack), c.needle, c.from), c.expected) << c.haystack;
  }
}

TEST(FindBytes, AgreesWithStdSearchAtEveryOffset) {
  // Each needle planted at every offset of buffers of every length up to 160 (two 64-byte rounds and a
  // tail), amid near misses, searched in each width.
  const std::string filler = "affi affsi aff= affid affsid xa=";
  for (const std::string needle : {"affid=", "affsid=", "aff", "a="}) {
    for (std::size_t length = 0; length <= 160; ++length) {
      std::vector<std::uint8_t> base(length);
      for (std::size_t i = 0; i < length; ++i) base[i] = static_cast<std::uint8_t>(filler[i % filler.size()]);
      for (std::size_t at = 0; at + needle.size() <= length; ++at) {
        auto bytes = base;
        std::copy(needle.begin(), needle.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
        for (const std::size_t from : {std::size_t{0}, at, at + 1, length}) {
          const std::size_t expected = ReferenceFind(bytes, needle, from);
          ASSERT_EQ(FindBytesWith(ScanWidth::Widest, bytes, needle, from), expected)
              << "needle " << needle << " length " << length << " at " << at << " from " << from;
          ASSERT_EQ(FindBytesWith(ScanWidth::Sse2, bytes, needle, from), expected)
              << "SSE2: needle " << needle << " length " << length << " at " << at << " from " << from;
        }
      }
    }
  }
}

TEST(FindBytes, AgreesWithStdSearchOnGeneratedContents) {
  std::mt19937 generator(2024);  // fixed seed
  const std::string alphabet = "af=isd";
  for (int round = 0; round < 2000; ++round) {
    std::vector<std::uint8_t> bytes(generator() % 300);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(alphabet[generator() % alphabet.size()]);
    const std::size_t from = bytes.empty() ? 0 : generator() % bytes.size();
    for (const std::string_view needle : {"affid=", "affsid=", "fi"}) {
      ASSERT_EQ(FindBytes(bytes, needle, from), ReferenceFind(bytes, needle, from)) << round;
      ASSERT_EQ(FindBytesWith(ScanWidth::Sse2, bytes, needle, from), ReferenceFind(bytes, needle, from)) << round;
    }
  }
}

TEST(SumBytes, AgreesWithAPlainLoopAtEveryLengthAndAlignment) {
  std::vector<std::uint8_t> bytes(300);
  std::mt19937 generator(7);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(generator());
  for (std::size_t start = 0; start < 17; ++start) {
    for (std::size_t length = 0; start + length <= bytes.size(); ++length) {
      const std::span<const std::uint8_t> part(bytes.data() + start, length);
      std::uint32_t expected = 0;
      for (const auto b : part) expected += b;
      ASSERT_EQ(SumBytes(part), expected) << start << " " << length;
    }
  }
}

TEST(SumBytes, WrapsModulo2To32) {
  // 16,843,010 bytes of 0xFF sum to 4,294,967,550 = 2^32 + 254.
  const std::vector<std::uint8_t> bytes(16843010, 0xFF);
  EXPECT_EQ(SumBytes(bytes), 254u);
}

}  // namespace
}  // namespace isetup
