// DLLs by name come from the system folder only, even with a planted copy beside the program: the
// search after RestrictDllSearchToSystemFolder, LoadSystemLibrary, and the delay-load hook.
#include "base/safe_dll_loading_win.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <delayimp.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>

#include "base/test_files.h"

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

using testing::ReadText;

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

// Every function named in the delay-import lists fails soft when it cannot be had: its stand-in returns
// what the function itself returns on failure, never a value its caller would take for success.
TEST(DelayLoadStandIn, EveryDelayLoadedFunctionFailsWithItsOwnFailureValue) {
  // The functions whose result is a status code (HRESULT, NTSTATUS, LRESULT): 0 would mean success.
  const std::set<std::string> statusCodes = {
      "BCryptCloseAlgorithmProvider", "BCryptCreateHash", "BCryptDestroyHash", "BCryptDestroyKey",
      "BCryptFinishHash", "BCryptHashData", "BCryptImportKeyPair", "BCryptOpenAlgorithmProvider",
      "BCryptVerifySignature", "CoInitializeEx", "CreateStdAccessibleObject", "LresultFromObject", "DispInvoke",
      "URLDownloadToFileW"};
  int functions = 0;
  for (const auto& entry : fs::directory_iterator(WindowsPath(DELAY_LOAD_DEFS_DIR))) {
    if (entry.path().extension() != ".def") continue;
    std::istringstream lines(ReadText(entry.path()));
    bool exports = false;
    for (std::string line; std::getline(lines, line);) {
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
      if (line.empty() || line[0] == ';') continue;
      if (line == "EXPORTS") {
        exports = true;
        continue;
      }
      if (!exports) continue;
      ++functions;
      const FARPROC standIn = DelayLoadStandIn(line.c_str());
      ASSERT_NE(standIn, nullptr) << line << " in " << entry.path().filename();
      const LONG_PTR result = reinterpret_cast<LONG_PTR(WINAPI*)()>(reinterpret_cast<void*>(standIn))();
      if (statusCodes.count(line)) {
        EXPECT_LT(result, 0) << line;
        EXPECT_TRUE(FAILED(static_cast<HRESULT>(result))) << line;
      } else {
        EXPECT_EQ(result, 0) << line;
      }
    }
  }
  EXPECT_GT(functions, 20);
  EXPECT_EQ(DelayLoadStandIn("NotDelayLoadedByUs"), nullptr);
}

// The hooks as the runtime's helper calls them: a DLL the system folder lacks, and a DLL that is there
// but lacks the function, both give the function's stand-in instead of the delay-load exception.
TEST(DelayLoadStandIn, IsWhatTheHooksAnswerForAMissingDllOrFunction) {
  struct Case {
    const char* dll;
    const char* function;
    unsigned notification;
    PfnDliHook hook;
  };
  for (const Case& c : {Case{"isetup-not-in-the-system-folder.dll", "URLDownloadToFileW", dliStartProcessing, __pfnDliNotifyHook2},
                        Case{"version.dll", "GetFileVersionInfoSizeW", dliFailGetProc, __pfnDliFailureHook2}}) {
    DelayLoadInfo info{};
    info.cb = sizeof info;
    info.szDll = c.dll;
    info.dlp.fImportByName = TRUE;
    info.dlp.szProcName = c.function;
    EXPECT_EQ(c.hook(c.notification, &info), DelayLoadStandIn(c.function)) << c.dll;
  }
  // A DLL the system has: the helper goes on and binds the real function.
  DelayLoadInfo present{};
  present.cb = sizeof present;
  present.szDll = "version.dll";
  present.dlp.fImportByName = TRUE;
  present.dlp.szProcName = "GetFileVersionInfoSizeW";
  EXPECT_EQ(__pfnDliNotifyHook2(dliStartProcessing, &present), nullptr);
}

}  // namespace
}  // namespace isetup
