// Serves one connection as a coroutine on its strand: the request head and body through Beast's
// parser with our limits, a deadline on every read, a time-out on every write, faults on demand.
#include "endpoint/connection.h"

#include <algorithm>
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

// The status of a refusal made by the parser.
int ParseErrorStatus(const beast::error_code& error) {
  if (error == http::error::header_limit) return 431;
  if (error == http::error::body_limit) return 413;
  return 400;
}

// The head of `response` as Beast writes it.
std::string FormatHead(const Response& response) {
  http::response<http::empty_body> head;
  head.version(11);
  head.result(static_cast<unsigned>(response.status));
  head.set(http::field::date, FormatHttpDate(std::chrono::system_clock::now()));
  if (!response.contentType.empty()) head.set(http::field::content_type, response.contentType);
  head.content_length(response.body.Size());
  for (const auto& [name, value] : response.extra) head.set(name, value);
  if (response.close) head.set(http::field::connection, "close");
  http::response_serializer<http::empty_body> serializer(head);
  serializer.split(true);
  std::string text;
  beast::error_code error;
  while (!serializer.is_header_done() && !error) {
    serializer.next(error, [&](beast::error_code&, const auto& buffers) {
      for (const auto buffer : beast::buffers_range_ref(buffers)) {
        text.append(static_cast<const char*>(buffer.data()), buffer.size());
      }
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

// Sends the head and the body in gathered pieces (one write for the head and the first piece, so a
// short answer is one segment), applying the fault's cuts and throttle.
net::awaitable<Sent> Send(const Server& server, Connection& connection, const Response& response, bool headOnly) {
  Sent sent{response.status, 0, true};
  const std::string head = FormatHead(response);
  const StageFault& fault = response.transport;
  const BodyCut cut = headOnly ? BodyCut{Cut::None, 0} : CutOf(fault, response.body.Size());
  const auto delay = std::chrono::milliseconds(std::max(0, fault.throttleDelayMs));
  bool headPending = true;
  for (std::size_t offset = 0; headPending || offset < cut.at;) {
    std::size_t end = cut.at;
    if (fault.throttleChunk != 0) {
      end = std::min(end, offset + fault.throttleChunk);
      if (offset != 0 && co_await Pause(server, connection, Clock::now() + delay)) {
        sent.whole = false;
        co_return sent;
      }
    }
    std::vector<net::const_buffer> buffers;
    if (headPending) buffers.emplace_back(head.data(), head.size());
    for (const auto piece : response.body.Gather(offset, end)) buffers.emplace_back(piece.data(), piece.size());
    std::size_t written = 0;
    const bool ok = co_await WriteAll(server, connection, buffers, written);
    sent.bodyBytes += written - (headPending ? std::min(written, head.size()) : 0);
    if (!ok || server.Stopping()) {
      sent.whole = false;
      co_return sent;
    }
    headPending = false;
    offset = end;
  }
  if (cut.cut == Cut::None) co_return sent;
  sent.whole = false;  // the connection closes after the bytes sent so far
  if (cut.cut == Cut::Hang) co_await Pause(server, connection, server.HangDeadline());
  if (cut.cut == Cut::Reset) {
    beast::error_code ignored;
    connection.stream.socket().set_option(net::socket_base::linger(true, 0), ignored);
    connection.stream.socket().close(ignored);
  }
  co_return sent;
}

// Why a parsed head cannot be answered, as a status and a reason; status 0 when it can.
std::pair<int, std::string> CheckHead(const http::request_parser<http::string_body>& parser, const ServerLimits& limits) {
  const auto& message = parser.get();
  if (message.version() != 10 && message.version() != 11) return {505, "only HTTP/1.0 and HTTP/1.1 are served"};
  // Beast lets 8-bit bytes through in the target; a proxy could read those otherwise than we do.
  const auto target = message.target();
  if (!std::all_of(target.begin(), target.end(), [](char c) { return c > 0x20 && c < 0x7F; })) {
    return {400, "the target holds blanks, control or 8-bit bytes"};
  }
  std::size_t count = 0, bytes = 0, hosts = 0;
  for (const auto& field : message) {
    ++count;
    bytes += field.name_string().size() + field.value().size() + 4;
    if (field.name() == http::field::host) ++hosts;
  }
  if (count > limits.maxHeaderCount) return {431, "too many header fields"};
  if (bytes > limits.maxHeaderBytes) return {431, "the header fields are too large"};
  if (message.version() == 11 ? hosts != 1 : hosts > 1) return {400, "HTTP/1.1 needs one Host"};
  return {0, {}};
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

// Reads some bytes into `buffer` by `deadline`. The deadline cancels the read and leaves the socket
// open, so that a 408 can still be sent; `timedOut` says that it did.
net::awaitable<std::size_t> ReadSome(std::shared_ptr<Connection> connection, beast::flat_buffer& buffer,
                                     Clock::time_point deadline, beast::error_code& error, bool& timedOut) {
  const unsigned number = ++connection->readNumber;
  connection->readTimedOut = false;
  connection->readTimer.expires_at(deadline);
  connection->readTimer.async_wait([connection, number](const beast::error_code& waited) {
    if (waited || connection->readNumber != number) return;
    connection->readTimedOut = true;
    beast::error_code ignored;
    connection->stream.socket().cancel(ignored);
  });
  // Small at first: a request is a few hundred bytes, and thousands of idle connections each hold
  // their buffer; it grows with what a client sends.
  const std::size_t room = std::min({std::max<std::size_t>(512, buffer.size()), kReadSize, buffer.max_size() - buffer.size()});
  const std::size_t count = co_await connection->stream.socket().async_read_some(
      buffer.prepare(room), net::redirect_error(net::use_awaitable, error));
  ++connection->readNumber;  // a deadline that fires from now on belongs to no read
  connection->readTimer.cancel();
  timedOut = connection->readTimedOut;
  if (!error) buffer.commit(count);
  if (!error && count > 0) connection->awaitingRequest = false;
  co_return count;
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
  beast::error_code error;
  // The first request must be in within the request time-out of the connect; a later one within the
  // request time-out of its first byte, and that byte within the idle time-out of the last answer.
  for (std::size_t served = 0; served < limits.maxRequestsPerConnection && !server.Stopping(); ++served) {
    connection->awaitingRequest = buffer.size() == 0;
    if (server.Draining()) co_return;  // the answer before said "Connection: close"
    Clock::time_point deadline = connection->accepted + limits.requestTimeout;
    if (served > 0) {
      if (buffer.size() == 0) {
        bool timedOut = false;
        co_await ReadSome(connection, buffer, Clock::now() + limits.idleTimeout, error, timedOut);
        if (error) co_return;  // idle past the time-out, or the client left: closed quietly
      }
      deadline = Clock::now() + limits.requestTimeout;
    }

    http::request_parser<http::string_body> parser;
    parser.header_limit(static_cast<std::uint32_t>(limits.maxRequestLine + limits.maxHeaderBytes + 2));
    parser.body_limit(limits.maxRequestBody);
    parser.eager(true);
    int refusal = 0;
    std::string reason;
    std::optional<HttpRequest> request;
    std::vector<std::pair<std::string, std::string>> extra;
    while (refusal == 0) {
      if (parser.get().target().empty()) {
        // Until the parser has taken the request line, one over the limit is refused at once.
        const std::string_view bytes = View(buffer);
        const std::size_t lineEnd = bytes.find('\n');
        const std::size_t line = lineEnd == std::string_view::npos ? bytes.size() : lineEnd;
        if (line > limits.maxRequestLine + 1) {
          refusal = 414;
          reason = "the request line is too long";
          break;
        }
      }
      std::size_t used = 0;
      if (buffer.size() > 0) {
        used = parser.put(buffer.data(), error);
        buffer.consume(used);
        if (error == http::error::need_more) {
          error = {};
        } else if (error) {
          refusal = ParseErrorStatus(error);
          reason = "the request cannot be parsed (" + error.message() + ")";
          HttpRequest line;
          if (error == http::error::bad_version && ReadRequestLine(View(buffer), line) && IsOtherHttpVersion(line.version)) {
            refusal = 505;
            reason = "only HTTP/1.0 and HTTP/1.1 are served";
          }
          break;
        }
      }
      if (parser.is_header_done() && !request) {
        request = DescribeRequest(parser.get());
        std::tie(refusal, reason) = CheckHead(parser, limits);
        if (refusal == 0 && !DecodeTarget(*request)) {
          refusal = 400;
          reason = "the target is neither a path nor an http URL";
        }
        if (refusal != 0) break;
        server.Observe(*request);
        if (request->method != "GET" && request->method != "HEAD") {
          // Any body it has is left unread, so the connection cannot carry another request.
          refusal = 405;
          extra = {{"Allow", "GET, HEAD"}};
        } else if (parser.chunked() || parser.get().count(http::field::transfer_encoding) != 0) {
          refusal = 400;
          reason = "this server takes no request bodies";
        } else if (parser.content_length() && *parser.content_length() > limits.maxRequestBody) {
          refusal = 413;
          reason = "this server takes no request bodies";
        }
        if (refusal != 0) break;
      }
      if (parser.is_done()) break;
      if (used > 0 && buffer.size() > 0) continue;
      if (buffer.size() >= buffer.max_size()) {
        refusal = 431;
        reason = "the request is too large";
        break;
      }
      bool timedOut = false;
      co_await ReadSome(connection, buffer, deadline, error, timedOut);
      if (timedOut) {
        refusal = 408;
        reason = request ? "the request body did not arrive in time" : "the request did not arrive in time";
        break;
      }
      if (error) co_return;  // the client left
    }

    if (refusal != 0) {
      HttpRequest partial;
      if (!request && !parser.get().target().empty()) partial = DescribeRequest(parser.get());
      const bool named = request || !partial.target.empty() || ReadRequestLine(View(buffer), partial);
      const HttpRequest& logged = request ? *request : partial;
      Response response;
      response.status = refusal;
      response.contentType = "text/plain";
      response.extra = std::move(extra);
      response.close = true;
      const std::string page = StatusPage(refusal, reason);
      response.body.bytes = std::make_shared<const std::vector<std::uint8_t>>(page.begin(), page.end());
      const Sent sent = co_await Send(server, *connection, response, named && logged.method == "HEAD");
      server.Log(connection->peer, named ? &logged : nullptr, sent.status, sent.bodyBytes);
      co_return;
    }

    const bool last =
        !parser.get().keep_alive() || served + 1 >= limits.maxRequestsPerConnection || server.Draining();
    const Response response = server.Route(*request, last);
    if (response.hang) {
      // Read, never answered: the connection closes without a status line at Stop or the hang limit.
      co_await Pause(server, *connection, server.HangDeadline());
      server.Log(connection->peer, &*request, 0, 0);
      co_return;
    }
    const Sent sent = co_await Send(server, *connection, response, request->method == "HEAD");
    server.Log(connection->peer, &*request, sent.status, sent.bodyBytes);
    if (!sent.whole || response.close) co_return;
  }
}

}  // namespace isetup::endpoint
