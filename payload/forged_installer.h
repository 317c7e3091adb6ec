// Test helper: installers forged from an original so that an unsigned check cannot tell them apart:
// the same size and the same byte-sum checksum, with other bytes outside the two tag fields.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace isetup::testing {

// Where the first "affid=" and "affsid=" start, when they are there.
inline std::vector<std::size_t> TagMarkers(std::span<const std::uint8_t> content) {
  std::vector<std::size_t> markers;
  for (const std::string_view marker : {std::string_view("affid="), std::string_view("affsid=")}) {
    const auto at = std::search(content.begin(), content.end(), marker.begin(), marker.end());
    if (at != content.end()) markers.push_back(static_cast<std::size_t>(at - content.begin()));
  }
  return markers;
}

// Whether byte `i` lies in or near a tag (whose field the checksum blanks): forgeries leave those
// bytes alone, so that they are other programs and not stamped copies of the original.
inline bool NearATag(const std::vector<std::size_t>& markers, std::size_t i) {
  return std::any_of(markers.begin(), markers.end(), [i](std::size_t p) { return i + 16 >= p && i <= p + 32; });
}

// The forgery number `index` (any number gives one; the same number always the same bytes) of
// `original`, which must be at least 4 KiB. The kinds take turns:
//   0: two bytes of different values swapped;
//   1: a 64-byte run overwritten with foreign code, the difference of the sums taken out of or put back
//      into the bytes that follow it.
inline std::vector<std::uint8_t> ForgedInstaller(std::span<const std::uint8_t> original, std::uint32_t index) {
  std::vector<std::uint8_t> forged(original.begin(), original.end());
  const std::vector<std::size_t> markers = TagMarkers(original);
  std::uint32_t state = index * 2654435761u + 12345u;
  const auto next = [&] {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  };
  const auto position = [&] {
    for (;;) {
      const std::size_t i = next() % (forged.size() - 256);
      if (!NearATag(markers, i)) return i;
    }
  };
  switch (index % 2) {
    case 0:
      for (;;) {
        const std::size_t a = position(), b = position();
        if (forged[a] == forged[b]) continue;
        std::swap(forged[a], forged[b]);
        return forged;
      }
    default:
      for (;;) {
        std::copy(original.begin(), original.end(), forged.begin());
        const std::size_t start = position();
        long long difference = 0;  // new sum minus old sum of the run
        for (std::size_t i = start; i < start + 64; ++i) {
          const auto code = static_cast<std::uint8_t>(0xC3 ^ (next() & 0x3F));
          difference += static_cast<long long>(code) - forged[i];
          forged[i] = code;
        }
        for (std::size_t i = start + 64; difference != 0 && i < forged.size(); ++i) {
          if (NearATag(markers, i)) continue;
          const long long step = std::clamp<long long>(difference, forged[i] - 255, forged[i]);
          forged[i] = static_cast<std::uint8_t>(forged[i] - step);
          difference -= step;
        }
        if (difference == 0) return forged;  // else the bytes after the run could not take it up
      }
  }
}

}  // namespace isetup::testing
