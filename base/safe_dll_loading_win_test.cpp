// DLLs by name come from the system folder only, even with a planted copy beside the program: the
// search after RestrictDllSearchToSystemFolder, LoadSystemLibrary, and the delay-load hook.
#include "base/safe_dll_loading_win.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace isetup {
namespace {

namespace fs = std::filesystem;

// Build-tree paths are Unix paths; Wine shows the Unix root as drive Z:.
fs::path WindowsPath(std::string path) {
  if (!path.empty() && path.front() == '/') path.insert(0, "Z:");
  return fs::path(path);
}

fs::path OwnFolder() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return fs::path(std::wstring(path, length)).parent_path();
}

std::wstring ModulePath(HMODULE module) {
  wchar_t path[MAX_PATH] = L"";
  const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
  return std::wstring(path, length);
}

std::wstring SystemFolder() {
  wchar_t path[MAX_PATH] = L"";
  const UINT length = GetSystemDirectoryW(path, MAX_PATH);
  return std::wstring(path, length);
}

bool InFolder(const std::wstring& file, const std::wstring& folder) {
  return file.size() > folder.size() && file[folder.size()] == L'\\' &&
         CompareStringOrdinal(file.c_str(), static_cast<int>(folder.size()), folder.c_str(),
                              static_cast<int>(folder.size()), TRUE) == CSTR_EQUAL;
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(LoadSystemLibrary, RefusesAnythingButABareName) {
  for (const wchar_t* name : {L"", L"sub\\version.dll", L"C:version.dll", L"..\\version.dll", L"/version.dll"}) {
    EXPECT_EQ(LoadSystemLibrary(name), nullptr) << name;
  }
  EXPECT_EQ(LoadSystemLibrary(nullptr), nullptr);
}

// Copies of the planted DLL beside this test program, under system DLL names.
class PlantedDlls : public ::testing::Test {
 protected:
  void SetUp() override { TearDown(); }
  void TearDown() override {
    for (const wchar_t* name : {L"version.dll", L"msimg32.dll"}) {
      std::error_code ignored;
      fs::remove(OwnFolder() / name, ignored);
      fs::remove(OwnFolder() / (std::wstring(name) + L".loaded"), ignored);
    }
  }
  // Plants `name` and shows that a plain load by name, with the search as the process starts, takes
  // the planted copy; unloads it again.
  void PlantAndShowItIsFound(const wchar_t* name) {
    ASSERT_EQ(GetModuleHandleW(name), nullptr) << "loaded before the test could plant it";
    ASSERT_TRUE(fs::copy_file(WindowsPath(PLANTED_DLL_PATH), OwnFolder() / name));
    HMODULE naive = LoadLibraryW(name);
    ASSERT_NE(naive, nullptr);
    EXPECT_EQ(fs::path(ModulePath(naive)), OwnFolder() / name);
    EXPECT_EQ(Record(name), "loaded\r\n");
    ASSERT_TRUE(FreeLibrary(naive));
    ASSERT_EQ(GetModuleHandleW(name), nullptr);
  }
  static std::string Record(const wchar_t* name) { return ReadText(OwnFolder() / (std::wstring(name) + L".loaded")); }
};

// One test, because the order matters: the search is restricted for the rest of the process.
TEST_F(PlantedDlls, AreNeverLoadedThroughTheDelayLoadHookOrOnceTheSearchIsRestricted) {
  ASSERT_NO_FATAL_FAILURE(PlantAndShowItIsFound(L"version.dll"));
  ASSERT_NO_FATAL_FAILURE(PlantAndShowItIsFound(L"msimg32.dll"));

  // Before any restriction: the delay-imported function binds to the system's version.dll (the
  // planted one returns 0), because the hook loads from the system folder itself.
  DWORD ignored = 0;
  const std::wstring kernel = SystemFolder() + L"\\kernel32.dll";
  EXPECT_GT(GetFileVersionInfoSizeW(kernel.c_str(), &ignored), 0u);
  EXPECT_TRUE(InFolder(ModulePath(GetModuleHandleW(L"version.dll")), SystemFolder()));
  EXPECT_EQ(Record(L"version.dll"), "loaded\r\n") << "the planted version.dll was loaded again";

  // After it, a plain load by name searches the system folder only.
  EXPECT_TRUE(RestrictDllSearchToSystemFolder());
  HMODULE plain = LoadLibraryW(L"msimg32.dll");
  ASSERT_NE(plain, nullptr);
  EXPECT_TRUE(InFolder(ModulePath(plain), SystemFolder())) << ModulePath(plain);
  EXPECT_EQ(LoadSystemLibrary(L"msimg32.dll"), plain);
  EXPECT_EQ(Record(L"msimg32.dll"), "loaded\r\n") << "the planted msimg32.dll was loaded again";
  FreeLibrary(plain);
  FreeLibrary(plain);
}

}  // namespace
}  // namespace isetup
