// Byte-string search and byte sum: the search 32 bytes at a time with AVX2 where the processor has it,
// else 16 at a time with SSE2 (every x86-64 has it), the sum with SSE2; plain loops elsewhere and for
// the last few bytes.
#include "payload/byte_scan.h"

#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace isetup {
namespace {

// Whether the needle stands at `at`, given that its first and last bytes already matched.
bool MiddleMatches(const std::uint8_t* at, std::string_view needle) {
  return needle.size() <= 2 || std::memcmp(at + 1, needle.data() + 1, needle.size() - 2) == 0;
}

// One block loop per width: the offsets whose byte equals the needle's first byte and whose byte k-1
// further on equals its last one are compared in full; on installer images very few are. Each loop
// returns a match, or kNotFound after moving `i` past the offsets it has ruled out; every byte it reads
// lies below lastStart + k.
#if defined(__SSE2__)
std::size_t ScanSse2(const std::uint8_t* data, std::string_view needle, std::size_t& i, std::size_t lastStart) {
  const std::size_t k = needle.size();
  const __m128i wantFirst = _mm_set1_epi8(needle.front());
  const __m128i wantLast = _mm_set1_epi8(needle.back());
  auto candidates = [&](std::size_t at) {
    const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
    const __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + k - 1));
    return static_cast<std::uint32_t>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(head, wantFirst), _mm_cmpeq_epi8(tail, wantLast))));
  };
  for (; i + 31 <= lastStart; i += 32) {
    std::uint32_t mask = candidates(i) | candidates(i + 16) << 16;
    while (mask != 0) {
      const std::size_t at = i + static_cast<std::size_t>(std::countr_zero(mask));
      if (MiddleMatches(data + at, needle)) return at;
      mask &= mask - 1;
    }
  }
  return kNotFound;
}
#endif

#if defined(__x86_64__)
// Everything stays in registers: mingw-w64's GCC does not align the stack for 32-byte values (GCC bug
// 54412), so no 256-bit value may be passed by value or spilled; always inlined into ScanAvx2.
[[gnu::target("avx2"), gnu::always_inline]] inline std::uint32_t Avx2Candidates(const std::uint8_t* at, std::size_t k,
                                                                             std::uint8_t first, std::uint8_t last) {
  const __m256i wantFirst = _mm256_set1_epi8(static_cast<char>(first));
  const __m256i wantLast = _mm256_set1_epi8(static_cast<char>(last));
  const __m256i head = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
  const __m256i tail = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + k - 1));
  return static_cast<std::uint32_t>(
      _mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi8(head, wantFirst), _mm256_cmpeq_epi8(tail, wantLast))));
}

[[gnu::target("avx2")]] std::size_t ScanAvx2(const std::uint8_t* data, std::string_view needle, std::size_t& i,
                                              std::size_t lastStart) {
  const std::size_t k = needle.size();
  const auto first = static_cast<std::uint8_t>(needle.front());
  const auto last = static_cast<std::uint8_t>(needle.back());
  for (; i + 63 <= lastStart; i += 64) {
    std::uint64_t mask = Avx2Candidates(data + i, k, first, last) |
                         static_cast<std::uint64_t>(Avx2Candidates(data + i + 32, k, first, last)) << 32;
    while (mask != 0) {
      const std::size_t at = i + static_cast<std::size_t>(std::countr_zero(mask));
      if (MiddleMatches(data + at, needle)) return at;
      mask &= mask - 1;
    }
  }
  return kNotFound;
}

bool HaveAvx2() {
  static const bool have = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return have;
}
#endif

}  // namespace

std::size_t FindBytesWith(ScanWidth width, std::span<const std::uint8_t> haystack, std::string_view needle,
                          std::size_t from) {
  const std::size_t k = needle.size();
  const std::size_t n = haystack.size();
  if (k == 0 || from > n || n - from < k) return kNotFound;
  const std::uint8_t* data = haystack.data();
  const std::size_t lastStart = n - k;  // the highest offset a match can start at
  std::size_t i = from;
#if defined(__x86_64__)
  if (width == ScanWidth::Widest && HaveAvx2()) {
    if (const std::size_t at = ScanAvx2(data, needle, i, lastStart); at != kNotFound) return at;
  }
#else
  (void)width;
#endif
#if defined(__SSE2__)
  if (const std::size_t at = ScanSse2(data, needle, i, lastStart); at != kNotFound) return at;
#endif
  const auto first = static_cast<std::uint8_t>(needle.front());
  const auto last = static_cast<std::uint8_t>(needle.back());
  for (; i <= lastStart; ++i) {
    if (data[i] == first && data[i + k - 1] == last && MiddleMatches(data + i, needle)) return i;
  }
  return kNotFound;
}

std::size_t FindBytes(std::span<const std::uint8_t> haystack, std::string_view needle, std::size_t from) {
  return FindBytesWith(ScanWidth::Widest, haystack, needle, from);
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
