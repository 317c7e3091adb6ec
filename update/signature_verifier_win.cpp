// The reply's signature checked through CNG: SHA-256 of the message, the key imported as a raw
// P-256 point, BCryptVerifySignature on the digest.
#include "update/signature_verifier.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>

#include "base/cng_handles_win.h"
#include "payload/sha256.h"

namespace isetup {
namespace {

// The P-256 public key given as its raw point; an empty owner when CNG refuses it.
CngKey ImportKey(BCRYPT_ALG_HANDLE algorithm, const UpdateKey& point) noexcept {
  // BCRYPT_ECCKEY_BLOB followed by X and Y.
  unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64];
  const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
  std::memcpy(blob, &header, sizeof header);
  std::memcpy(blob + sizeof header, point.data(), point.size());
  BCRYPT_KEY_HANDLE handle = nullptr;
  if (!BCRYPT_SUCCESS(BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &handle, blob, sizeof blob, 0))) {
    return CngKey();
  }
  return CngKey(handle);
}

}  // namespace

bool VerifyReplySignature(const UpdateKey& key, std::string_view message, const ReplySignature& signature) noexcept {
  try {
    Sha256Hasher hasher;
    hasher.Update(std::span(reinterpret_cast<const std::uint8_t*>(message.data()), message.size()));
    auto digest = hasher.Finish();
    if (!digest) return false;
    const CngAlgorithm ecdsa = OpenCngAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
    if (!ecdsa) return false;
    const CngKey imported = ImportKey(ecdsa.get(), key);
    if (!imported) return false;
    ReplySignature copy = signature;  // CNG takes non-const pointers
    return BCryptVerifySignature(imported.get(), nullptr, digest->data(), digest->size(), copy.data(), copy.size(),
                                 0) == 0;  // STATUS_SUCCESS; STATUS_INVALID_SIGNATURE otherwise
  } catch (...) {
    return false;  // only an allocation can throw here
  }
}

}  // namespace isetup
