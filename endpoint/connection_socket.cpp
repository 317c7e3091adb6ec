// Finds a served connection's socket by its two addresses, and ends it abruptly or quietly.
#include "endpoint/connection_socket.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace isetup::endpoint {
namespace {

bool SameEndpoint(const sockaddr_storage& address, const std::string& text, int port) {
  char buffer[INET6_ADDRSTRLEN] = {};
  int actualPort = -1;
  if (address.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
    if (!inet_ntop(AF_INET, &v4.sin_addr, buffer, sizeof buffer)) return false;
    actualPort = ntohs(v4.sin_port);
  } else if (address.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    if (!inet_ntop(AF_INET6, &v6.sin6_addr, buffer, sizeof buffer)) return false;
    actualPort = ntohs(v6.sin6_port);
  } else {
    return false;
  }
  return actualPort == port && text == buffer;
}

bool Matches(int fd, const std::string& localAddress, int localPort, const std::string& remoteAddress,
             int remotePort) {
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISSOCK(info.st_mode)) return false;
  sockaddr_storage local{};
  socklen_t localLength = sizeof local;
  sockaddr_storage peer{};
  socklen_t peerLength = sizeof peer;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0) return false;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0) return false;
  return SameEndpoint(local, localAddress, localPort) && SameEndpoint(peer, remoteAddress, remotePort);
}

}  // namespace

int FindConnectionSocket(const std::string& localAddress, int localPort, const std::string& remoteAddress,
                         int remotePort) {
  // The open descriptors are listed in /proc/self/fd; the listing's own descriptor never matches.
  // Other threads may close or open descriptors meanwhile: the scan only reads their addresses, and
  // the one that matches is held open by the library for the handler that asks.
  // (ThreadSanitizer reports such a close in a test's own client as a race on the descriptor.)
  DIR* directory = opendir("/proc/self/fd");
  if (!directory) return -1;
  int found = -1;
  while (const dirent* entry = readdir(directory)) {
    char* end = nullptr;
    const long fd = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0') continue;
    if (Matches(static_cast<int>(fd), localAddress, localPort, remoteAddress, remotePort)) {
      found = static_cast<int>(fd);
      break;
    }
  }
  closedir(directory);
  return found;
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
