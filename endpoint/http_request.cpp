// Parses request heads strictly: anything a proxy could read differently from us is refused.
#include "endpoint/http_request.h"

#include <algorithm>
#include <charconv>

namespace isetup::endpoint {
namespace {

bool IsTokenChar(char c) {
  if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool IsToken(std::string_view text) { return !text.empty() && std::all_of(text.begin(), text.end(), IsTokenChar); }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

// Whether a comma-separated header value such as "keep-alive, Upgrade" lists `option`.
bool ListsOption(std::string_view value, std::string_view option) {
  while (!value.empty()) {
    const std::size_t comma = value.find(',');
    std::string_view item = value.substr(0, comma);
    while (!item.empty() && (item.front() == ' ' || item.front() == '\t')) item.remove_prefix(1);
    while (!item.empty() && (item.back() == ' ' || item.back() == '\t')) item.remove_suffix(1);
    if (EqualsIgnoringCase(item, option)) return true;
    if (comma == std::string_view::npos) break;
    value.remove_prefix(comma + 1);
  }
  return false;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The next line at `from`: its text without the line end, and where the following line starts.
// std::nullopt when no line end has arrived yet.
struct Line {
  std::string_view text;
  std::size_t next;
};
std::optional<Line> NextLine(std::string_view bytes, std::size_t from) {
  const std::size_t end = bytes.find('\n', from);
  if (end == std::string_view::npos) return std::nullopt;
  std::string_view text = bytes.substr(from, end - from);
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  return Line{text, end + 1};
}

HeadResult Refuse(HeadResult result, int status, std::string reason) {
  result.state = HeadState::Refused;
  result.status = status;
  result.reason = std::move(reason);
  return result;
}

// Origin form "/p?q", or absolute form "http://host/p?q" as a proxy may send it.
std::optional<std::string_view> PathAndQuery(std::string_view target) {
  if (!target.empty() && target.front() == '/') return target;
  for (const std::string_view scheme : {"http://", "https://"}) {
    if (target.size() > scheme.size() && EqualsIgnoringCase(target.substr(0, scheme.size()), scheme)) {
      const std::size_t slash = target.find_first_of("/?", scheme.size());
      if (slash == std::string_view::npos) return std::string_view("/");
      if (target[slash] == '?') return std::nullopt;
      return target.substr(slash);
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> HttpRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (EqualsIgnoringCase(key, name)) return value;
  }
  return std::nullopt;
}

std::optional<std::string> HttpRequest::Param(std::string_view key) const {
  for (const auto& [name, value] : params) {
    if (name == key) return value;
  }
  return std::nullopt;
}

std::string PercentDecode(std::string_view text, bool plusIsBlank) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%' && i + 2 < text.size()) {
      const int high = HexValue(text[i + 1]);
      const int low = HexValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        out += static_cast<char>(high << 4 | low);
        i += 2;
        continue;
      }
    }
    out += (plusIsBlank && c == '+') ? ' ' : c;
  }
  return out;
}

NameValues ParseQuery(std::string_view query) {
  NameValues pairs;
  while (!query.empty()) {
    const std::size_t amp = query.find('&');
    const std::string_view item = query.substr(0, amp);
    if (!item.empty()) {
      const std::size_t equals = item.find('=');
      pairs.emplace_back(PercentDecode(item.substr(0, equals), true),
                         equals == std::string_view::npos ? std::string() : PercentDecode(item.substr(equals + 1), true));
    }
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return pairs;
}

HeadResult ParseRequestHead(std::string_view bytes, const RequestLimits& limits) {
  HeadResult result;
  std::size_t at = 0;
  // A client may send a stray line end after a body; it is skipped, but counted against the limit.
  std::optional<Line> line;
  while ((line = NextLine(bytes, at)) && line->text.empty()) {
    at = line->next;
    if (at > limits.maxRequestLine) return Refuse(std::move(result), 400, "empty lines instead of a request");
  }
  if (!line) {
    // A carriage return at the very end may be the start of the line end, which the limit does not
    // count; counting it would refuse a line of exactly the limit when its CR and LF arrive apart.
    std::size_t pending = bytes.size() - at;
    if (pending > 0 && bytes.back() == '\r') --pending;
    if (pending > limits.maxRequestLine) return Refuse(std::move(result), 414, "the request line is too long");
    return result;
  }
  if (line->text.size() > limits.maxRequestLine) return Refuse(std::move(result), 414, "the request line is too long");

  // method SP target SP version, single blanks, nothing else.
  const std::string_view requestLine = line->text;
  const std::size_t first = requestLine.find(' ');
  const std::size_t second = first == std::string_view::npos ? first : requestLine.find(' ', first + 1);
  if (second == std::string_view::npos || requestLine.find(' ', second + 1) != std::string_view::npos) {
    return Refuse(std::move(result), 400, "the request line is not METHOD TARGET VERSION");
  }
  HttpRequest& request = result.request;
  const std::string_view method = requestLine.substr(0, first);
  const std::string_view target = requestLine.substr(first + 1, second - first - 1);
  const std::string_view version = requestLine.substr(second + 1);
  if (!IsToken(method)) return Refuse(std::move(result), 400, "the method is not a token");
  const bool targetClean = !target.empty() && std::none_of(target.begin(), target.end(), [](char c) {
    return static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F;
  });
  if (!targetClean) return Refuse(std::move(result), 400, "the target holds blanks or control bytes");
  request.method = method;
  request.target = target;
  request.version = version;  // kept for the log even when refused
  const bool supported = version == "HTTP/1.1" || version == "HTTP/1.0";
  if (!supported && version.size() == 8 && version.substr(0, 5) == "HTTP/" && version[5] >= '0' &&
      version[5] <= '9' && version[6] == '.' && version[7] >= '0' && version[7] <= '9') {
    return Refuse(std::move(result), 505, "only HTTP/1.0 and HTTP/1.1 are served");
  }
  if (!supported) return Refuse(std::move(result), 400, "the version is not HTTP/1.x");

  const auto pathAndQuery = PathAndQuery(target);
  if (target == "*") {
    request.path = "*";
  } else if (!pathAndQuery) {
    return Refuse(std::move(result), 400, "the target is neither a path nor an http URL");
  } else {
    const std::size_t mark = pathAndQuery->find('?');
    request.path = PercentDecode(pathAndQuery->substr(0, mark), false);
    if (mark != std::string_view::npos) request.query = pathAndQuery->substr(mark + 1);
    request.params = ParseQuery(request.query);
  }

  // Header lines up to the empty line.
  const std::size_t headersStart = line->next;
  at = headersStart;
  while (true) {
    line = NextLine(bytes, at);
    if (!line) {
      if (bytes.size() - headersStart > limits.maxHeaderBytes) {
        return Refuse(std::move(result), 431, "the header fields are too large");
      }
      return result;  // with the request line, for the log of a head that never ends
    }
    if (line->next - headersStart > limits.maxHeaderBytes) {
      return Refuse(std::move(result), 431, "the header fields are too large");
    }
    at = line->next;
    if (line->text.empty()) break;
    const std::string_view text = line->text;
    if (text.front() == ' ' || text.front() == '\t') return Refuse(std::move(result), 400, "folded header lines");
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || !IsToken(text.substr(0, colon))) {
      return Refuse(std::move(result), 400, "a header line is not NAME: VALUE");
    }
    std::string_view value = text.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
    const bool valueClean = std::none_of(value.begin(), value.end(), [](char c) {
      const auto byte = static_cast<unsigned char>(c);
      return (byte < 0x20 && c != '\t') || byte == 0x7F;
    });
    if (!valueClean) return Refuse(std::move(result), 400, "a header value holds control bytes");
    if (request.headers.size() == limits.maxHeaderCount) {
      return Refuse(std::move(result), 431, "too many header fields");
    }
    request.headers.emplace_back(text.substr(0, colon), value);
  }

  // The framing headers decide where the next request starts, so doubtful ones are refused.
  std::optional<std::uint64_t> length;
  std::size_t hosts = 0;
  std::string connection;
  for (const auto& [name, value] : request.headers) {
    if (EqualsIgnoringCase(name, "Content-Length")) {
      std::uint64_t parsed = 0;
      const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), parsed);
      if (value.empty() || value.size() > 18 || error != std::errc() || end != value.data() + value.size() ||
          (length && *length != parsed)) {
        return Refuse(std::move(result), 400, "a bad or contradicting Content-Length");
      }
      length = parsed;
    } else if (EqualsIgnoringCase(name, "Transfer-Encoding")) {
      request.chunked = true;
    } else if (EqualsIgnoringCase(name, "Host")) {
      ++hosts;
    } else if (EqualsIgnoringCase(name, "Connection")) {
      connection += value + ",";
    }
  }
  if (request.chunked && length) return Refuse(std::move(result), 400, "both Content-Length and Transfer-Encoding");
  if (request.version == "HTTP/1.1" && hosts != 1) return Refuse(std::move(result), 400, "HTTP/1.1 needs one Host");
  if (hosts > 1) return Refuse(std::move(result), 400, "more than one Host");
  request.contentLength = length.value_or(0);
  request.keepAlive = request.version == "HTTP/1.1" ? !ListsOption(connection, "close")
                                                     : ListsOption(connection, "keep-alive");
  result.state = HeadState::Complete;
  result.consumed = at;
  return result;
}

}  // namespace isetup::endpoint
