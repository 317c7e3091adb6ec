// Plain reference models that the fuzz targets hold the program's routines against, written as directly
// from the rules as possible and not sharing code with the routines they check.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace isetup::fuzz {

// A mismatch between a routine and its model is a finding: say what differed and abort, so that libFuzzer
// keeps the input.
#define FUZZ_CHECK(condition, ...)                                                  \
  do {                                                                              \
    if (!(condition)) {                                                             \
      std::fprintf(stderr, "model mismatch at %s:%d: %s\n", __FILE__, __LINE__, #condition); \
      std::fprintf(stderr, __VA_ARGS__);                                            \
      std::fprintf(stderr, "\n");                                                   \
      std::abort();                                                                 \
    }                                                                               \
  } while (false)

// Printable form of a wide text for the mismatch reports.
inline std::string Shown(std::wstring_view text) {
  std::string out;
  for (const wchar_t c : text) {
    if (c >= 0x20 && c < 0x7F && c != L'\\') {
      out += static_cast<char>(c);
    } else {
      char escaped[16];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
      out += escaped;
    }
  }
  return out;
}

// Leading spaces, an optional sign, then decimal digits or a hexadecimal prefix ($, x, X, 0x, 0X) with
// hexadecimal digits, and nothing else. Decimal must lie in the int32 range; hexadecimal may have at most
// 8 significant digits and gives that 32-bit pattern; a minus sign negates modulo 2^32.
inline std::optional<std::int32_t> ModelStrToInt(std::wstring_view text) {
  while (!text.empty() && text.front() == L' ') text.remove_prefix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == L'+' || text.front() == L'-')) {
    negative = text.front() == L'-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.starts_with(L"$") || text.starts_with(L"x") || text.starts_with(L"X")) {
    base = 16;
    text.remove_prefix(1);
  } else if (text.starts_with(L"0x") || text.starts_with(L"0X")) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  const std::wstring_view decimalDigits = L"0123456789";
  const std::wstring_view hexDigits = L"0123456789abcdefABCDEF";
  for (const wchar_t c : text) {
    if ((base == 10 ? decimalDigits : hexDigits).find(c) == std::wstring_view::npos) return std::nullopt;
  }
  while (text.size() > 1 && text.front() == L'0') text.remove_prefix(1);
  if (text.size() > (base == 10 ? 10u : 8u)) return std::nullopt;
  std::int64_t value = 0;
  for (const wchar_t c : text) {
    const int digit = c <= L'9' ? c - L'0' : (c | 0x20) - L'a' + 10;
    value = value * base + digit;
  }
  if (base == 10) {
    const std::int64_t signedValue = negative ? -value : value;
    if (signedValue < INT32_MIN || signedValue > INT32_MAX) return std::nullopt;
    return static_cast<std::int32_t>(signedValue);
  }
  std::uint32_t pattern = static_cast<std::uint32_t>(value);
  if (negative) pattern = ~pattern + 1u;
  return static_cast<std::int32_t>(pattern);
}

// The text with one "." appended, cut at its dots; the first four pieces are the parts a.b.c.d, each
// converted strictly and cut to 8 bits. Fewer than four pieces before the appended dot, or any part that
// fails, gives 0.
inline std::uint32_t ModelPackedVersion(std::wstring_view text) {
  std::vector<std::wstring> pieces{std::wstring()};
  for (const wchar_t c : std::wstring(text) + L".") {
    if (c == L'.') {
      pieces.emplace_back();
    } else {
      pieces.back().push_back(c);
    }
  }
  // The appended dot always opens one last, empty piece; the parts are the pieces it closed.
  pieces.pop_back();
  if (pieces.size() < 4) return 0;
  std::uint32_t packed = 0;
  for (int i = 0; i < 4; ++i) {
    const auto value = ModelStrToInt(pieces[static_cast<std::size_t>(i)]);
    if (!value) return 0;
    packed = packed * 256u + (static_cast<std::uint32_t>(*value) % 256u);
  }
  return packed;
}

// Byte i of the data as character i: the single-byte decoding the native build uses.
inline std::wstring ModelLatin1(std::string_view bytes) {
  std::wstring text;
  for (const char c : bytes) text += static_cast<wchar_t>(static_cast<unsigned char>(c));
  return text;
}

// 0-based offset of the first occurrence of needle in haystack at or after from, by trying every start.
template <typename Byte>
std::optional<std::size_t> NaiveFind(const std::vector<Byte>& haystack, std::string_view needle, std::size_t from = 0) {
  for (std::size_t start = from; start + needle.size() <= haystack.size(); ++start) {
    bool all = true;
    for (std::size_t k = 0; k < needle.size() && all; ++k) {
      all = static_cast<unsigned char>(haystack[start + k]) == static_cast<unsigned char>(needle[k]);
    }
    if (all) return start;
  }
  return std::nullopt;
}

// A "%" with two hexadecimal digits after it stands for the byte they spell; any other "%" is an ordinary
// byte, and so is "+" unless it stands for a blank.
inline std::string ModelPercentDecode(std::string_view text, bool plusIsBlank) {
  const auto hexValue = [](char c) -> int {
    const std::string_view digits = "0123456789abcdef";
    const char lower = (c >= 'A' && c <= 'F') ? static_cast<char>(c + ('a' - 'A')) : c;
    const std::size_t at = digits.find(lower);
    return at == std::string_view::npos ? -1 : static_cast<int>(at);
  };
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '%' && text.size() - i >= 3 && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
      i += 3;
    } else {
      out.push_back(plusIsBlank && text[i] == '+' ? ' ' : text[i]);
      i += 1;
    }
  }
  return out;
}

// The query cut at every "&"; empty pieces give nothing, the rest is cut at its first "=" (none: an empty
// value) and both halves decoded with "+" as a blank.
inline std::vector<std::pair<std::string, std::string>> ModelParseQuery(std::string_view query) {
  std::vector<std::string> pieces{std::string()};
  for (const char c : query) {
    if (c == '&') {
      pieces.emplace_back();
    } else {
      pieces.back().push_back(c);
    }
  }
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const std::string& piece : pieces) {
    if (piece.empty()) continue;
    const std::size_t equals = piece.find('=');
    const std::string key = equals == std::string::npos ? piece : piece.substr(0, equals);
    const std::string value = equals == std::string::npos ? std::string() : piece.substr(equals + 1);
    pairs.emplace_back(ModelPercentDecode(key, true), ModelPercentDecode(value, true));
  }
  return pairs;
}

}  // namespace isetup::fuzz
