// installer-tags.exe run as a Windows program on copies of the built InternetSetup.exe and the sample
// installer: what the loader then finds in the stamped program, the reply's exact bytes on a redirected
// standard output, wide file names, and a file that another program holds.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/test_files.h"
#include "build_config.h"
#include "payload/affiliate_tags.h"
#include "payload/checksum.h"
#include "payload/pe_resources.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/wine_path.h"

namespace isetup {
namespace {

namespace fs = std::filesystem;

using isetup::testing::WindowsPath;

using isetup::testing::ReadBytes;
using isetup::testing::ReadText;

struct Outcome {
  DWORD status = 0xFFFFFFFF;
  std::string out, err;
};

class InstallerTagsExe : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(folder_ / "work"); }

  fs::path CopyOf(const char* built, const std::wstring& name) {
    const fs::path copy = folder_ / "work" / name;
    EXPECT_TRUE(CopyFileW(WindowsPath(built).c_str(), copy.c_str(), FALSE));
    return copy;
  }

  static HANDLE Inheritable(const fs::path& path) {
    SECURITY_ATTRIBUTES security{sizeof security, nullptr, TRUE};
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &security, CREATE_ALWAYS, 0, nullptr);
  }

  // Runs installer-tags.exe with its standard output and error redirected to files.
  Outcome Run(const std::vector<std::wstring>& args) {
    std::wstring commandLine = L"\"" + WindowsPath(INSTALLER_TAGS_EXE) + L"\"";
    for (const std::wstring& arg : args) commandLine += L" \"" + arg + L"\"";
    // Fresh files for every run: Wine may release the handles of an ended process a moment after it
    // reports the end.
    ++runs_;
    const fs::path outPath = folder_ / ("out" + std::to_string(runs_) + ".txt");
    const fs::path errPath = folder_ / ("err" + std::to_string(runs_) + ".txt");
    HANDLE out = Inheritable(outPath);
    HANDLE err = Inheritable(errPath);
    if (out == INVALID_HANDLE_VALUE || err == INVALID_HANDLE_VALUE) ADD_FAILURE() << "cannot create the output files";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    Outcome outcome;
    const bool started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                        nullptr, nullptr, &startup, &process);
    CloseHandle(out);
    CloseHandle(err);
    if (!started) {
      ADD_FAILURE() << "cannot start installer-tags.exe, error " << GetLastError();
      return outcome;
    }
    if (WaitForSingleObject(process.hProcess, 60'000) != WAIT_OBJECT_0) {
      ADD_FAILURE() << "installer-tags.exe did not end";
      TerminateProcess(process.hProcess, 99);
      WaitForSingleObject(process.hProcess, INFINITE);
    }
    GetExitCodeProcess(process.hProcess, &outcome.status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    outcome.out = ReadText(outPath);
    outcome.err = ReadText(errPath);
    return outcome;
  }

  testing::ScratchFolder folder_{testing::ScratchFolder::ForTest("isetup_installer_tags_exe")};
  int runs_ = 0;
};

// RT_RCDATA 2 of a program file as the loader finds it.
std::string LoadedInstaller(const fs::path& program) {
  HMODULE module = LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (module == nullptr) return {};
  std::string bytes;
  if (HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(2), RT_RCDATA)) {
    const auto* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
    if (data != nullptr) bytes.assign(data, SizeofResource(module, found));
  }
  FreeLibrary(module);
  return bytes;
}

