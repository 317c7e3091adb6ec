// Fuzzes the endpoint's request head parser on raw bytes: the verdict, the request it reads and the
// decoding of path and query against a model of the head rules written here, and that the verdict on a
// head does not depend on how its bytes were split across reads.
#include <algorithm>
#include <memory>
#include <vector>

#include "endpoint/http_request.h"
#include "tests/fuzz/fuzz_models.h"

using namespace isetup::endpoint;
using namespace isetup::fuzz;

namespace {

// Printable form of raw bytes for the mismatch reports.
std::string ShownBytes(std::string_view bytes) {
  std::string out;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && c != '\\') {
      out += c;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    }
  }
  return out;
}

const char* StateName(HeadState state) {
  switch (state) {
    case HeadState::Incomplete: return "Incomplete";
    case HeadState::Complete: return "Complete";
    case HeadState::Refused: return "Refused";
  }
  return "?";
}

// The head rules, read line by line from a list of all the complete lines made up front.
struct ModelLine {
  std::string text;   // without the line feed and one carriage return before it
  std::size_t next;   // where the following line starts
};

struct ModelHead {
  HeadState state = HeadState::Incomplete;
  int status = 0;
  std::size_t consumed = 0;
  bool lineRead = false;  // method, target and version were taken from the request line
  std::string method, target, version, path, query;
  std::vector<std::pair<std::string, std::string>> params, headers;
  std::uint64_t contentLength = 0;
  bool chunked = false;
  bool keepAlive = false;
};

bool ModelTokenChar(char c) {
  const std::string_view allowed =
      "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz!#$%&'*+-.^_`|~";
  return allowed.find(c) != std::string_view::npos;
}

bool ModelToken(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (!ModelTokenChar(c)) return false;
  }
  return true;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string TrimBlanks(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return std::string(text.substr(begin, end - begin));
}

// Whether the comma-separated list names the option, compared without letter case.
bool ModelLists(const std::vector<std::string>& values, std::string_view option) {
  for (const std::string& value : values) {
    std::string item;
    for (const char c : value + ",") {
      if (c != ',') {
        item += c;
        continue;
      }
      if (Lower(TrimBlanks(item)) == Lower(option)) return true;
      item.clear();
    }
  }
  return false;
}

ModelHead Refused(ModelHead head, int status) {
  head.state = HeadState::Refused;
  head.status = status;
  return head;
}

