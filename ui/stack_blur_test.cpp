// Tests for the stack blur against a direct evaluation of the same triangle kernel.
#include "ui/stack_blur.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace isetup::ui {
namespace {

// The kernel written out: weights radius + 1 − |i|, rows then columns, each pass rounded, edges clamped.
std::vector<std::uint32_t> NaiveBlur(const std::vector<std::uint32_t>& in, int width, int height, int radius) {
  const int divisor = (radius + 1) * (radius + 1);
  const auto pass = [&](const std::vector<std::uint32_t>& src, bool rows) {
    std::vector<std::uint32_t> out(src.size());
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        std::uint32_t pixel = 0;
        for (int c = 0; c < 4; ++c) {
          int sum = 0;
          for (int i = -radius; i <= radius; ++i) {
            const int sx = rows ? std::clamp(x + i, 0, width - 1) : x;
            const int sy = rows ? y : std::clamp(y + i, 0, height - 1);
            sum += (radius + 1 - std::abs(i)) * static_cast<int>((src[sy * width + sx] >> (8 * c)) & 0xFF);
          }
          pixel |= static_cast<std::uint32_t>((sum + divisor / 2) / divisor) << (8 * c);
        }
        out[y * width + x] = pixel;
      }
    }
    return out;
  };
  return pass(pass(in, true), false);
}

std::vector<std::uint32_t> Random(int count, unsigned seed) {
  std::mt19937 generator(seed);
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(count));
  for (auto& p : pixels) p = generator();
  return pixels;
}

TEST(StackBlur, MatchesTheDirectKernelOnSeededData) {
  struct Case {
    int width, height, radius;
  };
  unsigned seed = 7;
  for (const Case& c : {Case{17, 11, 3}, Case{1, 9, 3}, Case{9, 1, 3}, Case{1, 1, 3}, Case{2, 3, 3}, Case{40, 25, 1},
                        Case{13, 6, 8}}) {
    const auto input = Random(c.width * c.height, seed++);
    auto pixels = input;
    ASSERT_TRUE(StackBlur(pixels, c.width, c.height, c.radius));
    EXPECT_EQ(pixels, NaiveBlur(input, c.width, c.height, c.radius)) << c.width << "x" << c.height << " r" << c.radius;
  }
}

TEST(StackBlur, LeavesAUniformPictureUnchanged) {
  std::vector<std::uint32_t> pixels(12 * 7, 0x80C0FFEEu);
  ASSERT_TRUE(StackBlur(pixels, 12, 7));
  for (std::uint32_t p : pixels) EXPECT_EQ(p, 0x80C0FFEEu);
}

TEST(StackBlur, SpreadsOnePixelExactlyThreeWithTriangleWeights) {
  constexpr int kSide = 15, kCentre = 7;
  std::vector<std::uint32_t> pixels(kSide * kSide, 0);
  pixels[kCentre * kSide + kCentre] = 0xFFu;  // blue channel only
  ASSERT_TRUE(StackBlur(pixels, kSide, kSide));
  int total = 0;
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x) {
      const int value = static_cast<int>(pixels[y * kSide + x]);
      const int dx = std::abs(x - kCentre), dy = std::abs(y - kCentre);
      total += value;
      if (dx > 3 || dy > 3) {
        EXPECT_EQ(value, 0) << x << "," << y;
      } else {
        EXPECT_GT(value, 0) << x << "," << y;
        // Separable triangle weights: (4 − dx)(4 − dy)/256 of 255, give or take the two roundings.
        EXPECT_NEAR(value, 255.0 * (4 - dx) * (4 - dy) / 256.0, 1.0) << x << "," << y;
      }
    }
  }
  EXPECT_NEAR(total, 255, 49 / 2);  // at most half a unit lost or gained per touched pixel
  EXPECT_GT(pixels[kCentre * kSide + kCentre], pixels[kCentre * kSide + kCentre + 1]);
  EXPECT_EQ(pixels[kCentre * kSide + kCentre - 2], pixels[kCentre * kSide + kCentre + 2]);
}

TEST(StackBlur, ClampsAtTheEdges) {
  // A bright left column stays brighter at the edge than one step in, as if the picture went on beyond it.
  constexpr int kWidth = 8;
  std::vector<std::uint32_t> pixels(kWidth, 0);
  pixels[0] = 160;
  ASSERT_TRUE(StackBlur(pixels, kWidth, 1));
  // Edge pixel: weights 4 (itself) + 3 + 2 + 1 (its clamped copies to the left) = 10/16 of 160.
  EXPECT_EQ(pixels[0], 100u);
  EXPECT_EQ(pixels[1], 60u);  // 3 + 2 + 1 from the edge pixel and its copies
  EXPECT_EQ(pixels[2], 30u);
  EXPECT_EQ(pixels[3], 10u);
  EXPECT_EQ(pixels[4], 0u);
}

TEST(StackBlur, RefusesInconsistentArguments) {
  std::vector<std::uint32_t> pixels = {1, 2, 3, 4, 5, 6};
  const auto before = pixels;
  EXPECT_FALSE(StackBlur(pixels, 4, 2));
  EXPECT_FALSE(StackBlur(pixels, 0, 6));
  EXPECT_FALSE(StackBlur(pixels, 3, -2));
  EXPECT_FALSE(StackBlur(pixels, 3, 2, -1));
  EXPECT_FALSE(StackBlur(pixels, 3, 2, kMaxStackBlurRadius + 1));
  EXPECT_TRUE(StackBlur(pixels, 3, 2, 0));
  EXPECT_EQ(pixels, before);
}

TEST(StackBlurred, LeavesTheSourceAlone) {
  SkinPicture picture{5, 4, Random(20, 99)};
  const SkinPicture blurred = StackBlurred(picture);
  EXPECT_EQ(blurred.pixels, NaiveBlur(picture.pixels, 5, 4, 3));
  EXPECT_EQ(picture.pixels, Random(20, 99));
}

}  // namespace
}  // namespace isetup::ui
