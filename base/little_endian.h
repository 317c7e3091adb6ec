// Little-endian numbers in byte ranges that come from files: a read past the end fails instead of reading.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace isetup {

// True when `count` bytes from `offset` lie inside a range of `size` bytes (no overflow on the way).
constexpr bool HasBytes(std::size_t size, std::uint64_t offset, std::uint64_t count) {
  return offset <= size && count <= size - offset;
}

// The `Bytes`-byte unsigned number at `offset`; std::nullopt when not all of its bytes are there.
template <typename Unsigned, std::size_t Bytes = sizeof(Unsigned)>
std::optional<Unsigned> ReadLittleEndian(std::span<const std::uint8_t> bytes, std::uint64_t offset) {
  if (!HasBytes(bytes.size(), offset, Bytes)) return std::nullopt;
  Unsigned value = 0;
  for (std::size_t i = Bytes; i-- > 0;) value = static_cast<Unsigned>(value << 8 | bytes[offset + i]);
  return value;
}

inline std::optional<std::uint16_t> ReadU16(std::span<const std::uint8_t> bytes, std::uint64_t offset) {
  return ReadLittleEndian<std::uint16_t>(bytes, offset);
}
inline std::optional<std::uint32_t> ReadU32(std::span<const std::uint8_t> bytes, std::uint64_t offset) {
  return ReadLittleEndian<std::uint32_t>(bytes, offset);
}
// For fields whose bounds the caller has checked already: 0 where the bytes are missing.
inline std::uint16_t LoadU16(std::span<const std::uint8_t> bytes, std::uint64_t offset) {
  return ReadU16(bytes, offset).value_or(0);
}
inline std::uint32_t LoadU32(std::span<const std::uint8_t> bytes, std::uint64_t offset) {
  return ReadU32(bytes, offset).value_or(0);
}

}  // namespace isetup
