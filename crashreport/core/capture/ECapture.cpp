#include "crashreport/core/capture/ECapture.h"

#include <atomic>
#include <cstring>
#include <exception>

#include <httpext.h>

#include "crashreport/core/ECore.h"
#include "crashreport/core/EErrors.h"
#include "crashreport/core/EEvents.h"
#include "crashreport/core/EHook.h"
#include "crashreport/core/EWindows.h"
#include "crashreport/core/EObjects.h"
#include "crashreport/core/ESystem.h"
#include "crashreport/core/ExceptionLog.h"
#include "crashreport/core/capture/ERaisingStack.h"
#include "crashreport/core/capture/EThreadHooks.h"
#include "crashreport/core/capture/EThreadState.h"
#include "platform/Exceptions.h"
#include "platform/runtime/RuntimeObserver.h"
#include "platform/runtime/SehGuard.h"

extern "C" {
// The real RtlUnwind, for the assembly entry of its hook.
const void* kv_real_rtl_unwind = nullptr;
}

namespace kv::crashreport {
namespace {

LastExceptionInfo g_last;

using HttpExtensionProcType = DWORD(WINAPI*)(EXTENSION_CONTROL_BLOCK*);
using WriteClientType = BOOL(WINAPI*)(HCONN, LPVOID, LPDWORD, DWORD);
HttpExtensionProcType g_previousHttpExtensionProc = nullptr;
std::atomic<EXTENSION_CONTROL_BLOCK*> g_isapiBlock{nullptr};
std::atomic<WriteClientType> g_previousWriteClient{nullptr};

ExceptionObjectProcedure g_previousObjectProcedure = nullptr;
std::terminate_handler g_previousTerminate = nullptr;
const runtime::RuntimeObserver* g_previousObserver = nullptr;
PVOID g_vectoredHandler = nullptr;
std::atomic<WebClientOutputSink> g_webSink{nullptr};

using RaiseExceptionProc = void(WINAPI*)(DWORD, DWORD, DWORD, const ULONG_PTR*);
using WriteFileProc = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
using CreateThreadProc = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD);
using ResumeThreadProc = DWORD(WINAPI*)(HANDLE);
using ExitThreadProc = void(WINAPI*)(DWORD);

// The kernel32 procedure itself, found once (the import cell may already be ours).
template <class Proc>
Proc RealProcedure(Proc& cache, const char* name) noexcept
{
    if (!cache) cache = reinterpret_cast<Proc>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), name));
    return cache;
}

RaiseExceptionProc g_realRaiseException = nullptr;
WriteFileProc g_realWriteFile = nullptr;
CreateThreadProc g_realCreateThread = nullptr;
ResumeThreadProc g_realResumeThread = nullptr;
ExitThreadProc g_realExitThread = nullptr;

// RAII of the per-thread re-entry guard of the raise filter: an exception
// raised while the filter runs passes unfiltered.
class RaiseGuard {
public:
    explicit RaiseGuard(ThreadExceptionState* state) noexcept
        : state_(state), held_(state && ::InterlockedCompareExchange(&state->RaiseGuard, 1, 0) == 0),
          lastError_(::GetLastError())
    {
    }
    ~RaiseGuard()
    {
        if (held_) ::InterlockedExchange(&state_->RaiseGuard, 0);
        ::SetLastError(lastError_);
    }
    RaiseGuard(const RaiseGuard&) = delete;
    RaiseGuard& operator=(const RaiseGuard&) = delete;
    bool Held() const noexcept { return held_; }

private:
    ThreadExceptionState* state_;
    bool held_;
    DWORD lastError_;
};

// What the raise path asks of a class (reportable: a valid object and no
// silent abort; native: not a processor fault), decided once per class: the
// class walk reads names and allocates, which a raise must not do each time.
constexpr std::uint8_t kReportable = 1;
constexpr std::uint8_t kNative = 2;
constexpr std::size_t kVerdictSlots = 64;
std::atomic<std::uint64_t> g_verdicts[kVerdictSlots];

