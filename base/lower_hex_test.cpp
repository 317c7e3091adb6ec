// Hexadecimal text: digits in order with the leading zeros asked for, and parsers that take exactly
// the digits of their case and length.
#include "base/lower_hex.h"

#include <gtest/gtest.h>

namespace isetup {
namespace {

TEST(HexDigits, WritesMostSignificantFirstWithTheLeadingZerosAskedFor) {
  struct Case {
    std::uint64_t value;
    int minDigits;
    HexCase letters;
    const char* text;
  };
  for (const Case& c : {Case{0, 1, HexCase::kUpper, "0"}, Case{0x1A2B, 1, HexCase::kUpper, "1A2B"},
                        Case{0xAB, 8, HexCase::kLower, "000000ab"}, Case{0x0123456789ABCDEFull, 16, HexCase::kLower,
                                                                           "0123456789abcdef"},
                        Case{0xFFFFFFFFFFFFFFFFull, 2, HexCase::kUpper, "FFFFFFFFFFFFFFFF"},
                        Case{0x7, 2, HexCase::kUpper, "07"}}) {
    EXPECT_EQ(HexDigits(c.value, c.minDigits, c.letters), c.text) << c.text;
    const std::string narrow = c.text;
    EXPECT_EQ(WideHexDigits(c.value, c.minDigits, c.letters), std::wstring(narrow.begin(), narrow.end()));
  }
  const std::uint8_t bytes[] = {0x00, 0x0f, 0xa5, 0xff};
  EXPECT_EQ(LowerHex(bytes), "000fa5ff");
}

TEST(ParseHex, TakesExactlyTheDigitsOfItsCaseAndLength) {
  using Bytes = std::optional<std::vector<std::uint8_t>>;
  struct Case {
    const char* text;
    Bytes lower;  // ParseLowerHex(text, 2)
    Bytes any;    // ParseHexAnyCase(text, 2)
  };
  const Bytes a5ff = std::vector<std::uint8_t>{0xa5, 0xff};
  for (const Case& c : {Case{"a5ff", a5ff, a5ff}, Case{"A5FF", {}, a5ff}, Case{"a5Ff", {}, a5ff},
                        Case{"a5f", {}, {}}, Case{"a5fff", {}, {}}, Case{"a5 f", {}, {}}, Case{"0xa5", {}, {}},
                        Case{"a5fg", {}, {}}, Case{"+a5f", {}, {}}, Case{"a5G0", {}, {}}}) {
    EXPECT_EQ(ParseLowerHex(c.text, 2), c.lower) << c.text;
    EXPECT_EQ(ParseHexAnyCase(c.text, 2), c.any) << c.text;
  }
  for (const wchar_t c : {L'/', L':', L'@', L'G', L'`', L'g'}) EXPECT_EQ(HexDigitValue(c), -1) << int(c);
  EXPECT_EQ(HexDigitValue(L'F'), 15);
  EXPECT_EQ(HexDigitValue(L'a'), 10);
  EXPECT_EQ(HexDigitValue(L'9'), 9);
}

}  // namespace
}  // namespace isetup
