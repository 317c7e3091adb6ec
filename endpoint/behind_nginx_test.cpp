// The nginx site of endpoint/deploy run on loopback with Debian's nginx in front of two endpoint
// copies: replies and stamped downloads through it, the cache of each tag pair, slow clients.
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "base/test_files.h"
#include "endpoint/test_client.h"
#include "endpoint/test_installer.h"
#include "endpoint/test_program.h"
#include "payload/tag_fields.h"
#include "tests/support/scratch_folder.h"

namespace isetup::endpoint {
namespace {

namespace fs = std::filesystem;
using testing::Program;

constexpr const char* kNginx = "/usr/sbin/nginx";  // Debian's nginx-light

// A port that was free a moment ago, for nginx, which cannot tell which one it took.
int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

using isetup::testing::ReadText;

class BehindNginx : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(kNginx)) << "nginx is missing: scripts/ensure-deps.sh installs nginx-light";
    fs::create_directories(work_ / "releases");
    fs::create_directories(work_ / "nginx");
    std::ofstream(work_ / "releases" / "Setup-2.53.0.0.exe", std::ios::binary)
        .write(reinterpret_cast<const char*>(installer_.data()), static_cast<std::streamsize>(installer_.size()));
    std::ofstream(work_ / "releases" / "release.txt")
        << "version=2.53.0.0\nfile=Setup-2.53.0.0.exe\nsize=" << installer_.size() << "\n";

    port_ = FreePort();
    for (auto& copy : copies_) {
      copy = std::make_unique<Program>(std::vector<std::string>{
          "--release-dir", (work_ / "releases").string(), "--port", "0", "--public-host",
          "127.0.0.1:" + std::to_string(port_), "--trust-forwarded-for"});
      copyPorts_.push_back(testing::ListeningPort(*copy));
      ASSERT_GT(copyPorts_.back(), 0);
    }
    // The operators' site, pointed at this test's ports and folders.
    std::string site = ReadText(NGINX_SITE);
    site = std::regex_replace(site, std::regex("127\\.0\\.0\\.1:18352"), "127.0.0.1:" + std::to_string(copyPorts_[0]));
    site = std::regex_replace(site, std::regex("127\\.0\\.0\\.1:18353"), "127.0.0.1:" + std::to_string(copyPorts_[1]));
    site = std::regex_replace(site, std::regex("listen 80;"), "listen 127.0.0.1:" + std::to_string(port_) + ";");
    site = std::regex_replace(site, std::regex("/var/cache/nginx/internetsetup"), (work_ / "nginx" / "cache").string());
    std::ofstream(work_ / "nginx" / "site.conf") << site;
    const std::string nginx = (work_ / "nginx").string();
    std::ofstream(work_ / "nginx" / "nginx.conf")
        << "daemon off;\nworker_processes 1;\npid " << nginx << "/nginx.pid;\nerror_log " << nginx << "/error.log;\n"
        << "events { worker_connections 1024; }\nhttp {\n  access_log off;\n"
        << "  client_body_temp_path " << nginx << "/body;\n  proxy_temp_path " << nginx << "/proxy;\n"
        << "  fastcgi_temp_path " << nginx << "/fastcgi;\n  uwsgi_temp_path " << nginx << "/uwsgi;\n"
        << "  scgi_temp_path " << nginx << "/scgi;\n  include " << nginx << "/site.conf;\n}\n";
    nginx_ = std::make_unique<Program>(
        std::vector<std::string>{"-p", nginx, "-e", nginx + "/error.log", "-c", nginx + "/nginx.conf"}, kNginx);
    ASSERT_TRUE(nginx_->spawned());
    // Ready once it answers; bounded, and a failed start shows in its error log.
    for (int attempt = 0; attempt < 200; ++attempt) {
      httplib::Client probe("127.0.0.1", port_);
      if (const auto reply = probe.Get("/healthz"); reply && reply->status == 200) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    FAIL() << "nginx did not answer: " << ReadText(work_ / "nginx" / "error.log");
  }
  void TearDown() override {
    nginx_.reset();
    copies_[0].reset();
    copies_[1].reset();
  }
  // Stops the copies and returns every request line they logged.
  std::string StopCopiesAndReadLogs() {
    std::string lines;
    for (auto& copy : copies_) {
      copy->Signal(SIGTERM);
      EXPECT_EQ(copy->Wait(), 0);
      for (std::string line; !(line = copy->ReadLine()).empty();) lines += line + "\n";
    }
    return lines;
  }
  static std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
  }

  const std::vector<std::uint8_t> installer_ = testing::MakeInstaller(200'000, 100'000);
  isetup::testing::ScratchFolder work_{isetup::testing::ScratchFolder::ForTest("behind_nginx")};
  int port_ = 0;
  std::unique_ptr<Program> copies_[2];
  std::vector<int> copyPorts_;
  std::unique_ptr<Program> nginx_;
};

