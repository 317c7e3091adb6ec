// The version reply on the wire: checking the values and writing the four lines, and the two lines that
// sign it. The endpoint, installer-tags and the program all use these rules, so that they accept and
// refuse the same texts and sign and verify the same bytes.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "payload/sha256.h"

namespace isetup {

// Why `text` cannot stand in the "ver=" line, std::nullopt when it can: four dot-separated decimal
// numbers 0..255 without signs, blanks, a prefix or leading zeros, not all zero. Every such text packs
// to the same nonzero version on the setup's side (ParsePackedVersion), the setup shows it as sent,
// and each version has one spelling only.
[[nodiscard]] std::optional<std::string> CheckReplyVersionText(std::string_view text);

// Why an installer of `size` bytes cannot be announced in the "size=" line (the setup reads a nonzero
// signed 32-bit value there), std::nullopt when it can.
[[nodiscard]] std::optional<std::string> CheckReplySize(std::uint64_t size);

// Why `host` cannot stand before the path of the "url=" line, std::nullopt when it can: HOST or
// HOST:PORT, a host of letters, digits, "." and "-", a port 1..65535, no scheme and no path.
[[nodiscard]] std::optional<std::string> CheckReplyHost(std::string_view host);

// Why `url` cannot stand in the "url=" line, std::nullopt when it can: HOST[:PORT]/PATH without a
// scheme (the setup puts "http://" before it), with a host of letters, digits, "." and "-", and a path
// of printable ASCII without blanks, "?" or "#" (the setup appends its own query to it).
[[nodiscard]] std::optional<std::string> CheckReplyUrl(std::string_view url);

// The four lines "ver=", "size=", "consum=" (signed decimal) and "url=", each ended by CR LF, as the
// setup reads them (ParseVersionReply). The values are taken as they are; check them first.
std::string FormatVersionReply(std::string_view versionText, std::int32_t size, std::int32_t checksum,
                               std::string_view url);

// The signed version reply: after the four lines, "sha256=" (the installer's blanked SHA-256) and "sig="
// (ECDSA P-256 over the first five lines as received followed by the request's rnd value).
//
//   line 5: "sha256=" + 64 lower-case hex digits, the BlankedSha256 of the installer that the url serves
//   line 6: "sig=" + 128 lower-case hex digits, r || s (32 bytes each, big-endian) of an ECDSA P-256
//           signature with SHA-256 over SignedReplyMessage(lines 1..5, rnd)
//
// Lines end as the four lines do (LF or CR LF). Lines 1..5 are signed as the bytes they arrived as,
// each with its own line end, so that no reading of them can differ from what was signed; rnd binds the
// reply to the one request that asked for it. Anything after the sixth line is ignored.
inline constexpr std::string_view kSha256Key = "sha256=";
inline constexpr std::string_view kSignatureKey = "sig=";

using ReplySignature = std::array<std::uint8_t, 64>;  // r || s

// What a reply carries for its authentication; each part empty when it is missing or malformed.
struct ReplyAuthentication {
  std::string signedLines;  // lines 1..5 as received, through the fifth line's LF; empty with fewer
  std::optional<Sha256Digest> sha256;
  std::optional<ReplySignature> signature;
};

// Takes lines 5 and 6 from the raw bytes of a reply, judged by the same line ends as the four lines
// (a CR inside a line is dropped from its text, but stays among the signed bytes).
ReplyAuthentication ReadReplyAuthentication(std::string_view bytes);

// The bytes the signature covers: the first five lines exactly as sent, then the request's rnd value
// (the decimal digits after "rnd=" in the query). The five lines end with a line feed and rnd holds
// no line feed, so the split between them is never in doubt.
std::string SignedReplyMessage(std::string_view firstFiveLines, std::string_view rnd);

// The fifth line's text without its line end: "sha256=" and the digest in 64 lower-case hex digits.
std::string Sha256LineText(const Sha256Digest& digest);

// The fifth and the sixth line as the endpoint writes them, each ended by CR LF.
std::string FormatSha256Line(const Sha256Digest& digest);
std::string FormatSignatureLine(const ReplySignature& signature);

// Makes the signature over a message; std::nullopt when it cannot.
using ReplySigning = std::function<std::optional<ReplySignature>(std::string_view message)>;

// The whole signed reply: the four lines, the sha256 line of `installerDigest`, and the sig line with
// what `sign` makes of SignedReplyMessage(those five lines, rnd); std::nullopt when `sign` makes none.
[[nodiscard]] std::optional<std::string> FormatSignedVersionReply(std::string_view fourLines,
                                                                  const Sha256Digest& installerDigest,
                                                                  std::string_view rnd, const ReplySigning& sign);

}  // namespace isetup
