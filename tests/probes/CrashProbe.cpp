// A child process for the exception-capture tests: runs one case and writes
// what the runtime layer saw, one line per event, to a log file.
//   kv_crash_probe CASE LOGFILE
// Lines: "raise KIND TYPE", "nohandler TYPE", "handled TYPE" (the runtime
// observer), "slot TYPE", "thread-slot TYPE" (the handler slots, with
// " code XXXXXXXX" for a processor fault), "done" when the case ran to its end.
// The exit code is the case's, or what the process died of.
// Built twice: kv_crash_probe carries no reporter data (the reporter stays
// off), kv_crash_probe_data does, and there the reporter's capture runs and
// each report is a line "report handled=H raiser=R class=C stack=N" (the
// report procedure records instead of reporting).
#include <windows.h>
#include <httpext.h>
#include <unwind.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <stdexcept>
#include <string>
#include <vector>

#include "crashreport/core/ECore.h"
#include "crashreport/core/EErrors.h"
#include "crashreport/core/EExceptionManager.h"
#include "crashreport/core/EFrameworkHandlers.h"
#include "crashreport/core/EObjects.h"
#include "crashreport/core/ExceptionLog.h"
#include "crashreport/core/capture/ECapture.h"
#include "crashreport/core/capture/EThreadState.h"
#include "platform/Exceptions.h"
#include "platform/MessageLoop.h"
#include "platform/ProgramPhase.h"
#include "platform/WorkerThread.h"
#include "platform/runtime/RuntimeObserver.h"
#include "platform/runtime/SehGuard.h"
#include "ProbeSupport.h"

// Outside the anonymous namespace: the log shows their plain mangled names.
class ProbeError : public std::runtime_error {
public:
    ProbeError() : std::runtime_error("probe") {}
};
class OtherError : public std::runtime_error {
public:
    OtherError() : std::runtime_error("other") {}
};

