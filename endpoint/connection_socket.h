// Reaching the socket of a connection that the HTTP library serves, for the faults that must end it
// abruptly or without any answer. POSIX only (the endpoint is a native program).
#pragma once

#include <string>

namespace isetup::endpoint {

// The descriptor of this process's socket whose own end is local:localPort and whose peer is
// remote:remotePort, or -1. The library keeps the socket open while a handler of its connection runs.
int FindConnectionSocket(const std::string& localAddress, int localPort, const std::string& remoteAddress,
                         int remotePort);

// Ends the connection at once with a reset (SO_LINGER 0, then a disconnect); the descriptor stays open
// for its owner to close.
void ResetConnection(int fd);

// Shuts both directions down (an orderly close), so that nothing written afterwards reaches the peer.
void ShutdownConnection(int fd);

}  // namespace isetup::endpoint
