// SHA-256 through OpenSSL's EVP interface, for the native build (the endpoint and the tools).
#include "payload/sha256.h"

#include <openssl/evp.h>

#include "base/openssl_objects_posix.h"

namespace isetup {

struct Sha256Hasher::State {
  EvpDigestContext context{EVP_MD_CTX_new()};
};

Sha256Hasher::Sha256Hasher() : state_(std::make_unique<State>()) {
  if (!state_->context || EVP_DigestInit_ex(state_->context.get(), EVP_sha256(), nullptr) != 1) state_.reset();
}

Sha256Hasher::~Sha256Hasher() = default;

void Sha256Hasher::Update(std::span<const std::uint8_t> bytes) {
  if (state_ && !bytes.empty() && EVP_DigestUpdate(state_->context.get(), bytes.data(), bytes.size()) != 1) state_.reset();
}

std::optional<Sha256Digest> Sha256Hasher::Finish() {
  if (!state_) return std::nullopt;
  Sha256Digest digest;
  unsigned int length = 0;
  const bool done = EVP_DigestFinal_ex(state_->context.get(), digest.data(), &length) == 1 && length == digest.size();
  state_.reset();
  if (!done) return std::nullopt;
  return digest;
}

}  // namespace isetup
