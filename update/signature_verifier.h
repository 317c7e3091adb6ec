// Checking the signature of a version reply against the program's update key.
#pragma once

#include <string_view>

#include "update/update_key.h"
#include "update/version_reply_format.h"

namespace isetup {

// Whether `signature` is a valid ECDSA P-256 signature by `key` over the SHA-256 of `message`. Any
// failure (a key that is not a point of the curve, a system error) reads as false.
[[nodiscard]] bool VerifyReplySignature(const UpdateKey& key, std::string_view message,
                                        const ReplySignature& signature) noexcept;

}  // namespace isetup
