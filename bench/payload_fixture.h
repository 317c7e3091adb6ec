// Installer images of the delivered size for the benchmarks, and the routines as they were before they
// were sped up, kept here only to show the difference.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace isetup::bench {

inline constexpr std::size_t kPayloadSize = 14'178'100;
// Where the delivered installer keeps the header of the "affid=" string constant.
inline constexpr std::size_t kDeliveredTagBlock = 1'156'944;

enum class Payload { SampleInstaller, DeliveredLayout, TagsAtTheEnd };

// Deterministic pseudo-random bytes (like the installer's compressed data) with the two tag strings in
// the installer's own layout, at the delivered offset or in the last kilobyte.
std::vector<std::uint8_t> SyntheticPayload(Payload placement);

// The whole file; empty when it cannot be read.
std::vector<std::uint8_t> ReadPayloadFile(const std::string& path);

// The payload of that kind: the sample installer from `samplePath`, or a synthetic one.
std::vector<std::uint8_t> MakePayload(Payload kind, const std::string& samplePath);

const char* PayloadName(Payload kind);

// Before: two Boyer-Moore-Horspool scans (std::search) and the query text built from them.
std::wstring PreviousExtractAffiliateQuery(std::span<const std::uint8_t> bytes);

// Before: a byte-at-a-time sum and two Boyer-Moore-Horspool scans over the whole content.
std::int32_t PreviousByteSumChecksum(std::span<const std::uint8_t> content);

}  // namespace isetup::bench
