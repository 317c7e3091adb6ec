// Hexadecimal text, strict both ways.
#include "base/lower_hex.h"

namespace isetup {
namespace {

char Digit(unsigned nibble, HexCase letters) {
  return (letters == HexCase::kLower ? "0123456789abcdef" : "0123456789ABCDEF")[nibble & 0xFu];
}

int DigitValue(char c, bool upperToo) { return upperToo || c < 'A' || c > 'F' ? HexDigitValue(c) : -1; }

std::optional<std::vector<std::uint8_t>> ParseHex(std::string_view text, std::size_t size, bool upperToo) {
  if (text.size() != 2 * size) return std::nullopt;
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) {
    const int high = DigitValue(text[2 * i], upperToo);
    const int low = DigitValue(text[2 * i + 1], upperToo);
    if (high < 0 || low < 0) return std::nullopt;
    bytes[i] = static_cast<std::uint8_t>(high << 4 | low);
  }
  return bytes;
}

}  // namespace

int HexDigitValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

std::string LowerHex(std::span<const std::uint8_t> bytes) {
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const std::uint8_t byte : bytes) {
    text += Digit(byte >> 4, HexCase::kLower);
    text += Digit(byte, HexCase::kLower);
  }
  return text;
}

std::string HexDigits(std::uint64_t value, int minDigits, HexCase letters) {
  std::string text;
  for (int i = 0; i < minDigits || value != 0; ++i, value >>= 4) text.insert(text.begin(), Digit(value & 0xF, letters));
  return text;
}

std::wstring WideHexDigits(std::uint64_t value, int minDigits, HexCase letters) {
  const std::string text = HexDigits(value, minDigits, letters);
  return std::wstring(text.begin(), text.end());
}

std::optional<std::vector<std::uint8_t>> ParseLowerHex(std::string_view text, std::size_t size) {
  return ParseHex(text, size, false);
}

std::optional<std::vector<std::uint8_t>> ParseHexAnyCase(std::string_view text, std::size_t size) {
  return ParseHex(text, size, true);
}

}  // namespace isetup
