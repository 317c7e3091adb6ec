// The reference version endpoint: answers /version.php with the four-line reply and serves the current
// installer with the request's affiliate tags stamped in, optionally misbehaving on purpose for tests.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "endpoint/http_request.h"
#include "endpoint/http_response.h"
#include "endpoint/reply_signer.h"

namespace isetup::endpoint {

inline constexpr std::string_view kVersionPath = "/version.php";
inline constexpr std::string_view kDownloadPrefix = "/download/";
inline constexpr std::string_view kHealthPath = "/healthz";
inline constexpr int kDefaultPort = 18352;
// Upper bound of every hang; a hang ends earlier when the server stops.
inline constexpr std::chrono::milliseconds kMaxHang = std::chrono::seconds(300);

// What the endpoint offers: the current installer and its version text.
struct Release {
  std::string versionText;              // "a.b.c.d", each part 0..255 in decimal, packing to nonzero
  std::vector<std::uint8_t> installer;  // the untagged installer as the vendor delivers it
  std::string fileName;                 // last part of the download path; empty: "TalvimorasterSetup-<ver>.exe"
};

// The file name a release is served under (its own, or the default made from the version).
std::string ReleaseFileName(const Release& release);

// Why a version text cannot be announced, std::nullopt when it can. The setup reads each part with a
// lenient conversion and keeps its low 8 bits, so only the plain decimal form means one version to both.
[[nodiscard]] std::optional<std::string> CheckVersionText(std::string_view text);

// Why a text cannot serve as a download file name (A-Z a-z 0-9 . - _, not beginning with a dot).
[[nodiscard]] std::optional<std::string> CheckFileName(std::string_view name);

// Why a release cannot be served (bad version text, unsafe file name, empty or oversized installer),
// std::nullopt when it can.
[[nodiscard]] std::optional<std::string> CheckRelease(const Release& release);

// Why a text cannot stand as "host[:port]" in the reply's url line, std::nullopt when it can.
[[nodiscard]] std::optional<std::string> CheckPublicHost(std::string_view host);

// The bounds that keep a slow, malformed or greedy client from holding the server.
struct ServerLimits {
  std::size_t maxConnections = 256;  // one thread each; further connections get 503 and are closed
  std::chrono::milliseconds requestTimeout{10'000};  // a request head (and any body) must be in by then: 408
  std::chrono::milliseconds idleTimeout{5'000};      // a kept-alive connection without a new request is closed
  std::chrono::milliseconds writeTimeout{10'000};    // a client that takes no bytes for this long is dropped
  std::size_t maxRequestsPerConnection = 100;
  std::size_t maxRequestBody = 64 * 1024;  // a GET body is read and dropped up to this size; more: 413
  RequestLimits request;
};

enum class Stage { Version, Installer };

// How one stage misbehaves; the default behaves. Transport faults (truncate, reset, throttle, hang)
// apply to whatever body the stage sends, the reply, a status page or the installer.
struct StageFault {
  int status = 0;                           // answer this HTTP status instead, with a short body
  std::optional<std::string> body;          // version stage: send these raw bytes instead of the reply
  std::int64_t sizeDelta = 0;               // version stage: announce size + delta
  std::int32_t checksumDelta = 0;           // version stage: announce checksum + delta (wrapping)
  std::optional<std::string> versionText;   // version stage: announce this version instead
  std::optional<std::size_t> truncateAfter; // announce the whole length, close after N body bytes
  std::optional<std::size_t> resetAfter;    // abort the connection with a reset after N body bytes
  std::size_t throttleChunk = 0;            // with throttleDelayMs: send chunk bytes every delay ms
  int throttleDelayMs = 0;
  bool hang = false;                        // read the request, never answer (until Stop or the hang limit)
  std::optional<std::size_t> hangAfter;     // send headers and N body bytes, then hang
  std::optional<std::vector<std::uint8_t>> installerOverride;  // installer stage: serve these bytes verbatim
};

// One request as it arrived, recorded before it is answered.
struct RequestRecord {
  std::string method;
  std::string path;    // decoded path
  std::string query;   // raw text after "?", empty when none
  std::map<std::string, std::string> params;  // decoded; the first value of a repeated key
};

// An HTTP/1.1 server of its own, one thread per connection up to ServerLimits::maxConnections.
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
  // Where the access log goes, one line per call; the default writes to standard output and flushes.
  void SetLogSink(std::function<void(const std::string& line)> sink);

  // Binds address:port (0: an ephemeral port) and serves on threads of its own.
  // Returns the bound port, or -1 when binding fails or the server was started before.
  [[nodiscard]] int Start(const std::string& address, int port);
  // Releases every hanging or throttled handler, closes every connection, stops listening and joins.
  // Idempotent; a stopped server does not start again.
  void Stop();

  std::vector<RequestRecord> Requests() const;  // in arrival order
  // Waits until at least `count` requests have arrived; false on time-out.
  bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;

 private:
  struct ServedRelease;
  struct Catalog;
  struct Exchange;
  struct Connection;

  void AcceptLoop();
  void Serve(Connection& connection);
  // Answers one request that may be answered (GET or HEAD); false when the connection must close
  // afterwards. `last`: the response says "Connection: close".
  bool Answer(Connection& connection, const HttpRequest& request, bool last, Exchange& exchange);
  // Sends head and body, applying the fault's cuts and throttle; false when the body was cut short.
  bool Send(Connection& connection, const ResponseHead& head, const ResponseBody& body, bool headOnly,
            const StageFault& fault, Exchange& exchange);
  // A short text/plain status page; `close` by default, since most refusals end the connection.
  void Refuse(Connection& connection, int status, const std::string& detail, Exchange& exchange,
              std::vector<std::pair<std::string, std::string>> extra = {}, bool headOnly = false, bool close = true);
  void Record(const HttpRequest& request);
  void Log(const Connection& connection, const HttpRequest* request, const Exchange& exchange);
  std::shared_ptr<const Catalog> CurrentCatalog() const;
  StageFault FaultOf(Stage stage) const;
  std::shared_ptr<const ReplySigner> ReplySignerInUse() const;
  bool Stopping() const;
  // Waits until Stop or `deadline`; true when the server is stopping.
  bool WaitUntilStopping(std::chrono::steady_clock::time_point deadline) const;
  std::chrono::steady_clock::time_point HangDeadline() const;

  const ServerLimits limits_;
  // Swapped whole; a request takes one snapshot and answers from it alone.
  std::atomic<std::shared_ptr<const Catalog>> catalog_;
  std::mutex releaseMutex_;  // orders SetRelease calls against each other

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::string publicHost_;
  std::string boundHost_;
  bool trustForwardedFor_ = false;
  std::map<Stage, StageFault> faults_;
  std::shared_ptr<const ReplySigner> signer_;
  std::chrono::milliseconds hangLimit_ = kMaxHang;
  std::vector<RequestRecord> requests_;
  bool stopping_ = false;
  bool started_ = false;

  std::mutex connectionsMutex_;
  std::list<Connection> connections_;  // stable addresses: each thread holds its own entry
  int listenFd_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;

  std::mutex logMutex_;
  std::function<void(const std::string&)> logSink_;

  std::thread acceptThread_;
};

}  // namespace isetup::endpoint
