// Formats response heads; header values come from this program only, never from a request.
#include "endpoint/http_response.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace isetup::endpoint {

std::string_view ReasonPhrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 413: return "Content Too Large";
    case 414: return "URI Too Long";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    default: return "Unknown";
  }
}

std::string FormatHttpDate(std::chrono::system_clock::time_point time) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  // Fixed English names: strftime would follow the locale.
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[utc.tm_wday], utc.tm_mday,
                kMonths[utc.tm_mon], utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

void ApplyPatches(const std::vector<BodyPatch>& patches, std::size_t offset, std::string& piece) {
  for (const BodyPatch& patch : patches) {
    const std::size_t from = std::max(patch.offset, offset);
    const std::size_t to = std::min(patch.offset + patch.value.size(), offset + piece.size());
    for (std::size_t i = from; i < to; ++i) piece[i - offset] = patch.value[i - patch.offset];
  }
}

std::string FormatResponseHead(const ResponseHead& head, std::chrono::system_clock::time_point now) {
  std::string text = "HTTP/1.1 " + std::to_string(head.status) + " " + std::string(ReasonPhrase(head.status)) + "\r\n";
  text += "Date: " + FormatHttpDate(now) + "\r\n";
  if (!head.contentType.empty()) text += "Content-Type: " + head.contentType + "\r\n";
  text += "Content-Length: " + std::to_string(head.contentLength) + "\r\n";
  for (const auto& [name, value] : head.extra) text += name + ": " + value + "\r\n";
  if (head.close) text += "Connection: close\r\n";
  text += "\r\n";
  return text;
}

}  // namespace isetup::endpoint
