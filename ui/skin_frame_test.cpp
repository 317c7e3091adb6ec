// Tests for the skinned frame: its metrics at several DPIs, the hit test, the drawn frame and shape, and the
// caption shortened to its band.
#include "ui/skin_frame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/dpi_scale.h"
#include "ui/committed_skin_test_support.h"

namespace isetup::ui {
namespace {

constexpr Size kDesignClient{440, 97};

using testing::CommittedSkin;

// Nearest-neighbour stand-in for the smooth resampler, counting its calls.
struct CountingResampler {
  int calls = 0;
  std::vector<Size> sizes;
  PictureResampler Get() {
    return [this](const SkinPicture& source, Size size) {
      ++calls;
      sizes.push_back(size);
      SkinPicture out;
      out.width = size.width;
      out.height = size.height;
      for (int y = 0; y < size.height; ++y) {
        for (int x = 0; x < size.width; ++x) {
          out.pixels.push_back(source.at(x * source.width / size.width, y * source.height / size.height));
        }
      }
      return out;
    };
  }
};

struct MetricsCase {
  int dpi;
  FrameMetrics expected;
};

class FrameMetricsAtDpi : public ::testing::TestWithParam<MetricsCase> {};

TEST_P(FrameMetricsAtDpi, ClientCaptionAndTextBandFollowTheFrameEdges) {
  const MetricsCase& c = GetParam();
  const Skin& skin = CommittedSkin();
  ASSERT_TRUE(skin.frame.has_value());
  const FrameGeometry geometry = ScaleFrameGeometry(skin.description, ScaleForDpi(skin.frame->size(), c.dpi), c.dpi);
  const FrameMetrics metrics = ComputeFrameMetrics(geometry, ScaleForDpi(kDesignClient, c.dpi));
  EXPECT_EQ(metrics.outer, c.expected.outer);
  EXPECT_EQ(metrics.client, c.expected.client);
  EXPECT_EQ(metrics.caption, c.expected.caption);
  EXPECT_EQ(metrics.captionText, c.expected.captionText);
}

// 96 dpi: 12 / 80 / 13 / 10 pixels of frame around 440 × 97; the caption area 10,6,620,80 and the text band
// 11,56,617,78 of the picture keep their left and top, their right ends keep their distance to the right edge.
// Other DPIs scale every edge of the picture's geometry first.
INSTANTIATE_TEST_SUITE_P(
    Dpis, FrameMetricsAtDpi,
    ::testing::Values(MetricsCase{96, {{465, 187}, {12, 80, 452, 177}, {10, 6, 456, 80}, {11, 56, 453, 78}}},
                      MetricsCase{120, {{581, 234}, {15, 100, 565, 221}, {13, 8, 570, 100}, {14, 70, 566, 98}}},
                      MetricsCase{144, {{698, 281}, {18, 120, 678, 266}, {15, 9, 684, 120}, {17, 84, 680, 117}}},
                      MetricsCase{192, {{930, 374}, {24, 160, 904, 354}, {20, 12, 912, 160}, {22, 112, 906, 156}}}),
    [](const ::testing::TestParamInfo<MetricsCase>& info) { return std::to_string(info.param.dpi) + "dpi"; });

TEST(FrameHitTest, ClientCaptionAndEverythingElse) {
  const FrameMetrics metrics{{465, 187}, {12, 80, 452, 177}, {10, 6, 456, 80}, {11, 56, 453, 78}};
  struct Case {
    Point point;
    FrameHit hit;
  } cases[] = {
      {{12, 80}, FrameHit::Client},    {{451, 176}, FrameHit::Client},  {{200, 100}, FrameHit::Client},
      {{10, 6}, FrameHit::Caption},    {{455, 79}, FrameHit::Caption},  {{200, 20}, FrameHit::Caption},
      {{452, 100}, FrameHit::Border},  {{11, 100}, FrameHit::Border},   {{200, 177}, FrameHit::Border},
      {{9, 40}, FrameHit::Border},     {{456, 40}, FrameHit::Border},   {{200, 5}, FrameHit::Border},
      {{0, 0}, FrameHit::Border},      {{464, 186}, FrameHit::Border},  {{-1, 100}, FrameHit::Border},
      {{200, 500}, FrameHit::Border},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HitTestFrame(metrics, c.point), c.hit) << c.point.x << "," << c.point.y;
  }
}

TEST(MapFrameRect, CoordinatesInTheFarFixedPartsKeepTheirDistanceToTheFarEdges) {
  FrameGeometry geometry;
  geometry.picture = {100, 50};
  geometry.corners = {{20, 10}, {80, 12}, {10, 40}, {90, 42}};
  struct Case {
    Box rect, expected;
  } cases[] = {
      {{5, 5, 79, 39}, {5, 5, 79, 39}},      // before both cuts: unchanged
      {{5, 5, 80, 40}, {5, 5, 180, 60}},     // at the nearer right point and the nearer bottom point
      {{85, 45, 100, 50}, {185, 65, 200, 70}},
      {{0, 0, 100, 50}, {0, 0, 200, 70}},
  };
  for (const Case& c : cases) EXPECT_EQ(MapFrameRect(geometry, {200, 70}, c.rect), c.expected);

  // Without corner points only the picture's own far edges follow the frame's.
  geometry.corners = {};
  EXPECT_EQ(MapFrameRect(geometry, {200, 70}, {10, 10, 99, 49}), (Box{10, 10, 99, 49}));
  EXPECT_EQ(MapFrameRect(geometry, {200, 70}, {10, 10, 100, 50}), (Box{10, 10, 200, 70}));
}

TEST(FrameLook, At96DpiTheFrameIsThePictureCutAtItsCornersPixelForPixel) {
  const Skin& skin = CommittedSkin();
  CountingResampler resampler;
  const auto look = BuildFrameLook(skin, 96, kDesignClient, resampler.Get());
  ASSERT_TRUE(look.has_value());
  EXPECT_EQ(resampler.calls, 0) << "nothing is resampled at 96 dpi";
  ASSERT_EQ(look->frame.size(), (Size{465, 187}));
  const SkinPicture& source = *skin.frame;

  // The header band: its top line, then the gradient from its first to its last row.
  for (int x : {0, 100, 300, 464}) {
    EXPECT_EQ(look->frame.at(x, 0), 0xFF4A6A91u) << x;
    EXPECT_EQ(look->frame.at(x, 1), 0xFF6F91BBu) << x;
    EXPECT_EQ(look->frame.at(x, 39), 0xFF3E5D81u) << x;
  }
  // Fixed corners are copied unchanged: the logo corner, the right top corner, the bottom corners.
  for (int y = 0; y < 53; y += 4) {
    for (int x = 0; x < 259; x += 3) ASSERT_EQ(look->frame.at(x, y), source.at(x, y)) << x << "," << y;
    for (int x = 0; x < 15; ++x) ASSERT_EQ(look->frame.at(450 + x, y), source.at(614 + x, y)) << x << "," << y;
  }
  for (int y = 0; y < 12; ++y) {
    EXPECT_EQ(look->frame.at(0, 175 + y), source.at(0, 391 + y));
    EXPECT_EQ(look->frame.at(464, 175 + y), source.at(628, 391 + y));
  }
  // The grey edge lines run along the left, right and bottom border.
  EXPECT_EQ(look->frame.at(0, 120), 0xFFD9E0E7u);
  EXPECT_EQ(look->frame.at(464, 120), 0xFFD9E0E7u);
  EXPECT_EQ(look->frame.at(200, 186), 0xFFD9E0E7u);

  // The client background is the picture's client part.
  ASSERT_EQ(look->clientBackground.size(), (Size{604, 313}));
  EXPECT_EQ(look->clientBackground.at(0, 0), source.at(12, 80));
  EXPECT_EQ(look->clientBackground.at(603, 312), source.at(615, 392));

  EXPECT_EQ(look->captionFont.name, "Tahoma");
  EXPECT_EQ(look->captionFont.height, 14);
  EXPECT_EQ(look->activeCaptionColour, SkinColour::FromRgb(0x4F, 0x73, 0x9A));
  EXPECT_EQ(look->inactiveCaptionColour, SkinColour::FromRgb(0x50, 0x74, 0x9B));
}

// Pixels of the window (inside one of the runs) in row y.
std::vector<bool> RowOfRuns(const std::vector<Box>& runs, int y, int width) {
  std::vector<bool> row(static_cast<std::size_t>(width), false);
  for (const Box& run : runs) {
    if (run.top != y) continue;
    for (int x = run.left; x < run.right; ++x) row[static_cast<std::size_t>(x)] = true;
  }
  return row;
}

TEST(FrameLook, TheMaskCutsOnlyTheTwoRoundedTopCorners) {
  const auto look = BuildFrameLook(CommittedSkin(), 96, kDesignClient, nullptr);
  ASSERT_TRUE(look.has_value());
  const int w = look->metrics.outer.width;
  // Row 0 loses four pixels at each end, row 5 one; from row 6 on every row is whole.
  const int cutPerRow[] = {4, 2, 1, 1, 0, 0};
  for (int y = 0; y < 6; ++y) {
    const std::vector<bool> row = RowOfRuns(look->windowRuns, y, w);
    for (int x = 0; x < w; ++x) {
      const bool cut = x < cutPerRow[y] || x >= w - cutPerRow[y];
      ASSERT_EQ(row[static_cast<std::size_t>(x)], !cut) << x << "," << y;
    }
  }
  long long area = 0;
  for (const Box& run : look->windowRuns) area += run.width();
  EXPECT_EQ(area, 465LL * 187 - 2 * (4 + 2 + 1 + 1));
}

TEST(FrameLook, OtherDpisResampleFrameAndMaskOnceAndScaleTheCaptionFont) {
  CountingResampler resampler;
  const auto look = BuildFrameLook(CommittedSkin(), 144, kDesignClient, resampler.Get());
  ASSERT_TRUE(look.has_value());
  EXPECT_EQ(resampler.calls, 2);
  EXPECT_EQ(resampler.sizes, (std::vector<Size>{{944, 605}, {944, 605}}));
  EXPECT_EQ(look->metrics.outer, (Size{698, 281}));
  EXPECT_EQ(look->frame.size(), (Size{698, 281}));
  EXPECT_EQ(look->captionFont.height, 21);
  // The top corners are cut over a larger curve; the middle of the top row and the bottom corners stay.
  const std::vector<bool> top = RowOfRuns(look->windowRuns, 0, 698);
  EXPECT_FALSE(top[0]);
  EXPECT_FALSE(top[5]);
  EXPECT_TRUE(top[349]);
  EXPECT_FALSE(top[697]);
  EXPECT_TRUE(RowOfRuns(look->windowRuns, 280, 698)[0]);
  EXPECT_TRUE(RowOfRuns(look->windowRuns, 9, 698)[0]);
}

TEST(FrameLook, TheSmoothResamplerKeepsTheHeaderGradientAt144Dpi) {
  const Skin& skin = CommittedSkin();
  const auto look = BuildFrameLook(skin, 144, kDesignClient);
  ASSERT_TRUE(look.has_value());
  const auto channel = [](std::uint32_t pixel, int shift) { return static_cast<int>((pixel >> shift) & 0xFF); };
  // Row 30 of the 60-row header lies between rows 19 and 20 of the picture; row 62 is white again.
  const std::uint32_t scaled = look->frame.at(400, 30);
  for (int shift : {0, 8, 16}) {
    const int low = std::min(channel(skin.frame->at(300, 19), shift), channel(skin.frame->at(300, 20), shift));
    const int high = std::max(channel(skin.frame->at(300, 19), shift), channel(skin.frame->at(300, 20), shift));
    EXPECT_GE(channel(scaled, shift), low);
    EXPECT_LE(channel(scaled, shift), high);
  }
  EXPECT_EQ(look->frame.at(400, 0) & 0xFFFFFFu, 0x4A6A91u);
  EXPECT_EQ(look->frame.at(400, 62) & 0xFFFFFFu, 0xFFFFFFu);
}

TEST(FrameLook, RefusedWhenItCannotBeDrawn) {
  const Skin& skin = CommittedSkin();
  EXPECT_FALSE(BuildFrameLook(Skin{}, 96, kDesignClient, nullptr).has_value()) << "no frame picture";
  EXPECT_FALSE(BuildFrameLook(skin, 144, kDesignClient, nullptr).has_value()) << "no resampler";
  const PictureResampler wrongSize = [](const SkinPicture& source, Size) { return source; };
  EXPECT_FALSE(BuildFrameLook(skin, 144, kDesignClient, wrongSize).has_value());
  // A client too small for the frame's fixed parts: the frame would not fit the window.
  EXPECT_FALSE(BuildFrameLook(skin, 96, {100, 97}, nullptr).has_value());
}

TEST(FrameLook, WithoutAMaskOrWithAnAllWhiteOneTheWindowStaysRectangular) {
  Skin skin = CommittedSkin();
  skin.mask.reset();
  auto look = BuildFrameLook(skin, 96, kDesignClient, nullptr);
  ASSERT_TRUE(look.has_value());
  EXPECT_TRUE(look->windowRuns.empty());

  skin.mask = *skin.frame;
  std::fill(skin.mask->pixels.begin(), skin.mask->pixels.end(), 0xFFFFFFFFu);
  look = BuildFrameLook(skin, 96, kDesignClient, nullptr);
  ASSERT_TRUE(look.has_value());
  EXPECT_TRUE(look->windowRuns.empty());
}

TEST(SharpenMask, DarkerThanHalfIsWindow) {
  struct Case {
    std::uint32_t in, out;
  } cases[] = {
      {0xFF000000u, 0xFF000000u}, {0x00000000u, 0xFF000000u}, {0xFF7F7F7Fu, 0xFF000000u},
      {0xFF808080u, 0xFFFFFFFFu}, {0xFFFFFFFFu, 0xFFFFFFFFu}, {0xFF00FF80u, 0xFF000000u},  // mean 127.67
      {0xFF01FF80u, 0xFFFFFFFFu},                                                         // mean 128
  };
  for (const Case& c : cases) {
    SkinPicture picture{1, 1, {c.in}};
    EXPECT_EQ(SharpenMask(picture).pixels[0], c.out) << std::hex << c.in;
  }
}

// Ten pixels a character, so widths are easy to follow.
int TenPerCharacter(std::wstring_view text) { return static_cast<int>(text.size()) * 10; }

TEST(FitCaption, DropsCharactersFromTheEndUntilTheRestWithDotsFits) {
  struct Case {
    std::wstring_view caption;
    int width;
    std::wstring_view expected;
  } cases[] = {
      {L"abcdef", 60, L"abcdef"}, {L"abcdef", 59, L"ab..."}, {L"abcdef", 50, L"ab..."}, {L"abcdef", 49, L"a..."},
      {L"abcdef", 30, L"..."},    {L"abcdef", 10, L"..."},   {L"", 0, L""},           {L"Интернет", 70, L"Инте..."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FitCaption(c.caption, c.width, TenPerCharacter), c.expected) << c.width;
  }
}

TEST(FitCaption, NeverLeavesHalfASurrogatePair) {
  const std::wstring caption = L"ab\xD83D\xDE00" L"cdef";  // a, b, one emoji (two code units), c .. f
  std::vector<std::wstring> tried;
  const auto measure = [&tried](std::wstring_view text) {
    tried.emplace_back(text);
    return static_cast<int>(text.size()) * 10;
  };
  EXPECT_EQ(FitCaption(caption, 55, measure), L"ab...");
  for (const std::wstring& text : tried) {
    const std::size_t dots = text.find(L"...");
    if (dots == std::wstring::npos || dots == 0) continue;
    EXPECT_FALSE(text[dots - 1] >= 0xD800 && text[dots - 1] <= 0xDBFF) << "a high surrogate left alone";
  }
  EXPECT_EQ(FitCaption(caption, 70, measure), L"ab\xD83D\xDE00...");
}

TEST(FitCaption, UsesTheMeasuredWidthsOfVariableFonts) {
  // Narrow "i", wide "W": the shortening depends on what is dropped, not on the character count.
  const auto measure = [](std::wstring_view text) {
    int width = 0;
    for (wchar_t c : text) width += c == L'W' ? 20 : c == L'.' ? 3 : 5;
    return width;
  };
  EXPECT_EQ(FitCaption(L"iiiiWW", 60, measure), L"iiiiWW");
  EXPECT_EQ(FitCaption(L"iiiiWW", 59, measure), L"iiiiW...");  // 20 + 20 + 9
  EXPECT_EQ(FitCaption(L"WWiiii", 49, measure), L"WW...");     // 40 + 9
  EXPECT_EQ(FitCaption(L"WWiiii", 48, measure), L"W...");
}

}  // namespace
}  // namespace isetup::ui
