// Measuring a downloaded installer on disk: its size and its byte-sum checksum.
#include "payload/download_verification.h"

#include <windows.h>

#include <algorithm>
#include <limits>
#include <span>
#include <vector>

#include "base/file_handle_win.h"
#include "base/win32_error_win.h"
#include "payload/checksum.h"

namespace isetup {
namespace {

// Large enough that the calls into the system cost nothing next to the copying, small enough to stay in
// the processor's cache between the read and the sum.
constexpr std::size_t kChunkSize = 256 * 1024;

// No file means nothing there or a folder there; a file held open elsewhere still exists.
bool IsFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The opened file; Close() reports a failing close, the destructor only cleans up after a throw.
class OpenedFile {
 public:
  explicit OpenedFile(const std::wstring& path)
      : handle_(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {
    if (!handle_) ThrowLastError("cannot open the downloaded installer");
  }

  // The size as the 32-bit value it is compared with; a file of 2 GiB or more cannot be the installer and
  // would otherwise wrap around onto a plausible size.
  std::int32_t Size() const {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle_.get(), &size)) ThrowLastError("cannot take the size of the downloaded installer");
    if (size.QuadPart > std::numeric_limits<std::int32_t>::max()) {
      ThrowWin32Error(ERROR_FILE_TOO_LARGE, "the downloaded installer is larger than 2 GiB");
    }
    return static_cast<std::int32_t>(size.QuadPart);
  }

  // Reads `count` bytes from the start, handing each chunk to `consume`; fewer than that is an end-of-file
  // error. Only one chunk is held at a time.
  template <typename Consume>
  void ReadChunks(std::size_t count, Consume consume) const {
    std::vector<std::uint8_t> chunk(std::min(count, kChunkSize));
    std::size_t done = 0;
    while (done < count) {
      const DWORD want = static_cast<DWORD>(std::min(count - done, chunk.size()));
      DWORD read = 0;
      if (!ReadFile(handle_.get(), chunk.data(), want, &read, nullptr)) {
        ThrowLastError("cannot read the downloaded installer");
      }
      if (read == 0) ThrowWin32Error(ERROR_HANDLE_EOF, "the downloaded installer ended before its size");
      consume(std::span<const std::uint8_t>(chunk.data(), read));
      done += read;
    }
  }

  void Close() {
    if (!CloseHandle(handle_.release())) ThrowLastError("cannot close the downloaded installer");
  }

 private:
  FileHandle handle_;
};

}  // namespace

std::int32_t QueryFileSize(const std::wstring& path) {
  if (!IsFile(path)) return 0;
  OpenedFile file(path);
  const std::int32_t size = file.Size();
  file.Close();
  return size;
}

std::int32_t ComputeDownloadChecksum(const std::wstring& path) {
  if (!IsFile(path)) return 0;
  OpenedFile file(path);
  const std::int32_t size = file.Size();
  std::int32_t checksum = 0;
  if (size > 0) {
    ByteSumChecksumStream stream;
    file.ReadChunks(static_cast<std::size_t>(size), [&](std::span<const std::uint8_t> chunk) { stream.Add(chunk); });
    checksum = stream.Result();
  }
  file.Close();
  return checksum;
}

}  // namespace isetup
