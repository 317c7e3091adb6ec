// The program built with the test update key, under Wine, against the endpoint signing with that key:
// a signed reply leads to the verified download; a reply or an installer changed on the path, a reply
// replayed from another request and a signature by another key all end with the embedded installer.
// The attacker is a proxy on the endpoint's port that passes the requests on and changes the answers.
#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/status_texts.h"
#include "base/lower_hex.h"
#include "endpoint/endpoint_server.h"
#include "endpoint/reply_signer.h"
#include "payload/blanked_sha256.h"
#include "payload/checksum.h"
#include "payload/forged_installer.h"
#include "tests/e2e/wine_sandbox.h"

namespace isetup::e2e {
namespace {

namespace fs = std::filesystem;

const fs::path kKeys = UPDATE_TEST_KEY_DIR;
const fs::path kSignedProgram = fs::path(INTERNETSETUP_WINDOWS_BUILD_DIR) / "InternetSetup-signed-test.exe";
const fs::path kInstallerTagsExe =
    fs::path(INTERNETSETUP_WINDOWS_BUILD_DIR) / "tools" / "installer_tags" / "installer-tags.exe";
constexpr const char* kDownloadPath = "/download/TalvimorasterSetup-2.53.0.0.exe";

std::string TestName() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  std::replace(name.begin(), name.end(), '/', '_');
  return name;
}

std::string Quoted(const std::string& arg) { return "'" + arg + "'"; }

std::shared_ptr<const endpoint::ReplySigner> Signer(const char* keyName) {
  auto loaded = endpoint::ReplySigner::Load((kKeys / keyName).string());
  EXPECT_TRUE(loaded.signer) << loaded.error;
  return loaded.signer;
}

std::vector<std::uint8_t> NextInstaller() { return ReadBytes(Artifacts::NextInstaller()); }

// `reply` with the value of the line that begins with `key` replaced by what `change` makes of it.
std::string ChangeLine(const std::string& reply, const std::string& key,
                       const std::function<std::string(const std::string&)>& change) {
  const std::size_t start = reply.starts_with(key) ? 0 : reply.find("\n" + key) + 1;
  if (start == 0 && !reply.starts_with(key)) return reply;
  const std::size_t end = reply.find("\r\n", start);
  const std::string value = reply.substr(start + key.size(), end - start - key.size());
  return reply.substr(0, start) + key + change(value) + reply.substr(end);
}

// The first `count` lines of `reply`.
std::string FirstLines(const std::string& reply, int count) {
  std::size_t end = 0;
  for (int i = 0; i < count; ++i) end = reply.find('\n', end) + 1;
  return reply.substr(0, end);
}

// What the attacker does to the traffic; each part may be left empty.
struct Tampering {
  std::function<std::string(const std::string&)> versionQuery;  // the query passed on for /version.php
  std::function<std::string(const std::string&)> reply;
  std::function<std::string(const std::string&)> installer;
};

// A proxy on 127.0.0.1:port in front of the endpoint on `upstream`.
class PathAttacker {
 public:
  PathAttacker(int upstream, Tampering tampering) : upstream_(upstream), tampering_(std::move(tampering)) {
    server_.Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
      const std::size_t mark = request.target.find('?');
      std::string query = mark == std::string::npos ? "" : request.target.substr(mark + 1);
      const bool version = request.path == "/version.php";
      if (version && tampering_.versionQuery) query = tampering_.versionQuery(query);
      httplib::Client client("127.0.0.1", upstream_);
      client.set_read_timeout(30, 0);
      const auto answer = client.Get((request.path + (query.empty() ? "" : "?" + query)).c_str());
      if (!answer) {
        response.status = 502;
        return;
      }
      std::string body = answer->body;
      if (version && tampering_.reply) body = tampering_.reply(body);
      if (!version && tampering_.installer) body = tampering_.installer(body);
      response.status = answer->status;
      response.set_content(body, answer->get_header_value("Content-Type").c_str());
    });
  }
  ~PathAttacker() {
    server_.stop();
    if (thread_.joinable()) thread_.join();
  }
  bool Start(int port) {
    if (!server_.bind_to_port("127.0.0.1", port)) return false;
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    return true;
  }

 private:
  int upstream_;
  Tampering tampering_;
  httplib::Server server_;
  std::thread thread_;
};

