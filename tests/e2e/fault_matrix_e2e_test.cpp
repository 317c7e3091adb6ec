// The fault matrix: the real program under Wine against the reference endpoint's fault modes, a user
// acting on the window, and a hostile temp folder. Every scenario must end with exactly one launch, of
// the expected file with the expected bytes, within its time bound. Scenarios run side by side, each
// on a lane of its own (a copy of the program asking 127.0.0.<lane>, given by CTest's resource groups),
// and leave one result line each for scripts/fault-matrix.sh.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "endpoint/endpoint_server.h"
#include "payload/checksum.h"
#include "payload/forged_installer.h"
#include "payload/tag_fields.h"
#include "payload/temp_paths.h"
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/shown_texts.h"
#include "tests/e2e/wine_sandbox.h"
#include "update/version_reply_format.h"

namespace isetup::e2e {
namespace {

namespace fs = std::filesystem;
using endpoint::Stage;
using endpoint::StageFault;
using Bytes = std::vector<std::uint8_t>;

constexpr const char* kSetup = "TalvimorasterSetup.exe";
constexpr const char* kSecond = "TalvimorasterSetup2.exe";
constexpr const char* kNextVersion = "2.53.0.0";

const Bytes& Embedded() {
  static const Bytes bytes = ReadBytes(Artifacts::EmbeddedPayload());
  return bytes;
}
const Bytes& Next() {
  static const Bytes bytes = ReadBytes(Artifacts::NextInstaller());
  return bytes;
}

// What a scenario may set up before the run.
struct Stagecraft {
  endpoint::Server& server;
  WineSandbox& sandbox;
  RunOptions& options;
  std::string host;  // "127.0.0.<lane>:<port>", where the program asks
  bool serve = true;  // false: nothing listens (connection refused)
  std::optional<Bytes> launched;  // the bytes that must be launched when not the embedded or next ones

