#pragma once
// The program's own exception type and the application's exception-handler
// slot. Every callback handed to Windows catches everything and passes it to
// HandleApplicationException: a C++ exception must never unwind through
// user32 or kernel32 frames. The slot is replaceable; the crash reporter takes
// it over when it starts.
#include <exception>
#include <string>

namespace kv {

class Exception : public std::exception {
public:
    explicit Exception(std::wstring message);
    const std::wstring& Message() const noexcept { return message_; }
    // The message in the ANSI code page.
    const char* what() const noexcept override { return narrow_.c_str(); }

private:
    std::wstring message_;
    std::string narrow_;
};

// The message of any exception, for display.
std::wstring ExceptionMessage(const std::exception_ptr& error);

using ApplicationExceptionHandler = void (*)(const std::exception_ptr& error);

// Installs a handler and returns the previous one (nullptr: the default,
// which shows the message in a message box).
ApplicationExceptionHandler SetApplicationExceptionHandler(ApplicationExceptionHandler handler) noexcept;
void HandleApplicationException(const std::exception_ptr& error) noexcept;

// Runs `body` and routes whatever it throws to the application's handler;
// returns `fallback` in that case. For every boundary where Windows calls us.
template <class Result, class Body>
Result GuardedCallback(Result fallback, Body&& body) noexcept
{
    try {
        return body();
    } catch (...) {
        HandleApplicationException(std::current_exception());
        return fallback;
    }
}

template <class Body>
void GuardedCallback(Body&& body) noexcept
{
    try {
        body();
    } catch (...) {
        HandleApplicationException(std::current_exception());
    }
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

} // namespace kv
