// Measuring a downloaded installer: its size and its byte-sum checksum.
#pragma once

#include <cstdint>
#include <string>

namespace isetup {

// Size in bytes as a signed 32-bit value; 0 when nothing (or a folder) is at the path.
// Throws IoError when an existing file cannot be opened, measured or closed.
std::int32_t QueryFileSize(const std::wstring& path);

// ByteSumChecksum of the file's content; 0 when nothing (or a folder) is at the path or it is empty.
// Throws IoError when an existing file cannot be opened, measured, read in full or closed.
// The file on disk is never changed.
std::int32_t ComputeDownloadChecksum(const std::wstring& path);

}  // namespace isetup
