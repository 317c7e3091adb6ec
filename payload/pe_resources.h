// Reading resources out of the bytes of a PE file (.exe, .dll) without loading it, on any platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace isetup {

inline constexpr std::uint16_t kResourceTypeRcdata = 10;   // RT_RCDATA
inline constexpr std::uint16_t kResourceTypeVersion = 16;  // RT_VERSION

// One language of a resource: where its data lies in the file.
struct PeResource {
  std::uint16_t language = 0;
  std::size_t offset = 0;  // 0-based file offset of the data's first byte
  std::size_t size = 0;
};

struct PeResourceLookup {
  // The bytes begin with "MZ": they claim to be an executable. Without it they are plain data, and
  // nothing else here is set.
  bool isExecutable = false;
  // A malformed header or resource directory on the way to the resource; when set, `found` is empty.
  std::string problem;
  // Every language of the resource, in directory order; empty when the image has no such resource.
  std::vector<PeResource> found;
};

// Looks up the resource of integer type `type` and integer id `id`, in every language: from the
// optional header's resource data directory (PE32 and PE32+), through the type, id and language
// levels of the directory, with each RVA mapped to the file through the section table. Every offset
// and size is checked against the bytes before it is read.
PeResourceLookup FindPeResource(std::span<const std::uint8_t> image, std::uint16_t type, std::uint16_t id);

// Whether a PE image carries a certificate table (an Authenticode signature), which any change to
// its bytes invalidates. False for bytes that are not a well-formed PE image.
bool HasCertificateTable(std::span<const std::uint8_t> image);

}  // namespace isetup
