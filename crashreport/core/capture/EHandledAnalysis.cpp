#include "crashreport/core/capture/EHandledAnalysis.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "crashreport/core/ECore.h"
#include "crashreport/core/EObjects.h"
#include "crashreport/core/ESystem.h"
#include "crashreport/core/ExceptionLog.h"
#include "crashreport/core/capture/EThreadState.h"
#include "platform/runtime/SpinLock.h"
#include "platform/runtime/SehGuard.h"

namespace kv::crashreport {
namespace {

// ---- Reads of memory that may not be there

bool ReadWord(std::uint32_t address, std::uint32_t& value) noexcept
{
    const auto* at = reinterpret_cast<const void*>(address);
    if (!IsReadableMemory(at, sizeof value)) return false;
    std::memcpy(&value, at, sizeof value);
    return true;
}

// The target of the 32-bit relative jump that starts at `address`, followed
// through an import thunk; nullptr when its displacement cannot be read.
const void* JumpTarget(const void* address) noexcept
{
    const auto at = reinterpret_cast<std::uint32_t>(address);
    std::uint32_t displacement = 0;
    if (!ReadWord(at + 1, displacement)) return nullptr;
    try {
        return ResolveImportThunk(reinterpret_cast<const void*>(at + kHandlerJumpSize + displacement));
    } catch (...) {
        return nullptr;
    }
}

const void* CodeAfterJump(std::uint32_t handler) noexcept
{
    return reinterpret_cast<const void*>(handler + kHandlerJumpSize);
}

// The class an on-exception entry names; nullptr for a catch-all or an
// unreadable reference.
const std::type_info* EntryClass(std::uint32_t reference, bool runtimeInPackage) noexcept
{
    if (reference == 0) return nullptr;
    std::uint32_t slot = reference;
    if (runtimeInPackage && (!ReadWord(reference, slot) || slot == 0)) return nullptr;
    return reinterpret_cast<const std::type_info*>(slot + kClassSelfSlotOffset);
}

bool ClassTakes(const void* object, const std::type_info* entryClass)
{
    if (!entryClass || !IsValidVMT(entryClass)) return true;
    return InheritsFromByName(object, *entryClass);
}

// ---- The cache

struct TCacheEntry {
    const std::type_info* ExceptionClass;
    const void* Address;
    std::uint32_t ChainHead;
    std::uint8_t Handled;
    std::uint32_t HandlerCount;
    TAsynchronousException AsynchronousKind;
    THandlerKind FirstKind;
};

SRWLOCK g_cacheLock = SRWLOCK_INIT;
TCacheEntry g_cache[kHandledCacheSize];
int g_cacheCount = 0;

// ---- The process's settings

THandlerWalkSettings g_settings;
volatile LONG g_pendingObjectToFree = 0;

void ReadOwnHandler(void* handler)
{
    const auto* record = static_cast<const EXCEPTION_REGISTRATION_RECORD*>(
        reinterpret_cast<const NT_TIB*>(::NtCurrentTeb())->ExceptionList);
    *static_cast<const void**>(handler) = reinterpret_cast<const void*>(record->Handler);
}

void IgnoreFault(void*, const EXCEPTION_RECORD*, const CONTEXT*) {}

// The routine a protected block of the guard's kind jumps to, read from a
// guard's own record rather than assumed.
const void* GuardHandlerRoutine() noexcept
{
    const void* handler = nullptr;
    kv_seh_guard(ReadOwnHandler, &handler, IgnoreFault);
    return handler ? JumpTarget(handler) : nullptr;
}

} // namespace

bool TCodeRange::Contains(const void* address) const noexcept
{
    return Start && address >= Start && address < End;
}

THandlerKind ClassifySehHandler(const void* handlerAddress, const TRuntimeHandlers& handlers)
{
    const void* target = JumpTarget(handlerAddress);
    if (!target) return hkOther;
    if (target == handlers.AnyException) return hkAnyException;
    if (target == handlers.OnException) return hkOnException;
    if (target == handlers.SafeCall) return hkSafeCall;
    return hkOther;
}

bool OnTableCatches(const void* object, const void* table, bool runtimeInPackage, const void*& code)
{
    code = nullptr;
    const auto start = reinterpret_cast<std::uint32_t>(table);
    std::uint32_t count = 0;
    if (!ReadWord(start, count)) return false;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t entry = start + 4 + i * 8;
        std::uint32_t reference = 0, entryCode = 0;
        if (!ReadWord(entry, reference) || !ReadWord(entry + 4, entryCode)) return false;
        if (ClassTakes(object, EntryClass(reference, runtimeInPackage))) {
            code = reinterpret_cast<const void*>(entryCode);
            return true;
        }
    }
    return false;
}

