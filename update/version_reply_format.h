// The version reply file from the endpoint's side: checking the values and writing the four lines.
// The endpoint, installer-tags and the tests of the program all use these rules, so that they accept
// and refuse the same texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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

}  // namespace isetup
