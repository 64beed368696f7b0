#include "crashreport/core/capture/ERaisingStack.h"

#include <windows.h>

#include "crashreport/core/EObjects.h"
#include "crashreport/core/ExceptionLog.h"
#include "crashreport/core/capture/ECapture.h"
#include "crashreport/core/capture/EThreadState.h"
#include "platform/runtime/SpinLock.h"

namespace kv::crashreport {
namespace {

std::uint8_t* NewStackBlock() noexcept
{
    return static_cast<std::uint8_t*>(::VirtualAlloc(nullptr, kSavedStackSize, MEM_COMMIT | MEM_RESERVE,
                                                     PAGE_READWRITE));
}

void FreeStackBlock(std::uint8_t*& block) noexcept
{
    if (block) ::VirtualFree(block, 0, MEM_RELEASE);
    block = nullptr;
}

// The address the process's saved copy keeps for a raise: a native raise's
// return address minus the call.
const void* KeptAddress(const void* object, const void* address) noexcept
{
    bool native = false;
    try {
        native = IsNativeRaisedException(object);
    } catch (...) {
    }
    return native && address ? static_cast<const char*>(address) - 5 : address;
}

TReportStack RangeOf(const std::uint8_t* block, std::uint32_t length, TAsynchronousException kind) noexcept
{
    TReportStack stack;
    stack.AsynchronousKind = kind;
    if (block && length) {
        stack.StackPoint = reinterpret_cast<std::uint32_t>(block);
        stack.TopOfStack = stack.StackPoint + length;
    }
    return stack;
}

// Exceptions on their way back to a waiting thread. Few at a time: one per
// thread waiting for the main thread; the oldest gives way.
struct TCarried {
    const void* Object;
    const void* Address;
    std::uint8_t* Stack;
    std::uint32_t Length;
};
constexpr int kCarriedSlots = 8;
TCarried g_carried[kCarriedSlots];
int g_carriedCount = 0;
SRWLOCK g_carriedLock = SRWLOCK_INIT;

int FindCarried(const void* object) noexcept
{
    for (int i = 0; i < g_carriedCount; ++i)
        if (g_carried[i].Object == object) return i;
    return -1;
}

TCarried RemoveCarried(int index) noexcept
{
    const TCarried taken = g_carried[index];
    for (int i = index + 1; i < g_carriedCount; ++i) g_carried[i - 1] = g_carried[i];
    --g_carriedCount;
    return taken;
}

} // namespace

TReportStack CarriedStackForReport(const void* object) noexcept
{
    const ThreadExceptionState* state = ExistingThreadState();
    if (!object || !state || state->CarriedObject != object) return TReportStack{};
    return RangeOf(state->CarriedStack, state->CarriedLength, aeSynchronize);
}

TReportStack RaisingStackForReport(const void* object, const void* address) noexcept
{
    if (const TReportStack carried = CarriedStackForReport(object); carried.AsynchronousKind == aeSynchronize)
        return carried;
    ThreadExceptionState* state = CurrentThreadState();
    if (!state || !address) return TReportStack{};
    if (!state->ReportStack) state->ReportStack = NewStackBlock();
    if (!state->ReportStack) return TReportStack{};
    const std::size_t length =
        ReadSavedStackOf(::GetCurrentThreadId(), KeptAddress(object, address), state->ReportStack, kSavedStackSize);
    return RangeOf(state->ReportStack, static_cast<std::uint32_t>(length), aeNone);
}

void NoteCarriedException(const void* object) noexcept
{
    if (!object) return;
    const void* address = RaiseAddressOf(object);
    std::uint8_t* stack = NewStackBlock();
    const std::size_t length =
        stack ? ReadSavedStackOf(::GetCurrentThreadId(), KeptAddress(object, address), stack, kSavedStackSize) : 0;
    if (length == 0) FreeStackBlock(stack);
    ExclusiveSrwHold hold(g_carriedLock);
    if (const int known = FindCarried(object); known >= 0) {
        TCarried replaced = RemoveCarried(known);
        FreeStackBlock(replaced.Stack);
    }
    if (g_carriedCount == kCarriedSlots) {
        TCarried oldest = RemoveCarried(0);
        FreeStackBlock(oldest.Stack);
    }
    g_carried[g_carriedCount++] = TCarried{object, address, stack, static_cast<std::uint32_t>(length)};
}

bool IsCarriedException(const void* object) noexcept
{
    if (!object) return false;
    ExclusiveSrwHold hold(g_carriedLock);
    return FindCarried(object) >= 0;
}

void TakeCarriedException(const void* object) noexcept
{
    ThreadExceptionState* state = CurrentThreadState();
    if (!state || !object) return;
    TCarried taken{object, nullptr, nullptr, 0};
    {
        ExclusiveSrwHold hold(g_carriedLock);
        if (const int index = FindCarried(object); index >= 0) taken = RemoveCarried(index);
    }
    FreeStackBlock(state->CarriedStack);
    state->CarriedObject = object;
    state->CarriedAddress = taken.Address;
    state->CarriedStack = taken.Stack;
    state->CarriedLength = taken.Length;
}

} // namespace kv::crashreport
