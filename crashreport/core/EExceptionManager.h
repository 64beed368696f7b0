#pragma once
// The front door of every crash report: whoever caught an exception (the
// raise filter, the unhandled-exception filter, a replaced handler slot, the
// handled-exception capture) hands it to ProcessCaughtException. For now the
// report itself is a replaceable procedure that records the call; the
// exception thread and the handling procedure come later.
#include <windows.h>

#include <cstdint>

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

// Set while a report runs on the capturing thread itself, or comes from the
// last-chance filter (the program is ending): sending then runs without a
// thread of its own.
void SetReportInline(bool inline_) noexcept;
bool ReportInline() noexcept;

// The main lock that serialises reports (start-up creates it).
void EnterMainLock() noexcept;
void LeaveMainLock() noexcept;

} // namespace kv::crashreport