std::uint32_t CurrentSehChainHead() noexcept
{
    return reinterpret_cast<std::uint32_t>(reinterpret_cast<const NT_TIB*>(::NtCurrentTeb())->ExceptionList);
}

void SnapshotSehChain(std::uint32_t head, TSehChainSnapshot& chain) noexcept
{
    chain.Head = head;
    chain.Count = 0;
    std::uint32_t record = head;
    while (record != kChainEnd && chain.Count < kMaxChainRecords &&
           IsReadableMemory(reinterpret_cast<const void*>(record), 2 * sizeof(std::uint32_t))) {
        const auto* words = reinterpret_cast<const std::uint32_t*>(record);
        chain.Handlers[chain.Count++] = words[1];
        record = words[0];
    }
}

THandledAnalysis WalkHandlerChain(const void* object, const TSehChainSnapshot& chain,
                                  const THandlerWalkSettings& settings)
{
    THandledAnalysis result;
    for (std::uint32_t i = 0; i < chain.Count; ++i) {
        const std::uint32_t handler = chain.Handlers[i];
        const THandlerKind kind = ClassifySehHandler(reinterpret_cast<const void*>(handler), settings.Handlers);
        const void* code = nullptr;
        if (kind == hkAnyException || kind == hkSafeCall) {
            code = CodeAfterJump(handler);
        } else if (kind == hkOnException) {
            if (!OnTableCatches(object, CodeAfterJump(handler), settings.RuntimeInPackage, code)) continue;
        } else {
            continue;
        }
        const auto distance = std::abs(static_cast<long long>(reinterpret_cast<std::uint32_t>(code)) -
                                       reinterpret_cast<std::uint32_t>(settings.SynchronizeExceptBlock));
        if (result.HandlerCount == 0 && settings.SynchronizeExceptBlock && distance <= kSynchronizeReach) {
            // The first taker carries the exception back to the thread that
            // asked for the method: to the program it is not handled here.
            result.AsynchronousKind = aeSynchronize;
            result.Handled = 0;
            return result;
        }
        if (!result.FirstUserHandler && !settings.ReporterCode.Contains(code)) result.FirstUserHandler = code;
        if (result.FirstKind == hkOther) result.FirstKind = kind;
        result.Handled = 1;
        ++result.HandlerCount;
    }
    return result;
}

bool HandledCacheLookup(const std::type_info* exceptionClass, const void* address, std::uint32_t chainHead,
                        THandledAnalysis& found)
{
    ExclusiveSrwHold hold(g_cacheLock);
    for (int i = 0; i < g_cacheCount; ++i) {
        const TCacheEntry& entry = g_cache[i];
        if (entry.ExceptionClass != exceptionClass || entry.Address != address || entry.ChainHead != chainHead)
            continue;
        found = THandledAnalysis{entry.Handled, entry.HandlerCount, entry.AsynchronousKind, entry.FirstKind, nullptr};
        return true;
    }
    return false;
}

