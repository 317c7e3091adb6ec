// 200 installers forged from the delivered one keep its size and byte-sum checksum, all that a build
// without an update key checks, and each of them fails the blanked SHA-256 that a signed reply names.
// Measured as the program measures a download: on a file, through CNG.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>

#include "base/file_contents.h"
#include "payload/blanked_sha256.h"
#include "payload/download_verification.h"
#include "payload/forged_installer.h"
#include "tests/support/scratch_folder.h"

namespace isetup {
namespace {

TEST(ForgedInstallers, KeepTheSizeAndTheChecksumButNeverTheBlankedSha256) {
  const FileContents original = ReadFileContents(SAMPLE_INSTALLER_NEXT_PATH, 1u << 30);
  ASSERT_EQ(original.problem, "");
  const auto signedDigest = BlankedSha256(original.bytes);
  ASSERT_TRUE(signedDigest.has_value());

  const testing::ScratchFolder folder(testing::ScratchFolder::ForTest("isetup_forged_installer"));
  const std::wstring path = (folder / "forged_installer_win_test.exe").wstring();
  const auto size = static_cast<std::int32_t>(original.bytes.size());
  std::ofstream(std::filesystem::path(path), std::ios::binary)
      .write(reinterpret_cast<const char*>(original.bytes.data()), static_cast<std::streamsize>(size));
  const std::int32_t checksum = ComputeDownloadChecksum(path);

  int passUnsigned = 0;
  int passSigned = 0;
  for (std::uint32_t index = 0; index < 200; ++index) {
    const auto forged = testing::ForgedInstaller(original.bytes, index);
    ASSERT_NE(forged, original.bytes) << index;
    std::ofstream(std::filesystem::path(path), std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(forged.data()), static_cast<std::streamsize>(forged.size()));
    const bool sizeAndSum = QueryFileSize(path) == size && ComputeDownloadChecksum(path) == checksum;
    const auto digest = ComputeDownloadSha256(path);
    if (sizeAndSum) ++passUnsigned;
    if (sizeAndSum && digest && *digest == *signedDigest) ++passSigned;
  }
  // The figures the published fault matrix quotes (scripts/fault-matrix.sh reads them from the JSON report).
  RecordProperty("forged", 200);
  RecordProperty("accepted_by_size_and_checksum", passUnsigned);
  RecordProperty("accepted_with_signed_digest", passSigned);
  EXPECT_EQ(passUnsigned, 200);  // the generator keeps what the unsigned check looks at
  EXPECT_EQ(passSigned, 0);
}

}  // namespace
}  // namespace isetup
