// The values one run shares between the window thread, the download worker and the status monitor.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace isetup {

// A text that is read and replaced only as a whole value: a reader gets the old or the new text.
class SharedText {
 public:
  SharedText() = default;
  SharedText(const SharedText&) = delete;
  SharedText& operator=(const SharedText&) = delete;

  std::wstring Get() const {
    std::lock_guard lock(mutex_);
    return value_;
  }
  void Set(std::wstring value) {
    std::lock_guard lock(mutex_);
    value_.swap(value);  // the old text is released outside the lock
  }

 private:
  mutable std::mutex mutex_;
  std::wstring value_;
};

// Three flags, each only ever set, never cleared.
struct SetupRunState {
  std::atomic<bool> CancelRequested{false};
  std::atomic<bool> Finished{false};
  std::atomic<bool> Launched{false};
};

// The process-wide values of a run. TempFolder, VersionInfoPath, AffiliateQuery and OwnVersionText are
// fixed before any thread that reads them starts and only read afterwards.
struct SetupRun {
  SetupRunState State;
  SharedText StatusText;
  std::atomic<std::int32_t> DownloadPercent{0};
  SharedText SetupPath;
  std::wstring TempFolder;
  std::wstring VersionInfoPath;
  std::wstring AffiliateQuery;
  std::wstring OwnVersionText;
};

// Stops the download worker without killing its thread: once revoked, every visible action of the
// worker (status text, file write, flag, close request) is refused, and an action under way when the
// stop comes finishes before Revoke returns. Nothing can be left locked, unlike a killed thread.
class WorkerGate {
 public:
  // Runs `action` unless the worker has been stopped; false when it was refused.
  template <typename Action>
  bool Act(Action&& action) {
    std::lock_guard lock(mutex_);
    if (revoked_.load()) return false;
    action();
    return true;
  }
  void Revoke() {
    revoked_.store(true);
    std::lock_guard lock(mutex_);  // waits for an action under way
  }
  bool Revoked() const { return revoked_.load(); }

 private:
  std::mutex mutex_;
  std::atomic<bool> revoked_{false};
};

}  // namespace isetup
