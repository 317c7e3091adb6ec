// Fuzzes the strict integer conversion and the packed version against plain models of their rules, and
// the two text forms of a packed version against their definitions.
#include <cwchar>

#include "tests/fuzz/fuzz_models.h"
#include "tests/fuzz/fuzz_text.h"
#include "update/version.h"

using namespace isetup;
using namespace isetup::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::wstring text = WideFromFuzzBytes(data, size);

  const auto strict = StrToIntStrict(text);
  const auto expected = ModelStrToInt(text);
  FUZZ_CHECK(strict == expected, "StrToIntStrict(\"%s\") = %s%d, model %s%d", Shown(text).c_str(),
             strict ? "" : "fails/", strict.value_or(0), expected ? "" : "fails/", expected.value_or(0));
  for (const std::int32_t fallback : {0, -7, INT32_MIN}) {
    FUZZ_CHECK(StrToIntDefault(text, fallback) == expected.value_or(fallback), "StrToIntDefault(\"%s\", %d)",
               Shown(text).c_str(), fallback);
  }

  const PackedVersion packed = ParsePackedVersion(text);
  const std::uint32_t modelPacked = ModelPackedVersion(text);
  FUZZ_CHECK(packed == modelPacked, "ParsePackedVersion(\"%s\") = %08X, model %08X", Shown(text).c_str(), packed,
             modelPacked);

  // Both text forms of the packed value and of a value made of the first bytes.
  std::uint32_t raw = 0;
  for (std::size_t i = 0; i < size && i < 4; ++i) raw = raw << 8 | data[i];
  for (const std::uint32_t value : {packed, raw}) {
    wchar_t hex[16];
    std::swprintf(hex, 16, L"%08X", value);
    FUZZ_CHECK(PackedVersionHex(value) == hex, "PackedVersionHex(%08X)", value);
    const std::wstring dotted = PackedVersionText(value);
    FUZZ_CHECK(ParsePackedVersion(dotted) == value, "PackedVersionText(%08X) = \"%s\" does not pack back", value,
               Shown(dotted).c_str());
  }
  return 0;
}
