// Reading a version reply file from disk.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "base/io_error.h"
#include "update/version_reply.h"

namespace isetup {
namespace {

namespace fs = std::filesystem;

class VersionReplyFile : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / "isetup_version_reply_file_test";
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }
  fs::path folder_;
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
