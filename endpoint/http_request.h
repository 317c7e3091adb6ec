// One HTTP/1.x request head read from the bytes a connection has delivered so far, within fixed bounds,
// and the decoding of its path and query.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace isetup::endpoint {

struct RequestLimits {
  std::size_t maxRequestLine = 8 * 1024;   // a longer request line is answered 414
  std::size_t maxHeaderBytes = 16 * 1024;  // all header lines together; more is answered 431
  std::size_t maxHeaderCount = 64;         // more header lines are answered 431
};

using NameValues = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
  std::string method;
  std::string target;   // as received
  std::string version;  // "HTTP/1.0" or "HTTP/1.1"
  std::string path;     // the target's path, percent-decoded
  std::string query;    // the raw text after the first "?", empty when none
  NameValues params;    // the query's pairs, decoded ("+" is a blank), in order; "&&" yields nothing
  NameValues headers;   // names as received, values without surrounding blanks
  std::uint64_t contentLength = 0;
  bool chunked = false;    // a Transfer-Encoding was given
  bool keepAlive = false;  // HTTP/1.1 unless "Connection: close"; HTTP/1.0 only with "keep-alive"

  // The first header of that name (compared without letter case), or the first parameter of that key.
  std::optional<std::string> Header(std::string_view name) const;
  std::optional<std::string> Param(std::string_view key) const;
};

enum class HeadState { Incomplete, Complete, Refused };

struct HeadResult {
  HeadState state = HeadState::Incomplete;
  std::size_t consumed = 0;  // Complete: the bytes of the head, blank line included
  int status = 0;            // Refused: the status to answer (400, 414, 431, 505)
  std::string reason;        // Refused: why, for the status page
  HttpRequest request;       // Complete; otherwise what of the request line could be read
};

// Parses the head at the start of `bytes`. Incomplete means more bytes are needed and none of the
// limits is broken yet; the caller bounds the wait. Empty lines before the request line are skipped.
// Lines end in CR LF or a bare LF.
HeadResult ParseRequestHead(std::string_view bytes, const RequestLimits& limits = {});

// "%41" becomes "A"; a "%" without two hexadecimal digits stays as it is.
std::string PercentDecode(std::string_view text, bool plusIsBlank);

// "a=1&b&&c=%20" -> {a,1} {b,""} {c," "}.
NameValues ParseQuery(std::string_view query);

}  // namespace isetup::endpoint
