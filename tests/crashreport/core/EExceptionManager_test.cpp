// The exception manager seen from a child process (kv_manager_probe): its
// reporter runs, and each case's report procedure writes what it saw. A case
// that hangs is ended by the time bound and fails with exit code -2.
#include <gtest/gtest.h>

#include <windows.h>

#include <ostream>
#include <string>

#include "common/TestSupport.h"

namespace {

struct ManagerCase {
    const char* name;
    const wchar_t* argument;
    DWORD exitCode;
    const char* log;
};

const ManagerCase kCases[] = {
    // The report runs on a thread of its own; the events it fires run on the
    // thread that raised the exception, which waits.
    {"ReportRunsOnItsOwnThread", L"thread", 0, "report on=exception-thread of=main\nevent on=main\ndone\n"},
    // A report that reports again (directly, or through the handler slots'
    // front door) gets false at once and nothing more is reported.
    {"ReentryOnTheExceptionThreadGivesFalse", L"reentry", 0,
     "report on=exception-thread of=main\ninner=0 manager=0 inline=0\ndone\n"},
    // What the report raises on its own thread is no new capture: the raising
    // thread's record and stack copy stay the report's.
    {"RaiseInsideTheReportLeavesTheCaptureAlone", L"raise-inside-report", 0,
     "report on=exception-thread of=main\nlast=kept saved-stack-of=main\ndone\n"},
    // A memory-leak report runs on the capturing thread itself.
    {"ReentryInlineGivesFalse", L"reentry-inline", 0, "report on=raising of=main\ninner=0 manager=0 inline=1\nresult=0\ndone\n"},
    // Once a dialog has painted, the waiting main thread dispatches its
    // messages; a request to quit that arrives meanwhile is lost.
    {"QuitDuringAReportIsLost", L"quit-lost", 0, "report on=exception-thread of=main\nmarker=served\nquit=lost\ndone\n"},
    // Before a dialog has painted nothing is dispatched; afterwards the
    // windows are painted and served on the raising thread, and the user's
    // input to them is dropped.
    {"RaisingThreadKeepsPainting", L"keeps-painting", 0,
     "report on=exception-thread of=main\nbefore-paint=held marker=served input=0 painted=main\ndone\n"},
    // At most 11 messages a turn, so that the raising thread keeps running the
    // events handed to it.
    {"AtMostElevenMessagesATurn", L"many-messages", 0,
     "report on=exception-thread of=main\nserved=all longest-turn=at-most-11\ndone\n"},
    // The report reads a main-thread window's text while the main thread
    // waits and no dialog has painted yet.
    {"ReportReadsTheMainWindowsText", L"reads-main-window", 0,
     "report on=exception-thread of=main\ntext=Kestrel main\ndone\n"},
    // The text of an edit: every window here is Unicode.
    {"PasswordEditGivesAsterisks", L"password-edit", 0, "class=Edit text=*********\ndone\n"},
    {"PlainEditGivesItsText", L"plain-edit", 0, "class=Edit text=Secret 42\ndone\n"},
    {"MultiLineEditGivesNoText", L"multiline-edit", 0, "class=Edit text=\ndone\n"},
    // A worker's report reads the focused main-thread edit when the main
    // thread answers, and goes on without its text when it only waits.
    {"WorkerReportReadsTheFocusedEditOfTheMainThread", L"worker-main-serves", 0, "class=Edit text=Secret 42\ndone\n"},
    {"WorkerReportGoesOnWhenTheMainThreadDoesNotAnswer", L"worker-main-waits", 0, "class=Edit text=\ndone\n"},
    // A silent abort, and any class derived from it, is never reported; the
    // handler slot passes it on to the program's own handler.
    {"AbortIsNotReported", L"abort", 0, "abort=1 derived=1\nslot Operation aborted\ndone\n"},
    // What fails inside the report is the reporter's own failure: it goes to
    // the internal-error report, never to the application's handler.
    {"ReportThatThrowsReachesTheInternalError", L"report-throws", 0,
     "report on=exception-thread of=main\ninternal ExceptionManager ProbeError\ndone\n"},
    {"ReportThatFaultsReachesTheInternalError", L"report-faults", 0,
     "report on=exception-thread of=main\ninternal ExceptionManager kv::EAccessViolation\ndone\n"},
    {"HandlerSlotInsideTheReportReachesTheInternalError", L"report-reaches-slot", 0,
     "report on=exception-thread of=main\ninternal ExceptionManager ProbeError\nafter-slot\ndone\n"},
    // A report from the last-chance filter tells the sender that the program is ending.
    {"LastChanceFilterReportIsInline", L"filter-inline", 0xC0000005,
     "report on=exception-thread of=main\ninline=1\n"},
    // A safecall exception is marked once; without the option to handle
    // them, a marked one is not reported.
    {"SafeCallMarkedOnce", L"safecall", 0,
     "report\nmessage=[SafeCall Exception]: probe\nreport\nagain=[SafeCall Exception]: probe\nunhandled-safecall=0\n"
     "done\n"},
    {"ForceTerminateSetsTheRequestAndOperation", L"force-terminate", 0, "requested=1 operation=2\ndone\n"},
};

// A failure names the case, not its bytes.
void PrintTo(const ManagerCase& c, std::ostream* out) { *out << c.name; }

class ManagerProbeTest : public testing::TestWithParam<ManagerCase> {};

TEST_P(ManagerProbeTest, ReportsAndExitCode)
{
    const ManagerCase& c = GetParam();
    const std::wstring log = kvtest::ScratchFolder(L"manager") + L"events.log";
    // Generous: a case ends in well under a second unless it hangs.
    const int code = kvtest::RunProbe(L"kv_manager_probe.exe", c.argument, log, 30000);
    const std::string events = kvtest::PathExists(log) ? kvtest::ReadBytes(log) : std::string();
    EXPECT_EQ(static_cast<DWORD>(code), c.exitCode) << events;
    EXPECT_EQ(events, c.log);
}

INSTANTIATE_TEST_SUITE_P(Cases, ManagerProbeTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<ManagerCase>& info) { return std::string(info.param.name); });

} // namespace
