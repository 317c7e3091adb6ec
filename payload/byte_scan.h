// Fast primitives over an installer image: finding a short byte string and adding up bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace isetup {

inline constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

// 0-based offset of the first occurrence of `needle` starting at or after `from`; kNotFound when there is
// none (or the needle is empty). Exact and case-sensitive, like std::search.
std::size_t FindBytes(std::span<const std::uint8_t> haystack, std::string_view needle, std::size_t from = 0);

// Sum of all bytes as unsigned values, modulo 2^32.
std::uint32_t SumBytes(std::span<const std::uint8_t> bytes);

}  // namespace isetup
