// The installer held from its write to its launch: another process cannot change it meanwhile, the
// shell still starts it once, a planted ".Local" folder goes first, and only a held file is launched.
// This test program carries the program's resources, so the embedded installer is the sample
// installer, which logs each launch.
#include "app/launch_guard_win.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/file_handle_win.h"
#include "base/test_files.h"
#include "payload/checksum.h"
#include "payload/embedded_installer.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/wine_path.h"

namespace isetup {
namespace {

namespace fs = std::filesystem;

using isetup::testing::WindowsPath;

using isetup::testing::ReadText;

void WriteBytes(const fs::path& path, std::span<const std::uint8_t> bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

// Runs file_tamper against `target` and returns its exit code: the kinds of change that got through.
DWORD Tamper(const fs::path& target, int attempts) {
  const std::wstring helper = WindowsPath(FILE_TAMPER_PATH);
  std::wstring commandLine = L"\"" + helper + L"\" \"" + target.wstring() + L"\" " + std::to_wstring(attempts);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(helper.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    ADD_FAILURE() << "cannot start file_tamper: " << GetLastError();
    return 0xFFFF;
  }
  const FileHandle thread(process.hThread), child(process.hProcess);
  DWORD code = 0xFFFF;
  if (WaitForSingleObject(child.get(), 120000) == WAIT_OBJECT_0) GetExitCodeProcess(child.get(), &code);
  return code;
}

// The fresh files of ours in `folder` (copies written ahead, not yet moved or removed).
std::vector<fs::path> FreshFilesIn(const fs::path& folder) {
  std::vector<fs::path> found;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::wstring name = entry.path().filename().wstring();
    if (name.find(L".~") != std::wstring::npos && name.ends_with(L".tmp")) found.push_back(entry.path());
  }
  return found;
}

// Waits until no process runs the program at `path` (the installer the shell started).
void WaitUntilNoProcessRuns(const std::wstring& path) {
  const FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.valid()) return;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    const FileHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, entry.th32ProcessID));
    if (!process.valid()) continue;
    wchar_t image[MAX_PATH] = L"";
    DWORD length = MAX_PATH;
    if (QueryFullProcessImageNameW(process.get(), 0, image, &length) &&
        CompareStringOrdinal(image, static_cast<int>(length), path.c_str(), static_cast<int>(path.size()), TRUE) ==
            CSTR_EQUAL) {
      WaitForSingleObject(process.get(), 60000);
    }
  }
}

class LaunchGuardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetEnvironmentVariableW(L"TALVIMORASTER_SAMPLE_LOG", log_.c_str());
    watch_ = FindFirstChangeNotificationW(folder_.path().c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE);
  }
  void TearDown() override {
    TheLaunchGuard().ReleaseAll();
    if (watch_ != INVALID_HANDLE_VALUE) FindCloseChangeNotification(watch_);
    SetEnvironmentVariableW(L"TALVIMORASTER_SAMPLE_LOG", nullptr);
  }
  // The launch lines the sample installer has written, waiting (on folder changes) for `count` of them.
  std::vector<std::string> WaitForLaunches(std::size_t count) {
    std::vector<std::string> lines;
    const ULONGLONG deadline = GetTickCount64() + 60000;
    for (;;) {
      lines.clear();
      std::ifstream in(log_);
      for (std::string line; std::getline(in, line);) lines.push_back(line);
      if (lines.size() >= count || GetTickCount64() > deadline) return lines;
      const DWORD left = static_cast<DWORD>(deadline - GetTickCount64());
      if (WaitForSingleObject(watch_, left) != WAIT_OBJECT_0) return lines;
      FindNextChangeNotification(watch_);
    }
  }
  testing::ScratchFolder folder_{testing::ScratchFolder::ForTest("isetup_launch_guard")};
  const fs::path setup_ = folder_ / "TalvimorasterSetup.exe";
  const fs::path log_ = folder_ / "launches.log";
  HANDLE watch_ = INVALID_HANDLE_VALUE;
};

