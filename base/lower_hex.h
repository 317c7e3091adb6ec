// Bytes and numbers as hexadecimal text and back: lower case as the signed version reply carries
// them, upper case where a name or a log line has always used it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace isetup {

enum class HexCase { kLower, kUpper };

// Two lower-case digits per byte, in order.
std::string LowerHex(std::span<const std::uint8_t> bytes);

// `value` in at least `minDigits` digits (leading zeros added), most significant first.
std::string HexDigits(std::uint64_t value, int minDigits, HexCase letters);
std::wstring WideHexDigits(std::uint64_t value, int minDigits, HexCase letters);

// The value of one hexadecimal digit of either case; -1 for any other character.
int HexDigitValue(wchar_t c);

// The bytes of a text of exactly 2 * `size` lower-case hexadecimal digits; std::nullopt for any other
// text (upper case, blanks, a prefix, another length).
[[nodiscard]] std::optional<std::vector<std::uint8_t>> ParseLowerHex(std::string_view text, std::size_t size);
// The same, taking upper-case digits too.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> ParseHexAnyCase(std::string_view text, std::size_t size);

}  // namespace isetup
