// The endpoint served in-process on 127.0.0.1 and asked by real clients: cpp-httplib's and raw sockets.
#include "endpoint/endpoint_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <regex>
#include <thread>
#include <stdexcept>

#include "endpoint/request_recorder.h"
#include "endpoint/test_client.h"
#include "endpoint/test_installer.h"
#include "payload/checksum.h"
#include "payload/tag_fields.h"

namespace isetup::endpoint {
namespace {

using testing::GetRequest;
using testing::MakeInstaller;
using testing::ParseResponses;
using testing::RawConnection;
using testing::RawResult;

constexpr const char* kQuery = "?ISetupVer=02340000&affid=AbCd1234&affsid=zz-__-99&rnd=4711";
constexpr const char* kDownload = "/download/TalvimorasterSetup-2.53.0.0.exe";
const std::string kVersionRequest = std::string("/version.php") + kQuery;

std::span<const std::uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string Text(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The log follows the response, so tests wait for its lines.
using LogCollector = testing::LineCollector;

class EndpointTest : public ::testing::Test {
 protected:
  void SetUp() override {
    installer_ = MakeInstaller();
    server_ = std::make_unique<Server>(Release{"2.53.0.0", installer_, ""}, "");
    server_->SetLogSink(log_.Sink());
    recorder_.emplace(*server_);
    port_ = server_->Start("127.0.0.1", 0);
    ASSERT_GT(port_, 0);
    client_ = std::make_unique<httplib::Client>("127.0.0.1", port_);
    client_->set_read_timeout(10, 0);
  }
  std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }

  std::vector<std::uint8_t> installer_;
  LogCollector log_;
  std::optional<testing::RequestRecorder> recorder_;
  std::unique_ptr<Server> server_;
  int port_ = 0;
  std::unique_ptr<httplib::Client> client_;
};

std::vector<std::uint8_t> Stamped(std::vector<std::uint8_t> bytes, std::optional<std::string_view> affid,
                                  std::optional<std::string_view> affsid) {
  EXPECT_EQ(StampAffiliateTags(bytes, affid, affsid), std::nullopt);
  return bytes;
}

TEST_F(EndpointTest, VersionReplyNamesSizeChecksumAndDownloadUrl) {
  const auto result = client_->Get((std::string("/version.php") + kQuery).c_str());
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 200);
  EXPECT_EQ(result->get_header_value("Content-Type"), "text/plain");
  EXPECT_EQ(result->get_header_value("Content-Length"), std::to_string(result->body.size()));
  const std::string expected = "ver=2.53.0.0\r\nsize=" + std::to_string(installer_.size()) +
                               "\r\nconsum=" + std::to_string(ByteSumChecksum(installer_)) + "\r\nurl=" + Host() +
                               kDownload + "\r\n";
  EXPECT_EQ(result->body, expected);
  // A public host set while serving replaces the bound address.
  server_->SetPublicHost("downloads.example.com:8080");
  const auto second = client_->Get(kVersionRequest.c_str());
  ASSERT_TRUE(second);
  EXPECT_NE(second->body.find("\r\nurl=downloads.example.com:8080/download/TalvimorasterSetup-2.53.0.0.exe\r\n"),
            std::string::npos);
}

TEST_F(EndpointTest, ChecksumOfABigReleaseIsSignedAndMatchesTheDownload) {
  // 8,421,505 bytes of 0xFF total 2,147,483,775, announced in its negative 32-bit form.
  server_->SetRelease(Release{"3.0.0.1", std::vector<std::uint8_t>(8421505, 0xFF), "Big.exe"});
  const auto reply = client_->Get(kVersionRequest.c_str());
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->body, "ver=3.0.0.1\r\nsize=8421505\r\nconsum=-2147483521\r\nurl=" + Host() + "/download/Big.exe\r\n");
  const auto download = client_->Get("/download/Big.exe");
  ASSERT_TRUE(download);
  EXPECT_EQ(download->body.size(), 8421505u);
  // A setup that read the old reply still gets the old installer under the old path, until the
  // release after next.
  const auto old = client_->Get(kDownload);
  ASSERT_TRUE(old);
  EXPECT_EQ(old->status, 200);
  EXPECT_EQ(old->body, Text(installer_));
  server_->SetRelease(Release{"3.0.0.2", installer_, "Next.exe"});
  const auto gone = client_->Get(kDownload);
  ASSERT_TRUE(gone);
  EXPECT_EQ(gone->status, 404);
  const auto previous = client_->Get("/download/Big.exe");
  ASSERT_TRUE(previous);
  EXPECT_EQ(previous->body.size(), 8421505u);
}

TEST_F(EndpointTest, DownloadCarriesTheRequestsTagsAndTheAnnouncedChecksum) {
  const auto result = client_->Get((std::string(kDownload) + kQuery).c_str());
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 200);
  EXPECT_EQ(result->get_header_value("Content-Type"), "application/octet-stream");
  EXPECT_EQ(result->get_header_value("Content-Length"), std::to_string(installer_.size()));
  EXPECT_EQ(result->body, Text(Stamped(installer_, "AbCd1234", "zz-__-99")));
  const auto tags = FindAffiliateTags(Bytes(result->body));
  ASSERT_TRUE(tags.affid && tags.affsid);
  EXPECT_EQ(tags.affid->value, "AbCd1234");
  EXPECT_EQ(tags.affsid->value, "zz-__-99");
  EXPECT_EQ(ByteSumChecksum(Bytes(result->body)), ByteSumChecksum(installer_));
}

