// The percentage of a progress report.
#include "update/download_progress.h"

#include <gtest/gtest.h>

namespace isetup {
namespace {

TEST(ProgressPercent, Table) {
  struct Case {
    std::uint32_t progress, maximum, status;
    std::optional<std::int32_t> percent;
  } cases[] = {
      {7089050, 14178100, 5, 50},
      {3000000000u, 4000000000u, 5, 75},  // the product needs more than 32 bits
      {1, 3, 5, 33},
      {14178100, 14178100, 5, 100},
      {200, 100, 5, 200},  // not clamped
      {0, 100, 5, std::nullopt},
      {50, 100, 2, std::nullopt},
      {50, 100, 4, std::nullopt},
      {50, 100, 6, std::nullopt},
      {50, 0, 5, std::nullopt},  // unknown size: keep what is shown
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ProgressPercent(c.progress, c.maximum, c.status), c.percent) << c.progress << "/" << c.maximum;
  }
}

}  // namespace
}  // namespace isetup
