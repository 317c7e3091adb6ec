// The SHA-256 of an installer with both affiliate tag fields blanked: one value for every stamped copy.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>

#include "payload/sha256.h"

namespace isetup {

// Hands `piece` the content with the same two fields blanked as ByteSumChecksum blanks (9 bytes of
// "0" from 6 bytes after the first "affid=", then from 6 bytes after the first "affsid=" of the content
// as changed by the first; a field that reaches past the end stops there), as consecutive pieces in
// order: runs of the original bytes and runs of blanks. The content itself is never copied or changed.
void ForEachBlankedPiece(std::span<const std::uint8_t> content,
                         const std::function<void(std::span<const std::uint8_t>)>& piece);

// SHA-256 of the blanked content; std::nullopt when the system's hashing fails.
[[nodiscard]] std::optional<Sha256Digest> BlankedSha256(std::span<const std::uint8_t> content);

// BlankedSha256 of the file at `path`; std::nullopt when it cannot be read whole or hashing fails.
[[nodiscard]] std::optional<Sha256Digest> ComputeDownloadSha256(const std::filesystem::path& path);

}  // namespace isetup
