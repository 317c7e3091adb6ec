// The fault flags of the endpoint program, parsed into stage faults, and the access log format.
#include "endpoint/fault_flags.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "endpoint/access_log.h"
#include "tests/support/scratch_folder.h"

namespace isetup::endpoint {
namespace {

TEST(FaultFlag, EachKeySetsItsField) {
  std::map<Stage, StageFault> faults;
  for (const char* flag : {"version:status=500", "version:body=ver=1\\r\\n\\x41\\\\", "version:size-delta=-3",
                           "version:checksum-delta=-2147483648", "version:version=2.52.0.0", "version:hang",
                           "installer:truncate-after=1000", "installer:reset-after=0", "installer:hang-after=7",
                           "installer:throttle=65536/50"}) {
    EXPECT_EQ(ApplyFaultFlag(flag, faults), std::nullopt) << flag;
  }
  const StageFault& version = faults.at(Stage::Version);
  EXPECT_EQ(version.status, 500);
  EXPECT_EQ(version.body, "ver=1\r\nA\\");
  EXPECT_EQ(version.sizeDelta, -3);
  EXPECT_EQ(version.checksumDelta, INT32_MIN);
  EXPECT_EQ(version.versionText, "2.52.0.0");
  EXPECT_TRUE(version.hang);
  EXPECT_FALSE(version.truncateAfter);
  const StageFault& installer = faults.at(Stage::Installer);
  EXPECT_EQ(installer.truncateAfter, 1000u);
  EXPECT_EQ(installer.resetAfter, 0u);
  EXPECT_EQ(installer.hangAfter, 7u);
  EXPECT_EQ(installer.throttleChunk, 65536u);
  EXPECT_EQ(installer.throttleDelayMs, 50);
  EXPECT_FALSE(installer.hang);
  EXPECT_EQ(installer.status, 0);
}

TEST(FaultFlag, OverrideReadsTheFile) {
  const isetup::testing::ScratchFolder folder(isetup::testing::ScratchFolder::ForTest("fault_flags"));
  const auto path = folder / "override.exe";
  std::ofstream(path, std::ios::binary) << std::string("MZ\0x", 4);
  std::map<Stage, StageFault> faults;
  EXPECT_EQ(ApplyFaultFlag("installer:override=" + path.string(), faults), std::nullopt);
  EXPECT_EQ(faults.at(Stage::Installer).installerOverride, (std::vector<std::uint8_t>{'M', 'Z', 0, 'x'}));
  std::filesystem::remove(path);
  EXPECT_NE(ApplyFaultFlag("installer:override=" + path.string(), faults), std::nullopt);
}

TEST(FaultFlag, BadFlagsAreRefusedAndChangeNothing) {
  for (const char* flag : {"", "status=500", "client:status=500", "version:", "version:status", "version:status=99",
                           "version:status=600", "version:status=+500", "version:status=5x", "version:hang=1",
                           "version:body", "version:body=\\q", "version:body=\\x4", "installer:body=x",
                           "installer:size-delta=1", "installer:version=1.0.0.0", "version:override=/x",
                           "version:checksum-delta=2147483648", "installer:truncate-after=-1",
                           "installer:reset-after=", "installer:throttle=100", "installer:throttle=0/10",
                           "installer:throttle=10/-1", "installer:throttle=a/b", "installer:slow"}) {
    std::map<Stage, StageFault> faults;
    const auto problem = ApplyFaultFlag(flag, faults);
    EXPECT_NE(problem, std::nullopt) << flag;
    EXPECT_TRUE(faults.empty()) << flag;
  }
}

TEST(AccessLog, CommonLogFormatInUtc) {
  AccessLogEntry entry;
  entry.remoteAddress = "127.0.0.1";
  entry.time = std::chrono::system_clock::from_time_t(1796763600);  // 2026-12-08 21:00:00 UTC
  entry.method = "GET";
  entry.target = "/version.php?ISetupVer=02340000&affid=AAAAAAAA&affsid=BBBBBBBB&rnd=1";
  entry.version = "HTTP/1.1";
  entry.status = 200;
  entry.bodyBytes = 123;
  EXPECT_EQ(FormatAccessLogLine(entry),
            "127.0.0.1 - - [08/Dec/2026:21:00:00 +0000] \"GET "
            "/version.php?ISetupVer=02340000&affid=AAAAAAAA&affsid=BBBBBBBB&rnd=1 HTTP/1.1\" 200 123");
  entry.target = "/a\"b\\c\r\nd";
  entry.status = 0;
  entry.bodyBytes = 0;
  EXPECT_EQ(FormatAccessLogLine(entry),
            "127.0.0.1 - - [08/Dec/2026:21:00:00 +0000] \"GET /a\\x22b\\x5Cc\\x0D\\x0Ad HTTP/1.1\" - -");
  // The stamp follows the clock, not the line before.
  entry.time += std::chrono::seconds(1);
  EXPECT_NE(FormatAccessLogLine(entry).find("[08/Dec/2026:21:00:01 +0000]"), std::string::npos);
}

}  // namespace
}  // namespace isetup::endpoint