std::uint8_t ClassVerdict(const void* object, const std::type_info* type)
{
    const auto decide = [object] {
        return static_cast<std::uint8_t>((IsReportableObject(object) ? kReportable : 0) |
                                         (!ObjectInheritsFromName(object, "EExternal") ? kNative : 0));
    };
    if (!type || !object) return decide();
    const auto key = reinterpret_cast<std::uintptr_t>(type);
    std::atomic<std::uint64_t>& slot = g_verdicts[(key >> 3) % kVerdictSlots];
    const std::uint64_t held = slot.load(std::memory_order_acquire);
    if (static_cast<std::uintptr_t>(held) == key) return static_cast<std::uint8_t>(held >> 32);
    const std::uint8_t verdict = decide();
    slot.store(key | (static_cast<std::uint64_t>(verdict) << 32), std::memory_order_release);
    return verdict;
}

bool ShouldFilterOnThisThread(const void* object, const std::type_info* type = nullptr) noexcept
{
    try {
        return HandlingEnabled() && (ClassVerdict(object, type) & kReportable) &&
               IsThreadIncluded(::GetCurrentThreadId());
    } catch (...) {
        return false;
    }
}

// The report of an exception that no handler of the program will take.
void ReportUnhandledRaise(ThreadExceptionState* state, const void* object, const void* address, bool isNative,
                          TAsynchronousException kind)
{
    if (state && state->StackPoint == 0) state->StackPoint = state->RaiseFrame;
    const TReportStack carried = CarriedStackForReport(object);
    if (kind == aeNone) kind = carried.AsynchronousKind;
    const bool result = ProcessCaughtException(object, address, isNative, nullptr, false, kind, ReporterModule(),
                                               rtUnknown, nullptr, nullptr, carried.StackPoint, carried.TopOfStack);
    if (state) {
        state->ReportedAtRaise = object;
        state->ReportedAtRaiseResult = result;
    }
}

bool AlreadyReportedOnThread(const ThreadExceptionState* state, const void* object, const void* address) noexcept
{
    if (!state || !address) return false;
    return static_cast<std::uint32_t>(state->Reported.Value) == reinterpret_cast<std::uint32_t>(address) &&
           ClassNameOf(object) == state->Reported.ClassName;
}

// ---- The runtime observer

void OnRaised(void* object, const std::type_info* type, const runtime::RaiseSite& site, runtime::RaiseKind kind) noexcept
{
    if (!ReporterActive()) return;
    ThreadExceptionState* state = CurrentThreadState();
    if (!state || state->HandlingInProgress) return;
    state->RaiseFrame = site.Esp;
    state->RaiseRegister = site.Ecx;
    const ULONG_PTR arguments[7] = {reinterpret_cast<ULONG_PTR>(site.ReturnAddress),
                                    reinterpret_cast<ULONG_PTR>(object),
                                    site.Ebx,
                                    site.Esi,
                                    site.Edi,
                                    site.Ebp,
                                    site.Esp};
    // The unwinder decides whether a handler takes a C++ exception: here it
    // is only recorded, with the stack as it stands at the raise.
    GeneralRaiseNotify(kNativeExceptionCode, EXCEPTION_NONCONTINUABLE, 7, false, arguments);
    RaiseGuard guard(state);
    if (!guard.Held()) return;
    if (kind == runtime::RaiseKind::CarriedBack) {
        // Raised where the method ran: its address and stack are the first throw's.
        TakeCarriedException(object);
        RecordLastException(object, state->CarriedAddress ? state->CarriedAddress : site.ReturnAddress, true);
        return;
    }
    RecordLastException(object, site.ReturnAddress, true);
    if (ShouldFilterOnThisThread(object, type)) SaveRaisingThreadStack(site.ReturnAddress, true);
}

