#include "platform/DateTime.h"

#include <cmath>
#include <cstdint>

namespace kv {
namespace {

// 100-ns ticks between 1 January 1601 and 30 December 1899.
constexpr std::int64_t kEpochTicks = 94353120000000000LL;
constexpr double kTicksPerDay = 864000000000.0;

} // namespace

TDateTime SystemTimeToDateTime(const SYSTEMTIME& time)
{
    FILETIME file{};
    if (!::SystemTimeToFileTime(&time, &file)) return 0;
    const std::int64_t ticks = (std::int64_t(file.dwHighDateTime) << 32) | file.dwLowDateTime;
    return static_cast<double>(ticks - kEpochTicks) / kTicksPerDay;
}

std::optional<SYSTEMTIME> DateTimeToSystemTime(TDateTime value)
{
    if (!std::isfinite(value)) return std::nullopt;
    // Whole milliseconds, so that 12:00:00 never prints as 11:59:59.
    const double ticks = std::round(value * 86400000.0) * 10000.0 + double(kEpochTicks);
    if (ticks < 0 || ticks > 2650467743990000000.0) return std::nullopt; // up to the year 9999
    const std::int64_t whole = static_cast<std::int64_t>(ticks);
    FILETIME file{static_cast<DWORD>(whole), static_cast<DWORD>(whole >> 32)};
    SYSTEMTIME time{};
    if (!::FileTimeToSystemTime(&file, &time)) return std::nullopt;
    return time;
}

TDateTime Now()
{
    SYSTEMTIME time{};
    ::GetLocalTime(&time);
    return SystemTimeToDateTime(time);
}

} // namespace kv
