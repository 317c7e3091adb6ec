// Asking InternetGetConnectedState ahead of the window that needs the answer.
#include "app/connectivity_check_win.h"

#include <windows.h>
#include <wininet.h>

#include "run/thread_layer.h"

namespace isetup {
namespace {

bool AskConnectedState() {
  DWORD flags = 0;
  return InternetGetConnectedState(&flags, 0) != FALSE;
}

WorkAhead<bool>* g_answer = nullptr;  // never freed: its thread may outlive the window

}  // namespace

void StartConnectivityCheck() { g_answer = new WorkAhead<bool>(AskConnectedState); }

bool IsOnline() {
  // Taken once: the program entry and the start of the setup ask the same question of one run.
  static const bool online = g_answer ? g_answer->Take() : AskConnectedState();
  return online;
}

}  // namespace isetup
