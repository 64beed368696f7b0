#pragma once
// A worker thread in the manner the program's threads expect:
// - the thread is created suspended through ::CreateThread (so the crash
//   reporter's CreateThread hook sees it; std::thread and _beginthreadex go
//   through msvcrt and would not be seen), and is resumed only once the object
//   is fully constructed;
// - Execute runs on the thread under the guard; anything it throws or faults
//   goes to the threads' exception handler (by default the application's);
// - the thread ends with an explicit ::ExitThread, so the exit passes through
//   our import table too.
// A thread made by Start frees itself when it ends. A thread made by Create
// belongs to its caller, who resumes it and may wait for it; letting it go
// waits for the thread's end first (a thread never resumed ends without
// running Execute), so Execute never runs on a half-destroyed object.
#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <utility>

#include "platform/Handles.h"

namespace kv {

class WorkerThread;

// Ends an owned thread before deleting its object.
struct WorkerThreadRelease {
    void operator()(WorkerThread* thread) const;
};
template <class T>
using OwnedWorkerThread = std::unique_ptr<T, WorkerThreadRelease>;

class WorkerThread {
public:
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Constructs a T (derived from WorkerThread) and starts it. The returned
    // pointer is valid only until the thread ends: it frees itself.
    template <class T, class... Args>
    static T* Start(Args&&... args)
    {
        T* thread = new T(std::forward<Args>(args)...);
        thread->Resume();
        return thread;
    }

    // Constructs a T that stays suspended until Resume and that the caller
    // owns: it does not free itself.
    template <class T, class... Args>
    static OwnedWorkerThread<T> Create(Args&&... args)
    {
        OwnedWorkerThread<T> thread(new T(std::forward<Args>(args)...));
        thread->freeOnTerminate_ = false;
        return thread;
    }

    // The routine every worker thread starts in, with its object as the
    // parameter: how the crash reporter knows a worker from a plain thread.
    static LPTHREAD_START_ROUTINE StartRoutine() noexcept { return &WorkerThread::ThreadStart; }

    DWORD ThreadId() const noexcept { return threadId_; }
    HANDLE Handle() const noexcept { return handle_.Get(); }

    void Resume();
    // Waits until the thread has ended; its exit code.
    DWORD WaitFor();
    // Asks Execute to end (it reads Terminated); the thread goes on until it does.
    void Terminate() noexcept { terminated_ = true; }
    bool Terminated() const noexcept { return terminated_.load(); }
    // Ends the thread at once, wherever it is: only for a thread that can no
    // longer end by itself. Nothing of Execute's cleanup runs.
    void Kill(DWORD exitCode) noexcept;
    // A THREAD_PRIORITY_* value.
    void SetPriority(int priority);
    int Priority() const noexcept;

protected:
    WorkerThread();
    virtual ~WorkerThread();

    virtual void Execute() = 0;

    // Runs `method` on the main thread while this thread waits.
    void Synchronize(const std::function<void()>& method);

private:
    friend struct WorkerThreadRelease;
    static DWORD WINAPI ThreadStart(void* parameter);
    void EndBeforeRelease();

    KernelHandle handle_;
    DWORD threadId_ = 0;
    bool freeOnTerminate_ = true;
    bool resumed_ = false;
    std::atomic<bool> terminated_{false};
    // Set when the object goes before its thread ever ran: the thread then
    // ends without calling Execute.
    std::atomic<bool> abandoned_{false};
};

} // namespace kv
