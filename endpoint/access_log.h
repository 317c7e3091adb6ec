// The access log line of one request in the common log format.
#pragma once

#include <chrono>
#include <cstddef>
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

}  // namespace isetup::endpoint
