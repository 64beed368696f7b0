#include "crashreport/output/ELogText.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "FixedReportFacts.h"
#include "common/TestSupport.h"
#include "crashreport/core/ECore.h"
#include "crashreport/output/ELogManager.h"
#include "platform/TextCodec.h"

using namespace kv::crashreport;
using kvtest::Date;
using kvtest::FixedReportFacts;

namespace {

// ---- A small model of the tables, written from the layout rules

std::string Row(const std::vector<std::string>& cells, const std::vector<std::size_t>& widths)
{
    std::string row;
    for (std::size_t i = 0; i < widths.size(); ++i) row += "|" + cells[i] + std::string(widths[i] - cells[i].size(), ' ');
    return row + "|\r\n";
}

std::string Dashes(std::size_t count) { return std::string(count, '-'); }

// Fixed addresses: the golden report prints them.
constexpr std::uintptr_t FixedPage = 0x3F000000;
constexpr std::uintptr_t StackAt = FixedPage;
constexpr std::uintptr_t CodeAt = FixedPage + 0x100;

TThreadCaptionFacts FixedThreads(std::uint32_t threadId)
{
    if (threadId == 100) return {"0", "", true};
    if (threadId == 200) return {"2", "TScanThread", false};
    return {};
}

std::string FixedListing(const void*, std::string& heading)
{
    heading = "Assembler Information:\r\n" + Dashes(40);
    return "3F000100  mov eax, [eax]  ; <-- EXCEPTION\r\n";
}

std::string EmptyListing(const void*, std::string&) { return {}; }

class ReportText : public ::testing::Test {
protected:
    void SetUp() override
    {
        page_ = static_cast<std::uint8_t*>(::VirtualAlloc(reinterpret_cast<void*>(FixedPage), 4096,
                                                          MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        if (page_ == nullptr) GTEST_SKIP() << "the fixed page is taken in this process";
        for (int i = 0; i < 16; ++i) {
            const std::uint32_t value = 0xA0000000u + i;
            std::memcpy(page_ + 4 * i, &value, 4);
        }
        for (int i = 0; i < 256; ++i) page_[0x100 + i] = static_cast<std::uint8_t>(i);

        kvtest::FillFixedReportState(error_);
        TReportState& report = CurrentReport();
        report.ExceptionAddress = reinterpret_cast<const void*>(CodeAt);
        report.StackPoint = reinterpret_cast<const void*>(StackAt);
        context_.Eax = 0x11111111;
        context_.Edi = 0x22222222;
        context_.Ebx = 0x33333333;
        context_.Esi = 0x44444444;
        context_.Ecx = 0x55555555;
        context_.Esp = StackAt;
        context_.Edx = 0x66666666;
        context_.Eip = CodeAt;
        report.Context = &context_;

        auto* exe = modules_.Add(std::make_unique<TOspreyModuleInfo>());
        exe->Handle = reinterpret_cast<HMODULE>(0x00400000);
        exe->Name = "C:\\Kv\\Kestrelvane.exe";
        exe->Description = "Junk | cleaner";
        exe->Version = "1.2.3.4";
        exe->Size = 1234567;
        exe->LastModified = Date(2024, 2, 1, 9, 30, 0);
        auto* kernel = modules_.Add(std::make_unique<TOspreyModuleInfo>());
        kernel->Handle = reinterpret_cast<HMODULE>(0x7C800000);
        kernel->Name = "C:\\windows\\system32\\kernel32.dll";
        kernel->Description = "Windows\r\nkernel";
        kernel->Version = "6.1.7601.17514";
        kernel->Size = 100;
        kernel->LastModified = Date(2010, 11, 20, 12, 0, 0);

        AddEntry(100, true, true, ddSourceCode, exe, 0x00401A2B, "Main.cpp", "TForm", "Click", 42, 3);
        AddEntry(100, true, false, ddProcedure, kernel, 0x7C801234, "", "", "Sleep", 0, 0);
        AddEntry(100, true, false, ddNone, nullptr, 0x00000010, "", "", "", 0, 0);
        AddEntry(200, true, false, ddUnitAndProcedure, exe, 0x00402000, "Worker.cpp", "TScanThread", "Execute", 0, 0);
        AddEntry(200, false, false, ddSourceCode, exe, 0x00403000, "Threads.cpp", "", "StartScan", 7, 0)->CustomMsg =
            "created here";

        auto* system = processes_.Add(std::make_unique<TOspreyProcessInfo>());
        system->ProcessID = 4;
        system->Name = "System";
        auto* program = processes_.Add(std::make_unique<TOspreyProcessInfo>());
        *program = TOspreyProcessInfo{1234, "C:\\Kv\\Kestrelvane.exe", "Junk cleaner", "1.2.3.4", 32, 5000000, 7};

        SetCurrentOspreyLogOptions(&options_);
        SetThreadCaptionFactsProvider(FixedThreads);
        SetAssemblerSectionBuilder(FixedListing);
    }
    void TearDown() override
    {
        SetAssemblerSectionBuilder(nullptr);
        SetThreadCaptionFactsProvider(nullptr);
        SetCurrentOspreyLogOptions(nullptr);
        CurrentReport() = TReportState();
        if (page_ != nullptr) ::VirtualFree(page_, 0, MEM_RELEASE);
    }

    TOspreyDebugInfo* AddEntry(std::uint32_t thread, bool running, bool errorLine, TOspreyDebugDetail detail,
                               TOspreyModuleInfo* module, std::uint32_t address, const char* unit, const char* klass,
                               const char* procedure, std::uint32_t line, std::uint32_t offset)
    {
        auto entry = std::make_unique<TOspreyDebugInfo>();
        entry->ThreadID = thread;
        entry->RunningThread = running;
        entry->ErrorLine = errorLine;
        entry->DebugDetail = detail;
        entry->ModuleInfo = module;
        entry->Addr = address;
        entry->UnitName = unit;
        entry->ClassName = klass;
        entry->ProcedureName = procedure;
        entry->Line = line;
        entry->ProcOffsetLine = offset;
        return stack_.Add(std::move(entry));
    }

    std::string Build()
    {
        BuildLogText(facts_, {&stack_, &modules_, &processes_});
        return CurrentReport().LogText;
    }

    std::uint8_t* page_ = nullptr;
    kv::Exception error_{L"Disk full"};
    CONTEXT context_{};
    FixedReportFacts facts_;
    TOspreyModuleOptions options_{""};
    TOspreyStackList stack_;
    TOspreyModulesList modules_;
    TOspreyProcessesList processes_;
};

std::string ExpectedCallStack()
{
    const std::vector<std::size_t> widths = {8, 15, 11, 11, 16, 5};
    const std::vector<std::size_t> whole = {71};
    const std::string separator = Row({Dashes(71)}, whole);
    return "Call Stack Information:\r\n" + Dashes(73) + "\r\n" +
           Row({"Address", "Module", "Unit", "Class", "Procedure/Method", "Line"}, widths) + Dashes(73) + "\r\n" +
           Row({"*Exception Thread: ID=100; Priority=0; Class=; [Main]"}, whole) + separator +
           Row({"00401A2B", "Kestrelvane.exe", "Main.cpp", "TForm", "Click", "42[3]"}, widths) +
           Row({"7C801234", "kernel32.dll", "", "", "Sleep", ""}, widths) + separator + Row({""}, whole) +
           Row({"Running Thread: ID=200; Priority=2; Class=TScanThread"}, whole) + separator +
           Row({"00402000", "Kestrelvane.exe", "Worker.cpp", "TScanThread", "Execute", ""}, widths) + separator +
           Row({"Calling Thread: ID=200; Priority=2; Class=TScanThread (created here)"}, whole) + separator +
           Row({"00403000", "Kestrelvane.exe", "Threads.cpp", "", "StartScan", "7[0]"}, widths) + Dashes(73) +
           "\r\n\r\n";
}

std::string ExpectedModules()
{
    const std::vector<std::size_t> widths = {8, 15, 15, 14, 7, 19, 19};
    return "Modules Information:\r\n" + Dashes(105) + "\r\n" +
           Row({"Handle", "Name", "Description", "Version", "Size", "Modified", "Path"}, widths) + Dashes(105) +
           "\r\n" +
           Row({"00400000", "Kestrelvane.exe", "Junk ? cleaner", "1.2.3.4", "1234567", "2024-02-01 09:30:00", "C:\\Kv"},
               widths) +
           Row({"7C800000", "kernel32.dll", "Windows??kernel", "6.1.7601.17514", "100", "2010-11-20 12:00:00",
                "C:\\windows\\system32"},
               widths) +
           Dashes(105) + "\r\n\r\n";
}

std::string ExpectedProcesses()
{
    const std::vector<std::size_t> widths = {4, 15, 12, 7, 7, 8, 7, 5};
    return "Processes Information:\r\n" + Dashes(74) + "\r\n" +
           Row({"ID", "Name", "Description", "Version", "Memory", "Priority", "Threads", "Path"}, widths) +
           Dashes(74) + "\r\n" + Row({"4", "System", "", "", "0", "", "??", ""}, widths) +
           Row({"1234", "Kestrelvane.exe", "Junk cleaner", "1.2.3.4", "5000000", "Normal", "7", "C:\\Kv"}, widths) +
           Dashes(74) + "\r\n\r\n";
}

std::string ExpectedMemoryDump()
{
    std::string dump;
    for (int line = 0; line < 16; ++line) {
        char text[64];
        std::snprintf(text, sizeof text, "%08X: %08X   %08X: ", static_cast<unsigned>(StackAt + 4 * line),
                      0xA0000000u + line, static_cast<unsigned>(CodeAt + 16 * line));
        dump += text;
        std::string characters;
        for (int i = 0; i < 16; ++i) {
            const int byte = 16 * line + i;
            std::snprintf(text, sizeof text, "%02X ", byte);
            dump += text;
            characters += (byte < 32 || byte > 126) ? '.' : static_cast<char>(byte);
        }
        dump += " " + characters + "\r\n";
    }
    return dump;
}

std::string ExpectedCPU(const std::string& registers, const std::string& dump)
{
    return "Registers:\r\n" + Dashes(29) + "\r\n" + registers + "\r\n" + "Stack:" + std::string(15, ' ') +
           "Memory Dump:\r\n" + Dashes(18) + "   " + Dashes(75) + "\r\n" + dump;
}

const std::string FixedRegisters = "EAX: 11111111   EDI: 22222222\r\n"
                                   "EBX: 33333333   ESI: 44444444\r\n"
                                   "ECX: 55555555   ESP: 3F000000\r\n"
                                   "EDX: 66666666   EIP: 3F000100\r\n";

std::string ExpectedHeader()
{
    std::string header = kvtest::FixedHeaderText();
    header.replace(header.find("00401A2B"), 8, "3F000100");
    return header;
}

TEST_F(ReportText, WholeReportFromFixedFacts)
{
    const std::string expected = ExpectedHeader() + "\r\n" + ExpectedCallStack() + ExpectedModules() +
                                 ExpectedProcesses() + "Assembler Information:\r\n" + Dashes(40) + "\r\n" +
                                 "3F000100  mov eax, [eax]  ; <-- EXCEPTION\r\n" + "\r\n" +
                                 ExpectedCPU(FixedRegisters, ExpectedMemoryDump());
    EXPECT_EQ(Build(), expected);
    const TReportState& report = CurrentReport();
    EXPECT_EQ(report.EntireLogText, report.LogText);
    EXPECT_EQ(report.CallStackText, ExpectedCallStack() + ExpectedModules() + ExpectedProcesses());
    EXPECT_EQ(report.DialogErrorText,
              "An error has occurred during program execution.\r\nPlease read the following information for further "
              "details.\r\n\r\n");
    EXPECT_EQ(report.LogText.find("\r\n\r\n\r\n\r\n"), std::string::npos);
}

TEST_F(ReportText, WithoutTheOptionsOnlyTheHeadingsStay)
{
    options_.SetLogOptions({});
    const std::string text = Build();
    EXPECT_EQ(text, ExpectedHeader() + "\r\n" + ExpectedCallStack() + "Modules Information:\r\n" + Dashes(20) +
                        "\r\n\r\nProcesses Information:\r\n" + Dashes(22) + "\r\n\r\n" +
                        "Assembler Information:\r\n" + Dashes(22) + "\r\n\r\nRegisters:\r\n" + Dashes(10) +
                        "\r\n\r\n");
}

TEST_F(ReportText, UnreadableAddressGivesTheBareAssemblerHeadingAndTheReportSurvivesTheLog)
{
    SetAssemblerSectionBuilder(EmptyListing);
    CurrentReport().Context = nullptr;
    CurrentReport().StackPoint = nullptr;
    const std::string text = Build();
    const std::string tail = ExpectedProcesses() + "Assembler Information:\r\n" + Dashes(22) + "\r\n\r\n" +
                             ExpectedCPU("EAX: ????       EDI: ????    \r\n"
                                         "EBX: ????       ESI: ????    \r\n"
                                         "ECX: ????       ESP: ????    \r\n"
                                         "EDX: ????       EIP: ????    \r\n",
                                         "");
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
    EXPECT_EQ(text.find("\r\n\r\n\r\n\r\n"), std::string::npos);

    // Stored and read back, the report keeps its CPU part.
    const std::string file = kv::WideToAnsi(kvtest::ScratchFolder(L"reporttext")) + "Report.elf";
    {
        TLogFile log(file, false);
        log.Append(text, -1);
        log.Append(text, -1);
        log.Save();
    }
    TLogFile log(file, true);
    ASSERT_EQ(log.Count(), 2);
    EXPECT_NE(log.Items(1).find("EDX: ????       EIP: ????    \r\n"), std::string::npos);
    EXPECT_EQ(log.GetItemValue("2.7", 1), "0BADF00D");
}

TEST_F(ReportText, LongHandleCaptionWidensTheColumnWithLeadingZeros)
{
    options_.SetCustomizedTexts(mtModules_Handle, "Module handle value");
    Build();
    EXPECT_NE(CurrentReport().CallStackText.find("\r\n|0000000000000400000|Kestrelvane.exe|"), std::string::npos);
}

TEST_F(ReportText, ThreadCaptionWiderThanTheTableIsCutToIt)
{
    stack_.Items(0)->CustomMsg = std::string(300, 'x');
    Build();
    const std::string& text = CurrentReport().CallStackText;
    const std::size_t row = text.find("|*Exception Thread:");
    ASSERT_NE(row, std::string::npos);
    EXPECT_EQ(text.find("\r\n", row) - row, 73u);
    EXPECT_EQ(text.substr(text.find("\r\n", row) - 2, 2), "x|");
}

TEST_F(ReportText, WithoutACallStackTheTableIsEmpty)
{
    BuildLogText(facts_, {nullptr, &modules_, &processes_});
    const std::string rule = Dashes(8 + 6 + 4 + 5 + 16 + 4 + 7);
    EXPECT_EQ(CurrentReport().CallStackText.substr(0, CurrentReport().CallStackText.find("Modules")),
              "Call Stack Information:\r\n" + rule + "\r\n" +
                  Row({"Address", "Module", "Unit", "Class", "Procedure/Method", "Line"}, {8, 6, 4, 5, 16, 4}) +
                  rule + "\r\n" + rule + "\r\n\r\n");
}

TEST_F(ReportText, EntriesOfHiddenDetailsAreLeftOut)
{
    options_.SetCallStackOptions({});
    Build();
    const std::string& text = CurrentReport().CallStackText;
    EXPECT_EQ(text.find("Sleep"), std::string::npos);   // a library's procedure
    EXPECT_EQ(text.find("Execute"), std::string::npos); // unit and procedure without a line
    EXPECT_NE(text.find("Click"), std::string::npos);
    EXPECT_NE(text.find("StartScan"), std::string::npos);
}

TEST(ReportPieces, LeakCaptionsAndCells)
{
    TOspreyDebugInfo leak;
    leak.IsALeak = true;
    leak.LeakType = "Data";
    leak.LeakSize = 64;
    leak.LeakCount = 2;
    EXPECT_EQ(FormatThreadsInfo(leak, true), "+Memory Leak: Type=Data; Total size=64; Count=2");
    leak.LeakType = "kv::Node";
    EXPECT_EQ(FormatThreadsInfo(leak, false), "Memory Leak: Type=kv::Node; Total size=64; Count=2");

    TOspreyDebugInfo unknown;
    unknown.ThreadID = 0x80000001; // shown as 0 when negative
    unknown.RunningThread = true;
    EXPECT_EQ(FormatThreadsInfo(unknown, false), "Running Thread: ID=0; Priority=??");
    unknown.ErrorLine = true;
    EXPECT_EQ(FormatThreadsInfo(unknown, false), "Exception Thread: ID=0; Priority=??");

    EXPECT_EQ(SanitizeCellText("a|b\r\nc"), "a?b??c");
    EXPECT_EQ(FormatSectionHeading("Abc"), "Abc:\r\n----\r\n\r\n");
    EXPECT_EQ(FormatMemoryDump(nullptr, nullptr), "");
}

} // namespace
