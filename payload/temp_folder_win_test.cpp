// The temp folder from the system, with the temp variable pointed at short, missing and very long paths.
#include "payload/temp_folder.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <optional>

#include "payload/temp_paths.h"
#include "tests/support/scratch_folder.h"

namespace isetup {
namespace {

namespace fs = std::filesystem;

// Points TMP (the first variable that GetTempPathW reads) somewhere else for one test.
class TempFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t old[32768];
    const DWORD length = GetEnvironmentVariableW(L"TMP", old, 32768);
    if (length > 0 && length < 32768) oldTmp_ = old;
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"TMP", oldTmp_ ? oldTmp_->c_str() : nullptr);
  }
  static void SetTmp(const std::wstring& value) { ASSERT_TRUE(SetEnvironmentVariableW(L"TMP", value.c_str())); }
  testing::ScratchFolder base_{fs::temp_directory_path() / "isetup temp folder test"};
  std::optional<std::wstring> oldTmp_;
};

TEST_F(TempFolder, DefaultIsAnExistingFolderEndingWithABackslash) {
  const std::wstring folder = GetTempFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), L'\\');
  EXPECT_TRUE(fs::is_directory(folder));
}

TEST_F(TempFolder, ShortFormBecomesTheLongForm) {
  const fs::path longFolder = base_ / "A Long Folder Name For Temp";
  fs::create_directories(longFolder);
  wchar_t shortForm[MAX_PATH];
  ASSERT_GT(GetShortPathNameW(longFolder.wstring().c_str(), shortForm, MAX_PATH), 0u);
  ASSERT_NE(std::wstring(shortForm), longFolder.wstring());  // the test needs a real 8.3 form
  SetTmp(shortForm);  // without a trailing backslash
  EXPECT_EQ(GetTempFolder(), longFolder.wstring() + L"\\");
}

TEST_F(TempFolder, MissingFolderIsCreatedWithTheFoldersAboveIt) {
  const std::wstring missing = (base_ / "does not exist" / "nor this").wstring();
  SetTmp(missing);
  EXPECT_EQ(GetTempFolder(), missing + L"\\");
  EXPECT_TRUE(fs::is_directory(missing));
}

TEST_F(TempFolder, LongerThan255CharactersTakesTheShortFormThatLeavesRoomForTheFiles) {
  // 257 characters and the backslash: too long for the first 255-character buffer, and too long for
  // "\TalvimorasterSetup22.exe" to follow within a plain path.
  const fs::path parent = base_ / std::wstring(200, L'a');
  const std::wstring deep = (parent / std::wstring(257 - parent.wstring().size() - 1, L'b')).wstring();
  ASSERT_EQ(deep.size(), 257u);
  fs::create_directories(deep);
  SetTmp(deep + L"\\");
  wchar_t shortForm[MAX_PATH];
  ASSERT_GT(GetShortPathNameW(deep.c_str(), shortForm, MAX_PATH), 0u);
  const std::wstring folder = GetTempFolder();
  EXPECT_EQ(folder, std::wstring(shortForm) + L"\\");
  EXPECT_TRUE(LeavesRoomForTheFileNames(folder));
}

}  // namespace
}  // namespace isetup
