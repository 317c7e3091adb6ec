// The system's connectivity state, asked once per run: on a thread of its own from the program's start,
// so that loading wininet and asking overlap the rest of the start.
#pragma once

namespace isetup {

// Starts asking; called once, first thing. Without a thread, IsOnline asks itself.
void StartConnectivityCheck();

// Whether the system reports a connection (its flags are not looked at; no server is contacted).
// Waits for the answer that StartConnectivityCheck asked for, or asks now when there is none. Once.
bool IsOnline();

}  // namespace isetup
