#include "crashreport/core/EExceptionManager.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <exception>
#include <memory>
#include <string_view>
#include <typeinfo>

#include "crashreport/core/ECore.h"
#include "crashreport/core/EErrors.h"
#include "crashreport/core/EEvents.h"
#include "crashreport/core/EObjects.h"
#include "crashreport/core/ESystem.h"
#include "crashreport/core/ExceptionLog.h"
#include "crashreport/core/capture/ECapture.h"
#include "crashreport/core/capture/ERaisingStack.h"
#include "crashreport/core/capture/EThreadState.h"
#include "platform/Exceptions.h"
#include "platform/TextCodec.h"
#include "platform/runtime/SehGuard.h"

namespace kv::crashreport {
namespace {

// The section of the internal-error report for a failure of the report itself.
constexpr std::string_view kReportSection = "ExceptionManager";
constexpr std::string_view kSafeCallPrefix = "[SafeCall Exception]: ";
constexpr DWORD kWaitTurnMs = 10;
constexpr int kMessagesPerTurn = 11;
constexpr int kActiveControlTextLength = 256;
// A window of another thread answers WM_GETTEXT only when that thread serves
// its messages; a report must not hang on one that does not.
constexpr UINT kForeignWindowTextTimeoutMs = 1000;

std::atomic<ReportProcedure> g_report{nullptr};
// Set by the last-chance filter: the program is ending.
std::atomic<bool> g_reportInline{false};
// Set while the report runs on the thread that caught the exception.
std::atomic<bool> g_runningInline{false};
std::atomic<bool> g_dialogPainted{false};
std::atomic<DWORD> g_watchdogThread{0};
std::atomic<bool> g_terminateRequested{false};
std::atomic<HWND> g_activeWindow{nullptr};
std::atomic<HCURSOR> g_activeCursor{nullptr};
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

// The program's own exception class inside a thrown object of any class
// derived from it; nullptr for anything else.
kv::Exception* AsProgramException(const void* object)
{
    const std::type_info* type = ClassOf(object);
    if (!type) return nullptr;
    void* adjusted = const_cast<void*>(object);
    return typeid(kv::Exception).__do_catch(type, &adjusted, 1) ? static_cast<kv::Exception*>(adjusted) : nullptr;
}

bool HasSafeCallPrefix(const void* object)
{
    const kv::Exception* exception = AsProgramException(object);
    return exception && std::string_view(exception->what()).substr(0, kSafeCallPrefix.size()) == kSafeCallPrefix;
}

void MarkAsSafeCall(const void* object)
{
    kv::Exception* exception = AsProgramException(object);
    if (!exception || std::string_view(exception->what()).find(kSafeCallPrefix) != std::string_view::npos) return;
    exception->SetMessage(AnsiToWide(kSafeCallPrefix) + exception->Message());
}

bool HasBehaviour(const TOspreyModuleOptions* options, TBehaviourOption option)
{
    return options && options->BehaviourOptions().Contains(option);
}

// The main thread serves its messages while it waits, unless the report may
// pause it or its stack has no room left.
bool PumpsWhileWaiting(const void* object, const TOspreyModuleOptions* options)
{
    if (ObjectInheritsFromName(object, "EStackOverflow")) return false;
    return !(HasBehaviour(options, boPauseRuntimeThreads) && !HasBehaviour(options, boDoNotPauseMainThread));
}

bool RunsInline(const void* object)
{
    if (ObjectInheritsFromName(object, "EMemoryLeak")) return true;
    // A library's start or end holds the loader lock: a new thread would
    // never start.
    const bool isLibrary = ReporterModule() != ::GetModuleHandleW(nullptr);
    return isLibrary && (InUnitInitialization() || InUnitFinalization());
}

// ---- Running the report

// The calling thread runs the report: what it raises is the reporter's own
// failure, and the capture hooks let it pass.
bool RunReportProcedure(const CaughtException& caught) noexcept
{
    ThreadExceptionState* state = CurrentThreadState();
    const std::uint8_t wasHandling = state ? state->HandlingInProgress : 0;
    if (state) state->HandlingInProgress = 1;
    struct Run {
        const CaughtException* caught;
        bool result;
    } run{&caught, false};
    const bool completed = detail::RunGuarded(
        [](void* context) {
            auto* run = static_cast<Run*>(context);
            const ReportProcedure report = g_report.load();
            run->result = report ? report(*run->caught) : true;
        },
        &run, [](const std::exception_ptr& error) noexcept { ReportOwnFailure(error, kReportSection); });
    if (state) state->HandlingInProgress = wasHandling;
    return completed && run.result;
}

// Serves what other threads send to this thread's windows (WM_GETTEXT of
// the report, for one): SendMessage to a thread that only sleeps would block
// the sender.
void ServeSentMessages() noexcept
{
    MSG message;
    ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

bool IsUserInput(UINT message) noexcept
{
    return (message >= WM_NCLBUTTONDOWN && message <= WM_NCMBUTTONDBLCLK) || message == WM_KEYDOWN ||
           message == WM_KEYUP || message == WM_CHAR || message == WM_SYSKEYDOWN || message == WM_SYSKEYUP ||
           message == WM_SYSCHAR || (message >= WM_LBUTTONDOWN && message <= WM_MBUTTONDBLCLK);
}

struct Dispatch {
    MSG* message;
    bool failed;
};

// False when dispatching failed.
bool DispatchGuarded(MSG& message) noexcept
{
    Dispatch dispatch{&message, false};
    const int faulted = kv_seh_guard(
        [](void* context) {
            auto* dispatch = static_cast<Dispatch*>(context);
            try {
                ::TranslateMessage(dispatch->message);
                ::DispatchMessageW(dispatch->message);
            } catch (...) {
                dispatch->failed = true;
            }
        },
        &dispatch, [](void* context, const EXCEPTION_RECORD*, const CONTEXT*) { static_cast<Dispatch*>(context)->failed = true; });
    return !faulted && !dispatch.failed;
}

// One turn of the waiting main thread's pump: the program's windows are
// drawn and served, the user's input to them is refused, and a request to
// quit is lost (the program must not end under the report). False when a
// dispatch failed: the pump then stays off for the rest of the report.
bool PumpWaitingMessages() noexcept
{
    for (int taken = 0; taken < kMessagesPerTurn; ++taken) {
        MSG message;
        if (!::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) break;
        if (message.message == WM_QUIT) continue;
        if (IsUserInput(message.message)) {
            ::MessageBeep(0);
            continue;
        }
        if (!DispatchGuarded(message)) return false;
    }
    return true;
}

// The raising thread's side of a report on the exception thread.
bool WaitForReport(TExceptionThread& thread, bool pumpOnMain)
{
    const bool onMainThread = ::GetCurrentThreadId() == ReporterMainThreadId();
    try {
        // The thread's end counts too: a report thread that left by
        // ExitThread never clears its flag.
        while (thread.Executing() && ::WaitForSingleObject(thread.Handle(), 0) == WAIT_TIMEOUT) {
            ServeSentMessages();
            if (onMainThread && pumpOnMain && DialogPainted()) pumpOnMain = PumpWaitingMessages();
            RunPendingEventProcedure();
            ::Sleep(kWaitTurnMs);
        }
        ::WaitForSingleObject(thread.Handle(), INFINITE);
        return thread.Result();
    } catch (...) {
        ::TerminateThread(thread.Handle(), 1);
        ::WaitForSingleObject(thread.Handle(), INFINITE);
        return true;
    }
}

bool ReportOnExceptionThread(const CaughtException& caught, bool pumpOnMain)
{
    BeginWaitingForReport();
    struct EndWaiting {
        ~EndWaiting() { EndWaitingForReport(); }
    } endWaiting;
    std::unique_ptr<TExceptionThread> thread;
    try {
        thread = std::make_unique<TExceptionThread>(caught);
    } catch (...) {
        // No thread to be had: the report is not lost, it runs here.
        return RunReportProcedure(caught);
    }
    return WaitForReport(*thread, pumpOnMain);
}

// kernel32's own procedures: the report's thread is the reporter's, not one
// of the program's threads that the hooks keep a list of.
template <class Proc>
Proc Kernel32Procedure(const char* name) noexcept
{
    return reinterpret_cast<Proc>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), name));
}