void HandledCacheAdd(const std::type_info* exceptionClass, const void* address, std::uint32_t chainHead,
                     const THandledAnalysis& analysis)
{
    ExclusiveSrwHold hold(g_cacheLock);
    if (g_cacheCount == kHandledCacheSize) {
        std::memmove(&g_cache[0], &g_cache[1], (kHandledCacheSize - 1) * sizeof g_cache[0]);
        --g_cacheCount;
    }
    g_cache[g_cacheCount++] = TCacheEntry{exceptionClass,         address,          chainHead,
                                          analysis.Handled,       analysis.HandlerCount,
                                          analysis.AsynchronousKind, analysis.FirstKind};
}

void HandledCacheClear() noexcept
{
    ExclusiveSrwHold hold(g_cacheLock);
    g_cacheCount = 0;
}

int HandledCacheCount() noexcept
{
    ExclusiveSrwHold hold(g_cacheLock);
    return g_cacheCount;
}

std::uint8_t AnalyseHandled(const void* object, const TSehChainSnapshot& chain, const THandledQuery& query,
                            const THandlerWalkSettings& settings, TAsynchronousException& asynchronousKind)
{
    asynchronousKind = aeNone;
    // A stack overflow is reported while there is a stack to report it on.
    if (ObjectInheritsFromName(object, "EStackOverflow")) return 0;
    const std::type_info* exceptionClass = ClassOf(object);
    THandledAnalysis analysis;
    if (query.UnitStartOrEnd || !HandledCacheLookup(exceptionClass, query.Address, chain.Head, analysis)) {
        analysis = WalkHandlerChain(object, chain, settings);
        HandledCacheAdd(exceptionClass, query.Address, chain.Head, analysis);
    }
    std::uint8_t handled = analysis.Handled;
    asynchronousKind = analysis.AsynchronousKind;
    if (query.UnitStartOrEnd && settings.RuntimeCoreCode.Contains(analysis.FirstUserHandler)) {
        handled = 0;
        ::InterlockedExchange(&g_pendingObjectToFree, 1);
    }
    if (query.MainModuleCarriesReporter || query.ForceHandled) handled = 1;
    if (analysis.FirstKind == hkSafeCall && query.HandleSafeCallExceptions) {
        handled = 0;
        asynchronousKind = aeSafeCall;
    }
    return handled;
}

void InitializeHandledAnalysis()
{
    HandledCacheClear();
    ::InterlockedExchange(&g_pendingObjectToFree, 0);
    // No code of this program lays down on-exception tables or safecall
    // handlers: those kinds stay unrecognised here.
    g_settings.Handlers.AnyException = GuardHandlerRoutine();
}

const THandlerWalkSettings& HandlerWalkSettings() noexcept { return g_settings; }

bool PendingObjectToFree() noexcept { return g_pendingObjectToFree != 0; }

bool CheckHandledByTryExcept(const void* object, const void* address, bool forceHandled,
                             TAsynchronousException& asynchronousKind)
{
    // A fault's own frames are unwound by the time its object exists: its
    // chain is the one the vectored handler saw.
    const ThreadExceptionState* state = ExistingThreadState();
    TSehChainSnapshot live;
    const TSehChainSnapshot* chain = &live;
    if (state && address && state->FaultChainAddress == address)
        chain = &state->FaultChain;
    else
        SnapshotSehChain(CurrentSehChainHead(), live);
    THandledQuery query;
    query.Address = address;
    query.ForceHandled = forceHandled;
    query.UnitStartOrEnd = InUnitInitialization() || InUnitFinalization();
    query.MainModuleCarriesReporter = MainModuleCarriesReporter();
    const TOspreyModuleOptions* options = CurrentOspreyLogOptions();
    query.HandleSafeCallExceptions = options && options->BehaviourOptions().Contains(boHandleSafeCallExceptions);
    return AnalyseHandled(object, *chain, query, g_settings, asynchronousKind) != 0;
}

} // namespace kv::crashreport
