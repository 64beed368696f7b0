#pragma once
// Whether a handler of the program will take an exception that is being
// raised, decided while the raising frames still stand: an exception that
// only the last-chance code would take is reported at once, with its stack
// intact; one that a handler takes is left to it (and to the handler slot
// the reporter replaced). C++ throws never come here, the unwinder's search
// decides them; this walks the thread's fs:[0] chain of handler records, for
// processor faults and raises through RaiseException.
//
// A record's handler address names a 5-byte jump to a handler routine; the
// jump's target tells the kind of the record, and the code the record guards
// begins right after the jump. Every record is tested for readability before
// it is read: the chain lies in a stack that may be damaged.
#include <cstdint>
#include <typeinfo>

#include "crashreport/core/EExceptionManager.h"

namespace kv::crashreport {

enum THandlerKind : std::uint8_t {
    hkOther = 0,        // a finally block or foreign code: passes exceptions on
    hkAnyException = 1, // a bare except block (the program's structured-exception guard)
    hkOnException = 2,  // an except block with a table of class filters
    hkSafeCall = 3,     // the handler of a safecall method
};

// The handler routines a record's jump may lead to (nullptr: none in this program).
struct TRuntimeHandlers {
    const void* AnyException = nullptr;
    const void* OnException = nullptr;
    const void* SafeCall = nullptr;
};

struct TCodeRange {
    const void* Start = nullptr;
    const void* End = nullptr; // one past the last byte
    bool Contains(const void* address) const noexcept;
};

// What a walk compares code addresses with.
struct THandlerWalkSettings {
    TRuntimeHandlers Handlers;
    // The except block of the routine that runs a method for another thread
    // and carries its exception back there.
    const void* SynchronizeExceptBlock = nullptr;
    TCodeRange ReporterCode;
    // The runtime's own core code: a handler there during unit start or end
    // is no handler of the program.
    TCodeRange RuntimeCoreCode;
    // Class references of an on-exception table go through one more pointer.
    bool RuntimeInPackage = false;
};

// The code of a record's guarded block begins this far after its handler address.
constexpr std::uint32_t kHandlerJumpSize = 5;
// A table's class reference is this far before the class itself.
constexpr std::uint32_t kClassSelfSlotOffset = 88;
// A catching handler this close to the synchronize except block is that block.
constexpr std::uint32_t kSynchronizeReach = 64;

THandlerKind ClassifySehHandler(const void* handlerAddress, const TRuntimeHandlers& handlers);

// On-exception table: a 32-bit count, then per entry a class reference and
// the address of the entry's code. Whether an entry takes the object, and
// that entry's code.
bool OnTableCatches(const void* object, const void* table, bool runtimeInPackage, const void*& code);

// The chain as it stood at one moment: the handler address of each record,
// innermost first. A fault's chain is taken when the fault is first seen,
// before any handler unwinds it.
constexpr std::uint32_t kChainEnd = 0xFFFFFFFF;
constexpr int kMaxChainRecords = 64;
struct TSehChainSnapshot {
    std::uint32_t Head = kChainEnd; // the first record
    std::uint32_t Count = 0;
    std::uint32_t Handlers[kMaxChainRecords] = {};
};
// Reads the chain from `head` on while each record is readable and is not the end.
void SnapshotSehChain(std::uint32_t head, TSehChainSnapshot& chain) noexcept;
std::uint32_t CurrentSehChainHead() noexcept;

struct THandledAnalysis {
    std::uint8_t Handled = 0;
    std::uint32_t HandlerCount = 0;
    TAsynchronousException AsynchronousKind = aeNone;
    THandlerKind FirstKind = hkOther;
    const void* FirstUserHandler = nullptr; // not kept in the cache
};
THandledAnalysis WalkHandlerChain(const void* object, const TSehChainSnapshot& chain,
                                  const THandlerWalkSettings& settings);

// ---- The cache of verdicts: ten entries, the oldest dropped first.
constexpr int kHandledCacheSize = 10;
bool HandledCacheLookup(const std::type_info* exceptionClass, const void* address, std::uint32_t chainHead,
                        THandledAnalysis& found);
void HandledCacheAdd(const std::type_info* exceptionClass, const void* address, std::uint32_t chainHead,
                     const THandledAnalysis& analysis);
void HandledCacheClear() noexcept;
int HandledCacheCount() noexcept;

// Everything a verdict depends on besides the object and the chain.
struct THandledQuery {
    const void* Address = nullptr;
    bool ForceHandled = false;
    bool UnitStartOrEnd = false;       // the cache is not trusted then
    bool MainModuleCarriesReporter = false;
    bool HandleSafeCallExceptions = false;
};
// The verdict for `object` raised on `chain`: 1 when a handler of the
// program takes it, 0 when it is to be reported now.
std::uint8_t AnalyseHandled(const void* object, const TSehChainSnapshot& chain, const THandledQuery& query,
                            const THandlerWalkSettings& settings, TAsynchronousException& asynchronousKind);

// ---- The process's analysis
// At start-up: empties the cache and finds the handler routines of this
// program's protected blocks (the structured-exception guard's is read from
// a guard's own record).
void InitializeHandledAnalysis();
const THandlerWalkSettings& HandlerWalkSettings() noexcept;
// Set when an exception raised while the units start or end was taken by the
// runtime's own code only: shut-down frees the object left pending.
bool PendingObjectToFree() noexcept;

// For the raise filter: the calling thread's chain (as it stood at the fault,
// for a fault seen by the vectored handler at `address`), the cache, the
// options. `forceHandled` is false for every caller in this program.
bool CheckHandledByTryExcept(const void* object, const void* address, bool forceHandled,
                             TAsynchronousException& asynchronousKind);

} // namespace kv::crashreport
