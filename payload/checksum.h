// The byte-sum checksum of an installer, blind to the values of its affiliate tags.
#pragma once

#include <cstdint>
#include <span>

namespace isetup {

// Sum of all bytes (mod 2^32, as signed) after blanking, in a virtual copy, 9 bytes starting 6 bytes
// after the first "affid=" and then 9 bytes starting 6 bytes after the first "affsid=" of the content as
// changed by the first blanking. A field that reaches past the end is blanked as far as the data goes.
// The input is never modified and never copied whole.
std::int32_t ByteSumChecksum(std::span<const std::uint8_t> content);

}  // namespace isetup
