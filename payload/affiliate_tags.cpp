// Finding, reading and stamping the affiliate tags inside an installer image.
#include "payload/affiliate_tags.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "base/ansi_text.h"
#include "base/little_endian.h"
#include "payload/byte_scan.h"

namespace isetup {
namespace {

// The length field that the installer's string header stores right before a tag's text.
constexpr std::size_t kLengthFieldSize = 4;

// 0-based offset of the first occurrence of `marker` at or after `from`, if any.
std::optional<std::size_t> FindMarker(std::span<const std::uint8_t> bytes, std::string_view marker,
                                      std::size_t from = 0) {
  const std::size_t found = FindBytes(bytes, marker, from);
  if (found == kNotFound) return std::nullopt;
  return found;
}

std::optional<TagLocation> LocateTag(std::span<const std::uint8_t> bytes, std::string_view marker) {
  const auto offset = FindMarker(bytes, marker);
  if (!offset) return std::nullopt;
  TagLocation tag;
  tag.markerOffset = *offset;
  tag.valueOffset = *offset + marker.size();
  const std::size_t valueLength = std::min(kTagValueLength, bytes.size() - tag.valueOffset);
  tag.value.assign(reinterpret_cast<const char*>(bytes.data() + tag.valueOffset), valueLength);
  return tag;
}

}  // namespace

AffiliateTags FindAffiliateTags(std::span<const std::uint8_t> bytes) {
  return AffiliateTags{LocateTag(bytes, kAffidMarker), LocateTag(bytes, kAffsidMarker)};
}

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

bool IsValidTagValue(std::string_view value) {
  if (value.size() != kTagValueLength) return false;
  return std::all_of(value.begin(), value.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
  });
}

std::optional<std::string> CheckTagHeader(std::span<const std::uint8_t> bytes, std::string_view marker,
                                          std::size_t markerOffset) {
  const std::string name(marker.substr(0, marker.size() - 1));
  const std::size_t textLength = marker.size() + kTagValueLength;
  if (markerOffset > bytes.size() || bytes.size() - markerOffset < textLength + 1) {
    return "the " + name + " tag is cut off by the end of the data";
  }
  if (markerOffset < kLengthFieldSize) return "the " + name + " tag has no string header before it";
  const std::uint32_t length = LoadU32(bytes, markerOffset - kLengthFieldSize);
  if (length != textLength) {
    return "the " + name + " tag's string header gives the length " + std::to_string(length) + ", not " +
           std::to_string(textLength);
  }
  if (bytes[markerOffset + textLength] != 0) return "the " + name + " tag's text is not followed by a zero byte";
  return std::nullopt;
}

std::optional<std::string> StampAffiliateTags(std::span<std::uint8_t> bytes, std::optional<std::string_view> affid,
                                              std::optional<std::string_view> affsid) {
  struct Change {
    std::size_t valueOffset;
    std::string_view value;
  };
  std::array<Change, 2> changes{};
  std::size_t count = 0;
  // Every check comes before the first write, so a refused stamp leaves the bytes as they were.
  for (const auto& [marker, value] : {std::pair{kAffidMarker, affid}, std::pair{kAffsidMarker, affsid}}) {
    if (!value) continue;
    const std::string name(marker.substr(0, marker.size() - 1));
    if (!IsValidTagValue(*value)) {
      return "the " + name + " value \"" + std::string(*value) +
             "\" is not 8 characters from A-Z, a-z, 0-9, '-' and '_'";
    }
    const auto offset = FindMarker(bytes, marker);
    if (!offset) return "the " + name + " marker \"" + std::string(marker) + "\" is missing";
    if (auto problem = CheckTagHeader(bytes, marker, *offset)) return problem;
    changes[count++] = Change{*offset + marker.size(), *value};
  }
  for (std::size_t i = 0; i < count; ++i) {
    std::memcpy(bytes.data() + changes[i].valueOffset, changes[i].value.data(), kTagValueLength);
  }
  return std::nullopt;
}

}  // namespace isetup
