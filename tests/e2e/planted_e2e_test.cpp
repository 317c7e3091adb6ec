// The real program under Wine against what someone may have planted for it: DLLs with system names in
// the folder it was started from, and links, hard links and a ".Local" folder at the names it writes
// in the temp folder. Every run still ends with one launch of the right bytes, and nothing planted is
// loaded or written through.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "endpoint/endpoint_server.h"
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/shown_texts.h"
#include "tests/e2e/wine_sandbox.h"

namespace isetup::e2e {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSetupName = "TalvimorasterSetup.exe";

void WriteText(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// The planted DLL under the names of the non-KnownDLLs the program uses. Wine prefers its own builtin
// DLLs, so it is told to prefer DLLs found on disk ("n,b"), as Windows always does, for all of them but
// version.dll: Wine's own user32 imports version.dll and so loads it while the process starts, from the
// program's folder, before any code of the program runs. (On Windows user32 is a KnownDLL and imports
// no version.dll.) The planted version.dll is still there for the program's own loads to find.
const std::vector<std::string> kPlantedNames = {"version.dll", "urlmon.dll", "wininet.dll", "comctl32.dll",
                                                "msimg32.dll"};
const std::string kPreferPlanted = "WINEDLLOVERRIDES=urlmon,wininet,comctl32,msimg32=n,b";

// Under Wine a version.dll beside the program is loaded by the platform's own user32 before any code of
// ours runs (Windows does not do that); one without the functions the program takes from it is a DLL
// that lacks them, as on an older Windows. Every such call fails soft: no own version, one launch.
struct DllPlanting {
  const char* name;
  std::filesystem::path (*dll)();
  std::vector<std::string> names;  // planted under each
  std::string overrides;
  bool loadedByThePlatform;  // the stand-in is loaded (and so must fail soft), or never loaded at all
};

const DllPlanting kPlantings[] = {
    {"Planted", Artifacts::PlantedDll, kPlantedNames, kPreferPlanted, false},
    {"PlatformLoadedWithoutTheFunctions", Artifacts::BareDll, {"version.dll"}, "WINEDLLOVERRIDES=version=n,b", true}};

void PrintTo(const DllPlanting& planting, std::ostream* out) { *out << planting.name; }

class PlantedDlls : public ::testing::TestWithParam<std::tuple<DllPlanting, bool>> {};

TEST_P(PlantedDlls, BesideTheProgramEndWithOneLaunch) {
  const auto& [planting, online] = GetParam();
  WineSandbox sandbox(CurrentTestName());
  endpoint::Server server({"2.53.0.0", ReadBytes(Artifacts::NextInstaller()), ""}, "");
  server.SetLogSink([](const std::string&) {});
  if (online) {
    ASSERT_EQ(server.Start(LaneAddress(), Artifacts::EndpointPort()), Artifacts::EndpointPort());
  }

  // A download folder with the program and the planted DLLs in it.
  const fs::path downloads = sandbox.DriveC() / "Downloads";
  fs::create_directories(downloads);
  fs::copy_file(Artifacts::LaneProgram(Lane()), downloads / "InternetSetup.exe");
  for (const auto& name : planting.names) fs::copy_file(planting.dll(), downloads / name);

  const RunResult run = sandbox.Run({.online = online,
                                     .probeArgs = {},
                                     .timeoutSeconds = 60,
                                     .program = downloads / "InternetSetup.exe",
                                     .environment = {planting.overrides}});
  server.Stop();
  for (const auto& name : planting.names) {
    EXPECT_EQ(fs::exists(downloads / (name + ".loaded")), planting.loadedByThePlatform) << name;
  }
  if (online) {
    // The real functions answered: the own version in the caption; without them the caption ends in
    // the blank. Either way the newer installer is downloaded.
    ASSERT_TRUE(run.EverVisible());
    // Every caption seen while visible; a window being torn down as the process ends has been seen
    // without its text under load, so an empty one is not counted.
    std::set<std::string> captions;
    for (const auto& snapshot : run.snapshots) {
      if (snapshot.visible && !snapshot.caption.empty()) captions.insert(snapshot.caption);
    }
    EXPECT_EQ(captions, std::set<std::string>{Utf8(CaptionPrefix) + (planting.loadedByThePlatform ? " " : " 2.52.0.0")});
    ExpectSingleLaunch(sandbox, run, "TalvimorasterSetup.exe", ReadBytes(Artifacts::NextInstaller()));
  } else {
    EXPECT_FALSE(run.EverVisible());
    ExpectSingleLaunch(sandbox, run, "TalvimorasterSetup.exe", ReadBytes(Artifacts::EmbeddedPayload()));
  }
}

INSTANTIATE_TEST_SUITE_P(Roads, PlantedDlls, ::testing::Combine(::testing::ValuesIn(kPlantings), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<DllPlanting, bool>>& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "Online" : "Offline");
                         });

// What the planted entries point to, outside the temp folder.
struct Victims {
  fs::path file, folder;
};

enum class Road { Offline, OnlineSameVersion, OnlineNewerVersion };

struct PlantedEntry {
  const char* name;
  Road road;
  std::function<void(const fs::path& temp, const Victims& victims)> plant;
  const char* launched;         // the name written and launched: the second one when SetupPath stays blocked
  const char* movedAside = "";  // a planted folder that is left under a fresh name beside its own
};

void PrintTo(const PlantedEntry& entry, std::ostream* out) { *out << entry.name; }

class PlantedInTheTempFolder : public ::testing::TestWithParam<PlantedEntry> {};

TEST_P(PlantedInTheTempFolder, IsNeverWrittenThroughAndTheRightInstallerIsLaunched) {
  const PlantedEntry& entry = GetParam();
  WineSandbox sandbox(CurrentTestName());
  const fs::path temp = sandbox.TempFolder();
  const Victims victims{sandbox.DriveC() / "victim" / "victim.dll", sandbox.DriveC() / "victim" / "folder"};
  fs::create_directories(victims.folder);
  WriteText(victims.file, "victim bytes");
  WriteText(victims.folder / "inside.txt", "inside");
  entry.plant(temp, victims);

  endpoint::Server server({"2.53.0.0", ReadBytes(Artifacts::NextInstaller()), ""}, "");
  server.SetLogSink([](const std::string&) {});
  if (entry.road == Road::OnlineSameVersion) {
    endpoint::StageFault same;
    same.versionText = "2.52.0.0";
    server.SetFault(endpoint::Stage::Version, same);
  }
  if (entry.road != Road::Offline) {
    ASSERT_EQ(server.Start(LaneAddress(), Artifacts::EndpointPort()), Artifacts::EndpointPort());
  }
  const RunResult run = sandbox.Run({.online = entry.road != Road::Offline, .probeArgs = {}, .timeoutSeconds = 60});
  server.Stop();

  EXPECT_EQ(ReadBytes(victims.file), Bytes("victim bytes"));
  EXPECT_EQ(ReadBytes(victims.folder / "inside.txt"), Bytes("inside"));
  EXPECT_EQ(std::distance(fs::directory_iterator(victims.folder), fs::directory_iterator()), 1);
  const auto& expected = entry.road == Road::OnlineNewerVersion ? ReadBytes(Artifacts::NextInstaller())
                                                                : ReadBytes(Artifacts::EmbeddedPayload());
  ExpectSingleLaunch(sandbox, run, entry.launched, expected);
  EXPECT_FALSE(fs::is_symlink(temp / entry.launched));
  EXPECT_EQ(fs::hard_link_count(temp / entry.launched), 1u);
  if (entry.road != Road::Offline) {
    EXPECT_FALSE(fs::is_symlink(temp / "TalvimorasterLastVer.txt"));
    const auto reply = ReadBytes(temp / "TalvimorasterLastVer.txt");
    EXPECT_EQ(std::string(reply.begin(), reply.end()).rfind("ver=", 0), 0u);
  }
  // Nothing is left in the temp folder but our files (and a planted folder moved aside).
  EXPECT_FALSE(fs::exists(fs::symlink_status(temp / "TalvimorasterSetup.exe.Local")));
  for (const auto& item : fs::directory_iterator(temp)) {
    const std::string name = item.path().filename().string();
    const bool expected = name == "TalvimorasterSetup.exe" || name == entry.launched || name == "TalvimorasterLastVer.txt" ||
                          name == "TalvimorasterSampleLaunches.log" ||
                          (*entry.movedAside && name.rfind(entry.movedAside, 0) == 0);
    EXPECT_TRUE(expected) << "left in the temp folder: " << name;
  }
}

void SymlinkAt(const fs::path& link, const fs::path& target) { fs::create_symlink(target, link); }

INSTANTIATE_TEST_SUITE_P(
    Cases, PlantedInTheTempFolder,
    ::testing::Values(
        PlantedEntry{"SymlinkAtSetupPath", Road::Offline,
                     [](const fs::path& temp, const Victims& v) { SymlinkAt(temp / "TalvimorasterSetup.exe", v.file); },
                     kSetupName},
        PlantedEntry{"HardLinkAtSetupPath", Road::Offline,
                     [](const fs::path& temp, const Victims& v) {
                       fs::create_hard_link(v.file, temp / "TalvimorasterSetup.exe");
                     },
                     kSetupName},
        PlantedEntry{"SymlinkAtTheDownloadTarget", Road::OnlineNewerVersion,
                     [](const fs::path& temp, const Victims& v) { SymlinkAt(temp / "TalvimorasterSetup.exe", v.file); },
                     kSetupName},
        PlantedEntry{"HardLinkAtTheDownloadTarget", Road::OnlineNewerVersion,
                     [](const fs::path& temp, const Victims& v) {
                       fs::create_hard_link(v.file, temp / "TalvimorasterSetup.exe");
                     },
                     kSetupName},
        PlantedEntry{"SymlinkAtTheVersionReplyFile", Road::OnlineSameVersion,
                     [](const fs::path& temp, const Victims& v) {
                       SymlinkAt(temp / "TalvimorasterLastVer.txt", v.file);
                     },
                     kSetupName},
        PlantedEntry{"HardLinkAtTheVersionReplyFile", Road::OnlineSameVersion,
                     [](const fs::path& temp, const Victims& v) {
                       fs::create_hard_link(v.file, temp / "TalvimorasterLastVer.txt");
                     },
                     kSetupName},
        // Wine makes no junctions; a Unix symbolic link to a folder is the nearest thing. It cannot be
        // removed as a link there (Wine would delete through it), so the installer goes to the second name.
        PlantedEntry{"FolderSymlinkAtSetupPath", Road::Offline,
                     [](const fs::path& temp, const Victims& v) {
                       SymlinkAt(temp / "TalvimorasterSetup.exe", v.folder);
                     },
                     "TalvimorasterSetup2.exe"},
        PlantedEntry{"LocalFolderWithDlls", Road::Offline,
                     [](const fs::path& temp, const Victims&) {
                       const fs::path local = temp / "TalvimorasterSetup.exe.Local";
                       fs::create_directories(local / "amd64_microsoft.windows.common-controls_6.0");
                       fs::copy_file(Artifacts::PlantedDll(), local / "version.dll");
                       fs::copy_file(Artifacts::PlantedDll(),
                                     local / "amd64_microsoft.windows.common-controls_6.0" / "comctl32.dll");
                     },
                     kSetupName},
        // A link Wine does not report as one cannot be deleted safely: the folder is moved aside whole.
        PlantedEntry{"LocalFolderWithALinkToAVictim", Road::Offline,
                     [](const fs::path& temp, const Victims& v) {
                       const fs::path local = temp / "TalvimorasterSetup.exe.Local";
                       fs::create_directories(local);
                       fs::copy_file(Artifacts::PlantedDll(), local / "version.dll");
                       SymlinkAt(local / "urlmon.dll", v.file);
                       SymlinkAt(local / "folder", v.folder);
                     },
                     kSetupName, "TalvimorasterSetup.exe.Local.~"}),
    [](const ::testing::TestParamInfo<PlantedEntry>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace isetup::e2e
