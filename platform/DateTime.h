#pragma once
// The runtime's date-time value: days since 30 December 1899, the time of day
// as the fraction. Stored formats and report texts of the crash reporter use it.
#include <windows.h>

#include <optional>

namespace kv {

using TDateTime = double;

TDateTime SystemTimeToDateTime(const SYSTEMTIME& time);
// Empty for values outside the years 1601 to 9999.
std::optional<SYSTEMTIME> DateTimeToSystemTime(TDateTime value);
// The local date and time.
TDateTime Now();

} // namespace kv
