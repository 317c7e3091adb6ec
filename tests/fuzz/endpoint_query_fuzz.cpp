// Fuzzes the reference endpoint's handling of a request target through its public Server on the loopback
// interface: which requests it refuses and with which status, that every answer it gives the setup holds
// up (the reply judges usable with the release's values, the stamped installer keeps the announced size
// and checksum and carries the request's valid tags), and that each request makes one access log line.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "endpoint/endpoint_server.h"
#include "endpoint/test_installer.h"
#include "payload/checksum.h"
#include "payload/tag_fields.h"
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
  std::string head;  // status line and header fields, letters in lower case
  std::string body;
  std::string logLine;  // the request's access log line
};

// The value of a header field in a lower-cased head, std::nullopt when it is missing.
std::optional<std::string> HeaderValue(const std::string& head, const std::string& name) {
  const std::size_t at = head.find("\r\n" + name + ": ");
  if (at == std::string::npos) return std::nullopt;
  const std::size_t begin = at + 4 + name.size();
  return head.substr(begin, head.find("\r\n", begin) - begin);
}

class Endpoint {
 public:
  Endpoint() : installer_(testing::MakeInstaller(40, 24)), checksum_(ByteSumChecksum(installer_)) { Restart(); }

  void Restart() {
    if (server_) server_->Stop();
    server_ = std::make_unique<Server>(Release{kVersion, installer_, ""}, "");
    {
      std::lock_guard lock(logMutex_);
      logLines_.clear();
    }
    server_->SetLogSink([this](const std::string& line) {
      FUZZ_CHECK(std::none_of(line.begin(), line.end(), [](char c) { return c == '\n' || c == '\r' || c == '\0'; }),
                 "an access log line holds a line break: %s", line.c_str());
      {
        std::lock_guard lock(logMutex_);
        logLines_.push_back(line);
      }
      logged_.notify_all();
    });
    port_ = server_->Start("127.0.0.1", 0);
    FUZZ_CHECK(port_ > 0, "the endpoint did not start");
    requests_ = 0;
  }

