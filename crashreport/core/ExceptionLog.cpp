#include "crashreport/core/ExceptionLog.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "crashreport/core/ECallStack.h"
#include "crashreport/core/ECore.h"
#include "crashreport/core/EErrors.h"
#include "crashreport/core/EExceptionManager.h"
#include "crashreport/core/EFrameworkHandlers.h"
#include "crashreport/core/EHook.h"
#include "crashreport/core/EObjects.h"
#include "crashreport/core/ESystem.h"
#include "crashreport/core/EWindows.h"
#include "crashreport/core/capture/ECapture.h"
#include "crashreport/core/capture/EThreadHooks.h"
#include "crashreport/core/capture/EThreadState.h"
#include "crashreport/core/debuginfo/EDebug.h"
#include "crashreport/core/debuginfo/EDebugInfoSource.h"
#include "crashreport/core/debuginfo/EModules.h"
#include "platform/DateTime.h"
#include "platform/Exceptions.h"
#include "platform/Format.h"
#include "platform/ProgramPhase.h"
#include "platform/TextCodec.h"
#include "platform/runtime/SehGuard.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace kv::crashreport {
namespace {

std::atomic<bool> g_reporterActive{false};
std::atomic<bool> g_mainModuleCarriesReporter{false};
std::atomic<bool> g_installRuntimeHooks{false};
std::atomic<bool> g_handlingEnabled{true};
std::atomic<DWORD> g_mainThreadId{0};
std::atomic<int> g_unitStarts{0};

HANDLE g_mainThreadHandle = nullptr;
std::uint32_t g_mainThreadStackTop = 0;
TDateTime g_startTime = 0;
std::uint16_t g_linkCursor = 0;
std::unique_ptr<TOspreyModuleOptionsEx> g_options;

// The locks live as long as the process: a hook that tested ReporterActive
// just before shut-down may still be waiting on one, and finds under it that
// the data has gone.
CRITICAL_SECTION g_excludedLock;
CRITICAL_SECTION g_savedStackLock;
INIT_ONCE g_locksOnce = INIT_ONCE_STATIC_INIT;

BOOL CALLBACK InitializeLocks(PINIT_ONCE, PVOID, PVOID*)
{
    ::InitializeCriticalSection(&g_excludedLock);
    ::InitializeCriticalSection(&g_savedStackLock);
    return TRUE;
}

void EnsureLocks() noexcept { ::InitOnceExecuteOnce(&g_locksOnce, InitializeLocks, nullptr, nullptr); }

class Locked {
public:
    explicit Locked(CRITICAL_SECTION& lock) noexcept : lock_(lock)
    {
        EnsureLocks();
        ::EnterCriticalSection(&lock_);
    }
    ~Locked() { ::LeaveCriticalSection(&lock_); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    CRITICAL_SECTION& lock_;
};

// Excluded threads.
std::vector<DWORD>* g_excludedThreads = nullptr;

// The saved stack: one buffer for the process, the last raise wins.
std::uint8_t* g_savedStackBuffer = nullptr;
SavedStackInfo g_savedStack;



HMODULE OwnModule() noexcept { return reinterpret_cast<HMODULE>(&__ImageBase); }

bool ModuleCarriesReporterData(HMODULE module) noexcept
{
    try {
        return HasReporterData(module);
    } catch (...) {
        return false;
    }
}

ThreadExceptionClassRecord* ThreadClassRecord()
{
    ThreadExceptionState* state = CurrentThreadState();
    return state ? &state->Reported : nullptr;
}

// The calling thread's own raise first: threads that raise at once each keep theirs.
const void* CurrentRaiseAddress()
{
    const void* object = ThreadLastException().Object;
    return RaiseAddressOf(object ? object : LastException().Object);
}

NT_TIB* ThreadInformationBlock() noexcept { return reinterpret_cast<NT_TIB*>(::NtCurrentTeb()); }

struct CopyRequest {
    const void* from;
    void* to;
    std::size_t length;
};

void CopyStackBytes(void* argument)
{
    auto* request = static_cast<CopyRequest*>(argument);
    std::memcpy(request->to, request->from, request->length);
}

void CopyFaulted(void* argument, const EXCEPTION_RECORD*, const CONTEXT*)
{
    static_cast<CopyRequest*>(argument)->length = 0;
}

// Each hook on its own: a failure leaves the others in place and start-up goes on.
void InstallHooks()
{
    InstallRuntimeCapture();
    HookPackageHandlers();
    InstallImportHooks();
}

void RemoveHooks()
{
    UnhookPackageHandlers();
    RemoveRuntimeCapture();
}

} // namespace

bool ReporterActive() noexcept { return g_reporterActive.load(std::memory_order_relaxed); }
bool MainModuleCarriesReporter() noexcept { return g_mainModuleCarriesReporter.load(); }
bool InstallRuntimeHooks() noexcept { return g_installRuntimeHooks.load(); }
bool InUnitInitialization() noexcept { return kv::InUnitInitialization(); }
bool InUnitFinalization() noexcept { return kv::InUnitFinalization(); }
bool HandlingEnabled() noexcept { return g_handlingEnabled.load(); }
void SetHandlingEnabled(bool enabled) noexcept { g_handlingEnabled = enabled; }
DWORD ReporterMainThreadId() noexcept { return g_mainThreadId.load(); }
HMODULE ReporterModule() noexcept { return OwnModule(); }

void ExcludeThread(DWORD threadId)
{
    Locked locked(g_excludedLock);
    if (g_excludedThreads) g_excludedThreads->push_back(threadId);
}

void IncludeThread(DWORD threadId)
{
    Locked locked(g_excludedLock);
    if (g_excludedThreads) std::erase(*g_excludedThreads, threadId);
}

bool IsThreadIncluded(DWORD threadId) noexcept
{
    Locked locked(g_excludedLock);
    if (!g_excludedThreads) return true;
    return std::find(g_excludedThreads->begin(), g_excludedThreads->end(), threadId) == g_excludedThreads->end();
}

void SaveStackCopy(std::uint32_t start, const void* address) noexcept
{
    const NT_TIB* tib = ThreadInformationBlock();
    const auto base = reinterpret_cast<std::uint32_t>(tib->StackBase);
    const auto limit = reinterpret_cast<std::uint32_t>(tib->StackLimit);
    if (start < limit || start >= base) start = reinterpret_cast<std::uint32_t>(__builtin_frame_address(0));
    const std::size_t length = std::min<std::size_t>(base - start, kSavedStackSize);
    Locked locked(g_savedStackLock);
    if (!g_savedStackBuffer) return;
    CopyRequest request{reinterpret_cast<const void*>(start), g_savedStackBuffer, length};
    {
        ProbingScope probing;
        kv_seh_guard(CopyStackBytes, &request, CopyFaulted);
    }
    g_savedStack.ThreadId = ::GetCurrentThreadId();
    g_savedStack.Address = address;
    g_savedStack.Start = start;
    g_savedStack.Length = request.length;
}

SavedStackInfo SavedStackSnapshot() noexcept
{
    Locked locked(g_savedStackLock);
    return g_savedStack;
}

std::size_t ReadSavedStack(void* buffer, std::size_t size) noexcept
{
    Locked locked(g_savedStackLock);
    if (!g_savedStackBuffer) return 0;
    const std::size_t count = std::min(size, g_savedStack.Length);
    std::memcpy(buffer, g_savedStackBuffer, count);
    return count;
}

std::size_t ReadSavedStackOf(DWORD threadId, const void* address, void* buffer, std::size_t size) noexcept
{
    Locked locked(g_savedStackLock);
    if (!g_savedStackBuffer || !address || g_savedStack.ThreadId != threadId || g_savedStack.Address != address)
        return 0;
    const std::size_t count = std::min(size, g_savedStack.Length);
    std::memcpy(buffer, g_savedStackBuffer, count);
    return count;
}

void StartCrashReporter()
{
    // 1. The link cursor; the reporter's own failures go to its internal-error report.
    g_linkCursor = RunningOnWindows95() || RunningOnWindowsNT4() ? 0x7F00 : 0x7F89;
    SetInternalErrorHandler(ReportInternalError);
    SetThreadExceptionClassRecordProvider(ThreadClassRecord);
    SetExceptionAddressProvider(CurrentRaiseAddress);

    // 2. A DLL whose program carries the reporter too passes its captures on.
    // Every module links its own copy of the C++ runtime: its raises pass only
    // its own wraps, so each module installs its runtime hooks.
    const bool isMainModule = OwnModule() == ::GetModuleHandleW(nullptr);
    g_mainModuleCarriesReporter = !isMainModule && ModuleCarriesReporterData(::GetModuleHandleW(nullptr));
    g_installRuntimeHooks = true;
    g_reporterActive = true;
    char folder[MAX_PATH] = {};
    ::GetCurrentDirectoryA(MAX_PATH, folder);
    SetRestartFolder(folder);
    g_mainThreadId = ::GetCurrentThreadId();
    if (ThreadExceptionState* state = CurrentThreadState()) ClearSyntheticRaise(*state);
    SetDialogPainted(false);

    // 3. The saved stack.
    {
        Locked locked(g_savedStackLock);
        g_savedStackBuffer = static_cast<std::uint8_t*>(
            ::VirtualAlloc(nullptr, kSavedStackSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        g_savedStack = {};
    }
    // 3-4. The handled-exception cache, the handler routines it recognises.
    InitializeHandledAnalysis();

    // 6. Without reporter data nothing else is installed.
    if (!ModuleCarriesReporterData(OwnModule())) {
        g_reporterActive = false;
        return;
    }

    // Other modules' data versions and passwords through the events; the
    // map, JCL and TD32 readers for modules without data of their own; call
    // stacks described through the embedded data.
    InstallReporterDataEvents();
    InstallOutsideDebugSources();
    SetStackAddressLookup(GetDebugInfoOfAddress);

    // 7. The modules list (a report fills it), the options in force, the
    // main thread's stack top.
    CreateModulesLists();
    g_options = std::make_unique<TOspreyModuleOptionsEx>(WideToAnsi(std::wstring(L"")));
    SetCurrentOspreyLogOptions(g_options.get());
    g_mainThreadStackTop = reinterpret_cast<std::uint32_t>(GetStackTop());

    // 8. The start time and a real handle of the main thread (suspend, resume,
    // context, query information).
    g_startTime = Now();
    ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &g_mainThreadHandle, 0x4A,
                      FALSE, 0);

    // 9. The registry of threads, with the main thread's record.
    StartThreadsList(g_mainThreadId, g_mainThreadHandle, g_mainThreadStackTop);

    // 10. The last failure, the excluded threads. The reporter's own units
    // (shown only as module addresses) are the debug lookup's IsHiddenUnit.
    ClearLastWarning();
    {
        Locked locked(g_excludedLock);
        g_excludedThreads = new std::vector<DWORD>();
    }

    // 11.
    g_handlingEnabled = true;
    EnterMainLock();
    LeaveMainLock();

    // 12. The runtime's exception procedures, the replaced handlers, the imports.
    if (!IsHostIDE() && g_installRuntimeHooks) InstallHooks();
}

void StopCrashReporter()
{
    if (g_reporterActive) {
        // 1. A report in progress ends first.
        EnterMainLock();
        // Hooks test the flag under their locks: from here on they pass through.
        g_reporterActive = false;
        LeaveMainLock();
        // 2. The registry goes before the main thread's handle it holds.
        StopThreadsList();
        SetStackAddressLookup(nullptr);
        if (g_mainThreadHandle) ::CloseHandle(g_mainThreadHandle);
        g_mainThreadHandle = nullptr;
        // 3.
        if (!IsHostIDE() && g_installRuntimeHooks) RemoveHooks();
        // 4.
        if (g_handlingEnabled) g_handlingEnabled = IsThreadIncluded(::GetCurrentThreadId());
        // 5.
        {
            Locked locked(g_excludedLock);
            delete g_excludedThreads;
            g_excludedThreads = nullptr;
        }
        // 7.
        SetCurrentOspreyLogOptions(nullptr);
        g_options.reset();
    }
    // 8. In every case: the saved stack.
    g_reporterActive = false;
    Locked locked(g_savedStackLock);
    if (g_savedStackBuffer) ::VirtualFree(g_savedStackBuffer, 0, MEM_RELEASE);
    g_savedStackBuffer = nullptr;
    g_savedStack = {};
}

void InitializeExceptionLog()
{
    if (g_unitStarts.fetch_add(1) != 0) return;
    InitializeOptionsUnit();
    InitializeHookUnit();
    GuardedCall(StartCrashReporter, "ExceptionLog.Init");
    ReserveOutOfMemorySpace();
    ::SetUnhandledExceptionFilter(ReporterUnhandledFilter);
}

void FinalizeExceptionLog()
{
    if (g_unitStarts.fetch_sub(1) != 1) return;
    GuardedCall(StopCrashReporter, "ExceptionLog.Done");
    ReleaseOutOfMemorySpace();
    // The import cells and detours go back last.
    FinalizeHookUnit();
    FinalizeOptionsUnit();
}

namespace {

std::string g_lastFilterMessage;

std::string MessageWithoutControls(const std::exception_ptr& error)
{
    std::string message = WideToAnsi(ExceptionMessage(error));
    for (char& c : message)
        if (static_cast<unsigned char>(c) < 32) c = ' ';
    return message;
}

} // namespace

LONG WINAPI ReporterUnhandledFilter(EXCEPTION_POINTERS* pointers)
{
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    try {
        SetReportInline(true);
        std::exception_ptr object;
        if (void* caught = runtime::CaughtExceptionObject(); caught && ObjectInheritsFromName(caught, "exception"))
            object = std::current_exception();
        else
            object = MakeExceptionObject(*record, pointers->ContextRecord);
        if (!object)
            object = std::make_exception_ptr(
                EExternalException(AnsiToWide(Format("External exception %x", {static_cast<unsigned>(record->ExceptionCode)})),
                                   *record));
        const std::string message = MessageWithoutControls(object);
        if (message != g_lastFilterMessage) {
            g_lastFilterMessage = message;
            ReportOSException(runtime::ExceptionObjectOf(object), record->ExceptionAddress);
        }
    } catch (...) {
    }
    ::TerminateProcess(::GetCurrentProcess(), record->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

} // namespace kv::crashreport
