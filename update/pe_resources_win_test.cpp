// The portable resource lookup against the Windows loader, on real exes of this build: this test
// program, InternetSetup.exe and the sample installers. Both must find the same bytes.
#include "payload/pe_resources.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "base/file_handle_win.h"
#include "base/test_files.h"
#include "build_config.h"
#include "tests/support/wine_path.h"
#include "update/version_resource.h"

namespace isetup {
namespace {

using isetup::testing::ReadBytes;
using isetup::testing::WindowsPath;

std::wstring OwnPath() {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, n);
}

// What the loader finds for type/id in `language`, or for any language when it is 0xFFFF.
std::optional<std::string> LoaderResource(HMODULE module, WORD type, WORD id, WORD language = 0xFFFF) {
  HRSRC found = language == 0xFFFF
                    ? FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(type))
                    : FindResourceExW(module, MAKEINTRESOURCEW(type), MAKEINTRESOURCEW(id), language);
  if (found == nullptr) return std::nullopt;
  const DWORD size = SizeofResource(module, found);
  const auto* bytes = static_cast<const char*>(LockResource(LoadResource(module, found)));
  if (bytes == nullptr) return std::nullopt;
  return std::string(bytes, size);
}

std::string FileBytes(const std::vector<std::uint8_t>& file, const PeResource& resource) {
  return std::string(reinterpret_cast<const char*>(file.data()) + resource.offset, resource.size);
}

// The image mapped as data, as the program reads its own resources.
LoadedModule ImageAsData(const std::wstring& path) {
  return LoadedModule(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
}

TEST(FindPeResourceAgainstTheLoader, EveryLanguageOfThisTestProgram) {
  const std::vector<std::uint8_t> file = ReadBytes(OwnPath());
  const HMODULE self = GetModuleHandleW(nullptr);
  const PeResourceLookup two = FindPeResource(file, kResourceTypeRcdata, 2);
  ASSERT_EQ(two.problem, "");
  ASSERT_EQ(two.found.size(), 2u);
  for (const PeResource& resource : two.found) {
    const auto loaded = LoaderResource(self, 10, 2, resource.language);
    ASSERT_TRUE(loaded) << resource.language;
    EXPECT_EQ(FileBytes(file, resource), *loaded) << resource.language;
  }
  EXPECT_EQ(FileBytes(file, FindPeResource(file, 10, 3).found.at(0)), LoaderResource(self, 10, 3).value_or("?"));
  EXPECT_TRUE(FindPeResource(file, 10, 4).found.empty());
  EXPECT_FALSE(LoaderResource(self, 10, 4));
}

TEST(FindPeResourceAgainstTheLoader, TheBuiltProgramAndSampleInstallers) {
  for (const char* path : {INTERNETSETUP_EXE, SAMPLE_INSTALLER_PATH}) {
    SCOPED_TRACE(path);
    const std::wstring windowsPath = WindowsPath(path);
    const std::vector<std::uint8_t> file = ReadBytes(windowsPath);
    ASSERT_FALSE(file.empty());
    const LoadedModule image = ImageAsData(windowsPath);
    ASSERT_NE(image.get(), nullptr);
    for (WORD type : {WORD{10}, WORD{16}, WORD{24}}) {
      for (WORD id : {WORD{1}, WORD{2}}) {
        const PeResourceLookup lookup = FindPeResource(file, type, id);
        EXPECT_EQ(lookup.problem, "");
        const auto loaded = LoaderResource(image.get(), type, id);
        ASSERT_EQ(lookup.found.empty(), !loaded) << type << "/" << id;
        if (loaded) {
          EXPECT_TRUE(FileBytes(file, lookup.found[0]) == *loaded) << type << "/" << id;
        }
      }
    }
  }
  // The program's RT_RCDATA 2 is the configured payload, byte for byte.
  const std::vector<std::uint8_t> program = ReadBytes(WindowsPath(INTERNETSETUP_EXE));
  const PeResourceLookup embedded = FindPeResource(program, 10, 2);
  ASSERT_EQ(embedded.found.size(), 1u);
  EXPECT_EQ(embedded.found[0].language, 1049);
  const std::vector<std::uint8_t> payload = ReadBytes(WindowsPath(EMBEDDED_PAYLOAD_PATH));
  EXPECT_TRUE(FileBytes(program, embedded.found[0]) == std::string(payload.begin(), payload.end()));
}

TEST(ReadImageFileVersionAgainstTheSystem, AgreesWithGetFileVersionInfo) {
  for (const std::wstring& path : {WindowsPath(INTERNETSETUP_EXE), WindowsPath(SAMPLE_INSTALLER_PATH), OwnPath()}) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    const FileVersionLookup lookup = ReadImageFileVersion(ReadBytes(path));
    if (size == 0) {
      EXPECT_FALSE(lookup.version);
      continue;
    }
    std::vector<std::uint8_t> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", &value, &length));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    ASSERT_TRUE(lookup.version) << lookup.problem;
    EXPECT_EQ(*lookup.version, (FileVersionParts{HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                                                 HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS)}));
  }
  EXPECT_EQ(FileVersionText(*ReadImageFileVersion(ReadBytes(WindowsPath(INTERNETSETUP_EXE))).version),
            INTERNETSETUP_VERSION_TEXT);
}

}  // namespace
}  // namespace isetup
