#include "platform/WorkerThread.h"

#include "platform/Exceptions.h"
#include "platform/MessageLoop.h"

namespace kv {

WorkerThread::WorkerThread()
{
    handle_.Reset(::CreateThread(nullptr, 0, &WorkerThread::ThreadStart, this, CREATE_SUSPENDED, &threadId_));
    if (!handle_) throw Exception(L"Cannot create a thread");
}

WorkerThread::~WorkerThread() = default;

void WorkerThreadRelease::operator()(WorkerThread* thread) const
{
    thread->EndBeforeRelease();
    delete thread;
}

void WorkerThread::EndBeforeRelease()
{
    if (!resumed_) {
        abandoned_ = true;
        Resume();
    }
    WaitFor();
}

void WorkerThread::Resume()
{
    resumed_ = true;
    ::ResumeThread(handle_.Get());
}

DWORD WorkerThread::WaitFor()
{
    ::WaitForSingleObject(handle_.Get(), INFINITE);
    DWORD exitCode = 0;
    ::GetExitCodeThread(handle_.Get(), &exitCode);
    return exitCode;
}

void WorkerThread::Kill(DWORD exitCode) noexcept { ::TerminateThread(handle_.Get(), exitCode); }

void WorkerThread::SetPriority(int priority) { ::SetThreadPriority(handle_.Get(), priority); }

int WorkerThread::Priority() const noexcept { return ::GetThreadPriority(handle_.Get()); }

void WorkerThread::Synchronize(const std::function<void()>& method) { RunOnMainThread(method); }

DWORD WINAPI WorkerThread::ThreadStart(void* parameter)
{
    auto* self = static_cast<WorkerThread*>(parameter);
    // Read before Execute: an owned object may be deleted as soon as Execute
    // has returned and its owner's wait ends.
    const bool freeOnTerminate = self->freeOnTerminate_;
    if (!self->abandoned_) GuardedThreadCallback([self] { self->Execute(); });
    if (freeOnTerminate) GuardedThreadCallback([self] { delete self; });
    ::ExitThread(0);
}

} // namespace kv
