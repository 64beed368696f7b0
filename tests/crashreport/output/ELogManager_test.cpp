#include "crashreport/output/ELogManager.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "common/TestSupport.h"
#include "platform/TextCodec.h"

using kv::crashreport::HasLoneLineBreaks;
using kv::crashreport::NormalizeLineBreaks;
using kv::crashreport::TLogFile;
using kv::crashreport::TLogItem;

namespace {

// ---- TLogItem

TEST(TLogItem, AlignsValuesAndDrawsTheRuleAsLongAsTheLongestItem)
{
    TLogItem item(0);
    item.AddHeader("Application");
    item.AddItem("Start Date", "Mon, 1 Jan 2024 10:00:00 +0000", true);
    item.AddItem("Name/Description", "app.exe", true);
    EXPECT_EQ(item.Value(),
              "Application:\r\n" + std::string(54, '-') + "\r\n"
              "  1.1 Start Date      : Mon, 1 Jan 2024 10:00:00 +0000\r\n"
              "  1.2 Name/Description: app.exe\r\n");
}

TEST(TLogItem, HiddenItemsKeepTheirNumbersAndEmptySectionsDisappear)
{
    TLogItem item(0);
    item.AddHeader("A");
    item.AddItem("x", "1", true);
    item.AddItem("hidden", "2", false);
    item.AddItem("y", "3", true);
    item.AddHeader("B"); // every item hidden
    item.AddItem("z", "4", false);
    item.AddHeader("C");
    item.AddItem("w", "5", true);
    item.AddHeader("D"); // no item at all, last
    EXPECT_EQ(item.Value(),
              "A:\r\n----------\r\n  1.1 x: 1\r\n  1.3 y: 3\r\n"
              "\r\n"
              "C:\r\n----------\r\n  3.1 w: 5\r\n"
              "\r\n"); // the empty line that led to the dropped last section stays
}

TEST(TLogItem, MultiLineValuesAreIndentedUnderTheFirstCharacterOfTheValue)
{
    TLogItem item(4);
    item.AddHeader("S");
    item.AddItem("Key", "first: a\rsecond\n\r\n  \r\nlast", true);
    item.AddItem("Longer key", "v", true);
    const std::string indent(18, ' ');
    EXPECT_EQ(item.Value(), "S:\r\n" + std::string(26, '-') +
                                "\r\n"
                                "  5.1 Key       : first:_a\r\n" +
                                indent + "second\r\n" + indent + ".\r\n" + indent + ".\r\n" + indent +
                                "last\r\n"
                                "  5.2 Longer key: v\r\n");
}

TEST(TLogItem, ContinuationLineEndingInAColonIsNoSectionHeader)
{
    TLogItem item(0);
    item.AddHeader("Custom");
    item.AddItem("", "Steps:\r\nExpected:\r\nActual: crash", true);
    EXPECT_EQ(item.Value(),
              "Custom:\r\n" + std::string(21, '-') + "\r\n"
              "  1.1 : Steps:\r\n"
              "        Expected:\r\n"
              "        Actual:_crash\r\n");
}

TEST(TLogItem, OnlyHeadersGiveNoText)
{
    TLogItem item(0);
    item.AddHeader("A");
    item.AddHeader("B");
    EXPECT_EQ(item.Value(), "");
}

TEST(TLogItem, ClearStartsAgainWithTheSameFirstNumber)
{
    TLogItem item(7);
    item.AddHeader("A");
    item.AddItem("x", "1", true);
    item.Clear();
    item.AddHeader("B");
    item.AddItem("y", "2", true);
    EXPECT_EQ(item.Value(), "B:\r\n----------\r\n  8.1 y: 2\r\n");
}

TEST(LineBreaks, LoneBreaksBecomeCRLF)
{
    EXPECT_FALSE(HasLoneLineBreaks("a\r\nb"));
    EXPECT_TRUE(HasLoneLineBreaks("\na"));
    EXPECT_TRUE(HasLoneLineBreaks("a\r"));
    EXPECT_EQ(NormalizeLineBreaks("\na\rb\r\nc\n\r"), "\r\na\r\nb\r\nc\r\n\r\n");
    EXPECT_EQ(NormalizeLineBreaks("a\r\n"), "a\r\n");
}

// ---- TLogFile

// A report as the report builder lays it out: sections, then a table.
std::string MakeReport(const std::string& id, const std::string& count = "1", const std::string& extra = "")
{
    TLogItem item(1);
    item.AddHeader("Exception");
    item.AddItem("Date", "Mon, 1 Jan 2024 10:00:00 +0000", true);
    item.AddItem("ID", id, true);
    item.AddItem("Count", count, !count.empty());
    if (!extra.empty()) item.AddItem("Note", extra, true);
    item.AddHeader("User");
    item.AddItem("ID", "someone", true);
    return "OspreyLog 6.0.23\r\n\r\n" + item.Value() +
           "\r\nCall Stack Information:\r\n--------------\r\n|Address |Module|\r\n--------------\r\n"
           "|00401000|a.exe |\r\n--------------\r\n";
}

std::string LogFromReports(std::initializer_list<std::string> reports)
{
    std::string text;
    for (const std::string& report : reports) text += report + "\r\n\r\n\r\n\r\n";
    return text.substr(0, text.size() - 2);
}

struct LogFileCase {
    const char* name;
    std::function<void(const std::string& fileName)> check;
};

std::string ToLF(std::string text)
{
    std::string result;
    for (char c : text)
        if (c != '\r') result += c;
    return result;
}

void WriteLogBytes(const std::string& name, const std::string& bytes) { kvtest::WriteBytes(kv::AnsiToWide(name), bytes); }
std::string ReadLogBytes(const std::string& name) { return kvtest::ReadBytes(kv::AnsiToWide(name)); }

const LogFileCase LogFileCases[] = {
    {"LfOnlyFileLoadsLikeItsCrLfForm",
     [](const std::string& file) {
         const std::string crlf = LogFromReports({MakeReport("AA"), MakeReport("BB")});
         WriteLogBytes(file, ToLF(crlf));
         TLogFile lf(file, true);
         WriteLogBytes(file + ".crlf", crlf);
         TLogFile reference(file + ".crlf", true);
         ASSERT_EQ(lf.Count(), 2);
         ASSERT_EQ(reference.Count(), 2);
         EXPECT_EQ(lf.Text(), reference.Text());
         EXPECT_EQ(lf.GetItemValue("2.2", 1), "BB");
     }},
    {"LastReportWithoutSeparatorIsKept",
     [](const std::string& file) {
         WriteLogBytes(file, MakeReport("AA") + "\r\n\r\n\r\n\r\n" + MakeReport("BB"));
         TLogFile log(file, true);
         ASSERT_EQ(log.Count(), 2);
         EXPECT_EQ(log.GetItemValue("2.2", 1), "BB");
     }},
    {"ChunkWithoutTableRowIsDropped",
     [](const std::string& file) {
         WriteLogBytes(file, LogFromReports({"just some text\r\n-\r\nno table\r\n", MakeReport("AA")}));
         TLogFile log(file, false);
         ASSERT_EQ(log.Count(), 1);
         EXPECT_EQ(log.GetItemValue("2.2", 0), "AA");
         log.Save();
         EXPECT_EQ(ReadLogBytes(file).find("just some text"), std::string::npos);
     }},
    {"FileShorterThanEightBytesLoadsNothing",
     [](const std::string& file) {
         WriteLogBytes(file, "-\r\n|ab");
         EXPECT_EQ(TLogFile(file, true).Count(), 0);
     }},
    {"AppendWithMaxNum3To5KeepsTheTwoNewestAndTheNewOne",
     [](const std::string& file) {
         WriteLogBytes(file, LogFromReports({MakeReport("R1"), MakeReport("R2"), MakeReport("R3"), MakeReport("R4"),
                                         MakeReport("R5")}));
         TLogFile log(file, false);
         ASSERT_EQ(log.Count(), 5);
         log.Append(MakeReport("R6"), 3);
         ASSERT_EQ(log.Count(), 3);
         EXPECT_EQ(log.GetItemValue("2.2", 0), "R4");
         EXPECT_EQ(log.GetItemValue("2.2", 1), "R5");
         EXPECT_EQ(log.GetItemValue("2.2", 2), "R6");
         log.Save();
         TLogFile again(file, true);
         ASSERT_EQ(again.Count(), 3);
         EXPECT_EQ(again.GetItemValue("2.2", 2), "R6");
     }},
    {"AppendWithMaxNumMinus1NeverDeletes",
     [](const std::string& file) {
         TLogFile log(file, false);
         for (int i = 0; i < 7; ++i) log.Append(MakeReport("R" + std::to_string(i)), -1);
         EXPECT_EQ(log.Count(), 7);
     }},
    {"AppendWithMaxNum0OrLessKeepsOnlyTheNewReport",
     [](const std::string& file) {
         TLogFile log(file, false);
         log.Append(MakeReport("R1"), 0); // an empty log: nothing to delete
         ASSERT_EQ(log.Count(), 1);
         log.Append(MakeReport("R2"), -1);
         log.Append(MakeReport("R3"), 0);
         ASSERT_EQ(log.Count(), 1);
         EXPECT_EQ(log.GetItemValue("2.2", 0), "R3");
         log.Append(MakeReport("R4"), -7);
         ASSERT_EQ(log.Count(), 1);
         EXPECT_EQ(log.GetItemValue("2.2", 0), "R4");
     }},
    {"SavedReportsAreSeparatedByFourEmptyLinesAndReloadUnchanged",
     [](const std::string& file) {
         {
             TLogFile log(file, false);
             log.Append(MakeReport("R1"), -1);
             log.Append(MakeReport("R2"), -1);
             log.Save();
         }
         EXPECT_EQ(ReadLogBytes(file), MakeReport("R1") + "\r\n\r\n\r\n\r\n" + MakeReport("R2") + "\r\n\r\n\r\n");
         TLogFile reloaded(file, false);
         ASSERT_EQ(reloaded.Count(), 2);
         const std::string text = reloaded.Text();
         reloaded.Save();
         TLogFile again(file, true);
         EXPECT_EQ(again.Text(), text);
     }},
    {"SavingAnEmptyListTruncatesTheFile",
     [](const std::string& file) {
         WriteLogBytes(file, LogFromReports({MakeReport("R1")}));
         TLogFile log(file, false);
         log.Clear();
         log.Save();
         EXPECT_EQ(ReadLogBytes(file), "");
     }},
    {"ItemNumberNeverMatchesALongerNumber",
     [](const std::string& file) {
         TLogItem item(1);
         item.AddHeader("Exception");
         for (int i = 1; i <= 70; ++i) item.AddItem("N" + std::to_string(i), std::to_string(i), i == 70);
         WriteLogBytes(file, LogFromReports({item.Value() + "|a|\r\n-\r\n|b|\r\n"}));
         TLogFile log(file, false);
         ASSERT_EQ(log.Count(), 1);
         EXPECT_EQ(log.GetItemValue("2.70", 0), "70");
         EXPECT_EQ(log.GetItemValue("2.7", 0), "");
         EXPECT_EQ(log.FindItem({"2.7"}, {"70"}), -1);
         log.SetItemValue("2.7", "seven", "Seven", 0); // no item 2.1 to 2.19 to stand behind
         EXPECT_EQ(log.GetItemValue("2.7", 0), "");
         EXPECT_EQ(log.GetItemValue("2.70", 0), "70");
     }},
    {"FindItemReturnsTheLastMatchingReport",
     [](const std::string& file) {
         WriteLogBytes(file, LogFromReports({MakeReport("AA"), MakeReport("BB"), MakeReport("AA"), MakeReport("CC")}));
         TLogFile log(file, true);
         EXPECT_EQ(log.FindItem({"2.2"}, {"AA"}), 2);
         EXPECT_EQ(log.FindItem({"2.2", "3.1"}, {"none", "someone"}), 3);
         EXPECT_EQ(log.FindItem({"2.2"}, {"A"}), -1);   // a shorter wanted value
         EXPECT_EQ(log.FindItem({"2.2"}, {"AAA"}), -1); // a longer wanted value
         EXPECT_EQ(log.FindItem({"9.9"}, {"AA"}), -1);
     }},
    {"MissingCountIsInsertedAlignedAsTheSectionsLastItem",
     [](const std::string& file) {
         WriteLogBytes(file, LogFromReports({MakeReport("AA", "")}));
         TLogFile log(file, false);
         ASSERT_EQ(log.Count(), 1);
         EXPECT_EQ(log.GetItemValue("2.3", 0), "");
         log.SetItemValue("2.3", "2", "Count", 0);
         EXPECT_EQ(log.GetItemValue("2.3", 0), "2");
         EXPECT_NE(log.Items(0).find("  2.2 ID  : AA\r\n  2.3 Count: 2\r\n\r\nUser:"), std::string::npos);
         EXPECT_EQ(log.GetItemValue("3.1", 0), "someone");
     }},
    {"ExistingItemValueIsReplaced",
     [](const std::string& file) {
         WriteLogBytes(file, LogFromReports({MakeReport("AA", "1")}));
         TLogFile log(file, false);
         log.SetItemValue("2.3", "12", "Count", 0);
         EXPECT_EQ(log.GetItemValue("2.3", 0), "12");
         EXPECT_NE(log.Items(0).find("  2.3 Count: 12\r\n\r\nUser:"), std::string::npos);
         log.SetItemValue("2.3", "13", "Count", 5); // no such report: nothing happens
         EXPECT_EQ(log.GetItemValue("2.3", 0), "12");
     }},
    {"MultiLineValueReadsBackAsItWasGiven",
     [](const std::string& file) {
         const std::string value = "line one: a\r\n\r\nEnds with a dot.\r\n.NET\r\nlast";
         WriteLogBytes(file, LogFromReports({MakeReport("AA", "1", value)}));
         TLogFile log(file, false);
         EXPECT_EQ(log.GetItemValue("2.4", 0), "line one: a\r\n \r\nEnds with a dot.\r\n.NET\r\nlast");
         EXPECT_EQ(log.GetItemValue("3.1", 0), "someone");
         EXPECT_EQ(log.FindItem({"2.4"}, {value}), 0);
     }},
};

class TLogFileCases : public ::testing::TestWithParam<LogFileCase> {};

TEST_P(TLogFileCases, Behaves)
{
    const std::wstring folder = kvtest::ScratchFolder(L"logfile");
    GetParam().check(kv::WideToAnsi(folder) + "Report.elf");
    kvtest::RemoveScratchTree(folder);
}

INSTANTIATE_TEST_SUITE_P(Cases, TLogFileCases, ::testing::ValuesIn(LogFileCases),
                         [](const ::testing::TestParamInfo<LogFileCase>& info) { return info.param.name; });

TEST(TLogFile, OtherProcessesMayReadTheOpenFile)
{
    const std::wstring folder = kvtest::ScratchFolder(L"logshare");
    const std::string file = kv::WideToAnsi(folder) + "Report.elf";
    TLogFile log(file, false);
    log.Append(MakeReport("AA"), -1);
    log.Save();
    EXPECT_EQ(kvtest::ReadBytes(folder + L"Report.elf").substr(0, 16), "OspreyLog 6.0.23");
}

} // namespace
