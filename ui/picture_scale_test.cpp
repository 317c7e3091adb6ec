// Tests for resampling skin pictures: exact copies, checked filter values, alpha weighting, edges.
#include "ui/picture_scale.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace isetup::ui {
namespace {

constexpr std::uint32_t Argb(std::uint32_t a, std::uint32_t r, std::uint32_t g, std::uint32_t b) {
  return a << 24 | r << 16 | g << 8 | b;
}
constexpr std::uint32_t Grey(std::uint32_t v) { return Argb(0xFF, v, v, v); }

SkinPicture Picture(int width, int height, std::vector<std::uint32_t> pixels) {
  return SkinPicture{width, height, std::move(pixels)};
}

SkinPicture Filled(int width, int height, std::uint32_t colour) {
  return Picture(width, height, std::vector<std::uint32_t>(static_cast<std::size_t>(width) * height, colour));
}

// A deterministic picture where every pixel differs from its neighbours, transparent ones included.
SkinPicture Pattern(int width, int height) {
  SkinPicture picture = Filled(width, height, 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint32_t n = static_cast<std::uint32_t>(y * width + x);
      picture.pixels[static_cast<std::size_t>(y) * width + x] =
          Argb((n * 37) & 0xFF, (n * 11) & 0xFF, (n * 53 + 7) & 0xFF, (n * 101 + 3) & 0xFF);
    }
  }
  return picture;
}

TEST(ResamplePicture, TheSameSizeIsAnExactCopy) {
  const SkinPicture source = Pattern(9, 5);
  const SkinPicture copy = ResamplePicture(source, source.size());
  EXPECT_EQ(copy.size(), source.size());
  EXPECT_EQ(copy.pixels, source.pixels);  // transparent pixels keep their colour too
}

// Every combination of shrinking, growing and keeping an axis, down to one pixel: a constant colour stays
// exactly that colour, and no read or write leaves the pictures (checked by ASan in the native build).
TEST(ResamplePicture, AConstantColourStaysConstantAtEverySize) {
  const std::uint32_t colours[] = {Argb(0xFF, 0x69, 0x8C, 0xB1), Argb(0x80, 0x12, 0xF0, 0x07),
                                   Argb(0x00, 0x5F, 0x7D, 0x9D)};
  const Size sources[] = {{1, 1}, {3, 2}, {7, 5}, {30, 17}};
  const Size targets[] = {{1, 1}, {2, 3}, {5, 5}, {11, 4}, {45, 26}};
  for (const std::uint32_t colour : colours) {
    for (const Size from : sources) {
      for (const Size to : targets) {
        const SkinPicture out = ResamplePicture(Filled(from.width, from.height, colour), to);
        ASSERT_EQ(out.size(), to);
        ASSERT_EQ(out.pixels.size(), static_cast<std::size_t>(to.width) * to.height);
        for (const std::uint32_t pixel : out.pixels) {
          ASSERT_EQ(pixel, colour) << std::hex << colour << std::dec << " " << from.width << "x" << from.height
                                   << " to " << to.width << "x" << to.height;
        }
      }
    }
  }
}

