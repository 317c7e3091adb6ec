// The seed of the query's random number: the performance counter, else the tick count.
#pragma once

#include <cstdint>

namespace isetup {

std::uint32_t QuerySeedFromClock();

}  // namespace isetup