void OnCarried(void* object, const std::type_info*) noexcept
{
    if (ReporterActive() && !ReportRunsOnThisThread()) NoteCarriedException(object);
}

void OnNoHandler(void* object, const std::type_info*) noexcept
{
    if (!ReporterActive() || ReportRunsOnThisThread()) return;
    ThreadExceptionState* state = CurrentThreadState();
    RaiseGuard guard(state);
    if (!guard.Held() || !ShouldFilterOnThisThread(object)) return;
    try {
        ReportUnhandledRaise(state, object, RaiseAddressOf(object), !ObjectInheritsFromName(object, "EExternal"),
                             aeNone);
    } catch (...) {
    }
}

// The end of a catch block: with "catch handled exceptions", the exception
// is reported as handled, unless this thread already reported it.
void OnHandled(void* object, const std::type_info*) noexcept
{
    if (!ReporterActive() || ReportRunsOnThisThread()) return;
    const TOspreyModuleOptions* options = CurrentOspreyLogOptions();
    if (!options || !options->BehaviourOptions().Contains(boCatchHandledExceptions)) return;
    ThreadExceptionState* state = CurrentThreadState();
    RaiseGuard guard(state);
    if (!guard.Held() || !HandlingEnabled() || !IsThreadIncluded(::GetCurrentThreadId())) return;
    const void* address = RaiseAddressOf(object);
    if (AlreadyReportedOnThread(state, object, address)) return;
    if (state->ExceptionRecord.ExceptionCode == kThreadNamingException) return;
    // Taken only to be thrown again on the thread that waits for it.
    if (IsCarriedException(object)) return;
    try {
        const TReportStack stack = RaisingStackForReport(object, address);
        ProcessCaughtException(object, address, !ObjectInheritsFromName(object, "EExternal"), nullptr, true,
                               stack.AsynchronousKind, ReporterModule(), rtUnknown, nullptr, nullptr, stack.StackPoint,
                               stack.TopOfStack);
    } catch (...) {
    }
}

const runtime::RuntimeObserver kCaptureObserver{OnRaised, OnNoHandler, OnHandled, OnCarried};

// ---- The vectored handler: keeps what a processor fault looked like at its
// first sight, before any handler unwinds its frames.

bool IsForeignOrQuiet(DWORD code) noexcept
{
    // Success and informational codes are messages, not failures; C++
    // exceptions of other runtimes are theirs to handle.
    return (code >> 30) < 2 || code == kForeignCxxExceptionCode || code == kThreadNamingException ||
           code == kNativeExceptionCode;
}

LONG CALLBACK ReporterVectoredHandler(EXCEPTION_POINTERS* pointers)
{
    const DWORD lastError = ::GetLastError();
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    if (ReporterActive() && !IsForeignOrQuiet(record->ExceptionCode)) {
        ThreadExceptionState* state = CurrentThreadState();
        if (state && !state->Probing && !state->HandlingInProgress && state->RaiseGuard == 0) {
            std::memcpy(&state->ExceptionRecord, record, kRecordCopySize);
            std::memcpy(&state->Context, pointers->ContextRecord, kContextCopySize);
            state->Context.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER;
            state->StackPoint = pointers->ContextRecord->Esp;
            SaveStackCopy(pointers->ContextRecord->Esp, record->ExceptionAddress);
            state->FaultChainAddress = record->ExceptionAddress;
            SnapshotSehChain(CurrentSehChainHead(), state->FaultChain);
        }
    }
    ::SetLastError(lastError);
    return EXCEPTION_CONTINUE_SEARCH;
}

void TerminateHandler() { ExceptProcHook(); }

} // namespace

void SetWebClientOutputSink(WebClientOutputSink sink) noexcept { g_webSink.store(sink); }

