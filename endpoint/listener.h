// The endpoint's listening socket: binds it, accepts connections up to the cap (answering 503 beyond
// it), keeps the open connections so that Stop and Drain can reach them, and ends listening.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>
#include <utility>  // Boost 1.74's awaitable.hpp uses std::exchange without it

#include <boost/asio/awaitable.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

namespace isetup::endpoint {

class Server;
struct Connection;

// Thread affinity: Bind and Start before the loops run; the rest from any thread.
class Listener {
 public:
  // Listens on the first of `loops` and serves each connection on the next of them in turn.
  Listener(std::vector<boost::asio::io_context*> loops, const Server& server);

  // Binds address:port (0: an ephemeral port) and listens; the bound port, or -1.
  [[nodiscard]] int Bind(const std::string& address, int port);
  // Accepts on the loop until listening ends.
  void Start();
  // Listening ends at once, every open connection is closed.
  void Stop();
  // Listening ends, connections waiting for a request close at once; true when every connection
  // ended within `grace`.
  bool Drain(std::chrono::milliseconds grace);

 private:
  boost::asio::awaitable<void> Accept();
  boost::asio::awaitable<void> BackOff();
  void Admit(boost::asio::ip::tcp::socket socket);
  std::shared_ptr<Connection> Register(boost::asio::ip::tcp::socket& socket, const std::string& peer);
  void Serve(std::shared_ptr<Connection> connection);
  bool Forget(Connection& connection);
  void StopListening();
  template <class Work>
  void PostToEachConnection(const Work& work);

  boost::asio::io_context& NextLoop();

  std::vector<boost::asio::io_context*> loops_;
  std::size_t nextLoop_ = 0;  // the accept loop's alone
  const Server& server_;
  // On the first loop, whose one thread runs the accept loop and every close of the listening socket
  // (Drain and the Stop after it each post one from other threads), one at a time.
  boost::asio::ip::tcp::acceptor acceptor_;
  std::mutex mutex_;
  std::unordered_map<Connection*, std::weak_ptr<Connection>> connections_;
  std::condition_variable allClosed_;  // notified when the last connection has gone
  std::size_t peakSinceTrim_ = 0;  // the most connections open at once since the heap was last trimmed
};

}  // namespace isetup::endpoint
