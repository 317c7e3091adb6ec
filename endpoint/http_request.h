// One request as the routes see it once the HTTP parser has read its head: method, target, headers,
// and the target's path and query decoded.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace isetup::endpoint {

using NameValues = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
  std::string method;
  std::string target;   // as received
  std::string version;  // "HTTP/1.0" or "HTTP/1.1"
  std::string path;     // the target's path, percent-decoded
  std::string query;    // the raw text after the first "?", empty when none
  NameValues params;    // the query's pairs, decoded ("+" is a blank), in order; "&&" yields nothing
  NameValues headers;   // names as received, values as the parser delivered them

  // The first header of that name (compared without letter case), or the first parameter of that key.
  std::optional<std::string> Header(std::string_view name) const;
  std::optional<std::string> Param(std::string_view key) const;
};

// Fills path, query and params from `request.target`: origin form "/p?q", absolute form
// "http://host/p?q" as a proxy may send it, or "*". False when the target is none of these.
[[nodiscard]] bool DecodeTarget(HttpRequest& request);

// "%41" becomes "A"; a "%" without two hexadecimal digits stays as it is.
std::string PercentDecode(std::string_view text, bool plusIsBlank);

// "a=1&b&&c=%20" -> {a,1} {b,""} {c," "}.
NameValues ParseQuery(std::string_view query);

}  // namespace isetup::endpoint
