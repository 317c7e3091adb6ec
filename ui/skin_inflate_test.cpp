// Tests for inflating the stored skin: complete streams only, and the size ceiling.
#include "ui/skin_inflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <vector>

namespace isetup::ui {
namespace {

std::vector<std::uint8_t> Compress(const std::vector<std::uint8_t>& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::vector<std::uint8_t> out(size);
  EXPECT_EQ(compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), 9), Z_OK);
  out.resize(size);
  return out;
}

std::vector<std::uint8_t> Sample(std::size_t size) {
  std::vector<std::uint8_t> data(size);
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>((i * 31) ^ (i >> 7));
  return data;
}

TEST(InflateSkin, RestoresTheDataAcrossManyChunks) {
  const auto data = Sample(3'000'000);  // several of the inflater's output chunks
  const auto result = InflateSkin(Compress(data));
  ASSERT_TRUE(result) << result.error();
  EXPECT_EQ(result.value(), data);
}

TEST(InflateSkin, HonoursTheLimitExactly) {
  const std::vector<std::uint8_t> zeros(1'000'000, 0);  // a thousandfold ratio, as a zip bomb has
  const auto packed = Compress(zeros);
  EXPECT_TRUE(InflateSkin(packed, zeros.size()));
  EXPECT_FALSE(InflateSkin(packed, zeros.size() - 1));
  EXPECT_FALSE(InflateSkin(packed, 1000));
}

TEST(InflateSkin, RefusesDamagedCutAndPaddedStreams) {
  const auto packed = Compress(Sample(20'000));
  for (std::size_t length = 0; length < packed.size(); length += 7) {
    EXPECT_FALSE(InflateSkin(std::span(packed).first(length))) << length;
  }
  auto padded = packed;
  padded.push_back(0);
  EXPECT_FALSE(InflateSkin(padded));
  auto damaged = packed;
  damaged[damaged.size() - 1] ^= 0x01;  // the Adler-32 check
  EXPECT_FALSE(InflateSkin(damaged));
  auto header = packed;
  header[0] = 0x00;
  EXPECT_FALSE(InflateSkin(header));
}

}  // namespace
}  // namespace isetup::ui
