#include "crashreport/output/ELogHeader.h"

#include <gtest/gtest.h>

#include <string>

#include "crashreport/core/ECore.h"
#include "crashreport/core/EObjects.h"
#include "crashreport/core/ESystem.h"
#include "crashreport/output/EListView.h"
#include "crashreport/output/EReportState.h"
#include "platform/Exceptions.h"
#include "FixedReportFacts.h"

using namespace kv::crashreport;

namespace {

using kvtest::FixedReportFacts;
using kvtest::ItemLine;

class Header : public ::testing::Test {
protected:
    void SetUp() override { kvtest::FillFixedReportState(error_); }
    void TearDown() override
    {
        SetCurrentOspreyLogOptions(nullptr);
        CurrentReport() = TReportState();
    }
    kv::Exception error_{L"Disk full"};
    FixedReportFacts facts_;
};

TEST_F(Header, WholeHeaderFromFixedFacts)
{
    BuildLogHeader(facts_);
    EXPECT_EQ(CurrentReport().HeaderText, kvtest::FixedHeaderText());
    EXPECT_EQ(CurrentReport().ExceptionMessage, "Disk full");
    EXPECT_EQ(CurrentReport().ExceptionClassName, "kv::Exception");
}

TEST_F(Header, HiddenItemKeepsTheNumberOfTheNextAndHiddenSectionKeepsTheNextSectionsNumber)
{
    TOspreyModuleOptions options("");
    TShowOptions shown = TShowOptions::All();
    shown.Exclude(soExcID);
    for (TShowOption user : {soUserID, soUserName, soUserEmail, soUserCompany, soUserPrivileges}) shown.Exclude(user);
    options.SetShowOptions(shown);
    SetCurrentOspreyLogOptions(&options);
    BuildLogHeader(facts_);
    const std::string& text = CurrentReport().HeaderText;
    EXPECT_EQ(text.find("2.7 "), std::string::npos);
    EXPECT_NE(text.find("  2.6 Message       : Disk full\r\n  2.8 Count         : 1\r\n"), std::string::npos);
    EXPECT_EQ(text.find("User:"), std::string::npos);
    EXPECT_NE(text.find("  2.10 Note         : \r\n\r\nActive Controls:\r\n"), std::string::npos);
    EXPECT_NE(text.find("  4.1 Form Class   : TMainForm\r\n"), std::string::npos);
}

TEST_F(Header, ProgramWithoutItsOwnWindowsHasNoActiveControlsSection)
{
    facts_.showsActiveControls = false;
    BuildLogHeader(facts_);
    const std::string& text = CurrentReport().HeaderText;
    EXPECT_EQ(text.find("Active Controls"), std::string::npos);
    EXPECT_EQ(text.find("  4."), std::string::npos);
    EXPECT_NE(text.find("\r\n\r\nComputer:\r\n"), std::string::npos);
    EXPECT_NE(text.find("  5.1 Name          : PC1\r\n"), std::string::npos);
}

TEST_F(Header, CustomisedCaptionsAreExpanded)
{
    TOspreyModuleOptions options("");
    ::SetEnvironmentVariableA("KV_PRODUCT", "Kv");
    options.SetCustomizedTexts(mtLog_AppHeader, "%KV_PRODUCT% program");
    SetCurrentOspreyLogOptions(&options);
    BuildLogHeader(facts_);
    ::SetEnvironmentVariableA("KV_PRODUCT", nullptr);
    EXPECT_EQ(CurrentReport().HeaderText.substr(0, 33), "OspreyLog 6.0.23\r\n\r\nKv program:\r\n");
}

TEST_F(Header, WithoutTheIPHelperTheNetworkValuesAreEmpty)
{
    facts_.adapters.reset();
    BuildLogHeader(facts_);
    EXPECT_NE(CurrentReport().HeaderText.find("Network:\r\n" + std::string(18, '-') + "\r\n  7.1 IP Address: \r\n"), std::string::npos);
}

TEST_F(Header, CustomSectionsAreBothNumberedEightAndStandBeforeTheCallStack)
{
    BuildLogHeader(facts_);
    TReportState& report = CurrentReport();
    const std::string header = report.HeaderText;
    report.LogText = header + "\r\nCall Stack Information:\r\n";
    AddReportValuesSection(7, "Custom Information", {"Build=42", " Tester= Ann ", "Build=43"});
    AddReportSection(7, "Steps", "Open it.\r\nExpected:\r\nno crash");
    AddReportSection(7, "Nothing", "");
    AddReportValuesSection(7, "Nothing", {});
    const std::string custom = "Custom Information:\r\n" + std::string(17, '-') +
                               "\r\n"
                               "  8.1 Build : 42\r\n"
                               "  8.2 Tester: Ann\r\n"
                               "  8.3 Build : 42\r\n"
                               "\r\n";
    const std::string steps = "Steps:\r\n" + std::string(17, '-') +
                              "\r\n"
                              "  8.1 : Open it.\r\n"
                              "        Expected:\r\n"
                              "        no crash\r\n"
                              "\r\n";
    EXPECT_EQ(report.LogText, header + "\r\n" + custom + steps + "Call Stack Information:\r\n");
    EXPECT_EQ(report.EntireLogText, report.LogText);
    EXPECT_EQ(report.HeaderText, header + "\r\n" + custom + steps.substr(0, steps.size() - 2));
}

// ---- Values

struct ParametersCase {
    const char* name;
    const char* commandLine;
    const char* parameters;
};

const ParametersCase ParametersCases[] = {
    {"QuotedPathWithBlanks", "\"C:\\Program Files\\Kv\\Kv.exe\"  /job \"a b.job\" ", "/job \"a b.job\""},
    {"RelativeStartShorterThanThePath", "Kv.exe -x", "-x"},
    {"UnquotedPathAndTab", "C:\\Kv\\Kv.exe\t/a", "/a"},
    {"NoParameters", "  \"C:\\Kv\\Kv.exe\"  ", ""},
    {"QuoteRightAfterTheName", "\"C:\\Kv\\Kv.exe\"\"x\"", "\"x\""},
};

class Parameters : public ::testing::TestWithParam<ParametersCase> {};

TEST_P(Parameters, DropTheProgramsOwnName)
{
    EXPECT_EQ(CommandLineParameters(GetParam().commandLine), GetParam().parameters);
}

INSTANTIATE_TEST_SUITE_P(CommandLines, Parameters, ::testing::ValuesIn(ParametersCases),
                         [](const ::testing::TestParamInfo<ParametersCase>& info) { return info.param.name; });

TEST(HeaderValues, SmallFormats)
{
    EXPECT_EQ(FormatIPAddress("192.168.1.20"), "192.168.001.020");
    EXPECT_EQ(FormatIPAddress(""), "000.000.000.000");
    EXPECT_EQ(FormatIPAddress("0.0.0.0"), "000.000.000.000");
    SYSTEMTIME time{2024, 3, 0, 5, 7, 8, 9, 0};
    EXPECT_EQ(FormatReportDate(kv::SystemTimeToDateTime(time)), "2024-03-05 07:08:09");
    EXPECT_EQ(ReplaceControlChars(std::string("a\tb\r\nc\x01", 7)), "a b\r\nc ");
}

struct NotAnException {
    virtual ~NotAnException() = default;
};

TEST(ExceptionTexts, ClassNameAndMessage)
{
    const kv::Exception error(L"Disk full.");
    EXPECT_EQ(GetExceptionClassName(&error), "kv::Exception");
    EXPECT_EQ(GetExceptionMessageText(&error), "Disk full.");
    EXPECT_EQ(GetExceptionClassName(nullptr), "Unknown exception type");
    EXPECT_EQ(GetExceptionMessageText(nullptr), "Unknown error message.");
    const NotAnException other;
    EXPECT_EQ(GetExceptionMessageText(&other), "Unknown error message.");
    const TActiveXException foreign("EOleError\r\nException", "bad call");
    EXPECT_EQ(GetExceptionClassName(&foreign), "EOleError");
    EXPECT_EQ(GetExceptionMessageText(&foreign), "bad call");
}

TEST(ExceptionTexts, AccessViolationInALoadedLibraryNamesItsFile)
{
    EXCEPTION_RECORD record{};
    record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
    record.ExceptionAddress = reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "Sleep"));
    record.NumberParameters = 2;
    record.ExceptionInformation[0] = 1;
    record.ExceptionInformation[1] = 0x10;
    const kv::EAccessViolation error(L"Access violation", record);
    char address[9];
    std::snprintf(address, sizeof address, "%08X", static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(
                                                        record.ExceptionAddress)));
    EXPECT_EQ(GetExceptionMessageText(&error),
              std::string("Access violation at address ") + address + " in module 'kernel32.dll'. Write of address 00000010.");
}

