// Conversion of 8-bit text in the system's ANSI code page to UTF-16 (Latin-1 on platforms without one).
#pragma once

#include <string>
#include <string_view>

namespace isetup {

// Decodes bytes in the system's ANSI code page; never fails (undecodable bytes become U+FFFD or the like).
std::wstring DecodeAnsi(std::string_view bytes);

}  // namespace isetup
