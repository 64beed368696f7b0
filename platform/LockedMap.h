#pragma once
// A table that the window procedures of any thread read and a few places
// write, under a slim reader-writer lock (it never allocates while shared).
#include <windows.h>

#include <unordered_map>

namespace kv {

template <class Key, class Value>
class LockedMap {
public:
    // The value stored for `key`, or a value-initialised one.
    Value Find(const Key& key) const
    {
        ::AcquireSRWLockShared(&lock_);
        const auto found = entries_.find(key);
        const Value value = found == entries_.end() ? Value{} : found->second;
        ::ReleaseSRWLockShared(&lock_);
        return value;
    }
    void Set(const Key& key, const Value& value)
    {
        ::AcquireSRWLockExclusive(&lock_);
        entries_[key] = value;
        ::ReleaseSRWLockExclusive(&lock_);
    }
    void Forget(const Key& key)
    {
        ::AcquireSRWLockExclusive(&lock_);
        entries_.erase(key);
        ::ReleaseSRWLockExclusive(&lock_);
    }

private:
    mutable SRWLOCK lock_ = SRWLOCK_INIT;
    std::unordered_map<Key, Value> entries_;
};

} // namespace kv
