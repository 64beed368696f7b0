#include "crashreport/output/EReportFiles.h"

#include <gtest/gtest.h>

#include <string>

#include "common/TestSupport.h"
#include "crashreport/core/ECore.h"
#include "crashreport/core/ESystem.h"
#include "crashreport/output/ELogManager.h"
#include "crashreport/output/EReportState.h"
#include "platform/Format.h"
#include "platform/TextCodec.h"

using namespace kv::crashreport;

namespace {

// Section 2 of a report as the header builder writes it, with or without
// the count item, and a call-stack table.
std::string ExceptionReport(const std::string& id, bool withCount)
{
    TLogItem item(1);
    item.AddHeader("Exception");
    const char* captions[] = {"Date", "Address", "Module Name", "Module Version", "Type", "Message", "ID", "Count"};
    const std::string values[] = {"Mon, 1 Jan 2024 10:00:00 +0000", "00401000", "a.exe", "1.0.0.0", "Exception",
                                  "boom.", id, "1"};
    for (int i = 0; i < 8; ++i) item.AddItem(captions[i], values[i], i < 7 || withCount);
    item.AddHeader("User");
    item.AddItem("ID", "someone", true);
    return "OspreyLog 6.0.23\r\n\r\n" + item.Value() +
           "\r\nCall Stack Information:\r\n------\r\n|Addr|\r\n------\r\n|0001|\r\n------\r\n";
}

class ReportFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = kv::WideToAnsi(kvtest::ScratchFolder(L"reportfiles"));
        options_.SetOutputPath(folder_);
        SetCurrentOspreyLogOptions(&options_);
        CurrentReport() = TReportState();
    }
    void TearDown() override
    {
        CloseLogFile();
        SetCurrentOspreyLogOptions(nullptr);
        CurrentReport() = TReportState();
    }
    std::string LogName() const { return folder_ + "App.elf"; }
    std::string LogBytes() const { return kvtest::ReadBytes(kv::AnsiToWide(LogName())); }
    void WriteLog(const std::string& bytes) const { kvtest::WriteBytes(kv::AnsiToWide(LogName()), bytes); }
    FILETIME LogWriteTime() const
    {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        ::GetFileAttributesExA(LogName().c_str(), GetFileExInfoStandard, &data);
        return data.ftLastWriteTime;
    }
    void Use(std::initializer_list<TCommonSendOption> send)
    {
        options_.SetCommonSendOptions(TCommonSendOptions(send));
    }

    std::string folder_;
    TOspreyModuleOptions options_{"C:\\kvbin\\App.exe"};
};

TEST_F(ReportFiles, SecondIdenticalReportRaisesTheStoredCountInsteadOfBeingStored)
{
    TLogOptions logOptions = options_.LogOptions();
    logOptions.Include(loNoDuplicateErrors);
    options_.SetLogOptions(logOptions);
    const std::string first = ExceptionReport("1A2B3C4D", true);
    WriteLog(first + "\r\n\r\n\r\n");
    CurrentReport().ExceptionID = "1A2B3C4D";

    UpdateDuplicateReportCount(true);
    EXPECT_TRUE(CurrentReport().DuplicateReport);
    EXPECT_EQ(SharedLogFile(), nullptr); // closed again after the check
    const std::string saved = LogBytes();
    TLogFile log(LogName(), true);
    ASSERT_EQ(log.Count(), 1);
    EXPECT_EQ(log.GetItemValue("2.8", 0), "2");
    EXPECT_EQ(log.GetItemValue("2.7", 0), "1A2B3C4D");

    // The checks after each event handler only look.
    const FILETIME written = LogWriteTime();
    ::Sleep(20);
    UpdateDuplicateReportCount(false);
    EXPECT_TRUE(CurrentReport().DuplicateReport);
    EXPECT_EQ(LogBytes(), saved);
    const FILETIME after = LogWriteTime();
    EXPECT_EQ(::CompareFileTime(&written, &after), 0);

    CurrentReport().ExceptionID = "99999999";
    UpdateDuplicateReportCount(true);
    EXPECT_FALSE(CurrentReport().DuplicateReport);
    EXPECT_EQ(LogBytes(), saved);
}

TEST_F(ReportFiles, StoredDuplicateWithoutCountGetsACountOfTwo)
{
    TLogOptions logOptions = options_.LogOptions();
    logOptions.Include(loNoDuplicateErrors);
    options_.SetLogOptions(logOptions);
    WriteLog(ExceptionReport("AAAA0001", false) + "\r\n\r\n\r\n");
    CurrentReport().ExceptionID = "AAAA0001";
    UpdateDuplicateReportCount(true);
    EXPECT_NE(LogBytes().find("  2.7 ID            : AAAA0001\r\n  2.8 Count         : 2\r\n\r\nUser:"),
              std::string::npos);
}

TEST_F(ReportFiles, WithoutTheOptionTheCheckNeverTouchesTheLog)
{
    CurrentReport().ExceptionID = "1A2B3C4D";
    CurrentReport().DuplicateReport = true;
    UpdateDuplicateReportCount(true);
    EXPECT_FALSE(CurrentReport().DuplicateReport);
    EXPECT_FALSE(kvtest::PathExists(kv::AnsiToWide(LogName())));

    const std::string stored = ExceptionReport("1A2B3C4D", true) + "\r\n\r\n\r\n";
    WriteLog(stored);
    UpdateDuplicateReportCount(true);
    EXPECT_FALSE(CurrentReport().DuplicateReport);
    EXPECT_EQ(LogBytes(), stored);
}

