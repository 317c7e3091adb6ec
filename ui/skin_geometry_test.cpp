// Tests for cutting skin pictures at their corner points and for the frame and mask geometry.
#include "ui/skin_geometry.h"

#include <gtest/gtest.h>

namespace isetup::ui {
namespace {

constexpr Size kFramePicture{629, 403};
constexpr Box kFrameClient{12, 80, 616, 393};
constexpr CornerPoints kFrameCorners{{259, 48}, {614, 53}, {12, 392}, {616, 391}};
constexpr CornerPoints kButtonCorners{{4, 4}, {87, 4}, {4, 20}, {87, 20}};
constexpr CornerPoints kGaugeCorners{{0, 0}, {29, 1}, {0, 0}, {0, 0}};

long long Area(const Box& box) { return static_cast<long long>(box.width()) * box.height(); }

// Every destination pixel is covered by exactly one piece, and no piece leaves the drawn area or the picture.
void ExpectTiling(const SliceLayout& layout, Size picture) {
  long long area = 0;
  for (const SlicePiece& piece : layout.pieces) {
    EXPECT_GE(piece.source.width(), 0);
    EXPECT_GE(piece.source.height(), 0);
    EXPECT_GE(piece.destination.width(), 0);
    EXPECT_GE(piece.destination.height(), 0);
    EXPECT_TRUE(piece.source.left >= 0 && piece.source.top >= 0 && piece.source.right <= picture.width &&
                piece.source.bottom <= picture.height);
    EXPECT_TRUE(piece.destination.left >= 0 && piece.destination.top >= 0 &&
                piece.destination.right <= layout.size.width && piece.destination.bottom <= layout.size.height);
    area += Area(piece.destination);
  }
  EXPECT_EQ(area, static_cast<long long>(layout.size.width) * layout.size.height);
  for (std::size_t i = 0; i < layout.pieces.size(); ++i) {
    for (std::size_t j = i + 1; j < layout.pieces.size(); ++j) {
      const Box& a = layout.pieces[i].destination;
      const Box& b = layout.pieces[j].destination;
      const bool overlap = a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
      EXPECT_FALSE(overlap) << i << " and " << j;
    }
  }
}

TEST(FrameGeometry, ClientAreaOf440By97SitsAt12By80) {
  const Size frame = FrameSizeForClient(kFramePicture, kFrameClient, {440, 97});
  EXPECT_EQ(frame, (Size{465, 187}));
  const Box client = MapClientRect(kFramePicture, kFrameClient, frame);
  EXPECT_EQ(client, (Box{12, 80, 452, 177}));

  const SliceLayout layout = SlicePicture(kFramePicture, kFrameCorners, frame);
  EXPECT_EQ(layout.size, frame);
  ExpectTiling(layout, kFramePicture);
  // The logo corner and the right-hand corner keep their pixels one to one.
  EXPECT_EQ(layout[SlicePart::LeftTop].source, (Box{0, 0, 259, 53}));
  EXPECT_EQ(layout[SlicePart::LeftTop].destination, (Box{0, 0, 259, 53}));
  EXPECT_EQ(layout[SlicePart::RightTop].source, (Box{614, 0, 629, 53}));
  EXPECT_EQ(layout[SlicePart::RightTop].destination, (Box{450, 0, 465, 53}));
  EXPECT_EQ(layout[SlicePart::Top].destination, (Box{259, 0, 450, 53}));
  // The side and bottom edges are exactly the frame's border around the client area.
  EXPECT_EQ(layout[SlicePart::Left].destination, (Box{0, 53, 12, 175}));
  EXPECT_EQ(layout[SlicePart::Right].destination, (Box{452, 53, 465, 175}));
  EXPECT_EQ(layout[SlicePart::RightBottom].source, (Box{616, 391, 629, 403}));
  EXPECT_EQ(layout[SlicePart::RightBottom].destination, (Box{452, 175, 465, 187}));
  EXPECT_EQ(layout[SlicePart::Bottom].destination, (Box{12, 175, 452, 187}));
}

TEST(SlicePicture, GrowthFollowsTheCornerPointsSet) {
  struct Case {
    const char* name;
    Size picture;
    CornerPoints corners;
    Size wanted;
    Size drawn;
  };
  const Case cases[] = {
      {"button grows both ways", {92, 25}, kButtonCorners, {120, 25}, {120, 25}},
      {"button taller", {92, 25}, kButtonCorners, {120, 40}, {120, 40}},
      {"button never below its corners", {92, 25}, kButtonCorners, {3, 3}, {9, 9}},
      {"gauge grows sideways only", {30, 17}, kGaugeCorners, {410, 25}, {410, 17}},
      {"gauge narrower keeps its right edge", {30, 17}, kGaugeCorners, {0, 5}, {1, 17}},
      {"no points: picture size", {66, 19}, CornerPoints{}, {410, 20}, {66, 19}},
      {"frame", {629, 403}, kFrameCorners, {100, 100}, {274, 100}},
  };
  for (const Case& c : cases) {
    const SliceLayout layout = SlicePicture(c.picture, c.corners, c.wanted);
    EXPECT_EQ(layout.size, c.drawn) << c.name;
    ExpectTiling(layout, c.picture);
  }
  EXPECT_EQ(GrowthOf(kButtonCorners), (Growth{true, true}));
  EXPECT_EQ(GrowthOf(kGaugeCorners), (Growth{true, false}));
  EXPECT_EQ(GrowthOf(CornerPoints{}), (Growth{false, false}));
}

TEST(SlicePicture, GaugeKeepsOnlyItsRightColumnFixed) {
  const SliceLayout layout = SlicePicture({30, 17}, kGaugeCorners, {410, 17});
  EXPECT_EQ(layout[SlicePart::RightTop].source, (Box{29, 0, 30, 1}));
  EXPECT_EQ(layout[SlicePart::RightTop].destination, (Box{409, 0, 410, 1}));
  EXPECT_EQ(layout[SlicePart::Right].source, (Box{29, 1, 30, 17}));
  EXPECT_EQ(layout[SlicePart::Right].destination, (Box{409, 1, 410, 17}));
  EXPECT_EQ(layout[SlicePart::Centre].source, (Box{0, 1, 29, 17}));
  EXPECT_EQ(layout[SlicePart::Centre].destination, (Box{0, 1, 409, 17}));
}

TEST(SlicePicture, ButtonCornersStayAndEdgesStretch) {
  const SliceLayout layout = SlicePicture({92, 25}, kButtonCorners, {120, 31});
  EXPECT_EQ(layout[SlicePart::LeftTop].destination, (Box{0, 0, 4, 4}));
  EXPECT_EQ(layout[SlicePart::RightTop].destination, (Box{115, 0, 120, 4}));
  EXPECT_EQ(layout[SlicePart::LeftBottom].destination, (Box{0, 26, 4, 31}));
  EXPECT_EQ(layout[SlicePart::RightBottom].source, (Box{87, 20, 92, 25}));
  EXPECT_EQ(layout[SlicePart::RightBottom].destination, (Box{115, 26, 120, 31}));
  EXPECT_EQ(layout[SlicePart::Centre].source, (Box{4, 4, 87, 20}));
  EXPECT_EQ(layout[SlicePart::Centre].destination, (Box{4, 4, 115, 26}));
}

TEST(SlicePicture, PointsOutsideThePictureAreClamped) {
  const CornerPoints wild{{-5, -5}, {500, -1}, {-9, 900}, {1000, 1000}};
  const SliceLayout layout = SlicePicture({20, 10}, wild, {50, 40});
  ExpectTiling(layout, {20, 10});
}

TEST(RenderSlices, DrawsCornersOneToOneAndStretchesTheMiddle) {
  // 4 × 3 picture inside a 6 × 5 one at (1, 1); corners one pixel, the rest stretched.
  SkinPicture source{6, 5, std::vector<std::uint32_t>(30, 0xDEADu)};
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 4; ++x) source.pixels[(y + 1) * 6 + x + 1] = static_cast<std::uint32_t>(10 * y + x);
  }
  const CornerPoints corners{{1, 1}, {3, 1}, {1, 2}, {3, 2}};
  const SliceLayout layout = SlicePicture({4, 3}, corners, {8, 5});
  const SkinPicture out = RenderSlices(source, {1, 1, 5, 4}, layout);
  ASSERT_EQ(out.width, 8);
  ASSERT_EQ(out.height, 5);
  for (std::uint32_t p : out.pixels) EXPECT_NE(p, 0xDEADu);  // nothing read outside the area
  EXPECT_EQ(out.at(0, 0), 0u);
  EXPECT_EQ(out.at(7, 0), 3u);
  EXPECT_EQ(out.at(0, 4), 20u);
  EXPECT_EQ(out.at(7, 4), 23u);
  EXPECT_EQ(out.at(1, 0), 1u);  // top edge: source columns 1..2 over six pixels
  EXPECT_EQ(out.at(3, 0), 1u);
  EXPECT_EQ(out.at(4, 0), 2u);
  EXPECT_EQ(out.at(6, 0), 2u);
  EXPECT_EQ(out.at(0, 2), 10u);  // left edge: the one middle row, repeated
  EXPECT_EQ(out.at(6, 3), 12u);
  EXPECT_TRUE(RenderSlices(source, {3, 3, 7, 6}, layout).pixels.empty());  // area outside the picture
}

TEST(MaskWindowRuns, CoversBlackPixelsOnly) {
  // Row 0: white, black, black, white; row 1: black, white, white, black.
  const std::uint32_t w = 0xFFFFFFFFu, b = 0xFF000000u;
  const SkinPicture mask{4, 2, {w, b, b, w, b, w, w, b}};
  const std::vector<Box> runs = MaskWindowRuns(mask);
  const std::vector<Box> expected = {{1, 0, 3, 1}, {0, 1, 1, 2}, {3, 1, 4, 2}};
  EXPECT_EQ(runs, expected);
}

}  // namespace
}  // namespace isetup::ui
