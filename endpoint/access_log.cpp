// Formats access log lines in the common log format.
#include "endpoint/access_log.h"

#include <cstdio>
#include <ctime>

namespace isetup::endpoint {
namespace {

void AppendEscaped(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F || c == '"' || c == '\\') {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += c;
    }
  }
}

}  // namespace

std::string FormatAccessLogLine(const AccessLogEntry& entry) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(entry.time);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char stamp[40];
  // %b would follow the locale; the format wants English month names.
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::snprintf(stamp, sizeof stamp, "[%02d/%s/%04d:%02d:%02d:%02d +0000]", utc.tm_mday, kMonths[utc.tm_mon],
                utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec);

  std::string line;
  AppendEscaped(line, entry.remoteAddress.empty() ? std::string_view("-") : std::string_view(entry.remoteAddress));
  line += " - - ";
  line += stamp;
  line += " \"";
  if (entry.method.empty() && entry.target.empty() && entry.version.empty()) {
    line += '-';  // no request line could be read (a time-out, a refused connection)
  } else {
    AppendEscaped(line, entry.method);
    line += ' ';
    AppendEscaped(line, entry.target);
    line += ' ';
    AppendEscaped(line, entry.version);
  }
  line += "\" ";
  line += entry.status == 0 ? std::string("-") : std::to_string(entry.status);
  line += ' ';
  line += entry.bodyBytes == 0 ? std::string("-") : std::to_string(entry.bodyBytes);
  return line;
}

}  // namespace isetup::endpoint
