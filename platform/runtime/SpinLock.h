#pragma once
// platform/runtime: mechanism that the crash path stands on, for every
// executable. The rule of this folder: no policy, nothing that reports, and
// nothing on its paths allocates or takes a lock that may allocate (the code
// runs while an exception is being captured, perhaps inside operator new or
// with the heap's lock held). So no std::mutex, no thread_local (it allocates
// on a thread's first use), no containers, no strings; only the kernel's own
// primitives and memory set aside up front. It depends on nothing of ours.
#include <windows.h>

namespace kv {

// A lock that never allocates: one interlocked flag. Waiters spin briefly and
// then yield their time slice, so a holder preempted on the same processor
// gets to run. Not recursive. Meets BasicLockable, so std::lock_guard works.
class SpinLock {
public:
    SpinLock() noexcept = default;
    SpinLock(const SpinLock&) = delete;
    SpinLock& operator=(const SpinLock&) = delete;

    void lock() noexcept;
    bool try_lock() noexcept;
    void unlock() noexcept;

private:
    volatile LONG held_ = 0;
};

// The exclusive side of a slim reader/writer lock for one scope (a static
// SRWLOCK_INIT lock needs no set-up and never allocates).
class ExclusiveSrwHold {
public:
    explicit ExclusiveSrwHold(SRWLOCK& lock) noexcept : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
    ~ExclusiveSrwHold() { ::ReleaseSRWLockExclusive(&lock_); }
    ExclusiveSrwHold(const ExclusiveSrwHold&) = delete;
    ExclusiveSrwHold& operator=(const ExclusiveSrwHold&) = delete;

private:
    SRWLOCK& lock_;
};

} // namespace kv
