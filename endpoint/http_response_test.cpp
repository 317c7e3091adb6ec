// Gathered bodies: every range of a patched body comes out as the patched copy would, without copies.
#include "endpoint/http_response.h"

#include <gtest/gtest.h>

namespace isetup::endpoint {
namespace {

TEST(HttpDate, FollowsTheClockSecondBySecond) {
  const auto at = std::chrono::system_clock::from_time_t(1796763600);  // 2026-12-08 21:00:00 UTC
  EXPECT_EQ(FormatHttpDate(at), "Tue, 08 Dec 2026 21:00:00 GMT");
  EXPECT_EQ(FormatHttpDate(at + std::chrono::milliseconds(999)), "Tue, 08 Dec 2026 21:00:00 GMT");
  EXPECT_EQ(FormatHttpDate(at + std::chrono::seconds(1)), "Tue, 08 Dec 2026 21:00:01 GMT");
  EXPECT_EQ(FormatHttpDate(at), "Tue, 08 Dec 2026 21:00:00 GMT");
}

TEST(ResponseBody, GatherYieldsThePatchedBytesOfAnyRange) {
  std::vector<std::uint8_t> bytes(64);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>('a' + i % 26);
  const auto shared = std::make_shared<const std::vector<std::uint8_t>>(bytes);
  struct Case {
    const char* name;
    std::vector<BodyPatch> patches;
  };
  const Case cases[] = {
      {"none", {}},
      {"two, out of order", {{40, "AAAAAAAA"}, {8, "BBBBBBBB"}}},
      {"at the start and at the end", {{0, "12345678"}, {56, "87654321"}}},
      {"adjacent", {{10, "XXXX"}, {14, "YYYY"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> expected = bytes;
    for (const BodyPatch& patch : c.patches) std::copy(patch.value.begin(), patch.value.end(), expected.begin() + patch.offset);
    const ResponseBody body{shared, c.patches};
    for (std::size_t from = 0; from <= bytes.size(); from += 3) {
      for (std::size_t to = from; to <= bytes.size() + 2; to += 5) {
        std::vector<std::uint8_t> gathered;
        for (const auto piece : body.Gather(from, to)) {
          ASSERT_FALSE(piece.empty());
          gathered.insert(gathered.end(), piece.begin(), piece.end());
        }
        const std::size_t end = std::min(to, bytes.size());
        ASSERT_EQ(gathered, std::vector<std::uint8_t>(expected.begin() + from, expected.begin() + end)) << from << ".." << to;
      }
    }
  }
}

}  // namespace
}  // namespace isetup::endpoint
