// Helpers shared by the end-to-end scenarios: texts as the probe reports them, the test's own name for
// its sandbox, and the check that a run ended with exactly one launch of the expected bytes.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "tests/e2e/wine_sandbox.h"

namespace isetup::e2e {

inline std::string Utf8(std::wstring_view text) {
  std::string out;
  for (wchar_t wc : text) {
    const auto c = static_cast<char32_t>(wc);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

inline std::string TestName() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  std::replace(name.begin(), name.end(), '/', '_');
  return name;
}

// Exactly one launch, of `fileName` in the temp folder, whose bytes equal `expected`.
inline void ExpectSingleLaunch(const WineSandbox& sandbox, const RunResult& run, const std::string& fileName,
                               const std::vector<std::uint8_t>& expected) {
  ASSERT_EQ(run.launches.size(), 1u);
  EXPECT_EQ(run.launches[0].path, sandbox.TempFolderWindows() + fileName);
  EXPECT_EQ(run.launches[0].size, static_cast<long long>(expected.size()));
  EXPECT_TRUE(ReadBytes(sandbox.TempFolder() / fileName) == expected) << fileName << " differs";
  EXPECT_EQ(run.exitCode, 0);
}

}  // namespace isetup::e2e