// One row, so each case checks one axis's filter with exact expected values.
TEST(ResamplePicture, RowFilterValues) {
  struct Case {
    const char* what;
    std::vector<std::uint32_t> source;
    std::vector<std::uint32_t> expected;
  } const cases[] = {
      // Bilinear at pixel centres, the edge pixels held: 0.75·0 + 0.25·255 = 63.75, 0.25·0 + 0.75·255 = 191.25.
      {"grow 2x", {Grey(0), Grey(255)}, {Grey(0), Grey(64), Grey(191), Grey(255)}},
      {"grow 2x, three pixels", {Grey(0), Grey(100), Grey(200)},
       {Grey(0), Grey(25), Grey(75), Grey(125), Grey(175), Grey(200)}},
      // 1.5×: centres of the outer pixels meet the source's edge centres, the middle one halves.
      {"grow 1.5x", {Grey(100), Grey(200)}, {Grey(100), Grey(150), Grey(200)}},
      {"grow 1.5x, four pixels", {Grey(0), Grey(60), Grey(120), Grey(180)},
       {Grey(0), Grey(30), Grey(70), Grey(110), Grey(150), Grey(180)}},
      // Area averaging: each output pixel spans 1.5 source pixels.
      {"shrink 1.5x", {Grey(30), Grey(60), Grey(90)}, {Grey(40), Grey(80)}},
      {"shrink 2x", {Grey(10), Grey(20), Grey(200), Grey(100)}, {Grey(15), Grey(150)}},
      {"shrink to one", {Grey(1), Grey(2), Grey(3), Grey(4), Grey(5)}, {Grey(3)}},
      // Channels are filtered separately.
      {"channels", {Argb(0xFF, 0, 100, 200), Argb(0xFF, 200, 100, 0)}, {Argb(0xFF, 0, 100, 200),
        Argb(0xFF, 50, 100, 150), Argb(0xFF, 150, 100, 50), Argb(0xFF, 200, 100, 0)}},
  };
  for (const Case& c : cases) {
    const int width = static_cast<int>(c.source.size());
    const int wanted = static_cast<int>(c.expected.size());
    const SkinPicture out = ResamplePicture(Picture(width, 1, c.source), {wanted, 1});
    EXPECT_EQ(out.pixels, c.expected) << c.what;
    // The same along the other axis.
    const SkinPicture column = ResamplePicture(Picture(1, width, c.source), {1, wanted});
    EXPECT_EQ(column.pixels, c.expected) << c.what << " (column)";
  }
}

TEST(ResamplePicture, TwoDimensionsCombineBothAxes) {
  // 2 × 2 grown to 4 × 4: the corners keep the source corners, the inner pixels mix all four.
  const SkinPicture source = Picture(2, 2, {Grey(0), Grey(64), Grey(128), Grey(192)});
  const SkinPicture out = ResamplePicture(source, {4, 4});
  ASSERT_EQ(out.size(), (Size{4, 4}));
  EXPECT_EQ(out.at(0, 0), Grey(0));
  EXPECT_EQ(out.at(3, 0), Grey(64));
  EXPECT_EQ(out.at(0, 3), Grey(128));
  EXPECT_EQ(out.at(3, 3), Grey(192));
  // (1, 1): weights 0.75 / 0.25 on both axes: 0.5625·0 + 0.1875·64 + 0.1875·128 + 0.0625·192 = 48.
  EXPECT_EQ(out.at(1, 1), Grey(48));
  // (2, 1): 0.1875·0 + 0.5625·64 + 0.0625·128 + 0.1875·192 = 80.
  EXPECT_EQ(out.at(2, 1), Grey(80));

  // Shrinking one axis while growing the other: 3 × 2 to 2 × 4.
  const SkinPicture mixed = ResamplePicture(Picture(3, 2, {Grey(30), Grey(60), Grey(90), Grey(90), Grey(120), Grey(150)}),
                                            {2, 4});
  ASSERT_EQ(mixed.size(), (Size{2, 4}));
  EXPECT_EQ(mixed.at(0, 0), Grey(40));   // top row averaged: (2·30 + 60) / 3
  EXPECT_EQ(mixed.at(1, 3), Grey(140));  // bottom row: (120 + 2·150) / 3
  EXPECT_EQ(mixed.at(0, 1), Grey(55));   // 0.75·40 + 0.25·100
}

TEST(ResamplePicture, TransparentPixelsDoNotTintTheirNeighbours) {
  // Opaque red beside a fully transparent green: the half-covered result is half transparent and pure red.
  const SkinPicture source = Picture(2, 1, {Argb(0xFF, 0xFF, 0, 0), Argb(0x00, 0, 0xFF, 0)});
  EXPECT_EQ(ResamplePicture(source, {1, 1}).pixels, (std::vector<std::uint32_t>{Argb(0x80, 0xFF, 0, 0)}));
  // Growing: every mixed pixel stays red, only its alpha falls; the transparent end stays transparent.
  const SkinPicture grown = ResamplePicture(source, {4, 1});
  EXPECT_EQ(grown.pixels, (std::vector<std::uint32_t>{Argb(0xFF, 0xFF, 0, 0), Argb(0xBF, 0xFF, 0, 0),
                                                       Argb(0x40, 0xFF, 0, 0), 0u}));
  // Two half-transparent colours mix by their coverage: 0x40 of blue against 0xC0 of white.
  const SkinPicture weighted =
      ResamplePicture(Picture(2, 1, {Argb(0x40, 0, 0, 0xFF), Argb(0xC0, 0xFF, 0xFF, 0xFF)}), {1, 1});
  EXPECT_EQ(weighted.pixels, (std::vector<std::uint32_t>{Argb(0x80, 0xBF, 0xBF, 0xFF)}));
}

