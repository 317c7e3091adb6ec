// Signing with OpenSSL: the key is one EVP_PKEY shared read-only by every connection thread, each
// signature made in a context of its own, converted from DER to the r || s that the setup reads.
#include "endpoint/reply_signer.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <vector>

#include "base/openssl_objects_posix.h"

namespace isetup::endpoint {

struct ReplySigner::Key {
  EvpKey pkey;
};

namespace {

std::string OpenSslError() {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return "unknown OpenSSL error";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

}  // namespace

ReplySigner::ReplySigner(std::unique_ptr<Key> key) : key_(std::move(key)) {}
ReplySigner::~ReplySigner() = default;

ReplySigner::Loaded ReplySigner::Load(const std::string& path) {
  Loaded result;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    result.error = "cannot open the signing key " + path;
    return result;
  }
  auto key = std::make_unique<Key>();
  // No pass phrase callback: an encrypted key is refused instead of prompting on a terminal.
  key->pkey.reset(PEM_read_PrivateKey(file, nullptr, [](char*, int, int, void*) { return 0; }, nullptr));
  std::fclose(file);
  if (!key->pkey) {
    result.error = "the signing key " + path + " is not an unencrypted PEM private key: " + OpenSslError();
    return result;
  }
  char group[64] = {};
  std::size_t length = 0;
  if (!EVP_PKEY_is_a(key->pkey.get(), "EC") ||
      EVP_PKEY_get_utf8_string_param(key->pkey.get(), OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, &length) != 1 ||
      std::string(group) != "prime256v1") {
    result.error = "the signing key " + path + " is not an ECDSA P-256 (prime256v1) key";
    return result;
  }
  result.signer = std::shared_ptr<const ReplySigner>(new ReplySigner(std::move(key)));
  return result;
}

std::optional<ReplySignature> ReplySigner::Sign(std::string_view message) const {
  const EvpDigestContext context(EVP_MD_CTX_new());
  if (!context) return std::nullopt;
  std::vector<unsigned char> der;
  std::size_t length = 0;
  const auto* bytes = reinterpret_cast<const unsigned char*>(message.data());
  bool done = EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key_->pkey.get()) == 1 &&
              EVP_DigestSign(context.get(), nullptr, &length, bytes, message.size()) == 1;
  if (done) {
    der.resize(length);
    done = EVP_DigestSign(context.get(), der.data(), &length, bytes, message.size()) == 1;
    der.resize(length);
  }
  if (!done) {
    ERR_clear_error();
    return std::nullopt;
  }

  const unsigned char* cursor = der.data();
  const EcdsaSignature signature(d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(der.size())));
  if (!signature) {
    ERR_clear_error();
    return std::nullopt;
  }
  ReplySignature raw{};
  const bool converted = BN_bn2binpad(ECDSA_SIG_get0_r(signature.get()), raw.data(), 32) == 32 &&
                         BN_bn2binpad(ECDSA_SIG_get0_s(signature.get()), raw.data() + 32, 32) == 32;
  if (!converted) return std::nullopt;
  return raw;
}

}  // namespace isetup::endpoint
