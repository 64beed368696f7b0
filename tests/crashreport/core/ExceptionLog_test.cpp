// The reporter's capture seen from child processes: kv_crash_probe_data
// carries reporter data, so its reporter starts and every report it would
// make is recorded as a line; kv_crash_probe carries none, so its reporter
// stays off and only the last-chance filter is in place.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "common/TestSupport.h"
#include "crashreport/core/ExceptionLog.h"

namespace {

struct ReporterCase {
    const char* name;
    const wchar_t* probe;
    const wchar_t* argument;
    DWORD exitCode;
    const char* log;
};

constexpr const wchar_t* kWithData = L"kv_crash_probe_data.exe";
constexpr const wchar_t* kWithoutData = L"kv_crash_probe.exe";

// "stack=N" is the length of the raising stack the reporter copied; the
// table gives the lines with N replaced by "*" unless N is what the case is
// about.
const ReporterCase kCases[] = {
    {"CaughtIsNotReported", kWithData, L"caught", 0, "done\n"},
    {"MismatchedInnerCatch", kWithData, L"mismatched", 0, "done\n"},
    {"CatchAllIsNotReported", kWithData, L"catch-all", 0, "done\n"},
    {"RethrowInCatch", kWithData, L"rethrow", 0, "done\n"},
    {"LibraryThrow", kWithData, L"library", 0, "done\n"},
    // With "catch handled exceptions": at the end of the catch block, once;
    // an exception the application's slot already reported is not reported again.
    {"HandledCapture", kWithData, L"caught-handled", 0,
     "report handled=1 raiser=0 class=ProbeError stack=*\nreport handled=0 raiser=1 class=ProbeError stack=*\n"
     "slot 10ProbeError\ndone\n"},
    {"NoexceptTerminates", kWithData, L"noexcept", 1, "report handled=0 raiser=0 class=ProbeError stack=*\n"},
    {"UnhandledOnMainThread", kWithData, L"unhandled", 1, "report handled=0 raiser=0 class=ProbeError stack=*\n"},
    {"RaiseInsideTheReport", kWithData, L"raise-in-report", 1, "report handled=0 raiser=0 class=ProbeError stack=*\n"},
    {"DeepRecursionKeepsTheNearestBytes", kWithData, L"deep-recursion", 1,
     "report handled=0 raiser=0 class=ProbeError stack=102400\n"},
    {"WindowProcedureLoopGoesOn", kWithData, L"window-throw", 0,
     "report handled=0 raiser=1 class=ProbeError stack=*\nslot 10ProbeError\n"
     "report handled=0 raiser=1 class=ProbeError stack=*\nslot 10ProbeError\ndone\n"},
    {"WorkerReportedOnce", kWithData, L"worker", 0,
     "report handled=0 raiser=0 class=ProbeError stack=*\nthread-slot 10ProbeError\ndone\n"},
    {"GuardedAccessViolation", kWithData, L"guarded-av", 0,
     "report handled=0 raiser=1 class=kv::EAccessViolation stack=*\nslot N2kv16EAccessViolationE code C0000005\n"
     "done\n"},
    {"UnguardedAccessViolation", kWithData, L"unguarded-av", 0xC0000005,
     "report handled=0 raiser=0 class=kv::EAccessViolation stack=*\n"},
    // A fault off the main thread is judged by the handler chain as it stood
    // at the fault: the guard that took it is on it, so only its slot reports.
    {"RawThreadGuardedFaultLeftToTheGuard", kWithData, L"raw-thread-guarded-av", 0,
     "report handled=0 raiser=1 class=kv::EAccessViolation stack=*\nslot N2kv16EAccessViolationE code C0000005\n"
     "done\n"},
    // A stack overflow is reported at once, whatever handler would take it;
    // the thread's slot then passes it on without a second report.
    {"WorkerStackOverflowReportedOnce", kWithData, L"worker-overflow", 0,
     "report handled=0 raiser=0 class=kv::EStackOverflow stack=*\nthread-slot N2kv14EStackOverflowE code C00000FD\n"
     "done\n"},
    // Twenty threads raising at once each keep their own last exception.
    {"TwentyThreadsKeepTheirOwnLastException", kWithData, L"own-records", 0, "own-record 20/20\ndone\n"},
    // ...and their reports, one each, name the thread and the place it raised at.
    {"TwentyThreadsReportTheirOwnRaise", kWithData, L"own-reports", 0,
     "reports 20 own-thread 20 own-address 20\ndone\n"},
    // A report made after the raising frames are gone (at the end of a
    // catch block that overwrote them, in the application's slot) scans the
    // copy of the stack taken at the raise: it holds the return addresses
    // the unwinder saw under the throw.
    {"HandledCaptureScansTheRaisingStack", kWithData, L"handled-scribbled", 0,
     "report handled=1 raiser=0 class=ProbeError stack=*\nfirst-throw frames 3/3 asynchronous=0\ndone\n"},
    {"SlotScansTheRaisingStack", kWithData, L"slot-after-throw", 0,
     "report handled=0 raiser=1 class=ProbeError stack=*\nfirst-throw frames 3/3 asynchronous=0\n"
     "slot 10ProbeError\ndone\n"},
    // A method run on the main thread for a worker throws: the exception is
    // carried back and thrown again on the worker, where its report is
    // marked as from a synchronized method and scans the first throw's stack.
    {"SynchronizedMethodCarriedBack", kWithData, L"synchronize", 0,
     "report handled=0 raiser=0 class=ProbeError stack=*\nfirst-throw frames 3/3 asynchronous=2\n"
     "thread-slot 10ProbeError\ndone\n"},
    // The catch that carries it back is no handler: no handled report there.
    {"SynchronizedMethodNotHandledWhereItRan", kWithData, L"synchronize-handled-capture", 0,
     "report handled=0 raiser=0 class=ProbeError stack=*\nfirst-throw frames 3/3 asynchronous=2\n"
     "thread-slot 10ProbeError\ndone\n"},
    {"ThreadNamingUnseen", kWithData, L"thread-name", 0, "saved-record 00000000\ndone\n"},
    // Each of the six import cells holds its hook once the reporter runs, and
    // its old value (kernel32's procedure) once it has stopped.
    {"ImportCellsWithData", kWithData, L"import-cells", 0,
     "started RaiseException hook\nstarted RtlUnwind hook\nstarted WriteFile hook\nstarted CreateThread hook\nstarted ResumeThread hook\nstarted ExitThread hook\n"
     "stopped RaiseException kernel32\nstopped RtlUnwind kernel32\nstopped WriteFile kernel32\nstopped CreateThread kernel32\nstopped ResumeThread kernel32\nstopped ExitThread kernel32\ndone\n"},
    // A DLL with the reporter passes its raise on to the program's reporter
    // (the synthetic record of a native raise, seven arguments), and its
    // handler slot's report goes to the program's exception manager.
    {"DllRaiseForwarded", kWithData, L"dll-raise", 0, "forwarded-record 0EEDFADE 7\ndone\n"},
    {"DllSlotReportForwarded", kWithData, L"dll-slot", 0,
     "report handled=0 raiser=1 class=ProbeDllError stack=*\ndone\n"},
    // A web program's output passes the reporter's sink: a CGI program's
    // through the WriteFile hook, an ISAPI extension's through the wrapper of
    // its detoured entry point, which leaves the server's WriteClient serving.
    {"WriteFileReachesTheSink", kWithData, L"write-file", 0, "write-file sink=Content-Type: text/html\ndone\n"},
    {"IsapiWrapper", kWithData, L"isapi", 0,
     "isapi status=success served=<html>page</html> sink=[client]<html>page</html>\ndone\n"},
    // Without data the reporter stays off: no cell changes; the filter still
    // ends the process with the fault's code.
    {"NoDataImportCellsUntouched", kWithoutData, L"import-cells", 0,
     "started RaiseException kernel32\nstarted RtlUnwind kernel32\nstarted WriteFile kernel32\nstarted CreateThread kernel32\nstarted ResumeThread kernel32\nstarted ExitThread kernel32\n"
     "stopped RaiseException kernel32\nstopped RtlUnwind kernel32\nstopped WriteFile kernel32\nstopped CreateThread kernel32\nstopped ResumeThread kernel32\nstopped ExitThread kernel32\ndone\n"},
    {"NoDataUnguardedAccessViolation", kWithoutData, L"unguarded-av", 0xC0000005, ""},
    {"NoDataUnhandledAborts", kWithoutData, L"unhandled", 3,
     "raise throw 10ProbeError\nnohandler 10ProbeError\nraise rethrow 10ProbeError\n"},
};

// Replaces every "stack=N" whose N the table does not give with "stack=*".
std::string MaskStackLengths(std::string log, const std::string& expected)
{
    if (expected.find("stack=*") == std::string::npos) return log;
    std::string::size_type at = 0;
    while ((at = log.find("stack=", at)) != std::string::npos) {
        at += 6;
        const std::string::size_type end = log.find('\n', at);
        log.replace(at, end - at, "*");
    }
    return log;
}

std::string RunReporterProbe(const wchar_t* probe, const wchar_t* argument, DWORD& exitCode);

class ReporterProbeTest : public testing::TestWithParam<ReporterCase> {};

TEST_P(ReporterProbeTest, ReportsAndExitCode)
{
    const ReporterCase& c = GetParam();
    DWORD code = 0;
    const std::string events = RunReporterProbe(c.probe, c.argument, code);
    EXPECT_EQ(code, c.exitCode);
    EXPECT_EQ(MaskStackLengths(events, c.log), c.log) << events;
}

INSTANTIATE_TEST_SUITE_P(Cases, ReporterProbeTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<ReporterCase>& info) { return std::string(info.param.name); });

std::string RunReporterProbe(const wchar_t* probe, const wchar_t* argument, DWORD& exitCode)
{
    const std::wstring log = kvtest::ScratchFolder(L"reporter") + L"events.log";
    exitCode = static_cast<DWORD>(kvtest::RunProbe(probe, argument, log));
    return kvtest::PathExists(log) ? kvtest::ReadBytes(log) : std::string();
}

// A report runs on a worker while the main thread stops the reporter: the
// stop waits for the report's end on the main lock.
TEST(ExceptionLogTest, StopWaitsForTheReportInProgress)
{
    DWORD code = 0;
    const std::string events = RunReporterProbe(kWithData, L"stop-during-report", code);
    EXPECT_EQ(code, 0u);
    const auto end = events.find("report end\n");
    const auto stopped = events.find("stopped active=0\n");
    ASSERT_NE(end, std::string::npos) << events;
    ASSERT_NE(stopped, std::string::npos) << events;
    EXPECT_LT(end, stopped) << events;
}

// This test executable carries no reporter data: its reporter stays off.
TEST(ExceptionLogTest, WithoutDataTheReporterIsOff)
{
    EXPECT_FALSE(kv::crashreport::ReporterActive());
}

} // namespace
