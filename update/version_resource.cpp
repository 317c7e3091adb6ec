// Reading the fixed file version out of a version resource without the system's version API, so that
// the native tools read an installer's version the same way on every platform.
#include "update/version_resource.h"

#include <string_view>

#include "base/little_endian.h"
#include "payload/pe_resources.h"

namespace isetup {
namespace {

constexpr std::u16string_view kKey = u"VS_VERSION_INFO";
constexpr std::size_t kHeaderSize = 6;  // wLength, wValueLength, wType
constexpr std::size_t kFixedInfoSize = 52;
constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BDu;

FileVersionLookup Fail(std::string problem) { return FileVersionLookup{std::nullopt, std::move(problem)}; }

}  // namespace

FileVersionLookup ReadFixedFileVersion(std::span<const std::uint8_t> block) {
  // The key with its zero, padded to a 4-byte boundary, then the fixed part.
  const std::size_t keyEnd = kHeaderSize + 2 * (kKey.size() + 1);
  const std::size_t fixed = (keyEnd + 3) / 4 * 4;
  if (block.size() < fixed + kFixedInfoSize) return Fail("the version resource is too short for its fixed part");
  const std::size_t length = LoadU16(block, 0);
  if (length < fixed + kFixedInfoSize || length > block.size()) {
    return Fail("the version resource's length field " + std::to_string(length) + " does not fit its " +
                std::to_string(block.size()) + " bytes");
  }
  for (std::size_t i = 0; i <= kKey.size(); ++i) {
    const char16_t expected = i < kKey.size() ? kKey[i] : u'\0';
    if (LoadU16(block, kHeaderSize + 2 * i) != expected) {
      return Fail("the version resource lacks its VS_VERSION_INFO key");
    }
  }
  if (LoadU16(block, 2) < kFixedInfoSize) return Fail("the version resource has no fixed part (VS_FIXEDFILEINFO)");
  if (LoadU32(block, fixed) != kFixedInfoSignature) {
    return Fail("the version resource's fixed part lacks its signature");
  }
  const std::uint32_t ms = LoadU32(block, fixed + 8);
  const std::uint32_t ls = LoadU32(block, fixed + 12);
  return FileVersionLookup{FileVersionParts{static_cast<std::uint16_t>(ms >> 16), static_cast<std::uint16_t>(ms),
                                            static_cast<std::uint16_t>(ls >> 16), static_cast<std::uint16_t>(ls)},
                           {}};
}

FileVersionLookup ReadImageFileVersion(std::span<const std::uint8_t> image) {
  const PeResourceLookup lookup = FindPeResource(image, kResourceTypeVersion, 1);
  if (!lookup.isExecutable) return Fail("it is not a Windows executable, so it has no version resource");
  if (!lookup.problem.empty()) return Fail(lookup.problem);
  if (lookup.found.empty()) return Fail("it has no version resource");
  const PeResource& resource = lookup.found.front();
  return ReadFixedFileVersion(image.subspan(resource.offset, resource.size));
}

std::string FileVersionText(const FileVersionParts& parts) {
  return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." + std::to_string(parts[2]) + "." +
         std::to_string(parts[3]);
}

}  // namespace isetup