namespace {

void Record(LastExceptionInfo& last, const void* object, const void* address, bool isNative) noexcept
{
    if (address) last.LastNonNilAddress = address;
    if (object) last.LastNonNilObject = object;
    last.Address = address;
    last.Object = object;
    last.IsNative = isNative;
}

const void* AddressIn(const LastExceptionInfo& last, const void* object) noexcept
{
    if (last.Object == object) return last.Address;
    if (last.LastNonNilObject == object) return last.LastNonNilAddress;
    return nullptr;
}

} // namespace

void RecordLastException(const void* object, const void* address, bool isNative) noexcept
{
    Record(g_last, object, address, isNative);
    if (ThreadExceptionState* state = CurrentThreadState()) Record(state->Last, object, address, isNative);
}

LastExceptionInfo LastException() noexcept { return g_last; }

LastExceptionInfo ThreadLastException() noexcept
{
    const ThreadExceptionState* state = ExistingThreadState();
    return state ? state->Last : LastExceptionInfo{};
}

const void* RaiseAddressOf(const void* object) noexcept
{
    if (!object) return nullptr;
    if (const ThreadExceptionState* state = ExistingThreadState())
        if (const void* address = AddressIn(state->Last, object)) return address;
    // Another thread's raise (a carried exception, a report on the exception thread).
    return AddressIn(g_last, object);
}

namespace {

using CallGeneralRaiseExport = void(KV_REGISTER_CALL*)(DWORD, DWORD, DWORD, std::uint32_t, const ULONG_PTR*);
using CallExceptObjectExport = const void*(KV_REGISTER_CALL*)(const EXCEPTION_RECORD*, const CONTEXT*, std::uint8_t);

// Any raise is also passed on to the main module's reporter.
void ForwardRaise(DWORD code, DWORD flags, DWORD numberOfArguments, const ULONG_PTR* arguments) noexcept
{
    const auto forward = reinterpret_cast<CallGeneralRaiseExport>(MainModuleExport("OspreyLog_CallGeneralRaise"));
    const ThreadExceptionState* state = ExistingThreadState();
    if (forward) forward(code, flags, numberOfArguments, state ? state->RaiseFrame : 0, arguments);
}

} // namespace

void GeneralRaiseNotify(DWORD code, DWORD flags, DWORD numberOfArguments, bool notify, const ULONG_PTR* arguments)
{
    struct PassOn {
        DWORD code, flags, count;
        const ULONG_PTR* arguments;
        ~PassOn() { ForwardRaise(code, flags, count, arguments); }
    } passOn{code, flags, numberOfArguments, arguments};
    if (code != kNativeExceptionCode || flags != EXCEPTION_NONCONTINUABLE || numberOfArguments != 7) return;
    ThreadExceptionState* state = CurrentThreadState();
    if (!state) return;
    state->StackPoint = state->RaiseFrame;
    CONTEXT& context = state->Context;
    std::memset(&context, 0, kContextCopySize);
    context.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER;
    context.Eax = arguments[1];
    context.Ebx = arguments[2];
    context.Ecx = state->RaiseRegister;
    context.Edx = arguments[0];
    context.Esi = arguments[3];
    context.Edi = arguments[4];
    context.Ebp = arguments[5];
    context.Esp = state->RaiseFrame;
    context.Eip = arguments[0] - 5;
    EXCEPTION_RECORD& record = state->ExceptionRecord;
    std::memset(&record, 0, kRecordCopySize);
    record.ExceptionCode = code;
    record.ExceptionFlags = flags;
    record.ExceptionAddress = reinterpret_cast<void*>(arguments[0]);
    record.NumberParameters = 7;
    for (int i = 0; i < 7; ++i) record.ExceptionInformation[i] = arguments[i];
    if (notify)
        RaiseNotify(reinterpret_cast<const void*>(arguments[1]), reinterpret_cast<const void*>(arguments[0]), true);
}

void* MainModuleExport(const char* name) noexcept
{
    if (!MainModuleCarriesReporter()) return nullptr;
    return reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(nullptr), name));
}

