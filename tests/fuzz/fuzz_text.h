// Turning fuzz bytes into the wide texts the program reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace isetup::fuzz {

// Bytes below 0xF0 are the characters of that code; the top 16 byte values stand for wide characters a
// digit, blank, sign or dot test must not mistake for ASCII ones: look-alike digits and blanks from other
// scripts, and codes whose low 8 or 16 bits are an ASCII digit, sign or dot.
inline std::wstring WideFromFuzzBytes(const std::uint8_t* data, std::size_t size) {
  static constexpr wchar_t kTricky[16] = {
      static_cast<wchar_t>(0xFF10), static_cast<wchar_t>(0x0660), static_cast<wchar_t>(0x00A0),
      static_cast<wchar_t>(0x3000), static_cast<wchar_t>(0xFF0E), static_cast<wchar_t>(0x2024),
      static_cast<wchar_t>(0xFE63), static_cast<wchar_t>(0x0130), static_cast<wchar_t>(0x0139),
      static_cast<wchar_t>(0x012E), static_cast<wchar_t>(0x012D), static_cast<wchar_t>(0x0124),
      static_cast<wchar_t>(0x0178), static_cast<wchar_t>(0x10030), static_cast<wchar_t>(0x1002E),
      static_cast<wchar_t>(0xFF21)};
  std::wstring text;
  text.reserve(size);
  for (std::size_t i = 0; i < size; ++i) {
    text += data[i] >= 0xF0 ? kTricky[data[i] - 0xF0] : static_cast<wchar_t>(data[i]);
  }
  return text;
}

}  // namespace isetup::fuzz
