// Fuzzes the reference endpoint's handling of a request target through its public Server on the loopback
// interface: which queries it refuses, and that every answer it gives the setup holds up (the reply
// judges usable with the release's values, the stamped installer keeps the announced size and checksum
// and carries the request's valid tags), and that each request stays one access log line.
#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <mutex>

#include "endpoint/endpoint_server.h"
#include "endpoint/test_installer.h"
#include "payload/affiliate_tags.h"
#include "payload/checksum.h"
#include "tests/fuzz/fuzz_models.h"
#include "update/version_reply.h"

using namespace isetup;
using namespace isetup::endpoint;
using namespace isetup::fuzz;

namespace {

constexpr const char* kVersion = "2.53.0.0";
const std::string kDownloadPath = "/download/TalvimorasterSetup-2.53.0.0.exe";
// The server keeps a record of every request; a fresh one now and then keeps a long run's memory flat.
constexpr int kRequestsPerServer = 20000;

struct Answer {
  int status = 0;
  std::string body;
};

class Endpoint {
 public:
  Endpoint() : installer_(testing::MakeInstaller(40, 24)), checksum_(ByteSumChecksum(installer_)) { Restart(); }

  void Restart() {
    if (server_) server_->Stop();
    server_ = std::make_unique<Server>(Release{kVersion, installer_, ""}, "");
    server_->SetLogSink([](const std::string& line) {
      FUZZ_CHECK(std::none_of(line.begin(), line.end(), [](char c) { return c == '\n' || c == '\r' || c == '\0'; }),
                 "an access log line holds a line break: %s", line.c_str());
    });
    port_ = server_->Start("127.0.0.1", 0);
    FUZZ_CHECK(port_ > 0, "the endpoint did not start");
    requests_ = 0;
  }

  // One request with this target; reads the answer until the server closes the connection.
  Answer Get(const std::string& target) {
    if (++requests_ > kRequestsPerServer) Restart();
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    FUZZ_CHECK(fd >= 0, "no socket");
    timeval timeout{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    FUZZ_CHECK(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0, "cannot connect");
    const std::string request = "GET " + target + " HTTP/1.1\r\nHost: fuzz\r\nConnection: close\r\n\r\n";
    FUZZ_CHECK(send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size()),
               "cannot send");
    // The answer ends where its Content-Length says; a server that could not parse the request keeps
    // the connection open for another one, so the end of the stream is not waited for.
    std::string response;
    std::size_t expectedSize = std::string::npos;
    char buffer[4096];
    while (response.size() < expectedSize) {
      const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
      FUZZ_CHECK(got >= 0, "no answer within 10 s to %s", target.c_str());
      if (got == 0) break;
      response.append(buffer, static_cast<std::size_t>(got));
      const std::size_t headEnd = response.find("\r\n\r\n");
      if (expectedSize == std::string::npos && headEnd != std::string::npos) {
        std::string head = response.substr(0, headEnd);
        std::transform(head.begin(), head.end(), head.begin(), [](char c) { return static_cast<char>(std::tolower(c)); });
        const std::size_t length = head.find("\r\ncontent-length: ");
        expectedSize = headEnd + 4 + (length == std::string::npos ? 0 : std::stoul(head.substr(length + 18)));
      }
    }
    // A reset instead of an orderly close leaves no TIME_WAIT behind for the thousands of requests a run makes.
    linger reset{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    close(fd);
    Answer answer;
    if (response.starts_with("HTTP/1.1 ") && response.size() >= 12) answer.status = std::stoi(response.substr(9, 3));
    const std::size_t bodyAt = response.find("\r\n\r\n");
    if (bodyAt != std::string::npos) answer.body = response.substr(bodyAt + 4);
    return answer;
  }

  const std::vector<std::uint8_t>& installer() const { return installer_; }
  std::int32_t checksum() const { return checksum_; }
  int port() const { return port_; }

 private:
  std::vector<std::uint8_t> installer_;
  std::int32_t checksum_;
  std::unique_ptr<Server> server_;
  int port_ = 0;
  int requests_ = 0;
};

Endpoint* g_endpoint = nullptr;

// Percent-encodes what cannot stand in a request line or would end the query, so that every other byte
// of the input reaches the query parser as it is ("%" itself stays, malformed escapes included).
std::string EncodeForTarget(std::string_view bytes) {
  std::string out;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F || c == '?' || c == '#') {
      static constexpr char kHex[] = "0123456789ABCDEF";
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  return out;
}

bool AllChars(const std::string& text, bool (*accept)(char)) { return std::all_of(text.begin(), text.end(), accept); }

// The keys the setup sends with a fixed form; any other key or value is no reason to refuse.
bool ModelQueryAccepted(const httplib::Params& params) {
  for (const auto& [key, value] : params) {
    if (key == "ISetupVer" && !(value.size() == 8 && AllChars(value, [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }))) {
      return false;
    }
    if (key == "rnd" && !(!value.empty() && value.size() <= 10 && AllChars(value, [](char c) { return c >= '0' && c <= '9'; }))) {
      return false;
    }
  }
  return true;
}

// The value a stamped copy carries for a tag: the request's first value when it is a valid tag value,
// else the untagged one.
std::string ModelTagValue(const httplib::Params& params, const std::string& key) {
  const auto found = params.find(key);
  if (found == params.end() || found->second.size() != 8) return "00000000";
  const bool valid = AllChars(found->second, [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
  });
  return valid ? found->second : "00000000";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_endpoint = new Endpoint();
  return 0;
}

// The first byte picks the path (bits 0-1) and whether the rest goes into the target raw (bit 7, only the
// log line and some answer are checked then); the rest is the query.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > 4000) return 0;
  const std::uint8_t control = data[0];
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  static const std::string kPaths[] = {"/version.php", kDownloadPath, "/version.php", "/elsewhere"};
  const std::string& path = kPaths[control & 3];

