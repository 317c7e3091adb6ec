// How a stage of the endpoint (the version reply, the installer download) misbehaves on demand for
// tests: the status or body it answers instead, and the cuts and pauses of the transport.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace isetup::endpoint {

// Upper bound of every hang; a hang ends earlier when the server stops.
inline constexpr std::chrono::milliseconds kMaxHang = std::chrono::seconds(300);

enum class Stage { Version, Installer };

// How one stage misbehaves; the default behaves. Transport faults (truncate, reset, throttle, hang)
// apply to whatever body the stage sends, the reply, a status page or the installer.
struct StageFault {
  int status = 0;                           // answer this HTTP status instead, with a short body
  std::optional<std::string> body;          // version stage: send these raw bytes instead of the reply
  std::int64_t sizeDelta = 0;               // version stage: announce size + delta
  std::int32_t checksumDelta = 0;           // version stage: announce checksum + delta (wrapping)
  std::optional<std::string> versionText;   // version stage: announce this version instead
  std::optional<std::size_t> truncateAfter; // announce the whole length, close after N body bytes
  std::optional<std::size_t> resetAfter;    // abort the connection with a reset after N body bytes
  std::size_t throttleChunk = 0;            // with throttleDelayMs: send chunk bytes every delay ms
  int throttleDelayMs = 0;
  bool hang = false;                        // read the request, never answer (until Stop or the hang limit)
  std::optional<std::size_t> hangAfter;     // send headers and N body bytes, then hang
  std::optional<std::vector<std::uint8_t>> installerOverride;  // installer stage: serve these bytes verbatim
};

}  // namespace isetup::endpoint
