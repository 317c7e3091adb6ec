// The blanked content against the direct model (copy, blank, search the changed copy) and its byte
// sum against ByteSumChecksum; the digest itself is checked by the sha256 command of installer-tags.
#include "payload/blanked_sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "payload/checksum.h"

namespace isetup {
namespace {

using namespace std::literals;

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

std::vector<std::uint8_t> ModelBlanked(std::vector<std::uint8_t> content) {
  for (const std::string marker : {"affid=", "affsid="}) {
    const auto at = std::search(content.begin(), content.end(), marker.begin(), marker.end());
    if (at == content.end()) continue;
    const std::size_t p = static_cast<std::size_t>(at - content.begin());
    for (std::size_t i = p + 6; i < p + 15 && i < content.size(); ++i) content[i] = '0';
  }
  return content;
}

std::vector<std::uint8_t> Pieced(std::span<const std::uint8_t> content) {
  std::vector<std::uint8_t> joined;
  ForEachBlankedPiece(content, [&](std::span<const std::uint8_t> piece) {
    EXPECT_FALSE(piece.empty());
    joined.insert(joined.end(), piece.begin(), piece.end());
  });
  return joined;
}

void ExpectAgreement(const std::vector<std::uint8_t>& content) {
  const std::string shown(content.begin(), content.end());
  const auto pieced = Pieced(content);
  EXPECT_EQ(pieced, ModelBlanked(content)) << shown;
  std::uint32_t sum = 0;
  for (const std::uint8_t byte : pieced) sum += byte;
  EXPECT_EQ(static_cast<std::int32_t>(sum), ByteSumChecksum(content)) << shown;
}

TEST(BlankedContent, AgreesWithTheModelAndTheChecksum) {
  const std::string_view cases[] = {
      ""sv,
      "no markers at all"sv,
      "xaffid=12345678\0affsid=87654321"sv,
      "affid=AAAAAAAA affid=BBBBBBBB affsid=CCCCCCCC affsid=DDDDDDDD"sv,
      "affid=affsid=XXXXXXXX tail affsid=YYYYYYYY tail"sv,  // second marker inside the first field
      "affid=affsid=XXXXXXXX tail"sv,
      "affsid=affid=ZZZZZZZZZZZZ"sv,                        // the fields overlap
      "affsid=affid="sv,
      "xaffsid=aaffid=12345678901234"sv,                  // the second field lies before the first one
      "affsid=ABCDEFGH affid=12345678"sv,
      "xyzaffid=12"sv,                                      // fields reaching past the end
      "xyzaffsid=123"sv,
      "affid="sv,
      "aaffid=1234567890affsid=1234567890"sv,
  };
  for (const std::string_view text : cases) ExpectAgreement(Bytes(text));

  // Fixed seed: marker pieces and filler, so that markers overlap, repeat and end early.
  std::mt19937 generator(4711);
  const std::string pieces[] = {"affid=", "affsid=", "aff", "sid=", "id=", "0", "Q"};
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    const int count = static_cast<int>(generator() % 12);
    for (int i = 0; i < count; ++i) text += pieces[generator() % std::size(pieces)];
    ExpectAgreement(Bytes(text));
  }
}

}  // namespace
}  // namespace isetup
