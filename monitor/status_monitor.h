// The status monitor: feeds the window every 100 ms, bounds the run in time, and ends a run whose
// worker does not.
#pragma once

#include <string>

#include "run/run_state.h"

namespace isetup {

inline constexpr int kMonitorPauseMs = 100;
inline constexpr int kMonitorTimeoutPass = 600;
inline constexpr int kMonitorGraceTicks = 50;

// The window's two status parts, as the refresh writes them (window thread only).
class StatusView {
 public:
  virtual ~StatusView() = default;
  virtual void SetGaugeValue(int value) = 0;
  virtual void SetLabelCaption(const std::wstring& caption) = 0;
};

// Gauge := DownloadPercent; label := the cancelled text once a cancel is requested, else StatusText.
void RefreshStatusView(SetupRun& run, StatusView& view);

// What the monitor does outside itself.
class MonitorActions {
 public:
  virtual ~MonitorActions() = default;
  virtual void RefreshStatusView() = 0;  // on the window thread, waited for
  virtual void StopWorker() = 0;         // at once; the worker does nothing visible afterwards
  virtual bool WriteEmbeddedInstaller(const std::wstring& path) = 0;  // false: nothing written there
  virtual void CloseSetupWindow() = 0;   // on the window thread, waited for
  virtual void Sleep(int milliseconds) = 0;
};

// The monitor's body: a loop without exit (it ends with the process, or when an action throws).
void RunStatusMonitor(SetupRun& run, MonitorActions& actions);

}  // namespace isetup
