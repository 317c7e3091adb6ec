// The thread layer's promises: start on creation, no joining, quiet end on an exception, the FIFO
// synchronous call with exceptions handed back, sleeping, and the thread's identity.
#include "run/thread_layer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace isetup {
namespace {

// Counts wake-ups so the test can wait for a request to be queued without sleeping.
class WakeCounter {
 public:
  void Wake() {
    std::lock_guard lock(mutex_);
    ++count_;
    changed_.notify_all();
  }
  void WaitFor(int count) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return count_ >= count; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int count_ = 0;
};

// A detached body may still be inside set_value when the waiting test goes on, so every promise a
// body sets is one the body owns: a promise on the test's stack would be destroyed under it.
template <typename T>
std::shared_ptr<std::promise<T>> BodyPromise() {
  return std::make_shared<std::promise<T>>();
}

TEST(BackgroundThread, BodyStartsOnCreationOnItsOwnThread) {
  auto ran = BodyPromise<std::thread::id>();
  std::future<std::thread::id> answer = ran->get_future();
  BackgroundThread thread([ran] { ran->set_value(std::this_thread::get_id()); });
  EXPECT_NE(answer.get(), std::this_thread::get_id());
}

TEST(BackgroundThread, DestroyingTheObjectNeitherJoinsNorStopsTheBody) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  auto finished = BodyPromise<void>();
  std::future<void> done = finished->get_future();
  {
    BackgroundThread thread([released, finished] {
      released.wait();
      finished->set_value();
    });
  }  // returns while the body is still blocked
  release.set_value();
  done.get();
}

// Bodies so short that they often end before their creator has finished making the thread: every one
// of them, and every body after them, still runs to its end (a recycled thread record once left a
// later thread spinning forever inside std::call_once).
TEST(BackgroundThread, ManyShortBodiesInARowAllRunToTheirEnd) {
  constexpr int kThreads = 1500;
  auto ended = std::make_shared<std::atomic<int>>(0);
  for (int i = 0; i < kThreads; ++i) {
    BackgroundThread thread([ended] {
      std::once_flag once;
      std::call_once(once, [&] { ++*ended; });
    });
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (*ended < kThreads && std::chrono::steady_clock::now() < deadline) SleepMilliseconds(1);
  EXPECT_EQ(*ended, kThreads);
}

TEST(BackgroundThread, EscapingExceptionEndsTheThreadQuietlyAndIsKept) {
  std::promise<void> thrown;
  BackgroundThread failing([&] {
    thrown.set_value();
    throw std::runtime_error("reply file vanished");
  });
  thrown.get_future().get();
  // Other threads go on: a second thread still runs after the first one failed.
  std::promise<int> other;
  BackgroundThread healthy([&] { other.set_value(7); });
  EXPECT_EQ(other.get_future().get(), 7);

  while (!failing.Ended()) std::this_thread::yield();
  ASSERT_TRUE(failing.Error());
  try {
    std::rethrow_exception(failing.Error());
    FAIL() << "no exception kept";
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(std::string(error.what()), "reply file vanished");
  }
  while (!healthy.Ended()) std::this_thread::yield();
  EXPECT_FALSE(healthy.Error());
}

TEST(SyncCallQueue, RunsAtOnceOnTheWindowThread) {
  WakeCounter wakes;
  SyncCallQueue queue([&] { wakes.Wake(); });
  int ran = 0;
  queue.Call([&] { ++ran; });
  EXPECT_EQ(ran, 1);
}

TEST(SyncCallQueue, OtherThreadsAreServedFirstInFirstOutOnTheWindowThread) {
  WakeCounter wakes;
  SyncCallQueue queue([&] { wakes.Wake(); });
  const std::thread::id windowThread = std::this_thread::get_id();
  std::vector<std::string> order;
  std::vector<bool> onWindowThread;
  auto caller = [&](std::string name) {
    return std::async(std::launch::async, [&, name] {
      queue.Call([&] {
        order.push_back(name);
        onWindowThread.push_back(std::this_thread::get_id() == windowThread);
      });
    });
  };
  auto first = caller("first");
  wakes.WaitFor(1);
  auto second = caller("second");
  wakes.WaitFor(2);
  // Both callers are blocked until the window thread runs their routines.
  EXPECT_EQ(first.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
  EXPECT_TRUE(order.empty());
  queue.RunPending();
  first.get();
  second.get();
  EXPECT_EQ(order, (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(onWindowThread, (std::vector<bool>{true, true}));
}

TEST(SyncCallQueue, ExceptionOnTheWindowThreadIsRaisedInTheCaller) {
  WakeCounter wakes;
  SyncCallQueue queue([&] { wakes.Wake(); });
  auto caller = std::async(std::launch::async, [&] {
    queue.Call([] { throw std::logic_error("close failed"); });
  });
  wakes.WaitFor(1);
  EXPECT_NO_THROW(queue.RunPending());  // the window thread itself goes on
  try {
    caller.get();
    FAIL() << "the caller returned normally";
  } catch (const std::logic_error& error) {
    EXPECT_EQ(std::string(error.what()), "close failed");
  }
}

TEST(SyncCallQueue, RebindingMovesTheWindowThread) {
  WakeCounter wakes;
  SyncCallQueue queue([&] { wakes.Wake(); });
  std::async(std::launch::async, [&] {
    queue.BindToCurrentThread();
    int ran = 0;
    queue.Call([&] { ++ran; });  // would block forever if it were still the test's thread
    EXPECT_EQ(ran, 1);
  }).get();
  EXPECT_FALSE(queue.OnWindowThread());
}

TEST(Sleep, WaitsAtLeastTheGivenTime) {
  const auto start = std::chrono::steady_clock::now();
  SleepMilliseconds(30);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

// The value is worked out once, on a thread of its own, and handed over whole (move-only values too).
TEST(WorkAhead, HandsOverTheValueWorkedOutOnAnotherThreadOnce) {
  std::atomic<int> runs{0};
  std::thread::id worker;
  WorkAhead<std::unique_ptr<std::vector<int>>> ahead([&] {
    ++runs;
    worker = std::this_thread::get_id();
    return std::make_unique<std::vector<int>>(std::vector<int>{1, 2, 3});
  });
  const auto value = ahead.Take();
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(*value, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(runs.load(), 1);
  EXPECT_NE(worker, std::this_thread::get_id());
}

}  // namespace
}  // namespace isetup
