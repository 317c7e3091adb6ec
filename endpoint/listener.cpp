// The accept loop of the endpoint as a coroutine on the first event loop: each connection is set up
// and served on the next loop in turn, counted while open, and given back when it ends.
#include "endpoint/listener.h"

#include <malloc.h>
#include <netinet/in.h>
#include <netinet/tcp.h>

#include <algorithm>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>

#include "endpoint/connection.h"
#include "endpoint/endpoint_server.h"

namespace isetup::endpoint {
namespace {

namespace net = boost::asio;
using tcp = net::ip::tcp;

// Sent on the send buffer's behalf: a slow client's share of the socket stays small, and the writer
// hears of room often (each write must make progress within the write time-out).
constexpr int kUnsentLowWater = 256 * 1024;

constexpr std::size_t kTrimAfterConnections = 256;

void PrepareSocket(tcp::socket& socket) {
  const int fd = socket.native_handle();
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  setsockopt(fd, IPPROTO_TCP, TCP_NOTSENT_LOWAT, &kUnsentLowWater, sizeof kUnsentLowWater);
}

bool ListeningEnded(const boost::system::error_code& error) {
  return error == net::error::operation_aborted || error == net::error::bad_descriptor;
}

// The answer past the connection cap, written without waiting: the socket takes it whole or not at all.
void RefuseOverCap(const Server& server, tcp::socket& socket, const std::string& peer) {
  const std::string page = StatusPage(503, "too many connections");
  const std::string text = "HTTP/1.1 503 Service Unavailable\r\nDate: " + FormatHttpDate(std::chrono::system_clock::now()) +
                           "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(page.size()) +
                           "\r\nRetry-After: 1\r\nConnection: close\r\n\r\n" + page;
  boost::system::error_code ignored;
  socket.non_blocking(true, ignored);
  socket.write_some(net::buffer(text), ignored);
  socket.shutdown(tcp::socket::shutdown_send, ignored);
  socket.close(ignored);
  server.Log(peer, nullptr, 503, page.size());
}

}  // namespace

Listener::Listener(std::vector<net::io_context*> loops, const Server& server)
    : loops_(std::move(loops)), server_(server), acceptor_(*loops_.front()) {}

net::io_context& Listener::NextLoop() {
  net::io_context& loop = *loops_[nextLoop_];
  nextLoop_ = (nextLoop_ + 1) % loops_.size();
  return loop;
}

// Runs `work` on the loop of every open connection; the caller holds `mutex_`.
template <class Work>
void Listener::PostToEachConnection(const Work& work) {
  for (const auto& [key, weak] : connections_) {
    if (auto connection = weak.lock()) {
      net::post(connection->stream.get_executor(), [connection, work] { work(*connection); });
    }
  }
}

int Listener::Bind(const std::string& address, int port) {
  boost::system::error_code error;
  const auto ip = net::ip::make_address(address, error);
  if (error || port < 0 || port > 65535) return -1;
  const tcp::endpoint where(ip, static_cast<unsigned short>(port));
  acceptor_.open(where.protocol(), error);
  if (!error) acceptor_.set_option(tcp::acceptor::reuse_address(true), error);
  if (!error) acceptor_.bind(where, error);
  if (!error) acceptor_.listen(net::socket_base::max_listen_connections, error);
  return error ? -1 : acceptor_.local_endpoint().port();
}

void Listener::Start() { net::co_spawn(acceptor_.get_executor(), Accept(), net::detached); }

void Listener::Stop() {
  StopListening();
  std::lock_guard lock(mutex_);
  PostToEachConnection([](Connection& connection) { connection.Close(); });
}

bool Listener::Drain(std::chrono::milliseconds grace) {
  StopListening();
  std::unique_lock lock(mutex_);
  PostToEachConnection([](Connection& connection) {
    if (connection.awaitingRequest) connection.Close();
  });
  return allClosed_.wait_for(lock, grace, [this] { return connections_.empty(); });
}

net::awaitable<void> Listener::Accept() {
  while (!server_.Stopping()) {
    // Its loop has one thread, so the connection's work runs one piece at a time.
    tcp::socket socket(NextLoop());
    boost::system::error_code error;
    co_await acceptor_.async_accept(socket, net::redirect_error(net::use_awaitable, error));
    if (server_.Stopping() || server_.Draining() || ListeningEnded(error)) break;
    if (error) {
      co_await BackOff();
    } else {
      Admit(std::move(socket));
    }
  }
  // Ended by the stopping flags alone, the loop may run out of work before a posted close runs.
  boost::system::error_code ignored;
  acceptor_.close(ignored);
}

// Out of descriptors, for example: back off briefly instead of spinning on the listener.
net::awaitable<void> Listener::BackOff() {
  net::steady_timer pause(acceptor_.get_executor(), std::chrono::milliseconds(100));
  boost::system::error_code ignored;
  co_await pause.async_wait(net::redirect_error(net::use_awaitable, ignored));
}

void Listener::Admit(tcp::socket socket) {
  boost::system::error_code ignored;
  const std::string peer = socket.remote_endpoint(ignored).address().to_string();
  PrepareSocket(socket);
  if (auto connection = Register(socket, peer)) {
    Serve(std::move(connection));
  } else {
    RefuseOverCap(server_, socket, peer);
  }
}

// The connection made of `socket`, counted among the open ones; null (the socket left as it is)
// when the cap is reached.
std::shared_ptr<Connection> Listener::Register(tcp::socket& socket, const std::string& peer) {
  std::lock_guard lock(mutex_);
  if (connections_.size() >= server_.Limits().maxConnections) return nullptr;
  auto connection = std::make_shared<Connection>(std::move(socket), peer);
  connections_.emplace(connection.get(), connection);
  peakSinceTrim_ = std::max(peakSinceTrim_, connections_.size());
  return connection;
}

void Listener::Serve(std::shared_ptr<Connection> connection) {
  auto executor = connection->stream.get_executor();
  net::co_spawn(executor, ServeConnection(server_, connection), [this, connection](std::exception_ptr) {
    // A failure inside one connection (out of memory, say) ends that connection only. Its place
    // is free before its socket closes, so a client that sees the close finds the place free.
    const bool trim = Forget(*connection);
    connection->Close();
    if (trim) malloc_trim(0);
  });
}

// Takes `connection` off the open ones; true when the heap is worth trimming now.
bool Listener::Forget(Connection& connection) {
  std::lock_guard lock(mutex_);
  connections_.erase(&connection);
  if (connections_.empty()) allClosed_.notify_all();
  // After a crowd (thousands of slow clients, say) has gone, give its memory back to the system;
  // malloc keeps freed small blocks otherwise.
  const bool trim = connections_.empty() && peakSinceTrim_ >= kTrimAfterConnections;
  if (trim) peakSinceTrim_ = 0;
  return trim;
}

// Closes the listening socket on the accept loop's one thread, which ends Accept.
void Listener::StopListening() {
  net::post(acceptor_.get_executor(), [this] {
    boost::system::error_code ignored;
    acceptor_.close(ignored);
  });
}

}  // namespace isetup::endpoint
