// Fetching one URL into one file on the calling thread, with progress and cancellation.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace isetup {

class WorkerGate;

// Where a transfer reports its percentage and what aborts it.
struct TransferControl {
  std::atomic<std::int32_t>* percent = nullptr;         // 0 at start, the received share, 100 at stop
  const std::atomic<bool>* cancelRequested = nullptr;   // set: the next progress report aborts
  const WorkerGate* gate = nullptr;                     // revoked: likewise
};

// True only when the transfer completed with S_OK into a plain file at `path`; false for every other
// result or error. Before the transfer, whatever stood at `path` (a link planted there included) is
// replaced by a fresh empty file, whose name nobody can take over until the data has arrived; when that
// cannot be done the transfer is not started and the result is false. Whatever a failed transfer left
// at `path` stays there.
bool DownloadUrlToFile(const std::wstring& url, const std::wstring& path, const TransferControl& control);

}  // namespace isetup
