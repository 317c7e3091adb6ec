// The byte-sum checksum of an installer with both affiliate fields blanked, computed without a copy.
#include "payload/checksum.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <string_view>

namespace isetup {
namespace {

constexpr std::string_view kAffidMarker = "affid=";
constexpr std::string_view kAffsidMarker = "affsid=";
constexpr std::size_t kFieldOffset = 6;  // the same for both markers
constexpr std::size_t kFieldLength = 9;
constexpr std::uint8_t kBlank = 0x30;    // '0'

// The blanked bytes cannot form a marker, so blanking never creates a new occurrence; the first search on
// the blanked content is the first original occurrence that does not touch the first field.
static_assert(kAffsidMarker.find('0') == std::string_view::npos);

struct Range {
  std::size_t begin = 0;
  std::size_t end = 0;  // exclusive, never beyond the content
  bool Contains(std::size_t i) const { return i >= begin && i < end; }
};

std::optional<std::size_t> Find(std::span<const std::uint8_t> content, std::string_view marker, std::size_t from) {
  if (from > content.size() || content.size() - from < marker.size()) return std::nullopt;
  const auto* pattern = reinterpret_cast<const std::uint8_t*>(marker.data());
  const std::boyer_moore_horspool_searcher searcher(pattern, pattern + marker.size());
  const auto found = std::search(content.begin() + from, content.end(), searcher);
  if (found == content.end()) return std::nullopt;
  return static_cast<std::size_t>(found - content.begin());
}

// The field of a marker at `offset`, cut at the end of the content.
Range FieldAt(std::size_t offset, std::size_t size) {
  const std::size_t begin = std::min(offset + kFieldOffset, size);
  return Range{begin, std::min(begin + kFieldLength, size)};
}

}  // namespace

std::int32_t ByteSumChecksum(std::span<const std::uint8_t> content) {
  std::uint32_t sum = 0;
  for (const std::uint8_t byte : content) sum += byte;

  Range first;
  if (const auto affid = Find(content, kAffidMarker, 0)) first = FieldAt(*affid, content.size());

  Range second;
  for (std::size_t from = 0;;) {
    const auto affsid = Find(content, kAffsidMarker, from);
    if (!affsid) break;
    const bool touchesFirst = *affsid < first.end && *affsid + kAffsidMarker.size() > first.begin;
    if (!touchesFirst) {
      second = FieldAt(*affsid, content.size());
      break;
    }
    from = *affsid + 1;
  }

  // Each blanked byte counts as the blank instead of its own value; the fields may overlap.
  for (std::size_t i = first.begin; i < first.end; ++i) sum = sum - content[i] + kBlank;
  for (std::size_t i = second.begin; i < second.end; ++i) {
    if (!first.Contains(i)) sum = sum - content[i] + kBlank;
  }
  return static_cast<std::int32_t>(sum);
}

}  // namespace isetup
