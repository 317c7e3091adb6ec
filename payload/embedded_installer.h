// The installer carried in the program as raw-data resource 2, and writing it out.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace isetup {

// The resource's bytes in the program's own image (read-only, valid for the program's life);
// empty when the resource is missing. Looked up afresh on every call.
std::span<const std::uint8_t> EmbeddedInstallerBytes();

// The affiliate query fragment of the embedded installer (see affiliate_tags.h).
std::wstring ExtractEmbeddedAffiliateQuery();

// Writes the whole resource to `path`, replacing any file there; a write that the system completes
// only in part is continued. Reports nothing: failures leave the path as the system left it.
void WriteEmbeddedInstaller(const std::wstring& path);

}  // namespace isetup
