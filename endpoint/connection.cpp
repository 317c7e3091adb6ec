// Serves one connection as a coroutine on its event loop: the request head and body through Beast's
// parser with our limits, a deadline on every read, a time-out on every write, faults on demand.
#include "endpoint/connection.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <boost/asio/redirect_error.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core/buffers_suffix.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include "endpoint/endpoint_server.h"

namespace isetup::endpoint {
namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadSize = 16 * 1024;

// Where the body of a response stops early, and how.
enum class Cut { None, Truncate, Reset, Hang };
struct BodyCut {
  Cut cut = Cut::None;
  std::size_t at = 0;
};

// The earliest of the faults that fall inside the body wins; at the same byte a hang comes before a
// reset and a reset before a truncation. A count at or past the body's end has no effect.
BodyCut CutOf(const StageFault& fault, std::size_t size) {
  BodyCut result{Cut::None, size};
  const auto consider = [&](const std::optional<std::size_t>& count, Cut cut) {
    if (count && *count < result.at) result = BodyCut{cut, *count};
  };
  consider(fault.hangAfter, Cut::Hang);
  consider(fault.resetAfter, Cut::Reset);
  consider(fault.truncateAfter, Cut::Truncate);
  return result;
}

std::string_view View(const beast::flat_buffer& buffer) {
  return {static_cast<const char*>(buffer.data().data()), buffer.size()};
}

// The request line as far as it arrived, for the log of a request that is refused before its head
// is whole; false when no complete first line is there.
bool ReadRequestLine(std::string_view bytes, HttpRequest& request) {
  const std::size_t end = bytes.find('\n');
  if (end == std::string_view::npos) return false;
  std::string_view line = bytes.substr(0, end);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  const std::size_t first = line.find(' ');
  const std::size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
  if (second == std::string_view::npos) return false;
  request.method = line.substr(0, first);
  request.target = line.substr(first + 1, second - first - 1);
  request.version = line.substr(second + 1);
  return true;
}

// "HTTP/2.0", "HTTP/3.0": a version of HTTP, though not one served here.
bool IsOtherHttpVersion(std::string_view version) {
  const auto digit = [&](std::size_t at) { return version[at] >= '0' && version[at] <= '9'; };
  return version.size() == 8 && version.substr(0, 5) == "HTTP/" && digit(5) && version[6] == '.' && digit(7);
}

using Parser = http::request_parser<http::string_body>;

// Why a request cannot be answered: the status, its reason and any headers of its own; status 0
// when it can.
struct Refusal {
  Refusal() = default;
  Refusal(int code, std::string why, NameValues fields = {})
      : status(code), reason(std::move(why)), extra(std::move(fields)) {}

  int status = 0;
  std::string reason;
  NameValues extra;
};

// One request as it is read: the parser, the request once its head is in, and how the reading ended.
struct Reading {
  explicit Reading(const ServerLimits& limits) {
    parser.header_limit(static_cast<std::uint32_t>(limits.maxRequestLine + limits.maxHeaderBytes + 2));
    parser.body_limit(limits.maxRequestBody);
    parser.eager(true);
  }

