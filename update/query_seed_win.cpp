// The query seed on Windows: the performance counter's low 32 bits, else the millisecond tick count.
#include "update/query_seed.h"

#include <windows.h>

namespace isetup {

std::uint32_t QuerySeedFromClock() {
  LARGE_INTEGER counter;
  if (QueryPerformanceCounter(&counter)) return static_cast<std::uint32_t>(counter.QuadPart);
  return GetTickCount();
}

}  // namespace isetup