// ---- The focused window

HWND FocusedWindow() noexcept
{
    if (HWND focus = ::GetFocus()) return focus;
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return ::GetGUIThreadInfo(0, &info) ? info.hwndFocus : nullptr;
}

std::string WindowClassName(HWND window)
{
    char name[kActiveControlTextLength + 1] = {};
    const int length = ::GetClassNameA(window, name, sizeof name);
    return std::string(name, static_cast<std::size_t>(std::max(length, 0)));
}

// The text as the window holds it: every window of this program is Unicode.
std::wstring WindowText(HWND window)
{
    wchar_t text[kActiveControlTextLength + 1] = {};
    if (::GetWindowThreadProcessId(window, nullptr) == ::GetCurrentThreadId()) {
        const int length = ::GetWindowTextW(window, text, kActiveControlTextLength + 1);
        return std::wstring(text, static_cast<std::size_t>(std::max(length, 0)));
    }
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutW(window, WM_GETTEXT, kActiveControlTextLength + 1, reinterpret_cast<LPARAM>(text),
                               SMTO_ABORTIFHUNG | SMTO_BLOCK, kForeignWindowTextTimeoutMs, &length))
        return std::wstring();
    return std::wstring(text, std::min<std::size_t>(length, kActiveControlTextLength));
}

