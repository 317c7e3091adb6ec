// The Windows side of the atomic replacement: a target that another handle holds, or that is marked
// read-only, cannot be replaced; it stays as it was and the temporary file goes.
#include "base/atomic_file.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include "base/file_handle_win.h"
#include "base/test_files.h"
#include "tests/support/scratch_folder.h"

namespace isetup {
namespace {

namespace fs = std::filesystem;
using testing::ReadText;

class AtomicFileWin : public ::testing::Test {
 protected:
  void SetUp() override { std::ofstream(target_, std::ios::binary) << "original"; }
  void TearDown() override { SetFileAttributesW(target_.c_str(), FILE_ATTRIBUTE_NORMAL); }
  void ExpectRefusedAndClean(const std::optional<std::string>& problem, const char* reason) {
    ASSERT_NE(problem, std::nullopt);
    EXPECT_NE(problem->find(reason), std::string::npos) << *problem;
    EXPECT_EQ(ReadText(target_), "original");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);
  }
  testing::ScratchFolder folder_{testing::ScratchFolder::ForTest("isetup_atomic_file_win")};
  const fs::path target_ = folder_ / "Setup.exe";
  const std::vector<std::uint8_t> new_ = {'n', 'e', 'w'};
};

TEST_F(AtomicFileWin, AHeldTargetIsLeftAsItWas) {
  FileHandle held(CreateFileW(target_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held.valid());
  const auto problem = ReplaceFileAtomically(target_, new_);
  held.reset();
  ExpectRefusedAndClean(problem, "cannot move");
  // Once free, the same call goes through.
  ASSERT_EQ(ReplaceFileAtomically(target_, new_), std::nullopt);
  EXPECT_EQ(ReadText(target_), "new");
}

TEST_F(AtomicFileWin, AReadOnlyTargetIsLeftAsItWas) {
  ASSERT_TRUE(SetFileAttributesW(target_.c_str(), FILE_ATTRIBUTE_READONLY));
  ExpectRefusedAndClean(ReplaceFileAtomically(target_, new_), "Setup.exe is marked read-only");
}

}  // namespace
}  // namespace isetup
