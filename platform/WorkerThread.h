#pragma once
// A worker thread that frees itself when it ends, in the manner the program's
// threads expect:
// - the thread is created suspended through ::CreateThread (so the crash
//   reporter's CreateThread hook sees it; std::thread and _beginthreadex go
//   through msvcrt and would not be seen), and is resumed only once the object
//   is fully constructed (Start);
// - Execute runs on the thread under the guard; anything it throws or faults
//   goes to the threads' exception handler (by default the application's);
// - the object deletes itself and the thread ends with an explicit
//   ::ExitThread, so the exit passes through our import table too.
#include <windows.h>

#include <atomic>
#include <functional>
#include <utility>

#include "platform/Handles.h"

namespace kv {

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

    DWORD ThreadId() const noexcept { return threadId_; }

protected:
    WorkerThread();
    virtual ~WorkerThread();

    virtual void Execute() = 0;

    // Runs `method` on the main thread while this thread waits.
    void Synchronize(const std::function<void()>& method);

private:
    static DWORD WINAPI ThreadStart(void* parameter);
    void Resume();

    KernelHandle handle_;
    DWORD threadId_ = 0;
};

} // namespace kv
