// SHA-256 through CNG: one algorithm provider and one hash object per hasher.
#include "payload/sha256.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <climits>

#include "base/cng_handles_win.h"

namespace isetup {

// Members end in reverse order: the hash object before its provider.
struct Sha256Hasher::State {
  CngAlgorithm algorithm = OpenCngAlgorithm(BCRYPT_SHA256_ALGORITHM);
  CngHash hash;
};

Sha256Hasher::Sha256Hasher() : state_(std::make_unique<State>()) {
  // The hash object's memory is left to CNG (allowed since Windows 7).
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (!state_->algorithm ||
      !BCRYPT_SUCCESS(BCryptCreateHash(state_->algorithm.get(), &hash, nullptr, 0, nullptr, 0, 0))) {
    state_.reset();
    return;
  }
  state_->hash.reset(hash);
}

Sha256Hasher::~Sha256Hasher() = default;

void Sha256Hasher::Update(std::span<const std::uint8_t> bytes) {
  while (state_ && !bytes.empty()) {
    const std::size_t count = std::min<std::size_t>(bytes.size(), ULONG_MAX);
    // BCryptHashData takes a non-const pointer but does not write through it.
    if (!BCRYPT_SUCCESS(BCryptHashData(state_->hash.get(), const_cast<PUCHAR>(bytes.data()), static_cast<ULONG>(count), 0))) {
      state_.reset();
    }
    bytes = bytes.subspan(count);
  }
}

std::optional<Sha256Digest> Sha256Hasher::Finish() {
  if (!state_) return std::nullopt;
  Sha256Digest digest;
  const bool done = BCRYPT_SUCCESS(BCryptFinishHash(state_->hash.get(), digest.data(), digest.size(), 0));
  state_.reset();
  if (!done) return std::nullopt;
  return digest;
}

}  // namespace isetup
