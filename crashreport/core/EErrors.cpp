#include "crashreport/core/EErrors.h"

#include <windows.h>

#include <cxxabi.h>

#include <atomic>
#include <mutex>

#include "crashreport/core/ECommon.h"
#include "crashreport/core/EObjects.h"
#include "crashreport/core/EOptionsFiles.h"
#include "crashreport/core/ESystem.h"
#include "platform/Exceptions.h"
#include "platform/Format.h"
#include "platform/Stream.h"
#include "platform/TextCodec.h"

namespace kv::crashreport {
namespace {

constexpr const char* kReporterVersionText = "6.0.23";
constexpr const char* kToolVersionText = "MinGW-w64 GCC " __VERSION__;
constexpr const char* kSupportAddress = "crash-support@orbelune.invalid";
constexpr const char* kGeneralInternalError = "General internal error.";

std::atomic<InternalErrorHandler> g_internalErrorHandler{nullptr};
std::atomic<ExceptionAddressProvider> g_addressProvider{nullptr};
std::atomic<bool> g_sendDialogOpen{false};
std::atomic<bool> g_internalErrorRunning{false};

std::mutex g_warningLock;
TOspreyLogErrorCode g_lastWarningCode = eeNone;
std::string g_lastWarningMessage;

std::string AddressText(const void* address)
{
    return Format("%.8X", {static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(address))});
}

bool IsSendingError(TOspreyLogErrorCode code)
{
    return code == eeEmailSMTPError || code == eeWebHTTPError || code == eeWebHTTPSError || code == eeWebFTPError ||
           code == eeWebTrakerError;
}

bool CurrentExceptionInheritsFrom(std::string_view name)
{
    return ClassInheritsFromName(abi::__cxa_current_exception_type(), name);
}

// The module-relative form the debug information uses: address minus module minus 0x1000.
std::string DescribeAddress(const void* address)
{
    HMODULE module = nullptr;
    ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         static_cast<LPCSTR>(address), &module);
    const auto value = reinterpret_cast<std::uintptr_t>(address);
    const std::uintptr_t relative = module ? value - reinterpret_cast<std::uintptr_t>(module) - 0x1000 : 0;
    return Format("$%8.8x - [%8.8x] %s - %s - %s - %s - %s[%s]",
                  {static_cast<unsigned>(value), static_cast<unsigned>(relative),
                   module ? GetModuleFullName(module) : std::string(), "", "", "", "0", "0"});
}

void OfferToMailReport(const std::string& logFile, const std::string& message)
{
    const std::string question = Format(
        "Error: '%s'\r\n\r\nThis is an internal OspreyLog bug.\r\nDo you want to send the bug information to "
        "OspreyLog author?",
        {message});
    if (::MessageBoxA(nullptr, question.c_str(), "Probably internal bug", 0x242014) != IDYES) return;
    // No mail client is reachable from here yet: the user sends the file.
    const std::string manual = Format(
        "Cannot connect with your email client.\r\nPlease send the file \"%s\" manually to %s and then click the OK "
        "button to close this box.",
        {logFile, kSupportAddress});
    ::MessageBoxA(nullptr, manual.c_str(), "Information", 0x242030);
}

} // namespace

InternalErrorHandler SetInternalErrorHandler(InternalErrorHandler handler) noexcept
{
    return g_internalErrorHandler.exchange(handler);
}

std::string CriticalErrorText(std::string_view label, std::string_view message)
{
    return Format("Critical error at: \"%s\"\r\nError: \"%s\".", {label, message});
}

bool GuardedCall(void (*procedure)(), std::string_view label) noexcept
{
    try {
        procedure();
        return true;
    } catch (const EAbort&) {
        return false;
    } catch (...) {
        try {
            if (const InternalErrorHandler handler = g_internalErrorHandler.load()) {
                handler(Format("%s (Address: %s)", {label, AddressText(reinterpret_cast<const void*>(procedure))}));
            } else {
                // Raising from here would end the program during its start: the
                // application's handler shows the failure and the program goes on.
                const CurrentExceptionFacts facts = DescribeCurrentException();
                HandleApplicationException(
                    std::make_exception_ptr(Exception(AnsiToWide(CriticalErrorText(label, facts.Message)))));
            }
        } catch (...) {
            // A failing failure report must not take the program down either.
        }
        return false;
    }
}

CurrentExceptionFacts DescribeCurrentException()
{
    CurrentExceptionFacts facts;
    const std::exception_ptr current = std::current_exception();
    if (!current) {
        facts.Message = kGeneralInternalError;
        return facts;
    }
    try {
        RethrowForInspection(current);
    } catch (const std::exception&) {
        facts.IsException = true;
        facts.Message = WideToAnsi(ExceptionMessage(current));
        if (const std::type_info* type = abi::__cxa_current_exception_type()) facts.ClassName = ClassNameOfType(*type);
    } catch (...) {
        facts.Message = kGeneralInternalError;
    }
    return facts;
}

