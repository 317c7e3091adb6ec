// The monitor's counting: the refresh, the time-out at pass 600, the forced fall-back 49 passes after
// a cancel is first seen, and the order of the fall-back's steps.
#include "monitor/status_monitor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "run/status_texts.h"

namespace isetup {
namespace {

struct LoopEnded {};

class RecordingActions : public MonitorActions {
 public:
  RecordingActions(SetupRun& run, int passes) : run_(run), passesToRun_(passes) {}

  void RefreshStatusView() override {
    ++refreshes;
    if (onRefresh) onRefresh(refreshes);
  }
  void StopWorker() override {
    events.push_back("stop at pass " + std::to_string(refreshes));
    pathAtStop = run_.SetupPath.Get();
    Step("stop");
  }
  bool WriteEmbeddedInstaller(const std::wstring& path) override {
    events.push_back(std::string("write, finished=") + (run_.State.Finished ? "yes" : "no"));
    writtenPath = path;
    Step("write begins");
    if (path == unwritable) return false;
    complete.push_back(path);  // written and held for the launch
    Step("write ends");
    return true;
  }
  void CloseSetupWindow() override {
    events.push_back(std::string("close, finished=") + (run_.State.Finished ? "yes" : "no"));
    Step("close");
  }
  void Step(const char* step) {
    if (onStep) onStep(step);
  }
  void Sleep(int milliseconds) override {
    EXPECT_EQ(milliseconds, 100);
    if (refreshes == passesToRun_) throw LoopEnded{};
  }

  int refreshes = 0;
  std::function<void(int pass)> onRefresh;
  std::function<void(const std::string& step)> onStep;
  std::vector<std::wstring> complete;  // files whose write has completed
  std::vector<std::string> events;
  std::wstring pathAtStop, writtenPath;
  std::wstring unwritable;  // a name whose write fails

