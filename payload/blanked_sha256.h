// The SHA-256 of an installer with both affiliate tag fields blanked: one value for every stamped copy.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

#include "payload/sha256.h"

namespace isetup {

// SHA-256 of the blanked content (BlankedStream); std::nullopt when the system's hashing fails.
[[nodiscard]] std::optional<Sha256Digest> BlankedSha256(std::span<const std::uint8_t> content);

// BlankedSha256 of the file at `path`; std::nullopt when it cannot be read whole or hashing fails.
[[nodiscard]] std::optional<Sha256Digest> ComputeDownloadSha256(const std::filesystem::path& path);

}  // namespace isetup
