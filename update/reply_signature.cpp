// Reading and writing the two lines that authenticate a version reply.
#include "update/reply_signature.h"

#include <algorithm>

#include "base/lower_hex.h"

namespace isetup {
namespace {

// The line starting at `position` in `bytes`, its end included; empty past the end.
std::string_view RawLine(std::string_view bytes, std::size_t position) {
  if (position >= bytes.size()) return {};
  const std::size_t end = bytes.find('\n', position);
  return bytes.substr(position, end == std::string_view::npos ? std::string_view::npos : end + 1 - position);
}

// The value after `key` in a line's text, CRs dropped as in the four lines.
template <std::size_t N>
std::optional<std::array<std::uint8_t, N>> HexValue(std::string_view rawLine, std::string_view key) {
  std::string text;
  std::copy_if(rawLine.begin(), rawLine.end(), std::back_inserter(text), [](char c) { return c != '\r' && c != '\n'; });
  if (!text.starts_with(key)) return std::nullopt;
  const auto bytes = ParseLowerHex(std::string_view(text).substr(key.size()), N);
  if (!bytes) return std::nullopt;
  std::array<std::uint8_t, N> value{};
  std::copy(bytes->begin(), bytes->end(), value.begin());
  return value;
}

}  // namespace

ReplyAuthentication ReadReplyAuthentication(std::string_view bytes) {
  ReplyAuthentication result;
  std::size_t position = 0;
  std::string_view line;
  for (int number = 1; number <= 5; ++number) {
    line = RawLine(bytes, position);
    position += line.size();
  }
  if (!line.ends_with('\n')) return result;  // fewer than five whole lines
  result.signedLines = std::string(bytes.substr(0, position));
  result.sha256 = HexValue<32>(line, kSha256Key);
  result.signature = HexValue<64>(RawLine(bytes, position), kSignatureKey);
  return result;
}

std::string SignedReplyMessage(std::string_view firstFiveLines, std::string_view rnd) {
  std::string message(firstFiveLines);
  message += rnd;
  return message;
}

std::string FormatSha256Line(const Sha256Digest& digest) {
  return std::string(kSha256Key) + LowerHex(digest) + "\r\n";
}

std::string FormatSignatureLine(const ReplySignature& signature) {
  return std::string(kSignatureKey) + LowerHex(signature) + "\r\n";
}

}  // namespace isetup
