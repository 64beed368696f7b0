#include "platform/forms/Timer.h"

#include "platform/Exceptions.h"

namespace kv::forms {
namespace {
constexpr wchar_t kTimerWindowClass[] = L"KestrelvaneTimerWindow";
constexpr UINT_PTR kTimerId = 1;
} // namespace

Timer::Timer(UINT intervalMs) : interval_(intervalMs)
{
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSW existing{};
    if (!::GetClassInfoW(instance, kTimerWindowClass, &existing)) {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = WindowProc;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = kTimerWindowClass;
        ::RegisterClassW(&windowClass);
    }
    window_ = ::CreateWindowExW(0, kTimerWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
    if (!window_) throw Exception(L"Cannot create a timer window");
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

Timer::~Timer()
{
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    ::KillTimer(window_, kTimerId);
    ::DestroyWindow(window_);
}

void Timer::SetInterval(UINT intervalMs)
{
    interval_ = intervalMs;
    Apply();
}

void Timer::SetEnabled(bool enabled)
{
    enabled_ = enabled;
    Apply();
}

void Timer::Apply()
{
    ::KillTimer(window_, kTimerId);
    if (enabled_ && interval_ > 0) ::SetTimer(window_, kTimerId, interval_, nullptr);
}

LRESULT CALLBACK Timer::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER && wParam == kTimerId) {
        auto* timer = reinterpret_cast<Timer*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
        if (timer && timer->enabled_ && timer->OnTimer) GuardedCallback([&] { timer->OnTimer(); });
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

} // namespace kv::forms
