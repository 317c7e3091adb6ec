// The reference version endpoint on top of cpp-httplib: routing, the reply, the stamped download, the
// faults, the request record and the access log.
#include "endpoint/endpoint_server.h"

#include <httplib.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <stdexcept>

#include "endpoint/access_log.h"
#include "endpoint/connection_socket.h"
#include "payload/affiliate_tags.h"
#include "payload/checksum.h"
#include "update/version.h"

namespace isetup::endpoint {

struct Server::ServedRelease {
  std::string versionText;
  std::shared_ptr<const std::string> installer;  // untagged bytes, shared by every response that needs no stamp
  std::string downloadPath;
  std::int32_t checksum = 0;  // blind to the tag values, so it holds for every stamped copy too
};

namespace {

constexpr std::size_t kWorkerThreads = 16;  // hanging handlers each hold one
constexpr std::size_t kPieceSize = 64 * 1024;
constexpr std::size_t kMaxRequestBody = 64 * 1024;

// What the logger reports for the request that the current worker thread is serving.
thread_local std::size_t t_bodyBytesSent = 0;
thread_local bool t_unanswered = false;

std::wstring Widen(std::string_view ascii) { return std::wstring(ascii.begin(), ascii.end()); }

bool IsPrintableAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

bool AllOf(std::string_view text, bool (*accept)(char)) { return std::all_of(text.begin(), text.end(), accept); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool IsFileNameChar(char c) {
  return IsDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.' || c == '-' || c == '_';
}
bool IsHostChar(char c) { return IsDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.' || c == '-'; }

// The keys that the setup sends with a fixed form; a value of another form is a malformed query.
// The affiliate tags are not judged here: a bad tag only leaves the download untagged.
std::optional<std::string> CheckQuery(const httplib::Request& request) {
  for (const auto& [key, value] : request.params) {
    if (key == "ISetupVer" && !(value.size() == 8 && AllOf(value, IsHexDigit))) {
      return "ISetupVer must be eight hexadecimal digits";
    }
    if (key == "rnd" && !(!value.empty() && value.size() <= 10 && AllOf(value, IsDigit))) {
      return "rnd must be a decimal number";
    }
  }
  return std::nullopt;
}

std::string RawQuery(const std::string& target) {
  const std::size_t mark = target.find('?');
  return mark == std::string::npos ? std::string() : target.substr(mark + 1);
}

std::string StatusLine(int status) {
  switch (status) {
    case 400: return "400 Bad Request";
    case 403: return "403 Forbidden";
    case 404: return "404 Not Found";
    case 405: return "405 Method Not Allowed";
    case 413: return "413 Payload Too Large";
    case 414: return "414 URI Too Long";
    case 500: return "500 Internal Server Error";
    case 502: return "502 Bad Gateway";
    case 503: return "503 Service Unavailable";
    default: return std::to_string(status);
  }
}

void SetStatusPage(httplib::Response& response, int status, const std::string& detail = {}) {
  response.status = status;
  response.set_content(StatusLine(status) + (detail.empty() ? "" : ": " + detail) + "\r\n", "text/plain");
}

// A worker thread that writes to a connection that the peer or a fault has closed must get an error,
// not a signal that ends the process.
void IgnoreBrokenPipes() {
  struct sigaction current {};
  if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
  }
}

std::optional<std::string> TagFromQuery(const httplib::Request& request, const char* key) {
  if (!request.has_param(key)) return std::nullopt;
  std::string value = request.get_param_value(key);
  if (!IsValidTagValue(value)) return std::nullopt;
  return value;
}

std::shared_ptr<const std::string> StampedCopy(const std::shared_ptr<const std::string>& installer,
                                               const httplib::Request& request) {
  const auto affid = TagFromQuery(request, "affid");
  const auto affsid = TagFromQuery(request, "affsid");
  if (!affid && !affsid) return installer;
  auto copy = std::make_shared<std::string>(*installer);
  const std::span<std::uint8_t> bytes(reinterpret_cast<std::uint8_t*>(copy->data()), copy->size());
  // One tag at a time, so that an installer whose other tag is missing or damaged still gets this one.
  // A refused stamp leaves that tag as the installer has it.
  if (affid) (void)StampAffiliateTags(bytes, *affid, std::nullopt);
  if (affsid) (void)StampAffiliateTags(bytes, std::nullopt, *affsid);
  return copy;
}

// Where the body of a response stops early, and how.
enum class Cut { None, Truncate, Reset, Hang };
struct BodyCut {
  Cut cut = Cut::None;
  std::size_t at = 0;
};

// The earliest of the faults that fall inside the body wins; at the same byte a hang comes before a
// reset and a reset before a truncation. A count at or past the body's end has no effect.
BodyCut CutOf(const StageFault& fault, std::size_t size) {
  BodyCut result{Cut::None, size};
  const auto consider = [&](const std::optional<std::size_t>& count, Cut cut) {
    if (count && *count < result.at) result = BodyCut{cut, *count};
  };
  consider(fault.hangAfter, Cut::Hang);
  consider(fault.resetAfter, Cut::Reset);
  consider(fault.truncateAfter, Cut::Truncate);
  return result;
}

}  // namespace

std::string ReleaseFileName(const Release& release) {
  return release.fileName.empty() ? "TalvimorasterSetup-" + release.versionText + ".exe" : release.fileName;
}

std::optional<std::string> CheckRelease(const Release& release) {
  if (!IsPrintableAscii(release.versionText) || ParsePackedVersion(Widen(release.versionText)) == 0) {
    return "the version \"" + release.versionText + "\" is not a four-part version a.b.c.d that packs to nonzero";
  }
  const std::string name = ReleaseFileName(release);
  if (name.empty() || name.front() == '.' || !AllOf(name, IsFileNameChar)) {
    return "the file name \"" + name + "\" may hold only A-Z a-z 0-9 . - _ and must not begin with a dot";
  }
  if (release.installer.empty()) return "the installer is empty";
  if (release.installer.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    return "the installer is larger than 2147483647 bytes, which the setup cannot take as a size";
  }
  return std::nullopt;
}

std::optional<std::string> CheckPublicHost(std::string_view host) {
  const std::size_t colon = host.find(':');
  const std::string_view name = host.substr(0, colon);
  const bool nameOk = !name.empty() && AllOf(name, IsHostChar);
  bool portOk = true;
  if (colon != std::string_view::npos) {
    const std::string_view port = host.substr(colon + 1);
    portOk = !port.empty() && port.size() <= 5 && AllOf(port, IsDigit) && std::stoi(std::string(port)) >= 1 &&
             std::stoi(std::string(port)) <= 65535;
  }
  if (!nameOk || !portOk) {
    return "the public host \"" + std::string(host) + "\" is not HOST or HOST:PORT (no scheme, no path)";
  }
  return std::nullopt;
}

Server::Server(Release release, std::string publicHost) {
  SetRelease(std::move(release));
  SetPublicHost(std::move(publicHost));
}

Server::~Server() { Stop(); }

void Server::SetRelease(Release release) {
  if (auto problem = CheckRelease(release)) throw std::invalid_argument(*problem);
  auto served = std::make_shared<ServedRelease>();
  served->checksum = ByteSumChecksum(release.installer);
  served->downloadPath = std::string(kDownloadPrefix) + ReleaseFileName(release);
  served->installer = std::make_shared<const std::string>(release.installer.begin(), release.installer.end());
  served->versionText = std::move(release.versionText);
  std::lock_guard lock(mutex_);
  release_ = std::move(served);
}

void Server::SetPublicHost(std::string publicHost) {
  if (!publicHost.empty()) {
    if (auto problem = CheckPublicHost(publicHost)) throw std::invalid_argument(*problem);
  }
  std::lock_guard lock(mutex_);
  publicHost_ = std::move(publicHost);
}

std::string Server::PublicHost() const {
  std::lock_guard lock(mutex_);
  return publicHost_.empty() ? boundHost_ : publicHost_;
}

void Server::SetFault(Stage stage, StageFault fault) {
  std::lock_guard lock(mutex_);
  faults_[stage] = std::move(fault);
}

void Server::ClearFaults() {
  std::lock_guard lock(mutex_);
  faults_.clear();
}

void Server::SetHangLimit(std::chrono::milliseconds limit) {
  std::lock_guard lock(mutex_);
  hangLimit_ = std::clamp(limit, std::chrono::milliseconds(0), kMaxHang);
}

void Server::SetLogSink(std::function<void(const std::string&)> sink) {
  std::lock_guard lock(logMutex_);
  logSink_ = std::move(sink);
}

int Server::Start(const std::string& address, int port) {
  {
    std::lock_guard lock(mutex_);
    if (started_ || stopping_) return -1;
    started_ = true;
  }
  IgnoreBrokenPipes();
  auto http = std::make_unique<httplib::Server>();
  http->new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
  // Without Nagle's delay each throttled chunk leaves when it is written.
  http->set_tcp_nodelay(true);
  // The library's default is SO_REUSEPORT, which lets a second server bind the same port and silently
  // share its connections (a leftover endpoint of an earlier test, say). SO_REUSEADDR only allows a
  // quick restart past connections in TIME_WAIT.
  http->set_socket_options([](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  http->set_read_timeout(10);
  http->set_write_timeout(10);
  http->set_payload_max_length(kMaxRequestBody);
  http->set_pre_routing_handler([this](const httplib::Request& request, httplib::Response&) {
    t_bodyBytesSent = 0;
    t_unanswered = false;
    Record(request);
    return httplib::Server::HandlerResponse::Unhandled;
  });
  // One route for every path: the paths are compared as texts, not as patterns.
  http->Get(".*", [this](const httplib::Request& request, httplib::Response& response) { Handle(request, response); });
  const auto notAllowed = [](const httplib::Request&, httplib::Response& response) {
    SetStatusPage(response, 405);
    response.set_header("Allow", "GET, HEAD");
  };
  http->Post(".*", notAllowed);
  http->Put(".*", notAllowed);
  http->Patch(".*", notAllowed);
  http->Delete(".*", notAllowed);
  http->Options(".*", notAllowed);
  // The library's own refusals (bad request line, oversized request) get a short text body too.
  http->set_error_handler(httplib::Server::HandlerWithResponse(
      [](const httplib::Request&, httplib::Response& response) {
        if (!response.body.empty() || response.content_provider_) return httplib::Server::HandlerResponse::Unhandled;
        SetStatusPage(response, response.status);
        return httplib::Server::HandlerResponse::Handled;
      }));
  http->set_exception_handler([](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
    SetStatusPage(response, 500);
  });
  http->set_logger([this](const httplib::Request& request, const httplib::Response& response) { Log(request, response); });

  int bound = -1;
  if (port == 0) {
    bound = http->bind_to_any_port(address);
  } else if (http->bind_to_port(address, port)) {
    bound = port;
  }
  if (bound <= 0) {
    std::lock_guard lock(mutex_);
    started_ = false;
    return -1;
  }
  {
    std::lock_guard lock(mutex_);
    boundHost_ = (address.find(':') == std::string::npos ? address : "[" + address + "]") + ":" + std::to_string(bound);
  }
  http_ = std::move(http);
  thread_ = std::thread([this, server = http_.get()] {
    server->listen_after_bind();
    {
      std::lock_guard lock(mutex_);
      listenEnded_ = true;
    }
    changed_.notify_all();
  });
  // The library's stop() does nothing until its listening loop runs, so Start returns only once it
  // does (a moment), or once the loop has ended at once, which counts as failure.
  while (!http_->is_running()) {
    std::unique_lock lock(mutex_);
    if (changed_.wait_for(lock, std::chrono::milliseconds(1), [this] { return listenEnded_; })) return -1;
  }
  return bound;
}

void Server::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (http_) http_->stop();
  if (thread_.joinable()) thread_.join();
}

std::vector<RequestRecord> Server::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

bool Server::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

void Server::Record(const httplib::Request& request) {
  RequestRecord record;
  record.method = request.method;
  record.path = request.path;
  record.query = RawQuery(request.target);
  for (const auto& [key, value] : request.params) record.params.emplace(key, value);  // keeps the first
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(std::move(record));
  }
  changed_.notify_all();
}

void Server::Log(const httplib::Request& request, const httplib::Response& response) {
  AccessLogEntry entry;
  entry.remoteAddress = request.remote_addr;
  entry.time = std::chrono::system_clock::now();
  entry.method = request.method;
  entry.target = request.target;
  entry.version = request.version;
  entry.status = t_unanswered ? 0 : response.status;
  if (t_unanswered || request.method == "HEAD") {
    entry.bodyBytes = 0;
  } else if (response.content_provider_) {
    entry.bodyBytes = t_bodyBytesSent;
  } else {
    entry.bodyBytes = response.body.size();
  }
  // Requests that the library refuses before routing do not pass the pre-routing handler.
  t_bodyBytesSent = 0;
  t_unanswered = false;
  const std::string line = FormatAccessLogLine(entry);
  std::lock_guard lock(logMutex_);
  if (logSink_) {
    logSink_(line);
  } else {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }
}

std::shared_ptr<const Server::ServedRelease> Server::CurrentRelease() const {
  std::lock_guard lock(mutex_);
  return release_;
}

StageFault Server::FaultOf(Stage stage) const {
  std::lock_guard lock(mutex_);
  const auto found = faults_.find(stage);
  return found == faults_.end() ? StageFault{} : found->second;
}

std::chrono::steady_clock::time_point Server::HangDeadline() const {
  std::lock_guard lock(mutex_);
  return std::chrono::steady_clock::now() + hangLimit_;
}

bool Server::WaitUntilStopping(std::chrono::steady_clock::time_point deadline) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_until(lock, deadline, [this] { return stopping_; });
}

void Server::Handle(const httplib::Request& request, httplib::Response& response) {
  const auto release = CurrentRelease();
  Stage stage;
  if (request.path == kVersionPath) {
    stage = Stage::Version;
  } else if (request.path == release->downloadPath) {
    stage = Stage::Installer;
  } else {
    SetStatusPage(response, 404);
    return;
  }
  if (auto problem = CheckQuery(request)) {
    SetStatusPage(response, 400, *problem);
    return;
  }
  const StageFault fault = FaultOf(stage);
  if (fault.hang) {
    HangWithoutAnswer(request, response);
    return;
  }
  if (fault.status != 0) {
    response.status = fault.status;
    SendBody(request, response, std::make_shared<const std::string>(StatusLine(fault.status) + "\r\n"),
             "text/plain", fault);
    return;
  }
  if (stage == Stage::Version) {
    AnswerVersion(request, response, *release, fault);
  } else {
    AnswerInstaller(request, response, *release, fault);
  }
}

void Server::AnswerVersion(const httplib::Request& request, httplib::Response& response,
                           const ServedRelease& release, const StageFault& fault) {
  std::string body;
  if (fault.body) {
    body = *fault.body;
  } else {
    const std::int64_t size = static_cast<std::int64_t>(release.installer->size()) + fault.sizeDelta;
    const auto checksum = static_cast<std::int32_t>(static_cast<std::uint32_t>(release.checksum) +
                                                    static_cast<std::uint32_t>(fault.checksumDelta));
    body = "ver=" + fault.versionText.value_or(release.versionText) + "\r\n" +  //
           "size=" + std::to_string(size) + "\r\n" +                             //
           "consum=" + std::to_string(checksum) + "\r\n" +                       //
           "url=" + PublicHost() + release.downloadPath + "\r\n";
  }
  response.status = 200;
  SendBody(request, response, std::make_shared<const std::string>(std::move(body)), "text/plain", fault);
}

void Server::AnswerInstaller(const httplib::Request& request, httplib::Response& response,
                             const ServedRelease& release, const StageFault& fault) {
  auto bytes = fault.installerOverride
                   ? std::make_shared<const std::string>(fault.installerOverride->begin(), fault.installerOverride->end())
                   : StampedCopy(release.installer, request);
  response.status = 200;
  SendBody(request, response, std::move(bytes), "application/octet-stream", fault);
}

void Server::HangWithoutAnswer(const httplib::Request& request, httplib::Response& response) {
  const int fd = FindConnectionSocket(request.local_addr, request.local_port, request.remote_addr, request.remote_port);
  WaitUntilStopping(HangDeadline());
  t_unanswered = true;
  response.status = 503;
  response.set_header("Connection", "close");
  if (fd >= 0) {
    // Closing our side first means the status line below never reaches the client.
    ShutdownConnection(fd);
    response.set_content("", "text/plain");
  } else {
    // Not expected; without the socket the best is headers and an at once aborted body.
    response.set_content_provider(1, "text/plain", [](std::size_t, std::size_t, httplib::DataSink&) { return false; });
  }
}

void Server::SendBody(const httplib::Request& request, httplib::Response& response,
                      std::shared_ptr<const std::string> body, const std::string& contentType,
                      const StageFault& fault) {
  if (body->empty()) {
    response.set_content("", contentType);
    return;
  }
  const BodyCut cut = CutOf(fault, body->size());
  const std::size_t chunk = fault.throttleChunk;
  const auto delay = std::chrono::milliseconds(std::max(0, fault.throttleDelayMs));
  // The provider runs on this worker thread while the library writes the response; the request
  // outlives it, but the addresses are copied so that the provider stands on its own.
  response.set_content_provider(
      body->size(), contentType,
      [this, body, cut, chunk, delay, local = request.local_addr, localPort = request.local_port,
       remote = request.remote_addr, remotePort = request.remote_port](
          std::size_t offset, std::size_t length, httplib::DataSink& sink) {
        if (cut.cut != Cut::None && offset >= cut.at) {
          switch (cut.cut) {
            case Cut::Hang: WaitUntilStopping(HangDeadline()); break;
            case Cut::Reset: {
              const int fd = FindConnectionSocket(local, localPort, remote, remotePort);
              if (fd >= 0) ResetConnection(fd);
              break;
            }
            default: break;
          }
          return false;  // the library then closes the connection
        }
        std::size_t count = std::min(length, kPieceSize);
        if (cut.cut != Cut::None) count = std::min(count, cut.at - offset);
        if (chunk != 0) {
          count = std::min(count, chunk);
          if (offset != 0 && WaitUntilStopping(std::chrono::steady_clock::now() + delay)) return false;
        } else if (WaitUntilStopping(std::chrono::steady_clock::now())) {
          return false;
        }
        if (!sink.write(body->data() + offset, count)) return false;
        t_bodyBytesSent += count;
        return true;
      });
}

}  // namespace isetup::endpoint
