// A child process for the thread-registry tests: it carries reporter data, so
// its reporter starts and hooks CreateThread, ResumeThread and ExitThread.
// Runs one case and writes what it found, one "key=value" line at a time,
// to a log file:
//   kv_thread_probe CASE LOGFILE
// Reports are recorded by the report procedure ("report ..." lines) instead
// of being shown.
#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "crashreport/core/ECallStack.h"
#include "crashreport/core/ECore.h"
#include "crashreport/core/EExceptionManager.h"
#include "crashreport/core/EFrameworkHandlers.h"
#include "crashreport/core/EObjects.h"
#include "crashreport/core/EThreadsList.h"
#include "crashreport/core/ExceptionLog.h"
#include "crashreport/core/capture/EThreadHooks.h"
#include "crashreport/core/debuginfo/EDebug.h"
#include "crashreport/core/debuginfo/EModules.h"
#include "platform/Exceptions.h"
#include "platform/Handles.h"
#include "platform/ProgramPhase.h"
#include "platform/WorkerThread.h"

namespace cr = kv::crashreport;

// Outside any namespace: the registry shows these plain class names.
class ProbeWorker : public kv::WorkerThread {
public:
    explicit ProbeWorker(HANDLE release) : release_(release) {}

protected:
    void Execute() override { ::WaitForSingleObject(release_, 10000); }

private:
    HANDLE release_;
};

class ThreadProbeError : public std::runtime_error {
public:
    ThreadProbeError() : std::runtime_error("thread probe") {}
};

// Named as one of the reporter's own threads.
namespace probe_own {
class TExceptionThread : public ProbeWorker {
public:
    using ProbeWorker::ProbeWorker;
};
} // namespace probe_own

