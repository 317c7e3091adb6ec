// Benchmark payloads and the previous forms of the sped-up routines.
#include "bench/payload_fixture.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string_view>

#include "base/ansi_text.h"

namespace isetup::bench {
namespace {

// One string constant as the installer stores it: code page 1251, character size 1, reference count -1,
// length, text, terminator, fill to 4 bytes.
void PutStringConstant(std::vector<std::uint8_t>& bytes, std::size_t at, std::string_view text) {
  const std::uint8_t header[12] = {0xE3, 0x04, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xFF,
                                   static_cast<std::uint8_t>(text.size()), 0, 0, 0};
  std::memcpy(bytes.data() + at, header, sizeof header);
  std::memcpy(bytes.data() + at + sizeof header, text.data(), text.size());
  const std::size_t end = at + sizeof header + text.size();
  std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(end),
            bytes.begin() + static_cast<std::ptrdiff_t>((end + 4) & ~std::size_t{3}), 0);
}

std::optional<std::size_t> BmhFind(std::span<const std::uint8_t> bytes, std::string_view marker) {
  const auto* pattern = reinterpret_cast<const std::uint8_t*>(marker.data());
  const std::boyer_moore_horspool_searcher searcher(pattern, pattern + marker.size());
  const auto found = std::search(bytes.begin(), bytes.end(), searcher);
  if (found == bytes.end()) return std::nullopt;
  return static_cast<std::size_t>(found - bytes.begin());
}

}  // namespace

std::vector<std::uint8_t> SyntheticPayload(Payload placement) {
  std::vector<std::uint8_t> bytes(kPayloadSize);
  std::uint64_t state = 0x9E3779B97F4A7C15ull;  // xorshift64*, fixed seed
  for (std::size_t i = 0; i < bytes.size(); i += 8) {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    const std::uint64_t word = state * 0x2545F4914F6CDD1Dull;
    std::memcpy(bytes.data() + i, &word, std::min<std::size_t>(8, bytes.size() - i));
  }
  const std::size_t block = placement == Payload::TagsAtTheEnd ? kPayloadSize - 1000 : kDeliveredTagBlock;
  PutStringConstant(bytes, block, "affid=00000000");
  PutStringConstant(bytes, block + 28, "affsid=00000000");
  return bytes;
}

std::vector<std::uint8_t> ReadPayloadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> MakePayload(Payload kind, const std::string& samplePath) {
  if (kind != Payload::SampleInstaller) return SyntheticPayload(kind);
  std::vector<std::uint8_t> bytes = ReadPayloadFile(samplePath);
  if (bytes.size() != kPayloadSize) {
    std::fprintf(stderr, "the sample installer %s is missing or not %zu bytes\n", samplePath.c_str(), kPayloadSize);
  }
  return bytes;
}

const char* PayloadName(Payload kind) {
  switch (kind) {
    case Payload::SampleInstaller: return "sample installer";
    case Payload::DeliveredLayout: return "synthetic, tags at the delivered offset";
    case Payload::TagsAtTheEnd: return "synthetic, tags at the end";
  }
  return "?";
}

std::wstring PreviousExtractAffiliateQuery(std::span<const std::uint8_t> bytes) {
  std::wstring query;
  auto value = [&](std::size_t at) {
    const std::size_t length = std::min<std::size_t>(8, bytes.size() - at);
    return DecodeAnsi(std::string_view(reinterpret_cast<const char*>(bytes.data() + at), length));
  };
  if (const auto affid = BmhFind(bytes, "affid=")) query += L"affid=" + value(*affid + 6);
  if (const auto affsid = BmhFind(bytes, "affsid=")) query += L"&affsid=" + value(*affsid + 7);
  return query;
}

std::int32_t PreviousByteSumChecksum(std::span<const std::uint8_t> content) {
  std::uint32_t sum = 0;
  for (const std::uint8_t byte : content) sum += byte;
  const std::size_t n = content.size();
  std::size_t firstBegin = 0, firstEnd = 0;
  if (const auto affid = BmhFind(content, "affid=")) {
    firstBegin = std::min(*affid + 6, n);
    firstEnd = std::min(firstBegin + 9, n);
  }
  std::size_t secondBegin = 0, secondEnd = 0;
  for (std::size_t from = 0;;) {
    const auto found = BmhFind(content.subspan(from), "affsid=");
    if (!found) break;
    const std::size_t at = from + *found;
    if (!(at < firstEnd && at + 7 > firstBegin)) {
      secondBegin = std::min(at + 6, n);
      secondEnd = std::min(secondBegin + 9, n);
      break;
    }
    from = at + 1;
  }
  for (std::size_t i = firstBegin; i < firstEnd; ++i) sum = sum - content[i] + 0x30;
  for (std::size_t i = secondBegin; i < secondEnd; ++i) {
    if (i < firstBegin || i >= firstEnd) sum = sum - content[i] + 0x30;
  }
  return static_cast<std::int32_t>(sum);
}

}  // namespace isetup::bench
