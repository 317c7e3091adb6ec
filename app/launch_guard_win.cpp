// Holding the installer between its write (or verification) and its launch, and clearing the way for
// the launch.
#include "app/launch_guard_win.h"

#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <memory>

#include "base/file_names.h"
#include "base/tree_removal_win.h"
#include "payload/blanked_sha256.h"
#include "payload/checksum.h"
#include "payload/embedded_installer.h"
#include "run/thread_layer.h"

namespace isetup {

void LaunchGuard::Keep(HeldFile file) {
  if (!file.valid()) return;
  HeldFile previous;  // let go of outside the lock
  std::lock_guard lock(mutex_);
  for (HeldFile& held : held_) {
    if (held.path() == file.path()) {
      std::swap(previous, held);
      held = std::move(file);
      return;
    }
  }
  held_.push_back(std::move(file));
}

void LaunchGuard::Forget(const std::wstring& path) { (void)Take(path); }

HeldFile LaunchGuard::Take(const std::wstring& path) {
  std::lock_guard lock(mutex_);
  const auto found =
      std::find_if(held_.begin(), held_.end(), [&](const HeldFile& held) { return held.path() == path; });
  if (found == held_.end()) return {};
  HeldFile file = std::move(*found);
  held_.erase(found);
  return file;
}

void LaunchGuard::ReleaseAll() {
  std::vector<HeldFile> previous;
  std::lock_guard lock(mutex_);
  previous.swap(held_);
}

bool LaunchGuard::LaunchHeld(HWND owner, const std::wstring& path) {
  HeldFile file = Take(path);
  if (!file.valid()) return false;
  // Windows would load the installer's DLLs from this folder in preference to its own.
  if (!ClearNameWithoutFollowingLinks(DllRedirectionFolder(path))) return false;
  ShellExecuteW(owner, L"open", path.c_str(), L"", L"", SW_SHOWNORMAL);
  file.Release();
  return true;
}

LaunchGuard& TheLaunchGuard() {
  static LaunchGuard* guard = new LaunchGuard;  // never destroyed: threads may still use it at exit
  return *guard;
}

namespace {

// The copy being written ahead; taken by the first thread that needs the embedded installer or drops it.
std::atomic<WorkAhead<FreshFile>*> g_writtenAhead{nullptr};

// The copy written ahead, waited for; invalid when there is none (any more).
FreshFile TakeWrittenAhead() {
  std::unique_ptr<WorkAhead<FreshFile>> ahead(g_writtenAhead.exchange(nullptr));
  return ahead ? ahead->Take() : FreshFile();
}

}  // namespace

void StartWritingEmbeddedInstallerAhead(const std::wstring& path, std::function<void()> beforeSealing) {
  // Only under a fresh name beside `path`: the last run's copy stays until a road moves a new file over
  // it. Removing it here as well would stall Wine's server (freeing 14 MB of cached file costs about as
  // much as writing it) while the connectivity check needs that server.
  auto ahead = std::make_unique<WorkAhead<FreshFile>>([path, beforeSealing = std::move(beforeSealing)] {
    return PrepareEmbeddedInstaller(path, beforeSealing);
  });
  if (!ahead->OnItsThread()) return;
  // Its thread holds what it needs, so the object may go as soon as its answer has been taken.
  delete g_writtenAhead.exchange(ahead.release());
}

void DropEmbeddedInstallerAhead() { (void)TakeWrittenAhead(); }

bool WriteEmbeddedInstallerForLaunch(const std::wstring& path) {
  HeldFile held;
  FreshFile ahead = TakeWrittenAhead();
  // Written and sealed already, only the move remains; when it fails, so would a new write's.
  if (ahead.valid())
    held = ahead.MoveOverAndHold(path);
  else
    (void)WriteEmbeddedInstaller(path, &held);
  const bool written = held.valid();
  if (held.valid())
    TheLaunchGuard().Keep(std::move(held));
  else
    TheLaunchGuard().Forget(path);
  return written;
}

bool HoldDownloadedInstallerForLaunch(const std::wstring& path, std::int32_t size, std::int32_t checksum,
                                      const std::optional<Sha256Digest>& digest) {
  // The content is checked again as held, so nothing can swap it after the worker's own checks.
  HeldFile held = HoldFile(path, [size, checksum, &digest](std::span<const std::uint8_t> content) {
    return content.size() == static_cast<std::size_t>(size) && ByteSumChecksum(content) == checksum &&
           (!digest || BlankedSha256(content) == digest);
  });
  if (!held.valid()) return false;
  TheLaunchGuard().Keep(std::move(held));
  return true;
}

}  // namespace isetup
