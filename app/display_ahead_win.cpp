// Connecting to the display ahead of the first window.
#include "app/display_ahead_win.h"

#include <windows.h>

#include <system_error>

#include "run/thread_layer.h"

namespace isetup {
namespace {

constexpr DWORD kLongestWaitAtExitMs = 3000;

HANDLE g_connected = nullptr;  // set when the thread is done; never closed, like the thread's state

}  // namespace

void StartConnectingToTheDisplay() {
  g_connected = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (g_connected == nullptr) return;
  try {
    // Owned by nobody: letting go of it neither joins nor stops the thread.
    delete new BackgroundThread([done = g_connected] {
      // The screen's device context needs the display driver and the process's connection to it. Without
      // a display it fails, and the first window fails the same way later.
      if (HDC screen = GetDC(nullptr)) ReleaseDC(nullptr, screen);
      SetEvent(done);
    });
  } catch (const std::system_error&) {
    SetEvent(g_connected);
  }
}

void FinishConnectingToTheDisplay() {
  if (g_connected != nullptr) (void)WaitForSingleObject(g_connected, kLongestWaitAtExitMs);
}

}  // namespace isetup
