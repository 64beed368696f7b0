#pragma once
// The reporter's data of one thread: where the last raise started, the
// synthetic record and registers of that raise, and the flags that keep a
// report from re-entering itself. Reached through a TLS slot; the block is
// taken from the process heap on the thread's first need (never from the
// C++ allocator, which a raise may interrupt).
#include <windows.h>

#include <cstdint>

#include "crashreport/core/EObjects.h"
#include "crashreport/core/capture/EHandledAnalysis.h"

namespace kv::crashreport {

// The part of a CONTEXT that the reporter keeps and copies (up to the
// extended registers) and the size of an EXCEPTION_RECORD.
constexpr std::size_t kContextCopySize = 204;
constexpr std::size_t kRecordCopySize = 80;
static_assert(offsetof(CONTEXT, ExtendedRegisters) == kContextCopySize);
static_assert(sizeof(EXCEPTION_RECORD) == kRecordCopySize);

// The last exception raised, as the process or one thread recorded it.
struct LastExceptionInfo {
    const void* Object = nullptr;
    const void* Address = nullptr;
    bool IsNative = false;
    const void* LastNonNilObject = nullptr;
    const void* LastNonNilAddress = nullptr;
};

struct ThreadExceptionState {
    std::uint32_t StackPoint = 0;    // where a report's stack walk starts (0: not set)
    std::uint32_t RaiseFrame = 0;    // stack position of the raising call
    std::uint32_t RaiseRegister = 0; // second register of the raise (Ecx of the synthetic context)
    CONTEXT Context;                 // ContextFlags 0: empty; only the first 204 bytes are kept
    EXCEPTION_RECORD ExceptionRecord;
    std::uint8_t ReportInProgress = 0;
    std::uint8_t HandlingInProgress = 0;
    volatile LONG RaiseGuard = 0;
    // Set while the reporter reads memory that may fault on purpose: the
    // vectored handler keeps nothing of those faults.
    std::uint8_t Probing = 0;
    // The class and address of the last report this thread made.
    ThreadExceptionClassRecord Reported;
    // The last exception raised on this thread: threads that raise at once
    // each keep their own.
    LastExceptionInfo Last;
    // The handler chain as it stood when the vectored handler first saw the
    // fault at FaultChainAddress (its records are unwound before the
    // fault's object is made).
    const void* FaultChainAddress = nullptr;
    TSehChainSnapshot FaultChain;
    // The object this thread reported at its raise: the handler slot that
    // receives it afterwards does not report it again.
    const void* ReportedAtRaise = nullptr;
    bool ReportedAtRaiseResult = true; // that report's handling result
    // A copy of the raising stack for a report made inside a catch block
    // (taken from the process's saved copy, which the next raise replaces).
    std::uint8_t* ReportStack = nullptr;
    // The exception a method run on another thread raised for this one,
    // thrown again here, and the copy of the stack at its first throw.
    const void* CarriedObject = nullptr;
    const void* CarriedAddress = nullptr;
    std::uint8_t* CarriedStack = nullptr;
    std::uint32_t CarriedLength = 0;
};

// The calling thread's state; nullptr only when the heap refuses the block.
ThreadExceptionState* CurrentThreadState() noexcept;
// The calling thread's state when it has one; never allocates.
ThreadExceptionState* ExistingThreadState() noexcept;
// Frees the calling thread's block (its last act).
void ReleaseThreadState() noexcept;

// Clears the synthetic context and record and the stack point.
void ClearSyntheticRaise(ThreadExceptionState& state) noexcept;

// RAII: the reporter reads memory that may fault on purpose.
class ProbingScope {
public:
    ProbingScope() noexcept;
    ~ProbingScope();
    ProbingScope(const ProbingScope&) = delete;
    ProbingScope& operator=(const ProbingScope&) = delete;

private:
    ThreadExceptionState* state_;
    std::uint8_t previous_;
};

} // namespace kv::crashreport
