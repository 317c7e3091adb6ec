// Owner for the file acquire/release pair CreateFileW / CloseHandle.
#pragma once

#include <windows.h>

#include <utility>

namespace isetup {

// CreateFileW / CloseHandle; both NULL and INVALID_HANDLE_VALUE mean "no file".
class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(HANDLE handle) noexcept : handle_(handle) {}
  ~FileHandle() { reset(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  FileHandle(FileHandle&& other) noexcept : handle_(other.release()) {}
  FileHandle& operator=(FileHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  HANDLE get() const noexcept { return handle_; }
  bool valid() const noexcept { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  void reset(HANDLE handle = INVALID_HANDLE_VALUE) noexcept {
    if (valid() && handle_ != handle) CloseHandle(handle_);
    handle_ = handle;
  }
  [[nodiscard]] HANDLE release() noexcept { return std::exchange(handle_, INVALID_HANDLE_VALUE); }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace isetup
