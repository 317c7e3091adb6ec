// The public key that a program checks its version replies with, fixed when it is built.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace isetup {

// An ECDSA P-256 public key as the raw point X || Y (32 bytes each, big-endian).
using UpdateKey = std::array<std::uint8_t, 64>;

// The key this program was built with (INTERNETSETUP_UPDATE_KEY), std::nullopt without one. Defined in
// a source file that the build generates for each program from its key file.
std::optional<UpdateKey> BuiltInUpdateKey();

}  // namespace isetup
