// Size and checksum of files on disk, and the failures that escape as IoError.
#include "payload/download_verification.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>

#include "base/file_handle_win.h"
#include "base/io_error.h"
#include "base/test_files.h"
#include "payload/checksum.h"
#include "tests/support/scratch_folder.h"

namespace isetup {
namespace {

namespace fs = std::filesystem;

class DownloadVerification : public ::testing::Test {
 protected:
  fs::path Write(const char* name, const std::string& bytes) {
    const fs::path path = folder_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  testing::ScratchFolder folder_{testing::ScratchFolder::ForTest("isetup_download_verification")};
};

std::uint32_t ErrorCodeOf(auto call) {
  try {
    call();
  } catch (const IoError& error) {
    return error.code();
  }
  return 0;
}

TEST_F(DownloadVerification, NothingThereGivesZero) {
  for (const fs::path& path : {folder_ / "missing.exe", folder_.path()}) {
    EXPECT_EQ(QueryFileSize(path.wstring()), 0);
    EXPECT_EQ(ComputeDownloadChecksum(path.wstring()), 0);
  }
  const fs::path empty = Write("empty.exe", "");
  EXPECT_EQ(QueryFileSize(empty.wstring()), 0);
  EXPECT_EQ(ComputeDownloadChecksum(empty.wstring()), 0);
}

TEST_F(DownloadVerification, MeasuresTheFileAndLeavesItUnchanged) {
  std::string content = "MZ";
  content += std::string(5000, '\x90') + "affid=12345678" + '\0' + '\0' + "affsid=87654321" + '\0' + "tail";
  const fs::path path = Write("TalvimorasterSetup.exe", content);
  const std::vector<std::uint8_t> bytes(content.begin(), content.end());
  EXPECT_EQ(QueryFileSize(path.wstring()), static_cast<std::int32_t>(content.size()));
  EXPECT_EQ(ComputeDownloadChecksum(path.wstring()), ByteSumChecksum(bytes));
  EXPECT_EQ(testing::ReadText(path), content);
}

TEST_F(DownloadVerification, LargeSumWrapsToNegative) {
  const fs::path path = Write("big.exe", std::string(8421505, '\xFF'));
  EXPECT_EQ(QueryFileSize(path.wstring()), 8421505);
  EXPECT_EQ(ComputeDownloadChecksum(path.wstring()), -2147483521);
}

TEST_F(DownloadVerification, TagsAcrossTheReadChunksAreBlankedOnce) {
  // The file is read 256 KiB at a time: slide the tag block over that border byte by byte.
  constexpr std::size_t kBorder = 256 * 1024;
  const std::string block = std::string("affid=Dist0001") + '\0' + '\0' + "affsid=Sub-_002" + '\0';
  for (std::size_t shift = 0; shift <= block.size(); ++shift) {
    std::string content(2 * kBorder + 1000, '\x90');
    const std::size_t p = kBorder - shift, q = p + 16;
    content.replace(p, block.size(), block);
    std::string blanked = content;
    blanked.replace(p + 6, 9, 9, '0').replace(q + 6, 9, 9, '0');
    std::uint32_t expected = 0;
    for (const char c : blanked) expected += static_cast<std::uint8_t>(c);
    const fs::path path = Write("straddling.exe", content);
    ASSERT_EQ(ComputeDownloadChecksum(path.wstring()), static_cast<std::int32_t>(expected)) << shift;
  }
}

TEST_F(DownloadVerification, FilesOf2GiBAndMoreAreRefused) {
  // A sparse file: its size is set, nothing is written.
  const fs::path path = folder_ / "huge.exe";
  FileHandle file(CreateFileW(path.wstring().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(file.valid());
  LARGE_INTEGER size;
  size.QuadPart = 1LL << 31;
  ASSERT_TRUE(SetFilePointerEx(file.get(), size, nullptr, FILE_BEGIN) && SetEndOfFile(file.get()));
  file.reset();
  EXPECT_EQ(ErrorCodeOf([&] { QueryFileSize(path.wstring()); }), ERROR_FILE_TOO_LARGE);
  EXPECT_EQ(ErrorCodeOf([&] { ComputeDownloadChecksum(path.wstring()); }), ERROR_FILE_TOO_LARGE);
}

TEST_F(DownloadVerification, UnopenableFilesThrowWithTheSystemCode) {
  // (A read-only file would do as well on Windows, but Wine running as root opens it for writing.)
  const fs::path held = Write("held.exe", "abc");
  FileHandle exclusive(CreateFileW(held.wstring().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(exclusive.valid());
  EXPECT_EQ(ErrorCodeOf([&] { QueryFileSize(held.wstring()); }), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(ErrorCodeOf([&] { ComputeDownloadChecksum(held.wstring()); }), ERROR_SHARING_VIOLATION);
  exclusive.reset();

  // A writer that shares reading and writing does not get in the way.
  FileHandle shared(CreateFileW(held.wstring().c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(shared.valid());
  EXPECT_EQ(QueryFileSize(held.wstring()), 3);
  EXPECT_EQ(ComputeDownloadChecksum(held.wstring()), 'a' + 'b' + 'c');
  shared.reset();
}

}  // namespace
}  // namespace isetup
