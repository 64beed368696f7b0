#pragma once
// platform/runtime: what the C++ runtime does with an exception, seen through
// link-time wraps of its entry points (-Wl,--wrap, carried by every
// executable's link options):
// - __cxa_throw and __cxa_rethrow: a raise starts (registers and return
//   address of the raising call are taken by a small assembly entry);
// - _Unwind_RaiseException: the search phase found no handler (it returns
//   end-of-stack, 5, with the raising stack still intact);
// - __cxa_end_catch: a catch block ends and the exception is done with.
// All of it feeds one observer slot. No policy here, nothing that reports,
// nothing that allocates: the observer decides.
#include <cstdint>
#include <exception>
#include <typeinfo>

namespace kv::runtime {

// The registers of the call that raised.
struct RaiseSite {
    const void* ReturnAddress; // the instruction after the raising call
    std::uint32_t Ebx, Ecx, Esi, Edi, Ebp;
    std::uint32_t Esp; // the raiser's stack position once that call returned
};

enum class RaiseKind : std::uint8_t {
    Throw,            // a throw expression
    Rethrow,          // "throw;" inside a catch block
    RethrowException, // an exception carried in a std::exception_ptr thrown again
    CarriedBack,      // an exception a method raised on another thread for this one, thrown again here
};

// Each member may be nullptr. They run on the raising thread, inside the
// runtime's exception machinery: they must not throw.
struct RuntimeObserver {
    void (*Raised)(void* object, const std::type_info* type, const RaiseSite& site, RaiseKind kind) noexcept;
    // No catch block will take the exception; the raising frames still stand.
    void (*NoHandler)(void* object, const std::type_info* type) noexcept;
    // A catch block ended without throwing the exception on.
    void (*Handled)(void* object, const std::type_info* type) noexcept;
    // A catch block took the exception only to carry it to the thread that
    // waits for this one, which throws it again (RethrowCarriedBack).
    void (*Carried)(void* object, const std::type_info* type) noexcept = nullptr;
};

// Installs the observer (nullptr: none) and returns the previous one. The
// observer must outlive its installation.
const RuntimeObserver* SetRuntimeObserver(const RuntimeObserver* observer) noexcept;

// The thrown object and its type behind an exception pointer (nullptr for an
// empty pointer).
void* ExceptionObjectOf(const std::exception_ptr& error) noexcept;
const std::type_info* ExceptionTypeOf(const std::exception_ptr& error) noexcept;

// The object and type of the exception the innermost catch block of the
// calling thread is handling (nullptr outside any catch block).
void* CaughtExceptionObject() noexcept;
const std::type_info* CaughtExceptionType() noexcept;

} // namespace kv::runtime

extern "C" {
// Implemented in assembly (they take the caller's registers): see below.
[[noreturn]] void kv_rethrow_recorded(const std::exception_ptr* error, kv::runtime::RaiseKind kind);
[[noreturn]] void kv_rethrow_for_inspection(const std::exception_ptr* error);
}

namespace kv::runtime {

// std::rethrow_exception does not pass the throw wraps: this throws the
// exception again as a new raise that the observer sees (the carried-back
// failure of a callback, a worker's failure raised on the waiting thread).
[[noreturn]] inline void RethrowException(const std::exception_ptr& error)
{
    kv_rethrow_recorded(&error, RaiseKind::RethrowException);
}

// Inside the catch block that takes an exception to carry it to the waiting
// thread: tells the observer (Carried).
void NoteCarriedException(const std::exception_ptr& error) noexcept;
// On the waiting thread: the carried exception raised again (CarriedBack).
[[noreturn]] inline void RethrowCarriedBack(const std::exception_ptr& error)
{
    kv_rethrow_recorded(&error, RaiseKind::CarriedBack);
}

// Throws the exception again only to classify it in a catch block right
// there: the observer sees neither a raise nor the end of that catch block.
[[noreturn]] inline void RethrowForInspection(const std::exception_ptr& error) { kv_rethrow_for_inspection(&error); }

} // namespace kv::runtime
