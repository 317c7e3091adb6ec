// Gauge arithmetic in 64 bits, so that no range of 32-bit bounds can overflow it.
#include "ui/gauge_model.h"

#include <cstdint>

#include "ui/text_placement.h"

namespace isetup::ui {

GaugeModel::GaugeModel(const GaugeSettings& settings)
    : min_(settings.minValue),
      max_(settings.maxValue),
      progressText_(settings.progressText),
      showProgressText_(settings.showProgressText),
      showPercent_(settings.showPercent),
      animationPause_(settings.progressAnimationPause < 0 ? 0 : settings.progressAnimationPause) {
  value_ = Clamped(settings.value);
}

int GaugeModel::Clamped(int value) const {
  if (value > max_) value = max_;
  if (value < min_) value = min_;
  return value;
}

bool GaugeModel::SetValue(int value) {
  value = Clamped(value);
  if (value == value_) return false;
  value_ = value;
  return true;
}

void GaugeModel::SetMinValue(int value) {
  min_ = value;
  value_ = Clamped(value_);
}

void GaugeModel::SetMaxValue(int value) {
  max_ = value;
  value_ = Clamped(value_);
}

bool GaugeModel::SetProgressAnimationPause(int milliseconds) {
  if (milliseconds < 0) return false;
  animationPause_ = milliseconds;
  return true;
}

int GaugeModel::Percent() const {
  if (max_ == min_) return 0;
  const std::int64_t done = static_cast<std::int64_t>(value_) - min_;
  const std::int64_t range = static_cast<std::int64_t>(max_) - min_;
  // Value stays inside the range, so the quotient lies within −100..100.
  return static_cast<int>(done * 100 / range);
}

std::wstring GaugeModel::Text() const {
  std::wstring text;
  if (showProgressText_) text += progressText_;
  if (showPercent_) {
    text += std::to_wstring(Percent());
    text += L'%';
  }
  return text;
}

int GaugeModel::FillLength(int areaLength) const {
  if (max_ == min_ || areaLength <= 0) return 0;
  // |done| ≤ |range| < 2^32 and areaLength < 2^31: the product fits in 63 bits.
  const std::int64_t done = static_cast<std::int64_t>(value_) - min_;
  const std::int64_t range = static_cast<std::int64_t>(max_) - min_;
  return static_cast<int>(areaLength * done / range);
}

Point GaugeTextOrigin(Size gauge, Size text, int fontHeightValue) {
  return PlaceText(Box{0, 0, gauge.width, gauge.height}, text, TextAlignment::Center, fontHeightValue);
}

}  // namespace isetup::ui
