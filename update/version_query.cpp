// The query text that both requests of a run carry: own version, affiliate tags, one random number.
#include "update/version_query.h"

#include "update/version.h"

namespace isetup {

std::uint32_t DrawQueryRandom(std::uint32_t& seed) {
  seed = seed * 134775813u + 1u;
  return static_cast<std::uint32_t>((static_cast<std::uint64_t>(seed) * 99999999u) >> 32);
}

std::wstring BuildVersionQuery(std::wstring_view ownVersionText, std::wstring_view affiliateQuery,
                               std::uint32_t seed) {
  std::wstring query = L"?ISetupVer=";
  query += PackedVersionHex(ParsePackedVersion(ownVersionText));
  query += L'&';
  query += affiliateQuery;
  query += L"&rnd=";
  query += std::to_wstring(DrawQueryRandom(seed));
  return query;
}

std::string QueryRandomText(std::wstring_view query) {
  constexpr std::wstring_view kKey = L"&rnd=";
  const std::size_t at = query.rfind(kKey);
  if (at == std::wstring_view::npos) return {};
  const std::wstring_view digits = query.substr(at + kKey.size());
  return std::string(digits.begin(), digits.end());  // ASCII digits only
}

}  // namespace isetup
