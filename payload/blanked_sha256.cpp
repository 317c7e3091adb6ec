// The blanked content as pieces, and its SHA-256, for the installer and for a downloaded file.
#include "payload/blanked_sha256.h"

#include <algorithm>
#include <array>
#include <limits>
#include <optional>
#include <string_view>

#include "base/file_contents.h"

namespace isetup {
namespace {

constexpr std::string_view kAffid = "affid=";
constexpr std::string_view kAffsid = "affsid=";
constexpr std::size_t kFieldOffset = 6;  // the same for both markers
constexpr std::size_t kFieldLength = 9;
constexpr std::array<std::uint8_t, kFieldLength> kBlanks = {'0', '0', '0', '0', '0', '0', '0', '0', '0'};

// Blanks are "0" and "affsid=" holds none, so blanking the first field cannot make a new "affsid=": the
// first one in the changed content is the first original one that does not overlap the first field.
static_assert(kAffsid.find('0') == std::string_view::npos);

struct Field {
  std::size_t begin = 0;
  std::size_t end = 0;  // exclusive, never past the content
};

std::optional<std::size_t> Find(std::span<const std::uint8_t> content, std::string_view marker, std::size_t from) {
  const auto* pattern = reinterpret_cast<const std::uint8_t*>(marker.data());
  const std::boyer_moore_horspool_searcher searcher(pattern, pattern + marker.size());
  const auto found = std::search(content.begin() + static_cast<std::ptrdiff_t>(std::min(from, content.size())),
                                 content.end(), searcher);
  if (found == content.end()) return std::nullopt;
  return static_cast<std::size_t>(found - content.begin());
}

Field FieldAt(std::size_t marker, std::size_t size) {
  const std::size_t begin = std::min(marker + kFieldOffset, size);
  return {begin, std::min(begin + kFieldLength, size)};
}

}  // namespace

void ForEachBlankedPiece(std::span<const std::uint8_t> content,
                         const std::function<void(std::span<const std::uint8_t>)>& piece) {
  std::optional<Field> first;
  if (const auto affid = Find(content, kAffid, 0)) first = FieldAt(*affid, content.size());
  std::optional<Field> second;
  for (std::size_t from = 0;;) {
    const auto affsid = Find(content, kAffsid, from);
    if (!affsid) break;
    if (!first || *affsid >= first->end || *affsid + kAffsid.size() <= first->begin) {
      second = FieldAt(*affsid, content.size());
      break;
    }
    from = *affsid + 1;
  }

  // The fields in order, overlapping ones joined.
  std::array<Field, 2> fields;
  std::size_t count = 0;
  for (const auto& field : {first, second}) {
    if (field && field->begin < field->end) fields[count++] = *field;
  }
  if (count == 2) {
    if (fields[1].begin < fields[0].begin) std::swap(fields[0], fields[1]);
    if (fields[1].begin <= fields[0].end) {
      fields[0].end = std::max(fields[0].end, fields[1].end);
      count = 1;
    }
  }

  std::size_t at = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (fields[i].begin > at) piece(content.subspan(at, fields[i].begin - at));
    for (std::size_t left = fields[i].end - fields[i].begin; left > 0;) {
      const std::size_t run = std::min(left, kBlanks.size());
      piece(std::span(kBlanks).first(run));
      left -= run;
    }
    at = fields[i].end;
  }
  if (at < content.size()) piece(content.subspan(at));
}

std::optional<Sha256Digest> BlankedSha256(std::span<const std::uint8_t> content) {
  Sha256Hasher hasher;
  ForEachBlankedPiece(content, [&](std::span<const std::uint8_t> bytes) { hasher.Update(bytes); });
  return hasher.Finish();
}

std::optional<Sha256Digest> ComputeDownloadSha256(const std::filesystem::path& path) {
  // The program takes an installer's size as a signed 32-bit value; nothing larger is one of ours.
  const FileContents contents = ReadFileContents(path, std::numeric_limits<std::int32_t>::max());
  if (!contents.problem.empty()) return std::nullopt;
  return BlankedSha256(contents.bytes);
}

}  // namespace isetup
