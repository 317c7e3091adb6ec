// Packed version numbers a.b.c.d in 32 bits, the strict integer conversion, the hexadecimal form.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace isetup {

using PackedVersion = std::uint32_t;  // a<<24 | b<<16 | c<<8 | d; 0 means "no valid version"

// Leading spaces, optional sign, decimal or hexadecimal ("$", "x", "X", "0x", "0X") digits and nothing
// after them. Decimal must fit int32; hexadecimal at most 8 significant digits (the 32-bit pattern).
std::optional<std::int32_t> StrToIntStrict(std::wstring_view text);

// The strict conversion with a default for texts that fail it.
std::int32_t StrToIntDefault(std::wstring_view text, std::int32_t fallback);

// Four dot-separated parts, each converted strictly and cut to its low 8 bits; 0 on any failure.
PackedVersion ParsePackedVersion(std::wstring_view text);

// Eight upper-case hexadecimal digits, zero-padded.
std::wstring PackedVersionHex(PackedVersion version);

// "a.b.c.d".
std::wstring PackedVersionText(PackedVersion version);

}  // namespace isetup
