// Timing helpers of the Windows-side benchmarks: the performance counter in milliseconds and medians.
#pragma once

#include <windows.h>

#include <algorithm>
#include <vector>

namespace isetup::bench {

// Milliseconds on the performance counter (an arbitrary origin; differences only).
inline double Now() {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) * 1000.0 / frequency;
}

// The median; -1 for no values.
inline double Median(std::vector<double> values) {
  if (values.empty()) return -1;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace isetup::bench