  // One request with this method and target; reads the answer, then waits for the request's access log line and checks that it is the only one.
  Answer Send(const std::string& method, const std::string& target) {
    if (requests_ >= kRequestsPerServer) Restart();
    ++requests_;
    const std::size_t linesBefore = LogLineCount();
    FUZZ_CHECK(linesBefore == static_cast<std::size_t>(requests_ - 1), "%zu access log lines for %d requests",
               linesBefore, requests_ - 1);
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    FUZZ_CHECK(fd >= 0, "no socket");
    timeval timeout{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    FUZZ_CHECK(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0, "cannot connect");
    const std::string request = method + " " + target + " HTTP/1.1\r\nHost: fuzz\r\nConnection: close\r\n\r\n";
    FUZZ_CHECK(send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size()),
               "cannot send");
    // The request says "Connection: close", so the answer runs to the end of the stream. A server that
    // refuses a request it has not read whole may end with a reset, after the answer.
    std::string response;
    char buffer[4096];
    while (true) {
      const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
      if (got == 0 || (got < 0 && errno == ECONNRESET)) break;
      FUZZ_CHECK(got > 0, "no answer within 10 s to %s", target.c_str());
      response.append(buffer, static_cast<std::size_t>(got));
    }
    // A reset instead of an orderly close leaves no TIME_WAIT behind for the thousands of requests a run makes.
    linger reset{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    close(fd);
    Answer answer;
    if (response.starts_with("HTTP/1.1 ") && response.size() >= 12) answer.status = std::stoi(response.substr(9, 3));
    const std::size_t bodyAt = response.find("\r\n\r\n");
    if (bodyAt != std::string::npos) {
      answer.head = response.substr(0, bodyAt + 2);
      std::transform(answer.head.begin(), answer.head.end(), answer.head.begin(),
                     [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
      answer.body = response.substr(bodyAt + 4);
    }
    answer.logLine = ExpectOneLogLine(linesBefore, answer, target);
    return answer;
  }

  const std::vector<std::uint8_t>& installer() const { return installer_; }
  std::int32_t checksum() const { return checksum_; }
  int port() const { return port_; }

 private:
  std::size_t LogLineCount() const {
    std::lock_guard lock(logMutex_);
    return logLines_.size();
  }

  // The server logs a request after answering it, so its line may come a little after the answer.
  // It ends with the status and the body bytes sent ("-" for none).
  std::string ExpectOneLogLine(std::size_t linesBefore, const Answer& answer, const std::string& target) {
    std::unique_lock lock(logMutex_);
    const bool arrived = logged_.wait_for(lock, std::chrono::seconds(10), [&] { return logLines_.size() > linesBefore; });
    FUZZ_CHECK(arrived, "no access log line for %s", target.c_str());
    FUZZ_CHECK(logLines_.size() == linesBefore + 1, "%zu access log lines for one request to %s",
               logLines_.size() - linesBefore, target.c_str());
    const std::string& line = logLines_.back();
    const std::string ending = "\" " + std::to_string(answer.status) + " " +
                               (answer.body.empty() ? std::string("-") : std::to_string(answer.body.size()));
    FUZZ_CHECK(line.ends_with(ending), "the access log line \"%s\" does not end in %s", line.c_str(), ending.c_str());
    return line;
  }

  mutable std::mutex logMutex_;
  std::condition_variable logged_;
  std::vector<std::string> logLines_;
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

using Pairs = std::vector<std::pair<std::string, std::string>>;

std::optional<std::string> FirstValue(const Pairs& params, const std::string& key) {
  for (const auto& [name, value] : params) {
    if (name == key) return value;
  }
  return std::nullopt;
}

// The refusal of the request line itself (414 or 400), 0 when the endpoint can read it.
int ModelLineRefusal(const std::string& method, const std::string& target) {
  const std::size_t requestLine = method.size() + 1 + target.size() + 1 + std::string_view("HTTP/1.1").size();
  if (requestLine > ServerLimits{}.maxRequestLine) return 414;
  if (!AllChars(target, [](char c) { return c > 0x20 && c < 0x7F; })) return 400;
  return 0;
}

// The status the endpoint owes a request of this method and target, built as "path?query": a request
// line over the length limit is 414, one whose target holds blanks, control or 8-bit bytes 400; then any
// method but GET and HEAD is 405; then a path other than the version path and the download path is 404;
// then a query is refused (400) when any ISetupVer is not eight hexadecimal digits or any rnd not one to
// ten decimal digits, and a version request also when it lacks either key. The affiliate tags and any
// other key are never a reason to refuse.
int ModelStatus(const std::string& method, const std::string& path, const std::string& query, const Pairs& params) {
  if (const int refusal = ModelLineRefusal(method, path + "?" + query)) return refusal;
  if (method != "GET" && method != "HEAD") return 405;
  if (path != "/version.php" && path != kDownloadPath) return 404;
  const auto isHex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); };
  const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  for (const auto& [key, value] : params) {
    if (key == "ISetupVer" && !(value.size() == 8 && AllChars(value, isHex))) return 400;
    if (key == "rnd" && !(!value.empty() && value.size() <= 10 && AllChars(value, isDigit))) return 400;
  }
  if (path == "/version.php" && (!FirstValue(params, "ISetupVer") || !FirstValue(params, "rnd"))) return 400;
  return 200;
}

// The value a stamped copy carries for a tag: the request's first value of that key when it is a valid
// tag value, else the untagged one.
std::string ModelTagValue(const Pairs& params, const std::string& key) {
  const auto value = FirstValue(params, key);
  if (!value || value->size() != 8) return "00000000";
  const bool valid = AllChars(*value, [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
  });
  return valid ? *value : "00000000";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_endpoint = new Endpoint();
  return 0;
}

// The first byte picks the path (bits 0-1), the method (bits 2-3: GET, GET, HEAD, or one of eight others
// by bits 4-6) and whether the rest goes into the target raw, line ends aside (bit 7), or percent-encoded
// where it could not stand in a request line; the rest is the query.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > 4000) return 0;
  const std::uint8_t control = data[0];
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  static const std::string kPaths[] = {"/version.php", kDownloadPath, "/version.php", "/elsewhere"};
  static const std::string kOtherMethods[] = {"POST", "PUT", "DELETE", "OPTIONS", "PATCH", "get", "BREW", "CONNECT"};
  const std::string& path = kPaths[control & 3];
  const int methodPick = (control >> 2) & 3;
  const std::string method = methodPick < 2 ? "GET" : methodPick == 2 ? "HEAD" : kOtherMethods[(control >> 4) & 7];

  std::string query;
  if (control & 0x80) {
    query = rest;
    std::replace(query.begin(), query.end(), '\n', '_');  // one request line, whatever else it holds
    std::replace(query.begin(), query.end(), '\r', '_');
  } else {
    query = EncodeForTarget(rest);
  }
  const Answer answer = g_endpoint->Send(method, path + "?" + query);
  const Pairs params = ModelParseQuery(query);
  const int expected = ModelStatus(method, path, query, params);
  FUZZ_CHECK(answer.status == expected, "status %d for %s %s?%s, model %d", answer.status, method.c_str(),
             path.c_str(), query.c_str(), expected);
  const bool lineRead = ModelLineRefusal(method, path + "?" + query) == 0;
  // HEAD gets an answer without its body, a refused one too: the endpoint reads the method back from the
  // bytes of a line it refuses, however much of it came in.
  const bool headAlone = method == "HEAD";
  const auto length = HeaderValue(answer.head, "content-length");
  FUZZ_CHECK(length.has_value(), "an answer without Content-Length to %s %s?%s", method.c_str(), path.c_str(),
             query.c_str());
  if (!headAlone) {
    FUZZ_CHECK(*length == std::to_string(answer.body.size()), "Content-Length %s, %zu body bytes for %s?%s",
               length->c_str(), answer.body.size(), path.c_str(), query.c_str());
  }
  // A request line the endpoint could read is logged as sent; a target it could take holds no control or
  // 8-bit bytes, so only quotes and backslashes are escaped.
  if (lineRead) {
    std::string logged = "\"" + method + " ";
    for (const char c : path + "?" + query) {
      logged += c == '"' ? std::string("\\x22") : c == '\\' ? std::string("\\x5C") : std::string(1, c);
    }
    logged += " HTTP/1.1\" ";
    FUZZ_CHECK(answer.logLine.find(logged) != std::string::npos, "the access log line \"%s\" lacks %s",
               answer.logLine.c_str(), logged.c_str());
  }
  if (headAlone) {
    FUZZ_CHECK(answer.body.empty(), "a body of %zu bytes for HEAD", answer.body.size());
    if (answer.status == 200 && path == kDownloadPath) {
      FUZZ_CHECK(*length == std::to_string(g_endpoint->installer().size()),
                 "HEAD of the download announces %s bytes", length->c_str());
    }
  }
  if (headAlone) return 0;
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
