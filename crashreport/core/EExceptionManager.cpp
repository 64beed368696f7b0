#include "crashreport/core/EExceptionManager.h"

#include <atomic>

#include "crashreport/core/ECore.h"
#include "crashreport/core/EEvents.h"
#include "crashreport/core/EObjects.h"
#include "crashreport/core/ESystem.h"
#include "crashreport/core/ExceptionLog.h"
#include "crashreport/core/capture/ECapture.h"
#include "crashreport/core/capture/EThreadState.h"

namespace kv::crashreport {
namespace {

std::atomic<ReportProcedure> g_report{nullptr};
std::atomic<bool> g_reportInline{false};
CRITICAL_SECTION g_mainLock;
INIT_ONCE g_mainLockOnce = INIT_ONCE_STATIC_INIT;

BOOL CALLBACK InitializeMainLock(PINIT_ONCE, PVOID, PVOID*)
{
    ::InitializeCriticalSection(&g_mainLock);
    return TRUE;
}

CRITICAL_SECTION& MainLock() noexcept
{
    ::InitOnceExecuteOnce(&g_mainLockOnce, InitializeMainLock, nullptr, nullptr);
    return g_mainLock;
}

class MainLockHold {
public:
    MainLockHold() noexcept { EnterMainLock(); }
    ~MainLockHold() { LeaveMainLock(); }
    MainLockHold(const MainLockHold&) = delete;
    MainLockHold& operator=(const MainLockHold&) = delete;
};

std::uint32_t CurrentStackPosition() noexcept
{
    return reinterpret_cast<std::uint32_t>(__builtin_frame_address(0));
}

// Clears what the report consumed: the process's last exception and the
// thread's synthetic raise.
void ClearThreadExceptionState(ThreadExceptionState& state) noexcept
{
    RecordLastException(nullptr, nullptr, false);
    ClearSyntheticRaise(state);
}

} // namespace

void EnterMainLock() noexcept { ::EnterCriticalSection(&MainLock()); }
void LeaveMainLock() noexcept { ::LeaveCriticalSection(&MainLock()); }

void SetReportInline(bool inline_) noexcept { g_reportInline = inline_; }
bool ReportInline() noexcept { return g_reportInline.load(); }

ReportProcedure SetReportProcedure(ReportProcedure procedure) noexcept { return g_report.exchange(procedure); }

bool ProcessCaughtException(const void* object, const void* address, bool isNative, TOspreyStackList* callStack,
                            bool handled, TAsynchronousException asynchronousException, HMODULE moduleHandle,
                            TRaiserType raiserType, const EXCEPTION_RECORD* exceptionRecord, const CONTEXT* context,
                            std::uint32_t stackPoint, std::uint32_t topOfStack)
{
    if (!ReporterActive() || ObjectInheritsFromName(object, "EAbort")) return true;
    ThreadExceptionState* state = CurrentThreadState();
    if (!state) return true;
    ReleaseOutOfMemorySpace();
    struct Reserve {
        ~Reserve() { ReserveOutOfMemorySpace(); }
    } reserveAgain;
    MainLockHold lock;
    // An exception raised by the report on the thread that is reporting.
    if (state->ReportInProgress) return false;
    state->ReportInProgress = 1;
    struct InProgress {
        ThreadExceptionState* state;
        ~InProgress() { state->ReportInProgress = 0; }
    } inProgress{state};

    const TOspreyModuleOptions* options = CurrentOspreyLogOptions();
    if (options && !options->Active()) return true;

    CaughtException caught;
    caught.Object = object;
    caught.Address = address;
    caught.IsNative = isNative;
    caught.CallStack = callStack;
    caught.Handled = handled;
    caught.AsynchronousException = asynchronousException;
    caught.ModuleHandle = moduleHandle;
    caught.RaiserType = raiserType;
    caught.ExceptionRecord = exceptionRecord ? exceptionRecord : &state->ExceptionRecord;
    caught.Context = context ? context : &state->Context;
    caught.TopOfStack = topOfStack ? topOfStack : reinterpret_cast<std::uint32_t>(GetStackTop());
    caught.StackPoint = stackPoint ? stackPoint : state->StackPoint ? state->StackPoint : state->Context.Esp;
    caught.ThreadID = ::GetCurrentThreadId();
    if (!handled) RecordThreadExceptionClass(object, static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(address)));

    bool result = true;
    if (const ReportProcedure report = g_report.load()) result = report(caught);
    ClearThreadExceptionState(*state);
    return result;
}

namespace {

using ExceptionManagerExport = std::uint8_t(KV_REGISTER_CALL*)(const void*, const void*, std::uint8_t, HMODULE);
using LastNativeExceptionExport = std::uint8_t(KV_REGISTER_CALL*)();

// Whether the module that holds `address` last raised a native exception,
// asked through its export; `fallback` when it has none.
bool LastNativeFlagOfModule(const void* address, bool fallback)
{
    HMODULE module = nullptr;
    if (!address || !::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                          static_cast<LPCSTR>(address), &module))
        return fallback;
    const auto ask = reinterpret_cast<LastNativeExceptionExport>(::GetProcAddress(module, "OspreyLog_LastNativeException"));
    return ask ? ask() != 0 : fallback;
}

} // namespace

bool ExceptionManager(const void* object, const void* address, TRaiserType raiserType, HMODULE moduleHandle)
{
    MainLockHold lock;
    if (const auto forward = reinterpret_cast<ExceptionManagerExport>(MainModuleExport("ExceptionManager")))
        return forward(object, address, raiserType, ReporterModule()) != 0;
    if (!HandlingEnabled() || !IsThreadIncluded(::GetCurrentThreadId())) return true;
    const LastExceptionInfo last = ThreadLastException();
    if (!IsReportableObject(object) && !IsReportableObject(last.Object)) return true;
    if (!IsValidObject(object)) {
        object = last.Object;
        address = last.LastNonNilAddress;
    }
    const bool isNative = LastNativeFlagOfModule(address, IsNativeRaisedException(object));
    if (ThreadExceptionState* state = CurrentThreadState(); state && state->StackPoint == 0)
        state->StackPoint = CurrentStackPosition();
    return ProcessCaughtException(object, address, isNative, nullptr, false, aeNone, moduleHandle, raiserType, nullptr,
                                  nullptr, 0, 0);
}

void ReportOSException(const void* object, const void* address)
{
    if (!ReporterActive()) return;
    if (ThreadExceptionState* state = CurrentThreadState(); state && state->StackPoint == 0) {
        // Reported from the last-chance filter: there is no synthetic raise.
        ClearSyntheticRaise(*state);
        state->StackPoint = CurrentStackPosition();
    }
    ProcessCaughtException(object, address, IsNativeRaisedException(object), nullptr, false, aeNone, ReporterModule(),
                           rtUnknown, nullptr, nullptr, 0, 0);
}

} // namespace kv::crashreport
