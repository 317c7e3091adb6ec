// The gauge's clamping, redraw decisions, percentage, text, fill length and text origin.
#include "ui/gauge_model.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace isetup::ui {
namespace {

GaugeSettings WindowGauge() {
  return {.minValue = 0,
          .maxValue = 100,
          .value = 0,
          .progressText = L"Загружено ",
          .showProgressText = true,
          .showPercent = true,
          .progressAnimationPause = 3000};
}

GaugeModel Range(int min, int max, int value) {
  GaugeModel model(GaugeSettings{.minValue = min, .maxValue = max, .value = min, .showPercent = true});
  (void)model.SetValue(value);
  return model;
}

TEST(GaugeModel, EveryWindowValueShowsItsPercentage) {
  GaugeModel model(WindowGauge());
  EXPECT_EQ(model.Text(), L"Загружено 0%");
  for (int v = 0; v <= 100; ++v) {
    (void)model.SetValue(v);
    EXPECT_EQ(model.Value(), v);
    EXPECT_EQ(model.Percent(), v);
    EXPECT_EQ(model.Text(), L"Загружено " + std::to_wstring(v) + L"%") << v;
  }
}

TEST(GaugeModel, SetValueClampsIntoTheRange) {
  struct Case {
    int set, stored;
  } const cases[] = {{150, 100}, {-5, 0}, {101, 100}, {-1, 0}, {INT_MAX, 100}, {INT_MIN, 0}, {37, 37}};
  for (const Case& c : cases) {
    GaugeModel model(WindowGauge());
    (void)model.SetValue(c.set);
    EXPECT_EQ(model.Value(), c.stored) << c.set;
  }
}

TEST(GaugeModel, OnlyAChangedValueAsksForARedraw) {
  GaugeModel model(WindowGauge());
  EXPECT_FALSE(model.SetValue(0));
  EXPECT_TRUE(model.SetValue(42));
  EXPECT_FALSE(model.SetValue(42));
  EXPECT_TRUE(model.SetValue(100));
  EXPECT_FALSE(model.SetValue(150));  // clamps to the value already held
  EXPECT_TRUE(model.SetValue(-5));
  EXPECT_FALSE(model.SetValue(-5));
  EXPECT_EQ(model.Value(), 0);
}

TEST(GaugeModel, InitialValueIsClamped) {
  GaugeSettings settings = WindowGauge();
  settings.value = 500;
  EXPECT_EQ(GaugeModel(settings).Value(), 100);
}

TEST(GaugeModel, ChangingABoundPullsTheValueIn) {
  GaugeModel model(WindowGauge());
  (void)model.SetValue(80);
  model.SetMaxValue(50);
  EXPECT_EQ(model.Value(), 50);
  model.SetMinValue(60);  // bounds cross: the minimum wins
  EXPECT_EQ(model.Value(), 60);
  EXPECT_EQ(model.Percent(), 0);
  EXPECT_EQ(model.FillLength(100), 0);
  model.SetMaxValue(200);
  EXPECT_EQ(model.Value(), 60);
  EXPECT_EQ(model.Percent(), 0);
  EXPECT_TRUE(model.SetValue(130));
  EXPECT_EQ(model.Percent(), 50);
}

TEST(GaugeModel, PercentageIsExactAndTruncated) {
  struct Case {
    int min, max, value, percent;
  } const cases[] = {
      {0, 3, 1, 33},        {0, 3, 2, 66},     {-50, 50, 0, 50},       {-50, 50, -50, 0},
      {-50, 50, -26, 24},   {-200, -100, -150, 50}, {-200, -100, -101, 99}, {10, 10, 10, 0},
      {INT_MIN, INT_MAX, INT_MAX, 100}, {INT_MIN, INT_MAX, 0, 50}, {INT_MIN, INT_MAX, -1, 49},
      {INT_MIN, INT_MAX, INT_MIN, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Range(c.min, c.max, c.value).Percent(), c.percent) << c.min << ".." << c.max << " at " << c.value;
  }
}

TEST(GaugeModel, EmptyRangeShowsZeroAndNoFill) {
  GaugeModel model = Range(7, 7, 100);
  EXPECT_EQ(model.Value(), 7);
  EXPECT_EQ(model.Text(), L"0%");
  EXPECT_EQ(model.FillLength(408), 0);
}

TEST(GaugeModel, TextFollowsTheFlags) {
  GaugeModel model(WindowGauge());
  (void)model.SetValue(42);
  model.SetShowProgressText(false);
  EXPECT_EQ(model.Text(), L"42%");
  model.SetShowPercent(false);
  EXPECT_EQ(model.Text(), L"");
  model.SetShowProgressText(true);
  EXPECT_EQ(model.Text(), L"Загружено ");
  model.SetProgressText(L"Done:");
  model.SetShowPercent(true);
  EXPECT_EQ(model.Text(), L"Done:42%");
}

TEST(GaugeModel, FillLength) {
  struct Case {
    int min, max, value, length, fill;
  } const cases[] = {
      {0, 100, 0, 408, 0},    {0, 100, 100, 408, 408}, {0, 100, 50, 408, 204},   {0, 100, 33, 408, 134},
      {0, 100, 1, 30, 0},     {0, 3, 2, 10, 6},        {-50, 50, 0, 9, 4},       {0, 100, 50, 0, 0},
      {0, 100, 50, -10, 0},   {INT_MIN, INT_MAX, INT_MAX, INT_MAX, INT_MAX},
      {INT_MIN, INT_MAX, 0, INT_MAX, 1073741823},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Range(c.min, c.max, c.value).FillLength(c.length), c.fill)
        << c.min << ".." << c.max << " at " << c.value << " over " << c.length;
  }
}

TEST(GaugeModel, NegativeAnimationPauseIsIgnored) {
  GaugeModel model(WindowGauge());
  EXPECT_EQ(model.ProgressAnimationPause(), 3000);
  EXPECT_FALSE(model.SetProgressAnimationPause(-1));
  EXPECT_EQ(model.ProgressAnimationPause(), 3000);
  EXPECT_TRUE(model.SetProgressAnimationPause(0));
  EXPECT_EQ(model.ProgressAnimationPause(), 0);
}

TEST(GaugeTextOrigin, CentresWithTruncatingDivisionAndLiftsOddFonts) {
  struct Case {
    Size gauge, text;
    int fontHeight;
    Point origin;
  } const cases[] = {
      {{410, 25}, {80, 16}, 14, {165, 4}},  {{410, 25}, {80, 16}, 13, {165, 3}},
      {{411, 17}, {81, 13}, 14, {165, 2}},  {{411, 17}, {81, 13}, -11, {165, 1}},
      {{5, 17}, {8, 20}, 14, {-2, -2}},     {{5, 17}, {9, 21}, 13, {-2, -3}},
      {{0, 0}, {0, 0}, 14, {0, 0}},         {{-5, -3}, {0, 0}, 14, {-2, -1}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GaugeTextOrigin(c.gauge, c.text, c.fontHeight), c.origin)
        << c.gauge.width << "x" << c.gauge.height << " text " << c.text.width << "x" << c.text.height;
  }
}

}  // namespace
}  // namespace isetup::ui
