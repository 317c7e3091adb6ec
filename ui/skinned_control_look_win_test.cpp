// The stored skin's control entries drawn into 32-bit DIBs: the button's three images and centred caption,
// the gauge's fill reaching its length and repeating its picture, its centred text, the label's stretched
// background and clipped text, the same at 144 dpi, and the entries plugged into the real controls.
#include "ui/skinned_control_look_win.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "ui/control_test_support_win.h"
#include "ui/font_choice_win.h"
#include "ui/skinned_control_layout.h"
#include "ui/skin_test_support.h"

namespace isetup::ui {
namespace {

using testing::DibCanvas;

constexpr std::uint32_t kWhite = 0xFFFFFF;
constexpr std::uint32_t kFillLine = 0x5F7D9D;   // the fill strip's bottom row
constexpr std::uint32_t kEdgeLine = 0xD9E0E7;   // the gauge background's bottom row
constexpr std::uint32_t kGaugeText = 0x698CB1;
constexpr std::uint32_t kLabelText = 0x6185AA;
constexpr int kFillWidth = 141;

// A COLORREF (0x00BBGGRR) as the canvas reads pixels (0x00RRGGBB).
std::uint32_t Rgb(COLORREF colour) { return GetRValue(colour) << 16 | GetGValue(colour) << 8 | GetBValue(colour); }

GaugeModel Gauge(int value, bool withText) {
  GaugeModel model(GaugeSettings{.minValue = 0,
                                 .maxValue = 100,
                                 .value = value,
                                 .progressText = L"Загружено ",
                                 .showProgressText = withText,
                                 .showPercent = withText});
  return model;
}

// Pixels where two canvases of the same size differ.
Box DifferenceBox(const DibCanvas& a, const DibCanvas& b) {
  Box box{a.width(), a.height(), 0, 0};
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      if (a.at(x, y) == b.at(x, y)) continue;
      box = {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x + 1), std::max(box.bottom, y + 1)};
    }
  }
  return box.right > box.left ? box : Box{};
}

int CountColour(const DibCanvas& canvas, std::uint32_t colour) {
  int count = 0;
  for (int y = 0; y < canvas.height(); ++y) {
    for (int x = 0; x < canvas.width(); ++x) count += canvas.at(x, y) == colour ? 1 : 0;
  }
  return count;
}

class StoredSkinLook : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    auto skin = LoadStoredSkin(testing::ReadCommittedSkin());
    if (skin) skin_ = new Skin(std::move(*skin));
  }
  static void TearDownTestSuite() {
    delete skin_;
    skin_ = nullptr;
  }
  void SetUp() override { ASSERT_NE(skin_, nullptr) << "resources/tlvm.skn did not load"; }

  static std::uint32_t Picture(int x, int y) { return skin_->ControlPicture(0).at(x, y) & 0xFFFFFFu; }

  static Skin* skin_;
};
Skin* StoredSkinLook::skin_ = nullptr;

TEST_F(StoredSkinLook, BuildsAllThreeEntries) {
  for (const int dpi : {96, 120, 144, 0}) {
    const auto look = SkinnedControlLook::Create(*skin_, dpi);
    ASSERT_NE(look, nullptr) << dpi;
    EXPECT_NE(look->Label(), nullptr) << dpi;
    EXPECT_NE(look->Gauge(), nullptr) << dpi;
    EXPECT_NE(look->Button(), nullptr) << dpi;
  }
  EXPECT_EQ(SkinnedControlLook::Create(*skin_, 96)->Gauge()->FixedHeight(), 17);
  EXPECT_EQ(SkinnedControlLook::Create(*skin_, 144)->Gauge()->FixedHeight(), 26);

  // A skin without control entries, or whose entries point at no picture, gives no look at all.
  Skin bare = *skin_;
  bare.description.button.reset();
  bare.description.gauge.reset();
  bare.description.label.reset();
  EXPECT_EQ(SkinnedControlLook::Create(bare, 96), nullptr);
  Skin noPictures = *skin_;
  noPictures.controlPictures.clear();
  EXPECT_EQ(SkinnedControlLook::Create(noPictures, 96), nullptr);
}

