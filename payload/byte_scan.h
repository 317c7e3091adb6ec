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

// The widths FindBytes can work in: the widest the processor has, or 16 bytes (SSE2) and plain loops
// only. Every width gives the same answers; the choice exists so that tests can check each one.
enum class ScanWidth { Widest, Sse2 };
std::size_t FindBytesWith(ScanWidth width, std::span<const std::uint8_t> haystack, std::string_view needle,
                          std::size_t from = 0);

// Sum of all bytes as unsigned values, modulo 2^32.
std::uint32_t SumBytes(std::span<const std::uint8_t> bytes);

}  // namespace isetup
