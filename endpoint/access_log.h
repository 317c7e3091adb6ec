// The access log: the line of one request in the common log format, the writer that puts the
// lines out without ever holding up the requests, and the server's log that chooses where they go.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "endpoint/http_request.h"

namespace isetup::endpoint {

struct AccessLogEntry {
  std::string remoteAddress;
  std::chrono::system_clock::time_point time;
  std::string method;
  std::string target;   // the request target as received, with its query
  std::string version;  // "HTTP/1.1"
  int status = 0;             // 0 (written as "-") when no answer was sent
  std::size_t bodyBytes = 0;  // body bytes actually sent; 0 is written as "-"
};

// `127.0.0.1 - - [08/Dec/2026:21:00:00 +0000] "GET /version.php?a=b HTTP/1.1" 200 123`, time in UTC,
// without a line end. Quotes, backslashes and control bytes of the request are escaped as \xHH, so
// one request always stays one line.
std::string FormatAccessLogLine(const AccessLogEntry& entry);

// Writes log lines to a file descriptor on a thread of its own. A reader that stalls or goes away
// never blocks or ends serving: lines wait in a queue of at most `maxQueuedBytes`; beyond that they
// are dropped and counted, and `notice` says how many once the writer gets through again (or, for a
// descriptor that fails, once). Write may be called from any thread.
class AccessLogWriter {
 public:
  AccessLogWriter(int fd, std::size_t maxQueuedBytes, std::function<void(const std::string&)> notice);
  // Waits up to a second for the queued lines to go out; a reader that takes none then loses them.
  ~AccessLogWriter();
  AccessLogWriter(const AccessLogWriter&) = delete;
  AccessLogWriter& operator=(const AccessLogWriter&) = delete;

  // Queues one line (a line end is added) or drops it; never waits for the descriptor.
  void Write(std::string_view line);
  std::uint64_t Dropped() const;

 private:
  struct State;
  std::shared_ptr<State> state_;  // shared with the writing thread, which may outlive this object
};

// The client as the proxy saw it: the last entry of the last X-Forwarded-For, if it is an address.
std::optional<std::string> ForwardedClient(const HttpRequest& request);

// The server's access log: one line per exchange, to the sink a test sets or else to standard output
// through an AccessLogWriter. Thread affinity: any thread.
class AccessLog {
 public:
  // Whether the line names the client from the last X-Forwarded-For entry (behind a proxy that sets it).
  void SetTrustForwardedFor(bool trust);
  void SetSink(std::function<void(const std::string& line)> sink);
  // Unless a sink is set by now, the lines go to standard output from now on, the writer's notices
  // to standard error. Called once, before any line is written.
  void UseStandardOutputUnlessSunk();
  // Logs one exchange: `request` null when no request line arrived, status 0 when nothing was sent.
  void Write(const std::string& peer, const HttpRequest* request, int status, std::size_t bodyBytes) const;

 private:
  mutable std::mutex mutex_;
  bool trustForwardedFor_ = false;
  std::function<void(const std::string&)> sink_;
  std::unique_ptr<AccessLogWriter> writer_;  // standard output, when no sink was set at the start
};

}  // namespace isetup::endpoint