  Parser parser;
  std::optional<HttpRequest> request;
  Refusal refusal;
  bool left = false;  // the client left: the connection ends without an answer
};

// The status of a refusal made by the parser.
int ParseErrorStatus(const beast::error_code& error) {
  if (error == http::error::header_limit) return 431;
  if (error == http::error::body_limit) return 413;
  return 400;
}

// The refusal of a request the parser cannot take; `buffer` holds what it did not take.
Refusal ParseRefusal(const beast::error_code& error, const beast::flat_buffer& buffer) {
  HttpRequest line;
  if (error == http::error::bad_version && ReadRequestLine(View(buffer), line) && IsOtherHttpVersion(line.version)) {
    return {505, "only HTTP/1.0 and HTTP/1.1 are served"};
  }
  return {ParseErrorStatus(error), "the request cannot be parsed (" + error.message() + ")"};
}

template <class Buffers>
void AppendBuffers(std::string& text, const Buffers& buffers) {
  for (const auto buffer : beast::buffers_range_ref(buffers)) {
    text.append(static_cast<const char*>(buffer.data()), buffer.size());
  }
}

http::response<http::empty_body> HeadOf(const Response& response) {
  http::response<http::empty_body> head;
  head.version(11);
  head.result(static_cast<unsigned>(response.status));
  head.set(http::field::date, FormatHttpDate(std::chrono::system_clock::now()));
  if (!response.contentType.empty()) head.set(http::field::content_type, response.contentType);
  head.content_length(response.body.Size());
  for (const auto& [name, value] : response.extra) head.set(name, value);
  if (response.close) head.set(http::field::connection, "close");
  return head;
}

// The head of `response` as Beast writes it.
std::string FormatHead(const Response& response) {
  http::response<http::empty_body> head = HeadOf(response);
  http::response_serializer<http::empty_body> serializer(head);
  serializer.split(true);
  std::string text;
  beast::error_code error;
  while (!serializer.is_header_done() && !error) {
    serializer.next(error, [&](beast::error_code&, const auto& buffers) {
      AppendBuffers(text, buffers);
      serializer.consume(beast::buffer_bytes(buffers));
    });
  }
  return text;
}

// Waits until `deadline`, Stop or the connection's close; true when the server is stopping or the
// connection closed.
net::awaitable<bool> Pause(const Server& server, Connection& connection, Clock::time_point deadline) {
  if (connection.closed || server.Stopping()) co_return true;
  beast::error_code error;
  connection.timer.expires_at(deadline);
  co_await connection.timer.async_wait(net::redirect_error(net::use_awaitable, error));
  co_return connection.closed || server.Stopping();
}

// Writes all of `buffers`; each write must take some bytes within the write time-out, so a slow
// client that keeps taking data is never cut off, and one that takes none is.
net::awaitable<bool> WriteAll(const Server& server, Connection& connection, const std::vector<net::const_buffer>& buffers,
                              std::size_t& written) {
  beast::buffers_suffix<std::vector<net::const_buffer>> rest(buffers);
  beast::error_code error;
  while (beast::buffer_bytes(rest) > 0) {
    connection.stream.expires_after(server.Limits().writeTimeout);
    const std::size_t count =
        co_await connection.stream.async_write_some(rest, net::redirect_error(net::use_awaitable, error));
    if (error) co_return false;
    rest.consume(count);
    written += count;
  }
  co_return true;
}

struct Sent {
  int status = 0;
  std::size_t bodyBytes = 0;
  bool whole = true;  // false: the connection must not carry another request
};

// Writes `head` (empty once it is out) and body bytes [from, to) in one gathered write, so a short
// answer is one segment; false when the client failed to take them or the server stops.
net::awaitable<bool> WritePiece(const Server& server, Connection& connection, const Response& response,
                                std::string_view head, std::size_t from, std::size_t to, Sent& sent) {
  std::vector<net::const_buffer> buffers;
  if (!head.empty()) buffers.emplace_back(head.data(), head.size());
  for (const auto piece : response.body.Gather(from, to)) buffers.emplace_back(piece.data(), piece.size());
  std::size_t written = 0;
  const bool ok = co_await WriteAll(server, connection, buffers, written);
  sent.bodyBytes += written - std::min(written, head.size());
  co_return ok && !server.Stopping();
}

std::chrono::milliseconds ThrottleDelay(const StageFault& fault) {
  return std::chrono::milliseconds(std::max(0, fault.throttleDelayMs));
}

// Sends the head and body bytes [0, end): at once, or throttled in chunks with a pause before each
// chunk after the first.
net::awaitable<Sent> SendUpTo(const Server& server, Connection& connection, const Response& response,
                              const std::string& head, std::size_t end) {
  const StageFault& fault = response.transport;
  const std::size_t chunk = fault.throttleChunk != 0 ? fault.throttleChunk : end;
  Sent sent{response.status, 0, true};
  std::size_t offset = std::min(end, chunk);
  sent.whole = co_await WritePiece(server, connection, response, head, 0, offset, sent);
  while (sent.whole && offset < end) {
    const std::size_t next = std::min(end, offset + chunk);
    if (co_await Pause(server, connection, Clock::now() + ThrottleDelay(fault))) {
      sent.whole = false;
      break;
    }
    sent.whole = co_await WritePiece(server, connection, response, {}, offset, next, sent);
    offset = next;
  }
  co_return sent;
}

// Aborts the connection with a reset instead of a close.
void Reset(Connection& connection) {
  beast::error_code ignored;
  connection.stream.socket().set_option(net::socket_base::linger(true, 0), ignored);
  connection.stream.socket().close(ignored);
}

// Sends `response` (its head alone for HEAD), applying the fault's cuts and throttle.
net::awaitable<Sent> Send(const Server& server, Connection& connection, const Response& response, bool headOnly) {
  const std::string head = FormatHead(response);
  const BodyCut cut = headOnly ? BodyCut{Cut::None, 0} : CutOf(response.transport, response.body.Size());
  Sent sent = co_await SendUpTo(server, connection, response, head, cut.at);
  if (!sent.whole || cut.cut == Cut::None) co_return sent;
  sent.whole = false;  // the connection closes after the bytes sent so far
  if (cut.cut == Cut::Hang) co_await Pause(server, connection, server.HangDeadline());
  if (cut.cut == Cut::Reset) Reset(connection);
  co_return sent;
}

bool IsPlainTarget(beast::string_view target) {
  return std::all_of(target.begin(), target.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

struct FieldTally {
  std::size_t count = 0;
  std::size_t bytes = 0;
  std::size_t hosts = 0;
};

FieldTally TallyFields(const http::request<http::string_body>& message) {
  FieldTally tally;
  for (const auto& field : message) {
    ++tally.count;
    tally.bytes += field.name_string().size() + field.value().size() + 4;
    if (field.name() == http::field::host) ++tally.hosts;
  }
  return tally;
}

// Why a parsed head cannot be answered.
Refusal CheckHead(const Parser& parser, const ServerLimits& limits) {
  const auto& message = parser.get();
  if (message.version() != 10 && message.version() != 11) return {505, "only HTTP/1.0 and HTTP/1.1 are served"};
  // Beast lets 8-bit bytes through in the target; a proxy could read those otherwise than we do.
  if (!IsPlainTarget(message.target())) return {400, "the target holds blanks, control or 8-bit bytes"};
  const FieldTally fields = TallyFields(message);
  if (fields.count > limits.maxHeaderCount) return {431, "too many header fields"};
  if (fields.bytes > limits.maxHeaderBytes) return {431, "the header fields are too large"};
  if (message.version() == 11 ? fields.hosts != 1 : fields.hosts > 1) return {400, "HTTP/1.1 needs one Host"};
  return {};
}

// Why a request with an acceptable head still cannot be answered: its method or its body.
Refusal CheckMethodAndBody(const Parser& parser, const HttpRequest& request, const ServerLimits& limits) {
  if (request.method != "GET" && request.method != "HEAD") {
    // Any body it has is left unread, so the connection cannot carry another request.
    return {405, "", {{"Allow", "GET, HEAD"}}};
  }
  if (parser.chunked() || parser.get().count(http::field::transfer_encoding) != 0) {
    return {400, "this server takes no request bodies"};
  }
  if (parser.content_length() && *parser.content_length() > limits.maxRequestBody) {
    return {413, "this server takes no request bodies"};
  }
  return {};
}

std::string Text(beast::string_view text) { return std::string(text.data(), text.size()); }

HttpRequest DescribeRequest(const http::request<http::string_body>& message) {
  HttpRequest request;
  request.method = Text(message.method_string());
  request.target = Text(message.target());
  request.version = message.version() == 10 ? "HTTP/1.0" : message.version() == 11 ? "HTTP/1.1" : "HTTP/?";
  for (const auto& field : message) request.headers.emplace_back(Text(field.name_string()), Text(field.value()));
  return request;
}

// Takes the head once it is in: described, checked, decoded and shown to the observer.
void TakeHead(const Server& server, Reading& reading) {
  reading.request = DescribeRequest(reading.parser.get());
  reading.refusal = CheckHead(reading.parser, server.Limits());
  if (reading.refusal.status == 0 && !DecodeTarget(*reading.request)) {
    reading.refusal = {400, "the target is neither a path nor an http URL"};
  }
  if (reading.refusal.status != 0) return;
  server.Observe(*reading.request);
  reading.refusal = CheckMethodAndBody(reading.parser, *reading.request, server.Limits());
}

// Until the parser has taken the request line, one over the limit is refused at once.
Refusal CheckRequestLine(const beast::flat_buffer& buffer, const Parser& parser, const ServerLimits& limits) {
  if (!parser.get().target().empty()) return {};
  const std::string_view bytes = View(buffer);
  const std::size_t line = std::min(bytes.find('\n'), bytes.size());
  if (line > limits.maxRequestLine + 1) return {414, "the request line is too long"};
  return {};
}

// Hands what the buffer holds to the parser; the bytes it took.
std::size_t Feed(beast::flat_buffer& buffer, Reading& reading) {
  if (buffer.size() == 0) return 0;
  beast::error_code error;
  const std::size_t used = reading.parser.put(buffer.data(), error);
  buffer.consume(used);
  if (error && error != http::error::need_more) reading.refusal = ParseRefusal(error, buffer);
  return used;
}

// One step of parsing what is in the buffer, the head taken once it is whole; the bytes taken.
std::size_t Parse(const Server& server, beast::flat_buffer& buffer, Reading& reading) {
  reading.refusal = CheckRequestLine(buffer, reading.parser, server.Limits());
  if (reading.refusal.status != 0) return 0;
  const std::size_t used = Feed(buffer, reading);
  if (reading.refusal.status == 0 && reading.parser.is_header_done() && !reading.request) TakeHead(server, reading);
  return used;
}

// Arms the deadline of the read about to start: when it fires first, it cancels that read and says so.
void ArmReadDeadline(const std::shared_ptr<Connection>& connection, Clock::time_point deadline) {
  const unsigned number = ++connection->readNumber;
  connection->readTimedOut = false;
  connection->readTimer.expires_at(deadline);
  connection->readTimer.async_wait([connection, number](const beast::error_code& waited) {
    if (waited || connection->readNumber != number) return;
    connection->readTimedOut = true;
    beast::error_code ignored;
    connection->stream.socket().cancel(ignored);
  });
}

// Small at first: a request is a few hundred bytes, and thousands of idle connections each hold
// their buffer; it grows with what a client sends.
std::size_t ReadRoom(const beast::flat_buffer& buffer) {
  return std::min({std::max<std::size_t>(512, buffer.size()), kReadSize, buffer.max_size() - buffer.size()});
}

// Reads some bytes into `buffer` by `deadline`. The deadline cancels the read and leaves the socket
// open, so that a 408 can still be sent; `timedOut` says that it did.
net::awaitable<std::size_t> ReadSome(std::shared_ptr<Connection> connection, beast::flat_buffer& buffer,
                                     Clock::time_point deadline, beast::error_code& error, bool& timedOut) {
  ArmReadDeadline(connection, deadline);
  const std::size_t count = co_await connection->stream.socket().async_read_some(
      buffer.prepare(ReadRoom(buffer)), net::redirect_error(net::use_awaitable, error));
  ++connection->readNumber;  // a deadline that fires from now on belongs to no read
  connection->readTimer.cancel();
  timedOut = connection->readTimedOut;
  if (!error) buffer.commit(count);
  if (!error && count > 0) connection->awaitingRequest = false;
  co_return count;
}

// Reads more of the request by `deadline`: one that is not in by then is refused (408); a client
// that leaves sets `left`.
net::awaitable<void> ReadMore(std::shared_ptr<Connection> connection, beast::flat_buffer& buffer,
                              Clock::time_point deadline, Reading& reading) {
  beast::error_code error;
  bool timedOut = false;
  co_await ReadSome(connection, buffer, deadline, error, timedOut);
  if (timedOut) {
    reading.refusal = {408, reading.request ? "the request body did not arrive in time" : "the request did not arrive in time"};
  } else if (error) {
    reading.left = true;
  }
}

// Reads one request by `deadline`, its head checked and any body dropped, until it is whole, refused
// or the client leaves.
net::awaitable<void> ReadRequest(const Server& server, std::shared_ptr<Connection> connection,
                                 beast::flat_buffer& buffer, Clock::time_point deadline, Reading& reading) {
  while (reading.refusal.status == 0 && !reading.left) {
    const std::size_t used = Parse(server, buffer, reading);
    if (reading.refusal.status != 0 || reading.parser.is_done()) co_return;
    if (used > 0 && buffer.size() > 0) continue;
    if (buffer.size() >= buffer.max_size()) {
      reading.refusal = {431, "the request is too large"};
    } else {
      co_await ReadMore(connection, buffer, deadline, reading);
    }
  }
}

// When the next request must be in: the first within the request time-out of the connect; a later one
// within the request time-out of its first byte, and that byte within the idle time-out of the last
// answer. std::nullopt when the connection stayed idle past that or the client left.
net::awaitable<std::optional<Clock::time_point>> RequestDeadline(const Server& server,
                                                                 std::shared_ptr<Connection> connection,
                                                                 beast::flat_buffer& buffer, std::size_t served) {
  const ServerLimits& limits = server.Limits();
  if (served == 0) co_return connection->accepted + limits.requestTimeout;
  if (buffer.size() == 0) {
    beast::error_code error;
    bool timedOut = false;
    co_await ReadSome(connection, buffer, Clock::now() + limits.idleTimeout, error, timedOut);
    if (error) co_return std::nullopt;
  }
  co_return Clock::now() + limits.requestTimeout;
}

// The refused request as far as it arrived, for the log; std::nullopt when not even its line is in.
std::optional<HttpRequest> RefusedRequest(const Reading& reading, const beast::flat_buffer& buffer) {
  if (reading.request) return reading.request;
  if (!reading.parser.get().target().empty()) return DescribeRequest(reading.parser.get());
  HttpRequest line;
  if (ReadRequestLine(View(buffer), line)) return line;
  return std::nullopt;
}

Response RefusalResponse(Refusal refusal) {
  Response response = StatusResponse(refusal.status, refusal.reason);
  response.extra = std::move(refusal.extra);
  response.close = true;
  return response;
}

// Answers the refusal, after which the connection ends, and logs it.
net::awaitable<void> Refuse(const Server& server, Connection& connection, const beast::flat_buffer& buffer,
                            Reading& reading) {
  const std::optional<HttpRequest> request = RefusedRequest(reading, buffer);
  const Response response = RefusalResponse(std::move(reading.refusal));
  // The method decides, however little of the line came in before the parser gave up on it.
  const bool head = request ? request->method == "HEAD" : View(buffer).starts_with("HEAD ");
  const Sent sent = co_await Send(server, connection, response, head);
  server.Log(connection.peer, request ? &*request : nullptr, sent.status, sent.bodyBytes);
}

// Answers one request through the routes and logs it; false when the connection ends after it.
net::awaitable<bool> Answer(const Server& server, Connection& connection, const HttpRequest& request, bool last) {
  const Response response = server.Route(request, last);
  if (response.hang) {
    // Read, never answered: the connection closes without a status line at Stop or the hang limit.
    co_await Pause(server, connection, server.HangDeadline());
    server.Log(connection.peer, &request, 0, 0);
    co_return false;
  }
  const Sent sent = co_await Send(server, connection, response, request.method == "HEAD");
  server.Log(connection.peer, &request, sent.status, sent.bodyBytes);
  co_return sent.whole && !response.close;
}

}  // namespace

Connection::Connection(net::ip::tcp::socket socket, std::string peerAddress)
    : stream(std::move(socket)),
      timer(stream.get_executor()),
      readTimer(stream.get_executor()),
      peer(std::move(peerAddress)),
      accepted(Clock::now()) {}

void Connection::Close() {
  closed = true;
  beast::error_code ignored;
  stream.socket().shutdown(net::ip::tcp::socket::shutdown_both, ignored);
  stream.socket().close(ignored);
  timer.cancel();
  readTimer.cancel();
}

net::awaitable<void> ServeConnection(const Server& server, std::shared_ptr<Connection> connection) {
  const ServerLimits& limits = server.Limits();
  beast::flat_buffer buffer(limits.maxRequestLine + limits.maxHeaderBytes + limits.maxRequestBody + kReadSize);
  for (std::size_t served = 0; served < limits.maxRequestsPerConnection && !server.Stopping(); ++served) {
    connection->awaitingRequest = buffer.size() == 0;
    if (server.Draining()) co_return;  // the answer before said "Connection: close"
    const std::optional<Clock::time_point> deadline = co_await RequestDeadline(server, connection, buffer, served);
    if (!deadline) co_return;  // closed quietly
    Reading reading(limits);
    co_await ReadRequest(server, connection, buffer, *deadline, reading);
    if (reading.left) co_return;
    if (reading.refusal.status != 0) {
      co_await Refuse(server, *connection, buffer, reading);
      co_return;
    }
    const bool last = !reading.parser.get().keep_alive() || served + 1 >= limits.maxRequestsPerConnection || server.Draining();
    if (!co_await Answer(server, *connection, *reading.request, last)) co_return;
  }
}

}  // namespace isetup::endpoint
