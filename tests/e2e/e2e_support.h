// The check shared by the end-to-end scenarios: a run ended with exactly one launch of the expected bytes.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/wine_sandbox.h"

namespace isetup::e2e {

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