TEST_F(StoredSkinLook, ButtonShowsTheImageOfItsStateCutAtItsCorners) {
  const auto look = SkinnedControlLook::Create(*skin_, 96);
  ASSERT_NE(look, nullptr);
  struct State {
    ButtonState state;
    int imageLeft;  // in the control picture
  } const states[] = {{ButtonState::Normal, 0}, {ButtonState::Hot, 92}, {ButtonState::Pressed, 184}};
  // The 92 × 25 image drawn 120 wide: corners and right edge keep their columns, the middle stretches; the
  // gradient runs downwards, so every middle column shows the image's column 46.
  struct Spot {
    int x, y, sourceX;
  } const spots[] = {{0, 0, 0},    {119, 0, 91},  {0, 24, 0},   {119, 24, 91}, {0, 12, 0},
                     {119, 12, 91}, {2, 12, 2},   {117, 12, 89}, {60, 0, 46},  {60, 3, 46},
                     {60, 12, 46},  {60, 22, 46}, {60, 24, 46}};
  std::uint32_t middle[3] = {};
  for (std::size_t i = 0; i < std::size(states); ++i) {
    DibCanvas canvas(120, 25);
    ASSERT_TRUE(canvas.valid());
    look->Button()->DrawButton(canvas.dc(), canvas.rect(), states[i].state, L"");
    for (const Spot& s : spots) {
      EXPECT_EQ(canvas.at(s.x, s.y), Picture(states[i].imageLeft + s.sourceX, s.y))
          << "state " << i << " at " << s.x << "," << s.y;
    }
    middle[i] = canvas.at(60, 12);
  }
  EXPECT_NE(middle[0], middle[1]);
  EXPECT_NE(middle[0], middle[2]);
  EXPECT_NE(middle[1], middle[2]);
}

TEST_F(StoredSkinLook, ButtonCaptionIsWhiteAndCentredInTheClientRect) {
  const auto look = SkinnedControlLook::Create(*skin_, 96);
  ASSERT_NE(look, nullptr);
  for (const ButtonState state : {ButtonState::Normal, ButtonState::Hot, ButtonState::Pressed}) {
    DibCanvas bare(120, 25);
    DibCanvas captioned(120, 25);
    look->Button()->DrawButton(bare.dc(), bare.rect(), state, L"");
    look->Button()->DrawButton(captioned.dc(), captioned.rect(), state, L"Отменить");
    const Box ink = DifferenceBox(bare, captioned);
    ASSERT_GT(ink.width(), 20) << static_cast<int>(state);
    // The clientrect 7,6,87,18 of the image, drawn 120 wide, is 7,6,115,18: centred on (61, 12).
    EXPECT_NEAR((ink.left + ink.right) / 2.0, 61.0, 2.0) << static_cast<int>(state);
    EXPECT_NEAR((ink.top + ink.bottom) / 2.0, 12.0, 2.5) << static_cast<int>(state);
    EXPECT_GT(CountColour(captioned, kWhite), 10) << static_cast<int>(state);
  }
}

TEST_F(StoredSkinLook, GaugeFillReachesItsLengthAlongTheFillLine) {
  const auto look = SkinnedControlLook::Create(*skin_, 96);
  ASSERT_NE(look, nullptr);
  struct Case {
    int value;
    int filledTo;  // Trunc(410 × value / 100)
  } const cases[] = {{0, 0}, {33, 135}, {50, 205}, {100, 410}};
  for (const Case& c : cases) {
    DibCanvas canvas(410, 17);
    look->Gauge()->DrawGauge(canvas.dc(), canvas.rect(), Gauge(c.value, false));
    for (int x = 0; x < 410; ++x) {
      ASSERT_EQ(canvas.at(x, 15), x < c.filledTo ? kFillLine : kWhite) << "value " << c.value << " x " << x;
      ASSERT_EQ(canvas.at(x, 16), kEdgeLine) << "value " << c.value << " x " << x;
    }
    EXPECT_EQ(canvas.CountOther(0, 410, 0, 15, {kWhite}), 0) << c.value;  // above the line: white
  }
}

TEST_F(StoredSkinLook, GaugeFillPictureIsRepeatedNotStretched) {
  // Mark the fill strip's first column so that its repeats can be told apart.
  Skin marked = *skin_;
  SkinPicture& picture = marked.controlPictures[0];
  for (int y = 31; y < 51; ++y) picture.pixels[static_cast<std::size_t>(y) * picture.width + 15] = 0xFFFF0000u;
  const auto look = SkinnedControlLook::Create(marked, 96);
  ASSERT_NE(look, nullptr);
  DibCanvas canvas(410, 17);
  look->Gauge()->DrawGauge(canvas.dc(), canvas.rect(), Gauge(100, false));
  for (int x = 0; x < 410; ++x) {
    const bool repeatStart = x % kFillWidth == 0;
    EXPECT_EQ(canvas.at(x, 5) == 0xFF0000, repeatStart) << x;
  }
  // A part-filled gauge cuts the last repeat short rather than squeezing it.
  DibCanvas part(410, 17);
  look->Gauge()->DrawGauge(part.dc(), part.rect(), Gauge(50, false));
  EXPECT_EQ(part.at(141, 5), 0xFF0000u);
  EXPECT_EQ(part.at(204, 15), kFillLine);
  EXPECT_EQ(part.at(282, 5), kWhite);
}

