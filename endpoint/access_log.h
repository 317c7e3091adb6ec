// The access log: the line of one request in the common log format, and the writer that puts the
// lines out without ever holding up the requests.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

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

}  // namespace isetup::endpoint
