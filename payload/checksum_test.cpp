// The checksum: the worked example, the sign of large totals, and the byte sum of the blanked content
// (whose rule tag_fields_test checks) whole, in pieces and across the checksum's own piece borders.
#include "payload/checksum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "payload/pe_test_image.h"
#include "payload/tag_fields_model.h"

namespace isetup {
namespace {

using namespace std::literals;
using testing::TestBytes;

// The checksum done the direct way: blank a copy, add everything up.
std::int32_t ModelChecksum(const std::vector<std::uint8_t>& content) {
  std::uint32_t sum = 0;
  for (const std::uint8_t b : testing::ModelBlanked(content)) sum += b;
  return static_cast<std::int32_t>(sum);
}

TEST(ByteSumChecksum, WorkedExample) {
  std::string tagged = "xaffid=12345678";
  tagged += '\0';
  tagged += "affsid=87654321";
  tagged += '\0';
  std::string untagged = tagged;
  untagged.replace(7, 8, "00000000").replace(23, 8, "00000000");
  const auto bytes = TestBytes(tagged);
  std::uint32_t plain = 0;
  for (const auto b : bytes) plain += b;
  EXPECT_EQ(plain, 2209u);
  EXPECT_EQ(ByteSumChecksum(bytes), 2172);
  EXPECT_EQ(ByteSumChecksum(TestBytes(untagged)), 2172);
}

TEST(ByteSumChecksum, TotalsOf2To31AndMoreComeOutNegative) {
  const std::vector<std::uint8_t> bytes(8421505, 0xFF);
  EXPECT_EQ(ByteSumChecksum(bytes), -2147483521);
}

TEST(ByteSumChecksum, EmptyContentIsZero) { EXPECT_EQ(ByteSumChecksum({}), 0); }

// The stream fed in pieces of `size` bytes (the last one shorter).
std::int32_t StreamChecksum(const std::vector<std::uint8_t>& content, std::size_t size) {
  ByteSumChecksumStream stream;
  for (std::size_t at = 0; at < content.size(); at += size) {
    stream.Add(std::span(content).subspan(at, std::min(size, content.size() - at)));
  }
  return stream.Result();
}

TEST(ByteSumChecksum, WholeAndInPiecesAgreesWithTheModel) {
  for (const std::string& text : testing::TrickyTagContents()) {
    const auto bytes = TestBytes(text);
    const std::int32_t expected = ModelChecksum(bytes);
    EXPECT_EQ(ByteSumChecksum(bytes), expected) << text;
    for (std::size_t size = 1; size <= 20; ++size) {
      ASSERT_EQ(StreamChecksum(bytes, size), expected) << text << " in pieces of " << size;
    }
  }
}

TEST(ByteSumChecksum, TagsAcrossLargePieceBordersAgreeWithTheModel) {
  // A tag block placed so that a border of the 256 KiB pieces that ByteSumChecksum works through cuts
  // each of its bytes in turn.
  const auto block = testing::TagBlock("Dist0001", "Sub-_002");
  for (std::size_t shift = 0; shift <= block.size(); ++shift) {
    std::vector<std::uint8_t> bytes(2 * 256 * 1024 + 100, 0x90);
    std::copy(block.begin(), block.end(), bytes.begin() + static_cast<std::ptrdiff_t>(256 * 1024 - shift));
    ASSERT_EQ(ByteSumChecksum(bytes), ModelChecksum(bytes)) << shift;
  }
}

TEST(ByteSumChecksum, IgnoresTagValuesButNotOtherBytes) {
  const auto a = TestBytes("MZ..affid=11112222\0..affsid=33334444\0.."sv);
  auto b = TestBytes("MZ..affid=ab-_CDef\0..affsid=zZ09yY87\0.."sv);
  EXPECT_EQ(ByteSumChecksum(a), ByteSumChecksum(b));
  b[0] = 'N';
  EXPECT_NE(ByteSumChecksum(a), ByteSumChecksum(b));
}

}  // namespace
}  // namespace isetup
