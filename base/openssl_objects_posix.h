// Owners for the OpenSSL objects the endpoint and the tools make: keys, digest contexts, signatures, BIOs.
#pragma once

#include <openssl/bio.h>
#include <openssl/ec.h>
#include <openssl/evp.h>

#include "base/unique_owner.h"

namespace isetup {

// The object from OpenSSL's constructor and its matching *_free.
template <typename Object, auto Free>
struct OpenSslTraits {
  using Value = Object*;
  static Object* Invalid() noexcept { return nullptr; }
  static bool IsValid(Object* object) noexcept { return object != nullptr; }
  static void Close(Object* object) noexcept { Free(object); }
};

using EvpKey = UniqueOwner<OpenSslTraits<EVP_PKEY, EVP_PKEY_free>>;
using EvpDigestContext = UniqueOwner<OpenSslTraits<EVP_MD_CTX, EVP_MD_CTX_free>>;
using EcdsaSignature = UniqueOwner<OpenSslTraits<ECDSA_SIG, ECDSA_SIG_free>>;
using MemoryBio = UniqueOwner<OpenSslTraits<BIO, BIO_free>>;

}  // namespace isetup