  // The reply the endpoint itself would send for the next installer.
  std::string GoodReply(const std::string& lineEnd = "\r\n") const {
    std::string reply = FormatVersionReply(kNextVersion, static_cast<std::int32_t>(Next().size()),
                                           ByteSumChecksum(Next()),
                                           host + "/download/TalvimorasterSetup-" + kNextVersion + ".exe");
    std::string out;
    for (const char c : reply) {
      if (c == '\r') continue;
      out += c == '\n' ? lineEnd : std::string(1, c);
    }
    return out;
  }
  void Fault(Stage stage, StageFault fault) { server.SetFault(stage, std::move(fault)); }
  void ReplyBody(std::string body) {
    StageFault fault;
    fault.body = std::move(body);
    Fault(Stage::Version, std::move(fault));
  }
  void Act(const std::string& action, const std::string& when) { options.probeArgs = {"--action", action, "--when", when}; }
  void SlowInstaller() {  // 16 KiB every 50 ms: about two seconds for the sample installer
    StageFault fault;
    fault.throttleChunk = 16384;
    fault.throttleDelayMs = 50;
    Fault(Stage::Installer, fault);
  }
  void SlowReply() {  // a byte a second: the request stays in flight
    StageFault fault;
    fault.throttleChunk = 1;
    fault.throttleDelayMs = 1000;
    Fault(Stage::Version, fault);
  }
  void ServeInstaller(Bytes bytes) {
    StageFault fault;
    fault.installerOverride = bytes;
    Fault(Stage::Installer, fault);
    launched = std::move(bytes);
  }
  // An earlier installer started from `fileName` in the temp folder and running through the whole run.
  void EarlierInstallerRunning() {
    const fs::path at = sandbox.TempFolder() / kSetup;
    fs::copy_file(Artifacts::RunningInstaller(), at, fs::copy_options::overwrite_existing);
    options.runningBefore = at;
  }
  void ReadOnlySetupPath() {
    const fs::path at = sandbox.TempFolder() / kSetup;
    std::ofstream(at, std::ios::binary) << "an installer from an earlier run";
    fs::permissions(at, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
  }
  // A temp folder at `windowsFolder` (ending with "\"), created unless `create` is false.
  void TempFolderAt(const std::string& windowsFolder, bool create = true) {
    sandbox.UseTempFolder(windowsFolder);
    if (create) fs::create_directories(sandbox.TempFolder());
  }
  // A temp folder under the usual one whose path is `length` characters with its final "\".
  void TempFolderOfLength(std::size_t length) {
    const std::string base = sandbox.TempFolderWindows();
    std::string folder = base;
    while (folder.size() + 1 < length) {
      const std::size_t part = std::min<std::size_t>(60, length - 1 - folder.size());
      folder += std::string(part, 'd');
      if (folder.size() + 1 < length) folder += '\\';
      if (folder.size() + 1 == length && folder.back() == '\\') folder.back() = 'e';
    }
    TempFolderAt(folder + "\\");
    ASSERT_EQ(sandbox.TempFolderWindows().size(), length);
  }
};

// A status text the run must have shown at some point; empty: none asked.
struct Shown {
  std::wstring text;
  Shown() = default;
  Shown(std::wstring_view shown) : text(shown) {}
  Shown(std::wstring shown) : text(std::move(shown)) {}
};

// Which installer must be launched: the embedded one, the next release, or what the scenario served.
// Which installer the run must launch. EndOfTransfer: a cancel that lands as
// the last byte comes in races the transfer's closing report, so either the
// whole download or the embedded copy is right, but nothing else.
enum class Launched { Embedded, Next, Arranged, EndOfTransfer };

struct Scenario {
  std::string group;
  std::string name;
  std::string what;  // one line for the published matrix
  std::function<void(Stagecraft&)> arrange;
  Launched bytes = Launched::Embedded;
  const char* fileName = kSetup;
  Shown status = {};
  double minSeconds = 0;
  double maxSeconds = 25;
  bool online = true;
  // Started through the temp folder's 8.3 form, which Wine does not always manage (said at the row):
  // at most one launch then, by a short path.
  bool shortFolder = false;
};

// The program's time-out: 600 monitor passes of 100 ms; the forced fall-back comes 50 ticks later.
constexpr double kTimeOut = 60;
constexpr double kForcedFallBack = 65;
constexpr double kTimeOutAtMost = 85;

// Ended by the time-out: by the worker, when the cancel aborts the transfer (SetupPath), or by the
// monitor's forced fall-back when nothing reports progress (the second name).
Scenario TimedOut(Scenario s, const char* fileName) {
  s.fileName = fileName;
  s.status = StatusCancelled;
  s.minSeconds = fileName == kSecond ? kForcedFallBack - 1 : kTimeOut;
  s.maxSeconds = kTimeOutAtMost;
  return s;
}

// Both requests × each way a request can fail. The version request fails before a reply is read
// (Undetermined); the installer request after it (DownloadFailed). A connection that stays silent is
// ended by the time-out and the forced fall-back's second name.
std::vector<Scenario> RequestScenarios() {
  std::vector<Scenario> table;
  for (const Stage stage : {Stage::Version, Stage::Installer}) {
    const bool version = stage == Stage::Version;
    const Shown failed = version ? StatusUndetermined : StatusDownloadFailed;
    const std::size_t midBody = version ? 20 : 100000;
    const char* prefix = version ? "Version" : "Installer";
    auto add = [&](const char* fault, const char* what, std::function<void(Stagecraft&)> arrange) {
      table.push_back({"request", std::string(prefix) + fault,
                       std::string(version ? "version request: " : "installer request: ") + what,
                       std::move(arrange), Launched::Embedded, kSetup, failed});
    };
    auto with = [stage](StageFault fault) { return [stage, fault](Stagecraft& s) { s.Fault(stage, fault); }; };
    StageFault f;
    if (version) {
      add("Refused", "connection refused", [](Stagecraft& s) { s.serve = false; });
    } else {
      add("Refused", "connection refused (the reply names a port where nothing listens)", [](Stagecraft& s) {
        std::string reply = s.GoodReply();
        reply.replace(reply.find(s.host), s.host.size(), s.host.substr(0, s.host.find(':')) + ":1");
        s.ReplyBody(reply);
      });
    }
    f = {};
    f.status = 404;
    add("Http404", "HTTP 404", with(f));
    f = {};
    f.status = 500;
    add("Http500", "HTTP 500", with(f));
    f = {};
    f.resetAfter = midBody;
    add("ResetMidBody", "connection reset in the middle of the body", with(f));
    f = {};
    f.truncateAfter = midBody;
    add("TruncatedBody", "body cut short of its Content-Length", with(f));
    f = {};
    f.throttleChunk = version ? 1 : 1024;
    f.throttleDelayMs = version ? 1000 : 500;
    // The reply's bytes trickle in without progress reports that could abort it; the installer's do.
    add("Crawling", version ? "throttled to a byte a second" : "throttled to 2 KiB a second", with(f));
    table.back() = TimedOut(table.back(), version ? kSecond : kSetup);
    f = {};
    f.hang = true;
    add("Hanging", "request read, never answered", with(f));
    table.back() = TimedOut(table.back(), kSecond);
    f = {};
    f.hangAfter = midBody;
    add("HangingMidBody", "headers and part of the body, then silence", with(f));
    table.back() = TimedOut(table.back(), kSecond);
  }
  return table;
}

std::vector<Scenario> ReplyScenarios() {
  const auto body = [](std::function<std::string(const Stagecraft&)> make) {
    return [make](Stagecraft& s) { s.ReplyBody(make(s)); };
  };
  const Shown downloaded = StatusCompleted;
  // The good reply followed by lines of 1 KiB up to `size` bytes.
  const auto linesUpTo = [](const Stagecraft& s, std::size_t size) {
    std::string reply = s.GoodReply();
    const std::string filler = std::string(1022, 'x') + "\r\n";
    while (reply.size() < size) reply += filler;
    return reply;
  };
  return {
      {"reply", "Empty", "an empty reply", body([](const Stagecraft&) { return std::string(); }), Launched::Embedded,
       kSetup, StatusUndetermined},
      {"reply", "ThreeLines", "the url line missing",
       body([](const Stagecraft& s) {
         const std::string good = s.GoodReply();
         return good.substr(0, good.find("url="));
       }),
       Launched::Embedded, kSetup, StatusUndetermined},
      {"reply", "ByteOrderMark", "a UTF-8 byte-order mark before \"ver=\"",
       body([](const Stagecraft& s) { return "\xEF\xBB\xBF" + s.GoodReply(); }), Launched::Embedded, kSetup,
       StatusUndetermined},
      {"reply", "WrongKeyCase", "\"Ver=\" instead of \"ver=\"",
       body([](const Stagecraft& s) { return "V" + s.GoodReply().substr(1); }), Launched::Embedded, kSetup,
       StatusUndetermined},
      {"reply", "LfLineEnds", "lines ended by LF alone (accepted)",
       body([](const Stagecraft& s) { return s.GoodReply("\n"); }), Launched::Next, kSetup, downloaded},
      {"reply", "CrLfLineEnds", "lines ended by CR LF (accepted)",
       body([](const Stagecraft& s) { return s.GoodReply("\r\n"); }), Launched::Next, kSetup, downloaded},
      {"reply", "LoneCrLineEnds", "lines ended by a lone CR (one long line: unusable)",
       body([](const Stagecraft& s) { return s.GoodReply("\r"); }), Launched::Embedded, kSetup, StatusUndetermined},
      {"reply", "VersionPacksToZero", "\"ver=0.0.0.0\"",
       body([](const Stagecraft& s) { return "ver=0.0.0.0" + s.GoodReply().substr(s.GoodReply().find("\r\n")); }),
       Launched::Embedded, kSetup, StatusUndetermined},
      {"reply", "Version200", "\"ver=200.0.0.0\" for the next installer (newer: downloaded)",
       body([](const Stagecraft& s) { return "ver=200.0.0.0" + s.GoodReply().substr(s.GoodReply().find("\r\n")); }),
       Launched::Next, kSetup, std::wstring(StatusDownloading) + L" 200.0.0.0"},
      {"reply", "OlderVersion", "\"ver=2.51.0.0\", older than the embedded installer",
       body([](const Stagecraft& s) { return "ver=2.51.0.0" + s.GoodReply().substr(s.GoodReply().find("\r\n")); }),
       Launched::Embedded, kSetup, StatusLatestInUse},
      {"reply", "TenMegabytes", "the four lines followed by 10 MB of further lines (accepted)",
       body([=](const Stagecraft& s) { return linesUpTo(s, 10'000'000); }), Launched::Next, kSetup, downloaded},
      {"reply", "SeventeenMegabytes", "the four lines followed by 17 MB of further lines (too large to read)",
       body([=](const Stagecraft& s) { return linesUpTo(s, 17'000'000); }), Launched::Embedded, kSetup,
       StatusUndetermined},
      {"reply", "EndOfFileByte", "the four lines followed by byte 26 (accepted)",
       body([](const Stagecraft& s) { return s.GoodReply() + "\x1A"; }), Launched::Next, kSetup, downloaded},
  };
}

std::vector<Scenario> InstallerScenarios() {
  return {
      {"installer", "WrongSize", "announced size one more than the installer's",
       [](Stagecraft& s) {
         StageFault f;
         f.sizeDelta = 1;
         s.Fault(Stage::Version, f);
       },
       Launched::Embedded, kSetup, StatusDownloadFailed},
      {"installer", "WrongChecksum", "announced checksum one off",
       [](Stagecraft& s) {
         StageFault f;
         f.checksumDelta = 1;
         s.Fault(Stage::Version, f);
       },
       Launched::Embedded, kSetup, StatusDownloadFailed},
      {"installer", "OtherTagValues", "other bytes in the tag fields only (accepted: the checksum blanks them)",
       [](Stagecraft& s) {
         Bytes tagged = Next();
         ASSERT_EQ(StampAffiliateTags(tagged, "12345678", "87654321"), std::nullopt);
         s.ServeInstaller(std::move(tagged));
       },
       Launched::Arranged, kSetup, StatusCompleted},
      {"installer", "LargerThanAnnounced", "4 KiB more than the announced size",
       [](Stagecraft& s) {
         Bytes longer = Next();
         longer.resize(longer.size() + 4096, 0);
         StageFault f;
         f.installerOverride = longer;
         s.Fault(Stage::Installer, f);
       },
       Launched::Embedded, kSetup, StatusDownloadFailed},
  };
}

std::vector<Scenario> UserScenarios() {
  return {
      {"user", "CancelWhileSearching", "Cancel while the version request trickles in",
       [](Stagecraft& s) {
         s.SlowReply();
         s.Act("click", "searching");
       },
       Launched::Embedded, kSetup, StatusCancelled, 0, 15},
      {"user", "CancelWhileDownloading", "Cancel in the middle of the download",
       [](Stagecraft& s) {
         s.SlowInstaller();
         s.Act("click", "gauge-mid");
       },
       Launched::Embedded, kSetup, StatusCancelled, 0, 15},
      {"user", "CancelAsTheDownloadEnds", "Cancel as the gauge reaches 100 % (races the transfer's last report)",
       [](Stagecraft& s) {
         s.SlowInstaller();
         s.Act("click", "gauge-full");
       },
       Launched::EndOfTransfer, kSetup, StatusCancelled},
      {"user", "CancelAfterVerifiedDownload", "Cancel once the download is verified (too late)",
       [](Stagecraft& s) { s.Act("click", "finished-label"); }, Launched::Next, kSetup, StatusCompleted},
      {"user", "CloseWhileSearching", "a close request while searching (refused, counts as Cancel)",
       [](Stagecraft& s) {
         s.SlowReply();
         s.Act("close", "searching");
       },
       Launched::Embedded, kSetup, StatusCancelled, 0, 15},
      {"user", "CloseWhileDownloading", "a close request in the middle of the download (refused, counts as Cancel)",
       [](Stagecraft& s) {
         s.SlowInstaller();
         s.Act("close", "gauge-mid");
       },
       Launched::Embedded, kSetup, StatusCancelled, 0, 15},
      {"user", "CloseAfterVerifiedDownload", "a close request once the download is verified",
       [](Stagecraft& s) { s.Act("close", "finished-label"); }, Launched::Next, kSetup, StatusCompleted},
      {"user", "EndSessionWhileDownloading", "the system's end-session query in the middle of the download",
       [](Stagecraft& s) {
         s.SlowInstaller();
         s.Act("endsession", "gauge-mid");
       },
       Launched::Embedded, kSetup, StatusCancelled, 0, 15},
  };
}

std::vector<Scenario> LocalScenarios() {
  return {
      {"local", "EarlierInstallerRunningOffline", "offline; an earlier installer still runs from SetupPath",
       [](Stagecraft& s) { s.EarlierInstallerRunning(); }, Launched::Embedded, kSecond, {}, 0, 15, false},
      {"local", "EarlierInstallerRunningOnline", "online, newer version; an earlier installer still runs from SetupPath",
       [](Stagecraft& s) { s.EarlierInstallerRunning(); }, Launched::Embedded, kSecond, StatusDownloadFailed},
      // Wine, running as root here, replaces a read-only file like any other (Windows refuses, and the
      // second name is taken as with the running installer above).
      {"local", "ReadOnlySetupPathOffline", "offline; a read-only file at SetupPath (replaced under Wine)",
       [](Stagecraft& s) { s.ReadOnlySetupPath(); }, Launched::Embedded, kSetup, {}, 0, 15, false},
      {"local", "ReadOnlySetupPathOnline", "online, newer version; a read-only file at SetupPath (replaced under Wine)",
       [](Stagecraft& s) { s.ReadOnlySetupPath(); }, Launched::Next, kSetup, StatusCompleted},
      {"local", "FolderAtSetupPath", "online, newer version; a folder at SetupPath",
       [](Stagecraft& s) { fs::create_directories(s.sandbox.TempFolder() / kSetup / "inside"); }, Launched::Embedded,
       kSecond, StatusDownloadFailed},
      {"local", "FolderAtVersionInfoPath", "a folder at VersionInfoPath",
       [](Stagecraft& s) { fs::create_directories(s.sandbox.TempFolder() / "TalvimorasterLastVer.txt" / "inside"); },
       Launched::Embedded, kSetup, StatusUndetermined},
      {"local", "DotInTempFolderName", "offline; temp folder \"...\\john.doe\\\", an earlier installer running",
       [](Stagecraft& s) {
         s.TempFolderAt(s.sandbox.TempFolderWindows() + "john.doe\\");
         s.EarlierInstallerRunning();
       },
       Launched::Embedded, kSecond, {}, 0, 15, false},
      {"local", "MissingTempFolder", "offline; the temp folder does not exist",
       [](Stagecraft& s) { s.TempFolderAt(s.sandbox.TempFolderWindows() + "gone\\deeper\\", false); },
       Launched::Embedded, kSetup, {}, 0, 15, false},
      {"local", "TempPathAtTheLimit", "offline; a 235-character temp folder (second name ends at 259)",
       [](Stagecraft& s) { s.TempFolderOfLength(kLongestPlainPath - kLongestTempFileName); }, Launched::Embedded, kSetup,
       {}, 0, 15, false},
      // The program asks the shell for the 8.3 path (79 characters here); Wine 8 starts it in some runs
      // and in others fails inside CreateProcess (it resolves the long path into a garbled one).
      {"local", "TempPathBeyondTheLimit", "offline; a 250-character temp folder (started by its 8.3 form; Wine may fail to)",
       [](Stagecraft& s) { s.TempFolderOfLength(250); }, Launched::Embedded, kSetup, {}, 0, 15, false, true},
  };
}

std::vector<Scenario> ForgedScenarios() {
  std::vector<Scenario> table;
  for (std::uint32_t index = 0; index < 4; ++index) {
    table.push_back({"forged", "Forged" + std::to_string(index),
                     "an installer forged to keep the size and byte sum (accepted without an update key)",
                     [index](Stagecraft& s) { s.ServeInstaller(testing::ForgedInstaller(Next(), index)); },
                     Launched::Arranged, kSetup, StatusCompleted});
  }
  return table;
}

std::vector<Scenario> Matrix() {
  std::vector<Scenario> all;
  for (auto part : {RequestScenarios(), ReplyScenarios(), InstallerScenarios(), UserScenarios(), LocalScenarios(),
                    ForgedScenarios()})
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

const char* NameOf(Launched launched) {
  switch (launched) {
    case Launched::Embedded: return "embedded";
    case Launched::Next: return "next release";
    case Launched::Arranged: return "served";
    case Launched::EndOfTransfer: return "next release or embedded";
  }
  return "?";
}

std::string FileNameOf(const std::string& windowsPath) { return windowsPath.substr(windowsPath.rfind('\\') + 1); }

// One line per scenario for the published matrix, written however the test ends.
struct ResultLine {
  const Scenario& scenario;
  std::string observed = "not run";
  double seconds = 0;
  ~ResultLine() {
    const fs::path folder = fs::path(INTERNETSETUP_E2E_DIR) / "matrix-results";
    fs::create_directories(folder);
    const bool passed = !::testing::Test::HasFailure();
    // Named by the row's place in the matrix, so that the published table keeps its order.
    const auto all = Matrix();
    const auto row = std::find_if(all.begin(), all.end(), [&](const Scenario& s) { return s.name == scenario.name; });
    char number[8];
    std::snprintf(number, sizeof number, "%03d", static_cast<int>(row - all.begin()));
    std::ofstream(folder / (std::string(number) + "." + scenario.group + "." + scenario.name + ".tsv"))
        << scenario.group << '\t' << scenario.name << '\t' << scenario.what << '\t'
        << (scenario.shortFolder ? "at most 1 launch, by its 8.3 path: " : "1 launch: ") << scenario.fileName << " (" << NameOf(scenario.bytes) << "), " << scenario.minSeconds << "–"
        << scenario.maxSeconds << " s" << '\t' << observed << '\t' << seconds << '\t' << (passed ? "pass" : "FAIL")
        << '\n';
  }
};

// Names the scenario in failure messages instead of dumping its bytes.
void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.group << "/" << scenario.name; }

class FaultMatrix : public ::testing::TestWithParam<Scenario> {};

TEST_P(FaultMatrix, OneLaunchInTime) {
  const Scenario& scenario = GetParam();
  ResultLine result{scenario};
  const int lane = Lane();
  const int port = Artifacts::EndpointPort();
  const std::string address = LaneAddress();
  WineSandbox sandbox(CurrentTestName());
  endpoint::Server server({kNextVersion, Next(), ""}, "");
  server.SetLogSink([](const std::string&) {});
  RunOptions options{.online = scenario.online, .probeArgs = {}, .timeoutSeconds = 120,
                     .program = Artifacts::LaneProgram(lane)};
  Stagecraft stage{server, sandbox, options, address + ":" + std::to_string(port), true, std::nullopt};
  scenario.arrange(stage);
  if (HasFatalFailure()) return;
  if (scenario.online && stage.serve) {
    ASSERT_EQ(server.Start(address, port), port) << address << " is taken";
  }

  const RunResult run = sandbox.Run(options);
  server.Stop();
  result.seconds = run.seconds;
  {
    const Bytes there = ReadBytes(sandbox.TempFolder() / scenario.fileName);
    const char* which = there.empty()             ? "nothing"
                        : there == Embedded()     ? "embedded"
                        : there == Next()         ? "next release"
                        : stage.launched && there == *stage.launched ? "served"
                                                                     : "other bytes";
    result.observed = std::to_string(run.launches.size()) + " launch";
    for (const auto& launch : run.launches) result.observed += ": " + FileNameOf(launch.path);
    result.observed += std::string(" (") + which + " at " + scenario.fileName + ")";
  }
  const Bytes& expected = [&]() -> const Bytes& {
    switch (scenario.bytes) {
      case Launched::Embedded: return Embedded();
      case Launched::Next: return Next();
      case Launched::Arranged: return *stage.launched;
      case Launched::EndOfTransfer: break;
    }
    return ReadBytes(sandbox.TempFolder() / scenario.fileName) == Embedded() ? Embedded() : Next();
  }();

  EXPECT_EQ(run.exitCode, 0);
  if (scenario.shortFolder) {
    ASSERT_LE(run.launches.size(), 1u);
  } else {
    ASSERT_EQ(run.launches.size(), 1u);
  }
  if (!run.launches.empty()) {
    const std::string& path = run.launches[0].path;
    if (scenario.shortFolder) {
      EXPECT_LE(path.size(), kLongestPlainPath);
      EXPECT_NE(path.find('~'), std::string::npos) << path;
      EXPECT_EQ(FileNameOf(path), scenario.fileName);
    } else {
      EXPECT_EQ(path, sandbox.TempFolderWindows() + scenario.fileName);
    }
    EXPECT_EQ(run.launches[0].size, static_cast<long long>(expected.size()));
  }
  EXPECT_TRUE(ReadBytes(sandbox.TempFolder() / scenario.fileName) == expected)
      << scenario.fileName << " does not hold the " << NameOf(scenario.bytes) << " installer";
  EXPECT_EQ(run.EverVisible(), scenario.online);
  if (!scenario.status.text.empty()) {
    const auto labels = run.Labels();
    EXPECT_NE(std::find(labels.begin(), labels.end(), Utf8(scenario.status.text)), labels.end())
        << "never showed \"" << Utf8(scenario.status.text) << "\"";
  }
  EXPECT_GE(run.seconds, scenario.minSeconds);
  EXPECT_LE(run.seconds, scenario.maxSeconds);
}

INSTANTIATE_TEST_SUITE_P(Matrix, FaultMatrix, ::testing::ValuesIn(Matrix()),
                         [](const ::testing::TestParamInfo<Scenario>& info) {
                           std::string group = info.param.group;
                           group[0] = static_cast<char>(group[0] - 'a' + 'A');
                           return group + "_" + info.param.name;
                         });

}  // namespace
}  // namespace isetup::e2e
