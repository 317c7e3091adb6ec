// Packed versions and the strict integer conversion, over the texts that a reply or a resource may hold.
#include "update/version.h"

#include <gtest/gtest.h>

namespace isetup {
namespace {

TEST(ParsePackedVersion, Table) {
  struct Case {
    const wchar_t* text;
    PackedVersion packed;
  } cases[] = {
      {L"2.52.0.0", 0x02340000},    {L"2.52.0", 0},           {L"2.52", 0},
      {L"", 0},                     {L"1.2.3.4.5", 0x01020304}, {L"2.52.0.0.", 0x02340000},
      {L"2..0.0", 0},               {L"2.300.0.0", 0x022C0000}, {L"-1.0.0.0", 0xFF000000},
      {L" 2.52.0.0", 0x02340000},   {L"2.52.0.0 ", 0},        {L"$A.0.0.0", 0x0A000000},
      {L"0xA.0.0.0", 0x0A000000},   {L"200.0.0.0", 0xC8000000}, {L"4294967296.0.0.0", 0},
      {L"0.0.0.0", 0},              {L"2.53.0.0", 0x02350000}, {L"255.255.255.255", 0xFFFFFFFF},
      {L"2.52.0.x", 0},             {L"2.52.0.0.junk", 0x02340000},
  };
  for (const auto& c : cases) EXPECT_EQ(ParsePackedVersion(c.text), c.packed) << c.text;
  EXPECT_GT(ParsePackedVersion(L"200.0.0.0"), ParsePackedVersion(L"2.52.0.0"));
}

TEST(StrToIntStrict, Table) {
  struct Case {
    const wchar_t* text;
    std::optional<std::int32_t> value;
  } cases[] = {
      {L"0", 0},
      {L"14178100", 14178100},
      {L"   -5", -5},
      {L"+7", 7},
      {L"007", 7},
      {L"2147483647", 2147483647},
      {L"-2147483648", -2147483647 - 1},
      {L"2147483648", std::nullopt},
      {L"-2147483649", std::nullopt},
      {L"4294967295", std::nullopt},
      {L"99999999999999999999999", std::nullopt},
      {L"$FFFFFFFF", -1},
      {L"0xffffffff", -1},
      {L"X7fffffff", 2147483647},
      {L"x80000000", -2147483647 - 1},
      {L"-$1", -1},
      {L"-0x80000000", -2147483647 - 1},
      {L"$000000010", 16},  // leading zeros do not count as digits
      {L"$100000000", std::nullopt},
      {L"", std::nullopt},
      {L"   ", std::nullopt},
      {L"-", std::nullopt},
      {L"$", std::nullopt},
      {L"0x", std::nullopt},
      {L"100 ", std::nullopt},
      {L"\t100", std::nullopt},
      {L"abc", std::nullopt},
      {L"1e3", std::nullopt},
      {L"--1", std::nullopt},
      {L"$-1", std::nullopt},
      {L"0$1", std::nullopt},
      {L"$G", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(StrToIntStrict(c.text), c.value) << c.text;
  EXPECT_EQ(StrToIntDefault(L"abc", 42), 42);
  EXPECT_EQ(StrToIntDefault(L"-1", 42), -1);
}

TEST(PackedVersionForms, HexAndText) {
  EXPECT_EQ(PackedVersionHex(0x02340000), L"02340000");
  EXPECT_EQ(PackedVersionHex(0), L"00000000");
  EXPECT_EQ(PackedVersionHex(0xFEDCBA98), L"FEDCBA98");
  EXPECT_EQ(PackedVersionText(0x02340000), L"2.52.0.0");
  EXPECT_EQ(PackedVersionText(0xFF01027F), L"255.1.2.127");
  EXPECT_EQ(ParsePackedVersion(PackedVersionText(0xC80A0B0C)), 0xC80A0B0Cu);
}

}  // namespace
}  // namespace isetup