std::string UpperTrimmed(std::string text)
{
    const auto blank = [](unsigned char c) { return c <= ' '; };
    text.erase(text.begin(), std::find_if_not(text.begin(), text.end(), blank));
    text.erase(std::find_if_not(text.rbegin(), text.rend(), blank).base(), text.end());
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

// ---- Process-wide state

void EnterMainLock() noexcept { ::EnterCriticalSection(&MainLock()); }
void LeaveMainLock() noexcept { ::LeaveCriticalSection(&MainLock()); }

void SetReportInline(bool inline_) noexcept { g_reportInline = inline_; }
bool ReportInline() noexcept { return g_reportInline.load() || g_runningInline.load(); }

void SetDialogPainted(bool painted) noexcept { g_dialogPainted = painted; }
bool DialogPainted() noexcept { return g_dialogPainted.load(); }

void SetFreezeWatchdogThreadId(DWORD threadId) noexcept { g_watchdogThread = threadId; }

bool ReportRunsOnThisThread() noexcept
{
    const ThreadExceptionState* state = ExistingThreadState();
    return state && state->HandlingInProgress;
}

ReportProcedure SetReportProcedure(ReportProcedure procedure) noexcept { return g_report.exchange(procedure); }

bool TerminateRequested() noexcept { return g_terminateRequested.load(); }
void SetTerminateRequested(bool requested) noexcept { g_terminateRequested = requested; }

void ForceTerminateBtnOperation(TTerminateBtnOperation operation)
{
    if (!ReporterActive()) return;
    g_terminateRequested = true;
    TOspreyModuleOptions* options = CurrentExceptionRecord().CurrentModuleOptions;
    if (!options) options = CurrentOspreyLogOptions();
    if (options) options->SetTerminateBtnOperation(operation);
}

// ---- The focused window

std::string GetActiveControlClass()
{
    const HWND window = FocusedWindow();
    g_activeWindow = window;
    CURSORINFO cursor{};
    cursor.cbSize = sizeof cursor;
    g_activeCursor = ::GetCursorInfo(&cursor) ? cursor.hCursor : ::GetCursor();
    return window ? WindowClassName(window) : std::string();
}

std::string GetActiveControlText() { return ActiveControlTextOf(FocusedWindow()); }

std::string ActiveControlTextOf(HWND window)
{
    if (!window) return std::string();
    const std::string className = UpperTrimmed(WindowClassName(window));
    const bool isEdit = className.find("EDIT") != std::string::npos;
    const bool isMemo = className.find("MEMO") != std::string::npos;
    const LONG style = ::GetWindowLongW(window, GWL_STYLE);
    if ((isEdit || isMemo) && (style & ES_MULTILINE)) return std::string();
    const std::wstring text = WindowText(window);
    if (isEdit && (style & ES_PASSWORD)) return std::string(text.size(), '*');
    return WideToAnsi(text);
}

HWND ActiveControlWindow() noexcept { return g_activeWindow.load(); }
HCURSOR ActiveControlCursor() noexcept { return g_activeCursor.load(); }

// ---- The exception thread

TExceptionThread::TExceptionThread(const CaughtException& params) : FParams(params)
{
    if (!FParams.TopOfStack) FParams.TopOfStack = reinterpret_cast<std::uint32_t>(GetStackTop());
    if (ThreadExceptionState* state = CurrentThreadState()) {
        if (!FParams.StackPoint) FParams.StackPoint = state->StackPoint;
        if (!FParams.Context) FParams.Context = &state->Context;
        if (!FParams.ExceptionRecord) FParams.ExceptionRecord = &state->ExceptionRecord;
    }
    using CreateThreadProc = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD,
                                             LPDWORD);
    using ResumeThreadProc = DWORD(WINAPI*)(HANDLE);
    const auto create = Kernel32Procedure<CreateThreadProc>("CreateThread");
    const auto resume = Kernel32Procedure<ResumeThreadProc>("ResumeThread");
    if (!create || !resume) throw Exception(L"Cannot reach kernel32's thread procedures");
    handle_.Reset(create(nullptr, 0, &TExceptionThread::ThreadStart, this, CREATE_SUSPENDED, &threadId_));
    if (!handle_) throw Exception(L"Cannot create the report's thread");
    ::SetThreadPriority(handle_.Get(), THREAD_PRIORITY_HIGHEST);
    if (resume(handle_.Get()) == static_cast<DWORD>(-1)) {
        ::TerminateThread(handle_.Get(), 1);
        throw Exception(L"Cannot start the report's thread");
    }
}

