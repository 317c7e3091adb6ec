// Packed version numbers, the strict integer conversion they are read with, and their text forms.
#include "update/version.h"

#include "base/lower_hex.h"

namespace isetup {

std::optional<std::int32_t> StrToIntStrict(std::wstring_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == L' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
    negative = text[i] == L'-';
    ++i;
  }
  bool hex = false;
  if (i < text.size() && (text[i] == L'$' || text[i] == L'x' || text[i] == L'X')) {
    hex = true;
    i += 1;
  } else if (i + 1 < text.size() && text[i] == L'0' && (text[i + 1] == L'x' || text[i + 1] == L'X')) {
    hex = true;
    i += 2;
  }
  if (i == text.size()) return std::nullopt;  // nothing, a lone sign or a lone prefix

  // Accumulated in 64 bits and stopped once out of range, so long runs of digits cannot overflow.
  std::uint64_t value = 0;
  const std::uint64_t limit = hex ? 0xFFFFFFFFull : (negative ? 2147483648ull : 2147483647ull);
  for (; i < text.size(); ++i) {
    const int digit = hex ? HexDigitValue(text[i]) : (text[i] >= L'0' && text[i] <= L'9' ? text[i] - L'0' : -1);
    if (digit < 0) return std::nullopt;
    value = value * (hex ? 16 : 10) + static_cast<unsigned>(digit);
    if (value > limit) return std::nullopt;
  }
  // A hexadecimal value is a 32-bit pattern; the sign negates it modulo 2^32.
  std::uint32_t pattern = static_cast<std::uint32_t>(value);
  if (negative) pattern = 0u - pattern;
  return static_cast<std::int32_t>(pattern);
}

std::int32_t StrToIntDefault(std::wstring_view text, std::int32_t fallback) {
  return StrToIntStrict(text).value_or(fallback);
}

PackedVersion ParsePackedVersion(std::wstring_view text) {
  std::wstring rest(text);
  rest.push_back(L'.');
  PackedVersion packed = 0;
  std::wstring_view remaining = rest;
  for (int part = 0; part < 4; ++part) {
    const std::size_t dot = remaining.find(L'.');
    if (dot == std::wstring_view::npos) return 0;
    const auto value = StrToIntStrict(remaining.substr(0, dot));
    if (!value) return 0;
    packed = packed << 8 | (static_cast<std::uint32_t>(*value) & 0xFFu);
    remaining.remove_prefix(dot + 1);
  }
  return packed;
}

std::wstring PackedVersionHex(PackedVersion version) {
  return WideHexDigits(version, 8, HexCase::kUpper);
}

std::wstring PackedVersionText(PackedVersion version) {
  return std::to_wstring(version >> 24) + L'.' + std::to_wstring(version >> 16 & 0xFFu) + L'.' +
         std::to_wstring(version >> 8 & 0xFFu) + L'.' + std::to_wstring(version & 0xFFu);
}

}  // namespace isetup
