// The POSIX side of the atomic replacement: permissions, symbolic links, and a write that fails half-way.
#include "base/atomic_file.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include "base/test_files.h"
#include "tests/support/scratch_folder.h"

namespace isetup {
namespace {

namespace fs = std::filesystem;
using testing::ReadText;

mode_t ModeOf(const fs::path& path) {
  struct stat status {};
  EXPECT_EQ(stat(path.c_str(), &status), 0);
  return status.st_mode & 07777;
}

class AtomicFilePosix : public ::testing::Test {
 protected:
  std::size_t EntryCount() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()));
  }
  testing::ScratchFolder folder_{testing::ScratchFolder::ForTest("isetup_atomic_file_posix")};
};

const std::vector<std::uint8_t> kNew = {'n', 'e', 'w'};

TEST_F(AtomicFilePosix, KeepsThePermissionsOfTheTarget) {
  for (mode_t mode : {0640u, 0755u, 0600u, 0444u}) {
    const fs::path target = folder_ / "Setup.exe";
    std::ofstream(target) << "old";
    ASSERT_EQ(chmod(target.c_str(), mode), 0);
    ASSERT_EQ(ReplaceFileAtomically(target, kNew), std::nullopt);
    EXPECT_EQ(ModeOf(target), mode);
    EXPECT_EQ(ReadText(target), "new");
    fs::remove(target);
  }
}

TEST_F(AtomicFilePosix, ANewFileTakesThePermissionsOfItsSource) {
  const fs::path source = folder_ / "source.exe";
  std::ofstream(source) << "old";
  ASSERT_EQ(chmod(source.c_str(), 0751), 0);
  const fs::path copy = folder_ / "copy.exe";
  ASSERT_EQ(ReplaceFileAtomically(copy, kNew, source), std::nullopt);
  EXPECT_EQ(ModeOf(copy), 0751u);
  // An existing target keeps its own.
  ASSERT_EQ(chmod(copy.c_str(), 0604), 0);
  ASSERT_EQ(ReplaceFileAtomically(copy, kNew, source), std::nullopt);
  EXPECT_EQ(ModeOf(copy), 0604u);
}

TEST_F(AtomicFilePosix, ASymbolicLinkStaysAndItsFileIsReplaced) {
  fs::create_directories(folder_ / "real");
  const fs::path file = folder_ / "real" / "Setup.exe";
  std::ofstream(file) << "old";
  const fs::path link = folder_ / "link.exe";
  fs::create_symlink(file, link);
  ASSERT_EQ(ReplaceFileAtomically(link, kNew), std::nullopt);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadText(file), "new");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_ / "real"), fs::directory_iterator()), 1);
}

// A file size limit below the new contents makes the write fail part-way, as a full disk would. It is
// set in a child process so that nothing else of the test runs under it.
TEST_F(AtomicFilePosix, AWriteThatFailsLeavesTheOriginalAndNoTemporaryFile) {
  const fs::path target = folder_ / "Setup.exe";
  const std::string original(3000, 'o');
  std::ofstream(target, std::ios::binary) << original;
  const std::vector<std::uint8_t> larger(100000, 'n');

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    const auto problem = ReplaceFileAtomically(target, larger);
    const bool named = problem && problem->find("cannot write") != std::string::npos &&
                       problem->find(folder_.string()) != std::string::npos;
    _exit(!problem ? 10 : named ? 0 : 11);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "10: reported success, 11: the message lacks the reason or the path";
  EXPECT_EQ(ReadText(target), original);
  EXPECT_EQ(EntryCount(), 1u);
}

}  // namespace
}  // namespace isetup
