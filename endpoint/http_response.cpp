// Formats the Date header and gathers response bodies around their patches.
#include "endpoint/http_response.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "endpoint/utc_text.h"

namespace isetup::endpoint {

std::string FormatHttpDate(std::chrono::system_clock::time_point time) {
  return FormatUtcOncePerSecond(time, [](const std::tm& utc) {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[utc.tm_wday], utc.tm_mday,
                  kUtcMonthNames[utc.tm_mon], utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return std::string(text);
  });
}

std::vector<std::span<const std::uint8_t>> ResponseBody::Gather(std::size_t from, std::size_t to) const {
  std::vector<std::span<const std::uint8_t>> pieces;
  to = std::min(to, Size());
  std::vector<const BodyPatch*> order;
  for (const BodyPatch& patch : patches) order.push_back(&patch);
  std::sort(order.begin(), order.end(), [](const BodyPatch* a, const BodyPatch* b) { return a->offset < b->offset; });
  const auto plain = [&](std::size_t begin, std::size_t end) {
    if (begin < end) pieces.emplace_back(bytes->data() + begin, end - begin);
  };
  std::size_t at = from;
  for (const BodyPatch* patch : order) {
    const std::size_t end = std::min(patch->offset + patch->value.size(), to);
    if (end <= at) continue;
    if (patch->offset >= to) break;
    plain(at, patch->offset);
    const std::size_t begin = std::max(at, patch->offset);
    pieces.emplace_back(reinterpret_cast<const std::uint8_t*>(patch->value.data()) + (begin - patch->offset), end - begin);
    at = end;
  }
  plain(at, to);
  return pieces;
}

}  // namespace isetup::endpoint
