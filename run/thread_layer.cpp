// Background threads and the synchronous call onto the window thread.
#include "run/thread_layer.h"

#include <chrono>

namespace isetup {

BackgroundThread::BackgroundThread(std::function<void()> body) : state_(std::make_shared<State>()) {
  std::thread thread([state = state_, body = std::move(body)] {
    std::exception_ptr error;
    try {
      body();
    } catch (...) {
      error = std::current_exception();
    }
    std::lock_guard lock(state->mutex);
    state->error = error;
    state->ended = true;
  });
  id_ = thread.get_id();
  handle_ = thread.native_handle();
  thread.detach();
}

bool BackgroundThread::Ended() const {
  std::lock_guard lock(state_->mutex);
  return state_->ended;
}

std::exception_ptr BackgroundThread::Error() const {
  std::lock_guard lock(state_->mutex);
  return state_->error;
}

void SleepMilliseconds(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

SyncCallQueue::SyncCallQueue(std::function<void()> wakeWindowThread)
    : wake_(std::move(wakeWindowThread)), windowThread_(std::this_thread::get_id()) {}

void SyncCallQueue::BindToCurrentThread() {
  windowThread_.store(std::this_thread::get_id());
}

bool SyncCallQueue::OnWindowThread() const { return std::this_thread::get_id() == windowThread_.load(); }

void SyncCallQueue::Call(const std::function<void()>& routine) {
  if (OnWindowThread()) {
    routine();
    return;
  }
  Request request{&routine, nullptr, false};
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(&request);
  }
  wake_();
  std::unique_lock lock(mutex_);
  finished_.wait(lock, [&] { return request.done; });
  if (request.error) std::rethrow_exception(request.error);
}

void SyncCallQueue::RunPending() {
  for (;;) {
    Request* request;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) return;
      request = queue_.front();
      queue_.pop_front();
    }
    std::exception_ptr error;
    try {
      (*request->routine)();
    } catch (...) {
      error = std::current_exception();
    }
    {
      std::lock_guard lock(mutex_);
      request->error = error;
      request->done = true;
    }
    finished_.notify_all();
  }
}

}  // namespace isetup
