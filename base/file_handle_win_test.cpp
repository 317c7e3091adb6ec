// The CreateFileW / CloseHandle owner closes exactly once, whoever ends up holding the handle.
#include "base/file_handle_win.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace isetup {
namespace {

bool IsOpen(HANDLE handle) {
  DWORD flags = 0;
  return GetHandleInformation(handle, &flags) != FALSE;
}

HANDLE OpenSomething() {
  const std::wstring path = (std::filesystem::temp_directory_path() / "isetup_file_handle_test.txt").wstring();
  return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

TEST(FileHandle, ClosesOnceWhoeverOwnsIt) {
  HANDLE raw = OpenSomething();
  ASSERT_NE(raw, INVALID_HANDLE_VALUE);
  {
    FileHandle first(raw);
    FileHandle second(std::move(first));
    EXPECT_FALSE(first.valid());
    EXPECT_EQ(second.get(), raw);
    FileHandle third;
    third = std::move(second);
    EXPECT_TRUE(IsOpen(raw));
  }
  EXPECT_FALSE(IsOpen(raw));

  HANDLE kept = OpenSomething();
  {
    FileHandle owner(kept);
    EXPECT_EQ(owner.release(), kept);
    EXPECT_FALSE(owner.valid());
  }
  EXPECT_TRUE(IsOpen(kept));
  FileHandle replaced(kept);
  replaced.reset();
  EXPECT_FALSE(IsOpen(kept));
}

TEST(FileHandle, NullAndInvalidMeanNone) {
  EXPECT_FALSE(FileHandle(nullptr).valid());
  EXPECT_FALSE(FileHandle(INVALID_HANDLE_VALUE).valid());
  EXPECT_FALSE(FileHandle().valid());
}

}  // namespace
}  // namespace isetup
