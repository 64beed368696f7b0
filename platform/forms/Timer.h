#pragma once
// A timer of the form layer: ticks on the thread that made it, through a
// message-only window of its own; what OnTimer throws goes to the
// application's exception handler.
#include <windows.h>

#include <functional>

namespace kv::forms {

class Timer {
public:
    explicit Timer(UINT intervalMs = 1000);
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    UINT Interval() const noexcept { return interval_; }
    void SetInterval(UINT intervalMs);
    bool Enabled() const noexcept { return enabled_; }
    void SetEnabled(bool enabled);
    void Start() { SetEnabled(true); }
    void Stop() { SetEnabled(false); }

    std::function<void()> OnTimer;

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Apply();

    HWND window_ = nullptr;
    UINT interval_;
    bool enabled_ = false;
};

} // namespace kv::forms