class SignedUpdate : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox_.emplace(TestName());
    sandbox_->SetProgram(kSignedProgram);
  }

  // The endpoint signing with `keyName`; on the program's port, or behind an attacker there.
  void StartEndpoint(const char* keyName, std::optional<Tampering> tampering = std::nullopt) {
    const int port = Artifacts::EndpointPort();
    server_.emplace(endpoint::Release{"2.53.0.0", NextInstaller(), ""},
                    tampering ? "127.0.0.1:" + std::to_string(port) : "");
    server_->SetLogSink([](const std::string&) {});
    server_->SetReplySigner(Signer(keyName));
    if (!tampering) {
      ASSERT_EQ(server_->Start("127.0.0.1", port), port) << "the endpoint port is taken";
      return;
    }
    const int upstream = server_->Start("127.0.0.1", 0);
    ASSERT_GT(upstream, 0);
    attacker_.emplace(upstream, std::move(*tampering));
    ASSERT_TRUE(attacker_->Start(port)) << "the endpoint port is taken";
  }

  RunResult RunProgram() {
    RunResult run = sandbox_->Run({.online = true, .probeArgs = {}, .timeoutSeconds = 60});
    attacker_.reset();
    server_->Stop();
    EXPECT_TRUE(run.EverVisible());
    return run;
  }

  // Exactly one launch, of TalvimorasterSetup.exe in the temp folder, holding `expected`.
  void ExpectSingleLaunch(const RunResult& run, const std::vector<std::uint8_t>& expected) {
    ASSERT_EQ(run.launches.size(), 1u);
    EXPECT_EQ(run.launches[0].path, sandbox_->TempFolderWindows() + "TalvimorasterSetup.exe");
    EXPECT_TRUE(ReadBytes(sandbox_->TempFolder() / "TalvimorasterSetup.exe") == expected);
    EXPECT_EQ(run.exitCode, 0);
  }
  std::vector<std::string> RequestPaths() const {
    std::vector<std::string> paths;
    for (const auto& request : server_->Requests()) paths.push_back(request.path);
    return paths;
  }

  std::optional<WineSandbox> sandbox_;
  std::optional<endpoint::Server> server_;
  std::optional<PathAttacker> attacker_;
};

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

TEST_F(SignedUpdate, ASignedReplyLeadsToTheVerifiedDownload) {
  StartEndpoint("update-test-key.private.pem");
  const RunResult run = RunProgram();
  const auto labels = run.Labels();
  EXPECT_TRUE(Contains(labels, Utf8(StatusDownloading) + " 2.53.0.0"));
  EXPECT_TRUE(Contains(labels, Utf8(StatusCompleted)));
  ExpectSingleLaunch(run, NextInstaller());
  EXPECT_EQ(RequestPaths(), (std::vector<std::string>{"/version.php", kDownloadPath}));
  const auto reply = ReadBytes(sandbox_->TempFolder() / "TalvimorasterLastVer.txt");
  EXPECT_NE(std::string(reply.begin(), reply.end()).find("\r\nsig="), std::string::npos);
}

TEST_F(SignedUpdate, AStampedCopyGetsAStampedDownloadThatTheOneDigestStillVerifies) {
  const fs::path program =
      sandbox_->TempFolder().parent_path().parent_path().parent_path() / "Distribution" / "InternetSetup.exe";
  fs::create_directories(program.parent_path());
  fs::copy_file(kSignedProgram, program);
  const std::string stamp = Quoted(INSTALLER_TAGS_PROGRAM) + " stamp " + Quoted(program.string()) +
                            " --affid Dist0001 --affsid Web00002 >/dev/null";
  ASSERT_EQ(std::system(stamp.c_str()), 0) << stamp;
  sandbox_->SetProgram(program);
  StartEndpoint("update-test-key.private.pem");
  const RunResult run = RunProgram();
  EXPECT_TRUE(Contains(run.Labels(), Utf8(StatusCompleted)));
  ASSERT_EQ(run.launches.size(), 1u);
  EXPECT_EQ(run.launches[0].affid, "Dist0001");
  EXPECT_EQ(run.launches[0].affsid, "Web00002");
  EXPECT_EQ(run.launches[0].size, static_cast<long long>(NextInstaller().size()));
}

TEST_F(SignedUpdate, ASignatureByAnotherKeyEndsWithTheEmbeddedInstaller) {
  StartEndpoint("other-test-key.private.pem");
  const RunResult run = RunProgram();
  EXPECT_TRUE(Contains(run.Labels(), Utf8(StatusUndetermined)));
  ExpectSingleLaunch(run, ReadBytes(Artifacts::EmbeddedPayload()));
  EXPECT_EQ(RequestPaths(), (std::vector<std::string>{"/version.php"}));
}

struct AttackCase {
  const char* name;
  Tampering tampering;
  std::wstring_view status;
  bool downloads;  // whether the program gets as far as asking for the installer
};

// Named in test lists by its name rather than by its bytes.
void PrintTo(const AttackCase& attack, std::ostream* out) { *out << attack.name; }

class SignedUpdateAttacked : public SignedUpdate, public ::testing::WithParamInterface<AttackCase> {};

TEST_P(SignedUpdateAttacked, EndsWithTheEmbeddedInstaller) {
  StartEndpoint("update-test-key.private.pem", GetParam().tampering);
  const RunResult run = RunProgram();
  EXPECT_TRUE(Contains(run.Labels(), Utf8(GetParam().status)));
  ExpectSingleLaunch(run, ReadBytes(Artifacts::EmbeddedPayload()));
  std::vector<std::string> expected{"/version.php"};
  if (GetParam().downloads) expected.push_back(kDownloadPath);
  EXPECT_EQ(RequestPaths(), expected);
}

