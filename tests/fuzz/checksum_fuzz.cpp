// Fuzzes the byte-sum checksum differentially: the routine sums without copying, the model copies the
// data, blanks the two fields the plain way and sums every byte.
#include <vector>

#include "payload/checksum.h"
#include "tests/fuzz/fuzz_models.h"

using namespace isetup;
using namespace isetup::fuzz;

namespace {

// Nine bytes starting six bytes after the marker's first byte become "0"; bytes past the end stay absent.
void BlankField(std::vector<std::uint8_t>& content, std::size_t markerOffset) {
  for (std::size_t i = markerOffset + 6; i < markerOffset + 15 && i < content.size(); ++i) content[i] = '0';
}

std::int32_t ModelChecksum(std::vector<std::uint8_t> content) {
  if (const auto affid = NaiveFind(content, "affid=")) BlankField(content, *affid);
  // Searched in the content as the first blanking left it.
  if (const auto affsid = NaiveFind(content, "affsid=")) BlankField(content, *affsid);
  std::uint64_t total = 0;
  for (const std::uint8_t byte : content) total += byte;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(total % 4294967296u));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> before(data, data + size);
  const std::int32_t sum = ByteSumChecksum(std::span<const std::uint8_t>(data, size));
  const std::int32_t model = ModelChecksum(before);
  FUZZ_CHECK(sum == model, "ByteSumChecksum of %zu bytes = %d, model %d", size, sum, model);
  FUZZ_CHECK(std::equal(before.begin(), before.end(), data), "ByteSumChecksum changed its input");
  return 0;
}
