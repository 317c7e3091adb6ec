// Bytes as lower-case hexadecimal text and back, as the signed version reply carries them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace isetup {

// Two lower-case digits per byte, in order.
std::string LowerHex(std::span<const std::uint8_t> bytes);

// The bytes of a text of exactly 2 * `size` lower-case hexadecimal digits; std::nullopt for any other
// text (upper case, blanks, a prefix, another length).
[[nodiscard]] std::optional<std::vector<std::uint8_t>> ParseLowerHex(std::string_view text, std::size_t size);

}  // namespace isetup
