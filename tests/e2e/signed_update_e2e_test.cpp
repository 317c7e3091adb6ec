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
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "base/lower_hex.h"
#include "endpoint/endpoint_server.h"
#include "endpoint/request_recorder.h"
#include "payload/blanked_sha256.h"
#include "payload/forged_installer.h"
#include "tests/e2e/shown_texts.h"
#include "tests/e2e/wine_sandbox.h"

namespace isetup::e2e {
namespace {

namespace fs = std::filesystem;
using Edit = std::function<std::string(const std::string&)>;

const fs::path kKeys = UPDATE_TEST_KEY_DIR;
const fs::path kWindowsBuild = INTERNETSETUP_WINDOWS_BUILD_DIR;
const std::string kDownloadPath = "/download/TalvimorasterSetup-2.53.0.0.exe";

std::string Quoted(const std::string& arg) { return "'" + arg + "'"; }

std::string NextInstaller() {
  const auto bytes = ReadBytes(Artifacts::NextInstaller());
  return {bytes.begin(), bytes.end()};
}

// The installer replaced by one of the same size and byte sum.
std::string Forged(const std::string& installer) {
  const auto forged = testing::ForgedInstaller(std::vector<std::uint8_t>(installer.begin(), installer.end()), 3);
  return {forged.begin(), forged.end()};
}

Edit Replace(const char* pattern, const char* replacement) {
  return [=](const std::string& text) { return std::regex_replace(text, std::regex(pattern), replacement); };
}

// A proxy on the program's endpoint port in front of the endpoint on `upstream`; an empty edit passes
// that part through.
class PathAttacker {
 public:
  PathAttacker(int upstream, Edit versionQuery, Edit reply, Edit installer) {
    server_.Get(".*", [=](const httplib::Request& request, httplib::Response& response) {
      const bool version = request.path == "/version.php";
      const std::size_t mark = request.target.find('?');
      std::string query = mark == std::string::npos ? "" : request.target.substr(mark);
      if (version && versionQuery) query = versionQuery(query);
      httplib::Client client("127.0.0.1", upstream);
      const auto answer = client.Get((request.path + query).c_str());
      if (!answer) return;  // 500 from the proxy: the test then fails on the requests seen
      const Edit& edit = version ? reply : installer;
      response.status = answer->status;
      response.set_content(edit ? edit(answer->body) : answer->body, answer->get_header_value("Content-Type").c_str());
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
  httplib::Server server_;
  std::thread thread_;
};

struct Attack {
  const char* name;
  const char* key;  // the endpoint's signing key in tests/keys
  Edit versionQuery, reply, installer;
  std::wstring_view status;
  bool downloads;  // whether the program gets as far as asking for the installer
};
void PrintTo(const Attack& attack, std::ostream* out) { *out << attack.name; }

class SignedUpdate : public ::testing::TestWithParam<Attack> {
 protected:
  // Runs the signed test build against the endpoint, behind an attacker when any edit is given.
  RunResult Run(const Attack& attack) {
    WineSandbox sandbox(CurrentTestName());
    const int port = Artifacts::EndpointPort();
    const bool attacked = attack.versionQuery || attack.reply || attack.installer;
    server_.emplace(endpoint::Release{"2.53.0.0", ReadBytes(Artifacts::NextInstaller()), ""},
                    attacked ? "127.0.0.1:" + std::to_string(port) : "");
    server_->SetLogSink([](const std::string&) {});
    recorder_.emplace(*server_);
    auto signer = endpoint::ReplySigner::Load((kKeys / attack.key).string());
    EXPECT_TRUE(signer.signer) << signer.error;
    server_->SetReplySigner(signer.signer);
    std::optional<PathAttacker> attacker;
    if (attacked) {
      attacker.emplace(server_->Start("127.0.0.1", 0), attack.versionQuery, attack.reply, attack.installer);
      EXPECT_TRUE(attacker->Start(port)) << "the endpoint port is taken";
    } else {
      EXPECT_EQ(server_->Start("127.0.0.1", port), port) << "the endpoint port is taken";
    }
    RunResult run = sandbox.Run({.online = true,
                                 .probeArgs = {},
                                 .timeoutSeconds = 60,
                                 .program = kWindowsBuild / "InternetSetup-signed-test.exe"});
    attacker.reset();
    server_->Stop();
    EXPECT_TRUE(run.EverVisible());
    const auto labels = run.Labels();
    EXPECT_NE(std::find(labels.begin(), labels.end(), Utf8(attack.status)), labels.end());
    // Exactly one launch, of the file at SetupPath.
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.launches.size(), 1u);
    if (!run.launches.empty()) {
      EXPECT_EQ(run.launches[0].path, sandbox.TempFolderWindows() + "TalvimorasterSetup.exe");
    }
    launched_ = ReadBytes(sandbox.TempFolder() / "TalvimorasterSetup.exe");
    std::vector<std::string> paths, expected{"/version.php"};
    for (const auto& request : recorder_->Requests()) paths.push_back(request.path);
    if (attack.downloads) expected.push_back(kDownloadPath);
    EXPECT_EQ(paths, expected);
    return run;
  }

  std::optional<endpoint::testing::RequestRecorder> recorder_;
  std::optional<endpoint::Server> server_;
  std::vector<std::uint8_t> launched_;
};

TEST_P(SignedUpdate, EndsWithTheInstallerThatTheSignatureVouchesFor) {
  Run(GetParam());
  const bool verified = GetParam().status == StatusCompleted;
  EXPECT_TRUE(launched_ == ReadBytes(verified ? Artifacts::NextInstaller() : Artifacts::EmbeddedPayload()));
}

constexpr const char* kKey = "update-test-key.private.pem";

INSTANTIATE_TEST_SUITE_P(
    Replies, SignedUpdate,
    ::testing::Values(
        Attack{"SignedIsVerified", kKey, {}, {}, {}, StatusCompleted, true},
        Attack{"SignedByAnotherKey", "other-test-key.private.pem", {}, {}, {}, StatusUndetermined, false},
        // Each edit leaves a reply that the four-line check alone would take.
        Attack{"VersionChanged", kKey, {}, Replace("ver=2\\.53", "ver=2.54"), {}, StatusUndetermined, false},
        Attack{"UrlChanged", kKey, {}, Replace("/download/", "/download/x"), {}, StatusUndetermined, false},
        Attack{"SizeChanged", kKey, {}, Replace("size=", "size=1"), {}, StatusUndetermined, false},
        Attack{"ChecksumChanged", kKey, {}, Replace("consum=", "consum=1"), {}, StatusUndetermined, false},
        Attack{"DigestChangedForASwappedInstaller", kKey, {},
               [](const std::string& reply) {
                 const auto forged = Forged(NextInstaller());
                 const auto digest = BlankedSha256(std::vector<std::uint8_t>(forged.begin(), forged.end()));
                 return std::regex_replace(reply, std::regex("sha256=[0-9a-f]+"), "sha256=" + LowerHex(*digest));
               },
               Forged, StatusUndetermined, false},
        Attack{"ReplayedFromAnotherRnd", kKey, Replace("rnd=", "rnd=1"), {}, {}, StatusUndetermined, false},
        Attack{"SignatureLinesDropped", kKey, {}, Replace("sha256=[\\s\\S]*", ""), {}, StatusUndetermined, false},
        Attack{"SigLineDropped", kKey, {}, Replace("sig=[\\s\\S]*", ""), {}, StatusUndetermined, false},
        Attack{"InstallerSwappedKeepingSizeAndByteSum", kKey, {}, {}, Forged, StatusDownloadFailed, true}),
    [](const ::testing::TestParamInfo<Attack>& info) { return std::string(info.param.name); });

// The program's CNG (installer-tags.exe under Wine runs the same code) and the endpoint's OpenSSL give
// one digest, for the installer and for copies stamped with other tags.
TEST(SignedUpdateDigest, CngUnderWineAndOpenSslAgreeOnTheBlankedSha256) {
  WineSandbox sandbox(CurrentTestName());
  std::string environment;
  for (const std::string& entry : sandbox.Environment()) environment += Quoted(entry) + " ";
  const auto expected = BlankedSha256(ReadBytes(Artifacts::NextInstaller()));
  ASSERT_TRUE(expected.has_value());
  for (const std::string affid : {"", "Dist0001", "zz-__-99"}) {
    const std::string name = "Setup" + affid + ".exe";
    fs::copy_file(Artifacts::NextInstaller(), sandbox.TempFolder() / name);
    const std::string stamp = Quoted(INSTALLER_TAGS_PROGRAM) + " stamp " + Quoted((sandbox.TempFolder() / name).string()) +
                              " --affid " + affid + " --affsid Web00002 >/dev/null";
    if (!affid.empty()) {
      ASSERT_EQ(std::system(stamp.c_str()), 0) << stamp;
    }
    const fs::path printed = sandbox.TempFolder() / "sha256.txt";
    const std::string command = "env " + environment + "wine " +
                                Quoted((kWindowsBuild / "tools/installer_tags/installer-tags.exe").string()) +
                                " sha256 " + Quoted(sandbox.TempFolderWindows() + name) + " >" + Quoted(printed.string());
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const auto line = ReadBytes(printed);
    EXPECT_EQ(std::string(line.begin(), line.end()), "sha256=" + LowerHex(*expected) + "\n") << name;
  }
}

}  // namespace
}  // namespace isetup::e2e
