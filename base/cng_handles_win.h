// Owners for the CNG objects: algorithm providers, keys and hash objects.
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include "base/unique_owner.h"

namespace isetup {

template <typename Handle, auto Release>
struct CngHandleTraits {
  using Value = Handle;
  static Handle Invalid() noexcept { return nullptr; }
  static bool IsValid(Handle handle) noexcept { return handle != nullptr; }
  static void Close(Handle handle) noexcept { Release(handle); }
};

inline void CloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm) noexcept { BCryptCloseAlgorithmProvider(algorithm, 0); }

// BCryptOpenAlgorithmProvider / BCryptCloseAlgorithmProvider.
using CngAlgorithm = UniqueOwner<CngHandleTraits<BCRYPT_ALG_HANDLE, CloseAlgorithmProvider>>;
// BCryptImportKeyPair / BCryptDestroyKey.
using CngKey = UniqueOwner<CngHandleTraits<BCRYPT_KEY_HANDLE, BCryptDestroyKey>>;
// BCryptCreateHash / BCryptDestroyHash.
using CngHash = UniqueOwner<CngHandleTraits<BCRYPT_HASH_HANDLE, BCryptDestroyHash>>;

// The provider of `algorithm`; an empty owner when CNG has none.
[[nodiscard]] inline CngAlgorithm OpenCngAlgorithm(LPCWSTR algorithm) noexcept {
  BCRYPT_ALG_HANDLE handle = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle, algorithm, nullptr, 0))) return CngAlgorithm();
  return CngAlgorithm(handle);
}

}  // namespace isetup
