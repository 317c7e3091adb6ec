// Which bytes of a file carry its affiliate tags: the embedded installer of an InternetSetup.exe, or the
// whole file of a plain installer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace isetup {

inline constexpr std::uint16_t kEmbeddedInstallerId = 2;  // RT_RCDATA 2

struct TagTarget {
  // The file is a PE image with RT_RCDATA 2: the tags lie in that resource, and the markers in the
  // rest of the file (the program's own strings) are never touched.
  bool embedded = false;
  std::uint16_t language = 0;  // of the embedded installer
  std::size_t offset = 0;      // where the bytes to search begin in the file
  std::size_t size = 0;
  // Why the file cannot be searched safely (a malformed PE image, an ambiguous resource); when set,
  // nothing else here is valid.
  std::string problem;
};

// Locates the bytes that carry the tags of `file`. A PE image without RT_RCDATA 2, or bytes that are
// no executable at all, are a plain installer: the whole file.
TagTarget LocateTagTarget(std::span<const std::uint8_t> file);

}  // namespace isetup
