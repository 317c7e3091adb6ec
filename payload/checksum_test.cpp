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

// The stream fed in pieces of `size` bytes (the last one shorter).
std::int32_t StreamChecksum(const std::vector<std::uint8_t>& content, std::size_t size) {
  ByteSumChecksumStream stream;
  for (std::size_t at = 0; at < content.size(); at += size) {
    stream.Add(std::span(content).subspan(at, std::min(size, content.size() - at)));
  }
  return stream.Result();
}

// Contents whose markers and fields overlap, repeat, end early, and fall on every side of a piece border.
std::vector<std::string> TrickyContents() {
  const std::string zero(1, '\0');
  return {
      "",
      "no markers at all",
      "xaffid=12345678" + zero + "affsid=87654321" + zero,
      "affid=AAAAAAAA affid=BBBBBBBB affsid=CCCCCCCC affsid=DDDDDDDD",
      "affid=affsid=XXXXXXXX tail affsid=YYYYYYYY tail",
      "affid=12345678affsid=XXXXXXXX",  // affsid 14 bytes after affid: still inside the field
      "affid=123456789affsid=XXXXXXXX",  // 15 bytes after: just outside
      "affsid=affid=ZZZZZZZZZZZZ",
      "affsid=AAAAAAAA affid=BBBBBBBB",
      "affaffid=affsaffsid=11111111",
      "xyzaffid=12",
      "xyzaffsid=123",
      "affid=",
      "affsid=",
      "aaffid=1234567890affsid=1234567890",
  };
}

TEST(ByteSumChecksumStream, AnyTwoPiecesAgreeWithTheModel) {
  for (const std::string& text : TrickyContents()) {
    const auto bytes = Bytes(text);
    const std::int32_t expected = ModelChecksum(bytes);
    for (std::size_t split = 0; split <= bytes.size(); ++split) {
      ByteSumChecksumStream stream;
      stream.Add(std::span(bytes).first(split));
      stream.Add(std::span(bytes).subspan(split));
      ASSERT_EQ(stream.Result(), expected) << text << " split at " << split;
    }
  }
}

TEST(ByteSumChecksumStream, EveryPieceSizeAgreesWithTheModel) {
  for (const std::string& text : TrickyContents()) {
    const auto bytes = Bytes(text);
    for (std::size_t size = 1; size <= 20; ++size) {
      ASSERT_EQ(StreamChecksum(bytes, size), ModelChecksum(bytes)) << text << " in pieces of " << size;
    }
  }
}

TEST(ByteSumChecksumStream, GeneratedContentsInSmallPiecesAgreeWithTheModel) {
  std::mt19937 generator(54321);  // fixed seed
  const std::string pieces[] = {"affid=", "affsid=", "aff", "sid=", "id=", "0", "Q", std::string(1, '\xFF')};
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const int count = static_cast<int>(generator() % 10);
    for (int i = 0; i < count; ++i) text += pieces[generator() % std::size(pieces)];
    const auto bytes = Bytes(text);
    const std::size_t size = 1 + generator() % 9;
    ASSERT_EQ(StreamChecksum(bytes, size), ModelChecksum(bytes)) << text << " in pieces of " << size;
  }
}

TEST(ByteSumChecksumStream, TagsAcrossLargePieceBordersAgreeWithTheModel) {
  // A tag block placed so that a border of the pieces cuts each of its bytes in turn.
  const std::string zero(1, '\0');
  const std::string block = "affid=Dist0001" + zero + zero + "affsid=Sub-_002" + zero;
  for (std::size_t shift = 0; shift <= block.size(); ++shift) {
    std::vector<std::uint8_t> bytes(3 * 4096, 0x90);
    std::copy(block.begin(), block.end(), bytes.begin() + static_cast<std::ptrdiff_t>(4096 - shift));
    ASSERT_EQ(StreamChecksum(bytes, 4096), ModelChecksum(bytes)) << shift;
  }
  // ByteSumChecksum itself works through 256 KiB pieces.
  for (std::size_t shift = 0; shift <= block.size(); ++shift) {
    std::vector<std::uint8_t> bytes(2 * 256 * 1024 + 100, 0x90);
    std::copy(block.begin(), block.end(), bytes.begin() + static_cast<std::ptrdiff_t>(256 * 1024 - shift));
    ASSERT_EQ(ByteSumChecksum(bytes), ModelChecksum(bytes)) << shift;
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
