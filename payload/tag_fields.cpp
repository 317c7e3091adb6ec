// Finding, checking, stamping and blanking the affiliate tag fields inside an installer image.
#include "payload/tag_fields.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "base/little_endian.h"
#include "payload/byte_scan.h"

namespace isetup {
namespace {

// The length field that the installer's string header stores right before a tag's text.
constexpr std::size_t kLengthFieldSize = 4;

// The blanked field of either marker: 9 bytes from 6 bytes after the marker's first byte.
constexpr std::uint64_t kFieldOffset = 6;
constexpr std::uint64_t kFieldLength = 9;
constexpr std::array<std::uint8_t, kFieldLength> kBlanks = {'0', '0', '0', '0', '0', '0', '0', '0', '0'};

// The blanked bytes cannot form a marker, so blanking never creates a new occurrence; the first search on
// the blanked content finds the first original "affsid=" that does not overlap the first field. Since
// "affsid=" cannot start inside "affid=", that overlap means: it starts 1 to 14 bytes after "affid=".
static_assert(kAffsidMarker.find('0') == std::string_view::npos);
static_assert(kFieldOffset + kFieldLength - 1 == 14);
constexpr std::string_view kCommonPrefix = "aff";
static_assert(kAffidMarker.starts_with(kCommonPrefix) && kAffsidMarker.starts_with(kCommonPrefix));

// 0-based offset of the first occurrence of `marker`, if any.
std::optional<std::size_t> FindMarker(std::span<const std::uint8_t> bytes, std::string_view marker) {
  const std::size_t found = FindBytes(bytes, marker);
  if (found == kNotFound) return std::nullopt;
  return found;
}

std::optional<TagLocation> LocateTag(std::span<const std::uint8_t> bytes, std::string_view marker) {
  const auto offset = FindMarker(bytes, marker);
  if (!offset) return std::nullopt;
  TagLocation tag;
  tag.markerOffset = *offset;
  tag.valueOffset = *offset + marker.size();
  const std::size_t valueLength = std::min(kTagValueLength, bytes.size() - tag.valueOffset);
  tag.value.assign(reinterpret_cast<const char*>(bytes.data() + tag.valueOffset), valueLength);
  return tag;
}

// Whether `marker` stands complete at `at`.
bool MarkerAt(std::span<const std::uint8_t> bytes, std::size_t at, std::string_view marker) {
  return bytes.size() - at >= marker.size() && std::memcmp(bytes.data() + at, marker.data(), marker.size()) == 0;
}

BlankedStream::Field FieldOf(std::uint64_t markerOffset) {
  return {markerOffset + kFieldOffset, markerOffset + kFieldOffset + kFieldLength};
}

// A run of a piece: offsets in it, end exclusive.
struct Run {
  std::size_t begin = 0, end = 0;
};

// The part of `field` inside the `size` bytes from `at` of the content, if any.
std::optional<Run> PartIn(const std::optional<BlankedStream::Field>& field, std::uint64_t at, std::size_t size) {
  if (!field) return std::nullopt;
  const std::uint64_t begin = std::max(field->begin, at);
  const std::uint64_t end = std::min(field->end, at + size);
  if (begin >= end) return std::nullopt;
  return Run{static_cast<std::size_t>(begin - at), static_cast<std::size_t>(end - at)};
}

// The blanked runs of a piece in order; the two fields may overlap, and are joined then.
struct BlankedRuns {
  std::array<Run, 2> runs;
  std::size_t count = 0;
};

BlankedRuns JoinRuns(std::optional<Run> first, std::optional<Run> second) {
  if (!first || !second) {
    if (const auto one = first ? first : second) return {{*one}, 1};
    return {};
  }
  if (second->begin < first->begin) std::swap(first, second);
  if (second->begin <= first->end) return {{Run{first->begin, std::max(first->end, second->end)}}, 1};
  return {{*first, *second}, 2};
}

void EmitBlanks(std::size_t count, const BlankedPiece& piece) {
  while (count > 0) {
    const std::size_t run = std::min(count, kBlanks.size());
    piece(std::span(kBlanks).first(run));
    count -= run;
  }
}

}  // namespace

std::string TagName(std::string_view marker) { return std::string(marker.substr(0, marker.size() - 1)); }

AffiliateTags FindAffiliateTags(std::span<const std::uint8_t> bytes) {
  return AffiliateTags{LocateTag(bytes, kAffidMarker), LocateTag(bytes, kAffsidMarker)};
}

bool IsValidTagValue(std::string_view value) {
  if (value.size() != kTagValueLength) return false;
  return std::all_of(value.begin(), value.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
  });
}

std::optional<std::string> CheckTagHeader(std::span<const std::uint8_t> bytes, std::string_view marker,
                                          std::size_t markerOffset) {
  const std::string name = TagName(marker);
  const std::size_t textLength = marker.size() + kTagValueLength;
  if (markerOffset > bytes.size() || bytes.size() - markerOffset < textLength + 1) {
    return "the " + name + " tag is cut off by the end of the data";
  }
  if (markerOffset < kLengthFieldSize) return "the " + name + " tag has no string header before it";
  const std::uint32_t length = LoadU32(bytes, markerOffset - kLengthFieldSize);
  if (length != textLength) {
    return "the " + name + " tag's string header gives the length " + std::to_string(length) + ", not " +
           std::to_string(textLength);
  }
  if (bytes[markerOffset + textLength] != 0) return "the " + name + " tag's text is not followed by a zero byte";
  return std::nullopt;
}

