// The two affiliate tags inside an installer: finding them, the query fragment made from them, stamping them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace isetup {

inline constexpr std::string_view kAffidMarker = "affid=";
inline constexpr std::string_view kAffsidMarker = "affsid=";
inline constexpr std::size_t kTagValueLength = 8;
inline constexpr std::string_view kUntaggedValue = "00000000";

// First occurrence of a marker; the value is the (up to) 8 bytes after it, fewer at the end of the data.
struct TagLocation {
  std::size_t markerOffset = 0;  // 0-based offset of the marker's first byte
  std::size_t valueOffset = 0;   // markerOffset + marker length
  std::string value;
};

struct AffiliateTags {
  std::optional<TagLocation> affid;
  std::optional<TagLocation> affsid;
};

// Searches the bytes for the first occurrence of each marker (exact, case-sensitive).
AffiliateTags FindAffiliateTags(std::span<const std::uint8_t> bytes);

// "affid=A&affsid=S", "affid=A", "&affsid=S" or empty, the values decoded in the ANSI code page.
std::wstring ExtractAffiliateQuery(std::span<const std::uint8_t> bytes);

// A value that may travel unescaped in a URL query: exactly 8 characters from A-Z a-z 0-9 - _.
bool IsValidTagValue(std::string_view value);

// Whether the marker found at `markerOffset` heads a well-formed tag: the 4-byte little-endian length
// field right before it holds the length of marker and value (14 or 15), all 8 value bytes are there
// and a zero byte ends the text. An error message when not, std::nullopt when it is.
[[nodiscard]] std::optional<std::string> CheckTagHeader(std::span<const std::uint8_t> bytes,
                                                        std::string_view marker, std::size_t markerOffset);

// Overwrites the 8 value bytes after the first occurrence of each given marker, in place.
// Returns an error message and leaves the bytes untouched when a value is invalid or a marker is
// missing or does not head a well-formed tag (CheckTagHeader); std::nullopt on success.
[[nodiscard]] std::optional<std::string> StampAffiliateTags(std::span<std::uint8_t> bytes,
                                                            std::optional<std::string_view> affid,
                                                            std::optional<std::string_view> affsid);

}  // namespace isetup
