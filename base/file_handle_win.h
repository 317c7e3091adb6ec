// Owners for the kernel handle pairs (CreateFileW, CreateProcessW, CreateEventW and the like with
// CloseHandle) and for a module loaded by LoadLibraryExW, released by FreeLibrary.
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

struct LoadedModuleTraits {
  using Value = HMODULE;
  static HMODULE Invalid() noexcept { return nullptr; }
  static bool IsValid(HMODULE module) noexcept { return module != nullptr; }
  static void Close(HMODULE module) noexcept { FreeLibrary(module); }
};

using LoadedModule = UniqueOwner<LoadedModuleTraits>;

}  // namespace isetup
