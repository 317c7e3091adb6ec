// The file version in the fixed part (VS_FIXEDFILEINFO) of a version resource, read from file bytes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace isetup {

// The four 16-bit parts a.b.c.d of dwFileVersionMS and dwFileVersionLS.
using FileVersionParts = std::array<std::uint16_t, 4>;

struct FileVersionLookup {
  std::optional<FileVersionParts> version;
  std::string problem;  // why there is no version, when there is none
};

// Reads a VS_VERSIONINFO block: its length, the "VS_VERSION_INFO" key and the fixed part with its
// signature 0xFEEF04BD, all within the block.
FileVersionLookup ReadFixedFileVersion(std::span<const std::uint8_t> block);

// The same for a PE image: its version resource (RT_VERSION, id 1, the first language).
FileVersionLookup ReadImageFileVersion(std::span<const std::uint8_t> image);

// "a.b.c.d" in decimal.
std::string FileVersionText(const FileVersionParts& parts);

}  // namespace isetup