TEST_F(StoredSkinLook, GaugeTextIsCentredInItsFontAndColour) {
  const auto look = SkinnedControlLook::Create(*skin_, 96);
  ASSERT_NE(look, nullptr);
  // What the entry's font measures: Tahoma 13 bold, or its installed substitute.
  const GdiObject<HFONT> font = CreateSubstitutedFont({.face = L"Tahoma", .height = -13, .bold = true});
  for (const int value : {0, 42, 100}) {
    DibCanvas bare(410, 17);
    DibCanvas text(410, 17);
    look->Gauge()->DrawGauge(bare.dc(), bare.rect(), Gauge(value, false));
    look->Gauge()->DrawGauge(text.dc(), text.rect(), Gauge(value, true));
    const std::wstring shown = Gauge(value, true).Text();
    SIZE extent{};
    {
      SelectGuard select(text.dc(), font.get());
      GetTextExtentPoint32W(text.dc(), shown.c_str(), static_cast<int>(shown.size()), &extent);
    }
    const Point origin = GaugeTextOrigin({410, 17}, {extent.cx, extent.cy}, 13);
    const Box ink = DifferenceBox(bare, text);
    ASSERT_GT(ink.width(), 0) << value;
    EXPECT_GE(ink.left, origin.x - 1) << value;
    EXPECT_LE(ink.right, origin.x + extent.cx + 1) << value;
    EXPECT_NEAR((ink.left + ink.right) / 2.0, 205.0, 3.0) << value;
    EXPECT_GT(CountColour(text, kGaugeText), 5) << value;
    // Transparent: the fill line keeps its colour beside the text.
    if (value == 100) {
      EXPECT_EQ(text.at(5, 15), kFillLine);
    }
  }
}

TEST_F(StoredSkinLook, LabelStretchesItsBackgroundAndCentresAndClipsItsText) {
  const auto look = SkinnedControlLook::Create(*skin_, 96);
  ASSERT_NE(look, nullptr);
  DibCanvas empty(410, 20);
  look->Label()->DrawLabel(empty.dc(), empty.rect(), L"", TextAlignment::Center);
  EXPECT_EQ(empty.CountOther(0, 410, 0, 20, {kWhite}), 0);  // only the white background

  DibCanvas status(410, 20);
  look->Label()->DrawLabel(status.dc(), status.rect(), L"Идет поиск актуальной версии", TextAlignment::Center);
  const Box ink = status.InkBox({kWhite});
  ASSERT_GT(ink.width(), 50);
  EXPECT_NEAR((ink.left + ink.right) / 2.0, 205.0, 2.5);
  EXPECT_NEAR((ink.top + ink.bottom) / 2.0, 10.0, 3.0);
  EXPECT_GT(CountColour(status, kLabelText), 5);

  // Far wider than the label: cut at both edges, nothing drawn outside it.
  std::wstring wide;
  for (int i = 0; i < 12; ++i) wide += L"Загрузка новой версии ";
  DibCanvas clipped(430, 20, RGB(0x12, 0x34, 0x56));
  const RECT inner{10, 0, 420, 20};
  look->Label()->DrawLabel(clipped.dc(), inner, wide, TextAlignment::Center);
  EXPECT_GT(clipped.CountOther(10, 14, 0, 20, {kWhite}), 0);
  EXPECT_GT(clipped.CountOther(416, 420, 0, 20, {kWhite}), 0);
  EXPECT_EQ(clipped.CountOther(0, 10, 0, 20, {0x123456}), 0);
  EXPECT_EQ(clipped.CountOther(420, 430, 0, 20, {0x123456}), 0);
}

