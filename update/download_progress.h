// The percentage that a progress report of a transfer stands for.
#pragma once

#include <cstdint>
#include <optional>

namespace isetup {

inline constexpr std::uint32_t kBindStatusDownloadingData = 5;

// progress * 100 / maximum (exact, truncated, not clamped) for a downloading report with nonzero
// progress; std::nullopt (leave the percentage as it is) for other reports and when the maximum is 0.
std::optional<std::int32_t> ProgressPercent(std::uint32_t progress, std::uint32_t maximum,
                                            std::uint32_t statusCode);

}  // namespace isetup