TEST_F(EndpointTest, TagsThatAreMissingOrUnsafeLeaveTheirTagUntagged) {
  struct Case {
    const char* query;
    std::optional<std::string_view> affid, affsid;  // what gets stamped
  };
  const Case cases[] = {
      {"", std::nullopt, std::nullopt},
      {"?ISetupVer=02340000&&rnd=1", std::nullopt, std::nullopt},
      {"?affid=ABCDEFG&affsid=ABCDEFGHI", std::nullopt, std::nullopt},  // 7 and 9 characters
      {"?affid=abc%26defg&affsid=ab%20cdefg", std::nullopt, std::nullopt},  // '&' and ' ' once decoded
      {"?affid=ab.cdefg&affsid=", std::nullopt, std::nullopt},
      {"?affid=GOOD0001&affsid=bad!bad!", "GOOD0001", std::nullopt},
      {"?ISetupVer=02340000&&affsid=GOOD0002&rnd=5", std::nullopt, "GOOD0002"},
      {"?affid=FIRST001&affid=SECOND01", "FIRST001", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    const auto result = client_->Get((std::string(kDownload) + c.query).c_str());
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200);
    const auto expected = (c.affid || c.affsid) ? Stamped(installer_, c.affid, c.affsid) : installer_;
    EXPECT_EQ(result->body, Text(expected));
  }
}

TEST(EndpointTagging, AnInstallerWithoutAffsidStillGetsItsAffid) {
  const auto installer = MakeInstaller(100, 100, /*withAffsid=*/false);
  Server server(Release{"2.53.0.0", installer, "One.exe"}, "");
  server.SetLogSink([](const std::string&) {});
  const int port = server.Start("127.0.0.1", 0);
  ASSERT_GT(port, 0);
  httplib::Client client("127.0.0.1", port);
  const auto result = client.Get("/download/One.exe?affid=ONLY0001&affsid=NONE0001");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->body, Text(Stamped(installer, "ONLY0001", std::nullopt)));
}

TEST_F(EndpointTest, HeadAnswersHeadersWithoutBody) {
  for (const std::string& path : {std::string("/version.php") + kQuery, std::string(kDownload) + kQuery}) {
    SCOPED_TRACE(path);
    RawConnection connection(port_);
    ASSERT_TRUE(connection.Send(GetRequest(path, "HEAD")));
    RawResult result;
    connection.ReadToEnd(result);
    ASSERT_FALSE(result.timedOut);
    EXPECT_EQ(result.received.rfind("HTTP/1.1 200", 0), 0u) << result.received;
    EXPECT_EQ(result.body(), "");
  }
  const auto head = client_->Head(kDownload);
  ASSERT_TRUE(head);
  EXPECT_EQ(head->get_header_value("Content-Length"), std::to_string(installer_.size()));
}

TEST_F(EndpointTest, BadRequestsGetACleanRefusalAndTheServerGoesOn) {
  struct Case {
    std::string method, target;
    int status;
  };
  const Case cases[] = {
      {"GET", "/", 404},
      {"GET", "/version.phpx", 404},
      {"GET", "/versionXphp", 404},  // the dot is not a pattern
      {"GET", "/version.php/more", 404},
      {"GET", "/download/", 404},
      {"GET", "/download/TalvimorasterSetup-2.52.0.0.exe", 404},
      {"GET", "/download/../version.php", 404},
      {"GET", "/version.php?ISetupVer=zz&rnd=1", 400},
      {"GET", "/version.php?ISetupVer=0234000&rnd=1", 400},
      {"GET", "/version.php?ISetupVer=02340000&rnd=abc", 400},
      {"GET", std::string(kDownload) + "?rnd=-5", 400},
      {"POST", "/version.php", 405},
      {"DELETE", std::string(kDownload), 405},
      {"BREW", "/version.php", 405},
      {"GET", "/version.php", 400},                        // the setup always sends both keys
      {"GET", "/version.php?ISetupVer=02340000", 400},     // no rnd
      {"GET", "/version.php?rnd=1&affid=AAAAAAAA", 400},   // no ISetupVer
      {"GET", "/version.php?ISetupVer=02340000&ISetupVer=x&rnd=1", 400},
      {"GET", "/healthz/", 404},
      {"GET", "/version.php?ISetupVer=02340000&rnd=1&x=\xEB", 400},  // 8-bit bytes in the target
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method + " " + c.target);
    RawConnection connection(port_);
    ASSERT_TRUE(connection.Send(GetRequest(c.target, c.method)));
    // Only the status line: after a request line it cannot parse the library keeps the connection
    // open until its keep-alive time-out.
    RawResult result;
    connection.Read(result, 12);
    ASSERT_FALSE(result.timedOut);
    EXPECT_EQ(result.received.rfind("HTTP/1.1 " + std::to_string(c.status), 0), 0u) << result.received;
  }
  RawConnection garbage(port_);
  ASSERT_TRUE(garbage.Send("\x01\x02 nonsense\r\n\r\n"));
  RawResult refused;
  garbage.Read(refused, 12);
  EXPECT_EQ(refused.received.rfind("HTTP/1.1 400", 0), 0u) << refused.received;

  const auto after = client_->Get(kVersionRequest.c_str());
  ASSERT_TRUE(after);
  EXPECT_EQ(after->status, 200);
}

