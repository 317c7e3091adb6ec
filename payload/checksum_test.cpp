// The checksum against a model that copies, blanks and sums, over hand-made and generated contents.
#include "payload/checksum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace isetup {
namespace {

using namespace std::literals;

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

// The checksum done the direct way: blank a copy, search the changed copy, add everything up.
std::int32_t ModelChecksum(std::vector<std::uint8_t> content) {
  for (const std::string marker : {"affid=", "affsid="}) {
    const auto at = std::search(content.begin(), content.end(), marker.begin(), marker.end());
    if (at == content.end()) continue;
    const std::size_t p = static_cast<std::size_t>(at - content.begin());
    for (std::size_t i = p + 6; i < p + 15 && i < content.size(); ++i) content[i] = 0x30;
  }
  std::uint32_t sum = 0;
  for (const std::uint8_t b : content) sum += b;
  return static_cast<std::int32_t>(sum);
}

TEST(ByteSumChecksum, WorkedExample) {
  std::string tagged = "xaffid=12345678";
  tagged += '\0';
  tagged += "affsid=87654321";
  tagged += '\0';
  std::string untagged = tagged;
  untagged.replace(7, 8, "00000000").replace(23, 8, "00000000");
  const auto bytes = Bytes(tagged);
  std::uint32_t plain = 0;
  for (const auto b : bytes) plain += b;
  EXPECT_EQ(plain, 2209u);
  EXPECT_EQ(ByteSumChecksum(bytes), 2172);
  EXPECT_EQ(ByteSumChecksum(Bytes(untagged)), 2172);
}

TEST(ByteSumChecksum, TotalsOf2To31AndMoreComeOutNegative) {
  const std::vector<std::uint8_t> bytes(8421505, 0xFF);
  EXPECT_EQ(ByteSumChecksum(bytes), -2147483521);
}

TEST(ByteSumChecksum, EmptyContentIsZero) { EXPECT_EQ(ByteSumChecksum({}), 0); }

TEST(ByteSumChecksum, AgreesWithTheModel) {
  const std::string zero(1, '\0');
  const char* cases[] = {
      "no markers at all",
      "only affid=ABCDEFGH and more",
      "only affsid=ABCDEFGH and more",
      "affid=AAAAAAAA affid=BBBBBBBB affsid=CCCCCCCC affsid=DDDDDDDD",
      "affid=affsid=XXXXXXXX tail affsid=YYYYYYYY tail",  // second marker inside the first field
      "affid=affsid=XXXXXXXX tail",                       // ... and no further one
      "affsid=affid=ZZZZZZZZZZZZ",                        // the fields overlap
      "affsid=affid=",
      "xyzaffid=12",      // fields reaching past the end
      "xyzaffsid=123",
      "affid=",
      "affsid",
      "aaffid=1234567890affsid=1234567890",
  };
  for (const char* text : cases) {
    const auto bytes = Bytes(text);
    EXPECT_EQ(ByteSumChecksum(bytes), ModelChecksum(bytes)) << text;
  }
}

TEST(ByteSumChecksum, AgreesWithTheModelOnGeneratedContents) {
  // Fixed seed: contents made of marker pieces and filler, so that markers overlap, repeat and end early.
  std::mt19937 generator(12345);
  const std::string pieces[] = {"affid=", "affsid=", "aff", "sid=", "id=", "0", "Q", std::string(1, '\xFF')};
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const int count = static_cast<int>(generator() % 8);
    for (int i = 0; i < count; ++i) text += pieces[generator() % std::size(pieces)];
    const auto bytes = Bytes(text);
    ASSERT_EQ(ByteSumChecksum(bytes), ModelChecksum(bytes)) << text;
  }
}

TEST(ByteSumChecksum, IgnoresTagValuesButNotOtherBytes) {
  const auto a = Bytes("MZ..affid=11112222\0..affsid=33334444\0.."sv);
  auto b = Bytes("MZ..affid=ab-_CDef\0..affsid=zZ09yY87\0.."sv);
  EXPECT_EQ(ByteSumChecksum(a), ByteSumChecksum(b));
  b[0] = 'N';
  EXPECT_NE(ByteSumChecksum(a), ByteSumChecksum(b));
}

}  // namespace
}  // namespace isetup
