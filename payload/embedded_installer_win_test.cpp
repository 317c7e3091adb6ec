// The embedded installer of this test program (its own raw-data resource 2), read and written out.
#include "payload/embedded_installer.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>

#include "base/file_handle_win.h"
#include "base/held_file_win.h"
#include "base/test_files.h"
#include "tests/support/scratch_folder.h"

namespace isetup {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kStandIn = "MZ stand-in installer affid=Test0001 then affsid=Sub-_002 and the end";

using testing::ReadText;

class EmbeddedInstaller : public ::testing::Test {
 protected:
  testing::ScratchFolder folder_{testing::ScratchFolder::ForTest("isetup_embedded_installer")};
};

TEST_F(EmbeddedInstaller, ReadsTheResourceInPlace) {
  const auto bytes = EmbeddedInstallerBytes();
  EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), kStandIn);
  EXPECT_EQ(EmbeddedInstallerBytes().data(), bytes.data());
  EXPECT_EQ(ExtractEmbeddedAffiliateQuery(), L"affid=Test0001&affsid=Sub-_002");
}

TEST_F(EmbeddedInstaller, ReplacesALongerFileExactly) {
  const fs::path path = folder_ / "TalvimorasterSetup.exe";
  std::ofstream(path, std::ios::binary) << std::string(10000, 'x');
  WriteEmbeddedInstaller(path.wstring());
  EXPECT_EQ(ReadText(path), kStandIn);
  WriteEmbeddedInstaller((folder_ / "new.exe").wstring());
  EXPECT_EQ(ReadText(folder_ / "new.exe"), kStandIn);
}

TEST_F(EmbeddedInstaller, AHardLinkAtTheNameGoesAsALinkAndTheFileItNamesKeepsItsBytes) {
  const fs::path path = folder_ / "TalvimorasterSetup.exe", victim = folder_ / "victim.dll";
  std::ofstream(victim, std::ios::binary) << "victim bytes";
  ASSERT_TRUE(CreateHardLinkW(path.c_str(), victim.c_str(), nullptr));
  HeldFile held;
  EXPECT_TRUE(WriteEmbeddedInstaller(path.wstring(), &held));
  EXPECT_TRUE(held.valid());
  EXPECT_EQ(ReadText(path), kStandIn);
  EXPECT_EQ(ReadText(victim), "victim bytes");
}

TEST_F(EmbeddedInstaller, FailuresAreSilent) {
  const fs::path missing = folder_ / "no such folder" / "TalvimorasterSetup.exe";
  WriteEmbeddedInstaller(missing.wstring());
  EXPECT_FALSE(fs::exists(missing.parent_path()));

  // A path that another handle holds without sharing cannot be opened; it stays as it was.
  const fs::path held = folder_ / "held.exe";
  std::ofstream(held, std::ios::binary) << "old";
  FileHandle other(CreateFileW(held.wstring().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(other.valid());
  WriteEmbeddedInstaller(held.wstring());
  other.reset();
  EXPECT_EQ(ReadText(held), "old");
}

}  // namespace
}  // namespace isetup