StampPlace FindStampPlace(std::span<const std::uint8_t> bytes, std::string_view marker) {
  const auto offset = FindMarker(bytes, marker);
  if (!offset) return {std::nullopt, "the " + TagName(marker) + " marker \"" + std::string(marker) + "\" is missing"};
  if (auto problem = CheckTagHeader(bytes, marker, *offset)) return {std::nullopt, std::move(*problem)};
  return {*offset + marker.size(), {}};
}

std::optional<std::string> StampAffiliateTags(std::span<std::uint8_t> bytes, std::optional<std::string_view> affid,
                                              std::optional<std::string_view> affsid) {
  struct Change {
    std::size_t valueOffset;
    std::string_view value;
  };
  std::array<Change, 2> changes{};
  std::size_t count = 0;
  // Every check comes before the first write, so a refused stamp leaves the bytes as they were.
  for (const auto& [marker, value] : {std::pair{kAffidMarker, affid}, std::pair{kAffsidMarker, affsid}}) {
    if (!value) continue;
    if (!IsValidTagValue(*value)) {
      return "the " + TagName(marker) + " value \"" + std::string(*value) +
             "\" is not 8 characters from A-Z, a-z, 0-9, '-' and '_'";
    }
    StampPlace place = FindStampPlace(bytes, marker);
    if (!place.valueOffset) return std::move(place.problem);
    changes[count++] = Change{*place.valueOffset, *value};
  }
  for (std::size_t i = 0; i < count; ++i) {
    std::memcpy(bytes.data() + changes[i].valueOffset, changes[i].value.data(), kTagValueLength);
  }
  return std::nullopt;
}

void BlankedStream::OnAffid(std::uint64_t offset) { affid_ = FieldOf(offset); }

void BlankedStream::OnAffsid(std::uint64_t offset) {
  // An "affid=" before this one has always been seen by now: it ends at least one byte earlier.
  if (affid_) {
    const std::uint64_t affid = affid_->begin - kFieldOffset;
    if (offset > affid && offset - affid <= kFieldOffset + kFieldLength - 1) return;  // blanked away
  }
  affsid_ = FieldOf(offset);
}

// Both markers begin with "aff": one scan for it finds either, in order, and leaves few places to check.
// Occurrences are taken only when they end after `newFrom` (those ending earlier were seen before) and
// start before `startLimit`.
void BlankedStream::Scan(std::span<const std::uint8_t> bytes, std::uint64_t base, std::size_t newFrom,
                         std::size_t startLimit) {
  for (std::size_t from = 0; !affid_ || !affsid_;) {
    const std::size_t at = FindBytes(bytes, kCommonPrefix, from);
    if (at == kNotFound || at >= startLimit) break;
    if (!affid_ && MarkerAt(bytes, at, kAffidMarker) && at + kAffidMarker.size() > newFrom) {
      OnAffid(base + at);
    } else if (!affsid_ && MarkerAt(bytes, at, kAffsidMarker) && at + kAffsidMarker.size() > newFrom) {
      OnAffsid(base + at);
    }
    from = at + 1;
  }
}

void BlankedStream::Search(std::span<const std::uint8_t> next) {
  if (carrySize_ > 0) {
    // Markers that begin in the carried bytes and end in this piece.
    std::uint8_t joined[2 * kCarry];
    const std::size_t taken = std::min(next.size(), kCarry);
    std::memcpy(joined, carry_, carrySize_);
    std::memcpy(joined + carrySize_, next.data(), taken);
    Scan(std::span<const std::uint8_t>(joined, carrySize_ + taken), consumed_ - carrySize_, carrySize_, carrySize_);
  }
  Scan(next, consumed_, 0, next.size());
}

// A field never begins before the piece in which its marker was found, so once this piece has been
// searched its blanked runs are known.
void BlankedStream::Emit(std::span<const std::uint8_t> next, const BlankedPiece& piece) const {
  const BlankedRuns runs = JoinRuns(PartIn(affid_, consumed_, next.size()), PartIn(affsid_, consumed_, next.size()));
  std::size_t at = 0;
  for (std::size_t i = 0; i < runs.count; ++i) {
    if (runs.runs[i].begin > at) piece(next.subspan(at, runs.runs[i].begin - at));
    EmitBlanks(runs.runs[i].end - runs.runs[i].begin, piece);
    at = runs.runs[i].end;
  }
  if (at < next.size()) piece(next.subspan(at));
}

void BlankedStream::Carry(std::span<const std::uint8_t> next) {
  if (next.size() >= kCarry) {
    std::memcpy(carry_, next.data() + next.size() - kCarry, kCarry);
    carrySize_ = kCarry;
  } else {
    const std::size_t keep = std::min(carrySize_, kCarry - next.size());
    std::memmove(carry_, carry_ + carrySize_ - keep, keep);
    std::memcpy(carry_ + keep, next.data(), next.size());
    carrySize_ = keep + next.size();
  }
}

void BlankedStream::Add(std::span<const std::uint8_t> next, const BlankedPiece& piece) {
  if (next.empty()) return;
  if (!affid_ || !affsid_) Search(next);
  Emit(next, piece);
  Carry(next);
  consumed_ += next.size();
}

void ForEachBlankedPiece(std::span<const std::uint8_t> content, const BlankedPiece& piece) {
  BlankedStream().Add(content, piece);
}

}  // namespace isetup