TEST_F(EndpointTest, RequestsAreRecordedInArrivalOrder) {
  ASSERT_TRUE(client_->Get((std::string("/version.php") + kQuery).c_str()));
  ASSERT_TRUE(client_->Get((std::string(kDownload) + kQuery).c_str()));
  ASSERT_TRUE(client_->Get("/nowhere"));
  ASSERT_TRUE(recorder_->WaitForRequests(3, std::chrono::seconds(5)));
  const auto requests = recorder_->Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].path, "/version.php");
  EXPECT_EQ(requests[0].query, std::string(kQuery).substr(1));
  EXPECT_EQ(requests[0].params.at("ISetupVer"), "02340000");
  EXPECT_EQ(requests[0].params.at("affid"), "AbCd1234");
  EXPECT_EQ(requests[0].params.at("rnd"), "4711");
  EXPECT_EQ(requests[1].path, kDownload);
  EXPECT_EQ(requests[1].params.at("affsid"), "zz-__-99");
  EXPECT_EQ(requests[2].method, "GET");
  EXPECT_EQ(requests[2].path, "/nowhere");
  EXPECT_EQ(requests[2].query, "");
  EXPECT_FALSE(recorder_->WaitForRequests(4, std::chrono::milliseconds(1)));
}

TEST_F(EndpointTest, EachRequestIsLoggedAsOneCommonLogLine) {
  // A line is written once its response has gone out, so each request waits for the line before.
  const auto reply = client_->Get((std::string("/version.php") + kQuery).c_str());
  ASSERT_TRUE(reply);
  log_.WaitFor(1);
  ASSERT_TRUE(client_->Head(kDownload));
  log_.WaitFor(2);
  ASSERT_TRUE(client_->Get("/missing?a=\"b\""));
  const auto lines = log_.WaitFor(3);
  ASSERT_EQ(lines.size(), 3u);
  const std::regex format(
      R"re(127\.0\.0\.1 - - \[\d\d/(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec)/\d{4}:\d\d:\d\d:\d\d \+0000\] "(.*)" (\d{3}) (\d+|-))re");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(lines[0], match, format)) << lines[0];
  EXPECT_EQ(match[2], std::string("GET /version.php") + kQuery + " HTTP/1.1");
  EXPECT_EQ(match[3], "200");
  EXPECT_EQ(match[4], std::to_string(reply->body.size()));
  ASSERT_TRUE(std::regex_match(lines[1], match, format)) << lines[1];
  EXPECT_EQ(match[2], std::string("HEAD ") + kDownload + " HTTP/1.1");
  EXPECT_EQ(match[4], "-");
  ASSERT_TRUE(std::regex_match(lines[2], match, format)) << lines[2];
  EXPECT_EQ(match[2], "GET /missing?a=\\x22b\\x22 HTTP/1.1");  // quotes escaped: one field, one line
  EXPECT_EQ(match[3], "404");
}

TEST_F(EndpointTest, VersionStageFaultsChangeWhatIsAnnounced) {
  const std::string size = std::to_string(installer_.size());
  const std::int32_t checksum = ByteSumChecksum(installer_);
  const std::string url = "url=" + Host() + kDownload + "\r\n";
  struct Case {
    const char* name;
    StageFault fault;
    int status;
    std::string body;
  };
  const auto with = [](auto change) {
    StageFault fault;
    change(fault);
    return fault;
  };
  const Case cases[] = {
      {"status", with([](StageFault& f) { f.status = 500; }), 500, "500 Internal Server Error\r\n"},
      {"404", with([](StageFault& f) { f.status = 404; }), 404, "404 Not Found\r\n"},
      {"body", with([](StageFault& f) { f.body = "VER=1.0.0.0\n"; }), 200, "VER=1.0.0.0\n"},
      {"size", with([](StageFault& f) { f.sizeDelta = 1; }), 200,
       "ver=2.53.0.0\r\nsize=" + std::to_string(installer_.size() + 1) + "\r\nconsum=" + std::to_string(checksum) +
           "\r\n" + url},
      {"checksum", with([](StageFault& f) { f.checksumDelta = -1; }), 200,
       "ver=2.53.0.0\r\nsize=" + size + "\r\nconsum=" + std::to_string(checksum - 1) + "\r\n" + url},
      {"version", with([](StageFault& f) { f.versionText = "2.52.0.0"; }), 200,
       "ver=2.52.0.0\r\nsize=" + size + "\r\nconsum=" + std::to_string(checksum) + "\r\n" + url},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server_->SetFault(Stage::Version, c.fault);
    const auto result = client_->Get((std::string("/version.php") + kQuery).c_str());
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, c.status);
    EXPECT_EQ(result->body, c.body);
    // The other stage keeps behaving.
    const auto download = client_->Get(kDownload);
    ASSERT_TRUE(download);
    EXPECT_EQ(download->body, Text(installer_));
  }
  server_->ClearFaults();
  const auto healed = client_->Get(kVersionRequest.c_str());
  ASSERT_TRUE(healed);
  EXPECT_EQ(healed->body.rfind("ver=2.53.0.0\r\n", 0), 0u);
}

TEST_F(EndpointTest, InstallerStageFaultsServeOtherBytesOrStatus) {
  StageFault fault;
  fault.installerOverride = std::vector<std::uint8_t>{'M', 'Z', 0, 1, 2, 3};
  server_->SetFault(Stage::Installer, fault);
  const auto replaced = client_->Get((std::string(kDownload) + kQuery).c_str());
  ASSERT_TRUE(replaced);
  EXPECT_EQ(replaced->body, std::string("MZ\0\1\2\3", 6));
  fault = StageFault{};
  fault.status = 503;
  server_->SetFault(Stage::Installer, fault);
  const auto refused = client_->Get(kDownload);
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 503);
}

