// Background threads and the synchronous call onto the window thread.
#include "run/thread_layer.h"

#include <pthread.h>

#include <chrono>
#include <thread>

namespace isetup {

struct BackgroundThread::Start {
  std::shared_ptr<State> state;
  std::function<void()> body;
};

BackgroundThread::BackgroundThread(std::function<void()> body) : state_(std::make_shared<State>()) {
  auto start = std::make_unique<Start>(Start{state_, std::move(body)});
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  const int error = pthread_create(&thread, &attributes, &BackgroundThread::Run, start.get());
  pthread_attr_destroy(&attributes);
  if (error != 0) throw std::system_error(error, std::generic_category(), "pthread_create");
  start.release();  // the thread owns it now
}

void* BackgroundThread::Run(void* raw) {
  const std::unique_ptr<Start> start(static_cast<Start*>(raw));
  std::exception_ptr error;
  try {
    start->body();
  } catch (...) {
    error = std::current_exception();
  }
  std::lock_guard lock(start->state->mutex);
  start->state->error = error;
  start->state->ended = true;
  return nullptr;
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
