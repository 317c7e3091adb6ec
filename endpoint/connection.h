// One client connection of the endpoint: reads requests through Beast's parser within the server's
// limits and time-outs, answers them through the server's routes and sends each body in gathered
// pieces, applying the transport faults.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <utility>  // Boost 1.74's awaitable.hpp uses std::exchange without it

#include <boost/asio/awaitable.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/tcp_stream.hpp>

namespace isetup::endpoint {

class Server;

// Thread affinity: every member runs on the connection's event loop (its socket's executor), which
// one thread runs.
struct Connection {
  Connection(boost::asio::ip::tcp::socket socket, std::string peer);

  boost::beast::tcp_stream stream;
  boost::asio::steady_timer timer;      // hangs and throttle pauses
  boost::asio::steady_timer readTimer;  // the deadline of the read in progress
  std::string peer;
  std::chrono::steady_clock::time_point accepted;
  bool closed = false;
  bool readTimedOut = false;
  bool awaitingRequest = false;  // no byte of the next request is in yet: a drain may close it at once
  unsigned readNumber = 0;  // which read the deadline belongs to, so a late one is ignored

  // Ends every wait of this connection at once: the socket closes, a pending pause is cancelled.
  void Close();
};

// Serves requests on `connection` until the client leaves, a time-out or a refusal ends it, or the
// server stops.
boost::asio::awaitable<void> ServeConnection(const Server& server, std::shared_ptr<Connection> connection);

}  // namespace isetup::endpoint
