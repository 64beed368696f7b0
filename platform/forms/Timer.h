#pragma once
// A timer of the form layer: a thread timer, ticking through the message
// loop of the thread that started it; what OnTimer throws goes to the
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
    static void CALLBACK Tick(HWND, UINT, UINT_PTR id, DWORD);
    void Apply();
    void Cancel();

    UINT_PTR id_ = 0;
    UINT interval_;
    bool enabled_ = false;
};

} // namespace kv::forms
