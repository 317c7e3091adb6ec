// The byte-sum checksum of an installer with both affiliate fields blanked, computed without a copy and,
// for files, one chunk at a time.
#include "payload/checksum.h"

#include <algorithm>

#include "payload/byte_scan.h"

namespace isetup {

void ByteSumChecksumStream::Add(std::span<const std::uint8_t> piece) {
  blanked_.Add(piece, [this](std::span<const std::uint8_t> bytes) { sum_ += SumBytes(bytes); });
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
