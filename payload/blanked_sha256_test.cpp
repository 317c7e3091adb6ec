// The blanked content against the direct model (copy, blank, search the changed copy), its byte sum
// against ByteSumChecksum, and the digest's independence of the tag values.
#include "payload/blanked_sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "payload/affiliate_tags.h"
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

// An installer-like content with two well-formed tags (length field, marker, value, zero byte).
std::vector<std::uint8_t> TaggedContent(std::string_view affid, std::string_view affsid) {
  std::vector<std::uint8_t> content(5000);
  std::mt19937 generator(99);
  for (auto& byte : content) byte = static_cast<std::uint8_t>(generator());
  const auto place = [&](std::size_t at, std::string_view marker, std::string_view value) {
    content[at] = static_cast<std::uint8_t>(marker.size() + value.size());
    content[at + 1] = content[at + 2] = content[at + 3] = 0;
    std::copy(marker.begin(), marker.end(), content.begin() + static_cast<std::ptrdiff_t>(at + 4));
    std::copy(value.begin(), value.end(), content.begin() + static_cast<std::ptrdiff_t>(at + 4 + marker.size()));
    content[at + 4 + marker.size() + value.size()] = 0;
  };
  place(1200, kAffidMarker, affid);
  place(1300, kAffsidMarker, affsid);
  return content;
}

TEST(BlankedSha256, OneValueForEveryStampedCopyAndAnotherForOtherBytes) {
  const auto untagged = BlankedSha256(TaggedContent("00000000", "00000000"));
  ASSERT_TRUE(untagged.has_value());
  EXPECT_EQ(BlankedSha256(TaggedContent("Dist0001", "Web-_002")), untagged);
  auto stamped = TaggedContent("Dist0001", "Web-_002");
  ASSERT_FALSE(StampAffiliateTags(stamped, "zzzzzzzz", "yyyyyyyy").has_value());
  EXPECT_EQ(BlankedSha256(stamped), untagged);

  auto other = TaggedContent("00000000", "00000000");
  other[10] ^= 1;
  EXPECT_NE(BlankedSha256(other), untagged);
  // The zero byte after the affsid value lies outside both fields.
  other = TaggedContent("00000000", "00000000");
  other[1300 + 4 + 15] = 1;
  EXPECT_NE(BlankedSha256(other), untagged);
}

TEST(BlankedSha256, OfAFileIsThatOfItsContentAndNothingForNoFile) {
  const auto content = TaggedContent("Dist0001", "Web-_002");
  const auto path = std::filesystem::temp_directory_path() / "blanked_sha256_test.bin";
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
  }
  EXPECT_EQ(ComputeDownloadSha256(path), BlankedSha256(content));
  std::filesystem::remove(path);
  EXPECT_FALSE(ComputeDownloadSha256(path).has_value());
  EXPECT_FALSE(ComputeDownloadSha256(std::filesystem::temp_directory_path()).has_value());
}

}  // namespace
}  // namespace isetup
