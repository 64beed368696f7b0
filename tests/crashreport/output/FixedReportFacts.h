#pragma once
// A machine that never changes, for golden reports: every fact the header
// asks for, the recorded values of one exception, and the header text they
// give, written out by hand.
#include <string>

#include "crashreport/output/ELogHeader.h"
#include "crashreport/output/EReportState.h"
#include "platform/DateTime.h"
#include "platform/Exceptions.h"

namespace kvtest {

using namespace kv::crashreport;

inline kv::TDateTime Date(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second)
{
    SYSTEMTIME time{year, month, 0, day, hour, minute, second, 0};
    return kv::SystemTimeToDateTime(time);
}

class FixedReportFacts : public TReportFacts {
public:
    bool showsActiveControls = true;
    std::optional<std::vector<TAdapterFacts>> adapters = std::vector<TAdapterFacts>{
        {"192.168.1.20", "255.255.255.0", "192.168.1.1", {"8.8.8.8"}, true, true},
        {"10.0.0.5", "255.0.0.0", "", {"1.1.1.1", "9.9.9.9"}, false, false},
    };

    std::string ApplicationName() override { return "Kestrelvane.exe - (Junk cleaner)"; }
    std::string AppVersion() override { return "1.2.3.4"; }
    std::string CommandLine() override { return "\"C:\\Program Files\\Kv\\Kestrelvane.exe\"  /job \"a b.job\" "; }
    kv::TDateTime CompilationDate() override { return Date(2024, 3, 1, 8, 0, 0); }
    int UTCOffsetMinutes() override { return 120; }
    std::string ModuleTextOf(const void*) override { return "Kestrelvane.exe - (Junk cleaner)"; }
    std::string ModuleVersionOf(const void*) override { return "1.2.3.4"; }
    std::string UserName() override { return "tester"; }
    std::string RegisteredOwner() override { return "Test Owner"; }
    std::string RegisteredCompany() override { return "Example Co"; }
    std::vector<TPrivilegeFacts> Privileges() override
    {
        return {{"SeShutdownPrivilege", false}, {"SeChangeNotifyPrivilege", true}};
    }
    bool ShowsActiveControls() override { return showsActiveControls; }
    std::string ForegroundWindowClass() override { return "TMainForm"; }
    std::string ForegroundWindowText() override { return "Kestrelvane\t-\r\nscan"; }
    std::string ComputerName() override { return "PC1"; }
    std::uint64_t TotalMemory() override { return 8589934592ull; }
    std::uint64_t AvailableMemory() override { return 1610612736ull + 600000; }
    std::uint64_t TotalDisk() override { return 536870912000ull; }
    std::uint64_t FreeDisk() override { return 1610612736ull; }
    std::uint64_t TickCount() override { return 90061000; }
    std::string Processor() override { return "Test CPU @ 3.00GHz"; }
    TDisplayFacts Display() override { return {1024, 768, 32, 96}; }
    std::string VideoCard() override { return "Test Video (driver 1.0 - RAM 256 MB)"; }
    std::string Printer() override { return ""; }
    std::string OSDescription() override { return "Microsoft Windows 7"; }
    std::string OSBuild() override { return "7601"; }
    std::string ServicePack() override { return " Service Pack 1 "; }
    std::string LanguageName() override { return "English"; }
    int Charset() override { return 0; }
    std::optional<std::vector<TAdapterFacts>> NetworkAdapters() override { return adapters; }
};

inline void FillFixedReportState(const kv::Exception& error)
{
    TReportState& report = CurrentReport();
    report = TReportState();
    report.StartTime = Date(2024, 3, 5, 0, 0, 0);
    report.ExceptionTime = Date(2024, 3, 6, 12, 0, 0);
    report.ExceptionID = "0BADF00D";
    report.ActiveControlClass = "TButton";
    report.ActiveControlText = "Scan\x01now";
    report.UserEmail = "t@example.org";
    report.ExceptionObject = &error;
    report.ExceptionAddress = reinterpret_cast<const void*>(0x00401A2B);
}

// "  N.M Caption" padded to the section's column, ": " and the value, CR LF.
inline std::string ItemLine(const std::string& numberAndCaption, std::size_t column, const std::string& value)
{
    return numberAndCaption + std::string(column - numberAndCaption.size(), ' ') + ": " + value + "\r\n";
}

inline std::string Padded(const std::string& text, std::size_t width)
{
    return text + std::string(width - text.size(), ' ');
}

inline std::string Rule(std::size_t length) { return std::string(length, '-') + "\r\n"; }

// The header of the fixed machine with every item shown and the default texts.
inline std::string FixedHeaderText()
{
    const std::string privilegeIndent(18, ' ');
    return "OspreyLog 6.0.23\r\n\r\n"
           "Application:\r\n" +
           Rule(56) +
           ItemLine("  1.1 Start Date", 22, "Tue, 5 Mar 2024 00:00:00 +0200") +
           ItemLine("  1.2 Name/Description", 22, "Kestrelvane.exe - (Junk cleaner)") +
           ItemLine("  1.3 Version Number", 22, "1.2.3.4") +
           ItemLine("  1.4 Parameters", 22, "/job \"a b.job\"") +
           ItemLine("  1.5 Compilation Date", 22, "Fri, 1 Mar 2024 10:00:00 +0200") +
           ItemLine("  1.6 Up Time", 22, "1 day, 12 hours, 0 second") +
           "\r\n"
           "Exception:\r\n" +
           Rule(54) +
           ItemLine("  2.1 Date", 20, "Wed, 6 Mar 2024 12:00:00 +0200") +
           ItemLine("  2.2 Address", 20, "00401A2B") +
           ItemLine("  2.3 Module Name", 20, "Kestrelvane.exe - (Junk cleaner)") +
           ItemLine("  2.4 Module Version", 20, "1.2.3.4") +
           ItemLine("  2.5 Type", 20, "kv::Exception") +
           ItemLine("  2.6 Message", 20, "Disk full") +
           ItemLine("  2.7 ID", 20, "0BADF00D") +
           ItemLine("  2.8 Count", 20, "1") +
           ItemLine("  2.9 Status", 20, "New") +
           ItemLine("  2.10 Note", 20, "") +
           "\r\n"
           "User:\r\n" +
           Rule(55) +
           ItemLine("  3.1 ID", 16, "tester") +
           ItemLine("  3.2 Name", 16, "Test Owner") +
           ItemLine("  3.3 Email", 16, "t@example.org") +
           ItemLine("  3.4 Company", 16, "Example Co") +
           ItemLine("  3.5 Privileges", 16, Padded("SeShutdownPrivilege", 31) + " - OFF") +
           privilegeIndent + Padded("SeChangeNotifyPrivilege", 31) + " - ON\r\n"
           "\r\n"
           "Active Controls:\r\n" +
           Rule(39) +
           ItemLine("  4.1 Form Class", 19, "TMainForm") +
           ItemLine("  4.2 Form Text", 19, "Kestrelvane - scan") +
           ItemLine("  4.3 Control Class", 19, "TButton") +
           ItemLine("  4.4 Control Text", 19, "Scan now") +
           "\r\n"
           "Computer:\r\n" +
           Rule(58) +
           ItemLine("  5.1 Name", 20, "PC1") +
           ItemLine("  5.2 Total Memory", 20, "8192 Mb") +
           ItemLine("  5.3 Free Memory", 20, "1537 Mb") +
           ItemLine("  5.4 Total Disk", 20, "500 Gb") +
           ItemLine("  5.5 Free Disk", 20, "1.5 Gb") +
           ItemLine("  5.6 System Up Time", 20, "1 day, 1 hour, 1 minute, 1 second") +
           ItemLine("  5.7 Processor", 20, "Test CPU @ 3.00GHz") +
           ItemLine("  5.8 Display Mode", 20, "1024 x 768, 32 bit") +
           ItemLine("  5.9 Display DPI", 20, "96") +
           ItemLine("  5.10 Video Card", 20, "Test Video (driver 1.0 - RAM 256 MB)") +
           ItemLine("  5.11 Printer", 20, "") +
           "\r\n"
           "Operating System:\r\n" +
           Rule(35) +
           ItemLine("  6.1 Type", 14, "Microsoft Windows 7") +
           ItemLine("  6.2 Build #", 14, "7601") +
           ItemLine("  6.3 Update", 14, "Service Pack 1") +
           ItemLine("  6.4 Language", 14, "English") +
           ItemLine("  6.5 Charset", 14, "0") +
           "\r\n"
           "Network:\r\n" +
           Rule(53) +
           ItemLine("  7.1 IP Address", 16, "192.168.001.020 - 010.000.000.005") +
           ItemLine("  7.2 Submask", 16, "255.255.255.000 - 255.000.000.000") +
           ItemLine("  7.3 Gateway", 16, "192.168.001.001 - 000.000.000.000") +
           ItemLine("  7.4 DNS 1", 16, "008.008.008.008 - 000.000.000.000") +
           ItemLine("  7.5 DNS 2", 16, "000.000.000.000 - 000.000.000.000") +
           ItemLine("  7.6 DHCP", 16, Padded("ON", 16) + " - " + Padded("OFF", 16));
}

} // namespace kvtest