  if (control & 0x80) {
    std::string raw(rest);
    std::replace(raw.begin(), raw.end(), '\n', '_');  // one request line, whatever else it holds
    std::replace(raw.begin(), raw.end(), '\r', '_');
    const Answer answer = g_endpoint->Get(path + "?" + raw);
    FUZZ_CHECK(answer.status >= 200 && answer.status < 600, "no status line for a raw target");
    return 0;
  }

  const std::string query = EncodeForTarget(rest);
  const Answer answer = g_endpoint->Get(path + "?" + query);
  httplib::Params params;
  httplib::detail::parse_query_text(query, params);

  int expected = 200;
  if (path == "/elsewhere") {
    expected = 404;
  } else if (!ModelQueryAccepted(params)) {
    expected = 400;
  }
  FUZZ_CHECK(answer.status == expected, "status %d for %s%s, model %d", answer.status, path.c_str(), query.c_str(),
             expected);
  if (answer.status != 200) return 0;

  if (path == kDownloadPath) {
    const std::span<const std::uint8_t> body(reinterpret_cast<const std::uint8_t*>(answer.body.data()),
                                             answer.body.size());
    FUZZ_CHECK(body.size() == g_endpoint->installer().size(), "served %zu bytes", body.size());
    FUZZ_CHECK(ByteSumChecksum(body) == g_endpoint->checksum(), "the stamped copy's checksum moved");
    const AffiliateTags tags = FindAffiliateTags(body);
    FUZZ_CHECK(tags.affid && tags.affid->value == ModelTagValue(params, "affid"), "affid %s for %s",
               tags.affid ? tags.affid->value.c_str() : "missing", query.c_str());
    FUZZ_CHECK(tags.affsid && tags.affsid->value == ModelTagValue(params, "affsid"), "affsid %s for %s",
               tags.affsid ? tags.affsid->value.c_str() : "missing", query.c_str());
    return 0;
  }

  const VersionReply reply = ParseVersionReply(answer.body);
  const std::string url = "127.0.0.1:" + std::to_string(g_endpoint->port()) + kDownloadPath;
  FUZZ_CHECK(reply.Usable && reply.VersionText == L"2.53.0.0" && reply.Version == 0x02350000u &&
                 reply.Size == static_cast<std::int32_t>(g_endpoint->installer().size()) &&
                 reply.Checksum == g_endpoint->checksum() && reply.Url == std::wstring(url.begin(), url.end()),
             "the reply does not hold up: %s", answer.body.c_str());
  return 0;
}
