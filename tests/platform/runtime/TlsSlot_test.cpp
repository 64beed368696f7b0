#include <gtest/gtest.h>

#include <atomic>

#include "common/TestSupport.h"
#include "platform/runtime/TlsSlot.h"

namespace {

TEST(TlsSlot, StartsEmptyAndKeepsTheValueSet)
{
    kv::TlsSlot slot;
    ASSERT_TRUE(slot.IsValid());
    EXPECT_EQ(slot.Get(), nullptr);
    int value = 0;
    ASSERT_TRUE(slot.Set(&value));
    EXPECT_EQ(slot.Get(), &value);
}

TEST(TlsSlot, EachThreadSeesOnlyItsOwnValue)
{
    constexpr int kThreads = 8;
    kv::TlsSlot slot;
    int mainValue = 0;
    ASSERT_TRUE(slot.Set(&mainValue));
    int values[kThreads] = {};
    std::atomic<int> ready{0};
    std::atomic<int> emptyAtStart{0};
    std::atomic<int> ownAtEnd{0};
    kvtest::RunOnThreads(kThreads, [&](int index) {
        if (slot.Get() == nullptr) ++emptyAtStart;
        slot.Set(&values[index]);
        // Every thread has set its value before any reads back.
        ++ready;
        while (ready < kThreads) ::SwitchToThread();
        if (slot.Get() == &values[index]) ++ownAtEnd;
    });
    EXPECT_EQ(emptyAtStart.load(), kThreads);
    EXPECT_EQ(ownAtEnd.load(), kThreads);
    EXPECT_EQ(slot.Get(), &mainValue);
}

TEST(TlsSlot, ReadingLeavesTheThreadsLastErrorAlone)
{
    kv::TlsSlot slot;
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    slot.Get();
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(TlsSlot, TwoSlotsAreIndependent)
{
    kv::TlsSlot first;
    kv::TlsSlot second;
    int a = 0;
    int b = 0;
    first.Set(&a);
    second.Set(&b);
    EXPECT_EQ(first.Get(), &a);
    EXPECT_EQ(second.Get(), &b);
}

} // namespace
