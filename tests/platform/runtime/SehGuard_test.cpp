// The structured-exception guard in this process: faults it takes come back
// as a copy of their record on the guard's own level; the fs:[0] chain is
// left as it was found.
#include <gtest/gtest.h>

#include <windows.h>

#include "platform/Exceptions.h"
#include "platform/runtime/SehGuard.h"

namespace {

void* ChainHead()
{
    void* head;
    asm volatile("movl %%fs:0, %0" : "=r"(head));
    return head;
}

struct FaultSeen {
    int calls = 0;
    DWORD code = 0;
    const void* address = nullptr;
    DWORD eip = 0;
    void* chainHead = nullptr;
};

[[gnu::noinline]] void ReadThroughNull(void*)
{
    volatile int* volatile nowhere = nullptr;
    (void)*nowhere;
}

void RecordFault(void* argument, const EXCEPTION_RECORD* record, const CONTEXT* context)
{
    auto* seen = static_cast<FaultSeen*>(argument);
    ++seen->calls;
    seen->code = record->ExceptionCode;
    seen->address = record->ExceptionAddress;
    seen->eip = context->Eip;
    seen->chainHead = ChainHead();
}

TEST(SehGuardTest, BodyThatReturnsLeavesTheChainAsFound)
{
    void* before = ChainHead();
    int runs = 0;
    EXPECT_EQ(kv_seh_guard([](void* count) { ++*static_cast<int*>(count); }, &runs, RecordFault), 0);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(ChainHead(), before);
}

TEST(SehGuardTest, FaultComesBackWithItsRecordAndRegisters)
{
    void* before = ChainHead();
    FaultSeen seen;
    EXPECT_EQ(kv_seh_guard(ReadThroughNull, &seen, RecordFault), 1);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.code, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
    EXPECT_EQ(seen.eip, reinterpret_cast<DWORD>(seen.address));
    const auto* start = reinterpret_cast<const char*>(&ReadThroughNull);
    EXPECT_GE(static_cast<const char*>(seen.address), start);
    EXPECT_LT(static_cast<const char*>(seen.address), start + 64);
    // The sink already runs with the guard's own record taken off the chain.
    EXPECT_EQ(seen.chainHead, before);
    EXPECT_EQ(ChainHead(), before);
}

TEST(SehGuardTest, InnerGuardTakesTheFaultFirst)
{
    struct Nested {
        FaultSeen inner;
        FaultSeen outer;
    } nested;
    const int result = kv_seh_guard(
        [](void* argument) {
            auto* n = static_cast<Nested*>(argument);
            kv_seh_guard(ReadThroughNull, &n->inner, RecordFault);
        },
        &nested, RecordFault);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(nested.inner.calls, 1);
    EXPECT_EQ(nested.outer.calls, 0);
}

TEST(SehGuardTest, DebuggerMessagesPassOn)
{
    EXPECT_FALSE(kv::SehGuardTakes(kv::kThreadNamingException));
    EXPECT_FALSE(kv::SehGuardTakes(DBG_PRINTEXCEPTION_C));
    EXPECT_TRUE(kv::SehGuardTakes(EXCEPTION_ACCESS_VIOLATION));
    EXPECT_TRUE(kv::SehGuardTakes(0xE06D7363));
}

TEST(SehGuardTest, GuardedCallbackHandsFaultToTheSlotAsAnObject)
{
    static DWORD seenCode;
    static std::wstring seenMessage;
    const auto previous = kv::SetApplicationExceptionHandler([](const std::exception_ptr& error) {
        try {
            std::rethrow_exception(error);
        } catch (const kv::EAccessViolation& fault) {
            seenCode = fault.ExceptionCode();
            seenMessage = fault.Message();
        } catch (...) {
        }
    });
    const int result = kv::GuardedCallback(7, [] {
        ReadThroughNull(nullptr);
        return 1;
    });
    kv::SetApplicationExceptionHandler(previous);
    EXPECT_EQ(result, 7);
    EXPECT_EQ(seenCode, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
    EXPECT_EQ(seenMessage.rfind(L"Access violation at address ", 0), 0u) << seenMessage;
    EXPECT_NE(seenMessage.find(L". Read of address 00000000"), std::wstring::npos) << seenMessage;
}

std::exception_ptr ReplacedObject(const EXCEPTION_RECORD& record, const CONTEXT*)
{
    return std::make_exception_ptr(kv::Exception(L"replaced " + std::to_wstring(record.ExceptionCode)));
}

TEST(SehGuardTest, ExceptionObjectProcedureIsReplaceable)
{
    static std::wstring seen;
    const auto previousProcedure = kv::SetExceptionObjectProcedure(ReplacedObject);
    const auto previous = kv::SetApplicationExceptionHandler(
        [](const std::exception_ptr& error) { seen = kv::ExceptionMessage(error); });
    kv::GuardedCallback([] { ReadThroughNull(nullptr); });
    kv::SetApplicationExceptionHandler(previous);
    kv::SetExceptionObjectProcedure(previousProcedure);
    EXPECT_EQ(seen, L"replaced " + std::to_wstring(EXCEPTION_ACCESS_VIOLATION));
}

TEST(SehGuardTest, OtherCodesBecomeExternalExceptions)
{
    EXCEPTION_RECORD record{};
    record.ExceptionCode = 0xC0000025;
    EXPECT_EQ(kv::ExceptionMessage(kv::DefaultExceptionObject(record, nullptr)), L"External exception C0000025");
    record.ExceptionCode = EXCEPTION_INT_DIVIDE_BY_ZERO;
    try {
        std::rethrow_exception(kv::DefaultExceptionObject(record, nullptr));
    } catch (const kv::EIntError& error) {
        EXPECT_EQ(error.ExceptionCode(), static_cast<DWORD>(EXCEPTION_INT_DIVIDE_BY_ZERO));
    }
}

} // namespace