TEST_F(BehindNginx, RepliesPassAndEachTagPairIsStampedOnceThenServedFromTheCache) {
  httplib::Client client("127.0.0.1", port_);
  client.set_read_timeout(10, 0);
  for (const char* rnd : {"1", "2"}) {
    const auto reply = client.Get((std::string("/version.php?ISetupVer=02340000&affid=AbCd1234&rnd=") + rnd).c_str());
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->body.substr(0, reply->body.find("\r\n")), "ver=2.53.0.0");
    EXPECT_NE(reply->body.find("url=127.0.0.1:" + std::to_string(port_) + "/download/Setup-2.53.0.0.exe\r\n"),
              std::string::npos) << reply->body;
  }
  EXPECT_EQ(client.Get("/version.php")->status, 400);  // the copy's refusal passes through

  struct Case {
    const char* query;
    std::optional<std::string_view> affid, affsid;  // as stamped
    const char* cache;
  };
  const Case cases[] = {
      {"?ISetupVer=02340000&affid=AbCd1234&affsid=Zz-_0099&rnd=7", "AbCd1234", "Zz-_0099", "MISS"},
      {"?ISetupVer=02340000&affid=AbCd1234&affsid=Zz-_0099&rnd=8", "AbCd1234", "Zz-_0099", "HIT"},  // rnd is no key
      {"?affid=QQQQ1111&affsid=Zz-_0099", "QQQQ1111", "Zz-_0099", "MISS"},
      // nginx reads names without letter case and the first of repeated keys; the copy is asked
      // with what the key holds, so no other spelling fills the cache for a pair with other bytes.
      {"?AFFID=Evil0000&affid=QQQQ1111&affsid=Zz-_0099", "Evil0000", "Zz-_0099", "MISS"},
      {"?affid=Evil0000&affsid=Zz-_0099", "Evil0000", "Zz-_0099", "HIT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    const auto download = client.Get((std::string("/download/Setup-2.53.0.0.exe") + c.query).c_str());
    ASSERT_TRUE(download);
    ASSERT_EQ(download->status, 200);
    std::vector<std::uint8_t> expected = installer_;
    ASSERT_EQ(StampAffiliateTags(expected, c.affid, c.affsid), std::nullopt);
    EXPECT_TRUE(download->body == std::string(expected.begin(), expected.end()));
    EXPECT_EQ(download->get_header_value("X-Cache-Status"), c.cache);
  }
  const auto head = client.Head("/download/Setup-2.53.0.0.exe?affid=AbCd1234&affsid=Zz-_0099");
  ASSERT_TRUE(head);
  EXPECT_EQ(head->get_header_value("Content-Length"), std::to_string(installer_.size()));

  const std::string logs = StopCopiesAndReadLogs();
  EXPECT_EQ(Count(logs, "\"GET /download/"), 3u) << logs;  // one per tag pair
  EXPECT_EQ(Count(logs, "\"GET /version.php"), 3u) << logs;  // none from a cache
}

TEST_F(BehindNginx, SlowClientsAtTheProxyLeaveRoomForRealRequests) { testing::ExpectAnsweredBesideSlowClients(port_); }

}  // namespace
}  // namespace isetup::endpoint
