// The commands of installer-tags on files made byte by byte: what they print, what they write, and
// that every refusal leaves the file as it was.
#include "tools/installer_tags/installer_tags.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "base/test_files.h"
#include "base/utf8_path.h"
#include "payload/affiliate_tags.h"
#include "payload/checksum.h"
#include "payload/pe_test_image.h"
#include "tests/support/scratch_folder.h"
#include "update/version_reply.h"
#include "update/version_reply_format.h"

namespace isetup::tools {
namespace {

namespace fs = std::filesystem;
using isetup::testing::Put32;
using isetup::testing::TestInstaller;
using isetup::testing::TestInstallerOptions;
using isetup::testing::TestSetupProgram;

using Bytes = std::vector<std::uint8_t>;

using isetup::testing::ReadBytes;

void WriteBytes(const fs::path& path, const Bytes& bytes) {
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::size_t Find(const Bytes& bytes, std::string_view text, std::size_t from = 0) {
  const auto at = std::search(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end(), text.begin(), text.end());
  return at == bytes.end() ? std::string::npos : static_cast<std::size_t>(at - bytes.begin());
}

struct Result {
  int status = -1;
  std::string out, err;
};

class InstallerTags : public ::testing::Test {
 protected:
  // A file in the test's folder with these bytes; its name as the tool takes it.
  std::string Put(const std::string& name, const Bytes& bytes) {
    WriteBytes(folder_ / name, bytes);
    return Utf8FromPath(folder_ / name);
  }

  static Result Run(std::vector<std::string> args) {
    std::ostringstream out, err;
    Result result;
    result.status = RunInstallerTags(args, out, err);
    result.out = out.str();
    result.err = err.str();
    return result;
  }

  isetup::testing::ScratchFolder folder_{isetup::testing::ScratchFolder::ForTest("isetup_installer_tags")};
};

TEST_F(InstallerTags, ShowsThePlainInstallersTagsAndOffsets) {
  const Bytes installer = TestInstaller({.affid = "Dist0001", .affsid = "Web-_002"});
  const std::string file = Put("Setup.exe", installer);
  const Result result = Run({"show", file});
  ASSERT_EQ(result.status, kExitSuccess) << result.err;
  EXPECT_EQ(result.out, file + ": installer, " + std::to_string(installer.size()) + " bytes\n" +
                            "affid   Dist0001  at byte " + std::to_string(Find(installer, "affid=") + 6) + "\n" +
                            "affsid  Web-_002  at byte " + std::to_string(Find(installer, "affsid=") + 7) + "\n");
  EXPECT_EQ(result.err, "");
}

TEST_F(InstallerTags, ShowsTheEmbeddedInstallersTagsNotTheProgramsOwn) {
  const Bytes installer = TestInstaller({.affid = "Dist0001"});
  const auto program = TestSetupProgram(installer);
  const std::string file = Put("InternetSetup.exe", program.bytes);
  const Result result = Run({"show", file});
  ASSERT_EQ(result.status, kExitSuccess) << result.err;
  const std::size_t base = program.dataOffsets[0];
  const std::size_t affid = Find(installer, "affid=") + 6;
  const std::size_t affsid = Find(installer, "affsid=") + 7;
  EXPECT_EQ(result.out, file + ": InternetSetup program; embedded installer RT_RCDATA 2, language 1049, " +
                            std::to_string(installer.size()) + " bytes at byte " + std::to_string(base) + "\n" +
                            "affid   Dist0001  at byte " + std::to_string(base + affid) + " (byte " +
                            std::to_string(affid) + " of the embedded installer)\n" + "affsid  00000000  at byte " +
                            std::to_string(base + affsid) + " (byte " + std::to_string(affsid) +
                            " of the embedded installer)\n");
}

TEST_F(InstallerTags, ShowMarksTagsAStampWouldRefuse) {
  Bytes installer = TestInstaller();
  Put32(installer, Find(installer, "affsid=") - 4, 16);
  installer[Find(installer, "affid=") + 1] = 'x';  // no affid marker any more
  const Result result = Run({"show", Put("Setup.exe", installer)});
  ASSERT_EQ(result.status, kExitSuccess);
  EXPECT_NE(result.out.find("affid   not found\n"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("; a stamp refuses it: the affsid tag's string header gives the length 16, not 15\n"),
            std::string::npos)
      << result.out;
}

TEST_F(InstallerTags, StampsTheEmbeddedInstallerInPlaceAndNothingElse) {
  const Bytes installer = TestInstaller();
  const auto program = TestSetupProgram(installer);
  const std::string file = Put("InternetSetup.exe", program.bytes);
  const Result result = Run({"stamp", file, "--affid", "Dist0001", "--affsid=Web-_002"});
  ASSERT_EQ(result.status, kExitSuccess) << result.err;

  Bytes expected = program.bytes;
  const std::size_t base = program.dataOffsets[0];
  const std::size_t affid = base + Find(installer, "affid=") + 6;
  const std::size_t affsid = base + Find(installer, "affsid=") + 7;
  std::copy_n("Dist0001", 8, expected.begin() + static_cast<std::ptrdiff_t>(affid));
  std::copy_n("Web-_002", 8, expected.begin() + static_cast<std::ptrdiff_t>(affsid));
  const Bytes stamped = ReadBytes(folder_ / "InternetSetup.exe");
  EXPECT_EQ(stamped, expected);  // the program's own decoy tags included: they are untouched
  EXPECT_EQ(result.out, file + ": stamped affid=Dist0001 at byte " + std::to_string(affid) +
                            ", affsid=Web-_002 at byte " + std::to_string(affsid) +
                            " (in the embedded installer, RT_RCDATA 2)\n");
  const std::span<const std::uint8_t> embedded = std::span(stamped).subspan(base, installer.size());
  EXPECT_EQ(ExtractAffiliateQuery(embedded), L"affid=Dist0001&affsid=Web-_002");
  EXPECT_EQ(ByteSumChecksum(embedded), ByteSumChecksum(installer));
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);
}

TEST_F(InstallerTags, StampsOneTagOfAPlainInstaller) {
  const Bytes installer = TestInstaller({.affid = "Old00001", .affsid = "Old00002"});
  const std::string file = Put("Setup.exe", installer);
  for (const auto& [option, query] : {std::pair{"--affsid", L"affid=Old00001&affsid=New00002"},
                                      std::pair{"--affid", L"affid=New00002&affsid=New00002"}}) {
    const Result result = Run({"stamp", file, option, "New00002"});
    ASSERT_EQ(result.status, kExitSuccess) << result.err;
    EXPECT_EQ(ExtractAffiliateQuery(ReadBytes(folder_ / "Setup.exe")), query);
  }
  // Only the tag values changed.
  Bytes stamped = ReadBytes(folder_ / "Setup.exe");
  std::copy_n("Old00001", 8, stamped.begin() + static_cast<std::ptrdiff_t>(Find(stamped, "affid=") + 6));
  std::copy_n("Old00002", 8, stamped.begin() + static_cast<std::ptrdiff_t>(Find(stamped, "affsid=") + 7));
  EXPECT_EQ(stamped, installer);
}

TEST_F(InstallerTags, OutputLeavesTheOriginalAsItWas) {
  const auto program = TestSetupProgram(TestInstaller());
  const std::string file = Put("InternetSetup.exe", program.bytes);
  const std::string output = Utf8FromPath(folder_ / "InternetSetup-Dist0001.exe");
  const Result result = Run({"stamp", file, "--affid", "Dist0001", "--output", output});
  ASSERT_EQ(result.status, kExitSuccess) << result.err;
  EXPECT_EQ(ReadBytes(folder_ / "InternetSetup.exe"), program.bytes);
  const Bytes copy = ReadBytes(folder_ / "InternetSetup-Dist0001.exe");
  ASSERT_EQ(copy.size(), program.bytes.size());
  EXPECT_EQ(ExtractAffiliateQuery(std::span(copy).subspan(program.dataOffsets[0])).substr(0, 14), L"affid=Dist0001");
  EXPECT_EQ(result.out.rfind(output + ": stamped affid=Dist0001 at byte ", 0), 0u) << result.out;
}

TEST_F(InstallerTags, RefusedStampsLeaveTheFileAsItWas) {
  const Bytes installer = TestInstaller();
  Bytes wrongLength = TestSetupProgram(installer).bytes;
  Put32(wrongLength, Find(wrongLength, "affid=00000000") - 4, 15);
  Bytes noAffsid = installer;
  noAffsid[Find(noAffsid, "affsid=")] = 'A';
  isetup::testing::TestPeOptions twoLanguages;
  twoLanguages.resources = {{10, 2, 1049, installer}, {10, 2, 1033, installer}};
  Bytes brokenPe = TestSetupProgram(installer).bytes;
  brokenPe[0x81] = 'X';

  struct Case {
    const char* name;
    Bytes bytes;
    std::vector<std::string> options;
    const char* reason;
  } cases[] = {
      {"short value", installer, {"--affid", "1234567"}, "the affid value \"1234567\" is not exactly 8 characters"},
      {"long value", installer, {"--affsid", "123456789"}, "the affsid value \"123456789\""},
      {"unsafe character", installer, {"--affid", "abc&efgh"}, "the affid value \"abc&efgh\""},
      {"blank", installer, {"--affid", "abc efgh"}, "the affid value \"abc efgh\""},
      {"non-ASCII", installer, {"--affid", "\xD0\x90\xD0\x91\xD0\x92\xD0\x93"}, "the affid value \"\\xD0\\x90"},
      {"empty", installer, {"--affid="}, "the affid value \"\""},
      {"good affid, bad affsid", installer, {"--affid", "Good0001", "--affsid", "bad"}, "the affsid value \"bad\""},
      {"missing marker", noAffsid, {"--affid", "Good0001", "--affsid", "Good0002"}, "the affsid marker \"affsid=\" is missing"},
      {"length field 15 for affid", wrongLength, {"--affid", "Good0001"},
       "the affid tag's string header gives the length 15, not 14 (in the embedded installer, RT_RCDATA 2)"},
      {"two languages", isetup::testing::BuildTestPe(twoLanguages).bytes, {"--affid", "Good0001"}, "2 languages"},
      {"malformed image", brokenPe, {"--affid", "Good0001"}, "malformed PE image: there is no PE signature at 0x80"},
  };
  for (const Case& c : cases) {
    const std::string file = Put("Setup.exe", c.bytes);
    std::vector<std::string> args = {"stamp", file};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const Result result = Run(args);
    EXPECT_EQ(result.status, kExitFailed) << c.name;
    EXPECT_EQ(result.err.rfind("installer-tags: " + file + ": ", 0), 0u) << c.name << ": " << result.err;
    EXPECT_NE(result.err.find(c.reason), std::string::npos) << c.name << ": " << result.err;
    EXPECT_EQ(result.out, "") << c.name;
    EXPECT_EQ(ReadBytes(folder_ / "Setup.exe"), c.bytes) << c.name;
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1) << c.name;
  }
}

TEST_F(InstallerTags, AFailedWriteLeavesTheFileAsItWas) {
  const Bytes installer = TestInstaller();
  const std::string file = Put("Setup.exe", installer);
  const std::string output = Utf8FromPath(folder_ / "no such folder" / "Setup.exe");
  const Result result = Run({"stamp", file, "--affid", "Good0001", "--output", output});
  EXPECT_EQ(result.status, kExitFailed);
  EXPECT_NE(result.err.find("cannot create a temporary file in"), std::string::npos) << result.err;
  EXPECT_EQ(ReadBytes(folder_ / "Setup.exe"), installer);

  const Result missing = Run({"show", Utf8FromPath(folder_ / "absent.exe")});
  EXPECT_EQ(missing.status, kExitFailed);
  EXPECT_EQ(missing.err, "installer-tags: " + Utf8FromPath(folder_ / "absent.exe") + ": no such file\n");
}

TEST_F(InstallerTags, ASignedFileIsStampedWithAWarning) {
  isetup::testing::TestPeOptions signedProgram;
  signedProgram.resources = {{10, 2, 1049, TestInstaller()}};
  signedProgram.certificate = true;
  const std::string file = Put("InternetSetup.exe", isetup::testing::BuildTestPe(signedProgram).bytes);
  EXPECT_NE(Run({"show", file}).out.find("\nsigned: Authenticode; a stamp invalidates the signature\n"),
            std::string::npos);
  const Result result = Run({"stamp", file, "--affid", "Dist0001"});
  EXPECT_EQ(result.status, kExitSuccess);
  EXPECT_EQ(result.err, "installer-tags: warning: " + file +
                            " carries an Authenticode signature, which the stamp invalidates; sign " + file + " again\n");
  EXPECT_EQ(Run({"show", Put("Setup.exe", TestInstaller())}).out.find("signed:"), std::string::npos);
}

TEST_F(InstallerTags, ChecksumPrintsTheReplysSizeAndConsumLines) {
  // The worked example: 32 bytes, plain sum 2209, checksum 2172.
  const std::string text("xaffid=12345678\0affsid=87654321\0", 32);
  const Result result = Run({"checksum", Put("example.bin", Bytes(text.begin(), text.end()))});
  ASSERT_EQ(result.status, kExitSuccess) << result.err;
  EXPECT_EQ(result.out, "size=32\nconsum=2172\n");

  const Result negative = Run({"checksum", Put("ff.bin", Bytes(8421505, 0xFF))});
  EXPECT_EQ(negative.out, "size=8421505\nconsum=-2147483521\n");
}

TEST_F(InstallerTags, Sha256IsOneLineForEveryStampedCopyAndAnotherForOtherBytes) {
  const Bytes installer = TestInstaller();
  const std::string original = Put("Setup.exe", installer);
  const Result plain = Run({"sha256", original});
  ASSERT_EQ(plain.status, kExitSuccess) << plain.err;
  EXPECT_TRUE(std::regex_match(plain.out, std::regex("sha256=[0-9a-f]{64}\n"))) << plain.out;
  const std::string stamped = Utf8FromPath(folder_ / "Stamped.exe");
  ASSERT_EQ(Run({"stamp", original, "--affid", "Dist0001", "--affsid", "Web00002", "--output", stamped}).status,
            kExitSuccess);
  EXPECT_EQ(Run({"sha256", stamped}).out, plain.out);
  Bytes changed = installer;
  changed.back() ^= 1;
  EXPECT_NE(Run({"sha256", Put("Changed.exe", changed)}).out, plain.out);
  EXPECT_EQ(Run({"sha256", Utf8FromPath(folder_ / "Missing.exe")}).status, kExitFailed);
}

TEST_F(InstallerTags, ReplyIsWhatTheSetupReadsAsUsable) {
  const Bytes installer = TestInstaller({.version = {2, 53, 1, 7}});
  const std::string file = Put("Setup.exe", installer);
  const Result result = Run({"reply", file, "--url", "update.example.com/download/Setup.exe"});
  ASSERT_EQ(result.status, kExitSuccess) << result.err;
  const std::string expected = "ver=2.53.1.7\r\nsize=" + std::to_string(installer.size()) + "\r\nconsum=" +
                               std::to_string(ByteSumChecksum(installer)) + "\r\nurl=update.example.com/download/Setup.exe\r\n";
  EXPECT_EQ(result.out, expected);
  const VersionReply reply = ParseVersionReply(result.out);
  EXPECT_TRUE(reply.Usable);
  EXPECT_EQ(reply.Version, 0x02350107u);

  const Result given = Run({"reply", file, "--version", "3.0.0.0", "--url=127.0.0.1:18352/x.exe"});
  ASSERT_EQ(given.status, kExitSuccess) << given.err;
  EXPECT_EQ(given.out.substr(0, 14), "ver=3.0.0.0\r\ns");
}

TEST_F(InstallerTags, RefusedReplies) {
  struct Case {
    const char* name;
    Bytes bytes;
    std::vector<std::string> options;
    const char* reason;
  } cases[] = {
      {"no version resource", TestInstaller({.withVersion = false}), {}, "it has no version resource; give --version"},
      {"part above 255", TestInstaller({.version = {2, 300, 0, 0}}), {}, "the version \"2.300.0.0\" is not four"},
      {"version 0.0.0.0", TestInstaller({.version = {0, 0, 0, 0}}), {}, "the version \"0.0.0.0\""},
      {"three parts given", TestInstaller(), {"--version", "2.53.0"}, "the version \"2.53.0\""},
      {"line break given", TestInstaller(), {"--version", "2.53.0.0\r\nsize=1"}, "is not four dot-separated"},
      {"scheme in the url", TestInstaller(), {"--url", "http://h/p"}, "leave out the scheme"},
      {"no path in the url", TestInstaller(), {"--url", "h"}, "it has no path"},
      {"an InternetSetup program", TestSetupProgram(TestInstaller()).bytes, {}, "not an installer for the setup"},
      {"empty file", {}, {}, "the installer is empty"},
      {"not an executable", isetup::testing::TestBytes("text"), {}, "it is not a Windows executable"},
  };
  for (const Case& c : cases) {
    const std::string file = Put("Setup.exe", c.bytes);
    std::vector<std::string> args = {"reply", file};
    args.insert(args.end(), c.options.begin(), c.options.end());
    if (std::find(c.options.begin(), c.options.end(), "--url") == c.options.end()) {
      args.insert(args.end(), {"--url", "h/p"});
    }
    const Result result = Run(args);
    EXPECT_EQ(result.status, kExitFailed) << c.name;
    EXPECT_EQ(result.err.rfind("installer-tags: " + file + ": no reply: ", 0), 0u) << c.name << ": " << result.err;
    EXPECT_NE(result.err.find(c.reason), std::string::npos) << c.name << ": " << result.err;
    EXPECT_EQ(result.out, "") << c.name;
  }
}

TEST_F(InstallerTags, BadUsageExitsWithTwo) {
  const std::string file = Put("Setup.exe", TestInstaller());
  struct Case {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{}, "Usage: installer-tags COMMAND"},
      {{"tag", file}, "unknown command \"tag\""},
      {{"show"}, "installer-tags show: FILE is missing"},
      {{"show", file, file}, "one FILE only"},
      {{"show", file, "--affid", "x"}, "unknown option --affid"},
      {{"show", "-x", file}, "unknown option -x"},
      {{"stamp", file}, "give --affid, --affsid or both"},
      {{"stamp", file, "--affid"}, "--affid needs a value"},
      {{"stamp", file, "--affid", "Good0001", "--affid", "Good0002"}, "--affid is given twice"},
      {{"reply", file}, "--url HOST/PATH is missing"},
      {{"checksum", file, "--url", "h/p"}, "unknown option --url"},
  };
  for (const Case& c : cases) {
    const Result result = Run(c.args);
    EXPECT_EQ(result.status, kExitUsage) << c.message;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
  }
  EXPECT_EQ(ReadBytes(folder_ / "Setup.exe"), TestInstaller());
}

TEST_F(InstallerTags, HelpForTheToolAndEachCommand) {
  for (const auto& [args, first] : std::initializer_list<std::pair<std::vector<std::string>, std::string>>{
           {{"--help"}, "Usage: installer-tags COMMAND"},
           {{"help"}, "Usage: installer-tags COMMAND"},
           {{"help", "reply"}, "Usage: installer-tags reply FILE --url HOST/PATH"},
           {{"show", "--help"}, "Usage: installer-tags show FILE"},
           {{"stamp", "FILE", "--affid", "bad", "--help"}, "Usage: installer-tags stamp FILE"},
           {{"checksum", "-h"}, "Usage: installer-tags checksum FILE"},
           {{"reply", "--help"}, "Usage: installer-tags reply FILE"}}) {
    const Result result = Run(args);
    EXPECT_EQ(result.status, kExitSuccess) << first;
    EXPECT_EQ(result.out.rfind(first, 0), 0u) << result.out;
    EXPECT_EQ(result.err, "");
  }
}

}  // namespace
}  // namespace isetup::tools
