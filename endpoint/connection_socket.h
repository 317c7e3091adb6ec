// The socket calls of the endpoint: the listening socket, reads and writes bounded in time, and the
// abrupt or quiet ends that the faults need. POSIX only (the endpoint is a native program).
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace isetup::endpoint {

struct Listener {
  int fd = -1;
  int port = 0;       // the bound port (the one picked when 0 was asked for)
  std::string error;  // why it failed, when fd is -1
};

// A non-blocking listening TCP socket on address:port (numeric IPv4 or IPv6, or a name that resolves).
// SO_REUSEADDR only: a second server on the same port must fail, not share the connections.
[[nodiscard]] Listener OpenListener(const std::string& address, int port);

// Prepares an accepted socket: non-blocking, and without Nagle's delay so that each throttled piece
// leaves when it is written.
void PrepareConnection(int fd);

// The numeric address of a socket's peer ("127.0.0.1", "::1"), empty when unknown.
std::string PeerAddress(int fd);

enum class IoStatus { Ok, Closed, TimedOut, Failed };

// Appends what arrives (at most `most` bytes) to `buffer`, waiting until `deadline` for anything.
// Closed: the peer ended its side (or this side was shut down).
IoStatus ReadSome(int fd, std::string& buffer, std::size_t most, std::chrono::steady_clock::time_point deadline);

// Sends all of `data`; TimedOut when the peer takes nothing for `stall`.
IoStatus WriteAll(int fd, std::string_view data, std::chrono::milliseconds stall);

// Ends the connection at once with a reset (SO_LINGER 0, then a disconnect); the descriptor stays open
// for its owner to close.
void ResetConnection(int fd);

// Shuts both directions down (an orderly close); a thread blocked on the socket wakes up.
void ShutdownConnection(int fd);

}  // namespace isetup::endpoint