TEST_F(EndpointTest, TruncateAnnouncesTheWholeAndClosesAfterN) {
  StageFault fault;
  fault.truncateAfter = 1000;
  server_->SetFault(Stage::Installer, fault);
  RawConnection connection(port_);
  ASSERT_TRUE(connection.Send(GetRequest(kDownload)));
  RawResult result;
  connection.ReadToEnd(result);
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.endError, 0);
  EXPECT_NE(result.received.find("Content-Length: " + std::to_string(installer_.size()) + "\r\n"), std::string::npos);
  EXPECT_EQ(result.body(), Text(installer_).substr(0, 1000));
  const auto lines = log_.WaitFor(1);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].ends_with(" 200 1000")) << lines[0];
  // A real client notices the short body.
  EXPECT_FALSE(client_->Get(kDownload));
}

TEST_F(EndpointTest, ResetAbortsTheConnection) {
  StageFault fault;
  fault.resetAfter = 500;
  server_->SetFault(Stage::Version, fault);
  fault.resetAfter = 2000;
  server_->SetFault(Stage::Installer, fault);
  {
    RawConnection connection(port_);
    ASSERT_TRUE(connection.Send(GetRequest(kDownload)));
    RawResult result;
    connection.ReadToEnd(result);
    ASSERT_FALSE(result.timedOut);
    EXPECT_EQ(result.endError, ECONNRESET);
    EXPECT_LE(result.body().size(), 2000u);
    EXPECT_EQ(result.body(), Text(installer_).substr(0, result.body().size()));
  }
  // The reply is shorter than 500 bytes, so the fault falls past its end and the reply goes out whole.
  const auto reply = client_->Get(kVersionRequest.c_str());
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status, 200);
  EXPECT_EQ(reply->body.rfind("ver=2.53.0.0\r\n", 0), 0u);
}

TEST_F(EndpointTest, ThrottleSendsSmallPieces) {
  const auto medianRead = [&](const char* path) {
    std::vector<std::size_t> reads;
    std::string body;
    const auto result = client_->Get(path, [&](const char* data, std::size_t length) {
      reads.push_back(length);
      body.append(data, length);
      return true;
    });
    EXPECT_TRUE(result);
    EXPECT_EQ(body, Text(installer_));
    std::sort(reads.begin(), reads.end());
    return reads.empty() ? 0 : reads[reads.size() / 2];
  };
  // Unthrottled, the body arrives in reads of the client's buffer size.
  EXPECT_GT(medianRead(kDownload), 100u);
  StageFault fault;
  fault.throttleChunk = 100;
  fault.throttleDelayMs = 2;
  server_->SetFault(Stage::Installer, fault);
  EXPECT_LE(medianRead(kDownload), 100u);
}

TEST_F(EndpointTest, HangNeverAnswersUntilStop) {
  StageFault fault;
  fault.hang = true;
  server_->SetFault(Stage::Version, fault);
  RawConnection connection(port_);
  ASSERT_TRUE(connection.Send(GetRequest(std::string("/version.php") + kQuery)));
  ASSERT_TRUE(recorder_->WaitForRequests(1, std::chrono::seconds(10)));
  RawResult early;
  connection.Read(early, 1, /*idleMs=*/100);
  EXPECT_TRUE(early.timedOut);
  EXPECT_EQ(early.received, "");

  server_->Stop();
  RawResult result;
  connection.ReadToEnd(result);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.received, "");  // closed without a status line
  const auto lines = log_.WaitFor(1);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].ends_with("HTTP/1.1\" - -")) << lines[0];
  server_->Stop();  // again: nothing left to do
}

// A drain sends an answer under way to its end and closes an idle kept-alive connection at once (well
// before its idle time-out); an answer that never comes is cut when the grace is up.
TEST_F(EndpointTest, ADrainFinishesAnswersUnderWayAndClosesIdleConnections) {
  StageFault throttle;
  throttle.throttleChunk = 500;
  throttle.throttleDelayMs = 20;
  server_->SetFault(Stage::Installer, throttle);
  RawConnection idle(port_);
  ASSERT_TRUE(idle.Send("GET /healthz HTTP/1.1\r\nHost: a\r\n\r\n"));
  RawResult idleResult;
  idle.Read(idleResult, 1);
  RawConnection download(port_);
  ASSERT_TRUE(download.Send(std::string("GET ") + kDownload + " HTTP/1.1\r\nHost: a\r\n\r\n"));
  RawResult downloaded;
  download.Read(downloaded, 1);

  bool drained = false;
  std::thread drain([&] { drained = server_->Drain(std::chrono::seconds(20)); });
  idle.Read(idleResult, std::string::npos, /*idleMs=*/2000);  // the idle time-out is 5 s
  download.ReadToEnd(downloaded);
  drain.join();
  EXPECT_TRUE(drained);
  EXPECT_FALSE(idleResult.timedOut);
  EXPECT_EQ(ParseResponses(idleResult.received).size(), 1u) << idleResult.received;
  EXPECT_FALSE(downloaded.timedOut);
  EXPECT_EQ(downloaded.body(), Text(installer_));
}

