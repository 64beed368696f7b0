#include "crashreport/core/EThreadsList.h"

namespace kv::crashreport {
namespace {

bool ThreadStillRuns(HANDLE handle)
{
    DWORD exitCode = 0;
    return ::GetExitCodeThread(handle, &exitCode) && exitCode == STILL_ACTIVE;
}

} // namespace

TOspreyThreadsList::TOspreyThreadsList() = default;

TOspreyThreadsList::TOspreyThreadsList(const TOspreyThreadsList& copyList) : simpleCopy_(true)
{
    ThreadsListReadLock lock(copyList);
    items_.reserve(copyList.items_.size());
    for (const auto& record : copyList.items_) items_.push_back(std::make_unique<TOspreyThreadInfo>(*record));
}

void TOspreyThreadsList::Delete(int index) { items_.erase(items_.begin() + index); }

void TOspreyThreadsList::RemoveCurrentThread()
{
    ThreadsListWriteLock lock(*this);
    const int index = FindByThreadID(::GetCurrentThreadId());
    if (index >= 0) Delete(index);
}

void TOspreyThreadsList::PurgeList()
{
    ThreadsListWriteLock lock(*this);
    for (int i = Count() - 1; i >= 0; --i)
        if (!ThreadStillRuns(items_[static_cast<std::size_t>(i)]->Handle)) Delete(i);
}

int TOspreyThreadsList::FindByThreadHandle(HANDLE handle) const noexcept
{
    for (int i = Count() - 1; i >= 0; --i)
        if (items_[static_cast<std::size_t>(i)]->Handle == handle) return i;
    return -1;
}

int TOspreyThreadsList::FindByThreadObject(const void* thread) const noexcept
{
    for (int i = Count() - 1; i >= 0; --i)
        if (items_[static_cast<std::size_t>(i)]->Thread == thread) return i;
    return -1;
}

int TOspreyThreadsList::FindByThreadID(DWORD threadId) const noexcept
{
    for (int i = Count() - 1; i >= 0; --i)
        if (items_[static_cast<std::size_t>(i)]->ID == threadId) return i;
    return -1;
}

std::unique_ptr<TOspreyThreadInfo> TOspreyThreadsList::NewItem() { return std::make_unique<TOspreyThreadInfo>(); }

TOspreyThreadInfo* TOspreyThreadsList::AddNewItem() { return Add(NewItem()); }

TOspreyThreadInfo* TOspreyThreadsList::Add(std::unique_ptr<TOspreyThreadInfo> record)
{
    items_.push_back(std::move(record));
    return items_.back().get();
}

void TOspreyThreadsList::BeginRead() const noexcept
{
    if (!simpleCopy_) ::AcquireSRWLockShared(&lock_);
}

void TOspreyThreadsList::EndRead() const noexcept
{
    if (!simpleCopy_) ::ReleaseSRWLockShared(&lock_);
}

void TOspreyThreadsList::BeginWrite() const noexcept
{
    if (!simpleCopy_) ::AcquireSRWLockExclusive(&lock_);
}

void TOspreyThreadsList::EndWrite() const noexcept
{
    if (!simpleCopy_) ::ReleaseSRWLockExclusive(&lock_);
}

} // namespace kv::crashreport
