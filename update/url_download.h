// Fetching one URL into one file on the calling thread, with progress and cancellation.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "base/held_file_win.h"

namespace isetup {

class WorkerGate;

// Where a transfer reports its percentage and what aborts it.
struct TransferControl {
  std::atomic<std::int32_t>* percent = nullptr;         // 0 at start, the received share, 100 at stop
  const std::atomic<bool>* cancelRequested = nullptr;   // set: the next progress report aborts
  const WorkerGate* gate = nullptr;                     // revoked: likewise
};

// Fetches `url` into a fresh, unpredictable name beside `path` (never one that exists, never a fixed
// one; nothing at `path` changes) and takes the result over by handle. Valid only when the transfer
// completed with S_OK into a plain file of at most `largest` bytes; otherwise whatever the transfer
// left there is removed. The caller moves it over `path` (FreshFile::MoveOver), so the platform's way
// of writing its target (order, sharing) never meets a name that anyone else knows in advance.
FreshFile DownloadUrlBeside(const std::wstring& url, const std::wstring& path, std::uint64_t largest,
                            const TransferControl& control);

}  // namespace isetup
