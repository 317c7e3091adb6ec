// Byte-string search and byte sum, 16 bytes at a time where SSE2 is there (every x86-64), plain loops
// elsewhere and for the last few bytes.
#include "payload/byte_scan.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace isetup {
namespace {

// Whether the needle stands at `at`, given that its first and last bytes already matched.
bool MiddleMatches(const std::uint8_t* at, std::string_view needle) {
  return needle.size() <= 2 || std::memcmp(at + 1, needle.data() + 1, needle.size() - 2) == 0;
}

}  // namespace

std::size_t FindBytes(std::span<const std::uint8_t> haystack, std::string_view needle, std::size_t from) {
  const std::size_t k = needle.size();
  const std::size_t n = haystack.size();
  if (k == 0 || from > n || n - from < k) return kNotFound;
  const std::uint8_t* data = haystack.data();
  const auto first = static_cast<std::uint8_t>(needle.front());
  const auto last = static_cast<std::uint8_t>(needle.back());
  const std::size_t lastStart = n - k;  // the highest offset a match can start at
  std::size_t i = from;
#if defined(__SSE2__)
  // Candidates are the offsets whose byte equals the needle's first byte and whose byte k-1 further on
  // equals its last one; on installer images that leaves very few to compare in full.
  const __m128i wantFirst = _mm_set1_epi8(static_cast<char>(first));
  const __m128i wantLast = _mm_set1_epi8(static_cast<char>(last));
  auto candidates = [&](std::size_t at) {
    const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
    const __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + k - 1));
    return static_cast<std::uint32_t>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(head, wantFirst), _mm_cmpeq_epi8(tail, wantLast))));
  };
  // 32 starting offsets per round; every byte read lies below n.
  for (; i + 31 <= lastStart; i += 32) {
    std::uint32_t mask = candidates(i) | candidates(i + 16) << 16;
    while (mask != 0) {
      const std::size_t at = i + static_cast<std::size_t>(std::countr_zero(mask));
      if (MiddleMatches(data + at, needle)) return at;
      mask &= mask - 1;
    }
  }
#endif
  for (; i <= lastStart; ++i) {
    if (data[i] == first && data[i + k - 1] == last && MiddleMatches(data + i, needle)) return i;
  }
  return kNotFound;
}

std::uint32_t SumBytes(std::span<const std::uint8_t> bytes) {
  const std::uint8_t* data = bytes.data();
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  std::uint64_t total = 0;
#if defined(__SSE2__)
  // _mm_sad_epu8 against zero adds each group of 8 bytes into a 64-bit lane; lanes cannot overflow.
  const __m128i zero = _mm_setzero_si128();
  __m128i acc0 = zero, acc1 = zero;
  auto lanes = [&](std::size_t at) {
    return _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at)), zero);
  };
  for (; i + 64 <= n; i += 64) {
    acc0 = _mm_add_epi64(acc0, _mm_add_epi64(lanes(i), lanes(i + 16)));
    acc1 = _mm_add_epi64(acc1, _mm_add_epi64(lanes(i + 32), lanes(i + 48)));
  }
  for (; i + 16 <= n; i += 16) acc0 = _mm_add_epi64(acc0, lanes(i));
  alignas(16) std::uint64_t parts[2];
  _mm_store_si128(reinterpret_cast<__m128i*>(parts), _mm_add_epi64(acc0, acc1));
  total = parts[0] + parts[1];
#endif
  for (; i < n; ++i) total += data[i];
  return static_cast<std::uint32_t>(total);
}

}  // namespace isetup
