#include "platform/Exceptions.h"

#include <windows.h>

#include <atomic>

#include "platform/Format.h"
#include "platform/TextCodec.h"
#include "platform/runtime/SehGuard.h"

namespace kv {
namespace {

std::atomic<ApplicationExceptionHandler> g_handler{nullptr};
std::atomic<ApplicationExceptionHandler> g_threadHandler{nullptr};
std::atomic<ExceptionObjectProcedure> g_objectProcedure{nullptr};

} // namespace

void ShowExceptionMessage(const std::exception_ptr& error)
{
    const std::wstring message = ExceptionMessage(error);
    ::MessageBoxW(nullptr, message.c_str(), L"Kestrelvane", MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

Exception::Exception(std::wstring message) : message_(std::move(message)), narrow_(WideToAnsi(message_)) {}

void Exception::SetMessage(std::wstring message)
{
    narrow_ = WideToAnsi(message);
    message_ = std::move(message);
}

std::wstring ExceptionMessage(const std::exception_ptr& error)
{
    if (!error) return std::wstring();
    try {
        RethrowForInspection(error);
    } catch (const Exception& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return AnsiToWide(e.what());
    } catch (...) {
        return L"Unknown exception";
    }
}

ApplicationExceptionHandler SetApplicationExceptionHandler(ApplicationExceptionHandler handler) noexcept
{
    return g_handler.exchange(handler);
}

void HandleApplicationException(const std::exception_ptr& error) noexcept
{
    try {
        if (ApplicationExceptionHandler handler = g_handler.load())
            handler(error);
        else
            ShowExceptionMessage(error);
    } catch (...) {
        // A failing handler must not take the caller down with it.
    }
}

ApplicationExceptionHandler SetThreadExceptionHandler(ApplicationExceptionHandler handler) noexcept
{
    return g_threadHandler.exchange(handler);
}

void HandleThreadException(const std::exception_ptr& error) noexcept
{
    const ApplicationExceptionHandler handler = g_threadHandler.load();
    if (!handler) {
        HandleApplicationException(error);
        return;
    }
    try {
        handler(error);
    } catch (...) {
    }
}

EExternal::EExternal(std::wstring message, const EXCEPTION_RECORD& record) : Exception(std::move(message)), record_(record)
{
    // The chained record belongs to the fault's own stack: not kept.
    record_.ExceptionRecord = nullptr;
}

namespace {

std::wstring AddressText(const void* address)
{
    return AnsiToWide(Format("%.8X", {static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(address))}));
}

std::wstring AccessViolationMessage(const EXCEPTION_RECORD& record)
{
    std::wstring message = L"Access violation at address " + AddressText(record.ExceptionAddress);
    if (record.NumberParameters >= 2) {
        const ULONG_PTR kind = record.ExceptionInformation[0];
        const wchar_t* verb = kind == 1 ? L"Write" : kind == 8 ? L"Execution" : L"Read";
        message += std::wstring(L". ") + verb + L" of address " +
                   AddressText(reinterpret_cast<const void*>(record.ExceptionInformation[1]));
    }
    return message;
}

} // namespace

std::exception_ptr DefaultExceptionObject(const EXCEPTION_RECORD& record, const CONTEXT*)
{
    switch (record.ExceptionCode) {
    case EXCEPTION_ACCESS_VIOLATION:
        return std::make_exception_ptr(EAccessViolation(AccessViolationMessage(record), record));
    case EXCEPTION_STACK_OVERFLOW:
        return std::make_exception_ptr(EStackOverflow(L"Stack overflow", record));
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
        return std::make_exception_ptr(EDivByZero(L"Division by zero", record));
    case EXCEPTION_INT_OVERFLOW:
        return std::make_exception_ptr(EIntOverflow(L"Integer overflow", record));
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_UNDERFLOW:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_STACK_CHECK:
        return std::make_exception_ptr(EMathError(L"Floating point error", record));
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
        return std::make_exception_ptr(EPrivilege(L"Privileged instruction", record));
    case STATUS_CONTROL_C_EXIT:
        return std::make_exception_ptr(EControlC(L"Control-C hit", record));
    default:
        return std::make_exception_ptr(EExternalException(
            AnsiToWide(Format("External exception %X", {static_cast<unsigned>(record.ExceptionCode)})), record));
    }
}

ExceptionObjectProcedure SetExceptionObjectProcedure(ExceptionObjectProcedure procedure) noexcept
{
    return g_objectProcedure.exchange(procedure);
}

std::exception_ptr MakeExceptionObject(const EXCEPTION_RECORD& record, const CONTEXT* context)
{
    const ExceptionObjectProcedure procedure = g_objectProcedure.load();
    std::exception_ptr object = procedure ? procedure(record, context) : nullptr;
    return object ? object : DefaultExceptionObject(record, context);
}

namespace detail {
namespace {

struct GuardedRun {
    void (*body)(void*);
    void* context;
    ExceptionRoute route;
    bool failed;
};

void CatchingBody(void* argument)
{
    auto* run = static_cast<GuardedRun*>(argument);
    try {
        run->body(run->context);
    } catch (...) {
        run->failed = true;
        run->route(std::current_exception());
    }
}

// Back on the guard's stack level: the frames of the fault are unwound.
void DeliverFault(void* argument, const EXCEPTION_RECORD* record, const CONTEXT* context)
{
    auto* run = static_cast<GuardedRun*>(argument);
    std::exception_ptr object;
    try {
        object = MakeExceptionObject(*record, context);
    } catch (...) {
        object = std::current_exception();
    }
    run->failed = true;
    run->route(object);
}

} // namespace

bool RunGuarded(void (*body)(void* context), void* context, ExceptionRoute route) noexcept
{
    GuardedRun run{body, context, route, false};
    kv_seh_guard(&CatchingBody, &run, &DeliverFault);
    return !run.failed;
}

} // namespace detail

} // namespace kv
