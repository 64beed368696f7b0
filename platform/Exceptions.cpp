#include "platform/Exceptions.h"

#include <windows.h>

#include <atomic>

#include "platform/TextCodec.h"

namespace kv {
namespace {

std::atomic<ApplicationExceptionHandler> g_handler{nullptr};

void ShowExceptionMessage(const std::exception_ptr& error)
{
    const std::wstring message = ExceptionMessage(error);
    ::MessageBoxW(nullptr, message.c_str(), L"Kestrelvane", MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

} // namespace

Exception::Exception(std::wstring message) : message_(std::move(message)), narrow_(WideToAnsi(message_)) {}

std::wstring ExceptionMessage(const std::exception_ptr& error)
{
    if (!error) return std::wstring();
    try {
        std::rethrow_exception(error);
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

} // namespace kv
