// The reference version endpoint: the release catalog, the routes, the reply, the stamped download,
// the faults and the access log, and the listener with its event loop threads.
#include "endpoint/endpoint_server.h"

#include <arpa/inet.h>
#include <malloc.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <iostream>
#include <limits>
#include <stdexcept>
#include <thread>
#include <unordered_map>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/http/status.hpp>

#include "endpoint/access_log.h"
#include "endpoint/connection.h"
#include "payload/blanked_sha256.h"
#include "payload/checksum.h"
#include "payload/tag_fields.h"
#include "update/version.h"
#include "update/version_reply_format.h"

namespace isetup::endpoint {

namespace net = boost::asio;
using tcp = net::ip::tcp;

struct Server::ServedRelease {
  std::string versionText;
  std::string downloadPath;
  std::shared_ptr<const std::vector<std::uint8_t>> installer;  // untagged, shared by every download
  std::int32_t checksum = 0;  // blind to the tag values, so it holds for every stamped copy too
  std::optional<Sha256Digest> sha256;  // likewise; std::nullopt only when hashing failed
  // Where each tag's 8 value bytes lie, when the tag is well formed and can be stamped.
  std::optional<std::size_t> affidValue;
  std::optional<std::size_t> affsidValue;
};

struct Server::Catalog {
  std::shared_ptr<const ServedRelease> current;
  std::shared_ptr<const ServedRelease> previous;  // the one before, downloadable by its own path; may be null

  const ServedRelease* ByDownloadPath(std::string_view path) const {
    if (current->downloadPath == path) return current.get();
    if (previous && previous->downloadPath == path) return previous.get();
    return nullptr;
  }
};

// The listening socket, the event loop with its threads, and the open connections (so that Stop can
// close them and the cap can count them).
struct Server::Network {
  net::io_context loop;
  tcp::acceptor acceptor{loop};
  std::vector<std::thread> threads;
  std::mutex mutex;
  std::unordered_map<Connection*, std::weak_ptr<Connection>> connections;
  std::condition_variable allClosed;  // notified when the last connection has gone
  std::size_t peakSinceTrim = 0;  // the most connections open at once since the heap was last trimmed
  std::unique_ptr<AccessLogWriter> log;  // standard output, when no sink is set

  net::awaitable<void> Accept(Server& server);

