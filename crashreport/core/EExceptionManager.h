#pragma once
// The front door of every crash report: whoever caught an exception (the
// raise filter, the unhandled-exception filter, a replaced handler slot, the
// handled-exception capture) hands it to ProcessCaughtException. One report
// runs at a time, under the main lock, on a thread of its own (TExceptionThread)
// while the raising thread waits and keeps its windows alive; the report
// itself is the procedure set with SetReportProcedure.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "crashreport/core/ETypes.h"
#include "platform/Handles.h"

namespace kv::crashreport {

class TOspreyStackList;

enum TRaiserType : std::uint8_t { rtUnknown, rtLocal, rtWeb };
enum TAsynchronousException : std::uint8_t { aeNone, aeSafeCall, aeSynchronize };

// Everything ProcessCaughtException was given, with the thread's defaults
// filled in (0 and nullptr arguments mean "take the thread's own").
struct CaughtException {
    const void* Object = nullptr;
    const void* Address = nullptr;
    bool IsNative = false;
    TOspreyStackList* CallStack = nullptr;
    bool Handled = false;
    TAsynchronousException AsynchronousException = aeNone;
    HMODULE ModuleHandle = nullptr;
    TRaiserType RaiserType = rtUnknown;
    const EXCEPTION_RECORD* ExceptionRecord = nullptr;
    const CONTEXT* Context = nullptr;
    std::uint32_t StackPoint = 0;
    std::uint32_t TopOfStack = 0;
    DWORD ThreadID = 0;
    // The window that had the keyboard focus when the exception was caught.
    std::string ActiveControlClass;
    std::string ActiveControlText;
};

// Runs the report of one exception; its result is the handling result (true:
// let the program's own handling go on).
using ReportProcedure = bool (*)(const CaughtException& exception);
ReportProcedure SetReportProcedure(ReportProcedure procedure) noexcept;

bool ProcessCaughtException(const void* object, const void* address, bool isNative, TOspreyStackList* callStack,
                            bool handled, TAsynchronousException asynchronousException, HMODULE moduleHandle,
                            TRaiserType raiserType, const EXCEPTION_RECORD* exceptionRecord, const CONTEXT* context,
                            std::uint32_t stackPoint, std::uint32_t topOfStack);

// For exception handlers (this module's and other modules'): true when the
// handler's own handling should go on.
bool ExceptionManager(const void* object, const void* address, TRaiserType raiserType, HMODULE moduleHandle);

// For the unhandled-exception filter.
void ReportOSException(const void* object, const void* address);

// The thread one report runs on. It is created by the raising thread, which
// waits for it and frees it; it is made through kernel32 itself, so the
// thread hooks never list it among the program's threads. Whatever fails on
// it is the reporter's own failure (the internal-error report), never the
// application's.
class TExceptionThread {
public:
    // Fills the parameters the raising thread left 0 from its own data, then
    // starts the thread at the highest priority. Throws when no thread can be
    // made.
    explicit TExceptionThread(const CaughtException& params);
    ~TExceptionThread();
    TExceptionThread(const TExceptionThread&) = delete;
    TExceptionThread& operator=(const TExceptionThread&) = delete;

    bool Result() const noexcept { return FResult.load(); }
    bool Executing() const noexcept { return FExecuting.load(); }
    HANDLE Handle() const noexcept { return handle_.Get(); }
    DWORD ThreadId() const noexcept { return threadId_; }

private:
    static DWORD WINAPI ThreadStart(void* parameter);
    void Execute();

    std::atomic<bool> FExecuting{true};
    std::atomic<bool> FResult{false};
    CaughtException FParams;
    KernelHandle handle_;
    DWORD threadId_ = 0;
};

// Set while a report runs on the capturing thread itself, or comes from the
// last-chance filter (the program is ending): sending then runs without a
// thread of its own.
void SetReportInline(bool inline_) noexcept;
bool ReportInline() noexcept;

// Set by the reporter's dialogs when they first paint: from then on the
// waiting main thread dispatches its messages (input refused), so that both
// the dialogs and the program's windows stay drawn. Cleared at start-up.
void SetDialogPainted(bool painted) noexcept;
bool DialogPainted() noexcept;

// The calling thread runs a report (the exception thread, or the capturing
// thread of an inline report): what it raises is the reporter's own failure,
// never a new report.
bool ReportRunsOnThisThread() noexcept;

// The freeze watchdog's thread: its reports are about the main thread.
void SetFreezeWatchdogThreadId(DWORD threadId) noexcept;

// The class name (at most 256 characters) of the window with the keyboard
// focus; that window and the current cursor are kept for the screenshot.
std::string GetActiveControlClass();
// Its text (at most 256 characters): none for a multi-line edit, asterisks
// for a password edit.
std::string GetActiveControlText();
std::string ActiveControlTextOf(HWND window);
HWND ActiveControlWindow() noexcept;
HCURSOR ActiveControlCursor() noexcept;

// What the report asked for once it is over: end (or restart) the program.
void ForceTerminateBtnOperation(TTerminateBtnOperation operation);
bool TerminateRequested() noexcept;
void SetTerminateRequested(bool requested) noexcept;

// The main lock that serialises reports (start-up creates it).
void EnterMainLock() noexcept;
void LeaveMainLock() noexcept;

} // namespace kv::crashreport
