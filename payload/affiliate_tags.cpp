// The affiliate query from the tags found in an installer image.
#include "payload/affiliate_tags.h"

#include "base/ansi_text.h"
#include "payload/tag_fields.h"

namespace isetup {

std::wstring ExtractAffiliateQuery(std::span<const std::uint8_t> bytes) {
  const AffiliateTags tags = FindAffiliateTags(bytes);
  std::wstring query;
  if (tags.affid) {
    query += L"affid=";
    query += DecodeAnsi(tags.affid->value);
  }
  if (tags.affsid) {
    query += L"&affsid=";
    query += DecodeAnsi(tags.affsid->value);
  }
  return query;
}

}  // namespace isetup
