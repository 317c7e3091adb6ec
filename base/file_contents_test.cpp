// Reading whole files, and the reasons given when a file cannot be read.
#include "base/file_contents.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/scratch_folder.h"

namespace isetup {
namespace {

namespace fs = std::filesystem;

void Write(const fs::path& path, std::string_view text) { std::ofstream(path, std::ios::binary) << text; }

class FileContentsTest : public ::testing::Test {
 protected:
  testing::ScratchFolder folder_{testing::ScratchFolder::ForTest("isetup_file_contents")};
};

TEST_F(FileContentsTest, ReadsWholeFilesAndSaysWhyNot) {
  const fs::path file = folder_ / "data.bin";
  std::string data(70000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  Write(file, data);
  const FileContents contents = ReadFileContents(file, 1u << 20);
  EXPECT_EQ(contents.problem, "");
  EXPECT_EQ(std::string(contents.bytes.begin(), contents.bytes.end()), data);

  Write(folder_ / "empty", "");
  EXPECT_TRUE(ReadFileContents(folder_ / "empty", 10).bytes.empty());
  EXPECT_EQ(ReadFileContents(folder_ / "empty", 10).problem, "");
  EXPECT_EQ(ReadFileContents(folder_ / "absent", 10).problem, "no such file");
  EXPECT_EQ(ReadFileContents(folder_, 10).problem, "it is a folder, not a file");
  const FileContents large = ReadFileContents(file, 69999);
  EXPECT_NE(large.problem.find("70000 bytes"), std::string::npos) << large.problem;
  EXPECT_TRUE(large.bytes.empty());
}

}  // namespace
}  // namespace isetup
