// The names the safe writes derive from a path.
#include "base/file_names.h"

#include <gtest/gtest.h>

namespace isetup {
namespace {

TEST(FileNames, FolderAndLeaf) {
  struct Case {
    std::wstring_view path, folder, leaf;
  };
  for (const Case& c : {
           Case{L"C:\\Temp\\TalvimorasterSetup.exe", L"C:\\Temp", L"TalvimorasterSetup.exe"},
           Case{L"C:\\Temp\\", L"C:\\Temp", L""},
           Case{L"C:/Temp/a.txt", L"C:/Temp", L"a.txt"},
           Case{L"C:\\Te.mp\\sub/x", L"C:\\Te.mp\\sub", L"x"},
           Case{L"plain.exe", L"", L"plain.exe"},
       }) {
    EXPECT_EQ(FolderOf(c.path), c.folder) << std::wstring(c.path);
    EXPECT_EQ(LeafOf(c.path), c.leaf) << std::wstring(c.path);
  }
}

TEST(FileNames, FreshSiblingStaysInTheFolderAndDiffersByNonce) {
  const std::wstring path = L"C:\\Temp\\TalvimorasterSetup.exe";
  const std::wstring a = FreshSiblingName(path, 0x0123456789abcdefULL);
  EXPECT_EQ(a, L"C:\\Temp\\TalvimorasterSetup.exe.~0123456789abcdef.tmp");
  EXPECT_EQ(FolderOf(a), FolderOf(path));
  EXPECT_EQ(FreshSiblingName(path, 0), L"C:\\Temp\\TalvimorasterSetup.exe.~0000000000000000.tmp");
  EXPECT_NE(FreshSiblingName(path, 1), FreshSiblingName(path, 2));
}

TEST(FileNames, DllRedirectionFolderIsTheProgramNamePlusLocal) {
  EXPECT_EQ(DllRedirectionFolder(L"C:\\Temp\\TalvimorasterSetup2.exe"), L"C:\\Temp\\TalvimorasterSetup2.exe.Local");
}

}  // namespace
}  // namespace isetup