TExceptionThread::~TExceptionThread() = default;

DWORD WINAPI TExceptionThread::ThreadStart(void* parameter)
{
    static_cast<TExceptionThread*>(parameter)->Execute();
    // The waiting thread may free the object from here on.
    ReleaseThreadState();
    return 0;
}

void TExceptionThread::Execute()
{
    struct Done {
        std::atomic<bool>& executing;
        ~Done() { executing = false; }
    } done{FExecuting};
    FResult = RunReportProcedure(FParams);
}

// ---- The front doors

bool ProcessCaughtException(const void* object, const void* address, bool isNative, TOspreyStackList* callStack,
                            bool handled, TAsynchronousException asynchronousException, HMODULE moduleHandle,
                            TRaiserType raiserType, const EXCEPTION_RECORD* exceptionRecord, const CONTEXT* context,
                            std::uint32_t stackPoint, std::uint32_t topOfStack)
{
    if (!ReporterActive() || ObjectInheritsFromName(object, "EAbort")) return true;
    ThreadExceptionState* state = CurrentThreadState();
    if (!state) return true;
    // The report's own thread: the thread that waits for it holds the lock.
    if (state->HandlingInProgress) return false;
    ReleaseOutOfMemorySpace();
    struct Reserve {
        ~Reserve() { ReserveOutOfMemorySpace(); }
    } reserveAgain;
    const bool pumpOnMain = PumpsWhileWaiting(object, CurrentOspreyLogOptions());
    MainLockHold lock;
    // An exception raised by the report on the thread that is reporting.
    if (state->ReportInProgress) return false;
    state->ReportInProgress = 1;
    struct InProgress {
        ThreadExceptionState* state;
        ~InProgress() { state->ReportInProgress = 0; }
    } inProgress{state};

    const TOspreyModuleOptions* options = CurrentOspreyLogOptions();
    if (!HasBehaviour(options, boHandleSafeCallExceptions) && HasSafeCallPrefix(object)) return false;
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
    const DWORD watchdog = g_watchdogThread.load();
    caught.ThreadID = watchdog && watchdog == ::GetCurrentThreadId() ? ReporterMainThreadId() : ::GetCurrentThreadId();
    caught.ActiveControlClass = GetActiveControlClass();
    caught.ActiveControlText = GetActiveControlText();
    if (!handled) RecordThreadExceptionClass(object, static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(address)));

    bool result = true;
    if (RunsInline(object)) {
        g_runningInline = true;
        result = RunReportProcedure(caught);
        g_runningInline = false;
    } else {
        result = ReportOnExceptionThread(caught, pumpOnMain);
    }
    ClearThreadExceptionState(*state);
    if (asynchronousException == aeSafeCall) MarkAsSafeCall(object);
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
    // On the report's own thread the main lock belongs to the thread that
    // waits for it: nothing is reported from here.
    if (ReportRunsOnThisThread()) return false;
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
    // A handler's own calls have overwritten the raising frames: the copy
    // taken at the raise is scanned (and a carried-back exception is marked).
    const TReportStack stack = RaisingStackForReport(object, address);
    return ProcessCaughtException(object, address, isNative, nullptr, false, stack.AsynchronousKind, moduleHandle,
                                  raiserType, nullptr, nullptr, stack.StackPoint, stack.TopOfStack);
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