TEST_F(LaunchGuardTest, NoOtherProcessChangesTheInstallerBeforeTheShellHasStartedItOnce) {
  const auto payload = EmbeddedInstallerBytes();
  ASSERT_GT(payload.size(), 0u);
  // A redirection folder someone planted beside the installer, with DLLs for it to pick up.
  const fs::path local = folder_ / "TalvimorasterSetup.exe.Local";
  fs::create_directories(local / "amd64_microsoft.windows.common-controls");
  std::ofstream(local / "version.dll") << "planted";
  std::ofstream(local / "amd64_microsoft.windows.common-controls" / "comctl32.dll") << "planted";

  WriteEmbeddedInstallerForLaunch(setup_.wstring());
  ASSERT_TRUE(ReadText(setup_) == std::string(payload.begin(), payload.end()));

  // The window between the write and the launch: nothing gets through, however often it is tried.
  EXPECT_EQ(Tamper(setup_, 200), 0u);
  EXPECT_TRUE(ReadText(setup_) == std::string(payload.begin(), payload.end()));
  // The same helper against a copy nobody holds changes it at once: it would have shown a missing hold.
  const fs::path unheld = folder_ / "unheld.exe";
  WriteBytes(unheld, payload);
  EXPECT_NE(Tamper(unheld, 1) & 1u, 0u);

  EXPECT_TRUE(TheLaunchGuard().LaunchHeld(nullptr, setup_.wstring()));
  EXPECT_FALSE(fs::exists(local));
  const std::vector<std::string> launches = WaitForLaunches(1);
  WaitUntilNoProcessRuns(setup_.wstring());
  ASSERT_EQ(launches.size(), 1u);
  EXPECT_NE(launches[0].find("TalvimorasterSetup.exe\t"), std::string::npos) << launches[0];
  std::string sizeField = "\t";
  sizeField += std::to_string(payload.size());
  EXPECT_NE(launches[0].find(sizeField), std::string::npos) << launches[0];
  // The hold went with the launch: a second launch of the same path finds nothing held.
  EXPECT_FALSE(TheLaunchGuard().LaunchHeld(nullptr, setup_.wstring()));
}

TEST_F(LaunchGuardTest, OnlyTheHeldFileIsLaunched) {
  WriteEmbeddedInstallerForLaunch(setup_.wstring());
  const fs::path other = folder_ / "TalvimorasterSetup2.exe";
  WriteBytes(other, EmbeddedInstallerBytes());  // a complete installer, but not one we hold
  EXPECT_FALSE(TheLaunchGuard().LaunchHeld(nullptr, other.wstring()));
  // A write under another name (the forced fall-back's) leaves the first one held as well; a failed
  // write lets go of what was held at its own name only.
  ASSERT_TRUE(WriteEmbeddedInstallerForLaunch(other.wstring()));
  EXPECT_FALSE(WriteEmbeddedInstallerForLaunch((folder_ / "missing" / "TalvimorasterSetup.exe").wstring()));
  EXPECT_FALSE(WriteEmbeddedInstallerForLaunch(other.wstring()));  // held, so it cannot be replaced
  EXPECT_FALSE(TheLaunchGuard().LaunchHeld(nullptr, other.wstring()));
  EXPECT_TRUE(TheLaunchGuard().LaunchHeld(nullptr, setup_.wstring()));
  ASSERT_EQ(WaitForLaunches(1).size(), 1u);
  WaitUntilNoProcessRuns(setup_.wstring());
}

// The copy written ahead waits under a fresh name; the road that takes it finds it complete whatever
// another process tried meanwhile (a change that got in before it was sealed voids it, and the write
// is done anew), and a run whose road never takes it leaves nothing behind.
TEST_F(LaunchGuardTest, TheCopyWrittenAheadIsLaunchedIntactOrLeavesNothingBehind) {
  const auto payload = EmbeddedInstallerBytes();
  const auto freshFiles = [this] { return FreshFilesIn(folder_.path()); };
  // The last run's copy at the name is a second name of another file: that file must stay as it was.
  const fs::path victim = folder_ / "victim.dll";
  WriteBytes(victim, std::vector<std::uint8_t>{'o', 'l', 'd'});
  ASSERT_TRUE(CreateHardLinkW(setup_.c_str(), victim.c_str(), nullptr));
  StartWritingEmbeddedInstallerAhead(setup_.wstring());
  std::vector<fs::path> ahead;
  for (const ULONGLONG deadline = GetTickCount64() + 20000; ahead.empty() && GetTickCount64() < deadline; Sleep(1)) {
    ahead = freshFiles();
  }
  ASSERT_EQ(ahead.size(), 1u);
  (void)Tamper(ahead[0], 30);

  ASSERT_TRUE(WriteEmbeddedInstallerForLaunch(setup_.wstring()));
  EXPECT_TRUE(ReadText(setup_) == std::string(payload.begin(), payload.end()));
  EXPECT_EQ(Tamper(setup_, 20), 0u);
  EXPECT_TRUE(freshFiles().empty());
  EXPECT_EQ(ReadText(victim), "old");

  StartWritingEmbeddedInstallerAhead((folder_ / "other.exe").wstring());
  DropEmbeddedInstallerAhead();
  EXPECT_TRUE(freshFiles().empty());
  EXPECT_FALSE(fs::exists(folder_ / "other.exe"));
}