 private:
  SetupRun& run_;
  int passesToRun_;
};

void RunPasses(SetupRun& run, RecordingActions& actions) {
  EXPECT_THROW(RunStatusMonitor(run, actions), LoopEnded);
}

TEST(StatusMonitor, NoTimeOutWithin599Passes) {
  SetupRun run;
  RecordingActions actions(run, 599);
  RunPasses(run, actions);
  EXPECT_FALSE(run.State.CancelRequested);
  EXPECT_TRUE(actions.events.empty());
}

TEST(StatusMonitor, TimeOutAtPass600AndFallBackAtPass649) {
  SetupRun run;
  run.SetupPath.Set(L"C:\\users\\john.doe\\Temp\\TalvimorasterSetup.exe");
  RecordingActions actions(run, 700);
  bool cancelSeenAt599 = true;
  actions.onRefresh = [&](int pass) {
    if (pass == 600) cancelSeenAt599 = run.State.CancelRequested;
  };
  RunPasses(run, actions);
  EXPECT_FALSE(cancelSeenAt599);  // the time-out comes right after pass 600's refresh
  EXPECT_TRUE(run.State.CancelRequested);
  EXPECT_EQ(actions.events, (std::vector<std::string>{"stop at pass 649", "write, finished=no",
                                                      "close, finished=yes"}));
  // The worker is stopped before SetupPath changes; the copy goes under the second name.
  EXPECT_EQ(actions.pathAtStop, L"C:\\users\\john.doe\\Temp\\TalvimorasterSetup.exe");
  EXPECT_EQ(actions.writtenPath, L"C:\\users\\john.doe\\Temp\\TalvimorasterSetup2.exe");
  EXPECT_EQ(run.SetupPath.Get(), actions.writtenPath);
  EXPECT_TRUE(run.State.Finished);
}

TEST(StatusMonitor, FallBackMovesOnWhenTheSecondNameCannotBeWritten) {
  SetupRun run;
  run.SetupPath.Set(L"C:\\Temp\\TalvimorasterSetup.exe");
  run.State.CancelRequested = true;
  RecordingActions actions(run, 60);
  actions.unwritable = L"C:\\Temp\\TalvimorasterSetup2.exe";
  RunPasses(run, actions);
  EXPECT_EQ(actions.events, (std::vector<std::string>{"stop at pass 50", "write, finished=no", "write, finished=no",
                                                      "close, finished=yes"}));
  EXPECT_EQ(run.SetupPath.Get(), L"C:\\Temp\\TalvimorasterSetup22.exe");
}

TEST(StatusMonitor, FallBackComes49PassesAfterACancelIsFirstSeen) {
  for (int firstSeen : {1, 2, 37, 551, 600}) {
    SetupRun run;
    RecordingActions actions(run, 800);
    actions.onRefresh = [&](int pass) {
      if (pass == firstSeen) run.State.CancelRequested = true;
    };
    RunPasses(run, actions);
    // Exactly one fall-back, however long the loop goes on afterwards.
    ASSERT_EQ(actions.events.size(), 3u) << "cancel at pass " << firstSeen;
    EXPECT_EQ(actions.events[0], "stop at pass " + std::to_string(firstSeen + 49));
  }
}

TEST(StatusMonitor, FallBackRunsEvenWhenTheWorkerAlreadyFinished) {
  SetupRun run;
  run.State.Finished = true;
  run.State.Launched = true;
  run.State.CancelRequested = true;
  RecordingActions actions(run, 60);
  RunPasses(run, actions);
  EXPECT_EQ(actions.events.front(), "stop at pass 50");
  EXPECT_EQ(actions.events.size(), 3u);
}

// A close from outside (Alt+F4, a session end, Timer1) at any step of the forced fall-back, whether the
// worker had already finished the run or not: one launch, of a file whose write had completed.
TEST(StatusMonitor, ACloseAtAnyStepOfTheFallBackLaunchesOneCompleteFile) {
  const std::wstring first = L"C:\\Temp\\TalvimorasterSetup.exe";
  for (const bool workerFinished : {false, true}) {
    for (const char* at : {"stop", "write begins", "write ends", "close"}) {
      SCOPED_TRACE(testing::Message() << "close at " << at << (workerFinished ? ", worker finished" : ""));
      SetupRun run;
      run.SetupPath.Set(first);
      run.State.CancelRequested = true;
      RecordingActions actions(run, 55);
      if (workerFinished) {
        actions.complete.push_back(first);
        run.State.Finished = true;
      }
      // The close protocol: refused before Finished, the first accepted one launches SetupPath.
      std::vector<std::wstring> launches;
      const auto close = [&] {
        if (!run.State.Finished || run.State.Launched.exchange(true)) return;
        const std::wstring path = run.SetupPath.Get();
        const bool complete = std::find(actions.complete.begin(), actions.complete.end(), path) != actions.complete.end();
        launches.push_back(complete ? path : L"<no file>");
      };
      actions.onStep = [&](const std::string& step) {
        if (step == at) close();  // the one from outside
        if (step == "close") close();  // the monitor's own
      };
      RunPasses(run, actions);
      ASSERT_EQ(launches.size(), 1u);
      EXPECT_NE(launches[0], L"<no file>");
    }
  }
}

class FakeView : public StatusView {
 public:
  void SetGaugeValue(int value) override { gauge = value; }
  void SetLabelCaption(const std::wstring& caption) override { label = caption; }
  int gauge = -1;
  std::wstring label;
};

TEST(RefreshStatusView, GaugeFollowsThePercentAndLabelTheStatusUntilACancel) {
  SetupRun run;
  FakeView view;
  run.StatusText.Set(std::wstring(StatusSearching));
  run.DownloadPercent = 42;
  RefreshStatusView(run, view);
  EXPECT_EQ(view.gauge, 42);
  EXPECT_EQ(view.label, StatusSearching);

  run.State.CancelRequested = true;
  run.StatusText.Set(std::wstring(StatusCompleted));
  run.DownloadPercent = 100;
  RefreshStatusView(run, view);
  EXPECT_EQ(view.gauge, 100);
  EXPECT_EQ(view.label, StatusCancelled);
}

}  // namespace
}  // namespace isetup
