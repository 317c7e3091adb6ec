// The query text sent with both requests of a run.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace isetup {

// One draw of the query's generator: seed := seed * 134775813 + 1 (mod 2^32); the number is the high
// 32 bits of seed * 99999999, so 0..99999998.
std::uint32_t DrawQueryRandom(std::uint32_t& seed);

// "?ISetupVer=" + hex of the packed own version + "&" + affiliateQuery + "&rnd=" + one draw from seed.
std::wstring BuildVersionQuery(std::wstring_view ownVersionText, std::wstring_view affiliateQuery,
                               std::uint32_t seed);

// The rnd value of a query that BuildVersionQuery made: the digits after its last "&rnd=", as sent.
std::string QueryRandomText(std::wstring_view query);

}  // namespace isetup
