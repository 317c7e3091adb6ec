// Fuzzes the affiliate tags: the query fragment and the tag locations against a plain model, and stamping
// against a model of when it may write, with what it must leave alone, and the checksum it must not move.
#include <algorithm>
#include <array>
#include <vector>

#include "payload/affiliate_tags.h"
#include "payload/checksum.h"
#include "payload/tag_fields.h"
#include "tests/fuzz/fuzz_models.h"

using namespace isetup;
using namespace isetup::fuzz;

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string ValueAfter(const Bytes& bytes, std::size_t offset) {
  std::string value;
  for (std::size_t i = offset; i < bytes.size() && i < offset + 8; ++i) value += static_cast<char>(bytes[i]);
  return value;
}

std::wstring ModelQuery(const Bytes& bytes) {
  std::wstring query;
  if (const auto affid = NaiveFind(bytes, "affid=")) query += L"affid=" + ModelLatin1(ValueAfter(bytes, *affid + 6));
  if (const auto affsid = NaiveFind(bytes, "affsid=")) {
    query += L"&affsid=" + ModelLatin1(ValueAfter(bytes, *affsid + 7));
  }
  return query;
}

bool ModelValidValue(std::string_view value) {
  const std::string_view allowed = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  return value.size() == 8 && std::all_of(value.begin(), value.end(), [&](char c) {
           return allowed.find(c) != std::string_view::npos;
         });
}

// A stampable tag: the 4-byte little-endian length right before the marker holds marker + 8, and the
// 8 value bytes and a zero byte after them are all inside the data.
bool ModelWellFormedTag(const Bytes& bytes, std::string_view marker, std::size_t offset) {
  const std::size_t textLength = marker.size() + 8;
  if (offset < 4 || offset + textLength + 1 > bytes.size()) return false;
  const std::uint32_t length = bytes[offset - 4] | bytes[offset - 3] << 8 | bytes[offset - 2] << 16 |
                               static_cast<std::uint32_t>(bytes[offset - 1]) << 24;
  return length == textLength && bytes[offset + textLength] == 0;
}

}  // namespace

// The first byte chooses which tags to stamp and whether with fixed valid values or with the first 16
// bytes of the data; the rest is the installer image.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t control = data[0];
  const Bytes image(data + 1, data + size);
  const std::span<const std::uint8_t> view(image);

  const std::wstring query = ExtractAffiliateQuery(view);
  const std::wstring expectedQuery = ModelQuery(image);
  FUZZ_CHECK(query == expectedQuery, "ExtractAffiliateQuery = \"%s\", model \"%s\"", Shown(query).c_str(),
             Shown(expectedQuery).c_str());

  const AffiliateTags tags = FindAffiliateTags(view);
  const std::array<std::pair<std::string_view, const std::optional<TagLocation>*>, 2> markers{
      std::pair{kAffidMarker, &tags.affid}, std::pair{kAffsidMarker, &tags.affsid}};
  for (const auto& [marker, found] : markers) {
    const auto offset = NaiveFind(image, marker);
    FUZZ_CHECK(found->has_value() == offset.has_value(), "FindAffiliateTags: %.*s found %d, model %d",
               static_cast<int>(marker.size()), marker.data(), found->has_value(), offset.has_value());
    if (!offset) continue;
    FUZZ_CHECK((*found)->markerOffset == *offset && (*found)->valueOffset == *offset + marker.size() &&
                   (*found)->value == ValueAfter(image, *offset + marker.size()),
               "FindAffiliateTags: %.*s at %zu, model %zu", static_cast<int>(marker.size()), marker.data(),
               (*found)->markerOffset, *offset);
  }

  std::optional<std::string> affid, affsid;
  const bool fuzzedValues = control & 4;
  if (control & 1) affid = fuzzedValues ? ValueAfter(image, 0) : std::string("Zz09-_aB");
  if (control & 2) affsid = fuzzedValues ? ValueAfter(image, 8) : std::string("12345678");

  bool expectStamped = true;
  for (const auto& [marker, value] : {std::pair{kAffidMarker, &affid}, std::pair{kAffsidMarker, &affsid}}) {
    if (!*value) continue;
    FUZZ_CHECK(IsValidTagValue(**value) == ModelValidValue(**value), "IsValidTagValue");
    const auto offset = NaiveFind(image, marker);
    expectStamped = expectStamped && ModelValidValue(**value) && offset && ModelWellFormedTag(image, marker, *offset);
  }

  Bytes stamped = image;
  const auto problem = StampAffiliateTags(stamped, affid, affsid);
  FUZZ_CHECK(!problem == expectStamped, "StampAffiliateTags %s, model %s (%s)", problem ? "refused" : "stamped",
             expectStamped ? "stamps" : "refuses", problem ? problem->c_str() : "");
  if (problem) {
    FUZZ_CHECK(stamped == image, "a refused stamp changed the bytes");
    return 0;
  }

  // Only the 8 value bytes of each stamped tag change, and to the given value.
  Bytes expected = image;
  for (const auto& [marker, value] : {std::pair{kAffidMarker, &affid}, std::pair{kAffsidMarker, &affsid}}) {
    if (!*value) continue;
    const std::size_t at = *NaiveFind(image, marker) + marker.size();
    std::copy((*value)->begin(), (*value)->end(), expected.begin() + static_cast<std::ptrdiff_t>(at));
  }
  FUZZ_CHECK(stamped == expected, "StampAffiliateTags wrote outside the tag values");

  // The checksum is blind to the tag values, so the checksum the endpoint announces for its installer
  // holds for every stamped copy. That needs an installer shaped as the endpoint expects: both tags well
  // formed, and no "=" in either value. Otherwise a marker can lie in the other tag's blanked field or be
  // made of value bytes, and the routines rightly disagree about which bytes are the tag.
  bool endpointShaped = true;
  for (const std::string_view marker : {kAffidMarker, kAffsidMarker}) {
    const auto offset = NaiveFind(image, marker);
    endpointShaped = endpointShaped && offset && ModelWellFormedTag(image, marker, *offset) &&
                     ValueAfter(image, *offset + marker.size()).find('=') == std::string::npos;
  }
  if (endpointShaped) {
    FUZZ_CHECK(ByteSumChecksum(stamped) == ByteSumChecksum(view), "stamping moved the checksum");
    const AffiliateTags after = FindAffiliateTags(stamped);
    if (affid) FUZZ_CHECK(after.affid && after.affid->value == *affid, "the stamped affid does not read back");
    if (affsid) FUZZ_CHECK(after.affsid && after.affsid->value == *affsid, "the stamped affsid does not read back");
  }
  return 0;
}
