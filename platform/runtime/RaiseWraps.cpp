// The C++ side of the raise wraps (see RuntimeObserver.h and RaiseWraps.S).
#include <windows.h>

#include <unwind.h>

#include <atomic>
#include <cstdint>

#include "platform/runtime/RuntimeObserver.h"

// The runtime's per-thread exception state (its layout is below).
extern "C" void* __cxa_get_globals() noexcept;

namespace kv::runtime {
namespace {

// The C++ runtime's header in front of every thrown object (the Itanium C++
// ABI's __cxa_exception as GCC lays it down on i686). An exception thrown
// again from a std::exception_ptr gets a "dependent" header of the same
// shape whose first field points at the original object.
struct ExceptionHeader {
    union {
        std::type_info* exceptionType;
        void* primaryException;
    };
    void(__thiscall* exceptionDestructor)(void*);
    void (*unexpectedHandler)();
    void (*terminateHandler)();
    ExceptionHeader* nextException;
    int handlerCount; // negative while the exception is thrown on from its catch block
    int handlerSwitchValue;
    const unsigned char* actionRecord;
    const unsigned char* languageSpecificData;
    _Unwind_Ptr catchTemp;
    void* adjustedPtr;
    _Unwind_Exception unwindHeader;
};

struct EhGlobals {
    ExceptionHeader* caughtExceptions;
    unsigned int uncaughtExceptions;
};

constexpr std::uint64_t kGnuCxxClass = 0x474E5543432B2B00ull; // "GNUCC++\0"
constexpr std::uint64_t kGnuCxxDependentClass = kGnuCxxClass | 1;

ExceptionHeader* HeaderOfUnwind(_Unwind_Exception* unwind)
{
    return reinterpret_cast<ExceptionHeader*>(reinterpret_cast<char*>(unwind + 1)) - 1;
}

ExceptionHeader* HeaderOfObject(void* object) { return static_cast<ExceptionHeader*>(object) - 1; }

bool IsCxxException(const _Unwind_Exception* unwind)
{
    return unwind->exception_class == kGnuCxxClass || unwind->exception_class == kGnuCxxDependentClass;
}

void* ObjectOfHeader(ExceptionHeader* header)
{
    if (header->unwindHeader.exception_class == kGnuCxxDependentClass) return header->primaryException;
    return header + 1;
}

const std::type_info* TypeOfObject(void* object) { return object ? HeaderOfObject(object)->exceptionType : nullptr; }

std::atomic<const RuntimeObserver*> g_observer{nullptr};

// Set between a request to classify an exception and the raise that
// follows it at once (std::rethrow_exception's own); that raise's dependent
// header is then marked in its unused second field.
constexpr DWORD kNoSlot = TLS_OUT_OF_INDEXES;
std::atomic<DWORD> g_inspectionSlot{kNoSlot};
void(__thiscall* const kInspectionMark)(void*) = reinterpret_cast<void(__thiscall*)(void*)>(1);

// A TLS slot allocated on first use: the raise path never allocates memory.
DWORD InspectionSlot() noexcept
{
    DWORD slot = g_inspectionSlot.load(std::memory_order_acquire);
    if (slot != kNoSlot) return slot;
    const DWORD fresh = ::TlsAlloc();
    if (g_inspectionSlot.compare_exchange_strong(slot, fresh)) return fresh;
    ::TlsFree(fresh);
    return slot;
}

// The TLS calls reset the thread's last-error code; a raise must not.
bool TakeInspectionRequest() noexcept
{
    const DWORD lastError = ::GetLastError();
    const DWORD slot = InspectionSlot();
    const bool requested = ::TlsGetValue(slot) != nullptr;
    if (requested) ::TlsSetValue(slot, nullptr);
    ::SetLastError(lastError);
    return requested;
}

ExceptionHeader* InnermostCaught() noexcept
{
    return static_cast<EhGlobals*>(__cxa_get_globals())->caughtExceptions;
}

bool IsInspection(const ExceptionHeader* header) noexcept
{
    return header->unwindHeader.exception_class == kGnuCxxDependentClass &&
           header->exceptionDestructor == kInspectionMark;
}

} // namespace

const RuntimeObserver* SetRuntimeObserver(const RuntimeObserver* observer) noexcept
{
    return g_observer.exchange(observer);
}

void* ExceptionObjectOf(const std::exception_ptr& error) noexcept
{
    static_assert(sizeof(std::exception_ptr) == sizeof(void*));
    return *reinterpret_cast<void* const*>(&error);
}

const std::type_info* ExceptionTypeOf(const std::exception_ptr& error) noexcept
{
    return error ? error.__cxa_exception_type() : nullptr;
}

void* CaughtExceptionObject() noexcept
{
    ExceptionHeader* header = InnermostCaught();
    if (!header || !IsCxxException(&header->unwindHeader)) return nullptr;
    return ObjectOfHeader(header);
}

const std::type_info* CaughtExceptionType() noexcept { return TypeOfObject(CaughtExceptionObject()); }

void NoteCarriedException(const std::exception_ptr& error) noexcept
{
    const RuntimeObserver* observer = g_observer.load();
    if (observer && observer->Carried && error) observer->Carried(ExceptionObjectOf(error), ExceptionTypeOf(error));
}

} // namespace kv::runtime

