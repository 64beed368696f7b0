// The raise wraps seen from a child process (tests/probes/CrashProbe.cpp):
// which events the runtime observer and the handler slots get for each way
// an exception can go, and what the process ends with.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdexcept>
#include <string>

#include "common/TestSupport.h"
#include "platform/runtime/RuntimeObserver.h"

namespace {

struct ProbeCase {
    const char* name;
    const wchar_t* argument;
    DWORD exitCode;
    const char* log;
};

// The type names are the runtime's mangled names.
const ProbeCase kCases[] = {
    {"Caught", L"caught", 0, "raise throw 10ProbeError\nhandled 10ProbeError\ndone\n"},
    {"MismatchedInnerCatch", L"mismatched", 0, "raise throw 10ProbeError\nhandled 10ProbeError\ndone\n"},
    {"CatchAll", L"catch-all", 0, "raise throw 10ProbeError\nhandled 10ProbeError\ndone\n"},
    {"RethrowInCatch", L"rethrow", 0,
     "raise throw 10ProbeError\nraise rethrow 10ProbeError\nhandled 10ProbeError\ndone\n"},
    {"LibraryThrow", L"library", 0, "raise throw St12out_of_range\nhandled St12out_of_range\ndone\n"},
    {"CarriedException", L"rethrow-exception", 0,
     "raise throw 10ProbeError\nhandled 10ProbeError\nraise rethrow-exception 10ProbeError\n"
     "handled 10ProbeError\ndone\n"},
    {"InspectionIsUnseen", L"inspection", 0, "raise throw 10ProbeError\nhandled 10ProbeError\ndone\n"},
    // The noexcept frame counts as a handler for the search: it terminates.
    // The runtime's default terminate handler throws the exception again to
    // print its message, then aborts (exit code 3).
    {"Noexcept", L"noexcept", 3, "raise throw 10ProbeError\nraise rethrow 10ProbeError\n"},
    {"Unhandled", L"unhandled", 3, "raise throw 10ProbeError\nnohandler 10ProbeError\nraise rethrow 10ProbeError\n"},
    {"WindowProcedureThrows", L"window-throw", 0,
     "raise throw 10ProbeError\nslot 10ProbeError\nhandled 10ProbeError\n"
     "raise throw 10ProbeError\nslot 10ProbeError\nhandled 10ProbeError\ndone\n"},
    {"WindowProcedureFaults", L"window-fault", 0,
     "slot N2kv16EAccessViolationE code C0000005\nslot N2kv16EAccessViolationE code C0000005\ndone\n"},
    {"WorkerThrows", L"worker", 0, "raise throw 10ProbeError\nthread-slot 10ProbeError\nhandled 10ProbeError\ndone\n"},
    {"GuardedAccessViolation", L"guarded-av", 0, "slot N2kv16EAccessViolationE code C0000005\ndone\n"},
    {"UnguardedAccessViolation", L"unguarded-av", 0xC0000005, ""},
    {"ThreadNamingPassesTheGuard", L"thread-name", 0, "saved-record 00000000\ndone\n"},
};

class CrashProbeTest : public testing::TestWithParam<ProbeCase> {};

TEST_P(CrashProbeTest, EventsAndExitCode)
{
    const ProbeCase& c = GetParam();
    const std::wstring log = kvtest::ScratchFolder(L"probe") + L"events.log";
    const int code = kvtest::RunProbe(L"kv_crash_probe.exe", c.argument, log);
    EXPECT_EQ(static_cast<DWORD>(code), c.exitCode);
    EXPECT_EQ(kvtest::PathExists(log) ? kvtest::ReadBytes(log) : std::string(), c.log);
}

INSTANTIATE_TEST_SUITE_P(Cases, CrashProbeTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<ProbeCase>& info) { return std::string(info.param.name); });

TEST(RaiseWrapsTest, CaughtObjectIsTheThrownOne)
{
    try {
        throw std::runtime_error("x");
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(kv::runtime::CaughtExceptionObject(), static_cast<const void*>(&error));
        EXPECT_EQ(*kv::runtime::CaughtExceptionType(), typeid(std::runtime_error));
        const std::exception_ptr pointer = std::current_exception();
        EXPECT_EQ(kv::runtime::ExceptionObjectOf(pointer), static_cast<const void*>(&error));
        EXPECT_EQ(*kv::runtime::ExceptionTypeOf(pointer), typeid(std::runtime_error));
    }
    EXPECT_EQ(kv::runtime::CaughtExceptionObject(), nullptr);
}

TEST(RaiseWrapsTest, CarriedExceptionIsTheSameObjectWhenCaughtAgain)
{
    std::exception_ptr carried;
    try {
        throw std::logic_error("y");
    } catch (...) {
        carried = std::current_exception();
    }
    try {
        kv::runtime::RethrowException(carried);
    } catch (const std::logic_error& error) {
        EXPECT_EQ(kv::runtime::CaughtExceptionObject(), static_cast<const void*>(&error));
        EXPECT_EQ(kv::runtime::ExceptionObjectOf(carried), static_cast<const void*>(&error));
    }
}

// The raise site is the caller's: its return address lies in this function.
const void* g_siteAddress = nullptr;
kv::runtime::RaiseKind g_siteKind{};
const kv::runtime::RuntimeObserver kSiteRecorder{
    [](void*, const std::type_info*, const kv::runtime::RaiseSite& site, kv::runtime::RaiseKind kind) noexcept {
        g_siteAddress = site.ReturnAddress;
        g_siteKind = kind;
    },
    nullptr, nullptr};

[[gnu::noinline]] void ThrowHere() { throw std::runtime_error("here"); }

TEST(RaiseWrapsTest, RaiseSiteIsTheThrowingCall)
{
    const kv::runtime::RuntimeObserver* previous = kv::runtime::SetRuntimeObserver(&kSiteRecorder);
    try {
        ThrowHere();
    } catch (...) {
    }
    kv::runtime::SetRuntimeObserver(previous);
    MEMORY_BASIC_INFORMATION region{};
    ::VirtualQuery(g_siteAddress, &region, sizeof region);
    EXPECT_EQ(g_siteKind, kv::runtime::RaiseKind::Throw);
    // Within ThrowHere, just after its call of the runtime's throw: the
    // byte before is the end of a 5-byte relative call (E8).
    const auto* site = static_cast<const unsigned char*>(g_siteAddress);
    const auto* start = reinterpret_cast<const unsigned char*>(&ThrowHere);
    EXPECT_GT(site, start);
    EXPECT_LT(site, start + 200);
    EXPECT_EQ(site[-5], 0xE8);
}

} // namespace