void ForwardedGeneralRaise(DWORD code, DWORD flags, DWORD numberOfArguments, std::uint32_t raiseFrame,
                           const ULONG_PTR* arguments)
{
    if (ThreadExceptionState* state = CurrentThreadState()) state->RaiseFrame = raiseFrame;
    GeneralRaiseNotify(code, flags, numberOfArguments, false, arguments);
}

namespace {
std::exception_ptr g_forwardedObject;
} // namespace

const void* ForwardedExceptObject(const EXCEPTION_RECORD* record, const CONTEXT* context, bool notify)
{
    g_forwardedObject = OspreyLog_CallExceptObject(record, context, notify);
    return runtime::ExceptionObjectOf(g_forwardedObject);
}

void RaiseNotify(const void* object, const void* address, bool isNative)
{
    if (ReportRunsOnThisThread()) return;
    ThreadExceptionState* state = CurrentThreadState();
    RaiseGuard guard(state);
    if (!guard.Held()) return;
    RecordLastException(object, address, isNative);
    if (!ShouldFilterOnThisThread(object)) return;
    SaveRaisingThreadStack(address, isNative);
    TAsynchronousException kind = aeNone;
    if (!CheckHandledByTryExcept(object, address, false, kind)) ReportUnhandledRaise(state, object, address, isNative, kind);
}

void SaveRaisingThreadStack(const void* address, bool isNative) noexcept
{
    const ThreadExceptionState* state = ExistingThreadState();
    const void* kept = isNative && address ? static_cast<const char*>(address) - 5 : address;
    SaveStackCopy(state ? state->Context.Esp : 0, kept);
}

void RtlUnwindNotify(void*, void*, EXCEPTION_RECORD* record) noexcept
{
    if (!ReporterActive() || !record) return;
    // An OS exception being unwound: it never passed the RaiseException hook.
    if (record->ExceptionCode > 0xC0000004 && record->ExceptionCode <= 0xC000013A &&
        record->ExceptionFlags == EXCEPTION_UNWINDING)
        SaveRaisingThreadStack(record->ExceptionAddress, false);
}

std::exception_ptr OspreyLog_CallExceptObject(const EXCEPTION_RECORD* record, const CONTEXT* context, bool notify)
{
    if (!record) return nullptr;
    std::exception_ptr object =
        g_previousObjectProcedure ? g_previousObjectProcedure(*record, context) : DefaultExceptionObject(*record, context);
    try {
        if (record->ExceptionCode == kThreadNamingException && record->NumberParameters == 4) return object;
        ThreadExceptionState* state = CurrentThreadState();
        if (!state) return object;
        std::memcpy(&state->ExceptionRecord, record, kRecordCopySize);
        if (context && IsReadableMemory(context, kContextCopySize)) {
            state->StackPoint = context->Esp;
            std::memcpy(&state->Context, context, kContextCopySize);
            state->Context.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER;
        } else {
            state->StackPoint = 0;
            std::memset(&state->Context, 0, kContextCopySize);
        }
        const void* instance = runtime::ExceptionObjectOf(object);
        const bool mainThreadRunning = ::GetCurrentThreadId() == ReporterMainThreadId() && !InUnitInitialization() &&
                                       !InUnitFinalization();
        if (mainThreadRunning) {
            RecordLastException(instance, record->ExceptionAddress, false);
        } else if (notify) {
            RaiseNotify(instance, record->ExceptionAddress, false);
        }
        if (const auto forward =
                reinterpret_cast<CallExceptObjectExport>(MainModuleExport("OspreyLog_CallExceptObject")))
            forward(record, context, 0);
    } catch (...) {
        // The object is made; whatever failed while noting it is not the program's business.
    }
    return object;
}

std::exception_ptr ExceptObjProcHook(const EXCEPTION_RECORD& record, const CONTEXT* context)
{
    return OspreyLog_CallExceptObject(&record, context, true);
}

