// The thread layer: threads that start on creation and are never joined, and the blocking synchronous
// call onto the window thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace isetup {

// A thread whose body starts at once on creation. It is never joined or waited for and the process
// end does not wait for it; an exception escaping the body ends the thread quietly and is kept here.
// The thread is created detached: with winpthreads, detaching a thread whose body has already
// returned recycles its record while the thread is still ending, and a later thread can then spin
// forever on a lock in that record.
class BackgroundThread {
 public:
  explicit BackgroundThread(std::function<void()> body);  // throws std::system_error if none can be made
  BackgroundThread(const BackgroundThread&) = delete;
  BackgroundThread& operator=(const BackgroundThread&) = delete;

  bool Ended() const;                   // the body has returned or thrown
  std::exception_ptr Error() const;     // what escaped the body, if anything

 private:
  struct State {
    mutable std::mutex mutex;
    bool ended = false;
    std::exception_ptr error;
  };
  struct Start;
  static void* Run(void* start);

  std::shared_ptr<State> state_;  // shared with the running body, so it outlives this object if need be
};

void SleepMilliseconds(int milliseconds);

// Routines queued by other threads and run on the window thread, first in, first out. The window thread
// runs them when it is woken (the wake function posts it a message) and whenever it falls idle.
class SyncCallQueue {
 public:
  explicit SyncCallQueue(std::function<void()> wakeWindowThread);
  SyncCallQueue(const SyncCallQueue&) = delete;
  SyncCallQueue& operator=(const SyncCallQueue&) = delete;

  // The calling thread becomes the window thread.
  void BindToCurrentThread();
  bool OnWindowThread() const;

  // Runs `routine` on the window thread and waits, without a time limit, until it has run there; at
  // once when called on the window thread. An exception it raises is raised again here.
  void Call(const std::function<void()>& routine);

  // Window thread only: runs every routine queued so far.
  void RunPending();

 private:
  struct Request {
    const std::function<void()>* routine;
    std::exception_ptr error;
    bool done = false;
  };

  std::function<void()> wake_;
  std::atomic<std::thread::id> windowThread_;
  std::mutex mutex_;
  std::condition_variable finished_;
  std::deque<Request*> queue_;
};

// A value worked out on a background thread from the moment it is made, for a later step of the start
// that needs it (the window waits for it instead of working it out itself). When no thread can be
// made, Take works it out on the calling thread. Take is called once, from one thread.
template <typename T>
class WorkAhead {
 public:
  explicit WorkAhead(std::function<T()> work) : work_(std::move(work)) {
    auto promise = std::make_shared<std::promise<T>>();
    std::future<T> answer = promise->get_future();
    try {
      thread_ = std::make_unique<BackgroundThread>([promise, work = work_] { promise->set_value(work()); });
    } catch (const std::system_error&) {
      return;
    }
    answer_ = std::move(answer);
  }
  WorkAhead(const WorkAhead&) = delete;
  WorkAhead& operator=(const WorkAhead&) = delete;

  T Take() { return answer_.valid() ? answer_.get() : work_(); }
  // Whether a thread is working it out (false once taken, or when no thread could be made).
  bool OnItsThread() const noexcept { return answer_.valid(); }

 private:
  std::function<T()> work_;
  std::future<T> answer_;
  std::unique_ptr<BackgroundThread> thread_;  // letting go of it neither joins nor stops the thread
};

}  // namespace isetup