void OutputWarning(TOspreyLogErrorCode code, std::string_view message)
{
    {
        std::lock_guard lock(g_warningLock);
        g_lastWarningCode = code;
        g_lastWarningMessage = std::string(message);
    }
    const std::string line = Format("[WARNING] - Code: %s - Address: %s - Message: \"%s\"",
                                    {LogErrorCodeName(code), AddressText(CurrentExceptionAddress()), message});
    ::OutputDebugStringA(line.c_str());
    if (g_sendDialogOpen.load() && IsSendingError(code))
        ::MessageBoxA(nullptr, std::string(message).c_str(), "Error.", 0x242010);
}

void OutputSectionError(TOspreyLogErrorCode code, std::string_view section)
{
    const CurrentExceptionFacts facts = DescribeCurrentException();
    if (facts.IsException)
        OutputWarning(code, Format("[%s] %s", {section, facts.Message}));
    else
        OutputWarning(code, Format("General '%s' error.", {section}));
}

void ClearLastWarning()
{
    std::lock_guard lock(g_warningLock);
    g_lastWarningCode = eeNone;
    g_lastWarningMessage.clear();
}

TOspreyLogErrorCode LastWarningCode()
{
    std::lock_guard lock(g_warningLock);
    return g_lastWarningCode;
}

std::string LastWarningMessage()
{
    std::lock_guard lock(g_warningLock);
    return g_lastWarningMessage;
}

void SetSendDialogOpen(bool open) noexcept { g_sendDialogOpen.store(open); }

void SetExceptionAddressProvider(ExceptionAddressProvider provider) noexcept { g_addressProvider.store(provider); }

const void* CurrentExceptionAddress()
{
    const ExceptionAddressProvider provider = g_addressProvider.load();
    return provider ? provider() : nullptr;
}

std::string MemoryDumpText(const void* address)
{
    constexpr std::size_t kDumpSize = 32;
    if (!IsReadableMemory(address, kDumpSize)) return std::string();
    const auto* bytes = static_cast<const std::uint8_t*>(address);
    std::string dump;
    for (std::size_t i = 0; i < kDumpSize; ++i) dump += Format("$%.2X ", {bytes[i]});
    return dump;
}

std::string InternalErrorReportText(const InternalErrorFacts& f)
{
    return Format(
        "Version   : %s\r\nDate      : %s\r\nOS        : %s\r\nRAD       : %s\r\nDump      : %s\r\n"
        "Section   : %s\r\nLastExcept: %s\r\nAddress   : %s\r\nException : %s\r\nMessage   : %s\r\n"
        "Call Stack: %s",
        {kReporterVersionText, f.Date, f.OS, kToolVersionText, f.Dump, f.Section, f.LastExcept, f.AddressText,
         f.ClassName, f.Message, f.CallStack});
}

bool InternalErrorReportRunning() noexcept { return g_internalErrorRunning.load(); }

void ReportOwnFailure(const std::exception_ptr& error, std::string_view section) noexcept
{
    const auto report = [section] {
        try {
            if (const InternalErrorHandler handler = g_internalErrorHandler.load())
                handler(section);
            else
                ReportInternalError(section);
        } catch (...) {
        }
    };
    if (!error) return report();
    try {
        // The handlers read the failure as the exception being handled.
        RethrowForInspection(error);
    } catch (...) {
        report();
    }
}

void ReportInternalError(std::string_view section)
{
    if (CurrentExceptionInheritsFrom("EAbort") || CurrentExceptionInheritsFrom("EOspreySocketError")) return;
    if (!IsHostIDE() && !DebuggerAttached()) return;
    struct RunningFlag {
        RunningFlag() { g_internalErrorRunning.store(true); }
        ~RunningFlag() { g_internalErrorRunning.store(false); }
    } running;

    const CurrentExceptionFacts facts = DescribeCurrentException();
    const void* address = CurrentExceptionAddress();
    if (address && facts.IsException) address = static_cast<const char*>(address) - 5; // the call that raised
    const std::string line = Format("[ERROR] - Section: %s - Address: %s - Message: \"%s\"",
                                    {section, AddressText(address), facts.Message});
    ::OutputDebugStringA(line.c_str());

    InternalErrorFacts report;
    report.Date = FormatMailDate(Now());
    report.OS = GetOSDescription();
    report.Dump = MemoryDumpText(address);
    report.Section = std::string(section);
    report.AddressText = DescribeAddress(address);
    report.ClassName = facts.ClassName;
    report.Message = facts.Message;

    std::string logFile = GetExeFileName();
    logFile = logFile.substr(0, logFile.rfind('.')) + ".log";
    if (!EnsureWritableLogPath(logFile, true, false)) return;
    try {
        FileStream file = FileStream::Create(AnsiToWide(logFile));
        const std::string text = InternalErrorReportText(report);
        file.WriteBuffer(text.data(), text.size());
    } catch (const EStreamError&) {
        return;
    }
    OfferToMailReport(logFile, facts.Message);
}

} // namespace kv::crashreport
