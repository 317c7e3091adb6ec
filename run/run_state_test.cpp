// The run's shared values under real threads (the tsan preset runs this under ThreadSanitizer): a text is
// always read whole, and a stopped worker gate waits for the action under way and refuses every later one.
#include "run/run_state.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <thread>
#include <vector>

namespace isetup {
namespace {

TEST(SharedText, ReadersSeeOnlyWholeTextsWhileAWriterReplacesThem) {
  // Long enough to live on the heap, so that a torn read would show as a mixed or freed text.
  const std::vector<std::wstring> texts{std::wstring(300, L'a'), std::wstring(500, L'b'), std::wstring(40, L'c')};
  SharedText shared;
  shared.Set(texts[0]);
  std::atomic<bool> writing{true};
  std::thread writer([&] {
    for (int i = 0; i < 3000; ++i) shared.Set(texts[static_cast<std::size_t>(i) % texts.size()]);
    writing = false;
  });
  auto reader = [&] {
    int reads = 0;
    while (writing || reads < 100) {
      const std::wstring seen = shared.Get();
      if (std::find(texts.begin(), texts.end(), seen) == texts.end()) return false;
      ++reads;
    }
    return true;
  };
  auto first = std::async(std::launch::async, reader);
  auto second = std::async(std::launch::async, reader);
  writer.join();
  EXPECT_TRUE(first.get());
  EXPECT_TRUE(second.get());
  EXPECT_EQ(shared.Get(), texts[2999 % texts.size()]);
}

TEST(WorkerGate, RevokeWaitsForTheActionUnderWay) {
  WorkerGate gate;
  std::promise<void> entered;
  std::promise<void> release;
  bool actionFinished = false;  // written inside the action, read once Revoke returns: the gate orders them
  std::thread worker([&] {
    EXPECT_TRUE(gate.Act([&] {
      entered.set_value();
      release.get_future().wait();
      actionFinished = true;
    }));
  });
  entered.get_future().wait();
  auto revoker = std::async(std::launch::async, [&] {
    gate.Revoke();
    return actionFinished;
  });
  release.set_value();
  EXPECT_TRUE(revoker.get());
  worker.join();
  EXPECT_TRUE(gate.Revoked());
}

TEST(WorkerGate, NoActionRunsOnceRevokeHasReturned) {
  WorkerGate gate;
  std::atomic<bool> revokeReturned{false};
  std::atomic<int> lateActions{0};
  std::atomic<int> actions{0};
  std::promise<void> busy;
  std::vector<std::thread> workers;
  for (int w = 0; w < 3; ++w) {
    workers.emplace_back([&] {
      // Each worker acts until the gate refuses it.
      while (gate.Act([&] {
        if (revokeReturned) ++lateActions;
        if (++actions == 300) busy.set_value();
      })) {
      }
    });
  }
  busy.get_future().wait();  // the workers are in full swing
  gate.Revoke();
  revokeReturned = true;
  for (auto& worker : workers) worker.join();
  EXPECT_EQ(lateActions, 0);
  EXPECT_GE(actions, 300);
  EXPECT_FALSE(gate.Act([] { ADD_FAILURE() << "ran after Revoke"; }));
}

}  // namespace
}  // namespace isetup
