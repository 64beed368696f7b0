// A thrown and caught C++ exception with the crash reporter capturing it
// against the same with the reporter stopped, in one process (see README.md).
//   ThrowBench.exe [THROWS]     default 20000 throws per round, 7 rounds each
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "crashreport/core/ExceptionLog.h"

namespace {

[[gnu::noinline]] void Fail(int value)
{
    if (value >= 0) throw std::runtime_error("bench");
}

[[gnu::noinline]] int Layer(int depth, int value)
{
    return depth == 0 ? (Fail(value), 0) : Layer(depth - 1, value) + 1;
}

double SecondsFor(int throws)
{
    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    int caught = 0;
    for (int i = 0; i < throws; ++i) {
        try {
            Layer(4, i);
        } catch (const std::runtime_error&) {
            ++caught;
        }
    }
    ::QueryPerformanceCounter(&end);
    if (caught != throws) std::exit(2);
    return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    const int throws = argc > 1 ? std::atoi(argv[1]) : 20000;
    constexpr int kRounds = 7;
    if (!kv::crashreport::ReporterActive()) {
        std::printf("The reporter is not active (no reporter data in this executable).\n");
        return 1;
    }
    SecondsFor(throws / 10);
    std::vector<double> on;
    for (int round = 0; round < kRounds; ++round) on.push_back(SecondsFor(throws));
    kv::crashreport::FinalizeExceptionLog();
    std::vector<double> off;
    for (int round = 0; round < kRounds; ++round) off.push_back(SecondsFor(throws));
    const double perOn = Median(on) / throws * 1e6;
    const double perOff = Median(off) / throws * 1e6;
    std::printf("throw and catch, reporter on:  %.2f us\n", perOn);
    std::printf("throw and catch, reporter off: %.2f us\n", perOff);
    std::printf("ratio on / off: %.2f (goal: at most 2)\n", perOn / perOff);
    return 0;
}
