// Making the update key pair: the private key for the endpoint, the public key for the program's build.
#pragma once

#include <optional>
#include <string>

namespace isetup::tools {

// Writes a new ECDSA P-256 key pair: `privatePath` as unencrypted PEM PKCS#8 ("BEGIN PRIVATE KEY",
// readable by its owner only), `publicPath` as PEM SubjectPublicKeyInfo ("BEGIN PUBLIC KEY"). Refuses
// to replace an existing file. Why it failed, std::nullopt on success; nothing is left behind on failure.
[[nodiscard]] std::optional<std::string> WriteKeyPair(const std::string& privatePath, const std::string& publicPath);

}  // namespace isetup::tools
