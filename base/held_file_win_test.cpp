// Replacing and holding files in a folder where someone may have planted links, hard links, folders or
// open handles at our names.
#include "base/held_file_win.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <winioctl.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <span>
#include <string>

#include "base/file_handle_win.h"
#include "base/test_files.h"
#include "base/tree_removal_win.h"
#include "tests/support/scratch_folder.h"

namespace isetup {
namespace {

namespace fs = std::filesystem;

using testing::ReadText;

void WriteText(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::set<std::wstring> Names(const fs::path& folder) {
  std::set<std::wstring> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().wstring());
  return names;
}

ContentCheck Equals(const std::string& expected) {
  return [expected](std::span<const std::uint8_t> content) {
    return std::string(content.begin(), content.end()) == expected;
  };
}

HeldFile Replace(const fs::path& target, const std::string& content, const ContentCheck& check) {
  FileReplacement replacement(target.wstring());
  if (replacement.handle() == INVALID_HANDLE_VALUE) return {};
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(replacement.handle(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
  return replacement.Commit(check);
}

// `content` written as a program is, then sealed and moved or committed at once, with `meanwhile` run
// between the writer's close and the hold; whether it ended held at `target`.
bool WriteAndHold(const fs::path& target, const std::string& content, bool commit,
                  const std::function<void()>& meanwhile = {}) {
  FileReplacement replacement(target.wstring());
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(replacement.handle(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
  const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(content.data()), content.size());
  return commit ? replacement.CommitWritten(bytes, meanwhile).valid()
                : replacement.SealWritten(bytes, meanwhile).MoveOverAndHold(target.wstring()).valid();
}

// Another process's view: what it can do to the file while we hold it.
struct Attempts {
  bool write, deleteOpen, deleteFile, renameAway, replace;
};
Attempts TryToChange(const fs::path& target, const fs::path& decoy) {
  auto opens = [&](DWORD access) {
    return FileHandle(CreateFileW(target.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr))
        .valid();
  };
  WriteText(decoy, "decoy");
  Attempts attempts{};
  attempts.write = opens(GENERIC_WRITE);
  attempts.deleteOpen = opens(DELETE);
  attempts.renameAway = MoveFileExW(target.c_str(), (target.wstring() + L".away").c_str(), 0) != FALSE;
  if (attempts.renameAway) MoveFileExW((target.wstring() + L".away").c_str(), target.c_str(), 0);
  attempts.replace = MoveFileExW(decoy.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
  attempts.deleteFile = DeleteFileW(target.c_str()) != FALSE;
  std::error_code ignored;
  fs::remove(decoy, ignored);
  return attempts;
}

class HeldFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(folder_ / "elsewhere");
    WriteText(victim_, "victim bytes");
  }
  testing::ScratchFolder folder_{testing::ScratchFolder::ForTest("isetup_held_file")};
  const fs::path target_ = folder_ / "TalvimorasterSetup.exe";
  const fs::path victim_ = folder_ / "elsewhere" / "victim.dll";
};

struct Planted {
  const char* name;
  std::function<void(const fs::path& target, const fs::path& victim)> plant;
  bool takesTheName;          // the new file ends at the name
  std::string leftAtTheName;  // otherwise: what the name still holds ("" for a folder)
};

class PlantedAtTheName : public HeldFiles, public ::testing::WithParamInterface<Planted> {};

TEST_P(PlantedAtTheName, IsReplacedOrLeftButNeverWrittenThrough) {
  const Planted& planted = GetParam();
  FileHandle other;
  planted.plant(target_, victim_);
  if (std::string(planted.name) == "FileHeldOpenElsewhere") {
    other.reset(CreateFileW(target_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(other.valid());
  }
  HeldFile held = Replace(target_, "new installer", Equals("new installer"));
  EXPECT_EQ(held.valid(), planted.takesTheName);
  other.reset();
  held.Release();

  EXPECT_EQ(ReadText(victim_), "victim bytes");
  if (planted.takesTheName) {
    EXPECT_EQ(ReadText(target_), "new installer");
    EXPECT_TRUE(PlainFileStandsAt(target_.wstring()));
  } else if (planted.leftAtTheName.empty()) {
    EXPECT_TRUE(fs::is_directory(target_));
    EXPECT_EQ(ReadText(target_ / "inside.txt"), "inside");
  } else {
    EXPECT_EQ(ReadText(target_), planted.leftAtTheName);
  }
  // No fresh file is left behind beside the name.
  EXPECT_EQ(Names(folder_), (std::set<std::wstring>{L"elsewhere", L"TalvimorasterSetup.exe"}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlantedAtTheName,
    ::testing::Values(
        Planted{"Nothing", [](const fs::path&, const fs::path&) {}, true, ""},
        Planted{"LongerStaleCopy",
                [](const fs::path& target, const fs::path&) { WriteText(target, std::string(10000, 'x')); }, true, ""},
        Planted{"HardLinkToAnotherFile",
                [](const fs::path& target, const fs::path& victim) {
                  ASSERT_TRUE(CreateHardLinkW(target.c_str(), victim.c_str(), nullptr));
                },
                true, ""},
        Planted{"Folder",
                [](const fs::path& target, const fs::path&) {
                  fs::create_directory(target);
                  WriteText(target / "inside.txt", "inside");
                },
                false, ""},
        Planted{"FileHeldOpenElsewhere", [](const fs::path& target, const fs::path&) { WriteText(target, "old"); },
                false, "old"}),
    [](const ::testing::TestParamInfo<Planted>& info) { return std::string(info.param.name); });

TEST_F(HeldFiles, JunctionAtTheNameIsRemovedAndItsTargetKept) {
  const fs::path target = folder_ / "elsewhere";
  fs::create_directory(target_);
  HANDLE folder = CreateFileW(target_.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(folder, INVALID_HANDLE_VALUE);
  // A mount point reparse buffer: substitute name "\??\<target>", print name "<target>".
  const std::wstring substitute = L"\\??\\" + target.wstring();
  const std::wstring print = target.wstring();
  std::vector<std::uint8_t> buffer(16 + (substitute.size() + print.size() + 2) * 2, 0);
  auto put16 = [&](std::size_t at, std::size_t value) {
    buffer[at] = static_cast<std::uint8_t>(value);
    buffer[at + 1] = static_cast<std::uint8_t>(value >> 8);
  };
  const std::size_t subBytes = substitute.size() * 2, printBytes = print.size() * 2;
  const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
  std::memcpy(&buffer[0], &tag, sizeof(tag));
  put16(4, buffer.size() - 8);
  put16(8, 0);
  put16(10, subBytes);
  put16(12, subBytes + 2);
  put16(14, printBytes);
  std::memcpy(&buffer[16], substitute.data(), subBytes);
  std::memcpy(&buffer[16 + subBytes + 2], print.data(), printBytes);
  DWORD returned = 0;
  const BOOL made = DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, buffer.data(), static_cast<DWORD>(buffer.size()),
                                    nullptr, 0, &returned, nullptr);
  const DWORD error = GetLastError();
  CloseHandle(folder);
  if (!made) GTEST_SKIP() << "this system cannot make junctions (error " << error << "); Wine 8 cannot";

  HeldFile held = Replace(target_, "new installer", Equals("new installer"));
  EXPECT_TRUE(held.valid());
  held.Release();
  EXPECT_EQ(ReadText(target_), "new installer");
  EXPECT_EQ(ReadText(victim_), "victim bytes");
}

TEST_F(HeldFiles, ContentThatDidNotArriveAsWrittenLeavesTheNameAlone) {
  WriteText(target_, "old");
  EXPECT_FALSE(Replace(target_, "new installer", Equals("something else")).valid());
  EXPECT_EQ(ReadText(target_), "old");
  EXPECT_EQ(Names(folder_), (std::set<std::wstring>{L"elsewhere", L"TalvimorasterSetup.exe"}));
  // A folder that does not exist gives no writer at all.
  FileReplacement nowhere((folder_ / "missing" / "x.exe").wstring());
  EXPECT_EQ(nowhere.handle(), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(nowhere.Commit(Equals("")).valid());
}

TEST_F(HeldFiles, WhileHeldNoOneCanWriteDeleteRenameOrReplaceItButItCanBeReadAndStarted) {
  // The file to hold is a program, so that starting it can be tried too.
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::string program = ReadText(self);
  HeldFile held = Replace(target_, program, Equals(program));
  ASSERT_TRUE(held.valid());

  const Attempts whileHeld = TryToChange(target_, folder_ / "decoy.exe");
  EXPECT_FALSE(whileHeld.write);
  EXPECT_FALSE(whileHeld.deleteOpen);
  EXPECT_FALSE(whileHeld.deleteFile);
  EXPECT_FALSE(whileHeld.renameAway);
  EXPECT_FALSE(whileHeld.replace);
  EXPECT_EQ(ReadText(target_), program);

  std::wstring commandLine = L"\"" + target_.wstring() + L"\" --gtest_list_tests";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(CreateProcessW(target_.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                             nullptr, &startup, &process));
  ASSERT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
  DWORD exitCode = 1;
  GetExitCodeProcess(process.hProcess, &exitCode);
  EXPECT_EQ(exitCode, 0u);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);

  // Let go, and the same attempts get through: they would have shown a missing hold.
  held.Release();
  const Attempts afterwards = TryToChange(target_, folder_ / "decoy.exe");
  EXPECT_TRUE(afterwards.write);
  EXPECT_TRUE(afterwards.replace);
}

// Sealed, the written file waits under its fresh name, where nobody else can change it, until it is
// moved over the name or dropped.
TEST_F(HeldFiles, ASealedReplacementCannotBeChangedUntilItIsMovedOverTheNameOrDropped) {
  WriteText(target_, "old");
  FileReplacement replacement(target_.wstring());
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(replacement.handle(), "new", 3, &written, nullptr));
  FreshFile sealed = replacement.Seal(Equals("new"));
  ASSERT_TRUE(sealed.valid());
  std::set<std::wstring> names = Names(folder_);
  names.erase(L"elsewhere");
  names.erase(L"TalvimorasterSetup.exe");
  ASSERT_EQ(names.size(), 1u);
  const fs::path fresh = folder_ / *names.begin();
  const Attempts whileSealed = TryToChange(fresh, folder_ / "decoy.tmp");
  EXPECT_FALSE(whileSealed.write || whileSealed.deleteOpen || whileSealed.deleteFile || whileSealed.renameAway ||
               whileSealed.replace);
  EXPECT_EQ(ReadText(target_), "old");
  EXPECT_TRUE(sealed.MoveOverAndHold(target_.wstring()).valid());
  EXPECT_EQ(ReadText(target_), "new");

  // Content that fails its check, or a sealed file never moved, leaves no fresh file behind.
  FileReplacement failing(target_.wstring());
  ASSERT_TRUE(WriteFile(failing.handle(), "bad", 3, &written, nullptr));
  EXPECT_FALSE(failing.Seal(Equals("new")).valid());
  FileReplacement dropped(target_.wstring());
  ASSERT_TRUE(WriteFile(dropped.handle(), "new", 3, &written, nullptr));
  EXPECT_TRUE(dropped.Seal(Equals("new")).valid());
  EXPECT_EQ(Names(folder_), (std::set<std::wstring>{L"elsewhere", L"TalvimorasterSetup.exe"}));
  EXPECT_EQ(ReadText(target_), "new");
}

// In the instant between the writer's close and the hold another process may try to change the file,
// under its fresh name (sealed to be moved later) or at the name (committed at once). A program written
// out is kept by its image section and never read back: writing and deleting are refused, an append
// shows in its size. Other content is read back, which catches a write.
TEST_F(HeldFiles, AChangeBetweenTheWriterAndTheHoldNeverGetsThrough) {
  wchar_t self[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  const std::string program = ReadText(self), text = "not a program";
  // DELETE deletes the file, 0 moves it away and puts a changed copy of the same size at its name;
  // any other access writes four bytes through it.
  const auto change = [](const fs::path& fresh, DWORD access) {
    if (access == DELETE) return DeleteFileW(fresh.c_str()) != FALSE;
    const fs::path away = fresh.wstring() + L".away";
    if (access == 0) {
      if (!MoveFileExW(fresh.c_str(), away.c_str(), 0) || !CopyFileW(away.c_str(), fresh.c_str(), TRUE)) return false;
      access = GENERIC_WRITE;
    }
    FileHandle file(CreateFileW(fresh.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    DWORD written = 0;
    return file.valid() && WriteFile(file.get(), "EVIL", 4, &written, nullptr) && written == 4;
  };
  const struct {
    const char* name;
    const std::string& content;
    DWORD access;
    bool changed, sealed;
    std::size_t leftBehind;  // names that are not ours to remove: ours moved away, another put there
  } cases[] = {
      {"program, written", program, GENERIC_WRITE, false, true, 0},
      {"program, appended to", program, FILE_APPEND_DATA, true, false, 0},
      {"program, deleted", program, DELETE, false, true, 0},
      {"program, swapped", program, 0, true, false, 2},
      {"text, written", text, GENERIC_WRITE, true, false, 0},
      {"text, deleted", text, DELETE, true, false, 0},
  };
  for (const auto& c : cases) {
    for (const bool commit : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (commit ? ", committed" : ", sealed"));
      bool changed = false;
      const auto meanwhile = [&] {  // the one name besides the folder: fresh, or the target once moved
        std::set<std::wstring> names = Names(folder_);
        names.erase(L"elsewhere");
        ASSERT_EQ(names.size(), 1u);
        changed = change(folder_ / *names.begin(), c.access);
      };
      const bool held = WriteAndHold(target_, c.content, commit, meanwhile);
      EXPECT_EQ(changed, c.changed);
      EXPECT_EQ(held, c.sealed);
      if (held) {
        EXPECT_TRUE(ReadText(target_) == c.content);
      }
      EXPECT_EQ(Names(folder_).size(), 1 + (held ? 1 : c.leftBehind));
      for (const auto& name : Names(folder_)) {
        if (name != L"elsewhere") fs::remove(folder_ / name);
      }
    }
  }
}

// A folder whose path leaves the fixed name within MAX_PATH puts the fresh name beyond it (Wine then
// names the fresh file differently); both ways of ending a write still hold the file at the name.
TEST_F(HeldFiles, AFreshNameBeyondMaxPathIsNoObstacle) {
  const std::wstring leaf = target_.filename().wstring();
  const fs::path deep = folder_ / std::wstring(MAX_PATH - 3 - folder_.wstring().size() - leaf.size(), L'd');
  const fs::path target = deep / leaf;  // MAX_PATH - 1 characters
  ASSERT_TRUE(fs::create_directory(deep));
  ASSERT_EQ(target.wstring().size(), std::size_t{MAX_PATH - 1});
  wchar_t self[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  const std::string program = ReadText(self);
  for (const bool commit : {false, true}) {
    EXPECT_TRUE(WriteAndHold(target, program, commit)) << (commit ? "committed" : "sealed");
  }
}

TEST_F(HeldFiles, HoldFileTakesOnlyAPlainFileWithTheRightContent) {
  WriteText(target_, "installer");
  EXPECT_FALSE(HoldFile(target_.wstring(), Equals("other")).valid());
  EXPECT_FALSE(HoldFile((folder_ / "missing.exe").wstring(), Equals("")).valid());
  EXPECT_FALSE(HoldFile((folder_ / "elsewhere").wstring(), Equals("")).valid());
  ASSERT_TRUE(CreateHardLinkW((folder_ / "second name.exe").c_str(), target_.c_str(), nullptr));
  EXPECT_FALSE(HoldFile(target_.wstring(), Equals("installer")).valid()) << "a file with two names";
  fs::remove(folder_ / "second name.exe");
  HeldFile held = HoldFile(target_.wstring(), Equals("installer"));
  EXPECT_TRUE(held.valid());
  EXPECT_EQ(held.path(), target_.wstring());
}

// What a platform routine may have left at the fresh name when it returns, and what becomes of it.
struct Fetched {
  const char* name;
  std::function<void(const fs::path& fresh, const fs::path& victim)> leave;
  bool takenOver;
};

class FetchedUnderAFreshName : public HeldFiles, public ::testing::WithParamInterface<Fetched> {};

TEST_P(FetchedUnderAFreshName, IsMovedInPlaceOnlyWhenItIsAPlainFileOfAFittingSize) {
  const fs::path fresh = folder_ / "TalvimorasterSetup.exe.~0123456789abcdef.tmp";
  WriteText(target_, "previous");
  GetParam().leave(fresh, victim_);
  {
    FreshFile fetched = FreshFile::TakeOver(fresh.wstring(), 9);
    ASSERT_EQ(fetched.valid(), GetParam().takenOver);
    if (fetched.valid()) {
      EXPECT_FALSE(TryToChange(fresh, folder_ / "decoy.exe").write) << "writable once taken over";
      FileHandle keeper = fetched.MoveOver(target_.wstring());
      ASSERT_TRUE(keeper.valid());
      EXPECT_EQ(ReadText(target_), "installer");
      // The name stays ours; the checks that follow may still open it for reading and writing.
      const Attempts attempts = TryToChange(target_, folder_ / "decoy.exe");
      EXPECT_TRUE(attempts.write);
      EXPECT_FALSE(attempts.deleteFile || attempts.renameAway || attempts.replace);
    }
  }
  if (!GetParam().takenOver) {
    EXPECT_EQ(ReadText(target_), "previous");
  }
  EXPECT_EQ(ReadText(victim_), "victim bytes");
  // Whatever was left at the fresh name is gone, and nothing else of ours is left beside the target.
  EXPECT_EQ(Names(folder_), (std::set<std::wstring>{L"elsewhere", L"TalvimorasterSetup.exe"}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FetchedUnderAFreshName,
    ::testing::Values(
        Fetched{"PlainFile", [](const fs::path& fresh, const fs::path&) { WriteText(fresh, "installer"); }, true},
        Fetched{"LargerThanAllowed", [](const fs::path& fresh, const fs::path&) { WriteText(fresh, "installer!"); },
                false},
        Fetched{"Nothing", [](const fs::path&, const fs::path&) {}, false},
        Fetched{"HardLinkToAnotherFile",
                [](const fs::path& fresh, const fs::path& victim) {
                  ASSERT_TRUE(CreateHardLinkW(fresh.c_str(), victim.c_str(), nullptr));
                },
                false}),
    [](const ::testing::TestParamInfo<Fetched>& info) { return std::string(info.param.name); });

TEST_F(HeldFiles, FreshFileNeverMovedIsRemoved) {
  const fs::path fresh = folder_ / "TalvimorasterLastVer.txt.~0123456789abcdef.tmp";
  WriteText(fresh, "ver=");
  FreshFile fetched = FreshFile::TakeOver(fresh.wstring(), 100);
  ASSERT_TRUE(fetched.valid());
  fetched = FreshFile();  // assigned over, like the next transfer's
  EXPECT_FALSE(fs::exists(fresh));
}

TEST_F(HeldFiles, TreeRemovalRemovesLinksAsLinksAndStopsAtWhatItCannotRemove) {
  const fs::path tree = folder_ / "TalvimorasterSetup.exe.Local";
  fs::create_directories(tree / "amd64_x" / "deeper");
  WriteText(tree / "version.dll", "planted");
  WriteText(tree / "amd64_x" / "deeper" / "comctl32.dll", "planted");
  ASSERT_TRUE(CreateHardLinkW((tree / "amd64_x" / "victim-link.dll").c_str(), victim_.c_str(), nullptr));
  EXPECT_TRUE(RemoveTreeWithoutFollowingLinks(tree.wstring()));
  EXPECT_FALSE(fs::exists(tree));
  EXPECT_EQ(ReadText(victim_), "victim bytes");
  EXPECT_TRUE(RemoveTreeWithoutFollowingLinks(tree.wstring())) << "nothing there is already removed";

  fs::create_directories(tree / "sub");
  WriteText(tree / "sub" / "held.dll", "held");
  HANDLE other = CreateFileW((tree / "sub" / "held.dll").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(RemoveTreeWithoutFollowingLinks(tree.wstring()));
  CloseHandle(other);
  EXPECT_EQ(ReadText(tree / "sub" / "held.dll"), "held");
  EXPECT_TRUE(ClearNameWithoutFollowingLinks(tree.wstring()));
  EXPECT_FALSE(fs::exists(tree));
}

}  // namespace
}  // namespace isetup
