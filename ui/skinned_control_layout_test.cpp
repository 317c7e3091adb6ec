// Tests for the skinned controls' arithmetic: scaled entries, stretched layouts, the gauge's fill and its
// repeated pieces.
#include "ui/skinned_control_layout.h"

#include <gtest/gtest.h>


namespace isetup::ui {
namespace {

constexpr std::uint32_t Rgb(std::uint32_t rgb) { return 0xFF000000u | rgb; }

GaugeModel WindowGauge(int value) {
  GaugeModel model(GaugeSettings{.minValue = 0, .maxValue = 100, .value = 0});
  (void)model.SetValue(value);
  return model;
}

TEST(SkinnedControlScale, EntriesOfTheStoredSkinAt144Dpi) {
  ButtonSkinData button;
  button.skinRect = {0, 0, 92, 25};
  button.activeSkinRect = {92, 0, 184, 25};
  button.downSkinRect = {184, 0, 276, 25};
  button.corners = {{4, 4}, {87, 4}, {4, 20}, {87, 20}};
  button.clientRect = {7, 6, 87, 18};
  button.font = {"Arial", 14, kFontBold};
  button.fontColor = SkinColour::FromRgb(0xFF, 0xFF, 0xFF);
  const ButtonSkinData b = ScaleForDpi(button, 144);
  EXPECT_EQ(b.skinRect, (Box{0, 0, 138, 38}));
  EXPECT_EQ(b.activeSkinRect, (Box{138, 0, 276, 38}));
  EXPECT_EQ(b.downSkinRect, (Box{276, 0, 414, 38}));
  EXPECT_EQ(b.corners, (CornerPoints{{6, 6}, {131, 6}, {6, 30}, {131, 30}}));
  EXPECT_EQ(b.clientRect, (Box{11, 9, 131, 27}));
  EXPECT_EQ(b.font, (SkinFont{"Arial", 21, kFontBold}));
  EXPECT_EQ(b.fontColor, button.fontColor);

  GaugeSkinData gauge;
  gauge.skinRect = {191, 34, 221, 51};
  gauge.corners = {{0, 0}, {29, 1}, {0, 0}, {0, 0}};
  gauge.progressArea = {0, 0, 30, 16};
  gauge.progressRect = {15, 31, 156, 51};
  gauge.font = {"Tahoma", 13, kFontBold};
  const GaugeSkinData g = ScaleForDpi(gauge, 144);
  EXPECT_EQ(g.skinRect, (Box{287, 51, 332, 77}));
  EXPECT_EQ(g.corners, (CornerPoints{{0, 0}, {44, 2}, {0, 0}, {0, 0}}));  // unset points stay unset
  EXPECT_EQ(GrowthOf(g.corners), (Growth{true, false}));
  EXPECT_EQ(g.progressArea, (Box{0, 0, 45, 24}));
  EXPECT_EQ(g.progressRect, (Box{23, 47, 234, 77}));
  EXPECT_EQ(g.font.height, 20);

  LabelSkinData label;
  label.skinRect = {207, 28, 273, 47};
  label.font = {"Tahoma", 13, kFontRegular};
  const LabelSkinData l = ScaleForDpi(label, 144);
  EXPECT_EQ(l.skinRect, (Box{311, 42, 410, 71}));
  EXPECT_EQ(l.font, (SkinFont{"Tahoma", 20, kFontRegular}));
  // 96 dpi changes nothing.
  EXPECT_EQ(ScaleForDpi(gauge, 96).progressRect, gauge.progressRect);
  EXPECT_EQ(ScaleForDpi(button, 96).corners, button.corners);
}

TEST(StretchedLayout, WithoutCornerPointsThePictureStretchesBothWays) {
  const SliceLayout whole = StretchedLayout({66, 19}, CornerPoints{}, {410, 20});
  EXPECT_EQ(whole.size, (Size{410, 20}));
  EXPECT_EQ(whole[SlicePart::Centre].source, (Box{0, 0, 66, 19}));
  EXPECT_EQ(whole[SlicePart::Centre].destination, (Box{0, 0, 410, 20}));
  for (const SlicePiece& piece : whole.pieces) {
    if (&piece != &whole[SlicePart::Centre]) {
      EXPECT_EQ(piece.destination.width() * piece.destination.height(), 0);
    }
  }
  // With corner points it cuts as SlicePicture does: the gauge keeps its height of 17.
  const CornerPoints gauge{{0, 0}, {29, 1}, {0, 0}, {0, 0}};
  EXPECT_EQ(StretchedLayout({30, 17}, gauge, {410, 25}).size, (Size{410, 17}));
  // A left-top point alone counts as set.
  EXPECT_EQ(StretchedLayout({30, 17}, CornerPoints{{2, 2}, {}, {}, {}}, {60, 20}).size,
            SlicePicture({30, 17}, CornerPoints{{2, 2}, {}, {}, {}}, {60, 20}).size);
}

TEST(StretchPicture, KeepsTheEdgeRowsAndRefusesEmptySizes) {
  // The fill strip: white with a blue bottom row, fitted from 20 rows into the fill area's 16.
  SkinPicture strip{3, 20, std::vector<std::uint32_t>(60, Rgb(0xFFFFFF))};
  for (int x = 0; x < 3; ++x) strip.pixels[static_cast<std::size_t>(19 * 3 + x)] = Rgb(0x5F7D9D);
  const SkinPicture fitted = StretchPicture(strip, {3, 16});
  ASSERT_EQ(fitted.size(), (Size{3, 16}));
  for (int y = 0; y < 16; ++y) EXPECT_EQ(fitted.at(1, y), Rgb(y == 15 ? 0x5F7D9D : 0xFFFFFF)) << y;
  EXPECT_TRUE(StretchPicture(strip, {0, 16}).pixels.empty());
  EXPECT_TRUE(StretchPicture(SkinPicture{}, {3, 16}).pixels.empty());
}

TEST(GaugeFill, TheFillAreaWidensWithTheGaugeAndTheFillFollowsTheValue) {
  // The stored skin: a 30 × 17 background whose fill area is its top 16 rows, drawn 410 wide.
  const Box area = GaugeFillArea({30, 17}, {0, 0, 30, 16}, {410, 17});
  EXPECT_EQ(area, (Box{0, 0, 410, 16}));
  struct Case {
    int value;
    int right;
  } const cases[] = {{0, 0}, {1, 4}, {33, 135}, {50, 205}, {99, 405}, {100, 410}};
  for (const Case& c : cases) {
    EXPECT_EQ(GaugeFilledBox(area, WindowGauge(c.value)), (Box{0, 0, c.right, 16})) << c.value;
  }
  // An area with margins keeps them; one that would leave the drawn picture is clipped to it.
  EXPECT_EQ(GaugeFillArea({30, 17}, {2, 1, 27, 15}, {100, 17}), (Box{2, 1, 97, 15}));
  EXPECT_EQ(GaugeFillArea({30, 17}, {0, 0, 40, 20}, {100, 17}), (Box{0, 0, 100, 17}));
  EXPECT_EQ(GaugeFillArea({30, 17}, {0, 0, 30, 16}, {0, 17}).width(), 0);
  // An offset area fills from its own left edge.
  EXPECT_EQ(GaugeFilledBox({5, 2, 105, 9}, WindowGauge(50)), (Box{5, 2, 55, 9}));
  EXPECT_EQ(GaugeFilledBox({5, 2, 5, 9}, WindowGauge(100)), (Box{5, 2, 5, 9}));
}

TEST(TileRun, RepeatsThePictureAndCutsTheLastPiece) {
  struct Case {
    Box run;
    int tile;
    std::vector<Box> pieces;
  } const cases[] = {
      {{0, 0, 0, 16}, 141, {}},
      {{0, 0, 100, 16}, 141, {{0, 0, 100, 16}}},
      {{0, 0, 141, 16}, 141, {{0, 0, 141, 16}}},
      {{0, 0, 205, 16}, 141, {{0, 0, 141, 16}, {141, 0, 205, 16}}},
      {{0, 0, 410, 16}, 141, {{0, 0, 141, 16}, {141, 0, 282, 16}, {282, 0, 410, 16}}},
      {{3, 1, 10, 5}, 3, {{3, 1, 6, 5}, {6, 1, 9, 5}, {9, 1, 10, 5}}},
      {{0, 0, 10, 16}, 0, {}},
      {{0, 0, 10, 0}, 4, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TileRun(c.run, c.tile), c.pieces) << c.run.right << " by " << c.tile;
  }
}

}  // namespace
}  // namespace isetup::ui
