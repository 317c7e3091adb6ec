// Asking InternetGetConnectedState ahead of the window that needs the answer.
#include "app/connectivity_check_win.h"

#include <windows.h>
#include <wininet.h>

#include <future>
#include <memory>
#include <system_error>

#include "app/thread_layer.h"

namespace isetup {
namespace {

bool AskConnectedState() {
  DWORD flags = 0;
  return InternetGetConnectedState(&flags, 0) != FALSE;
}

std::shared_future<bool>& Answer() {
  static auto* answer = new std::shared_future<bool>;  // never destroyed: the thread may outlive main
  return *answer;
}

}  // namespace

void StartConnectivityCheck() {
  auto promise = std::make_shared<std::promise<bool>>();
  std::shared_future<bool> answer = promise->get_future().share();
  try {
    new BackgroundThread([promise] { promise->set_value(AskConnectedState()); });  // lives until the end
  } catch (const std::system_error&) {
    return;
  }
  Answer() = std::move(answer);
}

bool IsOnline() {
  const std::shared_future<bool>& answer = Answer();
  return answer.valid() ? answer.get() : AskConnectedState();
}

}  // namespace isetup
