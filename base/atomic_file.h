// Replacing a file in one step: readers see the old contents or the new ones, never a part of either.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace isetup {

// The temporary file beside `target` for attempt `unique`: ".NAME.XXXXXXXX.tmp" in the same folder, so
// that the final rename stays within one file system.
std::filesystem::path TemporarySibling(const std::filesystem::path& target, std::uint32_t unique);

// Writes `bytes` to a new temporary file in the folder of `target`, flushes it to the disk, and renames
// it over `target` (rename(2) on POSIX; MoveFileExW with MOVEFILE_REPLACE_EXISTING and
// MOVEFILE_WRITE_THROUGH on Windows). On POSIX the new file keeps the permissions of `target` when it
// exists, else takes those of `permissionsFrom` when that exists; a symbolic link at `target` stays and
// the file it names is replaced. On Windows a target marked read-only is refused, as MoveFileExW does. On failure the temporary file is removed, `target` is as it was, and
// the message names the path and the system's reason; std::nullopt on success.
[[nodiscard]] std::optional<std::string> ReplaceFileAtomically(const std::filesystem::path& target,
                                                               std::span<const std::uint8_t> bytes,
                                                               const std::filesystem::path& permissionsFrom = {});

}  // namespace isetup
