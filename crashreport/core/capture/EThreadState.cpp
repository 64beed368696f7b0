#include "crashreport/core/capture/EThreadState.h"

#include <cstring>
#include <new>

#include "platform/runtime/TlsSlot.h"

namespace kv::crashreport {
namespace {

// Function-local: the slot exists from the reporter's first use on, whatever
// the order of the units' static initialisers.
TlsSlot& StateSlot() noexcept
{
    static TlsSlot slot;
    return slot;
}

} // namespace

ThreadExceptionState* ExistingThreadState() noexcept
{
    return static_cast<ThreadExceptionState*>(StateSlot().Get());
}

ThreadExceptionState* CurrentThreadState() noexcept
{
    if (ThreadExceptionState* state = ExistingThreadState()) return state;
    const DWORD lastError = ::GetLastError();
    void* block = ::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(ThreadExceptionState));
    ThreadExceptionState* state = block ? new (block) ThreadExceptionState() : nullptr;
    if (state && !StateSlot().Set(state)) {
        ::HeapFree(::GetProcessHeap(), 0, block);
        state = nullptr;
    }
    ::SetLastError(lastError);
    return state;
}

void ReleaseThreadState() noexcept
{
    ThreadExceptionState* state = ExistingThreadState();
    if (!state) return;
    StateSlot().Set(nullptr);
    if (state->ReportStack) ::VirtualFree(state->ReportStack, 0, MEM_RELEASE);
    if (state->CarriedStack) ::VirtualFree(state->CarriedStack, 0, MEM_RELEASE);
    ::HeapFree(::GetProcessHeap(), 0, state);
}

void ClearSyntheticRaise(ThreadExceptionState& state) noexcept
{
    state.StackPoint = 0;
    std::memset(&state.Context, 0, kContextCopySize);
    std::memset(&state.ExceptionRecord, 0, kRecordCopySize);
}

ProbingScope::ProbingScope() noexcept : state_(CurrentThreadState()), previous_(state_ ? state_->Probing : 0)
{
    if (state_) state_->Probing = 1;
}

ProbingScope::~ProbingScope()
{
    if (state_) state_->Probing = previous_;
}

} // namespace kv::crashreport