namespace {

HANDLE g_log = INVALID_HANDLE_VALUE;
std::wstring g_logPath;

// Appends one line; no allocation (the observer runs inside the runtime).
void Log(const char* format, const char* a = "", const char* b = "")
{
    char line[512];
    const int length = std::snprintf(line, sizeof line, format, a, b);
    DWORD written = 0;
    if (length > 0) ::WriteFile(g_log, line, static_cast<DWORD>(length), &written, nullptr);
}

const char* KindName(kv::runtime::RaiseKind kind)
{
    switch (kind) {
    case kv::runtime::RaiseKind::Throw:
        return "throw";
    case kv::runtime::RaiseKind::Rethrow:
        return "rethrow";
    default:
        return "rethrow-exception";
    }
}

const char* TypeName(const std::type_info* type) { return type ? type->name() : "?"; }

namespace cr = kv::crashreport;

// This module's import cells of the six kernel32 functions the reporter hooks.
extern "C" {
extern const void* ImportRaiseException asm("__imp__RaiseException@16");
extern const void* ImportRtlUnwind asm("__imp__RtlUnwind@16");
extern const void* ImportWriteFile asm("__imp__WriteFile@20");
extern const void* ImportCreateThread asm("__imp__CreateThread@24");
extern const void* ImportResumeThread asm("__imp__ResumeThread@4");
extern const void* ImportExitThread asm("__imp__ExitThread@4");
}

void LogImportCells(const char* when)
{
    struct Cell {
        const char* name;
        const void* const* cell;
        const void* hook;
    };
    const Cell cells[] = {
        {"RaiseException", &ImportRaiseException, reinterpret_cast<const void*>(&cr::HookedRaiseException)},
        {"RtlUnwind", &ImportRtlUnwind, reinterpret_cast<const void*>(&cr::HookedRtlUnwind)},
        {"WriteFile", &ImportWriteFile, reinterpret_cast<const void*>(&cr::HookedWriteFile)},
        {"CreateThread", &ImportCreateThread, reinterpret_cast<const void*>(&cr::HookedCreateThread)},
        {"ResumeThread", &ImportResumeThread, reinterpret_cast<const void*>(&cr::HookedResumeThread)},
        {"ExitThread", &ImportExitThread, reinterpret_cast<const void*>(&cr::HookedExitThread)},
    };
    const HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    for (const Cell& cell : cells) {
        const void* value = *cell.cell;
        const char* state = value == cell.hook                                                     ? "hook"
                            : value == reinterpret_cast<const void*>(::GetProcAddress(kernel, cell.name)) ? "kernel32"
                                                                                                  : "other";
        char line[96];
        std::snprintf(line, sizeof line, "%s %s %s\n", when, cell.name, state);
        Log("%s", line);
    }
}

// A report procedure that throws and catches inside itself (the raise filter
// must let that pass without a second record).
bool g_raiseInsideReport = false;
// Set: the report signals it has begun and takes its time.
HANDLE g_reportBegun = nullptr;

// The return addresses the unwinder sees in the three frames under a throw
// (an oracle apart from the reporter's own stack code), taken just before it.
struct FirstThrowFrames {
    std::uintptr_t returns[3];
    int count;
};
FirstThrowFrames g_firstThrow{};
bool g_checkFirstThrow = false;

_Unwind_Reason_Code CollectFrame(_Unwind_Context* context, void* argument)
{
    // The first two frames are the collector's caller and the raising function.
    if ((*static_cast<int*>(argument))++ < 2) return _URC_NO_REASON;
    g_firstThrow.returns[g_firstThrow.count++] = _Unwind_GetIP(context);
    return g_firstThrow.count < 3 ? _URC_NO_REASON : _URC_END_OF_STACK;
}

[[gnu::noinline]] void CollectFirstThrowFrames()
{
    g_firstThrow.count = 0;
    int seen = 0;
    _Unwind_Backtrace(CollectFrame, &seen);
}

volatile int g_depthSink = 0;
[[gnu::noinline]] void ThrowFromDepth()
{
    CollectFirstThrowFrames();
    throw ProbeError();
}
[[gnu::noinline]] int Depth3()
{
    ThrowFromDepth();
    return g_depthSink + 3;
}
[[gnu::noinline]] int Depth2() { return Depth3() + g_depthSink; }
[[gnu::noinline]] int Depth1() { return Depth2() + g_depthSink; }

// Overwrites the stack below the caller, where the frames of a throw were.
[[gnu::noinline]] void Scribble()
{
    volatile char area[32768];
    for (std::size_t i = 0; i < sizeof area; ++i) area[i] = 0;
}

// How many of the first throw's return addresses the report's stack range holds.
int FirstThrowFramesIn(std::uint32_t from, std::uint32_t to)
{
    int found = 0;
    for (int i = 0; i < g_firstThrow.count; ++i)
        for (std::uint32_t at = from; at + 4 <= to; at += 4)
            if (*reinterpret_cast<const std::uint32_t*>(at) == g_firstThrow.returns[i]) {
                ++found;
                break;
            }
    return found;
}

bool RecordReport(const cr::CaughtException& caught)
{
    char line[256];
    std::snprintf(line, sizeof line, "report handled=%d raiser=%d class=%s stack=%u\n", caught.Handled ? 1 : 0,
                  static_cast<int>(caught.RaiserType), cr::ClassNameOf(caught.Object).c_str(),
                  static_cast<unsigned>(cr::SavedStackSnapshot().Length));
    DWORD written = 0;
    ::WriteFile(g_log, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
    if (g_checkFirstThrow) {
        std::snprintf(line, sizeof line, "first-throw frames %d/%d asynchronous=%d\n",
                      FirstThrowFramesIn(caught.StackPoint, caught.TopOfStack), g_firstThrow.count,
                      static_cast<int>(caught.AsynchronousException));
        Log("%s", line);
    }
    if (g_reportBegun) {
        ::SetEvent(g_reportBegun);
        ::Sleep(300);
        Log("report end\n");
    }
    if (g_raiseInsideReport) {
        try {
            throw std::runtime_error("inside the report");
        } catch (const std::exception&) {
        }
    }
    return true;
}

const kv::runtime::RuntimeObserver kRecorder{
    [](void*, const std::type_info* type, const kv::runtime::RaiseSite&, kv::runtime::RaiseKind kind) noexcept {
        Log("raise %s %s\n", KindName(kind), TypeName(type));
    },
    [](void*, const std::type_info* type) noexcept { Log("nohandler %s\n", TypeName(type)); },
    [](void*, const std::type_info* type) noexcept { Log("handled %s\n", TypeName(type)); },
};

void LogSlot(const char* slot, const std::exception_ptr& error)
{
    const std::type_info* type = kv::runtime::ExceptionTypeOf(error);
    try {
        kv::runtime::RethrowForInspection(error);
    } catch (const kv::EExternal& fault) {
        char code[16];
        std::snprintf(code, sizeof code, "%08lX", fault.ExceptionCode());
        Log("%s %s", slot, TypeName(type));
        Log(" code %s\n", code);
        return;
    } catch (...) {
    }
    Log("%s %s\n", slot, TypeName(type));
}

[[gnu::noinline]] void Throw() { throw ProbeError(); }

using kvprobe::WriteThroughNull;

[[gnu::noinline]] void ThrowingNoexcept() noexcept { Throw(); }

// A window whose procedure throws once for a test message, through the guard
// every window procedure of the program has.
constexpr UINT kThrowMessage = WM_APP + 1;
constexpr UINT kFaultMessage = WM_APP + 2;

LRESULT CALLBACK ProbeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return kv::GuardedCallback<LRESULT>(0, [&]() -> LRESULT {
        if (message == kThrowMessage) Throw();
        if (message == kFaultMessage) WriteThroughNull();
        return ::DefWindowProcW(window, message, wParam, lParam);
    });
}

int RunWindowCase(UINT failure)
{
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = ProbeWindowProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"KvCrashProbe";
    ::RegisterClassW(&windowClass);
    HWND window = ::CreateWindowExW(0, L"KvCrashProbe", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    windowClass.hInstance, nullptr);
    ::PostMessageW(window, failure, 0, 0);
    ::PostMessageW(window, failure, 0, 0);
    ::PostQuitMessage(0);
    MSG message;
    int dispatched = 0;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::DispatchMessageW(&message);
        ++dispatched;
    }
    // The loop went on after each failure: both messages were served.
    return dispatched == 2 ? 0 : 10 + dispatched;
}

