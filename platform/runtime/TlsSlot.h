#pragma once
// platform/runtime: mechanism only; nothing on these paths allocates or takes
// a lock that may allocate (see SpinLock.h for the rule of this folder).
#include <windows.h>

namespace kv {

// One thread-local pointer through TlsAlloc. The crash path keeps per-thread
// state here instead of in thread_local, which allocates (emutls) on a
// thread's first use. Reading and writing the slot never allocate: whatever
// the pointer points to is set aside when the thread is registered.
class TlsSlot {
public:
    TlsSlot() noexcept;
    ~TlsSlot();
    TlsSlot(const TlsSlot&) = delete;
    TlsSlot& operator=(const TlsSlot&) = delete;

    // False when the process has run out of slots; Get then gives nullptr and
    // Set fails.
    bool IsValid() const noexcept { return index_ != TLS_OUT_OF_INDEXES; }

    // The calling thread's value; nullptr until the thread sets one.
    void* Get() const noexcept;
    bool Set(void* value) noexcept;

private:
    DWORD index_;
};

} // namespace kv
