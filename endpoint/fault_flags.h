// The textual form of the faults, as the endpoint program takes them from its command line.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "endpoint/endpoint_server.h"

namespace isetup::endpoint {

// Applies one "STAGE:KEY[=VALUE]" to the stage's fault in `faults`. STAGE is "version" or "installer".
// Keys: status=N, body=TEXT (escapes \r \n \t \\ \xHH), size-delta=N, checksum-delta=N, version=TEXT,
// truncate-after=N, reset-after=N, throttle=CHUNK/MS, hang, hang-after=N, override=FILE.
// Returns an error message and leaves `faults` unchanged on a bad flag; std::nullopt on success.
[[nodiscard]] std::optional<std::string> ApplyFaultFlag(std::string_view flag, std::map<Stage, StageFault>& faults);

// The whole file, or std::nullopt when it cannot be opened or read.
std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path);

}  // namespace isetup::endpoint
