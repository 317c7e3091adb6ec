// The reply's signature checked through CNG: SHA-256 of the message, the key imported as a raw
// P-256 point, BCryptVerifySignature on the digest.
#include "update/signature_verifier.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>

#include "payload/sha256.h"

namespace isetup {
namespace {

class AlgorithmProvider {
 public:
  explicit AlgorithmProvider(LPCWSTR algorithm) {
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle_, algorithm, nullptr, 0))) handle_ = nullptr;
  }
  ~AlgorithmProvider() {
    if (handle_) BCryptCloseAlgorithmProvider(handle_, 0);
  }
  AlgorithmProvider(const AlgorithmProvider&) = delete;
  AlgorithmProvider& operator=(const AlgorithmProvider&) = delete;
  BCRYPT_ALG_HANDLE get() const { return handle_; }

 private:
  BCRYPT_ALG_HANDLE handle_ = nullptr;
};

class ImportedKey {
 public:
  ImportedKey(BCRYPT_ALG_HANDLE algorithm, const UpdateKey& point) {
    // BCRYPT_ECCKEY_BLOB followed by X and Y.
    unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64];
    const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
    std::memcpy(blob, &header, sizeof header);
    std::memcpy(blob + sizeof header, point.data(), point.size());
    if (!BCRYPT_SUCCESS(BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &handle_, blob, sizeof blob, 0))) {
      handle_ = nullptr;
    }
  }
  ~ImportedKey() {
    if (handle_) BCryptDestroyKey(handle_);
  }
  ImportedKey(const ImportedKey&) = delete;
  ImportedKey& operator=(const ImportedKey&) = delete;
  BCRYPT_KEY_HANDLE get() const { return handle_; }

 private:
  BCRYPT_KEY_HANDLE handle_ = nullptr;
};

}  // namespace

bool VerifyReplySignature(const UpdateKey& key, std::string_view message, const ReplySignature& signature) noexcept {
  try {
    Sha256Hasher hasher;
    hasher.Update(std::span(reinterpret_cast<const std::uint8_t*>(message.data()), message.size()));
    auto digest = hasher.Finish();
    if (!digest) return false;
    const AlgorithmProvider ecdsa(BCRYPT_ECDSA_P256_ALGORITHM);
    if (!ecdsa.get()) return false;
    const ImportedKey imported(ecdsa.get(), key);
    if (!imported.get()) return false;
    ReplySignature copy = signature;  // CNG takes non-const pointers
    return BCryptVerifySignature(imported.get(), nullptr, digest->data(), digest->size(), copy.data(), copy.size(),
                                 0) == 0;  // STATUS_SUCCESS; STATUS_INVALID_SIGNATURE otherwise
  } catch (...) {
    return false;  // only an allocation can throw here
  }
}

}  // namespace isetup