TEST(ExceptionTexts, AccessViolationOutsideAnyModuleNamesNone)
{
    void* block = ::VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    ASSERT_NE(block, nullptr);
    EXCEPTION_RECORD record{};
    record.ExceptionAddress = block;
    record.NumberParameters = 2;
    record.ExceptionInformation[1] = 0xABCDEF01;
    const kv::EAccessViolation error(L"Access violation", record);
    char address[9];
    std::snprintf(address, sizeof address, "%08X", static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(block)));
    EXPECT_EQ(GetExceptionMessageText(&error),
              std::string("Access violation at address ") + address + ". Read of address ABCDEF01.");
    ::VirtualFree(block, 0, MEM_RELEASE);
}

// ---- This machine

TEST(SystemFacts, HeaderOfThisMachineHasEverySection)
{
    const kv::Exception error(L"Live");
    CurrentReport() = TReportState();
    CurrentReport().ExceptionObject = &error;
    CurrentReport().ExceptionAddress = reinterpret_cast<const void*>(&SystemReportFacts);
    BuildLogHeader();
    const std::string& text = CurrentReport().HeaderText;
    for (const char* heading : {"Application:", "Exception:", "User:", "Computer:", "Operating System:"}) {
        EXPECT_NE(text.find(std::string("\r\n") + heading + "\r\n"), std::string::npos) << heading;
    }
    EXPECT_EQ(text.find("Active Controls:"), std::string::npos); // a console program
    EXPECT_NE(text.find(": " + GetComputerNameText() + "\r\n"), std::string::npos);
    EXPECT_NE(text.find(" 6.5 Charset : " + std::to_string(GetDefaultAnsiCharset()) + "\r\n"), std::string::npos);
    EXPECT_NE(text.find(" 2.6 Message       : Live\r\n"), std::string::npos);
    CurrentReport() = TReportState();
}

TEST(SystemFacts, CharsetFollowsTheAnsiCodePage)
{
    CHARSETINFO info{};
    ASSERT_TRUE(::TranslateCharsetInfo(reinterpret_cast<DWORD*>(static_cast<std::uintptr_t>(::GetACP())), &info,
                                       TCI_SRCCODEPAGE));
    EXPECT_EQ(GetDefaultAnsiCharset(), static_cast<int>(info.ciCharset));
}

} // namespace
