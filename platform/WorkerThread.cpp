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

void WorkerThread::Resume() { ::ResumeThread(handle_.Get()); }

void WorkerThread::Synchronize(const std::function<void()>& method) { RunOnMainThread(method); }

DWORD WINAPI WorkerThread::ThreadStart(void* parameter)
{
    auto* self = static_cast<WorkerThread*>(parameter);
    GuardedThreadCallback([self] { self->Execute(); });
    GuardedThreadCallback([self] { delete self; });
    ::ExitThread(0);
}

} // namespace kv
