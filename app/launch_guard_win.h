// The installer that the close may launch: the file last completed at its path, held from that moment
// until the shell has started it, so that no other process can change or replace it in between.
#pragma once

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "base/held_file_win.h"
#include "payload/sha256.h"

namespace isetup {

// Any thread may hand over a file; the launch runs on the window thread.
class LaunchGuard {
 public:
  // Keeps `file` held for the launch, letting go of any file kept before (a later write supersedes it).
  void Keep(HeldFile file);

  // Launches `path` with the shell's "open" verb when it is the held file, then lets go of it. Before
  // that, a `path` + ".Local" folder (which would feed the installer DLLs of anyone's choosing) is
  // removed. Nothing is launched when `path` is not held (its write failed) or the folder cannot be
  // removed. Returns whether the shell was asked to start it.
  bool LaunchHeld(HWND owner, const std::wstring& path);

 private:
  std::mutex mutex_;
  HeldFile held_;
};

// The program's one guard.
LaunchGuard& TheLaunchGuard();

// WriteEmbeddedInstaller, keeping the written file held for the launch; false when it was not written.
bool WriteEmbeddedInstallerForLaunch(const std::wstring& path);

// Holds the verified download at `path` for the launch. False when the file there is no longer a
// plain file of `size` bytes with `checksum` (changed or replaced since it was verified).
bool HoldDownloadedInstallerForLaunch(const std::wstring& path, std::int32_t size, std::int32_t checksum,
                                      const std::optional<Sha256Digest>& digest = std::nullopt);

}  // namespace isetup
