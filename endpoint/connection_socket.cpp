// Socket calls with time bounds; every wait is a poll with a deadline, so no peer can hold a thread.
#include "endpoint/connection_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace isetup::endpoint {
namespace {

int MillisecondsUntil(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, 60'000));
}

}  // namespace

Listener OpenListener(const std::string& address, int port) {
  Listener result;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int error = getaddrinfo(address.c_str(), service.c_str(), &hints, &found); error != 0) {
    result.error = "cannot resolve \"" + address + "\": " + gai_strerror(error);
    return result;
  }
  for (const addrinfo* candidate = found; candidate && result.fd < 0; candidate = candidate->ai_next) {
    const int fd = socket(candidate->ai_family, candidate->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                          candidate->ai_protocol);
    if (fd < 0) {
      result.error = std::strerror(errno);
      continue;
    }
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (bind(fd, candidate->ai_addr, candidate->ai_addrlen) != 0 || listen(fd, SOMAXCONN) != 0) {
      result.error = std::strerror(errno);
      close(fd);
      continue;
    }
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
    result.port = bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<const sockaddr_in6&>(bound).sin6_port)
                                              : ntohs(reinterpret_cast<const sockaddr_in&>(bound).sin_port);
    result.fd = fd;
    result.error.clear();
  }
  freeaddrinfo(found);
  return result;
}

void PrepareConnection(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  const int yes = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
}

std::string PeerAddress(int fd) {
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return {};
  char text[INET6_ADDRSTRLEN] = {};
  if (peer.ss_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(peer).sin_addr, text, sizeof text);
  } else if (peer.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(peer);
    // An IPv4 client of a dual-stack socket is logged in its plain form.
    if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) {
      inet_ntop(AF_INET, &v6.sin6_addr.s6_addr[12], text, sizeof text);
    } else {
      inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    }
  }
  return text;
}

IoStatus ReadSome(int fd, std::string& buffer, std::size_t most, std::chrono::steady_clock::time_point deadline) {
  char piece[4096];
  while (true) {
    const ssize_t count = recv(fd, piece, std::min(most, sizeof piece), 0);
    if (count > 0) {
      buffer.append(piece, static_cast<std::size_t>(count));
      return IoStatus::Ok;
    }
    if (count == 0) return IoStatus::Closed;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return errno == ECONNRESET ? IoStatus::Closed : IoStatus::Failed;
    if (std::chrono::steady_clock::now() >= deadline) return IoStatus::TimedOut;
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, MillisecondsUntil(deadline)) < 0 && errno != EINTR) return IoStatus::Failed;
  }
}

IoStatus WriteAll(int fd, std::string_view data, std::chrono::milliseconds stall) {
  while (!data.empty()) {
    const ssize_t count = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (count > 0) {
      data.remove_prefix(static_cast<std::size_t>(count));
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      return errno == EPIPE || errno == ECONNRESET ? IoStatus::Closed : IoStatus::Failed;
    }
    pollfd ready{fd, POLLOUT, 0};
    const int polled = poll(&ready, 1, MillisecondsUntil(std::chrono::steady_clock::now() + stall));
    if (polled == 0) return IoStatus::TimedOut;
    if (polled < 0 && errno != EINTR) return IoStatus::Failed;
  }
  return IoStatus::Ok;
}

void ResetConnection(int fd) {
  const linger abort{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  // Connecting to AF_UNSPEC disconnects a TCP socket, which sends the reset now rather than at close
  // (a shutdown before the close would send an orderly FIN first).
  sockaddr disconnect{};
  disconnect.sa_family = AF_UNSPEC;
  connect(fd, &disconnect, sizeof disconnect);
}

void ShutdownConnection(int fd) { shutdown(fd, SHUT_RDWR); }

}  // namespace isetup::endpoint