using Edit = std::function<std::string(const std::string&)>;

Tampering OfReply(Edit edit) {
  Tampering tampering;
  tampering.reply = std::move(edit);
  return tampering;
}
Tampering OfLine(std::string key, Edit change) {
  return OfReply([key, change](const std::string& reply) { return ChangeLine(reply, key, change); });
}
Tampering OfVersionQuery(Edit edit) {
  Tampering tampering;
  tampering.versionQuery = std::move(edit);
  return tampering;
}
Tampering OfInstaller(Edit edit) {
  Tampering tampering;
  tampering.installer = std::move(edit);
  return tampering;
}

// The installer replaced in transit by one of the same size and byte sum.
std::string Forged(const std::string& installer) {
  const std::vector<std::uint8_t> bytes(installer.begin(), installer.end());
  const auto forged = testing::ForgedInstaller(bytes, 2);
  EXPECT_EQ(ByteSumChecksum(forged), ByteSumChecksum(bytes));
  return std::string(forged.begin(), forged.end());
}

INSTANTIATE_TEST_SUITE_P(
    OnThePath, SignedUpdateAttacked,
    ::testing::Values(
        AttackCase{"VersionChanged", OfLine("ver=", [](auto&) { return std::string("2.54.0.0"); }),
                   StatusUndetermined, false},
        AttackCase{"UrlChanged",
                   OfLine("url=", [](auto& url) { return url.substr(0, url.find('/')) + "/download/Other.exe"; }),
                   StatusUndetermined, false},
        AttackCase{"SizeChanged", OfLine("size=", [](auto& size) { return std::to_string(std::stoll(size) + 1); }),
                   StatusUndetermined, false},
        AttackCase{"ChecksumChanged",
                   OfLine("consum=", [](auto& sum) { return std::to_string(std::stoll(sum) - 1); }),
                   StatusUndetermined, false},
        AttackCase{"DigestChanged",
                   OfLine("sha256=", [](auto& digest) { return std::string(digest.rbegin(), digest.rend()); }),
                   StatusUndetermined, false},
        AttackCase{"ReplayedFromAnotherRnd",
                   OfVersionQuery([](const std::string& query) {
                     const std::size_t at = query.rfind("rnd=") + 4;
                     return query.substr(0, at) + std::to_string(std::stoll(query.substr(at)) + 1);
                   }),
                   StatusUndetermined, false},
        AttackCase{"SignatureLinesDropped", OfReply([](const std::string& reply) { return FirstLines(reply, 4); }),
                   StatusUndetermined, false},
        AttackCase{"SigLineDropped", OfReply([](const std::string& reply) { return FirstLines(reply, 5); }),
                   StatusUndetermined, false},
        AttackCase{"InstallerSwappedKeepingSizeAndByteSum", OfInstaller(Forged), StatusDownloadFailed, true}),
    [](const ::testing::TestParamInfo<AttackCase>& info) { return std::string(info.param.name); });

// The program's CNG (installer-tags.exe under Wine runs the same code) and the endpoint's OpenSSL give
// one digest, for the installer and for copies stamped with other tags.
TEST_F(SignedUpdate, CngUnderWineAndOpenSslAgreeOnTheBlankedSha256) {
  const auto installer = NextInstaller();
  const auto expected = BlankedSha256(installer);
  ASSERT_TRUE(expected.has_value());
  const fs::path prefix = sandbox_->TempFolder().parent_path().parent_path().parent_path().parent_path();
  const std::vector<std::pair<std::string, std::string>> stamps = {{"", ""}, {"Dist0001", "Web00002"}, {"zz-__-99", "AbCd1234"}};
  for (const auto& [affid, affsid] : stamps) {
    const std::string name = affid.empty() ? "Setup.exe" : "Setup-" + affid + ".exe";
    fs::copy_file(Artifacts::NextInstaller(), sandbox_->TempFolder() / name, fs::copy_options::overwrite_existing);
    if (!affid.empty()) {
      const std::string stamp = Quoted(INSTALLER_TAGS_PROGRAM) + " stamp " + Quoted((sandbox_->TempFolder() / name).string()) +
                                " --affid " + affid + " --affsid " + affsid + " >/dev/null";
      ASSERT_EQ(std::system(stamp.c_str()), 0) << stamp;
    }
    const std::string command = "WINEPREFIX=" + Quoted(prefix.string()) + " WINEDEBUG=-all wine " +
                                Quoted(kInstallerTagsExe.string()) + " sha256 " +
                                Quoted(sandbox_->TempFolderWindows() + name) + " >" +
                                Quoted((sandbox_->TempFolder() / "sha256.txt").string());
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const auto printed = ReadBytes(sandbox_->TempFolder() / "sha256.txt");
    EXPECT_EQ(std::string(printed.begin(), printed.end()), "sha256=" + LowerHex(*expected) + "\n") << name;
  }
}

}  // namespace
}  // namespace isetup::e2e
