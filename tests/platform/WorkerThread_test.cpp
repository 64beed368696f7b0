#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "platform/Exceptions.h"
#include "platform/MessageLoop.h"
#include "platform/WorkerThread.h"

namespace {

std::atomic<int> g_alive{0};

class ProbeThread : public kv::WorkerThread {
public:
    ProbeThread(std::atomic<DWORD>* syncThread, std::atomic<bool>* done, bool throwInSync)
        : syncThread_(syncThread), done_(done), throwInSync_(throwInSync)
    {
        ++g_alive;
    }
    ~ProbeThread() override
    {
        --g_alive;
        *done_ = true;
    }

protected:
    void Execute() override
    {
        try {
            Synchronize([this] {
                *syncThread_ = ::GetCurrentThreadId();
                if (throwInSync_) throw kv::Exception(L"from the main thread");
            });
        } catch (const kv::Exception& e) {
            caught_ = e.Message() == L"from the main thread";
            *syncThread_ = caught_ ? 1 : 2;
        }
    }

private:
    std::atomic<DWORD>* syncThread_;
    std::atomic<bool>* done_;
    bool throwInSync_;
    bool caught_ = false;
};

void PumpUntil(const std::atomic<bool>& flag)
{
    for (int i = 0; i < 1000 && !flag; ++i) {
        kv::ProcessMessages();
        ::Sleep(5);
    }
}

TEST(WorkerThread, SynchronizeRunsOnTheMainThreadAndTheThreadFreesItself)
{
    std::atomic<DWORD> syncThread{0};
    std::atomic<bool> done{false};
    kv::WorkerThread::Start<ProbeThread>(&syncThread, &done, false);
    PumpUntil(done);
    ASSERT_TRUE(done);
    EXPECT_EQ(syncThread.load(), ::GetCurrentThreadId());
    EXPECT_EQ(g_alive.load(), 0);
}

TEST(WorkerThread, ExceptionInSynchronizedMethodReachesTheWorker)
{
    std::atomic<DWORD> syncThread{0};
    std::atomic<bool> done{false};
    kv::WorkerThread::Start<ProbeThread>(&syncThread, &done, true);
    PumpUntil(done);
    ASSERT_TRUE(done);
    EXPECT_EQ(syncThread.load(), 1u);
}

std::atomic<int> g_handled{0};
void CountingHandler(const std::exception_ptr& error)
{
    if (kv::ExceptionMessage(error) == L"worker failed") ++g_handled;
}

class ThrowingThread : public kv::WorkerThread {
public:
    explicit ThrowingThread(std::atomic<bool>* done) : done_(done) {}
    ~ThrowingThread() override { *done_ = true; }

protected:
    void Execute() override { throw kv::Exception(L"worker failed"); }

private:
    std::atomic<bool>* done_;
};

TEST(WorkerThread, ExceptionInExecuteGoesToTheApplicationHandler)
{
    auto previous = kv::SetApplicationExceptionHandler(CountingHandler);
    std::atomic<bool> done{false};
    kv::WorkerThread::Start<ThrowingThread>(&done);
    PumpUntil(done);
    kv::SetApplicationExceptionHandler(previous);
    EXPECT_TRUE(done);
    EXPECT_EQ(g_handled.load(), 1);
}

// The thread's exit must pass through our import table, where the crash
// reporter's ExitThread hook sits; a routine that returns leaves through the
// system instead. The test puts a recorder in the executable's own import
// entry for ExitThread, as the hook will.
// Every exit the recorder sees, by thread id: workers of the tests before
// this one may still be ending while the recorder is in place, so the test
// asks about its own two threads only.
constexpr int kRecordedExits = 64;
std::atomic<DWORD> g_exitingThreads[kRecordedExits];
std::atomic<int> g_exits{0};
using ExitThreadFunction = VOID(WINAPI*)(DWORD);
ExitThreadFunction g_realExitThread = nullptr;

VOID WINAPI RecordingExitThread(DWORD code)
{
    const int slot = g_exits++;
    if (slot < kRecordedExits) g_exitingThreads[slot] = ::GetCurrentThreadId();
    g_realExitThread(code);
}

int ExitsOf(DWORD threadId)
{
    int count = 0;
    for (int i = 0; i < std::min(g_exits.load(), kRecordedExits); ++i)
        if (g_exitingThreads[i] == threadId) ++count;
    return count;
}

// The import entry of this executable that holds `target`, or nullptr.
void** FindImportEntry(const char* moduleName, void* target)
{
    auto* base = reinterpret_cast<BYTE*>(::GetModuleHandleW(nullptr));
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* descriptor = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         descriptor->Name != 0; ++descriptor) {
        if (_stricmp(reinterpret_cast<const char*>(base + descriptor->Name), moduleName) != 0) continue;
        for (auto* entry = reinterpret_cast<void**>(base + descriptor->FirstThunk); *entry; ++entry)
            if (*entry == target) return entry;
    }
    return nullptr;
}

class ImportPatch {
public:
    ImportPatch(void** entry, void* replacement) : entry_(entry), original_(*entry) { Write(replacement); }
    ~ImportPatch() { Write(original_); }

private:
    void Write(void* value)
    {
        DWORD protection = 0;
        ::VirtualProtect(entry_, sizeof(void*), PAGE_READWRITE, &protection);
        *entry_ = value;
        ::VirtualProtect(entry_, sizeof(void*), protection, &protection);
    }
    void** entry_;
    void* original_;
};

