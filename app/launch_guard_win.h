// The installer that the close may launch: the file last completed at its path, held from that moment
// until the shell has started it, so that no other process can change or replace it in between.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/held_file_win.h"
#include "payload/sha256.h"

namespace isetup {

// Any thread may hand over a file; the launch runs on the window thread.
class LaunchGuard {
 public:
  // Keeps `file` held for the launch, letting go of a file kept before at the same path (a later write
  // supersedes it). Files at other paths stay held: a close may still launch any name that SetupPath
  // held while it was complete (the forced fall-back's second name does not void the first).
  void Keep(HeldFile file);
  // Lets go of the file kept at `path`, if any (a write there failed: what stands there is stale).
  void Forget(const std::wstring& path);
  // Lets go of every file kept.
  void ReleaseAll();

  // Launches `path` with the shell's "open" verb when it is the held file, then lets go of it. Before
  // that, a `path` + ".Local" folder (which would feed the installer DLLs of anyone's choosing) is
  // removed. Nothing is launched when `path` is not held (its write failed) or the folder cannot be
  // removed. Returns whether the shell was asked to start it.
  bool LaunchHeld(HWND owner, const std::wstring& path);

 private:
  HeldFile Take(const std::wstring& path);  // the file kept at `path`, no longer kept

  std::mutex mutex_;
  std::vector<HeldFile> held_;
};

// The program's one guard.
LaunchGuard& TheLaunchGuard();

// Starts writing the embedded installer beside `path` on a thread of its own, while the run finds out
// which road it takes (nothing is written ahead when no thread can be had); the thread seals the copy
// once `beforeSealing`, if given, has returned. Once.
void StartWritingEmbeddedInstallerAhead(const std::wstring& path, std::function<void()> beforeSealing = {});

// WriteEmbeddedInstaller, keeping the written file held for the launch; false when it was not written.
// The first call takes the copy written ahead, if any, and only moves it over `path`.
bool WriteEmbeddedInstallerForLaunch(const std::wstring& path);

// Removes the copy written ahead when no road took it (a downloaded installer was launched instead).
void DropEmbeddedInstallerAhead();

// Holds the verified download at `path` for the launch. False when the file there is no longer a
// plain file of `size` bytes with `checksum` (changed or replaced since it was verified).
bool HoldDownloadedInstallerForLaunch(const std::wstring& path, std::int32_t size, std::int32_t checksum,
                                      const std::optional<Sha256Digest>& digest = std::nullopt);

}  // namespace isetup
