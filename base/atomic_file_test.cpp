// Replacing files in one step, on both platforms: the new contents, nothing left behind, and the
// target as it was when the replacement cannot be made.
#include "base/atomic_file.h"

#include <gtest/gtest.h>

#include <fstream>

#include "base/test_files.h"
#include "tests/support/scratch_folder.h"

namespace isetup {
namespace {

namespace fs = std::filesystem;
using testing::ReadText;

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

void Write(const fs::path& path, std::string_view text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::vector<fs::path> Entries(const fs::path& folder) {
  std::vector<fs::path> entries;
  for (const auto& entry : fs::directory_iterator(folder)) entries.push_back(entry.path().filename());
  std::sort(entries.begin(), entries.end());
  return entries;
}

class AtomicFile : public ::testing::Test {
 protected:
  testing::ScratchFolder folder_{testing::ScratchFolder::ForTest("isetup_atomic_file")};
};

TEST(TemporarySibling, HiddenNameInTheSameFolder) {
  const fs::path target = fs::path("some") / "folder" / "Setup.exe";
  EXPECT_EQ(TemporarySibling(target, 0x1234abcd), fs::path("some") / "folder" / ".Setup.exe.1234abcd.tmp");
  EXPECT_EQ(TemporarySibling("Setup.exe", 0), fs::path(".Setup.exe.00000000.tmp"));
  EXPECT_NE(TemporarySibling(target, 1), TemporarySibling(target, 2));
}

TEST_F(AtomicFile, ReplacesAnExistingFileAndLeavesNothingElse) {
  const fs::path target = folder_ / "Setup.exe";
  Write(target, std::string(5000, 'o'));
  ASSERT_EQ(ReplaceFileAtomically(target, Bytes("new contents")), std::nullopt);
  EXPECT_EQ(ReadText(target), "new contents");
  EXPECT_EQ(Entries(folder_), std::vector<fs::path>{"Setup.exe"});

  ASSERT_EQ(ReplaceFileAtomically(target, {}), std::nullopt);
  EXPECT_EQ(ReadText(target), "");
}

TEST_F(AtomicFile, CreatesAMissingFile) {
  const fs::path target = folder_ / "new.exe";
  ASSERT_EQ(ReplaceFileAtomically(target, Bytes("made")), std::nullopt);
  EXPECT_EQ(ReadText(target), "made");
  EXPECT_EQ(Entries(folder_), std::vector<fs::path>{"new.exe"});
}

TEST_F(AtomicFile, StepsPastALeftoverTemporaryName) {
  // Whatever name the first attempt picks, a file already there must not be touched.
  const fs::path target = folder_ / "Setup.exe";
  for (std::uint32_t unique = 0; unique < 4; ++unique) Write(TemporarySibling(target, unique), "leftover");
  ASSERT_EQ(ReplaceFileAtomically(target, Bytes("new")), std::nullopt);
  EXPECT_EQ(ReadText(target), "new");
  for (std::uint32_t unique = 0; unique < 4; ++unique) EXPECT_EQ(ReadText(TemporarySibling(target, unique)), "leftover");
}

TEST_F(AtomicFile, FailuresLeaveTheTargetAndNoTemporaryFile) {
  const fs::path folderTarget = folder_ / "a folder";
  fs::create_directories(folderTarget / "inside");
  const auto problem = ReplaceFileAtomically(folderTarget, Bytes("x"));
  ASSERT_NE(problem, std::nullopt);
  EXPECT_NE(problem->find("a folder"), std::string::npos) << *problem;
  EXPECT_TRUE(fs::is_directory(folderTarget / "inside"));

  const fs::path nowhere = folder_ / "missing folder" / "Setup.exe";
  const auto missing = ReplaceFileAtomically(nowhere, Bytes("x"));
  ASSERT_NE(missing, std::nullopt);
  EXPECT_NE(missing->find("missing folder"), std::string::npos) << *missing;
  EXPECT_FALSE(fs::exists(nowhere.parent_path()));
  EXPECT_EQ(Entries(folder_), std::vector<fs::path>{"a folder"});
}

}  // namespace
}  // namespace isetup
