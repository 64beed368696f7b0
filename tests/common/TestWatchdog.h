#pragma once
// A test that never ends would hold up the whole run with nothing to show for
// it (ctest prints a test executable's output only once it has ended). The
// watchdog ends the executable with a failure instead, once a single test has
// run longer than its limit, and first prints the test's name, the windows the
// process has on show and the call stacks of its threads, so that the hang can
// be found from the log alone.
#include <windows.h>

namespace kvtest {

// The exit code of an executable the watchdog ended.
constexpr UINT WatchdogExitCode = 124;

// The limit of one test, in seconds: KV_TEST_WATCHDOG_SECONDS when set to a
// positive number, else `fallback`.
unsigned WatchdogLimitSeconds(unsigned fallback);

// Watches every test GoogleTest runs from now on (call after InitGoogleTest).
void InstallTestWatchdog(unsigned limitSeconds);

// What the watchdog prints: the windows on show and each thread's stack
// (every thread of the process but the calling one), written to `out`.
void WriteProcessState(HANDLE out);

} // namespace kvtest
