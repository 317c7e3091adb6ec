// The native installer-tags program as a user runs it: exit statuses, where output and messages go,
// and an in-place stamp that keeps the file's permissions.
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <openssl/evp.h>
#include <openssl/pem.h>

#include "base/test_files.h"
#include "payload/affiliate_tags.h"
#include "payload/pe_test_image.h"
#include "tests/support/scratch_folder.h"

namespace isetup {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

using isetup::testing::ReadBytes;
using isetup::testing::ReadText;

std::string Quoted(const std::string& arg) {
  std::string quoted = "'";
  for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

struct Outcome {
  int status = -1;
  std::string out, err;
};

class InstallerTagsProgram : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(folder_ / "work"); }

  fs::path Put(const std::string& name, const Bytes& bytes) {
    const fs::path path = folder_ / "work" / name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  Outcome Start(const std::vector<std::string>& args) const {
    std::string command = Quoted(INSTALLER_TAGS_PROGRAM);
    for (const std::string& arg : args) command += " " + Quoted(arg);
    command += " >" + Quoted((folder_ / "out").string()) + " 2>" + Quoted((folder_ / "err").string());
    const int status = std::system(command.c_str());
    Outcome run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadText(folder_ / "out");
    run.err = ReadText(folder_ / "err");
    return run;
  }

  testing::ScratchFolder folder_{testing::ScratchFolder::ForTest("isetup_installer_tags_program")};
};

TEST_F(InstallerTagsProgram, ExitStatusesAndStreams) {
  const fs::path file = Put("Setup.exe", testing::TestInstaller());
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;  // start of standard output
    std::string err;  // start of standard error
  } cases[] = {
      {{"--help"}, 0, "Usage: installer-tags COMMAND FILE [options]\n", ""},
      {{"stamp", "--help"}, 0, "Usage: installer-tags stamp FILE", ""},
      {{"show", file.string()}, 0, file.string() + ": installer, ", ""},
      {{}, 2, "", "Usage: installer-tags COMMAND"},
      {{"shw", file.string()}, 2, "", "installer-tags: unknown command \"shw\""},
      {{"stamp", file.string(), "--affid"}, 2, "", "installer-tags stamp: --affid needs a value\n"},
      {{"stamp", file.string(), "--affid", "toolong00"}, 1, "", "installer-tags: " + file.string() + ": not stamped: "},
      {{"show", (folder_ / "none.exe").string()}, 1, "", "installer-tags: " + (folder_ / "none.exe").string() + ": no such file\n"},
  };
  for (const Case& c : cases) {
    const Outcome run = Start(c.args);
    const std::string what = c.args.empty() ? "(no arguments)" : c.args[0];
    EXPECT_EQ(run.status, c.status) << what << ": " << run.err;
    EXPECT_EQ(run.out.rfind(c.out, 0), 0u) << what << ": " << run.out;
    EXPECT_EQ(run.err.rfind(c.err, 0), 0u) << what << ": " << run.err;
    if (c.out.empty()) {
      EXPECT_EQ(run.out, "") << what;
    }
    if (c.err.empty()) {
      EXPECT_EQ(run.err, "") << what;
    }
  }
}

TEST_F(InstallerTagsProgram, StampsInPlaceKeepingThePermissions) {
  const auto program = testing::TestSetupProgram(testing::TestInstaller());
  const fs::path file = Put("InternetSetup.exe", program.bytes);
  ASSERT_EQ(chmod(file.c_str(), 0750), 0);
  const Outcome run = Start({"stamp", file.string(), "--affid", "Dist0001", "--affsid", "Web00002"});
  ASSERT_EQ(run.status, 0) << run.err;
  const Bytes stamped = ReadBytes(file);
  ASSERT_EQ(stamped.size(), program.bytes.size());
  EXPECT_EQ(ExtractAffiliateQuery(std::span(stamped).subspan(program.dataOffsets[0])).substr(0, 30),
            L"affid=Dist0001&affsid=Web00002");
  struct stat status {};
  ASSERT_EQ(stat(file.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0750u);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_ / "work"), fs::directory_iterator()), 1);

  const Outcome shown = Start({"show", file.string()});
  EXPECT_NE(shown.out.find("\naffid   Dist0001  at byte "), std::string::npos) << shown.out;
}

// The pair belongs together, the private half is its owner's alone, and the build's key reader takes
// the public half to the same point as OpenSSL does.
TEST_F(InstallerTagsProgram, KeygenWritesAPairThatTheBuildReadsAndNeverOverwrites) {
  const std::string name = (folder_ / "work" / "vendor").string();
  const Outcome made = Start({"keygen", name});
  ASSERT_EQ(made.status, 0) << made.err;
  struct stat info {};
  ASSERT_EQ(stat((name + ".private.pem").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  std::FILE* file = std::fopen((name + ".private.pem").c_str(), "rb");
  ASSERT_TRUE(file);
  EVP_PKEY* privateKey = PEM_read_PrivateKey(file, nullptr, nullptr, nullptr);
  std::fclose(file);
  file = std::fopen((name + ".public.pem").c_str(), "rb");
  ASSERT_TRUE(file);
  EVP_PKEY* publicKey = PEM_read_PUBKEY(file, nullptr, nullptr, nullptr);
  std::fclose(file);
  ASSERT_TRUE(privateKey && publicKey);
  EXPECT_EQ(EVP_PKEY_eq(privateKey, publicKey), 1);
  unsigned char point[65];
  std::size_t length = 0;
  ASSERT_EQ(EVP_PKEY_get_octet_string_param(publicKey, "pub", point, sizeof point, &length), 1);
  ASSERT_EQ(length, 65u);
  EVP_PKEY_free(privateKey);
  EVP_PKEY_free(publicKey);

  std::ofstream(folder_ / "read.cmake") << "include(" << INTERNETSETUP_UPDATE_KEY_MODULE << ")\n"
                                        << "internetsetup_read_update_key(\"" << name << ".public.pem\" point)\n"
                                        << "file(WRITE \"" << (folder_ / "point").string() << "\" \"${point}\")\n";
  ASSERT_EQ(std::system((Quoted(CMAKE_COMMAND) + " -P " + Quoted((folder_ / "read.cmake").string())).c_str()), 0);
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string expected;
  for (std::size_t i = 1; i < length; ++i) expected += {kDigits[point[i] >> 4], kDigits[point[i] & 15]};
  EXPECT_EQ(ReadText(folder_ / "point"), expected);

  const std::string before = ReadText(name + ".private.pem");
  const Outcome again = Start({"keygen", name});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("exists already"), std::string::npos) << again.err;
  EXPECT_EQ(ReadText(name + ".private.pem"), before);
}

}  // namespace
}  // namespace isetup
