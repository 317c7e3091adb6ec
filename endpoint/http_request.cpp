// The request target's path and query, decoded the way the routes compare them.
#include "endpoint/http_request.h"

#include <algorithm>

namespace isetup::endpoint {
namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
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

bool DecodeTarget(HttpRequest& request) {
  const std::string_view target = request.target;
  if (target == "*") {
    request.path = "*";
    return true;
  }
  const auto pathAndQuery = PathAndQuery(target);
  if (!pathAndQuery) return false;
  const std::size_t mark = pathAndQuery->find('?');
  request.path = PercentDecode(pathAndQuery->substr(0, mark), false);
  if (mark != std::string_view::npos) request.query = pathAndQuery->substr(mark + 1);
  request.params = ParseQuery(request.query);
  return true;
}

}  // namespace isetup::endpoint
