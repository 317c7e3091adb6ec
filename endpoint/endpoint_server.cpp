// The reference version endpoint: connections, routing, the reply, the stamped download, the faults,
// the request record and the access log.
#include "endpoint/endpoint_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <system_error>

#include "endpoint/access_log.h"
#include "endpoint/connection_socket.h"
#include "endpoint/http_response.h"
#include "payload/affiliate_tags.h"
#include "payload/blanked_sha256.h"
#include "payload/checksum.h"
#include "update/version.h"

namespace isetup::endpoint {

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

// What the access log says of one request.
struct Server::Exchange {
  int status = 0;  // 0: no answer was sent
  std::size_t bodyBytes = 0;
};

struct Server::Connection {
  int fd = -1;
  std::string peer;
  std::chrono::steady_clock::time_point accepted;
  std::thread thread;
  bool done = false;  // set, and fd closed, under connectionsMutex_ when the thread is about to end
};

namespace {

constexpr std::size_t kPieceSize = 64 * 1024;

bool AllOf(std::string_view text, bool (*accept)(char)) { return std::all_of(text.begin(), text.end(), accept); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool IsFileNameChar(char c) {
  return IsDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.' || c == '-' || c == '_';
}
bool IsHostChar(char c) { return IsDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.' || c == '-'; }

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

std::string StatusText(int status) { return std::to_string(status) + " " + std::string(ReasonPhrase(status)); }

std::optional<std::size_t> StampableValue(std::span<const std::uint8_t> bytes, const std::optional<TagLocation>& tag,
                                          std::string_view marker) {
  if (!tag || CheckTagHeader(bytes, marker, tag->markerOffset)) return std::nullopt;
  return tag->valueOffset;
}

ResponseBody TextBody(const std::string& text) {
  return ResponseBody{std::make_shared<const std::vector<std::uint8_t>>(text.begin(), text.end()), {}};
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

}  // namespace

std::string ReleaseFileName(const Release& release) {
  return release.fileName.empty() ? "TalvimorasterSetup-" + release.versionText + ".exe" : release.fileName;
}

std::optional<std::string> CheckVersionText(std::string_view text) {
  const auto refuse = [&] {
    std::string shown;
    for (const char c : text) shown += (c >= 0x20 && c < 0x7F) ? c : '?';
    return "the version \"" + shown + "\" is not four decimal parts a.b.c.d of 0..255 that pack to nonzero";
  };
  int parts = 0;
  bool nonzero = false;
  std::string_view rest = text;
  while (true) {
    const std::size_t dot = rest.find('.');
    const std::string_view part = rest.substr(0, dot);
    if (part.empty() || part.size() > 3 || !AllOf(part, IsDigit) || (part.size() > 1 && part.front() == '0')) {
      return refuse();
    }
    const int value = std::stoi(std::string(part));
    if (value > 255) return refuse();
    nonzero = nonzero || value != 0;
    ++parts;
    if (dot == std::string_view::npos) break;
    rest.remove_prefix(dot + 1);
  }
  if (parts != 4 || !nonzero) return refuse();
  return std::nullopt;
}

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
  const AffiliateTags tags = FindAffiliateTags(*served->installer);
  served->affidValue = StampableValue(*served->installer, tags.affid, kAffidMarker);
  served->affsidValue = StampableValue(*served->installer, tags.affsid, kAffsidMarker);

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
  std::lock_guard lock(logMutex_);
  logSink_ = std::move(sink);
}

int Server::Start(const std::string& address, int port) {
  {
    std::lock_guard lock(mutex_);
    if (started_ || stopping_) return -1;
    started_ = true;
  }
  Listener listener = OpenListener(address, port);
  int wake[2];
  if (listener.fd < 0 || pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    if (listener.fd >= 0) close(listener.fd);
    std::lock_guard lock(mutex_);
    started_ = false;
    return -1;
  }
  listenFd_ = listener.fd;
  wakeRead_ = wake[0];
  wakeWrite_ = wake[1];
  {
    std::lock_guard lock(mutex_);
    boundHost_ = (address.find(':') == std::string::npos ? address : "[" + address + "]") + ":" +
                 std::to_string(listener.port);
  }
  acceptThread_ = std::thread([this] { AcceptLoop(); });
  return listener.port;
}

void Server::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (wakeWrite_ >= 0) {
    const char byte = 0;
    (void)!write(wakeWrite_, &byte, 1);
  }
  if (acceptThread_.joinable()) acceptThread_.join();
  // No connection is added any more; wake every one that waits on its socket, then join them all.
  std::list<Connection> ending;
  {
    std::lock_guard lock(connectionsMutex_);
    for (Connection& connection : connections_) {
      if (!connection.done) ShutdownConnection(connection.fd);
    }
    ending.splice(ending.end(), connections_);
  }
  for (Connection& connection : ending) {
    if (connection.thread.joinable()) connection.thread.join();
  }
  for (int* fd : {&listenFd_, &wakeRead_, &wakeWrite_}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

void Server::AcceptLoop() {
  while (!Stopping()) {
    pollfd ready[2] = {{listenFd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    if (poll(ready, 2, -1) < 0 && errno != EINTR) break;
    if (Stopping()) break;
    // Threads that have ended are joined here, outside the lock.
    std::list<Connection> finished;
    {
      std::lock_guard lock(connectionsMutex_);
      for (auto it = connections_.begin(); it != connections_.end();) {
        const auto next = std::next(it);
        if (it->done) finished.splice(finished.end(), connections_, it);
        it = next;
      }
    }
    for (Connection& connection : finished) connection.thread.join();

    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      // Out of descriptors: back off briefly instead of spinning on a listener that stays readable.
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        pollfd wake{wakeRead_, POLLIN, 0};
        poll(&wake, 1, 100);
      }
      continue;
    }
    PrepareConnection(fd);
    std::unique_lock lock(connectionsMutex_);
    const std::size_t active = static_cast<std::size_t>(
        std::count_if(connections_.begin(), connections_.end(), [](const Connection& c) { return !c.done; }));
    if (active >= limits_.maxConnections) {
      lock.unlock();
      const std::string body = StatusText(503) + ": too many connections\r\n";
      ResponseHead head{503, "text/plain", body.size(), true, {{"Retry-After", "1"}}};
      const std::string text = FormatResponseHead(head, std::chrono::system_clock::now()) + body;
      (void)send(fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      Connection refused;
      refused.peer = PeerAddress(fd);
      shutdown(fd, SHUT_WR);
      close(fd);
      Log(refused, nullptr, Exchange{503, body.size()});
      continue;
    }
    Connection& connection = connections_.emplace_back();
    connection.fd = fd;
    connection.peer = PeerAddress(fd);
    connection.accepted = std::chrono::steady_clock::now();
    try {
      connection.thread = std::thread([this, &connection] {
        Serve(connection);
        // Closed and marked under the lock, so a client that sees the close finds its place free.
        std::lock_guard done(connectionsMutex_);
        close(connection.fd);
        connection.done = true;
      });
    } catch (const std::system_error&) {
      // No thread to be had (a process limit): this connection is dropped, the server goes on.
      connections_.pop_back();
      close(fd);
    }
  }
}

void Server::Serve(Connection& connection) {
  using Clock = std::chrono::steady_clock;
  std::string buffer;
  // The first request must be in within the request time-out of the connect; a later one within the
  // request time-out of its first byte, and that byte within the idle time-out of the last answer.
  Clock::time_point requestDeadline = connection.accepted + limits_.requestTimeout;
  Clock::time_point idleDeadline = Clock::time_point::max();
  for (std::size_t served = 0; served < limits_.maxRequestsPerConnection && !Stopping(); ++served) {
    HeadResult head = ParseRequestHead(buffer, limits_.request);
    while (head.state == HeadState::Incomplete) {
      const bool waitingForFirstByte = buffer.empty() && served > 0;
      const IoStatus status =
          ReadSome(connection.fd, buffer, 16 * 1024, waitingForFirstByte ? idleDeadline : requestDeadline);
      if (status == IoStatus::TimedOut && !waitingForFirstByte) {
        Exchange exchange;
        Refuse(connection, 408, "the request did not arrive in time", exchange);
        Log(connection, head.request.method.empty() ? nullptr : &head.request, exchange);
        return;
      }
      if (status != IoStatus::Ok) return;  // the client left, or stayed idle past the idle time-out
      if (waitingForFirstByte) requestDeadline = Clock::now() + limits_.requestTimeout;
      head = ParseRequestHead(buffer, limits_.request);
    }
    Exchange exchange;
    if (head.state == HeadState::Refused) {
      Refuse(connection, head.status, head.reason, exchange);
      Log(connection, head.request.method.empty() ? nullptr : &head.request, exchange);
      return;
    }
    buffer.erase(0, head.consumed);
    const HttpRequest& request = head.request;
    Record(request);
    const bool headOnly = request.method == "HEAD";
    if (request.method != "GET" && !headOnly) {
      // Any body it has is left unread, so the connection cannot carry another request.
      Refuse(connection, 405, "", exchange, {{"Allow", "GET, HEAD"}});
      Log(connection, &request, exchange);
      return;
    }
    if (request.chunked || request.contentLength > limits_.maxRequestBody) {
      Refuse(connection, request.chunked ? 400 : 413, "this server takes no request bodies", exchange, {}, headOnly);
      Log(connection, &request, exchange);
      return;
    }
    // A small body on a GET is allowed by HTTP and carries nothing for us: read and drop it.
    while (buffer.size() < request.contentLength) {
      const IoStatus status = ReadSome(connection.fd, buffer, request.contentLength - buffer.size(), requestDeadline);
      if (status == IoStatus::TimedOut) {
        Refuse(connection, 408, "the request body did not arrive in time", exchange, {}, headOnly);
        Log(connection, &request, exchange);
        return;
      }
      if (status != IoStatus::Ok) return;
    }
    buffer.erase(0, static_cast<std::size_t>(request.contentLength));
    const bool last = !request.keepAlive || served + 1 >= limits_.maxRequestsPerConnection;
    const bool keep = Answer(connection, request, last, exchange);
    Log(connection, &request, exchange);
    if (!keep || last) return;
    idleDeadline = Clock::now() + limits_.idleTimeout;
    requestDeadline = Clock::time_point::max();  // set again by the next request's first byte
    if (!buffer.empty()) requestDeadline = Clock::now() + limits_.requestTimeout;  // pipelined
  }
}

bool Server::Answer(Connection& connection, const HttpRequest& request, bool last, Exchange& exchange) {
  const bool headOnly = request.method == "HEAD";
  const auto catalog = CurrentCatalog();
  if (request.path == kHealthPath) {
    const std::string body = "ok " + catalog->current->versionText + "\n";
    return Send(connection, ResponseHead{200, "text/plain", body.size(), last, {{"Cache-Control", "no-store"}}},
                TextBody(body), headOnly, StageFault{}, exchange);
  }
  Stage stage;
  const ServedRelease* release = catalog->current.get();
  if (request.path == kVersionPath) {
    stage = Stage::Version;
  } else if (const ServedRelease* named = catalog->ByDownloadPath(request.path)) {
    stage = Stage::Installer;
    release = named;
  } else {
    Refuse(connection, 404, "", exchange, {}, headOnly, last);
    return !last;
  }
  if (auto problem = CheckQuery(request, stage)) {
    Refuse(connection, 400, *problem, exchange, {}, headOnly, last);
    return !last;
  }
  const StageFault fault = FaultOf(stage);
  if (fault.hang) {
    // Read, never answered: the connection closes without a status line at Stop or the hang limit.
    WaitUntilStopping(HangDeadline());
    return false;
  }
  ResponseHead head;
  head.close = last;
  ResponseBody body;
  if (fault.status != 0) {
    head.status = fault.status;
    head.contentType = "text/plain";
    body = TextBody(StatusText(fault.status) + "\r\n");
  } else if (stage == Stage::Version) {
    std::string reply;
    if (fault.body) {
      reply = *fault.body;
    } else {
      const std::int64_t size = static_cast<std::int64_t>(release->installer->size()) + fault.sizeDelta;
      const auto checksum = static_cast<std::int32_t>(static_cast<std::uint32_t>(release->checksum) +
                                                      static_cast<std::uint32_t>(fault.checksumDelta));
      reply = "ver=" + fault.versionText.value_or(release->versionText) + "\r\n" +  //
              "size=" + std::to_string(size) + "\r\n" +                              //
              "consum=" + std::to_string(checksum) + "\r\n" +                        //
              "url=" + PublicHost() + release->downloadPath + "\r\n";
      if (const auto signer = ReplySignerInUse()) {
        // The reply holds for this request's rnd alone (CheckQuery made sure there is one).
        std::optional<std::string> signedReply;
        if (release->sha256) signedReply = SignVersionReply(*signer, reply, *release->sha256, *request.Param("rnd"));
        if (!signedReply) {
          Refuse(connection, 500, "the reply cannot be signed", exchange, {}, headOnly, last);
          return !last;
        }
        reply = std::move(*signedReply);
      }
    }
    head.contentType = "text/plain";
    head.extra.emplace_back("Cache-Control", "no-store");
    body = TextBody(reply);
  } else {
    head.contentType = "application/octet-stream";
    if (fault.installerOverride) {
      body.bytes = std::make_shared<const std::vector<std::uint8_t>>(*fault.installerOverride);
    } else {
      body.bytes = release->installer;
      // Each tag on its own: an installer whose other tag is missing or damaged still gets this one.
      for (const auto& [key, offset] : {std::pair{"affid", release->affidValue}, std::pair{"affsid", release->affsidValue}}) {
        const auto value = request.Param(key);
        if (offset && value && IsValidTagValue(*value)) body.patches.push_back(BodyPatch{*offset, *value});
      }
    }
  }
  head.contentLength = body.bytes->size();
  return Send(connection, head, body, headOnly, fault, exchange) && !last;
}

bool Server::Send(Connection& connection, const ResponseHead& head, const ResponseBody& body, bool headOnly,
                  const StageFault& fault, Exchange& exchange) {
  exchange.status = head.status;
  if (WriteAll(connection.fd, FormatResponseHead(head, std::chrono::system_clock::now()), limits_.writeTimeout) !=
      IoStatus::Ok) {
    return false;
  }
  if (headOnly) return true;
  const std::vector<std::uint8_t>& bytes = *body.bytes;
  const BodyCut cut = CutOf(fault, bytes.size());
  const auto delay = std::chrono::milliseconds(std::max(0, fault.throttleDelayMs));
  std::string piece;
  for (std::size_t offset = 0; offset < bytes.size();) {
    if (offset >= cut.at) {
      if (cut.cut == Cut::Hang) WaitUntilStopping(HangDeadline());
      if (cut.cut == Cut::Reset) ResetConnection(connection.fd);
      return false;  // the connection closes after the bytes sent so far
    }
    std::size_t count = std::min({kPieceSize, bytes.size() - offset, cut.at - offset});
    if (fault.throttleChunk != 0) {
      count = std::min(count, fault.throttleChunk);
      if (offset != 0 && WaitUntilStopping(std::chrono::steady_clock::now() + delay)) return false;
    } else if (Stopping()) {
      return false;
    }
    piece.assign(reinterpret_cast<const char*>(bytes.data() + offset), count);
    ApplyPatches(body.patches, offset, piece);
    if (WriteAll(connection.fd, piece, limits_.writeTimeout) != IoStatus::Ok) return false;
    exchange.bodyBytes += count;
    offset += count;
  }
  return true;
}

void Server::Refuse(Connection& connection, int status, const std::string& detail, Exchange& exchange,
                    std::vector<std::pair<std::string, std::string>> extra, bool headOnly, bool close) {
  const std::string body = StatusText(status) + (detail.empty() ? "" : ": " + detail) + "\r\n";
  Send(connection, ResponseHead{status, "text/plain", body.size(), close, std::move(extra)}, TextBody(body), headOnly,
       StageFault{}, exchange);
}

std::vector<RequestRecord> Server::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

bool Server::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

void Server::Record(const HttpRequest& request) {
  RequestRecord record;
  record.method = request.method;
  record.path = request.path;
  record.query = request.query;
  for (const auto& [key, value] : request.params) record.params.emplace(key, value);  // keeps the first
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(std::move(record));
  }
  changed_.notify_all();
}

void Server::Log(const Connection& connection, const HttpRequest* request, const Exchange& exchange) {
  AccessLogEntry entry;
  entry.remoteAddress = connection.peer;
  if (request) {
    bool trust = false;
    {
      std::lock_guard lock(mutex_);
      trust = trustForwardedFor_;
    }
    if (trust) entry.remoteAddress = ForwardedClient(*request).value_or(connection.peer);
    entry.method = request->method;
    entry.target = request->target;
    entry.version = request->version;
  }
  entry.time = std::chrono::system_clock::now();
  entry.status = exchange.status;
  entry.bodyBytes = exchange.bodyBytes;
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

std::shared_ptr<const Server::Catalog> Server::CurrentCatalog() const { return catalog_.load(); }

StageFault Server::FaultOf(Stage stage) const {
  std::lock_guard lock(mutex_);
  const auto found = faults_.find(stage);
  return found == faults_.end() ? StageFault{} : found->second;
}

bool Server::Stopping() const {
  std::lock_guard lock(mutex_);
  return stopping_;
}

std::chrono::steady_clock::time_point Server::HangDeadline() const {
  std::lock_guard lock(mutex_);
  return std::chrono::steady_clock::now() + hangLimit_;
}

bool Server::WaitUntilStopping(std::chrono::steady_clock::time_point deadline) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_until(lock, deadline, [this] { return stopping_; });
}

}  // namespace isetup::endpoint