void ExceptProcHook()
{
    void* object = runtime::CaughtExceptionObject();
    const void* address = RaiseAddressOf(object);
    ThreadExceptionState* state = CurrentThreadState();
    if (ReporterActive() && object && !ReportRunsOnThisThread() && !AlreadyReportedOnThread(state, object, address)) {
        RaiseGuard guard(state);
        if (guard.Held() && ShouldFilterOnThisThread(object)) {
            try {
                ReportUnhandledRaise(state, object, address, !ObjectInheritsFromName(object, "EExternal"), aeNone);
            } catch (...) {
            }
        }
    }
    if (::GetCurrentThreadId() == ReporterMainThreadId()) ::ExitProcess(1);
    HookedExitThread(1);
    ::ExitProcess(1); // not reached
}

void InstallRuntimeCapture()
{
    g_previousTerminate = std::set_terminate(TerminateHandler);
    g_previousObjectProcedure = SetExceptionObjectProcedure(ExceptObjProcHook);
    g_previousObserver = runtime::SetRuntimeObserver(&kCaptureObserver);
    g_vectoredHandler = ::AddVectoredExceptionHandler(1, ReporterVectoredHandler);
}

void RemoveRuntimeCapture()
{
    if (g_vectoredHandler) ::RemoveVectoredExceptionHandler(g_vectoredHandler);
    g_vectoredHandler = nullptr;
    runtime::SetRuntimeObserver(g_previousObserver);
    SetExceptionObjectProcedure(g_previousObjectProcedure);
    std::set_terminate(g_previousTerminate);
}

namespace {

// The replaced functions must be imports of this module for their cells to
// be patched: taking their addresses keeps them in the import table.
[[gnu::used]] const void* const kForcedImports[] = {
    reinterpret_cast<const void*>(&::RaiseException), reinterpret_cast<const void*>(&::RtlUnwind),
    reinterpret_cast<const void*>(&::WriteFile),      reinterpret_cast<const void*>(&::CreateThread),
    reinterpret_cast<const void*>(&::ResumeThread),   reinterpret_cast<const void*>(&::ExitThread)};

// One import of kernel32, hooked on its own: a failure is the reporter's own
// and leaves the other hooks in place.
const void* HookKernelImport(const char* name, const void* replacement)
{
    try {
        const void* original = nullptr;
        if (HookProcByName({GetModuleFullName(ReporterModule())}, "kernel32.dll", false, original, replacement, name))
            return original;
    } catch (...) {
        ReportInternalError("ExceptionLog.Init");
    }
    return nullptr;
}

template <class Proc>
bool HookKernelImport(const char* name, Proc replacement, Proc& real)
{
    const void* original = HookKernelImport(name, reinterpret_cast<const void*>(replacement));
    if (original) real = reinterpret_cast<Proc>(const_cast<void*>(original));
    return original != nullptr;
}

bool HookIsapiEntry()
{
    void* entry = reinterpret_cast<void*>(::GetProcAddress(ReporterModule(), "HttpExtensionProc"));
    if (!entry) return true;
    try {
        g_previousHttpExtensionProc = reinterpret_cast<HttpExtensionProcType>(
            HookProcedure(entry, reinterpret_cast<void*>(&HookedHttpExtensionProc), "HttpExtensionProc"));
        return true;
    } catch (...) {
        ReportInternalError("ExceptionLog.Init");
        return false;
    }
}

} // namespace

bool InstallImportHooks()
{
    // In this order; each on its own.
    bool all = HookKernelImport("RaiseException", &HookedRaiseException, g_realRaiseException);
    if (const void* real = HookKernelImport("RtlUnwind", reinterpret_cast<const void*>(&HookedRtlUnwind)))
        kv_real_rtl_unwind = real;
    else
        all = false;
    all = HookKernelImport("WriteFile", &HookedWriteFile, g_realWriteFile) && all;
    all = HookIsapiEntry() && all;
    all = HookKernelImport("CreateThread", &HookedCreateThread, g_realCreateThread) && all;
    all = HookKernelImport("ResumeThread", &HookedResumeThread, g_realResumeThread) && all;
    all = HookKernelImport("ExitThread", &HookedExitThread, g_realExitThread) && all;
    return all;
}

