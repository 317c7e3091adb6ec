// The query fragment that the setup makes from the affiliate tags of its embedded installer.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace isetup {

// "affid=A&affsid=S", "affid=A", "&affsid=S" or empty, the values (FindAffiliateTags) decoded in the
// ANSI code page.
std::wstring ExtractAffiliateQuery(std::span<const std::uint8_t> bytes);

}  // namespace isetup