TEST_F(EndpointTest, ADrainCutsAnAnswerThatNeverComesWhenTheGraceIsUp) {
  StageFault fault;
  fault.hang = true;
  server_->SetFault(Stage::Version, fault);
  RawConnection connection(port_);
  ASSERT_TRUE(connection.Send(GetRequest(kVersionRequest)));
  ASSERT_TRUE(recorder_->WaitForRequests(1, std::chrono::seconds(10)));
  EXPECT_FALSE(server_->Drain(std::chrono::milliseconds(100)));
  RawResult result;
  connection.ReadToEnd(result);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.received, "");
}

TEST_F(EndpointTest, HangAfterSendsHeadersAndNBytesThenWaitsForStop) {
  StageFault fault;
  fault.hangAfter = 3000;
  server_->SetFault(Stage::Installer, fault);
  RawConnection connection(port_);
  ASSERT_TRUE(connection.Send(GetRequest(kDownload)));
  RawResult result;
  connection.Read(result, std::string::npos, /*idleMs=*/200);  // everything that comes before the hang
  ASSERT_TRUE(result.timedOut);
  EXPECT_EQ(result.body(), Text(installer_).substr(0, 3000));
  EXPECT_EQ(result.received.rfind("HTTP/1.1 200", 0), 0u);

  server_->Stop();
  result.timedOut = false;
  connection.ReadToEnd(result);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.body().size(), 3000u);
}

TEST_F(EndpointTest, AHangEndsByItselfAtTheHangLimit) {
  server_->SetHangLimit(std::chrono::milliseconds(50));
  StageFault fault;
  fault.hang = true;
  server_->SetFault(Stage::Installer, fault);
  RawConnection connection(port_);
  ASSERT_TRUE(connection.Send(GetRequest(kDownload)));
  RawResult result;
  connection.ReadToEnd(result);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.received, "");
  // The server is still serving.
  const auto reply = client_->Get(kVersionRequest.c_str());
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status, 200);
}

TEST_F(EndpointTest, HeadAndGetAgreeOnStatusLengthAndType) {
  struct Case {
    std::string target;
    int status;
    const char* type;
  };
  const Case cases[] = {
      {kVersionRequest, 200, "text/plain"},
      {std::string(kDownload) + kQuery, 200, "application/octet-stream"},
      {kDownload, 200, "application/octet-stream"},
      {"/healthz", 200, "text/plain"},
      {"/nowhere", 404, "text/plain"},
      {"/version.php", 400, "text/plain"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    const auto ask = [&](const std::string& method) {
      RawConnection connection(port_);
      EXPECT_TRUE(connection.Send(GetRequest(c.target, method)));
      RawResult result;
      connection.ReadToEnd(result);
      EXPECT_FALSE(result.timedOut);
      const auto responses = ParseResponses(result.received, method == "HEAD");
      EXPECT_EQ(responses.size(), 1u) << result.received;
      return responses.empty() ? testing::Response{} : responses[0];
    };
    auto get = ask("GET");
    auto head = ask("HEAD");
    EXPECT_EQ(get.status, c.status);
    EXPECT_EQ(head.status, c.status);
    EXPECT_EQ(get.headers["content-type"], c.type);
    EXPECT_EQ(head.headers["content-type"], c.type);
    EXPECT_EQ(get.headers["content-length"], std::to_string(get.body.size()));
    EXPECT_EQ(head.headers["content-length"], get.headers["content-length"]);
    EXPECT_FALSE(get.headers["date"].empty());
  }
  const auto health = client_->Get("/healthz");
  ASSERT_TRUE(health);
  EXPECT_EQ(health->body, "ok 2.53.0.0\n");
}

TEST_F(EndpointTest, KeptAliveConnectionsCarrySeveralRequestsAndDropSmallBodies) {
  RawConnection connection(port_);
  // Three requests in one write: a GET with a small body, a HEAD, and a last one that closes.
  ASSERT_TRUE(connection.Send("GET " + kVersionRequest + " HTTP/1.1\r\nHost: a\r\nContent-Length: 5\r\n\r\nhello" +
                              "HEAD " + kVersionRequest + " HTTP/1.1\r\nHost: a\r\n\r\n" +  //
                              "GET /healthz HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n"));
  RawResult result;
  connection.ReadToEnd(result);
  ASSERT_FALSE(result.timedOut);
  const std::string reply = client_->Get(kVersionRequest.c_str())->body;
  // The HEAD's response sits between the two others; split by hand.
  const std::size_t second = result.received.find("HTTP/1.1 200", 1);
  const std::size_t third = result.received.find("HTTP/1.1 200", second + 1);
  ASSERT_NE(third, std::string::npos) << result.received;
  auto first = ParseResponses(result.received.substr(0, second));
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].body, reply);
  EXPECT_EQ(result.received.substr(second, third - second).find("\r\n\r\n") + 4, third - second);  // no body
  auto last = ParseResponses(result.received.substr(third));
  ASSERT_EQ(last.size(), 1u);
  EXPECT_EQ(last[0].headers["connection"], "close");
  EXPECT_EQ(last[0].body, "ok 2.53.0.0\n");
}

