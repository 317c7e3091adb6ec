// Reading a version reply file from disk.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "base/io_error.h"
#include "tests/support/scratch_folder.h"
#include "update/version_reply.h"

namespace isetup {
namespace {

namespace fs = std::filesystem;

class VersionReplyFile : public ::testing::Test {
 protected:
  testing::ScratchFolder folder_{testing::ScratchFolder::ForTest("isetup_version_reply_file")};
};

TEST_F(VersionReplyFile, ReadsAndJudgesTheFile) {
  const fs::path path = folder_ / "TalvimorasterLastVer.txt";
  std::ofstream(path, std::ios::binary) << "ver=2.53.0.0\r\nsize=14178100\r\nconsum=$FFFFFFFF\r\nurl=h/p\r\n";
  const VersionReply reply = ReadVersionReply(path.wstring());
  EXPECT_TRUE(reply.Usable);
  EXPECT_EQ(reply.Version, 0x02350000u);
  EXPECT_EQ(reply.Size, 14178100);
  EXPECT_EQ(reply.Checksum, -1);
  EXPECT_EQ(reply.Url, L"h/p");

  std::ofstream(path, std::ios::binary | std::ios::trunc);
  EXPECT_FALSE(ReadVersionReply(path.wstring()).Usable);  // an empty file is no error
}

TEST_F(VersionReplyFile, UnreadableFilesThrow) {
  EXPECT_THROW(ReadVersionReply((folder_ / "missing.txt").wstring()), IoError);
  EXPECT_THROW(ReadVersionReply(folder_.wstring()), IoError);
}

}  // namespace
}  // namespace isetup