using namespace kv::runtime;

extern "C" {

_Unwind_Reason_Code __real__Unwind_RaiseException(_Unwind_Exception* exception);
void __real___cxa_end_catch();

void kv_runtime_on_throw(const RaiseSite* site, void* object, const std::type_info* type) noexcept
{
    const RuntimeObserver* observer = g_observer.load();
    if (observer && observer->Raised) observer->Raised(object, type, *site, RaiseKind::Throw);
}

void kv_runtime_on_rethrow(const RaiseSite* site) noexcept
{
    const RuntimeObserver* observer = g_observer.load();
    if (!observer || !observer->Raised) return;
    if (void* object = CaughtExceptionObject()) observer->Raised(object, TypeOfObject(object), *site, RaiseKind::Rethrow);
}

void kv_runtime_on_rethrow_exception(const RaiseSite* site, const std::exception_ptr* error, RaiseKind kind) noexcept
{
    const RuntimeObserver* observer = g_observer.load();
    if (!observer || !observer->Raised || !*error) return;
    observer->Raised(ExceptionObjectOf(*error), ExceptionTypeOf(*error), *site, kind);
}

[[noreturn]] void kv_runtime_rethrow_exception(const std::exception_ptr* error) { std::rethrow_exception(*error); }

void kv_runtime_mark_inspection() noexcept
{
    const DWORD lastError = ::GetLastError();
    ::TlsSetValue(InspectionSlot(), reinterpret_cast<void*>(1));
    ::SetLastError(lastError);
}

_Unwind_Reason_Code __wrap__Unwind_RaiseException(_Unwind_Exception* exception)
{
    ExceptionHeader* header = HeaderOfUnwind(exception);
    if (TakeInspectionRequest() && exception->exception_class == kGnuCxxDependentClass)
        header->exceptionDestructor = kInspectionMark;
    const _Unwind_Reason_Code result = __real__Unwind_RaiseException(exception);
    // Only the search phase has run: the raising frames are all still there.
    if (result == _URC_END_OF_STACK && IsCxxException(exception) && !IsInspection(header)) {
        const RuntimeObserver* observer = g_observer.load();
        void* object = ObjectOfHeader(header);
        if (observer && observer->NoHandler) observer->NoHandler(object, TypeOfObject(object));
    }
    return result;
}

void __wrap___cxa_end_catch()
{
    ExceptionHeader* header = InnermostCaught();
    // A count of 1 drops to 0 here: the exception is finished with, not
    // thrown on and not held by an enclosing catch of the same exception.
    if (header && IsCxxException(&header->unwindHeader) && header->handlerCount == 1) {
        const RuntimeObserver* observer = g_observer.load();
        void* object = ObjectOfHeader(header);
        if (observer && observer->Handled && !IsInspection(header)) observer->Handled(object, TypeOfObject(object));
    }
    __real___cxa_end_catch();
}

} // extern "C"

