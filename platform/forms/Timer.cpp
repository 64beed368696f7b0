#include "platform/forms/Timer.h"

#include "platform/Exceptions.h"
#include "platform/LockedMap.h"

namespace kv::forms {
namespace {

// The running timers by the identifiers the system gave them. A thread timer
// needs no window: four windows fewer at the program's start, each of them
// a dozen round trips to the window server under Wine.
using RunningTimers = LockedMap<UINT_PTR, Timer*>;

RunningTimers& Running()
{
    static RunningTimers timers;
    return timers;
}

} // namespace

Timer::Timer(UINT intervalMs) : interval_(intervalMs) {}

Timer::~Timer() { Cancel(); }

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

void Timer::Cancel()
{
    if (!id_) return;
    ::KillTimer(nullptr, id_);
    Running().Forget(id_);
    id_ = 0;
}

void Timer::Apply()
{
    Cancel();
    if (!enabled_ || interval_ == 0) return;
    id_ = ::SetTimer(nullptr, 0, interval_, Tick);
    if (!id_) throw Exception(L"Cannot start a timer");
    Running().Set(id_, this);
}

void CALLBACK Timer::Tick(HWND, UINT, UINT_PTR id, DWORD)
{
    Timer* timer = Running().Find(id);
    if (timer && timer->enabled_ && timer->OnTimer) GuardedCallback([&] { timer->OnTimer(); });
}

} // namespace kv::forms
