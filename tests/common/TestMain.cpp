// The test executables' entry point: COM and the main-thread window are set up
// as the program sets them up, then GoogleTest runs.
#include <gtest/gtest.h>
#include <objbase.h>

#include <cstdio>

#include "common/TestWatchdog.h"
#include "platform/MessageLoop.h"

namespace {

// The longest one test may run before the watchdog ends the executable; far
// above the slowest test under full load, far below ctest's bound on the
// whole executable, so a hang is reported by name.
constexpr unsigned kTestLimitSeconds = 240;

} // namespace

int main(int argc, char** argv)
{
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    kv::InitializeMainThread();
    ::testing::InitGoogleTest(&argc, argv);
    kvtest::InstallTestWatchdog(kvtest::WatchdogLimitSeconds(kTestLimitSeconds));
    const int result = RUN_ALL_TESTS();
    // End at once: a thread still parked in a wait must not hold up the exit
    // (Wine can leave the process half-ended when the main thread returns).
    std::fflush(stdout);
    std::fflush(stderr);
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(result));
    return result;
}
