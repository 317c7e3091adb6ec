// The byte-sum checksum of an installer, blind to the values of its affiliate tags.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace isetup {

// Sum of all bytes (mod 2^32, as signed) after blanking, in a virtual copy, 9 bytes starting 6 bytes
// after the first "affid=" and then 9 bytes starting 6 bytes after the first "affsid=" of the content as
// changed by the first blanking. A field that reaches past the end is blanked as far as the data goes.
// The input is never modified and never copied whole.
std::int32_t ByteSumChecksum(std::span<const std::uint8_t> content);

// The same checksum over content that arrives in pieces of any size (a file read in chunks): markers and
// fields may straddle the pieces. Result() after the last piece equals ByteSumChecksum of them joined.
class ByteSumChecksumStream {
 public:
  void Add(std::span<const std::uint8_t> piece);
  std::int32_t Result() const { return static_cast<std::int32_t>(sum_); }

 private:
  // A blanked field: offsets in the whole content, end exclusive (may lie beyond what has arrived).
  struct Field {
    std::uint64_t begin = 0, end = 0;
  };
  void Search(std::span<const std::uint8_t> piece);
  void Scan(std::span<const std::uint8_t> bytes, std::uint64_t base, std::size_t newFrom, std::size_t startLimit);
  void OnAffid(std::uint64_t offset);
  void OnAffsid(std::uint64_t offset);
  void Blank(std::span<const std::uint8_t> piece);

  static constexpr std::size_t kCarry = 6;  // the longest marker less one byte

  std::uint64_t consumed_ = 0;  // bytes before the current piece
  std::uint32_t sum_ = 0;
  std::uint8_t carry_[kCarry] = {};  // the last bytes before the current piece
  std::size_t carrySize_ = 0;
  bool haveAffid_ = false, haveAffsid_ = false;
  Field affidField_, affsidField_;
};

}  // namespace isetup
