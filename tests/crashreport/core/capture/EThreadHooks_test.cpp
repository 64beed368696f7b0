#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "crashreport/core/ECallStack.h"
#include "crashreport/core/ECore.h"
#include "crashreport/core/EThreadsList.h"
#include "crashreport/core/ExceptionLog.h"
#include "crashreport/core/capture/EThreadHooks.h"

namespace {

using namespace kv::crashreport;

// ---- The hooks at work, in a child process whose reporter is on

struct ProbeCase {
    const char* name;
    const wchar_t* argument;
    std::vector<std::string> lines; // each must appear in the log, whole
};

const ProbeCase kProbeCases[] = {
    // The creator is the thread that resumed: a thread made suspended by a
    // helper and resumed by the main thread has the main thread's stack as
    // its creator's; one made running was resumed by its maker.
    {"CreatorIsTheResumer",
     L"creator",
     {"suspended-creator=main", "suspended-creator-stack-names-resumer=1", "running-creator=helper", "done"}},
    // A worker is listed with its object and class; the reporter's own
    // threads are not; workers leave the list through their ExitThread.
    {"WorkerListedWithItsClass",
     L"worker",
     {"worker-listed=1", "worker-class=ProbeWorker", "worker-object=1", "worker-runtime=1", "worker-creator=main",
      "owned-class=ProbeWorker", "reporter-thread-listed=0", "ended-workers-listed=0", "done"}},
    // A plain thread starts in the wrapper, which notes its stack top; the
    // registry keeps it though its creator closed its handle, and drops it
    // when it ends.
    {"PlainThreadRunsThroughTheWrapper",
     L"plain",
     {"plain-listed=1", "plain-routine=1", "plain-runtime=0", "plain-top-of-stack=1", "plain-started-by-wrapper=1",
      "plain-listed-after-end=0", "done"}},
    // The stack of a paused thread, read through the registry's handle: its
    // calls in order, described through the program's own data; the
    // reporter's own frame shows only its module.
    {"PausedThreadStackInOrder",
     L"paused-stack",
     {"plain-show=1", "plain-pause=1", "paused-and-read=1", "frames-in-order=1",
      "frame-procedures=StackMiddle,StackOuter,StackEntry(void*)@4,", "frame-unit=ThreadProbe.cpp",
      "wrapper-frame-module-only=1", "done"}},
    // Twenty workers throw at the same moment: twenty reports, each with its
    // own thread, the address in its own throwing routine, and its own stack.
    {"TwentyThreadsThrowingAtOnce",
     L"throwers",
     {"reports=20", "distinct-threads=20", "distinct-addresses=20", "own-address=20", "own-stack=20", "done"}},
    // A worker's stack overflow is reported once, and the process goes on.
    {"WorkerStackOverflowReportedOnce", L"overflow", {"report class=kv::EStackOverflow", "overflow-reports=1", "done"}},
    // A module without data of its own is described through the files beside
    // it (the JCL copy of the fixture DLL): its source file and a line of the
    // routine's body.
    {"OutsideDebugDataInstalledAtStart",
     L"outside-sources",
     {"outside-unit=DebugInfoTargetDll.cpp", "outside-procedure=_DebugTargetSum", "outside-line-in-body=1", "done"}},
    // A DLL's reporter passes its threads on to the program's registry: made,
    // resumed (with the resumer's stack) and ended.
    {"DllThreadsReachTheProgramsRegistry",
     L"dll-threads",
     {"dll-thread-copied=1", "dll-thread-resumer=main", "dll-thread-creator-stack=1", "dll-thread-listed-after-end=0",
      "done"}},
};

std::vector<std::string> LogLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    while (start < text.size()) {
        const auto end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return lines;
}

class ThreadProbeTest : public testing::TestWithParam<ProbeCase> {};

TEST_P(ThreadProbeTest, LogHoldsEveryExpectedLine)
{
    const ProbeCase& c = GetParam();
    const std::wstring log = kvtest::ScratchFolder(L"threadprobe") + L"log.txt";
    const int code = kvtest::RunProbe(L"kv_thread_probe.exe", c.argument, log);
    const std::string text = kvtest::PathExists(log) ? kvtest::ReadBytes(log) : std::string();
    EXPECT_EQ(code, 0) << text;
    const std::vector<std::string> lines = LogLines(text);
    for (const std::string& expected : c.lines)
        EXPECT_TRUE(std::find(lines.begin(), lines.end(), expected) != lines.end()) << expected << "\n" << text;
}

INSTANTIATE_TEST_SUITE_P(Cases, ThreadProbeTest, testing::ValuesIn(kProbeCases),
                         [](const testing::TestParamInfo<ProbeCase>& info) { return std::string(info.param.name); });

// ---- Which threads a report shows and pauses

enum class Kind { Windows, Worker, Main };

struct OptionsCase {
    const char* name;
    Kind kind;
    bool showWindows, showRuntime, pauseWindows, pauseRuntime, doNotPauseMain;
    bool show, pause;
};

// The rules as the options describe them: a thread is a runtime thread when
// it is the main thread or has a worker object; the main thread is never
// paused while "do not pause the main thread" is set.
const OptionsCase kOptionsCases[] = {
    {"WindowsThreadShownAndPausedByItsOwnOptions", Kind::Windows, true, false, true, false, false, true, true},
    {"WindowsThreadIgnoresRuntimeOptions", Kind::Windows, false, true, false, true, false, false, false},
    {"WorkerShownAndPausedByRuntimeOptions", Kind::Worker, false, true, false, true, true, true, true},
    {"WorkerIgnoresWindowsOptions", Kind::Worker, true, false, true, false, false, false, false},
    {"MainThreadIsARuntimeThread", Kind::Main, false, true, false, true, false, true, true},
    {"MainThreadNotPausedWhenAsked", Kind::Main, false, true, false, true, true, true, false},
    {"MainThreadIgnoresWindowsOptions", Kind::Main, true, false, true, false, false, false, false},
};

class ThreadOptionsTest : public testing::TestWithParam<OptionsCase> {};

TEST_P(ThreadOptionsTest, ShowAndPause)
{
    const OptionsCase& c = GetParam();
    TOspreyModuleOptions options("");
    TCallStackOptions callStack;
    if (c.showWindows) callStack.Include(csoShowWindowsThreads);
    if (c.showRuntime) callStack.Include(csoShowRuntimeThreads);
    options.SetCallStackOptions(callStack);
    TBehaviourOptions behaviour;
    if (c.pauseWindows) behaviour.Include(boPauseWindowsThreads);
    if (c.pauseRuntime) behaviour.Include(boPauseRuntimeThreads);
    if (c.doNotPauseMain) behaviour.Include(boDoNotPauseMainThread);
    options.SetBehaviourOptions(behaviour);

    int object = 0;
    TOspreyThreadInfo record;
    record.ID = c.kind == Kind::Main ? ReporterMainThreadId() : ReporterMainThreadId() + 4;
    if (c.kind == Kind::Worker) record.Thread = &object;
    EXPECT_EQ(ShowThreadCallStack(record, options), c.show);
    EXPECT_EQ(PauseThread(record, options), c.pause);
}

INSTANTIATE_TEST_SUITE_P(Cases, ThreadOptionsTest, testing::ValuesIn(kOptionsCases),
                         [](const testing::TestParamInfo<OptionsCase>& info) { return std::string(info.param.name); });

// ---- The creator's stack

[[gnu::noinline]] std::uint32_t ReturnAddressHere()
{
    return reinterpret_cast<std::uint32_t>(__builtin_return_address(0));
}

// A dump holding one return address (and noise) gives the call in front of
// it, marked with the resumer's id and not as the running thread's.
TEST(CreatorStack, DumpScannedWithTheResumersId)
{
    const std::uint32_t returnAddress = ReturnAddressHere();
    std::vector<std::uint8_t> bytes(64, 0);
    const std::uint32_t noise = 0x1234;
    std::memcpy(bytes.data() + 8, &noise, 4);
    std::memcpy(bytes.data() + 20, &returnAddress, 4);
    TOspreyThreadInfo record;
    record.CallerID = 4242;
    record.CallerStackDump = std::make_shared<const std::vector<std::uint8_t>>(bytes);
    record.CallerStackSize = 64;
    TOspreyStackList list;
    AddCreatorStack(list, record);
    ASSERT_GE(list.Count(), 1);
    const TOspreyDebugInfo& call = *list[list.Count() - 1];
    EXPECT_EQ(call.Addr, returnAddress - 5) << "the direct call in front of the return address";
    EXPECT_EQ(call.ThreadID, 4242u);
    EXPECT_FALSE(call.RunningThread);
    EXPECT_FALSE(call.ErrorLine);
}

TEST(CreatorStack, NoDumpAddsNothing)
{
    TOspreyThreadInfo record;
    record.CallerID = 7;
    TOspreyStackList list;
    AddCreatorStack(list, record);
    record.CallerStackDump = std::make_shared<const std::vector<std::uint8_t>>();
    AddCreatorStack(list, record);
    EXPECT_EQ(list.Count(), 0);
}

} // namespace
