#include "platform/runtime/SpinLock.h"

namespace kv {

namespace {
// Spins on the flag before giving the processor away: a holder on another
// processor usually lets go within a few hundred cycles.
constexpr int kSpinsBeforeYield = 64;
} // namespace

bool SpinLock::try_lock() noexcept
{
    return ::InterlockedCompareExchange(&held_, 1, 0) == 0;
}

void SpinLock::lock() noexcept
{
    for (;;) {
        if (try_lock()) return;
        for (int spin = 0; spin < kSpinsBeforeYield && held_ != 0; ++spin) YieldProcessor();
        if (held_ != 0) ::SwitchToThread();
    }
}

void SpinLock::unlock() noexcept
{
    ::InterlockedExchange(&held_, 0);
}

} // namespace kv