namespace {

HANDLE g_log = INVALID_HANDLE_VALUE;

void Log(const std::string& line)
{
    DWORD written = 0;
    const std::string text = line + "\n";
    ::WriteFile(g_log, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::string Flag(bool value) { return value ? "1" : "0"; }

// The live record of a thread, as a snapshot; ID 0 when it is not listed.
cr::TOspreyThreadInfo RecordOf(DWORD id)
{
    cr::TOspreyThreadsList snapshot(*cr::LiveThreadsList());
    const int index = snapshot.FindByThreadID(id);
    return index >= 0 ? *snapshot.Items(index) : cr::TOspreyThreadInfo();
}

bool Listed(DWORD id) { return RecordOf(id).ID == id; }

void WaitForThreadEnd(DWORD id)
{
    kv::KernelHandle thread(::OpenThread(SYNCHRONIZE, FALSE, id));
    if (thread) ::WaitForSingleObject(thread.Get(), 10000);
}

DWORD WINAPI WaitForRelease(void* release)
{
    ::WaitForSingleObject(static_cast<HANDLE>(release), 10000);
    return 0;
}

// ---- Who is the creator

struct Created {
    HANDLE handle = nullptr;
    DWORD id = 0;
    DWORD flags = 0;
    HANDLE release = nullptr;
};

DWORD WINAPI CreateFromHelper(void* parameter)
{
    auto* created = static_cast<Created*>(parameter);
    created->handle = ::CreateThread(nullptr, 0, WaitForRelease, created->release, created->flags, &created->id);
    return 0;
}

[[gnu::noinline]] DWORD ResumeFromMain(HANDLE thread)
{
    const DWORD previous = ::ResumeThread(thread);
    asm volatile("" ::: "memory");
    return previous;
}

// A helper thread makes the thread; with CREATE_SUSPENDED the main thread
// resumes it later.
std::string CreatorOf(DWORD flags, HANDLE release, DWORD& helperId, bool& resumerStackNamed)
{
    Created created;
    created.flags = flags;
    created.release = release;
    kv::KernelHandle helper(::CreateThread(nullptr, 0, CreateFromHelper, &created, 0, &helperId));
    ::WaitForSingleObject(helper.Get(), 10000);
    kv::KernelHandle thread(created.handle);
    if (flags & CREATE_SUSPENDED) {
        ::Sleep(50);
        if (RecordOf(created.id).CallerID != 0) return "resumed-before-its-time";
        ResumeFromMain(thread.Get());
    }
    const cr::TOspreyThreadInfo record = RecordOf(created.id);
    cr::TOspreyStackList stack;
    cr::AddCreatorStack(stack, record);
    resumerStackNamed = false;
    for (int i = 0; i < stack.Count(); ++i)
        if (stack[i]->ProcedureName.find("ResumeFromMain") != std::string::npos && stack[i]->ThreadID == record.CallerID &&
            !stack[i]->RunningThread)
            resumerStackNamed = true;
    return record.CallerID == ::GetCurrentThreadId() ? "main" : record.CallerID == helperId ? "helper" : "other";
}

void RunCreatorCase()
{
    kv::KernelHandle release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    DWORD helperId = 0;
    bool named = false;
    Log("suspended-creator=" + CreatorOf(CREATE_SUSPENDED, release.Get(), helperId, named));
    Log("suspended-creator-stack-names-resumer=" + Flag(named));
    Log("running-creator=" + CreatorOf(0, release.Get(), helperId, named));
    ::SetEvent(release.Get());
}

// ---- Workers

void RunWorkerCase()
{
    kv::KernelHandle release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ProbeWorker* worker = kv::WorkerThread::Start<ProbeWorker>(release.Get());
    const DWORD workerId = worker->ThreadId();
    const cr::TOspreyThreadInfo record = RecordOf(workerId);
    Log("worker-listed=" + Flag(record.ID == workerId));
    Log("worker-class=" + cr::ThreadClassName(record));
    Log("worker-object=" + Flag(record.Thread == static_cast<kv::WorkerThread*>(worker)));
    Log("worker-runtime=" + Flag(cr::IsRuntimeThread(record)));
    Log("worker-creator=" + std::string(record.CallerID == ::GetCurrentThreadId() ? "main" : "other"));

    auto owned = kv::WorkerThread::Create<ProbeWorker>(release.Get());
    owned->SetPriority(THREAD_PRIORITY_ABOVE_NORMAL);
    owned->Resume();
    const DWORD ownedId = owned->ThreadId();
    Log("owned-class=" + cr::ThreadClassName(RecordOf(ownedId)));

    const DWORD ownId = kv::WorkerThread::Start<probe_own::TExceptionThread>(release.Get())->ThreadId();
    Log("reporter-thread-listed=" + Flag(Listed(ownId)));

    ::SetEvent(release.Get());
    owned->WaitFor();
    WaitForThreadEnd(workerId);
    WaitForThreadEnd(ownId);
    // They left through ExitThread, before any purge.
    Log("ended-workers-listed=" + Flag(Listed(workerId) || Listed(ownedId)));
}

// ---- Plain threads

struct PlainState {
    HANDLE release = nullptr;
    std::atomic<bool> started{false};
    std::uint32_t stackBase = 0;
    const void* returnAddress = nullptr;
    // Return addresses of the calls StackEntry -> StackOuter -> StackMiddle -> StackInner.
    std::uint32_t intoInner = 0, intoMiddle = 0, intoOuter = 0;
};

[[gnu::noinline]] int StackInner(PlainState& state)
{
    state.intoInner = reinterpret_cast<std::uint32_t>(__builtin_return_address(0));
    state.started = true;
    ::WaitForSingleObject(state.release, 10000);
    return 1;
}

[[gnu::noinline]] int StackMiddle(PlainState& state)
{
    state.intoMiddle = reinterpret_cast<std::uint32_t>(__builtin_return_address(0));
    volatile int result = StackInner(state);
    return result + 1;
}

[[gnu::noinline]] int StackOuter(PlainState& state)
{
    state.intoOuter = reinterpret_cast<std::uint32_t>(__builtin_return_address(0));
    volatile int result = StackMiddle(state);
    return result + 1;
}

DWORD WINAPI StackEntry(void* parameter)
{
    auto& state = *static_cast<PlainState*>(parameter);
    state.returnAddress = __builtin_return_address(0);
    state.stackBase = reinterpret_cast<std::uint32_t>(reinterpret_cast<NT_TIB*>(::NtCurrentTeb())->StackBase);
    volatile int result = StackOuter(state);
    return static_cast<DWORD>(result);
}

// The entry of `stack` at the call that returns to `returnAddress`; -1 when none.
int CallEntry(const cr::TOspreyStackList& stack, std::uint32_t returnAddress)
{
    for (int i = 0; i < stack.Count(); ++i)
        if (stack[i]->DebugDetail != cr::ddNone && stack[i]->Addr < returnAddress && stack[i]->Addr + 7 >= returnAddress)
            return i;
    return -1;
}

void RunPlainCase(bool pause)
{
    PlainState state;
    kv::KernelHandle release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    state.release = release.Get();
    DWORD id = 0;
    // The creator lets its handle go at once; the registry keeps its own.
    ::CloseHandle(::CreateThread(nullptr, 0, StackEntry, &state, 0, &id));
    kv::KernelHandle thread(::OpenThread(SYNCHRONIZE, FALSE, id));
    for (int i = 0; i < 1000 && !state.started; ++i) ::Sleep(5);
    cr::LiveThreadsList()->PurgeList();
    const cr::TOspreyThreadInfo record = RecordOf(id);
    Log("plain-listed=" + Flag(record.ID == id));
    Log("plain-routine=" + Flag(record.CreateThreadFunction == StackEntry && record.Thread == nullptr));
    Log("plain-runtime=" + Flag(cr::IsRuntimeThread(record)));
    Log("plain-top-of-stack=" + Flag(record.TopOfStack != 0 && record.TopOfStack == state.stackBase));
    const auto wrapper = reinterpret_cast<const std::uint8_t*>(&cr::ThreadStartWrapper);
    const auto* from = static_cast<const std::uint8_t*>(state.returnAddress);
    Log("plain-started-by-wrapper=" + Flag(from > wrapper && from < wrapper + 256));

    if (pause) {
        cr::TOspreyModuleOptions& options = *cr::CurrentOspreyLogOptions();
        auto callStack = options.CallStackOptions();
        callStack.Include(cr::csoShowWindowsThreads);
        options.SetCallStackOptions(callStack);
        auto behaviour = options.BehaviourOptions();
        behaviour.Include(cr::boPauseWindowsThreads);
        options.SetBehaviourOptions(behaviour);
        Log("plain-show=" + Flag(cr::ShowThreadCallStack(record, options)));
        Log("plain-pause=" + Flag(cr::PauseThread(record, options)));

        CONTEXT context{};
        context.ContextFlags = CONTEXT_CONTROL;
        const bool paused = ::SuspendThread(record.Handle) != static_cast<DWORD>(-1);
        const bool read = paused && ::GetThreadContext(record.Handle, &context);
        std::unique_ptr<cr::TOspreyStackList> stack;
        if (read)
            stack = cr::BuildRawCallStack(reinterpret_cast<const void*>(context.Eip), context.Esp, record.TopOfStack,
                                          record.ID);
        if (paused) ::ResumeThread(record.Handle);
        Log("paused-and-read=" + Flag(read && stack));
        if (stack) {
            const int inner = CallEntry(*stack, state.intoInner);
            const int middle = CallEntry(*stack, state.intoMiddle);
            const int outer = CallEntry(*stack, state.intoOuter);
            Log("frames-in-order=" + Flag(inner >= 0 && inner < middle && middle < outer));
            std::string names;
            for (int index : {inner, middle, outer})
                names += (index >= 0 ? (*stack)[index]->ProcedureName : std::string("?")) + ",";
            Log("frame-procedures=" + names);
            Log("frame-unit=" + (inner >= 0 ? (*stack)[inner]->UnitName : std::string("?")));
            // The reporter's own units show only their module.
            const int wrapperEntry = CallEntry(*stack, reinterpret_cast<std::uint32_t>(state.returnAddress));
            Log("wrapper-frame-module-only=" +
                Flag(wrapperEntry >= 0 && (*stack)[wrapperEntry]->DebugDetail == cr::ddModule));
        }
    }
    ::SetEvent(release.Get());
    ::WaitForSingleObject(thread.Get(), 10000);
    // Gone at its end, through the wrapper's ExitThread: no purge ran since.
    Log("plain-listed-after-end=" + Flag(Listed(id)));
}

// ---- Twenty threads throwing at once

constexpr int kThrowers = 20;

struct Thrower {
    DWORD id = 0;
    std::uint32_t stackBase = 0;
    const void* code = nullptr; // where its throwing routine begins
};
Thrower g_throwers[kThrowers];

struct SeenReport {
    DWORD threadId;
    const void* address;
    std::uint32_t stackPoint;
    std::uint32_t topOfStack;
};
CRITICAL_SECTION g_reportsLock;
std::vector<SeenReport> g_reports;
std::atomic<int> g_reportCount{0};
HANDLE g_go = nullptr;

bool RecordReport(const cr::CaughtException& caught)
{
    ::EnterCriticalSection(&g_reportsLock);
    g_reports.push_back({caught.ThreadID, caught.Address, caught.StackPoint, caught.TopOfStack});
    ::LeaveCriticalSection(&g_reportsLock);
    Log("report class=" + cr::ClassNameOf(caught.Object));
    ++g_reportCount;
    return true;
}

volatile int g_sink = 0;

template <int N>
[[gnu::noinline]] void ThrowAt()
{
    g_sink = N;
    throw ThreadProbeError();
}

using ThrowRoutine = void (*)();
template <int... N>
constexpr std::array<ThrowRoutine, sizeof...(N)> MakeThrowers(std::integer_sequence<int, N...>)
{
    return {&ThrowAt<N>...};
}
const auto kThrowAt = MakeThrowers(std::make_integer_sequence<int, kThrowers>());

class ThrowingWorker : public kv::WorkerThread {
public:
    explicit ThrowingWorker(int index) : index_(index) {}

protected:
    void Execute() override
    {
        Thrower& self = g_throwers[index_];
        self.stackBase = reinterpret_cast<std::uint32_t>(reinterpret_cast<NT_TIB*>(::NtCurrentTeb())->StackBase);
        self.code = reinterpret_cast<const void*>(kThrowAt[static_cast<std::size_t>(index_)]);
        ::WaitForSingleObject(g_go, 10000);
        kThrowAt[static_cast<std::size_t>(index_)]();
    }

private:
    int index_;
};

// Where the throwing routine that begins at `code` ends, at the latest: where
// the next one of them begins.
const void* RoutineEnd(const void* code)
{
    const void* end = reinterpret_cast<const void*>(~std::uintptr_t{0});
    for (ThrowRoutine routine : kThrowAt) {
        const auto* start = reinterpret_cast<const void*>(routine);
        if (start > code && start < end) end = start;
    }
    return end;
}

bool IsOwnLiveStack(const SeenReport& report, const Thrower& thrower)
{
    return report.topOfStack == thrower.stackBase && report.stackPoint < thrower.stackBase &&
           report.stackPoint > thrower.stackBase - 0x100000;
}

// A report made in the worker's catch, when the process's copy of the stack
// at the raise is of that thread and that address, scans the copy (the catch
// has overwritten the live frames): a block of at most 102400 bytes that lies
// on no thrower's stack.
bool IsRaisingStackCopy(const SeenReport& report)
{
    if (report.topOfStack <= report.stackPoint || report.topOfStack - report.stackPoint > 102400) return false;
    for (const Thrower& thrower : g_throwers)
        if (report.stackPoint < thrower.stackBase && report.stackPoint > thrower.stackBase - 0x100000) return false;
    return true;
}

void RunThrowersCase()
{
    g_go = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::vector<kv::OwnedWorkerThread<ThrowingWorker>> threads;
    for (int i = 0; i < kThrowers; ++i) {
        threads.push_back(kv::WorkerThread::Create<ThrowingWorker>(i));
        g_throwers[i].id = threads.back()->ThreadId();
        threads.back()->Resume();
    }
    ::Sleep(100);
    ::SetEvent(g_go);
    for (auto& thread : threads) thread->WaitFor();

    std::set<DWORD> ids;
    std::set<const void*> addresses;
    int ownAddress = 0, ownStack = 0;
    for (const SeenReport& report : g_reports) {
        ids.insert(report.threadId);
        addresses.insert(report.address);
        for (const Thrower& thrower : g_throwers) {
            if (thrower.id != report.threadId) continue;
            if (report.address > thrower.code && report.address < RoutineEnd(thrower.code)) ++ownAddress;
            if (IsOwnLiveStack(report, thrower) || IsRaisingStackCopy(report)) ++ownStack;
        }
    }
    Log("reports=" + std::to_string(g_reports.size()));
    Log("distinct-threads=" + std::to_string(ids.size()));
    Log("distinct-addresses=" + std::to_string(addresses.size()));
    Log("own-address=" + std::to_string(ownAddress));
    Log("own-stack=" + std::to_string(ownStack));
}

// ---- A worker's stack overflow

[[gnu::noinline]] int Deeper(int depth)
{
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    return Deeper(depth + 1) + frame[0];
}

class OverflowingWorker : public kv::WorkerThread {
protected:
    void Execute() override { Deeper(0); }
};

void RunOverflowCase()
{
    auto thread = kv::WorkerThread::Create<OverflowingWorker>();
    thread->Resume();
    thread->WaitFor();
    Log("overflow-reports=" + std::to_string(g_reportCount.load()));
}

// ---- Outside debug data of a module without data of its own

void RunOutsideSourcesCase()
{
    const HMODULE dll = ::LoadLibraryW(L"C:\\kvtest\\debuginfo\\jcl\\dbg_jcl.dll");
    const auto* sum = reinterpret_cast<const std::uint8_t*>(::GetProcAddress(dll, "DebugTargetSum"));
    if (!sum) {
        Log("outside=no-fixture");
        return;
    }
    cr::TOspreyDebugInfo info;
    cr::GetDebugInfoOfAddress(sum + 4, 0, info, false, false);
    Log("outside-unit=" + info.UnitName);
    Log("outside-procedure=" + info.ProcedureName);
    Log("outside-line-in-body=" + Flag(info.Line >= 5 && info.Line <= 13));
}

// ---- Threads of a DLL that carries its own reporter

void RunDllThreadsCase()
{
    const HMODULE dll = ::LoadLibraryW(L"kv_crash_probe_dll.dll");
    const auto create =
        reinterpret_cast<HANDLE (*)(HANDLE, DWORD*)>(::GetProcAddress(dll, "ProbeDllCreateThread"));
    const auto resume = reinterpret_cast<void (*)(HANDLE)>(::GetProcAddress(dll, "ProbeDllResumeThread"));
    if (!create || !resume) {
        Log("dll=missing");
        return;
    }
    kv::KernelHandle release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    DWORD id = 0;
    kv::KernelHandle thread(create(release.Get(), &id));
    const cr::TOspreyThreadInfo made = RecordOf(id);
    Log("dll-thread-copied=" + Flag(made.ID == id && made.IsACopy));
    resume(thread.Get());
    const cr::TOspreyThreadInfo resumed = RecordOf(id);
    Log("dll-thread-resumer=" + std::string(resumed.CallerID == ::GetCurrentThreadId() ? "main" : "other"));
    Log("dll-thread-creator-stack=" + Flag(resumed.CallerStackDump && !resumed.CallerStackDump->empty()));
    ::SetEvent(release.Get());
    ::WaitForSingleObject(thread.Get(), 10000);
    Log("dll-thread-listed-after-end=" + Flag(Listed(id)));
}

int RunCase(const std::wstring& name)
{
    if (name == L"creator") RunCreatorCase();
    else if (name == L"worker") RunWorkerCase();
    else if (name == L"plain") RunPlainCase(false);
    else if (name == L"paused-stack") RunPlainCase(true);
    else if (name == L"throwers") RunThrowersCase();
    else if (name == L"overflow") RunOverflowCase();
    else if (name == L"outside-sources") RunOutsideSourcesCase();
    else if (name == L"dll-threads") RunDllThreadsCase();
    else return 99;
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) return 98;
    g_log = ::CreateFileW(argv[2], FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (g_log == INVALID_HANDLE_VALUE) return 97;
    kv::MarkProgramStarted();
    if (!cr::ReporterActive() || !cr::LiveThreadsList()) return 96;
    ::InitializeCriticalSection(&g_reportsLock);
    // As a report does before it describes any stack.
    cr::BuildModulesList();
    cr::SetReportProcedure(RecordReport);
    // The program's own handling after a report is a quiet one here, in
    // place of the message box (the reporter's slots call on to it).
    cr::UnhookPackageHandlers();
    kv::SetApplicationExceptionHandler([](const std::exception_ptr&) { Log("slot"); });
    kv::SetThreadExceptionHandler([](const std::exception_ptr&) { Log("thread-slot"); });
    cr::HookPackageHandlers();
    const int code = RunCase(argv[1]);
    Log("done");
    return code;
}