class ThrowingWorker : public kv::WorkerThread {
public:
    explicit ThrowingWorker(HANDLE done) : done_(done) {}

protected:
    void Execute() override
    {
        ::SetEvent(done_);
        Throw();
    }

private:
    HANDLE done_;
};

int RunWorkerCase()
{
    HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD id = kv::WorkerThread::Start<ThrowingWorker>(done)->ThreadId();
    ::WaitForSingleObject(done, 10000);
    // The thread ends through ExitThread once its failure is handled.
    HANDLE thread = ::OpenThread(SYNCHRONIZE, FALSE, id);
    if (thread) {
        ::WaitForSingleObject(thread, 10000);
        ::CloseHandle(thread);
    } else {
        ::Sleep(500);
    }
    return 0;
}

// Answers the thread-naming exception as a debugger would, so that raising
// it without a debugger does not end the process.
LONG CALLBACK AnswerThreadNaming(EXCEPTION_POINTERS* pointers)
{
    return pointers->ExceptionRecord->ExceptionCode == kv::kThreadNamingException ? EXCEPTION_CONTINUE_EXECUTION
                                                                                    : EXCEPTION_CONTINUE_SEARCH;
}

int RunThreadNamingCase()
{
    // Last in line: the reporter's vectored handler sees the raise first.
    ::AddVectoredExceptionHandler(0, AnswerThreadNaming);
    kv::GuardedCallback([] {
        const ULONG_PTR info[4] = {0x1000, reinterpret_cast<ULONG_PTR>("probe"), static_cast<ULONG_PTR>(-1), 0};
        ::RaiseException(kv::kThreadNamingException, 0, 4, info);
    });
    return 0;
}

// The web server's side of an ISAPI call: what the extension wrote.
std::string g_served;
BOOL WINAPI ServerWriteClient(HCONN, LPVOID buffer, LPDWORD bytes, DWORD)
{
    g_served.append(static_cast<const char*>(buffer), *bytes);
    return TRUE;
}

[[gnu::noinline]] int Recurse(int depth)
{
    volatile char frame[256];
    frame[0] = static_cast<char>(depth);
    if (depth == 0) Throw();
    return Recurse(depth - 1) + frame[0];
}

// A thread of its own (no guard at its start) whose code runs one guarded
// callback that faults: only that guard takes the fault.
DWORD WINAPI GuardedFaultOnly(void*)
{
    kv::GuardedCallback([] { WriteThroughNull(); });
    return 0;
}

int RunRawThreadGuardedFaultCase()
{
    HANDLE thread = ::CreateThread(nullptr, 0, GuardedFaultOnly, nullptr, 0, nullptr);
    if (!thread) return 40;
    ::WaitForSingleObject(thread, 10000);
    ::CloseHandle(thread);
    return 0;
}