  // Closes the listening socket on the loop, which ends Accept.
  void StopListening() {
    net::post(loop, [this] {
      boost::system::error_code ignored;
      acceptor.close(ignored);
    });
  }
  // Runs `work` on the strand of every open connection; the caller holds `mutex`.
  template <class Work>
  void PostToEachConnection(const Work& work) {
    for (const auto& [key, weak] : connections) {
      if (auto connection = weak.lock()) {
        net::post(connection->stream.get_executor(), [connection, work] { work(*connection); });
      }
    }
  }
};

namespace {

bool AllOf(std::string_view text, bool (*accept)(char)) { return std::all_of(text.begin(), text.end(), accept); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool IsFileNameChar(char c) {
  return IsDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.' || c == '-' || c == '_';
}

// The keys that the setup sends with a fixed form; a value of another form is a malformed query.
// The version request must carry both, as every setup sends them. The affiliate tags are not judged
// here: a bad tag only leaves the download untagged.
std::optional<std::string> CheckQuery(const HttpRequest& request, Stage stage) {
  for (const auto& [key, value] : request.params) {
    if (key == "ISetupVer" && !(value.size() == 8 && AllOf(value, IsHexDigit))) {
      return "ISetupVer must be eight hexadecimal digits";
    }
    if (key == "rnd" && !(!value.empty() && value.size() <= 10 && AllOf(value, IsDigit))) {
      return "rnd must be a decimal number";
    }
  }
  if (stage == Stage::Version) {
    if (!request.Param("ISetupVer")) return "the query lacks ISetupVer";
    if (!request.Param("rnd")) return "the query lacks rnd";
  }
  return std::nullopt;
}

// The client as the proxy saw it: the last entry of the last X-Forwarded-For, if it is an address.
std::optional<std::string> ForwardedClient(const HttpRequest& request) {
  std::optional<std::string> last;
  for (const auto& [name, value] : request.headers) {
    if (name.size() == 15 && strncasecmp(name.c_str(), "X-Forwarded-For", 15) == 0) last = value;
  }
  if (!last) return std::nullopt;
  std::string entry = last->substr(last->rfind(',') == std::string::npos ? 0 : last->rfind(',') + 1);
  entry.erase(0, entry.find_first_not_of(" \t"));
  entry.erase(entry.find_last_not_of(" \t") + 1);
  unsigned char scratch[sizeof(in6_addr)];
  if (inet_pton(AF_INET, entry.c_str(), scratch) == 1 || inet_pton(AF_INET6, entry.c_str(), scratch) == 1) {
    return entry;
  }
  return std::nullopt;
}

ResponseBody TextBody(const std::string& text) {
  return ResponseBody{std::make_shared<const std::vector<std::uint8_t>>(text.begin(), text.end()), {}};
}

// Sent on the send buffer's behalf: a slow client's share of the socket stays small, and the writer
// hears of room often (each write must make progress within the write time-out).
constexpr int kUnsentLowWater = 256 * 1024;

constexpr std::size_t kTrimAfterConnections = 256;

void PrepareSocket(tcp::socket& socket) {
  const int fd = socket.native_handle();
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  setsockopt(fd, IPPROTO_TCP, TCP_NOTSENT_LOWAT, &kUnsentLowWater, sizeof kUnsentLowWater);
}

}  // namespace

std::string StatusPage(int status, std::string_view detail) {
  const auto reason = boost::beast::http::obsolete_reason(boost::beast::http::int_to_status(static_cast<unsigned>(status)));
  return std::to_string(status) + " " + std::string(reason.data(), reason.size()) +
         (detail.empty() ? "" : ": " + std::string(detail)) + "\r\n";
}

std::string ReleaseFileName(const Release& release) {
  return release.fileName.empty() ? "TalvimorasterSetup-" + release.versionText + ".exe" : release.fileName;
}

std::optional<std::string> CheckVersionText(std::string_view text) { return CheckReplyVersionText(text); }

std::optional<std::string> CheckFileName(std::string_view name) {
  if (name.empty() || name.size() > 255 || name.front() == '.' || !AllOf(name, IsFileNameChar)) {
    std::string shown;
    for (const char c : name) shown += (c >= 0x20 && c < 0x7F) ? c : '?';
    return "the file name \"" + shown + "\" may hold only A-Z a-z 0-9 . - _ and must not begin with a dot";
  }
  return std::nullopt;
}

std::optional<std::string> CheckRelease(const Release& release) {
  if (auto problem = CheckVersionText(release.versionText)) return problem;
  if (auto problem = CheckFileName(ReleaseFileName(release))) return problem;
  if (release.installer.empty()) return "the installer is empty";
  if (release.installer.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    return "the installer is larger than 2147483647 bytes, which the setup cannot take as a size";
  }
  return std::nullopt;
}

std::optional<std::string> CheckPublicHost(std::string_view host) {
  if (auto problem = CheckReplyHost(host)) {
    return "the public host \"" + std::string(host) + "\" is not HOST or HOST:PORT (no scheme, no path): " + *problem;
  }
  return std::nullopt;
}

Server::Server(Release release, std::string publicHost, ServerLimits limits) : limits_(limits) {
  SetRelease(std::move(release));
  SetPublicHost(std::move(publicHost));
}

Server::~Server() { Stop(); }

void Server::SetRelease(Release release) {
  if (auto problem = CheckRelease(release)) throw std::invalid_argument(*problem);
  auto served = std::make_shared<ServedRelease>();
  served->downloadPath = std::string(kDownloadPrefix) + ReleaseFileName(release);
  served->versionText = std::move(release.versionText);
  served->installer = std::make_shared<const std::vector<std::uint8_t>>(std::move(release.installer));
  served->checksum = ByteSumChecksum(*served->installer);
  served->sha256 = BlankedSha256(*served->installer);
  served->affidValue = FindStampPlace(*served->installer, kAffidMarker).valueOffset;
  served->affsidValue = FindStampPlace(*served->installer, kAffsidMarker).valueOffset;

  std::lock_guard lock(releaseMutex_);
  auto catalog = std::make_shared<Catalog>();
  catalog->current = std::move(served);
  if (const auto old = catalog_.load()) {
    for (const auto& candidate : {old->current, old->previous}) {
      if (candidate && candidate->downloadPath != catalog->current->downloadPath) {
        catalog->previous = candidate;
        break;
      }
    }
  }
  catalog_.store(std::move(catalog));
}

std::string Server::CurrentVersionText() const { return CurrentCatalog()->current->versionText; }

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

void Server::SetTrustForwardedFor(bool trust) {
  std::lock_guard lock(mutex_);
  trustForwardedFor_ = trust;
}

void Server::SetReplySigner(std::shared_ptr<const ReplySigner> signer) {
  std::lock_guard lock(mutex_);
  signer_ = std::move(signer);
}

std::shared_ptr<const ReplySigner> Server::ReplySignerInUse() const {
  std::lock_guard lock(mutex_);
  return signer_;
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
  std::lock_guard lock(mutex_);
  logSink_ = std::move(sink);
}

void Server::SetRequestObserver(std::function<void(const RequestRecord&)> observer) {
  std::lock_guard lock(mutex_);
  observer_ = std::move(observer);
}

int Server::Start(const std::string& address, int port) {
  {
    std::lock_guard lock(mutex_);
    if (started_ || stopping_) return -1;
    started_ = true;
  }
  auto network = std::make_unique<Network>();
  boost::system::error_code error;
  const auto ip = net::ip::make_address(address, error);
  if (!error) {
    const tcp::endpoint where(ip, static_cast<unsigned short>(port));
    network->acceptor.open(where.protocol(), error);
    if (!error) network->acceptor.set_option(tcp::acceptor::reuse_address(true), error);
    if (!error) network->acceptor.bind(where, error);
    if (!error) network->acceptor.listen(net::socket_base::max_listen_connections, error);
  }
  if (error || port < 0 || port > 65535) {
    std::lock_guard lock(mutex_);
    started_ = false;
    return -1;
  }
  const int bound = network->acceptor.local_endpoint().port();
  {
    std::lock_guard lock(mutex_);
    boundHost_ = (address.find(':') == std::string::npos ? address : "[" + address + "]") + ":" + std::to_string(bound);
    if (!logSink_) {
      network->log = std::make_unique<AccessLogWriter>(STDOUT_FILENO, 4 * 1024 * 1024, [](const std::string& notice) {
        std::cerr << "internetsetup-endpoint: " + notice + "\n" << std::flush;
      });
    }
  }
  network_ = std::move(network);
  Network& net = *network_;
  net::co_spawn(net.loop, net.Accept(*this), net::detached);
  const unsigned threads = limits_.threads != 0 ? limits_.threads : std::max(1u, std::thread::hardware_concurrency());
  for (unsigned i = 0; i < threads; ++i) net.threads.emplace_back([&net] { net.loop.run(); });
  return bound;
}

net::awaitable<void> Server::Network::Accept(Server& server) {
  Network& network = *this;
  boost::system::error_code error;
  while (!server.Stopping()) {
    tcp::socket socket(net::make_strand(network.loop));
    co_await network.acceptor.async_accept(socket, net::redirect_error(net::use_awaitable, error));
    if (server.Stopping() || server.Draining() || error == net::error::operation_aborted ||
        error == net::error::bad_descriptor) {
      break;
    }
    if (error) {
      // Out of descriptors, for example: back off briefly instead of spinning on the listener.
      net::steady_timer pause(network.loop, std::chrono::milliseconds(100));
      co_await pause.async_wait(net::redirect_error(net::use_awaitable, error));
      continue;
    }
    boost::system::error_code ignored;
    const std::string peer = socket.remote_endpoint(ignored).address().to_string();
    PrepareSocket(socket);
    std::unique_lock lock(network.mutex);
    if (network.connections.size() >= server.limits_.maxConnections) {
      lock.unlock();
      const std::string page = StatusPage(503, "too many connections");
      const std::string text = "HTTP/1.1 503 Service Unavailable\r\nDate: " +
                               FormatHttpDate(std::chrono::system_clock::now()) +
                               "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(page.size()) +
                               "\r\nRetry-After: 1\r\nConnection: close\r\n\r\n" + page;
      socket.non_blocking(true, ignored);
      socket.write_some(net::buffer(text), ignored);
      socket.shutdown(tcp::socket::shutdown_send, ignored);
      socket.close(ignored);
      server.Log(peer, nullptr, 503, page.size());
      continue;
    }
    auto connection = std::make_shared<Connection>(std::move(socket), peer);
    network.connections.emplace(connection.get(), connection);
    network.peakSinceTrim = std::max(network.peakSinceTrim, network.connections.size());
    lock.unlock();
    auto executor = connection->stream.get_executor();
    net::co_spawn(executor, ServeConnection(server, connection), [this, connection](std::exception_ptr) {
      // A failure inside one connection (out of memory, say) ends that connection only. Its place
      // is free before its socket closes, so a client that sees the close finds the place free.
      bool trim = false;
      {
        std::lock_guard done(mutex);
        connections.erase(connection.get());
        if (connections.empty()) allClosed.notify_all();
        // After a crowd (thousands of slow clients, say) has gone, give its memory back to the system;
        // malloc keeps freed small blocks otherwise.
        trim = connections.empty() && peakSinceTrim >= kTrimAfterConnections;
        if (trim) peakSinceTrim = 0;
      }
      connection->Close();
      if (trim) malloc_trim(0);
    });
  }
}

bool Server::Drain(std::chrono::milliseconds grace) {
  draining_ = true;
  bool drained = true;
  if (network_ && !stopping_) {
    Network& network = *network_;
    network.StopListening();
    std::unique_lock lock(network.mutex);
    network.PostToEachConnection([](Connection& connection) {
      if (connection.awaitingRequest) connection.Close();
    });
    drained = network.allClosed.wait_for(lock, grace, [&network] { return network.connections.empty(); });
  }
  Stop();
  return drained;
}

void Server::Stop() {
  stopping_ = true;
  if (!network_) return;
  Network& network = *network_;
  network.StopListening();
  {
    std::lock_guard lock(network.mutex);
    network.PostToEachConnection([](Connection& connection) { connection.Close(); });
  }
  for (std::thread& thread : network.threads) {
    if (thread.joinable()) thread.join();
  }
  network.threads.clear();
}

Response Server::Route(const HttpRequest& request, bool last) const {
  const auto catalog = CurrentCatalog();
  Response response;
  response.close = last;
  const auto refuse = [&](int status, const std::string& detail) {
    response.status = status;
    response.contentType = "text/plain";
    response.body = TextBody(StatusPage(status, detail));
    return response;
  };
  if (request.path == kHealthPath) {
    response.contentType = "text/plain";
    response.extra.emplace_back("Cache-Control", "no-store");
    response.body = TextBody("ok " + catalog->current->versionText + "\n");
    return response;
  }
  Stage stage;
  const ServedRelease* release = catalog->current.get();
  if (request.path == kVersionPath) {
    stage = Stage::Version;
  } else if (const ServedRelease* named = catalog->ByDownloadPath(request.path)) {
    stage = Stage::Installer;
    release = named;
  } else {
    return refuse(404, "");
  }
  if (auto problem = CheckQuery(request, stage)) return refuse(400, *problem);
  const StageFault fault = FaultOf(stage);
  if (fault.hang) {
    response.hang = true;
    return response;
  }
  response.transport = fault;
  response.transport.installerOverride.reset();
  if (fault.status != 0) {
    refuse(fault.status, "");
    response.status = fault.status;
    return response;
  }
  if (stage == Stage::Version) {
    std::string reply;
    if (fault.body) {
      reply = *fault.body;
    } else {
      const std::int64_t size = static_cast<std::int64_t>(release->installer->size()) + fault.sizeDelta;
      const auto checksum = static_cast<std::int32_t>(static_cast<std::uint32_t>(release->checksum) +
                                                      static_cast<std::uint32_t>(fault.checksumDelta));
      // The size of a release fits (CheckRelease); a fault's delta is a few bytes.
      reply = FormatVersionReply(fault.versionText.value_or(release->versionText), static_cast<std::int32_t>(size),
                                 checksum, PublicHost() + release->downloadPath);
      if (const auto signer = ReplySignerInUse()) {
        // The reply holds for this request's rnd alone (CheckQuery made sure there is one).
        std::optional<std::string> signedReply;
        if (release->sha256) {
          signedReply = FormatSignedVersionReply(reply, *release->sha256, *request.Param("rnd"),
                                                 [&signer](std::string_view message) { return signer->Sign(message); });
        }
        if (!signedReply) return refuse(500, "the reply cannot be signed");
        reply = std::move(*signedReply);
      }
    }
    response.contentType = "text/plain";
    response.extra.emplace_back("Cache-Control", "no-store");
    response.body = TextBody(reply);
    return response;
  }
  response.contentType = "application/octet-stream";
  if (fault.installerOverride) {
    response.body.bytes = std::make_shared<const std::vector<std::uint8_t>>(*fault.installerOverride);
    return response;
  }
  response.body.bytes = release->installer;
  // Each tag on its own: an installer whose other tag is missing or damaged still gets this one.
  for (const auto& [key, offset] : {std::pair{"affid", release->affidValue}, std::pair{"affsid", release->affsidValue}}) {
    const auto value = request.Param(key);
    if (offset && value && IsValidTagValue(*value)) response.body.patches.push_back(BodyPatch{*offset, *value});
  }
  return response;
}

void Server::Observe(const HttpRequest& request) const {
  std::function<void(const RequestRecord&)> observer;
  {
    std::lock_guard lock(mutex_);
    if (!observer_) return;
    observer = observer_;
  }
  RequestRecord record;
  record.method = request.method;
  record.path = request.path;
  record.query = request.query;
  for (const auto& [key, value] : request.params) record.params.emplace(key, value);  // keeps the first
  observer(record);
}

void Server::Log(const std::string& peer, const HttpRequest* request, int status, std::size_t bodyBytes) const {
  AccessLogEntry entry;
  entry.remoteAddress = peer;
  bool trust = false;
  std::function<void(const std::string&)> sink;
  {
    std::lock_guard lock(mutex_);
    trust = trustForwardedFor_;
    sink = logSink_;
  }
  if (request) {
    if (trust) entry.remoteAddress = ForwardedClient(*request).value_or(peer);
    entry.method = request->method;
    entry.target = request->target;
    entry.version = request->version;
  }
  entry.time = std::chrono::system_clock::now();
  entry.status = status;
  entry.bodyBytes = bodyBytes;
  const std::string line = FormatAccessLogLine(entry);
  if (sink) {
    sink(line);
  } else if (network_ && network_->log) {
    network_->log->Write(line);
  }
}

std::shared_ptr<const Server::Catalog> Server::CurrentCatalog() const { return catalog_.load(); }

StageFault Server::FaultOf(Stage stage) const {
  std::lock_guard lock(mutex_);
  const auto found = faults_.find(stage);
  return found == faults_.end() ? StageFault{} : found->second;
}

std::chrono::steady_clock::time_point Server::HangDeadline() const {
  std::lock_guard lock(mutex_);
  return std::chrono::steady_clock::now() + hangLimit_;
}

}  // namespace isetup::endpoint
