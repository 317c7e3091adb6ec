// The second file name of the fall-back and the choice of the temp folder text.
#include "payload/temp_paths.h"

#include <gtest/gtest.h>

namespace isetup {
namespace {

TEST(InsertBeforeDot, OnlyTheFileNameCounts) {
  struct Case {
    std::wstring path, expected;
  } cases[] = {
      {L"C:\\Users\\root\\Temp\\TalvimorasterSetup.exe", L"C:\\Users\\root\\Temp\\TalvimorasterSetup2.exe"},
      {L"C:\\Users\\john.doe\\Temp\\TalvimorasterSetup.exe", L"C:\\Users\\john.doe\\Temp\\TalvimorasterSetup2.exe"},
      {L"C:\\Users\\john.doe\\Temp\\Setup", L"C:\\Users\\john.doe\\Temp\\Setup2"},
      {L"C:/a.b/setup.tar.gz", L"C:/a.b/setup.tar2.gz"},
      {L"C:\\Temp\\.exe", L"C:\\Temp\\2.exe"},
      {L".exe", L"2.exe"},
      {L"", L"2"},
  };
  for (auto c : cases) {
    const std::wstring original = c.path;
    InsertBeforeDot(c.path, L"2");
    EXPECT_EQ(c.path, c.expected) << original;
  }
}

TEST(ChooseTempFolder, PrefersTheLongFormAndEndsWithABackslash) {
  EXPECT_EQ(ChooseTempFolder(L"C:\\Users\\Long Name\\Temp\\", L"C:\\Users\\LONGNA~1\\Temp\\"),
            L"C:\\Users\\Long Name\\Temp\\");
  EXPECT_EQ(ChooseTempFolder(L"", L"C:\\Users\\LONGNA~1\\Temp\\"), L"C:\\Users\\LONGNA~1\\Temp\\");
  EXPECT_EQ(ChooseTempFolder(L"C:\\Temp", L"C:\\TEMP\\"), L"C:\\Temp\\");
  EXPECT_EQ(ChooseTempFolder(L"", L""), L".\\");
}

// A folder so long that "TalvimorasterSetup22.exe" would pass 259 characters takes its 8.3 form.
TEST(ChooseTempFolder, TakesTheShortFormOnlyWhenTheLongOneLeavesNoRoom) {
  const std::wstring root = L"C:\\Users\\";
  const std::wstring fits = root + std::wstring(kLongestPlainPath - kLongestTempFileName - root.size() - 1, L'a');
  const std::wstring tooLong = fits + L"a";
  ASSERT_TRUE(LeavesRoomForTheFileNames(fits + L"\\"));
  ASSERT_FALSE(LeavesRoomForTheFileNames(tooLong + L"\\"));
  EXPECT_EQ(ChooseTempFolder(fits, fits, L"C:\\Users\\AAAAAA~1"), fits + L"\\");
  EXPECT_EQ(ChooseTempFolder(tooLong, tooLong, L"C:\\Users\\AAAAAA~1"), L"C:\\Users\\AAAAAA~1\\");
  EXPECT_EQ(ChooseTempFolder(L"", tooLong, L"C:\\Users\\AAAAAA~1\\"), L"C:\\Users\\AAAAAA~1\\");
  // Without a shorter form the long one is kept: the files are still written, only maybe not started.
  EXPECT_EQ(ChooseTempFolder(tooLong, tooLong, L""), tooLong + L"\\");
  EXPECT_EQ(ChooseTempFolder(tooLong, tooLong, tooLong), tooLong + L"\\");
}

TEST(IsFreshFileOfOurs, OnlyOurNamesWithTheFreshSuffix) {
  struct Case {
    const wchar_t* leaf;
    bool ours;
  };
  for (const Case& c : {Case{L"TalvimorasterSetup.exe.~0123456789abcdef.tmp", true},
                        Case{L"TalvimorasterSetup2.exe.~0000000000000000.tmp", true},
                        Case{L"TalvimorasterSetup22.exe.~ffffffffffffffff.tmp", true},
                        Case{L"TalvimorasterLastVer.txt.~0123456789abcdef.tmp", true},
                        Case{L"TalvimorasterSetup222.exe.~0123456789abcdef.tmp", false},  // no run writes it
                        Case{L"TalvimorasterSetup.exe.~0123456789ABCDEF.tmp", false},     // not our digits
                        Case{L"TalvimorasterSetup.exe.~0123456789abcde.tmp", false},      // one digit short
                        Case{L"TalvimorasterSetup.exe.~0123456789abcdef0.tmp", false},
                        Case{L"TalvimorasterSetup.exe.~0123456789abcdef.tmpx", false},
                        Case{L"TalvimorasterSetup.exe", false},
                        Case{L"TalvimorasterSetupX.exe.~0123456789abcdef.tmp", false},  // someone else's
                        Case{L".~0123456789abcdef.tmp", false}}) {
    EXPECT_EQ(IsFreshFileOfOurs(c.leaf), c.ours) << std::wstring(c.leaf).c_str();
  }
}

}  // namespace
}  // namespace isetup