TEST_F(StoredSkinLook, At144DpiSizesAndKnownPixelsScaleByOneAndAHalf) {
  const auto look = SkinnedControlLook::Create(*skin_, 144);
  ASSERT_NE(look, nullptr);

  // The gauge: 26 high, its fill line one row above the background's bottom line, filled to
  // Trunc(615 × 50 / 100) = 307.
  DibCanvas gauge(615, 26);
  look->Gauge()->DrawGauge(gauge.dc(), gauge.rect(), Gauge(50, false));
  for (int x = 0; x < 615; ++x) {
    ASSERT_EQ(gauge.at(x, 23), x < 307 ? kFillLine : kWhite) << x;
    ASSERT_EQ(gauge.at(x, 25), kEdgeLine) << x;
  }
  EXPECT_EQ(gauge.CountOther(0, 615, 0, 22, {kWhite}), 0);

  // The button: 180 × 38, its image the 1.5-times one, corners 6 pixels instead of 4.
  const SkinPicture scaled = ScaledPicturePart(skin_->ControlPicture(0), {0, 0, 92, 25}, 144);
  ASSERT_EQ(scaled.size(), (Size{138, 38}));
  DibCanvas button(180, 38);
  look->Button()->DrawButton(button.dc(), button.rect(), ButtonState::Normal, L"");
  struct Spot {
    int x, y, sourceX;
  } const spots[] = {{0, 0, 0}, {5, 5, 5}, {179, 37, 137}, {174, 2, 132}, {90, 19, 69}, {90, 0, 69}, {0, 19, 0}};
  for (const Spot& s : spots) {
    EXPECT_EQ(button.at(s.x, s.y), scaled.at(s.sourceX, s.y) & 0xFFFFFFu) << s.x << "," << s.y;
  }

  // The label's text grows with the font: 20 pixels instead of 13.
  DibCanvas small(410, 20);
  DibCanvas big(615, 30);
  const auto look96 = SkinnedControlLook::Create(*skin_, 96);
  look96->Label()->DrawLabel(small.dc(), small.rect(), L"Идет поиск", TextAlignment::Center);
  look->Label()->DrawLabel(big.dc(), big.rect(), L"Идет поиск", TextAlignment::Center);
  const Box inkSmall = small.InkBox({kWhite});
  const Box inkBig = big.InkBox({kWhite});
  ASSERT_GT(inkSmall.width(), 0);
  EXPECT_NEAR(inkBig.width(), inkSmall.width() * 1.5, inkSmall.width() * 0.15);
  EXPECT_NEAR(inkBig.height(), inkSmall.height() * 1.5, 2.5);
  EXPECT_NEAR((inkBig.left + inkBig.right) / 2.0, 307.5, 3.0);
}

TEST_F(StoredSkinLook, ControlsDrawTheirEntriesAndTheirPlainLookWithout) {
  const auto look = SkinnedControlLook::Create(*skin_, 96);
  ASSERT_NE(look, nullptr);
  testing::ControlsHost host({440, 97}, look->Gauge()->FixedHeight());
  ASSERT_TRUE(host.created());
  host.label.SetSkinEntry(look->Label());
  host.gauge.SetSkinEntry(look->Gauge());
  host.button.SetSkinEntry(look->Button());
  host.gauge.SetValue(50);
  host.label.SetCaption(L"Загрузка новой версии программы");
  ASSERT_EQ(testing::ClientSize(host.gauge.hwnd()), (Size{410, 17}));

  DibCanvas gauge(410, 17);
  testing::PrintClient(host.gauge.hwnd(), gauge);
  EXPECT_EQ(gauge.at(10, 15), kFillLine);
  EXPECT_EQ(gauge.at(400, 15), kWhite);
  EXPECT_EQ(gauge.at(400, 16), kEdgeLine);

  DibCanvas label(410, 20);
  testing::PrintClient(host.label.hwnd(), label);
  EXPECT_EQ(label.at(0, 0), kWhite);
  EXPECT_GT(CountColour(label, kLabelText), 5);

  // The button follows the mouse through its three images.
  const HWND button = host.button.hwnd();
  const auto buttonMiddle = [&] {
    DibCanvas canvas(120, 25);
    testing::PrintClient(button, canvas);
    return canvas.at(20, 12);  // left of the caption
  };
  EXPECT_EQ(buttonMiddle(), Picture(46, 12));
  SendMessageW(button, WM_MOUSEMOVE, 0, MAKELPARAM(20, 12));
  EXPECT_EQ(host.button.State(), ButtonState::Hot);
  EXPECT_EQ(buttonMiddle(), Picture(92 + 46, 12));
  SendMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 12));
  EXPECT_EQ(buttonMiddle(), Picture(184 + 46, 12));
  SendMessageW(button, WM_LBUTTONUP, 0, MAKELPARAM(300, 12));
  EXPECT_EQ(buttonMiddle(), Picture(46, 12));
  EXPECT_EQ(host.clicks, 0);

  // Unplugged, each draws its plain look again.
  host.label.SetSkinEntry(nullptr);
  host.gauge.SetSkinEntry(nullptr);
  DibCanvas plainLabel(410, 20);
  testing::PrintClient(host.label.hwnd(), plainLabel);
  EXPECT_EQ(plainLabel.at(0, 0), Rgb(GetSysColor(COLOR_BTNSHADOW)));
  DibCanvas plainGauge(410, 17);
  testing::PrintClient(host.gauge.hwnd(), plainGauge);
  EXPECT_EQ(plainGauge.at(10, 2), Rgb(kPlainGaugeFill));
}

}  // namespace
}  // namespace isetup::ui