TEST_F(EndpointTest, RequestBodiesAndOtherMethodsAreRefused) {
  struct Case {
    std::string request;
    int status;
  };
  const Case cases[] = {
      {"POST /version.php HTTP/1.1\r\nHost: a\r\nContent-Length: 3\r\n\r\nabc", 405},
      {"GET /version.php HTTP/1.1\r\nHost: a\r\nContent-Length: 70000\r\n\r\n", 413},
      {"GET /version.php HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 400},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request);
    RawConnection connection(port_);
    ASSERT_TRUE(connection.Send(c.request));
    RawResult result;
    connection.ReadToEnd(result);  // the connection closes after the refusal
    ASSERT_FALSE(result.timedOut);
    auto responses = ParseResponses(result.received);
    ASSERT_EQ(responses.size(), 1u) << result.received;
    EXPECT_EQ(responses[0].status, c.status);
    EXPECT_EQ(responses[0].headers["connection"], "close");
    if (c.status == 405) {
      EXPECT_EQ(responses[0].headers["allow"], "GET, HEAD");
    }
  }
}

TEST_F(EndpointTest, TheLogNamesTheForwardedClientOnlyWhenTrusted) {
  const auto ask = [&](const std::string& forwarded) {
    RawConnection connection(port_);
    EXPECT_TRUE(connection.Send("GET /healthz HTTP/1.1\r\nHost: a\r\nX-Forwarded-For: " + forwarded +
                                "\r\nConnection: close\r\n\r\n"));
    RawResult result;
    connection.ReadToEnd(result);
  };
  ask("203.0.113.7");
  server_->SetTrustForwardedFor(true);
  ask("10.1.2.3, 203.0.113.8");
  ask("2001:db8::1");
  ask("evil\" 1.2.3.4");
  const auto lines = log_.WaitFor(4);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].rfind("127.0.0.1 ", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1].rfind("203.0.113.8 ", 0), 0u) << lines[1];  // the entry the nearest proxy added
  EXPECT_EQ(lines[2].rfind("2001:db8::1 ", 0), 0u) << lines[2];
  EXPECT_EQ(lines[3].rfind("127.0.0.1 ", 0), 0u) << lines[3];  // not an address: the peer
}

TEST_F(EndpointTest, RequestsDuringReleaseChangesSeeOneReleaseWhole) {
  const auto a = MakeInstaller(3000, 2000);
  const auto b = MakeInstaller(9000, 1000);
  const auto replyOf = [&](const std::string& version, const std::vector<std::uint8_t>& bytes, const char* file) {
    return "ver=" + version + "\r\nsize=" + std::to_string(bytes.size()) + "\r\nconsum=" +
           std::to_string(ByteSumChecksum(bytes)) + "\r\nurl=" + Host() + "/download/" + file + "\r\n";
  };
  const std::string replyA = replyOf("3.0.0.1", a, "A.exe");
  const std::string replyB = replyOf("3.0.0.2", b, "B.exe");
  server_->SetRelease(Release{"3.0.0.1", a, "A.exe"});
  std::atomic<bool> done{false};
  std::thread publisher([&] {
    for (int i = 0; !done && i < 2000; ++i) server_->SetRelease(i % 2 ? Release{"3.0.0.1", a, "A.exe"} : Release{"3.0.0.2", b, "B.exe"});
  });
  int seenA = 0, seenB = 0;
  for (int i = 0; i < 150; ++i) {
    const auto reply = client_->Get(kVersionRequest.c_str());
    ASSERT_TRUE(reply);
    const bool isA = reply->body == replyA;
    ASSERT_TRUE(isA || reply->body == replyB) << reply->body;
    (isA ? seenA : seenB)++;
    // The download named by the reply is the installer that reply describes, whatever is current now.
    const auto path = reply->body.substr(reply->body.find("/download/"));
    const auto download = client_->Get((path.substr(0, path.size() - 2) + kQuery).c_str());
    ASSERT_TRUE(download);
    ASSERT_EQ(download->status, 200);
    EXPECT_EQ(download->body, Text(Stamped(isA ? a : b, "AbCd1234", "zz-__-99")));
  }
  done = true;
  publisher.join();
  EXPECT_GT(seenA + seenB, 0);
}

// The bounds against slow, greedy and oversized clients, with short time-outs.
class EndpointLimitsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ServerLimits limits;
    limits.maxConnections = 2;
    limits.requestTimeout = std::chrono::milliseconds(300);
    limits.idleTimeout = std::chrono::milliseconds(200);
    server_ = std::make_unique<Server>(Release{"2.53.0.0", MakeInstaller(), ""}, "", limits);
    server_->SetLogSink(log_.Sink());
    port_ = server_->Start("127.0.0.1", 0);
    ASSERT_GT(port_, 0);
  }
  void ExpectServing() {
    httplib::Client client("127.0.0.1", port_);
    client.set_read_timeout(10, 0);
    const auto reply = client.Get(kVersionRequest.c_str());
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
  }

  LogCollector log_;
  std::unique_ptr<Server> server_;
  int port_ = 0;
};