TEST_F(ReportFiles, AttachmentNamesCarryTheComputerNameFirstThenTheTime)
{
    SYSTEMTIME time{2024, 3, 0, 5, 7, 8, 9, 0};
    CurrentReport().ExceptionTime = kv::SystemTimeToDateTime(time);
    const std::string computer = GetComputerNameText();
    EXPECT_EQ(DecorateAttachmentName("C:\\x\\Report.elf"), "Report.elf");
    Use({sndAddComputerNameInFileName, sndAddDateInFileName});
    EXPECT_EQ(DecorateAttachmentName("C:\\x\\Report.elf"), "Report__" + computer + "__20240305070809.elf");
    EXPECT_EQ(DecorateAttachmentName("C:\\x\\Report"), "Report__" + computer + "__20240305070809");
    Use({sndAddDateInFileName});
    EXPECT_EQ(DecorateAttachmentName("Shot.png"), "Shot__20240305070809.png");
}

TEST_F(ReportFiles, FileNamesLieInTheTemporaryFolder)
{
    const std::string temp = GetTempPathText();
    Use({sndSendScreenshot, sndSendXMLLogCopy, sndSendLastHTMLPage});
    EXPECT_EQ(GetScreenshotFileName(), temp + "Screenshot.png");
    EXPECT_EQ(GetLogCopyFileName(), temp + "App.elf");
    EXPECT_EQ(GetXMLCopyFileName(), temp + "App.xml");
    EXPECT_EQ(GetZipFileName(), temp + "BugReport.zip");
    EXPECT_EQ(GetLastHTMLPageFileName(), temp + "LastHTMLPage.html");
    EXPECT_EQ(GetProcessDataFileName(),
              temp + kv::Format("%.8X%.8X.bin", {static_cast<std::uint32_t>(::GetCurrentProcessId()),
                                                 static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(
                                                     OwnModuleHandle()))}));
    Use({});
    EXPECT_EQ(GetScreenshotFileName(), "");
    EXPECT_EQ(GetXMLCopyFileName(), "");
    EXPECT_EQ(GetLastHTMLPageFileName(), "");
}

TEST_F(ReportFiles, ChosenScreenshotAndSavedPageOnlyWhenThereIsOne)
{
    Use({sndSendScreenshot, sndSendLastHTMLPage});
    EXPECT_EQ(GetChosenScreenshotFileName(), "");
    CurrentReport().ScreenshotChosen = true;
    EXPECT_EQ(GetChosenScreenshotFileName(), GetScreenshotFileName());
    EXPECT_EQ(GetSavedLastHTMLPageFileName(), "");
    CurrentReport().LastHTMLPageText = "<html>";
    EXPECT_EQ(GetSavedLastHTMLPageFileName(), GetLastHTMLPageFileName());
}

TEST_F(ReportFiles, FilesToSendForEMailLeaveTheLogCopyOutWhenLogsAreAppended)
{
    ::SetEnvironmentVariableA("KV_ATTACH", "C:\\att");
    options_.SetAttachedFiles(" %KV_ATTACH%\\a.txt ; b.txt;");
    Use({sndSendScreenshot, sndSendXMLLogCopy});
    CurrentReport().ScreenshotChosen = true;
    options_.SetAppendLogs(true);
    const std::vector<std::string> mail = CollectFilesToSend(true);
    EXPECT_EQ(mail, (std::vector<std::string>{"C:\\att\\a.txt", "b.txt", GetScreenshotFileName(), GetXMLCopyFileName()}));
    const std::vector<std::string> web = CollectFilesToSend(false);
    EXPECT_EQ(web, (std::vector<std::string>{"C:\\att\\a.txt", "b.txt", GetLogCopyFileName(), GetScreenshotFileName(),
                                             GetXMLCopyFileName()}));
    options_.SetAppendLogs(false);
    EXPECT_EQ(CollectFilesToSend(true), web);
    ::SetEnvironmentVariableA("KV_ATTACH", nullptr);
}

TEST_F(ReportFiles, LastHTMLPageIsWrittenLineByLineWhenThereIsOne)
{
    Use({sndSendLastHTMLPage});
    const std::string page = GetLastHTMLPageFileName();
    ::DeleteFileA(page.c_str());
    SaveLastHTMLPage("<html>\n<body>");
    EXPECT_EQ(ReadTextFile(page), ""); // no page was recorded
    CurrentReport().LastHTMLPageText = "<html>";
    SaveLastHTMLPage("<html>\n<body>");
    EXPECT_EQ(ReadTextFile(page), "<html>\r\n<body>\r\n");
    ::DeleteFileA(page.c_str());
}

TEST_F(ReportFiles, ReadTextFileGivesEmptyTextWhenThereIsNothingToRead)
{
    EXPECT_EQ(ReadTextFile(""), "");
    EXPECT_EQ(ReadTextFile(folder_ + "missing.html"), "");
    kvtest::WriteBytes(kv::AnsiToWide(folder_ + "page.html"), std::string("a\0b", 3));
    EXPECT_EQ(ReadTextFile(folder_ + "page.html"), std::string("a\0b", 3));
}

TEST_F(ReportFiles, OpenLogFileFollowsTheExpandedName)
{
    OpenLogFile();
    TLogFile* first = SharedLogFile();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->FileName(), LogName());
    OpenLogFile();
    EXPECT_EQ(SharedLogFile(), first);
    options_.SetOutputPath(folder_ + "Other.elf");
    OpenLogFile();
    ASSERT_NE(SharedLogFile(), nullptr);
    EXPECT_EQ(SharedLogFile()->FileName(), folder_ + "Other.elf");
    CloseLogFile();
    EXPECT_EQ(SharedLogFile(), nullptr);
}

} // namespace
