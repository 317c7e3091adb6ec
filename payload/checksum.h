// The byte-sum checksum of an installer, blind to the values of its affiliate tags.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "payload/tag_fields.h"

namespace isetup {

// Sum of all bytes (mod 2^32, as signed) of the blanked content (BlankedStream: the two tag fields
// blanked in a virtual copy). The input is never modified and never copied whole.
std::int32_t ByteSumChecksum(std::span<const std::uint8_t> content);

// The same checksum over content that arrives in pieces of any size (a file read in chunks): markers and
// fields may straddle the pieces. Result() after the last piece equals ByteSumChecksum of them joined.
class ByteSumChecksumStream {
 public:
  void Add(std::span<const std::uint8_t> piece);
  std::int32_t Result() const { return static_cast<std::int32_t>(sum_); }

 private:
  BlankedStream blanked_;
  std::uint32_t sum_ = 0;
};

}  // namespace isetup
