// UTC times as the endpoint writes them (the Date header, the access log): English names whatever the
// locale, and each stamp formatted once a second per thread, since every answer and log line has one.
#pragma once

#include <chrono>
#include <ctime>
#include <string>

namespace isetup::endpoint {

inline constexpr const char* kUtcMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// What `format` makes of `time` broken down in UTC, remade only when the second changes. Each lambda
// passed is a type of its own, so each call site keeps its own cache.
template <class Format>
std::string FormatUtcOncePerSecond(std::chrono::system_clock::time_point time, Format format) {
  thread_local std::time_t cachedSecond = -1;
  thread_local std::string cachedText;
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  if (seconds != cachedSecond) {
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    cachedText = format(utc);
    cachedSecond = seconds;
  }
  return cachedText;
}

}  // namespace isetup::endpoint