TEST_F(EndpointLimitsTest, SlowOrOversizedRequestsGetTheirStatus) {
  struct Case {
    const char* name;
    std::string bytes;
    int status;
  };
  const Case cases[] = {
      {"nothing sent", "", 408},
      {"head unfinished", "GET " + kVersionRequest + " HTTP/1.1\r\nHost: a\r\n", 408},
      {"body unfinished", "GET " + kVersionRequest + " HTTP/1.1\r\nHost: a\r\nContent-Length: 10\r\n\r\nabc", 408},
      {"long request line", "GET /" + std::string(9000, 'a') + " HTTP/1.1\r\n", 414},
      {"long request line, unfinished", "GET /" + std::string(9000, 'a'), 414},
      {"large header", "GET / HTTP/1.1\r\nHost: a\r\nX: " + std::string(17000, 'v') + "\r\n\r\n", 431},
      {"garbage", std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\r\n\r\n", 15), 400},  // TLS bytes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RawConnection connection(port_);
    if (!c.bytes.empty()) {
      ASSERT_TRUE(connection.Send(c.bytes));
    }
    RawResult result;
    connection.ReadToEnd(result);
    EXPECT_FALSE(result.timedOut);
    const auto responses = ParseResponses(result.received);
    ASSERT_EQ(responses.size(), 1u) << result.received.substr(0, 200);
    EXPECT_EQ(responses[0].status, c.status);
  }
  // Each refusal is logged; one that came before any request line names none.
  const auto lines = log_.WaitFor(std::size(cases));
  ASSERT_EQ(lines.size(), std::size(cases));
  EXPECT_NE(lines[0].find("] \"-\" 408 "), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("] \"GET /version.php?"), std::string::npos) << lines[1];
  ExpectServing();
}

TEST_F(EndpointLimitsTest, ConnectionsBeyondTheCapAreTurnedAwayUntilOnesEnd) {
  RawConnection first(port_);
  RawConnection second(port_);
  {
    // Accepted in the order they connected: the third finds both places taken.
    RawConnection third(port_);
    RawResult result;
    third.ReadToEnd(result);
    ASSERT_FALSE(result.timedOut);
    const auto responses = ParseResponses(result.received);
    ASSERT_EQ(responses.size(), 1u) << result.received;
    EXPECT_EQ(responses[0].status, 503);
  }
  // The idle two are answered 408 at their time-out and closed, which frees their places.
  for (RawConnection* idle : {&first, &second}) {
    RawResult result;
    idle->ReadToEnd(result);
    ASSERT_FALSE(result.timedOut);
    EXPECT_EQ(result.received.rfind("HTTP/1.1 408", 0), 0u) << result.received;
  }
  ExpectServing();
}

TEST_F(EndpointLimitsTest, AnIdleKeptAliveConnectionIsClosedQuietly) {
  RawConnection connection(port_);
  ASSERT_TRUE(connection.Send("GET /healthz HTTP/1.1\r\nHost: a\r\n\r\n"));
  RawResult result;
  connection.ReadToEnd(result);  // ends when the idle time-out closes it
  ASSERT_FALSE(result.timedOut);
  const auto responses = ParseResponses(result.received);
  ASSERT_EQ(responses.size(), 1u) << result.received;
  EXPECT_EQ(responses[0].status, 200);
  EXPECT_EQ(result.received.find("408"), std::string::npos);
}

TEST(EndpointRelease, RefusesWhatTheSetupCouldNotUse) {
  const auto installer = MakeInstaller(10, 10);
  const Release refused[] = {
      {"2.53.0", installer, ""},           // three parts pack to 0
      {"0.0.0.0", installer, ""},          // packs to 0
      {"2.53.0.0\r\nsize=1", installer, "x.exe"},  // would inject a line
      {"2.53.0.0", {}, ""},                // empty installer
      {"2.53.0.0", installer, "../x.exe"},
      {"2.53.0.0", installer, "a b.exe"},
      {"2.53.0.0", installer, ".hidden"},
      {"2.256.0.0", installer, ""},        // the setup would keep the low 8 bits: 2.0.0.0
      {"2.053.0.0", installer, ""},        // one version, one spelling
      {"2.$35.0.0", installer, ""},        // hexadecimal the setup would take
      {" 2.53.0.0", installer, ""},
      {"2.53.0.0.", installer, ""},
  };
  for (const Release& release : refused) {
    SCOPED_TRACE(release.versionText + " " + release.fileName);
    EXPECT_NE(CheckRelease(release), std::nullopt);
    EXPECT_THROW(Server(release, ""), std::invalid_argument);
  }
  EXPECT_EQ(CheckRelease(Release{"2.53.0.0", installer, ""}), std::nullopt);
  EXPECT_EQ(ReleaseFileName(Release{"2.53.0.0", installer, ""}), "TalvimorasterSetup-2.53.0.0.exe");

  for (const char* host : {"127.0.0.1:18352", "downloads.example.com", "a-b.example:1"}) {
    EXPECT_EQ(CheckPublicHost(host), std::nullopt) << host;
  }
  for (const char* host : {"", "http://x", "x/path", "a b", "host:", "host:0", "host:65536", ":80", "h\r\n"}) {
    EXPECT_NE(CheckPublicHost(host), std::nullopt) << host;
  }
  EXPECT_THROW(Server(Release{"2.53.0.0", installer, ""}, "http://x"), std::invalid_argument);
}

TEST(EndpointLifecycle, StartTwiceOrOnABusyPortFails) {
  Server first(Release{"2.53.0.0", MakeInstaller(10, 10), ""}, "");
  const int port = first.Start("127.0.0.1", 0);
  ASSERT_GT(port, 0);
  EXPECT_EQ(first.Start("127.0.0.1", 0), -1);
  Server second(Release{"2.53.0.0", MakeInstaller(10, 10), ""}, "");
  EXPECT_EQ(second.Start("127.0.0.1", port), -1);
  EXPECT_EQ(first.PublicHost(), "127.0.0.1:" + std::to_string(port));
  // Stop without Start, and the destructors, must not block.
  Server never(Release{"2.53.0.0", MakeInstaller(10, 10), ""}, "");
  never.Stop();
}

// Whether something accepts connections on 127.0.0.1:`port`. A client that the kernel gives `port` as
// its own port connects to itself there, which is no listener.
bool Listening(int port) {
  const UniqueFd fd(socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return false;
  sockaddr_in own{};
  socklen_t size = sizeof own;
  getsockname(fd.get(), reinterpret_cast<sockaddr*>(&own), &size);
  return own.sin_port != address.sin_port;
}

// Drain closes the listening socket and the Stop it ends with closes it again; on a loop run by
// several threads the two closes and the accept loop must not touch the socket at once. Clients still
// connecting keep the accept loop busy at that moment.
TEST(EndpointLifecycle, ADrainOnSeveralLoopThreadsEndsCleanly) {
  ServerLimits limits;
  limits.threads = 4;
  for (int round = 0; round < 100; ++round) {
    Server server(Release{"2.53.0.0", MakeInstaller(10, 10), ""}, "", limits);
    const int port = server.Start("127.0.0.1", 0);
    ASSERT_GT(port, 0);
    RawConnection idle(port);
    std::atomic<bool> drained = false;
    std::thread connecting([&] {
      while (!drained) RawConnection another(port);
    });
    server.Drain(std::chrono::milliseconds(0));
    drained = true;
    connecting.join();
    RawResult seen;
    idle.Read(seen, 1, 5000);
    ASSERT_FALSE(seen.timedOut) << "round " << round << ": the idle connection stayed open";
    ASSERT_FALSE(Listening(port)) << "round " << round;
  }
}

}  // namespace
}  // namespace isetup::endpoint

