// The query seed off Windows: the low 32 bits of the steady clock.
#include "update/query_seed.h"

#include <chrono>

namespace isetup {

std::uint32_t QuerySeedFromClock() {
  return static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

}  // namespace isetup
