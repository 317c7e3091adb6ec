// The endpoint's signing key: loads an ECDSA P-256 private key and signs version replies with it
// (FormatSignedVersionReply makes the lines around the signature).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "update/version_reply_format.h"

namespace isetup::endpoint {

class ReplySigner {
 public:
  struct Loaded;

  // Reads a PEM private key ("BEGIN PRIVATE KEY" or "BEGIN EC PRIVATE KEY", unencrypted) from `path`.
  static Loaded Load(const std::string& path);

  ~ReplySigner();
  ReplySigner(const ReplySigner&) = delete;
  ReplySigner& operator=(const ReplySigner&) = delete;

  // r || s of an ECDSA signature with SHA-256 over `message`; std::nullopt when OpenSSL fails.
  // Safe to call from several threads at once.
  [[nodiscard]] std::optional<ReplySignature> Sign(std::string_view message) const;

 private:
  struct Key;
  explicit ReplySigner(std::unique_ptr<Key> key);
  std::unique_ptr<Key> key_;
};

struct ReplySigner::Loaded {
  std::shared_ptr<const ReplySigner> signer;
  std::string error;  // when there is none: why
};

}  // namespace isetup::endpoint
