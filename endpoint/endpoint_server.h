// The reference version endpoint: answers /version.php with the four-line reply and serves the current
// installer with the request's affiliate tags stamped in, optionally misbehaving on purpose for tests.
// The server wires the parts together: the routes, the access log, the listener and its event loop.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "endpoint/access_log.h"
#include "endpoint/http_request.h"
#include "endpoint/release_catalog.h"
#include "endpoint/reply_signer.h"
#include "endpoint/routes.h"
#include "endpoint/stage_fault.h"

namespace isetup::endpoint {

inline constexpr int kDefaultPort = 18352;

// The bounds that keep a slow, malformed or greedy client from holding the server.
struct ServerLimits {
  // Connections held open at once; further connections get 503 and are closed. Each costs a few
  // kilobytes, not a thread.
  std::size_t maxConnections = 10'000;
  std::chrono::milliseconds requestTimeout{10'000};  // a request head (and any body) must be in by then: 408
  std::chrono::milliseconds idleTimeout{5'000};      // a kept-alive connection without a new request is closed
  std::chrono::milliseconds writeTimeout{10'000};    // a client that takes no bytes for this long is dropped
  std::size_t maxRequestsPerConnection = 1000;  // then the connection closes, as nginx does by default
  std::size_t maxRequestBody = 64 * 1024;  // a GET body is read and dropped up to this size; more: 413
  std::size_t maxRequestLine = 8 * 1024;   // a longer request line is answered 414
  std::size_t maxHeaderBytes = 16 * 1024;  // all header lines together; more is answered 431
  std::size_t maxHeaderCount = 64;         // more header lines are answered 431
  unsigned threads = 0;                    // event loop threads; 0: one per core
};

// One request as it arrived, handed to the request observer (tests) before it is answered.
struct RequestRecord {
  std::string method;
  std::string path;    // decoded path
  std::string query;   // raw text after "?", empty when none
  std::map<std::string, std::string> params;  // decoded; the first value of a repeated key
};

// An HTTP/1.1 server on Boost.Beast: one event loop run by ServerLimits::threads threads, each
// connection a coroutine with a time-out on every read and write.
// Thread affinity: Start and Stop belong to the owner's thread; every other member may be called from
// any thread while the server runs.
class Server {
 public:
  // Throws std::invalid_argument when CheckRelease or CheckPublicHost refuses the arguments.
  // An empty public host stands for the address and port that Start binds.
  Server(Release release, std::string publicHost, ServerLimits limits = {});
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Makes `release` current for the requests that arrive afterwards; throws std::invalid_argument as
  // above. The release it replaces stays downloadable under its own file name until the next
  // change, so that a setup that read the old reply still gets the installer that reply describes.
  void SetRelease(Release release);
  std::string CurrentVersionText() const;
  void SetPublicHost(std::string publicHost);
  std::string PublicHost() const;
  // Whether the log names the client from the last X-Forwarded-For entry (behind a proxy that sets it).
  void SetTrustForwardedFor(bool trust);
  // Signs every version reply from now on (the sha256 and sig lines after the four); null: the
  // four lines alone, as without a signing key. A fault's replacement body is sent unsigned.
  void SetReplySigner(std::shared_ptr<const ReplySigner> signer);
  void SetFault(Stage stage, StageFault fault);
  void ClearFaults();
  // Shortens the bound of every hang (never beyond kMaxHang).
  void SetHangLimit(std::chrono::milliseconds limit);
  // Where the access log goes, one line per call, called on the serving threads. By default the lines
  // go to standard output through an AccessLogWriter, which never blocks serving.
  void SetLogSink(std::function<void(const std::string& line)> sink);
  // Called with every request as it arrives, before it is answered; for tests. Null: none.
  void SetRequestObserver(std::function<void(const RequestRecord&)> observer);

  // Binds address:port (0: an ephemeral port) and serves on threads of its own.
  // Returns the bound port, or -1 when binding fails or the server was started before.
  [[nodiscard]] int Start(const std::string& address, int port);
  // Stops listening, releases every hanging or throttled answer, closes every connection and joins.
  // Idempotent; a stopped server does not start again.
  void Stop();
  // A graceful Stop: listening ends, idle connections close at once, and each answer under way is sent
  // to its end with "Connection: close"; whatever is still open after `grace` is cut by the Stop that
  // follows. True when every connection ended within the grace.
  bool Drain(std::chrono::milliseconds grace);

  // The answer to one request that may be answered (GET or HEAD); `last`: the response closes the
  // connection.
  Response Route(const HttpRequest& request, bool last) const;
  // Logs one exchange: `request` null when no request line arrived, status 0 when nothing was sent.
  void Log(const std::string& peer, const HttpRequest* request, int status, std::size_t bodyBytes) const;
  void Observe(const HttpRequest& request) const;
  const ServerLimits& Limits() const { return limits_; }
  bool Stopping() const { return stopping_.load(); }
  bool Draining() const { return draining_.load(); }
  std::chrono::steady_clock::time_point HangDeadline() const;

 private:
  struct Network;

  const ServerLimits limits_;
  Routes routes_;
  AccessLog log_;
  mutable std::mutex mutex_;
  std::chrono::milliseconds hangLimit_ = kMaxHang;
  std::function<void(const RequestRecord&)> observer_;
  bool started_ = false;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> draining_{false};

  std::unique_ptr<Network> network_;
};

}  // namespace isetup::endpoint
