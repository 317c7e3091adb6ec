// Holding the installer between its write (or verification) and its launch, and clearing the way for
// the launch.
#include "app/launch_guard_win.h"

#include <shellapi.h>

#include <algorithm>

#include "base/file_names.h"
#include "base/tree_removal_win.h"
#include "payload/blanked_sha256.h"
#include "payload/checksum.h"
#include "payload/embedded_installer.h"

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

bool WriteEmbeddedInstallerForLaunch(const std::wstring& path) {
  HeldFile held;
  const bool written = WriteEmbeddedInstaller(path, &held);
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
