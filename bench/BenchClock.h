#pragma once
// Timing helpers shared by the benchmarks that compare the program with a peer.
#include <windows.h>

#include <algorithm>
#include <vector>

namespace kvbench {

// Seconds on the performance counter.
inline double Now()
{
    LARGE_INTEGER counter{}, frequency{};
    ::QueryPerformanceCounter(&counter);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

inline double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace kvbench
