// Writing the version reply file, the checks that keep every reply one that the setup judges usable,
// and reading and writing the two lines that authenticate it.
#include "update/version_reply_format.h"

#include <algorithm>
#include <iterator>
#include <limits>

#include "base/lower_hex.h"

namespace isetup {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHostChar(char c) { return IsDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.' || c == '-'; }
bool IsPathChar(char c) { return c > 0x20 && c < 0x7F && c != '?' && c != '#'; }

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

std::optional<std::string> CheckReplyVersionText(std::string_view text) {
  const std::string problem = "the version \"" + std::string(text) +
                              "\" is not four dot-separated numbers 0..255 without leading zeros that pack to nonzero" +
                              " (a.b.c.d, not 0.0.0.0)";
  std::size_t parts = 0;
  bool allZero = true;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = std::min(text.find('.', start), text.size());
    const std::string_view part = text.substr(start, dot - start);
    if (part.empty() || part.size() > 3 || !std::all_of(part.begin(), part.end(), IsDigit)) return problem;
    if (part.size() > 1 && part.front() == '0') return problem;
    const int value = std::stoi(std::string(part));
    if (value > 255) return problem;
    allZero = allZero && value == 0;
    ++parts;
    if (dot == text.size()) break;
    start = dot + 1;
  }
  if (parts != 4 || allZero) return problem;
  return std::nullopt;
}

std::optional<std::string> CheckReplySize(std::uint64_t size) {
  if (size == 0) return "the installer is empty, and the setup takes a size of 0 as no reply";
  if (size > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
    return "the installer is " + std::to_string(size) + " bytes, more than the 2147483647 the setup can take as a size";
  }
  return std::nullopt;
}

std::optional<std::string> CheckReplyHost(std::string_view host) {
  const std::size_t colon = host.find(':');
  const std::string_view name = host.substr(0, colon);
  if (name.empty() || !std::all_of(name.begin(), name.end(), IsHostChar)) return "the host may hold only A-Z a-z 0-9 . -";
  if (colon != std::string_view::npos) {
    const std::string_view port = host.substr(colon + 1);
    if (port.empty() || port.size() > 5 || !std::all_of(port.begin(), port.end(), IsDigit) ||
        std::stoi(std::string(port)) < 1 || std::stoi(std::string(port)) > 65535) {
      return "the port must be 1..65535";
    }
  }
  return std::nullopt;
}

std::optional<std::string> CheckReplyUrl(std::string_view url) {
  const std::string problem = "the url \"" + std::string(url) + "\" is not HOST[:PORT]/PATH";
  if (url.find("://") != std::string_view::npos) {
    return problem + ": leave out the scheme, the setup puts \"http://\" before it";
  }
  const std::size_t slash = url.find('/');
  if (slash == std::string_view::npos) return problem + ": it has no path";
  if (auto hostProblem = CheckReplyHost(url.substr(0, slash))) return problem + ": " + *hostProblem;
  const std::string_view path = url.substr(slash);
  if (!std::all_of(path.begin(), path.end(), IsPathChar)) {
    return problem + ": the path may hold only printable ASCII without blanks, \"?\" and \"#\"";
  }
  return std::nullopt;
}

std::string FormatVersionReply(std::string_view versionText, std::int32_t size, std::int32_t checksum,
                               std::string_view url) {
  std::string reply;
  reply.append("ver=").append(versionText).append("\r\n");
  reply.append("size=").append(std::to_string(size)).append("\r\n");
  reply.append("consum=").append(std::to_string(checksum)).append("\r\n");
  reply.append("url=").append(url).append("\r\n");
  return reply;
}

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

std::string Sha256LineText(const Sha256Digest& digest) { return std::string(kSha256Key) + LowerHex(digest); }

std::string FormatSha256Line(const Sha256Digest& digest) { return Sha256LineText(digest) + "\r\n"; }

std::string FormatSignatureLine(const ReplySignature& signature) {
  return std::string(kSignatureKey) + LowerHex(signature) + "\r\n";
}

std::optional<std::string> FormatSignedVersionReply(std::string_view fourLines, const Sha256Digest& installerDigest,
                                                    std::string_view rnd, const ReplySigning& sign) {
  std::string reply(fourLines);
  reply += FormatSha256Line(installerDigest);
  const auto signature = sign(SignedReplyMessage(reply, rnd));
  if (!signature) return std::nullopt;
  reply += FormatSignatureLine(*signature);
  return reply;
}

}  // namespace isetup
