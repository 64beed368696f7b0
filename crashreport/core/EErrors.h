#pragma once
// How the crash reporter treats its own failures: GuardedCall around every
// unit start and end, the last warning of a failed step, and the internal
// error report a developer sees under a debugger.
#include <exception>
#include <string>
#include <string_view>

#include "crashreport/core/ETypes.h"

namespace kv::crashreport {

// Receives "Label (Address: 0040ABCD)" while the failure is being handled
// (std::current_exception() is the failure).
using InternalErrorHandler = void (*)(std::string_view section);
InternalErrorHandler SetInternalErrorHandler(InternalErrorHandler handler) noexcept;

// Runs the procedure and reports whatever it throws: to the internal-error
// handler when one is installed, otherwise to the application's exception
// handler as "Critical error at: ...". Never throws; false on failure. A
// silent abort (EAbort) ends the procedure without a report.
bool GuardedCall(void (*procedure)(), std::string_view label) noexcept;
std::string CriticalErrorText(std::string_view label, std::string_view message);

// The last failure the reporter recorded and went on from.
void OutputWarning(TOspreyLogErrorCode code, std::string_view message);
void OutputSectionError(TOspreyLogErrorCode code, std::string_view section);
void ClearLastWarning();
TOspreyLogErrorCode LastWarningCode();
std::string LastWarningMessage();

// Set by the send-progress dialog while it is open: sending failures are then
// shown to the user as they happen.
void SetSendDialogOpen(bool open) noexcept;

// The address of the exception being handled, as the capture hooks recorded
// it; nullptr while no hook supplies it.
using ExceptionAddressProvider = const void* (*)();
void SetExceptionAddressProvider(ExceptionAddressProvider provider) noexcept;
const void* CurrentExceptionAddress();

// The message and class name of the exception being handled (inside a catch
// block); a thrown object that is no exception gives "General internal error."
// and no class name.
struct CurrentExceptionFacts {
    std::string Message;
    std::string ClassName;
    bool IsException = false;
};
CurrentExceptionFacts DescribeCurrentException();

// The reporter's own failure in `section`, called inside a catch block; acts
// only inside the development host or under a debugger: writes the
// executable's ".log" and offers to mail it.
void ReportInternalError(std::string_view section);
bool InternalErrorReportRunning() noexcept;
// A failure of the reporter's own code, carried as `error`: to the installed
// internal-error handler, else to ReportInternalError; never to the
// application's handler slot (which is the reporter). Never throws.
void ReportOwnFailure(const std::exception_ptr& error, std::string_view section) noexcept;

struct InternalErrorFacts {
    std::string Date, OS, Dump, Section, LastExcept, AddressText, ClassName, Message, CallStack;
};
std::string InternalErrorReportText(const InternalErrorFacts& facts);
// "$0A $FF ..." for the 32 bytes at the address; empty when unreadable.
std::string MemoryDumpText(const void* address);

} // namespace kv::crashreport
