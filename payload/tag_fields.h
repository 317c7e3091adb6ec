// The two affiliate tag fields of an installer: where they lie, how they are blanked and how values are
// written into them. The checksum, the blanked SHA-256, installer-tags and the endpoint all go by this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace isetup {

inline constexpr std::string_view kAffidMarker = "affid=";
inline constexpr std::string_view kAffsidMarker = "affsid=";
inline constexpr std::size_t kTagValueLength = 8;
inline constexpr std::string_view kUntaggedValue = "00000000";

// "affid" or "affsid": the marker without its "=".
std::string TagName(std::string_view marker);

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

// A value that may travel unescaped in a URL query: exactly 8 characters from A-Z a-z 0-9 - _.
bool IsValidTagValue(std::string_view value);

// Whether the marker found at `markerOffset` heads a well-formed tag: the 4-byte little-endian length
// field right before it holds the length of marker and value (14 or 15), all 8 value bytes are there
// and a zero byte ends the text. An error message when not, std::nullopt when it is.
[[nodiscard]] std::optional<std::string> CheckTagHeader(std::span<const std::uint8_t> bytes,
                                                        std::string_view marker, std::size_t markerOffset);

// Where a stamp writes the value of the tag that the first `marker` heads: the offset of its 8 value
// bytes; else why it may not (the marker is missing, or CheckTagHeader refuses the tag).
struct StampPlace {
  std::optional<std::size_t> valueOffset;
  std::string problem;  // when there is no offset
};
StampPlace FindStampPlace(std::span<const std::uint8_t> bytes, std::string_view marker);

// Overwrites the 8 value bytes after the first occurrence of each given marker, in place.
// Returns an error message and leaves the bytes untouched when a value is invalid or a marker has no
// StampPlace; std::nullopt on success.
[[nodiscard]] std::optional<std::string> StampAffiliateTags(std::span<std::uint8_t> bytes,
                                                            std::optional<std::string_view> affid,
                                                            std::optional<std::string_view> affsid);

// The blanked content, which the checksum and the blanked SHA-256 are taken over so that one value holds
// for every stamped copy: 9 bytes of "0" from 6 bytes after the first "affid=", then 9 bytes of "0" from
// 6 bytes after the first "affsid=" of the content as changed by the first blanking. A field that reaches
// past the end is blanked as far as the content goes.
using BlankedPiece = std::function<void(std::span<const std::uint8_t>)>;

// The blanked content of content that arrives in pieces of any size (a file read in chunks): markers
// and fields may straddle the pieces. The content itself is never copied or changed.
class BlankedStream {
 public:
  // Hands `piece` the blanked bytes in the place of `next`, the following bytes of the content, as
  // consecutive nonempty runs in order: runs of the original bytes and runs of blanks.
  void Add(std::span<const std::uint8_t> next, const BlankedPiece& piece);

  // A blanked field: offsets in the whole content, end exclusive (may lie beyond what has arrived).
  struct Field {
    std::uint64_t begin = 0, end = 0;
  };

 private:
  void Search(std::span<const std::uint8_t> next);
  void Scan(std::span<const std::uint8_t> bytes, std::uint64_t base, std::size_t newFrom, std::size_t startLimit);
  void OnAffid(std::uint64_t offset);
  void OnAffsid(std::uint64_t offset);
  void Emit(std::span<const std::uint8_t> next, const BlankedPiece& piece) const;
  void Carry(std::span<const std::uint8_t> next);

  static constexpr std::size_t kCarry = 6;  // the longest marker less one byte

  std::uint64_t consumed_ = 0;  // bytes before the current piece
  std::uint8_t carry_[kCarry] = {};  // the last bytes before the current piece
  std::size_t carrySize_ = 0;
  std::optional<Field> affid_, affsid_;
};

// The blanked content of the whole `content`, through one BlankedStream.
void ForEachBlankedPiece(std::span<const std::uint8_t> content, const BlankedPiece& piece);

}  // namespace isetup
