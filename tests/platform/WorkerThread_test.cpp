#include <gtest/gtest.h>

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

} // namespace
