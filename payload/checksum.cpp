// The byte-sum checksum of an installer with both affiliate fields blanked, computed without a copy and,
// for files, one chunk at a time.
#include "payload/checksum.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "payload/byte_scan.h"

namespace isetup {
namespace {

constexpr std::string_view kAffidMarker = "affid=";
constexpr std::string_view kAffsidMarker = "affsid=";
constexpr std::uint64_t kFieldOffset = 6;  // the same for both markers
constexpr std::uint64_t kFieldLength = 9;
constexpr std::uint32_t kBlank = 0x30;     // '0'

// The blanked bytes cannot form a marker, so blanking never creates a new occurrence; the first search on
// the blanked content finds the first original "affsid=" that does not overlap the first field. Since
// "affsid=" cannot start inside "affid=", that overlap means: it starts 1 to 14 bytes after "affid=".
static_assert(kAffsidMarker.find('0') == std::string_view::npos);
static_assert(kFieldOffset + kFieldLength - 1 == 14);
constexpr std::string_view kCommonPrefix = "aff";
static_assert(kAffidMarker.starts_with(kCommonPrefix) && kAffsidMarker.starts_with(kCommonPrefix));

// Whether `marker` stands complete at `at`.
bool MarkerAt(std::span<const std::uint8_t> bytes, std::size_t at, std::string_view marker) {
  return bytes.size() - at >= marker.size() && std::memcmp(bytes.data() + at, marker.data(), marker.size()) == 0;
}

}  // namespace

void ByteSumChecksumStream::OnAffid(std::uint64_t offset) {
  haveAffid_ = true;
  affidField_ = {offset + kFieldOffset, offset + kFieldOffset + kFieldLength};
}

void ByteSumChecksumStream::OnAffsid(std::uint64_t offset) {
  // An "affid=" before this one has always been seen by now: it ends at least one byte earlier.
  if (haveAffid_) {
    const std::uint64_t affid = affidField_.begin - kFieldOffset;
    if (offset > affid && offset - affid <= kFieldOffset + kFieldLength - 1) return;  // blanked away
  }
  haveAffsid_ = true;
  affsidField_ = {offset + kFieldOffset, offset + kFieldOffset + kFieldLength};
}

// Both markers begin with "aff": one scan for it finds either, in order, and leaves few places to check.
// Occurrences are taken only when they end after `newFrom` (those ending earlier were seen before) and
// start before `startLimit`.
void ByteSumChecksumStream::Scan(std::span<const std::uint8_t> bytes, std::uint64_t base, std::size_t newFrom,
                                 std::size_t startLimit) {
  for (std::size_t from = 0; !haveAffid_ || !haveAffsid_;) {
    const std::size_t at = FindBytes(bytes, kCommonPrefix, from);
    if (at == kNotFound || at >= startLimit) break;
    if (!haveAffid_ && MarkerAt(bytes, at, kAffidMarker) && at + kAffidMarker.size() > newFrom) {
      OnAffid(base + at);
    } else if (!haveAffsid_ && MarkerAt(bytes, at, kAffsidMarker) && at + kAffsidMarker.size() > newFrom) {
      OnAffsid(base + at);
    }
    from = at + 1;
  }
}

void ByteSumChecksumStream::Search(std::span<const std::uint8_t> piece) {
  if (carrySize_ > 0) {
    // Markers that begin in the carried bytes and end in this piece.
    std::uint8_t joined[2 * kCarry];
    const std::size_t taken = std::min(piece.size(), kCarry);
    std::memcpy(joined, carry_, carrySize_);
    std::memcpy(joined + carrySize_, piece.data(), taken);
    Scan(std::span<const std::uint8_t>(joined, carrySize_ + taken), consumed_ - carrySize_, carrySize_, carrySize_);
  }
  Scan(piece, consumed_, 0, piece.size());
}

// Each blanked byte of this piece counts as the blank instead of its own value; the fields may overlap.
// A field never begins before the piece in which its marker was found.
void ByteSumChecksumStream::Blank(std::span<const std::uint8_t> piece) {
  const std::uint64_t begin = consumed_;
  const std::uint64_t end = consumed_ + piece.size();
  auto inAffid = [&](std::uint64_t i) { return haveAffid_ && i >= affidField_.begin && i < affidField_.end; };
  if (haveAffid_) {
    for (std::uint64_t i = std::max(affidField_.begin, begin); i < std::min(affidField_.end, end); ++i) {
      sum_ = sum_ - piece[i - begin] + kBlank;
    }
  }
  if (haveAffsid_) {
    for (std::uint64_t i = std::max(affsidField_.begin, begin); i < std::min(affsidField_.end, end); ++i) {
      if (!inAffid(i)) sum_ = sum_ - piece[i - begin] + kBlank;
    }
  }
}

void ByteSumChecksumStream::Add(std::span<const std::uint8_t> piece) {
  if (piece.empty()) return;
  sum_ += SumBytes(piece);
  if (!haveAffid_ || !haveAffsid_) Search(piece);
  Blank(piece);
  consumed_ += piece.size();
  if (piece.size() >= kCarry) {
    std::memcpy(carry_, piece.data() + piece.size() - kCarry, kCarry);
    carrySize_ = kCarry;
  } else {
    const std::size_t keep = std::min(carrySize_, kCarry - piece.size());
    std::memmove(carry_, carry_ + carrySize_ - keep, keep);
    std::memcpy(carry_ + keep, piece.data(), piece.size());
    carrySize_ = keep + piece.size();
  }
}

std::int32_t ByteSumChecksum(std::span<const std::uint8_t> content) {
  // In pieces that stay in the processor's cache between the sum and the search.
  constexpr std::size_t kPiece = 256 * 1024;
  ByteSumChecksumStream stream;
  for (std::size_t at = 0; at < content.size(); at += kPiece) {
    stream.Add(content.subspan(at, std::min(kPiece, content.size() - at)));
  }
  return stream.Result();
}

}  // namespace isetup
