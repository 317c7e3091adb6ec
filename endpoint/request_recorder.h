// Test helper: records the requests a Server receives, installed through its request observer.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <vector>

#include "endpoint/endpoint_server.h"

namespace isetup::endpoint::testing {

class RequestRecorder {
 public:
  // Records `server`'s requests from now on; the recorder must outlive the server's serving.
  explicit RequestRecorder(Server& server) {
    server.SetRequestObserver([this](const RequestRecord& record) {
      {
        std::lock_guard lock(mutex_);
        requests_.push_back(record);
      }
      changed_.notify_all();
    });
  }

  std::vector<RequestRecord> Requests() const {  // in arrival order
    std::lock_guard lock(mutex_);
    return requests_;
  }
  // Waits until at least `count` requests have arrived; false on time-out.
  bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<RequestRecord> requests_;
};

}  // namespace isetup::endpoint::testing
