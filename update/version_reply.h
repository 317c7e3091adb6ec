// The version reply file: four lines "ver=", "size=", "consum=", "url=", read and judged.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "update/version.h"
#include "update/version_reply_format.h"

namespace isetup {

struct VersionReply {
  std::wstring VersionText;
  PackedVersion Version = 0;
  std::int32_t Size = 0;
  std::int32_t Checksum = 0;  // a 32-bit pattern, compared bit for bit
  std::wstring Url;
  bool Usable = true;
  // Lines 5 and 6, looked at only by a program built with an update key.
  ReplyAuthentication Authentication;
};

// Judges the raw bytes of a reply file: lines end at LF or CR LF, a lone CR is dropped, missing lines
// read as empty, all four lines are always judged; each line is decoded with DecodeAnsi. The lines
// after the fourth never change the verdict; the two that authenticate a reply are kept aside.
VersionReply ParseVersionReply(std::string_view bytes);

// Reads the file at `path` and judges it; throws IoError when it cannot be opened, read or closed.
VersionReply ReadVersionReply(const std::wstring& path);

}  // namespace isetup
