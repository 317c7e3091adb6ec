// The SHA-256 of the blanked content, for the installer and for a downloaded file.
#include "payload/blanked_sha256.h"

#include <limits>
#include <optional>

#include "base/file_contents.h"
#include "payload/tag_fields.h"

namespace isetup {

std::optional<Sha256Digest> BlankedSha256(std::span<const std::uint8_t> content) {
  Sha256Hasher hasher;
  ForEachBlankedPiece(content, [&](std::span<const std::uint8_t> bytes) { hasher.Update(bytes); });
  return hasher.Finish();
}

std::optional<Sha256Digest> ComputeDownloadSha256(const std::filesystem::path& path) {
  // The program takes an installer's size as a signed 32-bit value; nothing larger is one of ours.
  const FileContents contents = ReadFileContents(path, std::numeric_limits<std::int32_t>::max());
  if (!contents.problem.empty()) return std::nullopt;
  return BlankedSha256(contents.bytes);
}

}  // namespace isetup
