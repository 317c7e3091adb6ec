// A response body that shares the installer's one copy in memory: the plain bytes with a few
// stretches replaced on the way out (the stamped affiliate tags), sent as gathered pieces.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace isetup::endpoint {

// "Tue, 08 Dec 2026 21:00:00 GMT".
std::string FormatHttpDate(std::chrono::system_clock::time_point time);

struct BodyPatch {
  std::size_t offset = 0;
  std::string value;
};

struct ResponseBody {
  std::shared_ptr<const std::vector<std::uint8_t>> bytes;
  std::vector<BodyPatch> patches;  // inside the bytes, not overlapping each other, in any order

  std::size_t Size() const { return bytes ? bytes->size() : 0; }
  // Bytes [from, to) of the body as sent, as pieces of the shared bytes and of the patch values, in
  // order, without copying; valid while this body lives unchanged.
  std::vector<std::span<const std::uint8_t>> Gather(std::size_t from, std::size_t to) const;
};

}  // namespace isetup::endpoint
