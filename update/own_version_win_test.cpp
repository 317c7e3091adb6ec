// The FileVersion string of this test program's own version resource, and of a file without one.
#include "update/own_version.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/scratch_folder.h"

namespace isetup {
namespace {

TEST(GetOwnFileVersion, ReadsTheFileVersionStringOfTheFirstTranslation) {
  // The string, not the numeric fields (7,6,5,3), and not ProductVersion.
  EXPECT_EQ(GetOwnFileVersion(), L"7.6.5.4");
}

TEST(GetFileVersionText, FileWithoutVersionBlockGivesEmptyText) {
  const testing::ScratchFolder folder(testing::ScratchFolder::ForTest("isetup_own_version"));
  const auto path = folder / "no version.txt";
  std::ofstream(path) << "no version block here";
  EXPECT_EQ(GetFileVersionText(path.wstring()), L"");
  std::filesystem::remove(path);
  EXPECT_EQ(GetFileVersionText(path.wstring()), L"");
}

}  // namespace
}  // namespace isetup
