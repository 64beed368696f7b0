#include <gtest/gtest.h>

#include <stdexcept>

#include "crashreport/core/EErrors.h"
#include "platform/Exceptions.h"
#include "platform/TextCodec.h"

namespace {

std::string g_handled;
std::vector<std::string> g_sections;

void CaptureApplicationError(const std::exception_ptr& error) { g_handled = kv::WideToAnsi(kv::ExceptionMessage(error)); }
void CaptureInternalError(std::string_view section)
{
    g_sections.emplace_back(section);
    g_handled = kv::crashreport::DescribeCurrentException().Message; // the failure is still current here
}

void Fails() { throw std::runtime_error("boom"); }
void ThrowsNoException() { throw 42; }
void Aborts() { throw kv::EAbort(); }
void Works() {}

class GuardedCalls : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_handled.clear();
        g_sections.clear();
        previousApp_ = kv::SetApplicationExceptionHandler(CaptureApplicationError);
        previousInternal_ = kv::crashreport::SetInternalErrorHandler(nullptr);
    }
    void TearDown() override
    {
        kv::SetApplicationExceptionHandler(previousApp_);
        kv::crashreport::SetInternalErrorHandler(previousInternal_);
    }
    kv::ApplicationExceptionHandler previousApp_ = nullptr;
    kv::crashreport::InternalErrorHandler previousInternal_ = nullptr;
};

TEST_F(GuardedCalls, SuccessReturnsTrue) { EXPECT_TRUE(kv::crashreport::GuardedCall(Works, "Unit.Init")); }

// Without the internal-error handler the failure is reported with its label
// and the call returns instead of raising out of the program's start.
TEST_F(GuardedCalls, WithoutHandlerReportsTheCriticalError)
{
    bool result = true;
    EXPECT_NO_THROW(result = kv::crashreport::GuardedCall(Fails, "ECore.Init"));
    EXPECT_FALSE(result);
    EXPECT_EQ(g_handled, "Critical error at: \"ECore.Init\"\r\nError: \"boom\".");
    EXPECT_FALSE(kv::crashreport::GuardedCall(ThrowsNoException, "EHook.Init"));
    EXPECT_EQ(g_handled, "Critical error at: \"EHook.Init\"\r\nError: \"General internal error.\".");
}

TEST_F(GuardedCalls, WithHandlerReportsLabelAndAddress)
{
    kv::crashreport::SetInternalErrorHandler(CaptureInternalError);
    EXPECT_FALSE(kv::crashreport::GuardedCall(Fails, "ExceptionLog.Init"));
    ASSERT_EQ(g_sections.size(), 1u);
    char expected[64];
    std::snprintf(expected, sizeof expected, "ExceptionLog.Init (Address: %.8X)",
                  static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(&Fails)));
    EXPECT_EQ(g_sections[0], expected);
    EXPECT_EQ(g_handled, "boom");
}

TEST_F(GuardedCalls, SilentAbortIsNoFailureReport)
{
    kv::crashreport::SetInternalErrorHandler(CaptureInternalError);
    EXPECT_FALSE(kv::crashreport::GuardedCall(Aborts, "Unit.Done"));
    EXPECT_TRUE(g_sections.empty());
}

TEST(EErrors, WarningsAreRecorded)
{
    kv::crashreport::OutputWarning(kv::crashreport::eeWebHTTPError, "HTTP error code: 404");
    EXPECT_EQ(kv::crashreport::LastWarningCode(), kv::crashreport::eeWebHTTPError);
    EXPECT_EQ(kv::crashreport::LastWarningMessage(), "HTTP error code: 404");
    try {
        throw std::runtime_error("connection refused");
    } catch (...) {
        kv::crashreport::OutputSectionError(kv::crashreport::eeEmailSMTPError, "SMTP");
    }
    EXPECT_EQ(kv::crashreport::LastWarningMessage(), "[SMTP] connection refused");
    try {
        throw 1;
    } catch (...) {
        kv::crashreport::OutputSectionError(kv::crashreport::eeWebFTPError, "FTP");
    }
    EXPECT_EQ(kv::crashreport::LastWarningMessage(), "General 'FTP' error.");
    kv::crashreport::ClearLastWarning();
    EXPECT_EQ(kv::crashreport::LastWarningCode(), kv::crashreport::eeNone);
    EXPECT_EQ(kv::crashreport::LastWarningMessage(), "");
    EXPECT_EQ(kv::crashreport::LogErrorCodeName(kv::crashreport::eeWebTrakerError), "eeWebTrakerError");
}

TEST(EErrors, InternalErrorReportLayout)
{
    kv::crashreport::InternalErrorFacts f;
    f.Date = "Sun, 5 Jan 2025 09:03:07 +0100";
    f.OS = "Microsoft Windows 7";
    f.Section = "Step 3";
    f.ClassName = "std::runtime_error";
    f.Message = "boom";
    const std::string text = kv::crashreport::InternalErrorReportText(f);
    EXPECT_EQ(text.rfind("Version   : 6.0.23\r\nDate      : Sun, 5 Jan 2025 09:03:07 +0100\r\nOS        : "
                         "Microsoft Windows 7\r\nRAD       : ",
                         0),
              0u);
    EXPECT_NE(text.find("\r\nSection   : Step 3\r\nLastExcept: \r\nAddress   : \r\nException : std::runtime_error\r\n"
                        "Message   : boom\r\nCall Stack: "),
              std::string::npos);
}

TEST(EErrors, MemoryDump)
{
    unsigned char bytes[32];
    for (int i = 0; i < 32; ++i) bytes[i] = static_cast<unsigned char>(i * 8);
    const std::string dump = kv::crashreport::MemoryDumpText(bytes);
    EXPECT_EQ(dump.substr(0, 12), "$00 $08 $10 ");
    EXPECT_EQ(dump.size(), 32u * 4);
    EXPECT_EQ(kv::crashreport::MemoryDumpText(nullptr), "");
}

// Outside a debugger and the development host nothing is written or asked.
TEST(EErrors, InternalErrorOnlyUnderADebugger)
{
    try {
        throw std::runtime_error("internal");
    } catch (...) {
        kv::crashreport::ReportInternalError("Test");
    }
    EXPECT_FALSE(kv::crashreport::InternalErrorReportRunning());
}

} // namespace
