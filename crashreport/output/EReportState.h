#pragma once
// The report being made, kept reporter-wide: the values the start-up, the
// handling procedure and the dialogs record for it, and the texts the report
// builders fill for the dialogs, the log file and delivery. Only the thread
// that handles an exception touches it, under the reporter's main lock.
#include <windows.h>

#include <string>

#include "platform/DateTime.h"

namespace kv::crashreport {

struct TReportState {
    // ---- Recorded before the report text is built
    TDateTime StartTime = 0;     // the reporter's start
    TDateTime ExceptionTime = 0;
    std::string ExceptionID;     // item "2.7"
    std::string ActiveControlClass;
    std::string ActiveControlText;
    std::string UserEmail;       // the address last entered in the simple dialog
    const void* ExceptionObject = nullptr;
    const void* ExceptionAddress = nullptr;
    const void* StackPoint = nullptr; // the stack position recorded with the exception
    const CONTEXT* Context = nullptr; // may be absent
    std::string LastHTMLPageText;     // the last page written to the web client
    bool ScreenshotChosen = false;

    // ---- Written by the report builders
    std::string ExceptionMessage;   // GetExceptionMessageText
    std::string ExceptionClassName; // GetExceptionClassName
    std::string HeaderText;
    std::string CallStackText;
    std::string AsmHeading;
    std::string AsmText;
    std::string CPUText;
    std::string LogText;       // the whole report
    std::string EntireLogText; // what "send the entire log" sends
    std::string DialogErrorText;
    bool DuplicateReport = false;  // the identifier is already in the log
    bool WebResponseWritten = false;
};

TReportState& CurrentReport() noexcept;

} // namespace kv::crashreport
