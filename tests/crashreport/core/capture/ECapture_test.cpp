// The raise filter's bookkeeping in this process (its reporter is off: the
// filter's recording parts work all the same).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>

#include "crashreport/core/capture/ECapture.h"
#include "crashreport/core/capture/EThreadState.h"
#include "platform/runtime/SehGuard.h"

namespace {

namespace cr = kv::crashreport;

TEST(ECaptureTest, NativeRaiseFillsTheSyntheticRecordAndRegisters)
{
    cr::ThreadExceptionState* state = cr::CurrentThreadState();
    ASSERT_NE(state, nullptr);
    state->RaiseFrame = 0x0012FF00;
    state->RaiseRegister = 0xCCCC0001;
    const ULONG_PTR arguments[7] = {0x00401005, 0x00AA0000, 0xB0, 0x51, 0xD1, 0xE0, 0x77};
    cr::GeneralRaiseNotify(cr::kNativeExceptionCode, 1, 7, false, arguments);
    const CONTEXT& c = state->Context;
    EXPECT_EQ(c.ContextFlags, 0x10003u);
    EXPECT_EQ(c.Eax, 0x00AA0000u);
    EXPECT_EQ(c.Ebx, 0xB0u);
    EXPECT_EQ(c.Ecx, 0xCCCC0001u);
    EXPECT_EQ(c.Edx, 0x00401005u);
    EXPECT_EQ(c.Esi, 0x51u);
    EXPECT_EQ(c.Edi, 0xD1u);
    EXPECT_EQ(c.Ebp, 0xE0u);
    EXPECT_EQ(c.Esp, 0x0012FF00u);
    EXPECT_EQ(c.Eip, 0x00401000u);
    EXPECT_EQ(state->StackPoint, 0x0012FF00u);
    const EXCEPTION_RECORD& r = state->ExceptionRecord;
    EXPECT_EQ(r.ExceptionCode, cr::kNativeExceptionCode);
    EXPECT_EQ(r.ExceptionFlags, 1u);
    EXPECT_EQ(r.ExceptionRecord, nullptr);
    EXPECT_EQ(r.ExceptionAddress, reinterpret_cast<void*>(0x00401005));
    ASSERT_EQ(r.NumberParameters, 7u);
    for (int i = 0; i < 7; ++i) EXPECT_EQ(r.ExceptionInformation[i], arguments[i]) << i;
    cr::ClearSyntheticRaise(*state);
}

TEST(ECaptureTest, OtherRaisesFillNothing)
{
    cr::ThreadExceptionState* state = cr::CurrentThreadState();
    ASSERT_NE(state, nullptr);
    cr::ClearSyntheticRaise(*state);
    const ULONG_PTR arguments[7] = {1, 2, 3, 4, 5, 6, 7};
    cr::GeneralRaiseNotify(cr::kNativeExceptionCode, 1, 6, false, arguments);
    cr::GeneralRaiseNotify(cr::kNativeExceptionCode, 0, 7, false, arguments);
    cr::GeneralRaiseNotify(0xE0000001, 1, 7, false, arguments);
    EXPECT_EQ(state->Context.ContextFlags, 0u);
    EXPECT_EQ(state->ExceptionRecord.ExceptionCode, 0u);
}

TEST(ECaptureTest, LastExceptionKeepsTheLastNonNilValues)
{
    int a = 0, b = 0;
    cr::RecordLastException(&a, &b, true);
    cr::RecordLastException(nullptr, nullptr, false);
    const cr::LastExceptionInfo last = cr::LastException();
    EXPECT_EQ(last.Object, nullptr);
    EXPECT_EQ(last.Address, nullptr);
    EXPECT_FALSE(last.IsNative);
    EXPECT_EQ(last.LastNonNilObject, &a);
    EXPECT_EQ(last.LastNonNilAddress, &b);
}

TEST(ECaptureTest, StackOverflowIsNeverLeftToAHandler)
{
    EXCEPTION_RECORD record{};
    record.ExceptionCode = EXCEPTION_STACK_OVERFLOW;
    kv::EStackOverflow overflow(L"Stack overflow", record);
    kv::EAccessViolation violation(L"Access violation", record);
    // Both raised under the program's structured-exception guard: it takes
    // the violation, never the overflow.
    cr::InitializeHandledAnalysis();
    struct Verdicts {
        kv::EStackOverflow* overflow;
        kv::EAccessViolation* violation;
        bool overflowHandled = true, violationHandled = false;
        cr::TAsynchronousException kind = cr::aeSafeCall;
    } verdicts{&overflow, &violation};
    kv_seh_guard(
        [](void* argument) {
            auto* v = static_cast<Verdicts*>(argument);
            v->overflowHandled = cr::CheckHandledByTryExcept(v->overflow, nullptr, false, v->kind);
            cr::TAsynchronousException other = cr::aeNone;
            v->violationHandled = cr::CheckHandledByTryExcept(v->violation, nullptr, false, other);
        },
        &verdicts, [](void*, const EXCEPTION_RECORD*, const CONTEXT*) {});
    EXPECT_FALSE(verdicts.overflowHandled);
    EXPECT_EQ(verdicts.kind, cr::aeNone);
    EXPECT_TRUE(verdicts.violationHandled);
    cr::HandledCacheClear();
}

} // namespace