[[gnu::noinline]] int Overflow(int depth)
{
    volatile char frame[512];
    frame[depth % 512] = static_cast<char>(depth);
    // Without end while the sink is not negative (it never is).
    return g_depthSink >= 0 ? Overflow(depth + 1) + frame[0] : depth;
}

class OverflowingWorker : public kv::WorkerThread {
protected:
    void Execute() override { Overflow(0); }
};

int RunWorkerOverflowCase()
{
    const DWORD id = kv::WorkerThread::Start<OverflowingWorker>()->ThreadId();
    HANDLE thread = ::OpenThread(SYNCHRONIZE, FALSE, id);
    if (!thread) return 41;
    const DWORD waited = ::WaitForSingleObject(thread, 20000);
    ::CloseHandle(thread);
    return waited == WAIT_OBJECT_0 ? 0 : 42;
}

// Twenty threads raise at once, each its own object from one of two places;
// each then waits in its catch block until all have raised, and checks that
// its thread still knows its own exception and where it was raised.
struct OwnRecordRun {
    HANDLE go = nullptr;
    HANDLE allRaised = nullptr;
    volatile LONG raised = 0;
    volatile LONG own = 0;
};
constexpr LONG kRaisingThreads = 20;

struct NumberedError : std::runtime_error {
    explicit NumberedError(int n) : std::runtime_error("numbered"), number(n) {}
    int number;
};
[[gnu::noinline]] void ThrowFromFirstPlace(int n) { throw NumberedError(n); }
[[gnu::noinline]] void ThrowFromSecondPlace(int n) { throw NumberedError(n); }

// The function whose code holds `address`: the nearest start below it.
bool RaisedIn(const void* address, void (*expected)(int), void (*other)(int))
{
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    const auto mine = reinterpret_cast<std::uintptr_t>(expected), theirs = reinterpret_cast<std::uintptr_t>(other);
    if (at <= mine) return false;
    return theirs >= at || theirs < mine;
}

DWORD WINAPI RaiseAtOnce(void* parameter)
{
    auto* run = static_cast<OwnRecordRun*>(parameter);
    static volatile LONG next = 0;
    const int n = static_cast<int>(::InterlockedIncrement(&next));
    void (*place)(int) = n % 2 ? ThrowFromFirstPlace : ThrowFromSecondPlace;
    void (*other)(int) = n % 2 ? ThrowFromSecondPlace : ThrowFromFirstPlace;
    ::WaitForSingleObject(run->go, 10000);
    try {
        place(n);
    } catch (const NumberedError& error) {
        if (::InterlockedIncrement(&run->raised) == kRaisingThreads) ::SetEvent(run->allRaised);
        ::WaitForSingleObject(run->allRaised, 10000);
        const cr::LastExceptionInfo last = cr::ThreadLastException();
        if (last.Object == &error && RaisedIn(cr::RaiseAddressOf(&error), place, other) &&
            RaisedIn(kv::crashreport::CurrentExceptionAddress(), place, other))
            ::InterlockedIncrement(&run->own);
    }
    return 0;
}

int RunOwnRecordsCase()
{
    OwnRecordRun run;
    run.go = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    run.allRaised = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE threads[kRaisingThreads];
    for (HANDLE& thread : threads) thread = ::CreateThread(nullptr, 0, RaiseAtOnce, &run, 0, nullptr);
    ::SetEvent(run.go);
    ::WaitForMultipleObjects(kRaisingThreads, threads, TRUE, 20000);
    for (HANDLE thread : threads) ::CloseHandle(thread);
    char line[64];
    std::snprintf(line, sizeof line, "own-record %ld/%ld\n", run.own, kRaisingThreads);
    Log("%s", line);
    return 0;
}

// A worker runs a method on the main thread that throws three calls deep;
// the main thread serves it until the worker ends.
class SynchronizingWorker : public kv::WorkerThread {
protected:
    void Execute() override { Synchronize([] { Depth1(); }); }
};

