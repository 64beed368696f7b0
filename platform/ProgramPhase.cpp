#include "platform/ProgramPhase.h"

#include <atomic>
#include <cstdlib>

namespace kv {
namespace {

std::atomic<bool> g_initializing{true};
std::atomic<bool> g_finalizing{false};

void MarkFinalization() { g_finalizing = true; }

} // namespace

void MarkProgramStarted() noexcept
{
    if (g_initializing.exchange(false)) std::atexit(MarkFinalization);
}

bool InUnitInitialization() noexcept { return g_initializing.load(); }
bool InUnitFinalization() noexcept { return g_finalizing.load(); }

} // namespace kv
