// The status monitor's loop and the refresh it runs on the window thread.
#include "monitor/status_monitor.h"

#include "run/status_texts.h"
#include "payload/temp_paths.h"

namespace isetup {

void RefreshStatusView(SetupRun& run, StatusView& view) {
  view.SetGaugeValue(run.DownloadPercent.load());
  if (run.State.CancelRequested.load())
    view.SetLabelCaption(std::wstring(StatusCancelled));
  else
    view.SetLabelCaption(run.StatusText.Get());
}

void RunStatusMonitor(SetupRun& run, MonitorActions& actions) {
  int passes = 0;
  int cancelTicks = 0;
  for (;;) {
    actions.RefreshStatusView();
    if (++passes == kMonitorTimeoutPass) run.State.CancelRequested.store(true);
    if (run.State.CancelRequested.load()) ++cancelTicks;
    if (cancelTicks == kMonitorGraceTicks) {
      // Forced fall-back: the worker is stopped before SetupPath changes; the new name is published
      // only once its file is written and held, so a close let through by the worker's Finished never
      // finds a name without a file; Finished is set before the close is asked for.
      actions.StopWorker();
      std::wstring path = run.SetupPath.Get();
      InsertBeforeDot(path, L"2");
      run.SetupPath.Set(WriteOrUseSecondName(
          path, [&](const std::wstring& name) { return actions.WriteEmbeddedInstaller(name); }));
      run.State.Finished.store(true);
      actions.CloseSetupWindow();
    }
    actions.Sleep(kMonitorPauseMs);
  }
}

}  // namespace isetup
