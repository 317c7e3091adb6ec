// The vectorised search and sum never read past the last byte: the data ends where an unreadable page
// begins, so a single byte too far ends the test with a fault.
#include "payload/byte_scan.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

namespace isetup {
namespace {

class GuardedBytes {
 public:
  GuardedBytes() : page_(static_cast<std::size_t>(sysconf(_SC_PAGESIZE))) {
    void* pages = mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED) return;
    base_ = static_cast<std::uint8_t*>(pages);
    if (mprotect(base_ + page_, page_, PROT_NONE) != 0) {
      munmap(base_, 2 * page_);
      base_ = nullptr;
    }
  }
  ~GuardedBytes() {
    if (base_ != nullptr) munmap(base_, 2 * page_);
  }
  GuardedBytes(const GuardedBytes&) = delete;
  GuardedBytes& operator=(const GuardedBytes&) = delete;
  bool ok() const { return base_ != nullptr; }
  // `length` bytes of `fill` that end right before the unreadable page.
  std::span<const std::uint8_t> Last(std::size_t length, std::uint8_t fill) {
    std::uint8_t* start = base_ + page_ - length;
    std::memset(start, fill, length);
    return {start, length};
  }

 private:
  std::size_t page_;
  std::uint8_t* base_ = nullptr;
};

TEST(ByteScan, NeverReadsPastTheEnd) {
  GuardedBytes guarded;
  ASSERT_TRUE(guarded.ok());
  for (std::size_t length = 0; length <= 300; ++length) {
    // Every byte a candidate start ('a') so that the block loops run as far as they may.
    const auto bytes = guarded.Last(length, 'a');
    for (const ScanWidth width : {ScanWidth::Widest, ScanWidth::Sse2}) {
      EXPECT_EQ(FindBytesWith(width, bytes, "affid="), kNotFound) << length;
      EXPECT_EQ(FindBytesWith(width, bytes, "aa"), length >= 2 ? 0 : kNotFound) << length;
      EXPECT_EQ(FindBytesWith(width, bytes, "aaaaaaab"), kNotFound) << length;
    }
    EXPECT_EQ(SumBytes(bytes), 'a' * length) << length;
  }
}

}  // namespace
}  // namespace isetup
