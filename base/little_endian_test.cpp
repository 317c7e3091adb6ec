// Little-endian reads take the low byte first and fail, rather than read, when a byte is missing.
#include "base/little_endian.h"

#include <gtest/gtest.h>

#include <limits>

namespace isetup {
namespace {

TEST(LittleEndian, ReadsLowByteFirstAndOnlyInsideTheRange) {
  const std::uint8_t bytes[] = {0x01, 0x02, 0x03, 0x04, 0xFF};
  struct Case {
    std::uint64_t offset;
    std::optional<std::uint16_t> u16;
    std::optional<std::uint32_t> u32;
  };
  constexpr std::uint64_t kHuge = std::numeric_limits<std::uint64_t>::max() - 1;  // offset + size wraps
  for (const Case& c : {Case{0, 0x0201, 0x04030201u}, Case{1, 0x0302, 0xFF040302u}, Case{3, 0xFF04, {}},
                        Case{4, {}, {}}, Case{5, {}, {}}, Case{kHuge, {}, {}}}) {
    EXPECT_EQ(ReadU16(bytes, c.offset), c.u16) << c.offset;
    EXPECT_EQ(ReadU32(bytes, c.offset), c.u32) << c.offset;
    EXPECT_EQ(LoadU32(bytes, c.offset), c.u32.value_or(0)) << c.offset;
  }
  EXPECT_EQ((ReadLittleEndian<std::uint32_t, 3>(bytes, 2)), 0xFF0403u);
}

}  // namespace
}  // namespace isetup
