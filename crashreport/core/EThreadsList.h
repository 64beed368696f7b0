#pragma once
// The registry of the program's threads: who made each one, its stack top,
// and the stack of the thread that started it. The live list is read and
// changed from every thread under its lock; a report works on a snapshot.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <typeinfo>
#include <vector>

#include "platform/Handles.h"

namespace kv::crashreport {

// Not known yet.
constexpr std::int32_t UnknownThreadPriority = static_cast<std::int32_t>(0x80000000u);

struct TOspreyThreadInfo {
    DWORD ID = 0;
    HANDLE Handle = nullptr;
    DWORD CallerID = 0; // the thread that resumed it
    std::int32_t Priority = UnknownThreadPriority;
    void* Thread = nullptr; // the worker-thread object; nullptr for a plain Windows thread
    std::uint32_t TopOfStack = 0;
    void* ExecuteMethod = nullptr;
    LPTHREAD_START_ROUTINE BeginThreadFunction = nullptr;
    LPTHREAD_START_ROUTINE CreateThreadFunction = nullptr;
    void* Parameter = nullptr;
    std::uint32_t CallerStackSize = 0;
    // A copy of the creator's stack. Shared, so that a snapshot keeps it
    // readable after the live list dropped the record.
    std::shared_ptr<const std::vector<std::uint8_t>> CallerStackDump;
    bool IsACopy = false; // copied from another module's registry
    // The registry's own handle of the thread, kept open while any copy of
    // the record lives: the creator may close its handle at once, and a
    // report still has to suspend and read the thread. Empty for the main
    // thread, whose handle the reporter keeps.
    std::shared_ptr<const kv::KernelHandle> OwnedHandle;
    // The worker's class, taken when the object was complete (at its first
    // resume): by then the thread may free the object at any time.
    const std::type_info* ThreadClass = nullptr;
};

class TOspreyThreadsList {
public:
    // The live list, with its own lock.
    TOspreyThreadsList();
    // A snapshot: every record of `copyList` copied under its read lock; the
    // snapshot has no lock of its own.
    explicit TOspreyThreadsList(const TOspreyThreadsList& copyList);
    TOspreyThreadsList& operator=(const TOspreyThreadsList&) = delete;

    int Count() const noexcept { return static_cast<int>(items_.size()); }
    TOspreyThreadInfo* Items(int index) const { return items_.at(static_cast<std::size_t>(index)).get(); }
    bool IsSnapshot() const noexcept { return simpleCopy_; }

    void Clear() noexcept { items_.clear(); }
    void Delete(int index);
    // Under the write lock: drops the calling thread's record.
    void RemoveCurrentThread();
    // Under the write lock: drops every record whose thread has ended or
    // whose handle no longer names a thread.
    void PurgeList();

    // Each searches from the last record to the first; -1 when absent. The
    // caller holds the lock.
    int FindByThreadHandle(HANDLE handle) const noexcept;
    int FindByThreadObject(const void* thread) const noexcept;
    int FindByThreadID(DWORD threadId) const noexcept;

    // A zeroed record, not yet in any list.
    static std::unique_ptr<TOspreyThreadInfo> NewItem();
    // A zeroed record, added at once; the caller holds the write lock.
    TOspreyThreadInfo* AddNewItem();
    TOspreyThreadInfo* Add(std::unique_ptr<TOspreyThreadInfo> record);

    // A snapshot has no lock: these do nothing on it.
    void BeginRead() const noexcept;
    void EndRead() const noexcept;
    void BeginWrite() const noexcept;
    void EndWrite() const noexcept;

private:
    std::vector<std::unique_ptr<TOspreyThreadInfo>> items_;
    mutable SRWLOCK lock_ = SRWLOCK_INIT;
    bool simpleCopy_ = false;
};

// Holds a list's read or write lock for one scope.
template <bool Write>
class ThreadsListLock {
public:
    explicit ThreadsListLock(const TOspreyThreadsList& list) noexcept : list_(list)
    {
        if constexpr (Write) list_.BeginWrite();
        else list_.BeginRead();
    }
    ~ThreadsListLock()
    {
        if constexpr (Write) list_.EndWrite();
        else list_.EndRead();
    }
    ThreadsListLock(const ThreadsListLock&) = delete;
    ThreadsListLock& operator=(const ThreadsListLock&) = delete;

private:
    const TOspreyThreadsList& list_;
};
using ThreadsListReadLock = ThreadsListLock<false>;
using ThreadsListWriteLock = ThreadsListLock<true>;

} // namespace kv::crashreport