ModelHead ModelParseHead(std::string_view bytes, const RequestLimits& limits) {
  std::vector<ModelLine> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '\n') continue;
    std::string text(bytes.substr(start, i - start));
    if (!text.empty() && text.back() == '\r') text.pop_back();
    lines.push_back(ModelLine{text, i + 1});
    start = i + 1;
  }

  ModelHead head;
  // Empty lines before the request line are skipped, up to the request line's limit in bytes.
  std::size_t index = 0;
  std::size_t at = 0;
  while (index < lines.size() && lines[index].text.empty()) {
    at = lines[index].next;
    ++index;
    if (at > limits.maxRequestLine) return Refused(head, 400);
  }
  if (index == lines.size()) {
    // The request line so far; a carriage return at the very end may still become its line end.
    std::size_t pending = bytes.size() - at;
    if (pending > 0 && bytes.back() == '\r') --pending;
    if (pending > limits.maxRequestLine) return Refused(head, 414);
    return head;
  }
  const std::string& requestLine = lines[index].text;
  if (requestLine.size() > limits.maxRequestLine) return Refused(head, 414);

  std::vector<std::string> parts{std::string()};
  for (const char c : requestLine) {
    if (c == ' ') {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  if (parts.size() != 3) return Refused(head, 400);
  if (!ModelToken(parts[0])) return Refused(head, 400);
  const std::string& target = parts[1];
  if (target.empty()) return Refused(head, 400);
  for (const char c : target) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x21 || byte > 0x7E) return Refused(head, 400);
  }
  head.lineRead = true;
  head.method = parts[0];
  head.target = target;
  head.version = parts[2];
  const std::string& version = parts[2];
  if (version != "HTTP/1.0" && version != "HTTP/1.1") {
    const bool wellFormed = version.size() == 8 && version.compare(0, 5, "HTTP/") == 0 && version[5] >= '0' &&
                            version[5] <= '9' && version[6] == '.' && version[7] >= '0' && version[7] <= '9';
    return Refused(head, wellFormed ? 505 : 400);
  }

  if (target == "*") {
    head.path = "*";
  } else {
    std::string pathAndQuery;
    const std::string lower = Lower(target);
    if (target[0] == '/') {
      pathAndQuery = target;
    } else {
      std::size_t schemeEnd = 0;
      if (lower.size() > 7 && lower.compare(0, 7, "http://") == 0) schemeEnd = 7;
      if (lower.size() > 8 && lower.compare(0, 8, "https://") == 0) schemeEnd = 8;
      if (schemeEnd == 0) return Refused(head, 400);
      // The authority runs to the first "/" or "?"; a query straight after it is refused.
      std::size_t end = schemeEnd;
      while (end < target.size() && target[end] != '/' && target[end] != '?') ++end;
      if (end == target.size()) {
        pathAndQuery = "/";
      } else if (target[end] == '?') {
        return Refused(head, 400);
      } else {
        pathAndQuery = target.substr(end);
      }
    }
    const std::size_t mark = pathAndQuery.find('?');
    head.path = ModelPercentDecode(pathAndQuery.substr(0, mark), false);
    if (mark != std::string::npos) head.query = pathAndQuery.substr(mark + 1);
    head.params = ModelParseQuery(head.query);
  }

  const std::size_t headersStart = lines[index].next;
  ++index;
  bool ended = false;
  for (; index < lines.size(); ++index) {
    const ModelLine& line = lines[index];
    if (line.next - headersStart > limits.maxHeaderBytes) return Refused(head, 431);
    if (line.text.empty()) {
      ended = true;
      break;
    }
    if (line.text[0] == ' ' || line.text[0] == '\t') return Refused(head, 400);
    const std::size_t colon = line.text.find(':');
    if (colon == std::string::npos || !ModelToken(line.text.substr(0, colon))) return Refused(head, 400);
    const std::string value = TrimBlanks(line.text.substr(colon + 1));
    for (const char c : value) {
      const auto byte = static_cast<unsigned char>(c);
      if ((byte < 0x20 && c != '\t') || byte == 0x7F) return Refused(head, 400);
    }
    if (head.headers.size() + 1 > limits.maxHeaderCount) return Refused(head, 431);
    head.headers.emplace_back(line.text.substr(0, colon), value);
  }
  if (!ended) {
    if (bytes.size() - headersStart > limits.maxHeaderBytes) return Refused(head, 431);
    return head;
  }

  std::optional<std::uint64_t> length;
  int hosts = 0;
  std::vector<std::string> connection;
  for (const auto& [name, value] : head.headers) {
    const std::string lowerName = Lower(name);
    if (lowerName == "content-length") {
      // Plain decimal digits only, at most 18 of them; repeated, they must agree.
      if (value.empty() || value.size() > 18) return Refused(head, 400);
      std::uint64_t parsed = 0;
      for (const char c : value) {
        if (c < '0' || c > '9') return Refused(head, 400);
        parsed = parsed * 10 + static_cast<std::uint64_t>(c - '0');
      }
      if (length && *length != parsed) return Refused(head, 400);
      length = parsed;
    } else if (lowerName == "transfer-encoding") {
      head.chunked = true;
    } else if (lowerName == "host") {
      ++hosts;
    } else if (lowerName == "connection") {
      connection.push_back(value);
    }
  }
  if (head.chunked && length) return Refused(head, 400);
  if (hosts > 1 || (version == "HTTP/1.1" && hosts != 1)) return Refused(head, 400);
  head.contentLength = length.value_or(0);
  head.keepAlive = version == "HTTP/1.1" ? !ModelLists(connection, "close") : ModelLists(connection, "keep-alive");
  head.state = HeadState::Complete;
  head.consumed = lines[index].next;
  return head;
}

// The parser on exactly these bytes, from a buffer of their size, so that a read past them is caught.
HeadResult ParseCopy(std::string_view bytes, const RequestLimits& limits) {
  std::unique_ptr<char[]> copy(new char[bytes.size()]);
  std::copy(bytes.begin(), bytes.end(), copy.get());
  return ParseRequestHead(std::string_view(copy.get(), bytes.size()), limits);
}

void ExpectModel(const HeadResult& got, const ModelHead& want, std::string_view bytes) {
  const std::string shown = ShownBytes(bytes);
  FUZZ_CHECK(got.state == want.state, "state %s, model %s (status %d, %s) for %s", StateName(got.state),
             StateName(want.state), got.status, got.reason.c_str(), shown.c_str());
  if (got.state == HeadState::Refused) {
    FUZZ_CHECK(got.status == want.status, "status %d (%s), model %d for %s", got.status, got.reason.c_str(),
               want.status, shown.c_str());
    FUZZ_CHECK(!got.reason.empty(), "a refusal without a reason for %s", shown.c_str());
  }
  if (got.state == HeadState::Complete) {
    FUZZ_CHECK(got.consumed == want.consumed, "consumed %zu, model %zu for %s", got.consumed, want.consumed,
               shown.c_str());
  }
  if (!want.lineRead) return;
  const HttpRequest& request = got.request;
  FUZZ_CHECK(request.method == want.method && request.target == want.target && request.version == want.version,
             "request line \"%s\" \"%s\" \"%s\" for %s", ShownBytes(request.method).c_str(),
             ShownBytes(request.target).c_str(), ShownBytes(request.version).c_str(), shown.c_str());
  if (got.state == HeadState::Refused) return;  // refused on the version or target: no path or query
  FUZZ_CHECK(request.path == want.path, "path \"%s\", model \"%s\"", ShownBytes(request.path).c_str(),
             ShownBytes(want.path).c_str());
  FUZZ_CHECK(request.query == want.query, "query \"%s\", model \"%s\"", ShownBytes(request.query).c_str(),
             ShownBytes(want.query).c_str());
  FUZZ_CHECK(request.params == want.params, "query parameters differ from the model for \"%s\"",
             ShownBytes(request.query).c_str());
  if (got.state != HeadState::Complete) return;
  FUZZ_CHECK(request.headers == want.headers, "header fields differ from the model for %s", shown.c_str());
  FUZZ_CHECK(request.contentLength == want.contentLength && request.chunked == want.chunked &&
                 request.keepAlive == want.keepAlive,
             "framing length %llu chunked %d keep-alive %d, model %llu %d %d for %s",
             static_cast<unsigned long long>(request.contentLength), request.chunked, request.keepAlive,
             static_cast<unsigned long long>(want.contentLength), want.chunked, want.keepAlive, shown.c_str());
}