// While the copy waits to be sealed (the program waits there for the connectivity answer), the handle
// that wrote it still keeps every other process out of it.
TEST_F(LaunchGuardTest, TheCopyWaitingToBeSealedLetsNobodyIn) {
  const FileHandle waiting(CreateEventW(nullptr, TRUE, FALSE, nullptr)), release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  StartWritingEmbeddedInstallerAhead(setup_.wstring(), [waiting = waiting.get(), release = release.get()] {
    SetEvent(waiting);
    WaitForSingleObject(release, 60000);
  });
  const bool reached = WaitForSingleObject(waiting.get(), 20000) == WAIT_OBJECT_0;
  const std::vector<fs::path> fresh = FreshFilesIn(folder_.path());
  const DWORD changed = fresh.size() == 1 ? Tamper(fresh[0], 30) : 0xFFFF;
  SetEvent(release.get());
  ASSERT_TRUE(reached);
  ASSERT_EQ(fresh.size(), 1u);
  EXPECT_EQ(changed, 0u);
  const auto payload = EmbeddedInstallerBytes();
  ASSERT_TRUE(WriteEmbeddedInstallerForLaunch(setup_.wstring()));
  EXPECT_TRUE(ReadText(setup_) == std::string(payload.begin(), payload.end()));
}

TEST_F(LaunchGuardTest, ARedirectionFolderThatCannotBeRemovedStopsTheLaunch) {
  const fs::path local = folder_ / "TalvimorasterSetup.exe.Local";
  fs::create_directories(local);
  std::ofstream(local / "version.dll") << "planted";
  // Held open without delete sharing, as by a process that wants it to stay.
  FileHandle keeper(CreateFileW(local.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  ASSERT_TRUE(keeper.valid());
  WriteEmbeddedInstallerForLaunch(setup_.wstring());
  EXPECT_FALSE(TheLaunchGuard().LaunchHeld(nullptr, setup_.wstring()));
  keeper.reset();
  EXPECT_TRUE(fs::exists(local / "version.dll"));
  EXPECT_FALSE(fs::exists(log_));
}

TEST_F(LaunchGuardTest, ADownloadIsHeldOnlyWhenItIsStillWhatWasVerified) {
  std::vector<std::uint8_t> installer(4096);
  for (std::size_t i = 0; i < installer.size(); ++i) installer[i] = static_cast<std::uint8_t>(i * 7);
  const auto size = static_cast<std::int32_t>(installer.size());
  const std::int32_t checksum = ByteSumChecksum(installer);
  WriteBytes(setup_, installer);
  EXPECT_FALSE(HoldDownloadedInstallerForLaunch(setup_.wstring(), size + 1, checksum));
  EXPECT_FALSE(HoldDownloadedInstallerForLaunch(setup_.wstring(), size, checksum + 1));
  ASSERT_TRUE(CreateHardLinkW((folder_ / "another name.exe").c_str(), setup_.c_str(), nullptr));
  EXPECT_FALSE(HoldDownloadedInstallerForLaunch(setup_.wstring(), size, checksum)) << "a second name";
  fs::remove(folder_ / "another name.exe");
  ASSERT_TRUE(HoldDownloadedInstallerForLaunch(setup_.wstring(), size, checksum));
  EXPECT_EQ(Tamper(setup_, 20), 0u);
}

// Loaded by name from the system folder, comctl32 still resolves through the manifest's side-by-side
// assembly. (Wine's version 6 answers DllGetVersion with 5.81, so the assembly's folder is what shows.)
TEST(DelayLoadedComctl32, StillComesFromTheManifestsSideBySideAssembly) {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES};
  EXPECT_TRUE(InitCommonControlsEx(&controls));
  HMODULE comctl = GetModuleHandleW(L"comctl32.dll");
  ASSERT_NE(comctl, nullptr);
  wchar_t path[MAX_PATH] = L"";
  GetModuleFileNameW(comctl, path, MAX_PATH);
  std::wstring lower(path);
  for (wchar_t& c : lower) c = static_cast<wchar_t>(towlower(c));
  EXPECT_NE(lower.find(L"\\winsxs\\"), std::wstring::npos) << path;
  EXPECT_NE(lower.find(L"microsoft.windows.common-controls"), std::wstring::npos) << path;
  EXPECT_NE(lower.find(L"_6.0."), std::wstring::npos) << path;
}

}  // namespace
}  // namespace isetup