TEST(ResamplePicture, APictureWithoutAlphaIsFilteredAsOpaque) {
  // Alpha zero everywhere means "no alpha": the colours still mix, and the alpha stays zero.
  const SkinPicture source = Picture(2, 1, {Argb(0, 0, 0, 0), Argb(0, 200, 100, 40)});
  EXPECT_EQ(ResamplePicture(source, {1, 1}).pixels, (std::vector<std::uint32_t>{Argb(0, 100, 50, 20)}));
  EXPECT_EQ(ResamplePicture(source, {4, 1}).pixels,
            (std::vector<std::uint32_t>{Argb(0, 0, 0, 0), Argb(0, 50, 25, 10), Argb(0, 150, 75, 30),
                                        Argb(0, 200, 100, 40)}));
}

TEST(ResamplePicture, EdgesHoldTheirOwnPixels) {
  // Growing 3 → 7: the outermost output pixels sit outside the first and last source centres.
  const SkinPicture grown = ResamplePicture(Picture(3, 1, {Grey(10), Grey(50), Grey(250)}), {7, 1});
  ASSERT_EQ(grown.width, 7);
  EXPECT_EQ(grown.at(0, 0), Grey(10));
  EXPECT_EQ(grown.at(6, 0), Grey(250));
  EXPECT_EQ(grown.at(3, 0), Grey(50));  // the middle centre meets the middle source centre
  // A one-pixel line along an edge keeps its full strength when the picture grows 1.5×, as the fill
  // strip's bottom row must.
  SkinPicture strip = Filled(4, 20, Grey(255));
  for (int x = 0; x < 4; ++x) strip.pixels[static_cast<std::size_t>(19) * 4 + x] = Grey(0x5F);
  const SkinPicture tall = ResamplePicture(strip, {6, 30});
  EXPECT_EQ(tall.at(0, 29), Grey(0x5F));
  EXPECT_EQ(tall.at(5, 29), Grey(0x5F));
  EXPECT_EQ(tall.at(0, 26), Grey(255));
}

TEST(ResamplePicture, RefusesEmptyAndInconsistentInput) {
  const SkinPicture good = Filled(4, 3, Grey(9));
  SkinPicture shortPixels = good;
  shortPixels.pixels.pop_back();
  struct Case {
    const char* what;
    SkinPicture source;
    Size size;
  } const cases[] = {
      {"empty source", SkinPicture{}, {4, 4}},
      {"pixels missing", shortPixels, {8, 6}},
      {"pixels missing, same size", shortPixels, {4, 3}},
      {"negative width", SkinPicture{-4, 3, good.pixels}, {8, 6}},
      {"zero width wanted", good, {0, 6}},
      {"negative height wanted", good, {8, -1}},
      {"too wide", good, {kMaxSkinPictureSide + 1, 3}},
      {"too high", good, {4, kMaxSkinPictureSide + 1}},
  };
  for (const Case& c : cases) {
    const SkinPicture out = ResamplePicture(c.source, c.size);
    EXPECT_EQ(out.width, 0) << c.what;
    EXPECT_EQ(out.height, 0) << c.what;
    EXPECT_TRUE(out.pixels.empty()) << c.what;
  }
}

TEST(CropPicture, TakesTheAreaOrNothing) {
  const SkinPicture source = Pattern(6, 4);
  const SkinPicture part = CropPicture(source, {2, 1, 5, 3});
  ASSERT_EQ(part.size(), (Size{3, 2}));
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) EXPECT_EQ(part.at(x, y), source.at(x + 2, y + 1));
  }
  EXPECT_EQ(CropPicture(source, {0, 0, 6, 4}).pixels, source.pixels);
  for (const Box outside : {Box{4, 0, 7, 2}, Box{-1, 0, 2, 2}, Box{0, 3, 2, 5}, Box{2, 2, 2, 3}, Box{3, 1, 1, 2}}) {
    EXPECT_TRUE(CropPicture(source, outside).pixels.empty());
  }
}

}  // namespace
}  // namespace isetup::ui