namespace isetup::endpoint {
namespace {

// A download read at a slow, steady pace: `bytesPerPause` at most, then a pause. Returns the body
// bytes that arrived before the server ended the stream, or before `stopAfter` when given: the client then
// stops reading and leaves its socket open in `*stalled`.
std::size_t SlowDownload(int port, const std::string& target, std::size_t bytesPerPause, std::chrono::milliseconds pause,
                         std::size_t stopAfter = std::numeric_limits<std::size_t>::max(), int* stalled = nullptr) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  const int small = 16 * 1024;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);  // the client's window stays small
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::size_t received = 0;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    const std::string request = testing::GetRequest(target);
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::vector<char> buffer(bytesPerPause);
    std::string head;
    std::size_t headSize = 0;
    while (received < headSize || received - headSize < stopAfter) {
      pollfd ready{fd, POLLIN, 0};
      if (poll(&ready, 1, 20000) <= 0) break;
      const ssize_t count = recv(fd, buffer.data(), buffer.size(), 0);
      if (count <= 0) break;
      received += static_cast<std::size_t>(count);
      if (headSize == 0) {
        head.append(buffer.data(), static_cast<std::size_t>(count));
        if (const std::size_t end = head.find("\r\n\r\n"); end != std::string::npos) headSize = end + 4;
      }
      std::this_thread::sleep_for(pause);  // the pace of a slow line, not a wait for an event
    }
    received -= std::min(received, headSize);
  }
  if (stalled && received >= stopAfter) {
    *stalled = fd;
  } else {
    close(fd);
  }
  return received;
}

// Short time-outs, so that each fault shows within a second or two.
class EndpointLoadTest : public ::testing::Test {
 protected:
  void Start(std::vector<std::uint8_t> installer) {
    installer_ = std::move(installer);
    ServerLimits limits;
    limits.requestTimeout = std::chrono::milliseconds(3000);
    limits.writeTimeout = std::chrono::milliseconds(1000);
    server_ = std::make_unique<Server>(Release{"2.53.0.0", installer_, "Big.exe"}, "", limits);
    server_->SetLogSink(log_.Sink());
    port_ = server_->Start("127.0.0.1", 0);
    ASSERT_GT(port_, 0);
  }
  std::vector<std::uint8_t> installer_;
  LogCollector log_;
  std::unique_ptr<Server> server_;
  int port_ = 0;
};

TEST_F(EndpointLoadTest, HundredsOfSlowClientsLeaveRoomForRealRequests) {
  ASSERT_NO_FATAL_FAILURE(Start(MakeInstaller()));
  testing::ExpectAnsweredBesideSlowClients(port_);
}

TEST_F(EndpointLoadTest, ASlowSteadyDownloadIsNeverCutAndAStalledOneIsDropped) {
  ASSERT_NO_FATAL_FAILURE(Start(MakeInstaller(1'000'000, 500'000)));
  const std::size_t whole = installer_.size();
  // About 400 KB/s: each pause for room in the send buffer takes longer than the write time-out would
  // allow if it counted from the write instead of from the last byte taken.
  EXPECT_EQ(SlowDownload(port_, "/download/Big.exe", 4096, std::chrono::milliseconds(10)), whole);
  int stalled = -1;
  SlowDownload(port_, "/download/Big.exe", 4096, std::chrono::milliseconds(0), 100'000, &stalled);
  ASSERT_GE(stalled, 0);
  // It takes nothing more: within about the write time-out the server gives up and logs it.
  const auto lines = log_.WaitFor(2);
  close(stalled);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("\" 200 " + std::to_string(whole)), std::string::npos) << lines[0];
  // The stalled one is logged with the bytes it took before it was dropped.
  EXPECT_EQ(lines[1].find("\" 200 " + std::to_string(whole)), std::string::npos) << lines[1];
}

}  // namespace
}  // namespace isetup::endpoint