// Hands out a handle to itself, so the test can wait for the thread's end
// after the object has freed itself.
class QuietThread : public kv::WorkerThread {
public:
    QuietThread(HANDLE* self, std::atomic<DWORD>* id) : self_(self), id_(id) {}

protected:
    void Execute() override
    {
        ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), self_, SYNCHRONIZE,
                          FALSE, 0);
        *id_ = ::GetCurrentThreadId();
    }

private:
    HANDLE* self_;
    std::atomic<DWORD>* id_;
};

DWORD WINAPI ReturningRoutine(void*) { return 0; }

TEST(WorkerThread, EndsThroughTheImportedExitThread)
{
    void* exitThread = reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "ExitThread"));
    void** entry = FindImportEntry("kernel32.dll", exitThread);
    ASSERT_NE(entry, nullptr) << "the executable imports ExitThread from kernel32";
    g_realExitThread = reinterpret_cast<ExitThreadFunction>(exitThread);
    ImportPatch patch(entry, reinterpret_cast<void*>(&RecordingExitThread));

    // A routine that returns is not seen: that is what the pin tells apart.
    DWORD plainId = 0;
    kv::KernelHandle plain(::CreateThread(nullptr, 0, ReturningRoutine, nullptr, 0, &plainId));
    ASSERT_EQ(::WaitForSingleObject(plain.Get(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(ExitsOf(plainId), 0);

    HANDLE self = nullptr;
    std::atomic<DWORD> workerId{0};
    kv::WorkerThread::Start<QuietThread>(&self, &workerId);
    for (int i = 0; i < 1000 && workerId == 0; ++i) ::Sleep(5);
    ASSERT_NE(workerId.load(), 0u);
    kv::KernelHandle worker(self);
    ASSERT_EQ(::WaitForSingleObject(worker.Get(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(ExitsOf(workerId.load()), 1);
}

// ---- Threads their caller owns

class OwnedThread : public kv::WorkerThread {
public:
    OwnedThread(std::atomic<int>* destroyed, HANDLE release) : destroyed_(destroyed), release_(release) {}
    ~OwnedThread() override { ++*destroyed_; }

    std::atomic<bool> executed{false};
    std::atomic<int> priorityInside{0};
    std::atomic<bool> sawTerminated{false};

protected:
    void Execute() override
    {
        executed = true;
        priorityInside = ::GetThreadPriority(::GetCurrentThread());
        while (release_ && ::WaitForSingleObject(release_, 5) == WAIT_TIMEOUT)
            if (Terminated()) {
                sawTerminated = true;
                return;
            }
    }

private:
    std::atomic<int>* destroyed_;
    HANDLE release_;
};

TEST(OwnedWorkerThread, OutlivesItsExecuteUntilReleased)
{
    std::atomic<int> destroyed{0};
    {
        auto thread = kv::WorkerThread::Create<OwnedThread>(&destroyed, nullptr);
        EXPECT_FALSE(thread->executed) << "it waits for Resume";
        thread->Resume();
        EXPECT_EQ(thread->WaitFor(), 0u);
        EXPECT_TRUE(thread->executed);
        EXPECT_EQ(::WaitForSingleObject(thread->Handle(), 0), WAIT_OBJECT_0) << "the thread has ended";
        EXPECT_EQ(destroyed.load(), 0) << "the object is the caller's";
    }
    EXPECT_EQ(destroyed.load(), 1);
}

TEST(OwnedWorkerThread, NeverResumedEndsWithoutExecute)
{
    std::atomic<int> destroyed{0};
    HANDLE handle = nullptr;
    {
        auto thread = kv::WorkerThread::Create<OwnedThread>(&destroyed, nullptr);
        ::DuplicateHandle(::GetCurrentProcess(), thread->Handle(), ::GetCurrentProcess(), &handle, SYNCHRONIZE, FALSE,
                          0);
    }
    kv::KernelHandle ended(handle);
    EXPECT_EQ(::WaitForSingleObject(ended.Get(), 0), WAIT_OBJECT_0) << "released only after its thread ended";
    EXPECT_EQ(destroyed.load(), 1);
}

TEST(OwnedWorkerThread, TerminateAsksExecuteToEnd)
{
    std::atomic<int> destroyed{0};
    kv::KernelHandle never(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    auto thread = kv::WorkerThread::Create<OwnedThread>(&destroyed, never.Get());
    thread->Resume();
    for (int i = 0; i < 1000 && !thread->executed; ++i) ::Sleep(2);
    EXPECT_FALSE(thread->Terminated());
    thread->Terminate();
    EXPECT_TRUE(thread->Terminated());
    EXPECT_EQ(thread->WaitFor(), 0u);
    EXPECT_TRUE(thread->sawTerminated);
}

TEST(OwnedWorkerThread, PriorityIsTheThreads)
{
    std::atomic<int> destroyed{0};
    auto thread = kv::WorkerThread::Create<OwnedThread>(&destroyed, nullptr);
    thread->SetPriority(THREAD_PRIORITY_HIGHEST);
    EXPECT_EQ(thread->Priority(), THREAD_PRIORITY_HIGHEST);
    thread->Resume();
    thread->WaitFor();
    EXPECT_EQ(thread->priorityInside.load(), THREAD_PRIORITY_HIGHEST);
}

// A thread that can no longer end by itself is ended at once, with the code given.
TEST(OwnedWorkerThread, KillEndsAStuckThread)
{
    std::atomic<int> destroyed{0};
    kv::KernelHandle never(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    auto thread = kv::WorkerThread::Create<OwnedThread>(&destroyed, never.Get());
    thread->Resume();
    for (int i = 0; i < 1000 && !thread->executed; ++i) ::Sleep(2);
    thread->Kill(5);
    EXPECT_EQ(thread->WaitFor(), 5u);
    EXPECT_FALSE(thread->sawTerminated);
}

} // namespace