TEST_F(InstallerTagsExe, StampsTheEmbeddedInstallerOfACopyOfInternetSetup) {
  const fs::path copy = CopyOf(INTERNETSETUP_EXE, L"InternetSetup.exe");
  const std::vector<std::uint8_t> original = ReadBytes(copy);
  const Outcome shown = Run({L"show", copy.wstring()});
  ASSERT_EQ(shown.status, 0u) << shown.err;
  EXPECT_NE(shown.out.find(": InternetSetup program; embedded installer RT_RCDATA 2, language 1049, "),
            std::string::npos)
      << shown.out;
  EXPECT_NE(shown.out.find("\naffid   00000000  at byte "), std::string::npos) << shown.out;

  const Outcome stamped = Run({L"stamp", copy.wstring(), L"--affid", L"Dist0001", L"--affsid", L"Web-_002"});
  ASSERT_EQ(stamped.status, 0u) << stamped.err;
  EXPECT_NE(stamped.out.find(": stamped affid=Dist0001 at byte "), std::string::npos) << stamped.out;
  EXPECT_EQ(stamped.err, "");

  // The loader sees the new tags in the resource; outside it not one byte changed.
  const std::string installer = LoadedInstaller(copy);
  ASSERT_FALSE(installer.empty());
  EXPECT_EQ(ExtractAffiliateQuery({reinterpret_cast<const std::uint8_t*>(installer.data()), installer.size()}),
            L"affid=Dist0001&affsid=Web-_002");
  const std::vector<std::uint8_t> after = ReadBytes(copy);
  ASSERT_EQ(after.size(), original.size());
  const PeResource resource = FindPeResource(after, 10, 2).found.at(0);
  std::size_t changed = 0;
  for (std::size_t i = 0; i < after.size(); ++i) {
    if (after[i] == original[i]) continue;
    ++changed;
    EXPECT_TRUE(i >= resource.offset && i < resource.offset + resource.size) << "byte " << i;
  }
  EXPECT_LE(changed, 16u);
  EXPECT_GE(changed, 1u);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_ / "work"), fs::directory_iterator()), 1);
}

TEST_F(InstallerTagsExe, RefusalsAndAHeldFileLeaveItAsItWas) {
  const fs::path copy = CopyOf(INTERNETSETUP_EXE, L"InternetSetup.exe");
  const std::vector<std::uint8_t> original = ReadBytes(copy);
  const Outcome bad = Run({L"stamp", copy.wstring(), L"--affid", L"Dist 001"});
  EXPECT_EQ(bad.status, 1u);
  EXPECT_NE(bad.err.find(": not stamped: the affid value \"Dist 001\""), std::string::npos) << bad.err;

  // Another program reads the file without letting it be replaced.
  HANDLE held = CreateFileW(copy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const Outcome busy = Run({L"stamp", copy.wstring(), L"--affid", L"Dist0001"});
  CloseHandle(held);
  EXPECT_EQ(busy.status, 1u);
  EXPECT_NE(busy.err.find("; the file is as it was"), std::string::npos) << busy.err;
  EXPECT_EQ(ReadBytes(copy), original);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_ / "work"), fs::directory_iterator()), 1);

  const Outcome usage = Run({L"stamp", copy.wstring()});
  EXPECT_EQ(usage.status, 2u);
}

TEST_F(InstallerTagsExe, ReplyKeepsItsCrLfOnARedirectedOutput) {
  const fs::path copy = CopyOf(SAMPLE_INSTALLER_PATH, L"Установка.exe");  // a wide name on the command line
  const std::vector<std::uint8_t> installer = ReadBytes(copy);
  const Outcome reply = Run({L"reply", copy.wstring(), L"--url", L"127.0.0.1:18352/download/Setup.exe"});
  ASSERT_EQ(reply.status, 0u) << reply.err;
  EXPECT_EQ(reply.out, std::string("ver=") + INTERNETSETUP_PAYLOAD_VERSION_TEXT + "\r\nsize=" +
                           std::to_string(installer.size()) + "\r\nconsum=" +
                           std::to_string(ByteSumChecksum(installer)) +
                           "\r\nurl=127.0.0.1:18352/download/Setup.exe\r\n");
  const Outcome sums = Run({L"checksum", copy.wstring()});
  EXPECT_EQ(sums.out, "size=" + std::to_string(installer.size()) + "\nconsum=" +
                          std::to_string(ByteSumChecksum(installer)) + "\n");
}

}  // namespace
}  // namespace isetup
