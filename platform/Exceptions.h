#pragma once
// The program's own exception types and the application's exception-handler
// slot. Every callback handed to Windows catches everything and passes it to
// HandleApplicationException: a C++ exception must never unwind through
// user32 or kernel32 frames, and a processor fault (an access violation) is
// taken by a structured-exception guard and turned into an EExternal object.
// The slots are replaceable; the crash reporter takes them over when it
// starts.
#include <windows.h>

#include <exception>
#include <string>
#include <type_traits>

#include "platform/runtime/RuntimeObserver.h"

namespace kv {

class Exception : public std::exception {
public:
    explicit Exception(std::wstring message);
    const std::wstring& Message() const noexcept { return message_; }
    // For the handlers that mark an exception as they pass it on.
    void SetMessage(std::wstring message);
    // The message in the ANSI code page.
    const char* what() const noexcept override { return narrow_.c_str(); }

private:
    std::wstring message_;
    std::string narrow_;
};

// Throwing a carried exception again: std::rethrow_exception would pass by
// the raise wraps, so the crash reporter would not see the raise.
using runtime::RethrowException;
using runtime::RethrowForInspection;

// The message of any exception, for display.
std::wstring ExceptionMessage(const std::exception_ptr& error);

using ApplicationExceptionHandler = void (*)(const std::exception_ptr& error);

// Installs a handler and returns the previous one (nullptr: the default,
// which shows the message in a message box).
ApplicationExceptionHandler SetApplicationExceptionHandler(ApplicationExceptionHandler handler) noexcept;
void HandleApplicationException(const std::exception_ptr& error) noexcept;
// The default: the message in a message box.
void ShowExceptionMessage(const std::exception_ptr& error);

// The worker threads' handler slot: nullptr (the default) passes a thread's
// exception to the application's handler.
ApplicationExceptionHandler SetThreadExceptionHandler(ApplicationExceptionHandler handler) noexcept;
void HandleThreadException(const std::exception_ptr& error) noexcept;

namespace detail {
using ExceptionRoute = void (*)(const std::exception_ptr& error) noexcept;
// Runs body(context) under the structured-exception guard with a C++
// catch-all inside; whatever it throws or faults goes to `route`. False when
// it did.
bool RunGuarded(void (*body)(void* context), void* context, ExceptionRoute route) noexcept;

template <class Body>
void InvokeBody(void* body)
{
    (*static_cast<Body*>(body))();
}
} // namespace detail

// Runs `body` and routes whatever it throws, and any processor fault inside
// it, to the application's handler. For every boundary where Windows calls us.
template <class Body>
void GuardedCallback(Body&& body) noexcept
{
    using BodyType = std::remove_reference_t<Body>;
    detail::RunGuarded(&detail::InvokeBody<BodyType>, const_cast<void*>(static_cast<const void*>(&body)),
                       &HandleApplicationException);
}

// The same, returning `fallback` when the body failed.
template <class Result, class Body>
Result GuardedCallback(Result fallback, Body&& body) noexcept
{
    Result result = fallback;
    GuardedCallback([&] { result = body(); });
    return result;
}

// The guard of a worker thread's start: its failures go to the threads' slot.
template <class Body>
void GuardedThreadCallback(Body&& body) noexcept
{
    using BodyType = std::remove_reference_t<Body>;
    detail::RunGuarded(&detail::InvokeBody<BodyType>, const_cast<void*>(static_cast<const void*>(&body)),
                       &HandleThreadException);
}

} // namespace kv

namespace kv {

// The runtime's silent abort: ends an operation without a message.
class EAbort : public Exception {
public:
    EAbort() : Exception(L"Operation aborted") {}
};

// A value that cannot be converted or assigned.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// A processor or system exception (a structured exception of Windows) as an
// object, with a copy of its record.
class EExternal : public Exception {
public:
    EExternal(std::wstring message, const EXCEPTION_RECORD& record);
    const EXCEPTION_RECORD& ExceptionRecord() const noexcept { return record_; }
    DWORD ExceptionCode() const noexcept { return record_.ExceptionCode; }
    const void* ExceptionAddress() const noexcept { return record_.ExceptionAddress; }

private:
    EXCEPTION_RECORD record_;
};

class EAccessViolation : public EExternal {
public:
    using EExternal::EExternal;
};
class EStackOverflow : public EExternal {
public:
    using EExternal::EExternal;
};
class EIntError : public EExternal {
public:
    using EExternal::EExternal;
};
class EDivByZero : public EIntError {
public:
    using EIntError::EIntError;
};
class EIntOverflow : public EIntError {
public:
    using EIntError::EIntError;
};
class EMathError : public EExternal {
public:
    using EExternal::EExternal;
};
class EPrivilege : public EExternal {
public:
    using EExternal::EExternal;
};
class EControlC : public EExternal {
public:
    using EExternal::EExternal;
};
// Any other code: "External exception C0000025".
class EExternalException : public EExternal {
public:
    using EExternal::EExternal;
};

// Turns a structured exception's record into the object that the program's
// handlers see. Replaceable: the crash reporter puts its own procedure in
// front (it records the exception and calls the previous one).
using ExceptionObjectProcedure = std::exception_ptr (*)(const EXCEPTION_RECORD& record, const CONTEXT* context);
ExceptionObjectProcedure SetExceptionObjectProcedure(ExceptionObjectProcedure procedure) noexcept;
std::exception_ptr MakeExceptionObject(const EXCEPTION_RECORD& record, const CONTEXT* context);
// The program's own procedure (the one in place while none is set).
std::exception_ptr DefaultExceptionObject(const EXCEPTION_RECORD& record, const CONTEXT* context);

} // namespace kv
