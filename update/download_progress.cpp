// The percentage of a transfer from one progress report.
#include "update/download_progress.h"

namespace isetup {

std::optional<std::int32_t> ProgressPercent(std::uint32_t progress, std::uint32_t maximum,
                                            std::uint32_t statusCode) {
  // A transfer of unknown size (maximum 0) keeps the percentage it had instead of dividing by zero.
  if (statusCode != kBindStatusDownloadingData || progress == 0 || maximum == 0) return std::nullopt;
  return static_cast<std::int32_t>(static_cast<std::uint64_t>(progress) * 100u / maximum);
}

}  // namespace isetup
