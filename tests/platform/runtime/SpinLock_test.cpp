#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include "common/TestSupport.h"
#include "platform/runtime/SpinLock.h"

namespace {

TEST(SpinLock, TryLockFailsWhileHeldAndSucceedsAfterUnlock)
{
    kv::SpinLock lock;
    ASSERT_TRUE(lock.try_lock());
    EXPECT_FALSE(lock.try_lock());
    lock.unlock();
    EXPECT_TRUE(lock.try_lock());
    lock.unlock();
}

TEST(SpinLock, KeepsEveryIncrementOfEightThreads)
{
    // A plain read-modify-write loses increments without mutual exclusion;
    // the pause between read and write makes a lost one near certain.
    constexpr int kThreads = 8;
    constexpr int kRounds = 2000;
    kv::SpinLock lock;
    volatile long counter = 0;
    std::atomic<int> inside{0};
    std::atomic<int> mostInside{0};
    kvtest::RunOnThreads(kThreads, [&](int) {
        for (int round = 0; round < kRounds; ++round) {
            std::lock_guard<kv::SpinLock> guard(lock);
            const int now = ++inside;
            if (now > mostInside) mostInside = now;
            const long read = counter;
            if (round % 64 == 0) ::SwitchToThread();
            counter = read + 1;
            --inside;
        }
    });
    EXPECT_EQ(counter, long{kThreads} * kRounds);
    EXPECT_EQ(mostInside.load(), 1);
}

TEST(SpinLock, AWaiterGetsTheLockWhenTheHolderLetsGo)
{
    kv::SpinLock lock;
    lock.lock();
    std::atomic<bool> acquired{false};
    std::atomic<bool> release{false};
    kvtest::RunOnThreads(2, [&](int index) {
        if (index == 0) {
            lock.lock();
            acquired = true;
            lock.unlock();
        } else {
            ::Sleep(50);
            EXPECT_FALSE(acquired.load());
            lock.unlock();
        }
    });
    EXPECT_TRUE(acquired.load());
}

} // namespace
