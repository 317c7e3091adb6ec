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
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "payload/sha256.h"

namespace isetup {

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

// The fifth and the sixth line as the endpoint writes them, each ended by CR LF.
std::string FormatSha256Line(const Sha256Digest& digest);
std::string FormatSignatureLine(const ReplySignature& signature);

}  // namespace isetup