int RunSynchronizeCase()
{
    kv::InitializeMainThread();
    HANDLE thread = ::OpenThread(SYNCHRONIZE, FALSE, kv::WorkerThread::Start<SynchronizingWorker>()->ThreadId());
    if (!thread) return 43;
    const DWORD until = ::GetTickCount() + 20000;
    while (::MsgWaitForMultipleObjects(1, &thread, FALSE, 100, QS_ALLINPUT) != WAIT_OBJECT_0 &&
           ::GetTickCount() < until)
        kv::ProcessMessages();
    const bool ended = ::WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
    ::CloseHandle(thread);
    return ended ? 0 : 44;
}

void CatchHandledExceptions()
{
    auto options = cr::CurrentOspreyLogOptions()->BehaviourOptions();
    options.Include(cr::boCatchHandledExceptions);
    cr::CurrentOspreyLogOptions()->SetBehaviourOptions(options);
}

int RunCase(const wchar_t* name)
{
    const std::wstring c = name;
    if (c == L"isapi") {
        // The DLL's extension writes a page through the control block: the
        // reporter's wrapper passes it to the sink and on to the server's
        // WriteClient, which stays in place for the next call.
        HMODULE dll = ::LoadLibraryW(L"kv_crash_probe_dll.dll");
        const auto watch = reinterpret_cast<const char* (*)(int)>(::GetProcAddress(dll, "ProbeDllWatchPages"));
        const auto extension =
            reinterpret_cast<DWORD(WINAPI*)(EXTENSION_CONTROL_BLOCK*)>(::GetProcAddress(dll, "HttpExtensionProc"));
        if (!watch || !extension) return 30;
        watch(1);
        EXTENSION_CONTROL_BLOCK block{};
        block.cbSize = sizeof block;
        block.WriteClient = ServerWriteClient;
        const DWORD status = extension(&block);
        Log("isapi status=%s", status == HSE_STATUS_SUCCESS ? "success" : "other");
        Log(" served=%s", g_served.c_str());
        Log(" sink=%s\n", watch(0));
    } else if (c == L"write-file") {
        // A CGI program's output passes the WriteFile hook on its way out.
        static std::string seen;
        cr::SetWebClientOutputSink([](HANDLE file, const void* buffer, DWORD count) {
            if (file != g_log) seen.append(static_cast<const char*>(buffer), count);
        });
        const std::wstring path = g_logPath + L".out";
        HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        ::WriteFile(file, "Content-Type: text/html", 23, &written, nullptr);
        ::CloseHandle(file);
        ::DeleteFileW(path.c_str());
        cr::SetWebClientOutputSink(nullptr);
        Log("write-file sink=%s\n", seen.c_str());
    } else if (c == L"dll-raise" || c == L"dll-slot") {
        // The DLL's reporter passes its raise, and its slot's report, on to ours.
        HMODULE dll = ::LoadLibraryW(L"kv_crash_probe_dll.dll");
        if (!dll) return 30;
        if (c == L"dll-raise") {
            const auto throwCaught = reinterpret_cast<int (*)()>(::GetProcAddress(dll, "ProbeDllThrowCaught"));
            if (!throwCaught || throwCaught() != 1) return 31;
            const cr::ThreadExceptionState* state = cr::ExistingThreadState();
            char line[64];
            std::snprintf(line, sizeof line, "forwarded-record %08lX %lu\n",
                          state ? state->ExceptionRecord.ExceptionCode : 0ul,
                          state ? state->ExceptionRecord.NumberParameters : 0ul);
            Log("%s", line);
        } else {
            const auto guardedThrow = reinterpret_cast<void (*)()>(::GetProcAddress(dll, "ProbeDllGuardedThrow"));
            if (!guardedThrow) return 31;
            guardedThrow();
        }
    } else if (c == L"stop-during-report") {
        // Shut-down waits for the report that runs on the worker.
        g_reportBegun = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        kv::WorkerThread::Start<ThrowingWorker>(done);
        ::WaitForSingleObject(g_reportBegun, 10000);
        cr::FinalizeExceptionLog();
        Log("stopped active=%s\n", cr::ReporterActive() ? "1" : "0");
        ::Sleep(200);
    } else if (c == L"import-cells") {
        LogImportCells("started");
        cr::FinalizeExceptionLog();
        LogImportCells("stopped");
    } else if (c == L"caught-handled") {
        cr::CurrentOspreyLogOptions()->BehaviourOptions();
        auto options = cr::CurrentOspreyLogOptions()->BehaviourOptions();
        options.Include(cr::boCatchHandledExceptions);
        cr::CurrentOspreyLogOptions()->SetBehaviourOptions(options);
        try {
            Throw();
        } catch (const ProbeError&) {
        }
        // Reported once at the end of its catch block, not again by the slot.
        kv::GuardedCallback([] { Throw(); });
    } else if (c == L"raise-in-report") {
        g_raiseInsideReport = true;
        Throw();
    } else if (c == L"deep-recursion") {
        return Recurse(2000);
    } else if (c == L"saved-record") {
        const cr::ThreadExceptionState* state = cr::ExistingThreadState();
        char code[16];
        std::snprintf(code, sizeof code, "%08lX", state ? state->ExceptionRecord.ExceptionCode : 0ul);
        Log("saved-record %s\n", code);
    } else if (c == L"caught") {
        try {
            Throw();
        } catch (const ProbeError&) {
        }
    } else if (c == L"mismatched") {
        try {
            try {
                Throw();
            } catch (const OtherError&) {
                return 20;
            }
        } catch (const ProbeError&) {
        }
    } else if (c == L"catch-all") {
        try {
            Throw();
        } catch (...) {
        }
    } else if (c == L"rethrow") {
        try {
            try {
                Throw();
            } catch (const ProbeError&) {
                throw;
            }
        } catch (const ProbeError&) {
        }
    } else if (c == L"library") {
        try {
            std::vector<int> empty;
            return empty.at(1);
        } catch (const std::out_of_range&) {
        }
    } else if (c == L"rethrow-exception") {
        std::exception_ptr carried;
        try {
            Throw();
        } catch (...) {
            carried = std::current_exception();
        }
        try {
            kv::runtime::RethrowException(carried);
        } catch (const ProbeError&) {
        }
    } else if (c == L"inspection") {
        std::exception_ptr carried;
        try {
            Throw();
        } catch (...) {
            carried = std::current_exception();
        }
        if (kv::ExceptionMessage(carried) != L"probe") return 21;
    } else if (c == L"noexcept") {
        ThrowingNoexcept();
    } else if (c == L"unhandled") {
        Throw();
    } else if (c == L"window-throw") {
        return RunWindowCase(kThrowMessage);
    } else if (c == L"window-fault") {
        return RunWindowCase(kFaultMessage);
    } else if (c == L"worker") {
        return RunWorkerCase();
    } else if (c == L"handled-scribbled") {
        CatchHandledExceptions();
        g_checkFirstThrow = true;
        try {
            Depth1();
        } catch (const ProbeError&) {
            Scribble();
        }
    } else if (c == L"slot-after-throw") {
        g_checkFirstThrow = true;
        kv::GuardedCallback([] { Depth1(); });
    } else if (c == L"synchronize") {
        g_checkFirstThrow = true;
        return RunSynchronizeCase();
    } else if (c == L"synchronize-handled-capture") {
        CatchHandledExceptions();
        g_checkFirstThrow = true;
        return RunSynchronizeCase();
    } else if (c == L"raw-thread-guarded-av") {
        return RunRawThreadGuardedFaultCase();
    } else if (c == L"worker-overflow") {
        return RunWorkerOverflowCase();
    } else if (c == L"own-records") {
        return RunOwnRecordsCase();
    } else if (c == L"guarded-av") {
        kv::GuardedCallback([] { WriteThroughNull(); });
    } else if (c == L"unguarded-av") {
        WriteThroughNull();
    } else if (c == L"thread-name") {
        const int code = RunThreadNamingCase();
        return code ? code : RunCase(L"saved-record");
    } else {
        return 99;
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) return 98;
    g_logPath = argv[2];
    g_log = kvprobe::OpenProbeLog(argv[2]);
    if (g_log == INVALID_HANDLE_VALUE) return 97;
    kv::MarkProgramStarted();
    const bool reporter = cr::ReporterActive();
    if (reporter) {
        cr::SetReportProcedure(RecordReport);
        // The probe's loggers become the handlers the reporter's slots call on to.
        cr::UnhookPackageHandlers();
    } else {
        kv::runtime::SetRuntimeObserver(&kRecorder);
    }
    kv::SetApplicationExceptionHandler([](const std::exception_ptr& error) { LogSlot("slot", error); });
    kv::SetThreadExceptionHandler([](const std::exception_ptr& error) { LogSlot("thread-slot", error); });
    if (reporter) cr::HookPackageHandlers();
    const int code = RunCase(argv[1]);
    Log("done\n");
    return code;
}