extern "C" {

void kv_capture_raise_entry(std::uint32_t frame, std::uint32_t secondRegister) noexcept
{
    if (ThreadExceptionState* state = CurrentThreadState()) {
        state->RaiseFrame = frame;
        state->RaiseRegister = secondRegister;
    }
}

void WINAPI kv_capture_raise_exception(DWORD code, DWORD flags, DWORD numberOfArguments, const ULONG_PTR* arguments)
{
    const RaiseExceptionProc real = RealProcedure(g_realRaiseException, "RaiseException");
    if (code == kv::kThreadNamingException && numberOfArguments == 4) {
        real(code, flags, numberOfArguments, arguments);
        return;
    }
    // The runtime's note to a debugger about a foreign exception: nobody
    // listens without one.
    if (code == kForeignNotificationCode && flags == 0 && numberOfArguments == 2 && arguments &&
        IsReadableMemory(reinterpret_cast<const void*>(arguments[0]), kRecordCopySize) &&
        *reinterpret_cast<const DWORD*>(arguments[0]) == 0x1003F && !DebuggerAttached())
        return;
    if (ReporterActive()) GeneralRaiseNotify(code, flags, numberOfArguments, true, arguments);
    real(code, flags, numberOfArguments, arguments);
}

void kv_capture_rtl_unwind(std::uint32_t frame, void* targetFrame, void* targetIp, EXCEPTION_RECORD* record) noexcept
{
    if (ThreadExceptionState* state = CurrentThreadState()) state->RaiseFrame = frame;
    RtlUnwindNotify(targetFrame, targetIp, record);
}

BOOL WINAPI HookedWriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written, LPOVERLAPPED overlapped)
{
    if (const WebClientOutputSink sink = g_webSink.load()) sink(file, buffer, count);
    return RealProcedure(g_realWriteFile, "WriteFile")(file, buffer, count, written, overlapped);
}

HANDLE WINAPI HookedCreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                                 LPVOID parameter, DWORD flags, LPDWORD threadId)
{
    return OnCreateThread(RealProcedure(g_realCreateThread, "CreateThread"), attributes, stackSize, start, parameter,
                          flags, threadId);
}

BOOL WINAPI HookedWriteClient(HCONN connection, LPVOID buffer, LPDWORD bytes, DWORD reserved)
{
    if (const WebClientOutputSink sink = g_webSink.load(); sink && buffer && bytes)
        sink(nullptr, buffer, *bytes);
    const WriteClientType previous = g_previousWriteClient.load();
    return previous ? previous(connection, buffer, bytes, reserved) : FALSE;
}

DWORD WINAPI HookedHttpExtensionProc(EXTENSION_CONTROL_BLOCK* block)
{
    if (block) {
        g_isapiBlock = block;
        if (block->WriteClient != HookedWriteClient) g_previousWriteClient = block->WriteClient;
        block->WriteClient = HookedWriteClient;
    }
    return g_previousHttpExtensionProc ? g_previousHttpExtensionProc(block) : HSE_STATUS_ERROR;
}

DWORD WINAPI HookedResumeThread(HANDLE thread)
{
    return OnResumeThread(RealProcedure(g_realResumeThread, "ResumeThread"), thread);
}

void WINAPI HookedExitThread(DWORD exitCode)
{
    OnThreadExit();
    // The thread's reporter block dies with it.
    ReleaseThreadState();
    RealProcedure(g_realExitThread, "ExitThread")(exitCode);
}

} // extern "C"

} // namespace kv::crashreport