// What holds whatever the rules: a complete head ends with its empty line inside the bytes, and a
// refusal names one of the head statuses.
void ExpectShape(const HeadResult& got, std::string_view bytes) {
  if (got.state == HeadState::Complete) {
    const std::size_t n = got.consumed;
    FUZZ_CHECK(n >= 2 && n <= bytes.size(), "consumed %zu of %zu bytes", n, bytes.size());
    const bool blankLine = bytes[n - 1] == '\n' && (bytes[n - 2] == '\n' || (n >= 3 && bytes[n - 2] == '\r' &&
                                                                              bytes[n - 3] == '\n'));
    FUZZ_CHECK(blankLine, "the head of %zu bytes does not end with an empty line: %s", n,
               ShownBytes(bytes.substr(0, n)).c_str());
  }
  if (got.state == HeadState::Refused) {
    FUZZ_CHECK(got.status == 400 || got.status == 414 || got.status == 431 || got.status == 505,
               "refused with status %d", got.status);
  }
}

// A verdict, once reached on the bytes that have arrived, stays the same whatever arrives after them.
void ExpectSplitsAgree(std::string_view bytes, const RequestLimits& limits, const HeadResult& whole,
                       std::size_t extraSplit) {
  std::vector<std::size_t> splits;
  for (std::size_t i = 0; i < bytes.size() && splits.size() < 256; ++i) {
    // Around each line end, where the parser's decisions change.
    if (bytes[i] == '\r' || bytes[i] == '\n') {
      splits.push_back(i);
      splits.push_back(i + 1);
    }
  }
  splits.push_back(extraSplit % (bytes.size() + 1));
  if (whole.state == HeadState::Complete) splits.push_back(whole.consumed - 1);
  for (const std::size_t split : splits) {
    const HeadResult part = ParseCopy(bytes.substr(0, split), limits);
    if (part.state == HeadState::Incomplete) {
      FUZZ_CHECK(whole.state != HeadState::Complete || split < whole.consumed,
                 "incomplete after %zu bytes, complete after %zu: %s", split, whole.consumed,
                 ShownBytes(bytes).c_str());
      continue;
    }
    FUZZ_CHECK(part.state == whole.state && part.status == whole.status && part.consumed == whole.consumed,
               "after %zu of %zu bytes %s %d (%s), with all of them %s %d (%s): %s", split, bytes.size(),
               StateName(part.state), part.status, part.reason.c_str(), StateName(whole.state), whole.status,
               whole.reason.c_str(), ShownBytes(bytes).c_str());
  }
}

}  // namespace

// Bytes 0-2 pick the limits (request line, header bytes in fours, header count; 0xFF: the default one),
// byte 3 one more split point; the rest is what the connection delivered. The same rest is also
// decoded as a path and parsed as a query on its own, any byte included.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4 || size > 8192) return 0;
  const RequestLimits defaults;
  RequestLimits limits;
  limits.maxRequestLine = data[0] == 0xFF ? defaults.maxRequestLine : data[0];
  limits.maxHeaderBytes = data[1] == 0xFF ? defaults.maxHeaderBytes : data[1] * 4u;
  limits.maxHeaderCount = data[2] == 0xFF ? defaults.maxHeaderCount : data[2] % 32u;
  const std::size_t extraSplit = data[3];
  const std::string_view bytes(reinterpret_cast<const char*>(data + 4), size - 4);

  for (const bool plusIsBlank : {false, true}) {
    FUZZ_CHECK(PercentDecode(bytes, plusIsBlank) == ModelPercentDecode(bytes, plusIsBlank),
               "PercentDecode(%s, %d) is \"%s\"", ShownBytes(bytes).c_str(), plusIsBlank,
               ShownBytes(PercentDecode(bytes, plusIsBlank)).c_str());
  }
  FUZZ_CHECK(ParseQuery(bytes) == ModelParseQuery(bytes), "ParseQuery differs from the model for %s",
             ShownBytes(bytes).c_str());

  const HeadResult whole = ParseCopy(bytes, limits);
  ExpectShape(whole, bytes);
  ExpectModel(whole, ModelParseHead(bytes, limits), bytes);
  ExpectSplitsAgree(bytes, limits, whole, extraSplit);
  return 0;
}
