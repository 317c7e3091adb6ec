// Owner for the kernel handle pairs: CreateFileW, CreateProcessW, CreateEventW and the like with CloseHandle.
#pragma once

#include <windows.h>

#include "base/unique_owner.h"

namespace isetup {

// CloseHandle; both NULL and INVALID_HANDLE_VALUE mean "no handle", since the APIs return either.
struct KernelHandleTraits {
  using Value = HANDLE;
  static HANDLE Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static bool IsValid(HANDLE handle) noexcept { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE handle) noexcept { CloseHandle(handle); }
};

using FileHandle = UniqueOwner<KernelHandleTraits>;

}  // namespace isetup
