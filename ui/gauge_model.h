// The progress gauge's state and arithmetic: clamped value, percentage, composed text, fill and text spots.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "ui/geometry.h"

namespace isetup::ui {

// The gauge's declared settings; the window's gauge is declared in setup_form_layout.cpp.
struct GaugeSettings {
  int minValue = 0;
  int maxValue = 100;
  int value = 0;
  std::wstring_view progressText{};
  bool showProgressText = false;
  bool showPercent = false;
  int progressAnimationPause = 0;  // milliseconds between runs of a skin's progress animation
  bool vertical = false;
};

// Value is kept inside MinValue..MaxValue (MinValue wins should the two cross). Setters report whether
// anything visible changed, so the control knows when to redraw.
class GaugeModel {
 public:
  GaugeModel() = default;
  explicit GaugeModel(const GaugeSettings& settings);

  int Value() const { return value_; }
  int MinValue() const { return min_; }
  int MaxValue() const { return max_; }
  const std::wstring& ProgressText() const { return progressText_; }
  bool ShowProgressText() const { return showProgressText_; }
  bool ShowPercent() const { return showPercent_; }
  int ProgressAnimationPause() const { return animationPause_; }

  // Clamps into the range; true only when the stored value changed (setting it again does nothing).
  [[nodiscard]] bool SetValue(int value);
  // Store the bound and pull Value into the new range.
  void SetMinValue(int value);
  void SetMaxValue(int value);
  void SetProgressText(std::wstring text) { progressText_ = std::move(text); }
  void SetShowProgressText(bool show) { showProgressText_ = show; }
  void SetShowPercent(bool show) { showPercent_ = show; }
  // A negative pause is ignored; true when stored.
  bool SetProgressAnimationPause(int milliseconds);

  // 0 when MaxValue == MinValue, else (Value − MinValue) × 100 / (MaxValue − MinValue), exact, truncated.
  int Percent() const;
  // ProgressText (if shown) followed by the percentage and "%" (if shown); may be empty.
  std::wstring Text() const;
  // Filled pixels of a fill area of the given length: Trunc(L × (Value − MinValue) / (MaxValue − MinValue)),
  // 0 when the range is empty or the length is not positive.
  int FillLength(int areaLength) const;

 private:
  int Clamped(int value) const;

  int min_ = 0;
  int max_ = 100;
  int value_ = 0;
  std::wstring progressText_;
  bool showProgressText_ = false;
  bool showPercent_ = false;
  int animationPause_ = 0;
};

// Origin of the gauge text inside a gauge of the given size: W div 2 − TW div 2, H div 2 − TH div 2,
// one pixel higher when the font's height value is odd.
Point GaugeTextOrigin(Size gauge, Size text, int fontHeightValue);

}  // namespace isetup::ui
