#include "crashreport/output/ELogHeader.h"

#include <cmath>
#include <exception>

#include "crashreport/core/ECommon.h"
#include "crashreport/core/ECore.h"
#include "crashreport/core/EObjects.h"
#include "crashreport/core/EOptionsFiles.h"
#include "crashreport/core/ESystem.h"
#include "crashreport/output/ELogManager.h"
#include "crashreport/output/EReportState.h"
#include "platform/Exceptions.h"
#include "platform/Format.h"
#include "platform/StringList.h"

namespace kv::crashreport {

namespace {

constexpr std::string_view Banner = "OspreyLog 6.0.23\r\n\r\n";

struct HeaderItem {
    TMessageType Caption;
    TShowOption Flag;
    std::string Value;
};

struct HeaderSection {
    TMessageType Caption;
    std::vector<HeaderItem> Items;
    bool Shown = true; // the items of a section the program cannot fill stay counted
};

std::string RoundedMiB(std::uint64_t bytes)
{
    return std::to_string(static_cast<long long>(std::nearbyint(static_cast<double>(bytes) / 1048576.0))) + " Mb";
}

// "0.##" of the byte count in GiB.
std::string GiBText(std::uint64_t bytes)
{
    const double gib = static_cast<double>(bytes) / 1073741824.0;
    const long long hundredths = static_cast<long long>(std::nearbyint(gib * 100.0));
    std::string text = std::to_string(hundredths / 100);
    const int fraction = static_cast<int>(hundredths % 100);
    if (fraction != 0) {
        text += '.' + std::to_string(fraction / 10);
        if (fraction % 10 != 0) text += std::to_string(fraction % 10);
    }
    return text + " Gb";
}

std::string PrivilegesText(const std::vector<TPrivilegeFacts>& privileges)
{
    std::string text;
    for (const TPrivilegeFacts& privilege : privileges) {
        text += PadRightText(privilege.Name, 31) + (privilege.Enabled ? " - ON" : " - OFF") + "\r\n";
    }
    return text;
}

struct NetworkValues {
    std::string IP, Mask, Gateway, DNS1, DNS2, DHCP;
};

NetworkValues CollectNetworkValues(TReportFacts& facts)
{
    NetworkValues values;
    const auto adapters = facts.NetworkAdapters();
    if (!adapters) return values;
    constexpr std::string_view noAddress = "000.000.000.000";
    for (const TAdapterFacts& adapter : *adapters) {
        values.IP += FormatIPAddress(adapter.IPAddress) + " - ";
        values.Mask += FormatIPAddress(adapter.Mask) + " - ";
        values.Gateway += FormatIPAddress(adapter.Gateway) + " - ";
        const bool first = adapter.DNSKnown && !adapter.DNSServers.empty();
        const bool second = adapter.DNSKnown && adapter.DNSServers.size() > 1;
        values.DNS1 += (first ? FormatIPAddress(adapter.DNSServers[0]) : std::string(noAddress)) + " - ";
        values.DNS2 += (second ? FormatIPAddress(adapter.DNSServers[1]) : std::string(noAddress)) + " - ";
        values.DHCP += PadRightText(adapter.DHCP ? "ON" : "OFF", 16) + " - ";
    }
    for (std::string* value : {&values.IP, &values.Mask, &values.Gateway, &values.DNS1, &values.DNS2, &values.DHCP}) {
        if (value->size() >= 3 && value->compare(value->size() - 3, 3, " - ") == 0) value->resize(value->size() - 3);
    }
    return values;
}

std::string Hex8(std::uintptr_t value) { return Format("%.8X", {static_cast<std::uint32_t>(value)}); }

std::string CompilationDateText(TReportFacts& facts, int offsetMinutes)
{
    const TDateTime date = facts.CompilationDate();
    if (date == 0) return {};
    const int offsetHours = static_cast<int>(std::lround(offsetMinutes / 60.0));
    return FormatMailDate(date + offsetHours / 24.0, offsetMinutes);
}

std::vector<HeaderSection> CollectSections(TReportFacts& facts, TReportState& report)
{
    // The network is asked first: its helper may take a while, before any other value is taken.
    const NetworkValues network = CollectNetworkValues(facts);
    const int offset = facts.UTCOffsetMinutes();
    const TDisplayFacts display = facts.Display();
    report.ExceptionClassName = GetExceptionClassName(report.ExceptionObject);
    report.ExceptionMessage = GetExceptionMessageText(report.ExceptionObject);
    const bool activeControls = facts.ShowsActiveControls();
    return {
        {mtLog_AppHeader,
         {{mtLog_AppStartDate, soAppStartDate, FormatMailDate(report.StartTime, offset)},
          {mtLog_AppName, soAppName, facts.ApplicationName()},
          {mtLog_AppVersionNumber, soAppVersionNumber, facts.AppVersion()},
          {mtLog_AppParameters, soAppParameters, CommandLineParameters(facts.CommandLine())},
          {mtLog_AppCompilationDate, soAppCompilationDate, CompilationDateText(facts, offset)},
          {mtLog_AppUpTime, soAppUpTime, FormatDuration(report.ExceptionTime - report.StartTime)}}},
        {mtLog_ExcHeader,
         {{mtLog_ExcDate, soExcDate, FormatMailDate(report.ExceptionTime, offset)},
          {mtLog_ExcAddress, soExcAddress,
           report.ExceptionAddress ? Hex8(reinterpret_cast<std::uintptr_t>(report.ExceptionAddress)) : ""},
          {mtLog_ExcModuleName, soExcModuleName, facts.ModuleTextOf(report.ExceptionAddress)},
          {mtLog_ExcModuleVersion, soExcModuleVersion, facts.ModuleVersionOf(report.ExceptionAddress)},
          {mtLog_ExcType, soExcType, report.ExceptionClassName},
          {mtLog_ExcMessage, soExcMessage, report.ExceptionMessage},
          {mtLog_ExcID, soExcID, report.ExceptionID},
          {mtLog_ExcCount, soExcCount, "1"},
          {mtLog_ExcStatus, soExcStatus, "New"},
          {mtLog_ExcNote, soExcNote, ""}}},
        {mtLog_UserHeader,
         {{mtLog_UserID, soUserID, facts.UserName()},
          {mtLog_UserName, soUserName, facts.RegisteredOwner()},
          {mtLog_UserEmail, soUserEmail, report.UserEmail},
          {mtLog_UserCompany, soUserCompany, facts.RegisteredCompany()},
          {mtLog_UserPrivileges, soUserPrivileges, PrivilegesText(facts.Privileges())}}},
        {mtLog_ActCtrlsHeader,
         {{mtLog_ActCtrlsFormClass, soActCtlsFormClass, activeControls ? facts.ForegroundWindowClass() : ""},
          {mtLog_ActCtrlsFormText, soActCtlsFormText,
           activeControls ? CollapseControlChars(facts.ForegroundWindowText()) : ""},
          {mtLog_ActCtrlsControlClass, soActCtlsControlClass, report.ActiveControlClass},
          {mtLog_ActCtrlsControlText, soActCtlsControlText, CollapseControlChars(report.ActiveControlText)}},
         activeControls},
        {mtLog_CmpHeader,
         {{mtLog_CmpName, soCmpName, facts.ComputerName()},
          {mtLog_CmpTotalMemory, soCmpTotalMemory, RoundedMiB(facts.TotalMemory())},
          {mtLog_CmpFreeMemory, soCmpFreeMemory, RoundedMiB(facts.AvailableMemory())},
          {mtLog_CmpTotalDisk, soCmpTotalDisk, GiBText(facts.TotalDisk())},
          {mtLog_CmpFreeDisk, soCmpFreeDisk, GiBText(facts.FreeDisk())},
          {mtLog_CmpSystemUpTime, soCmpSysUpTime, FormatDuration(static_cast<double>(facts.TickCount()) / 86400000.0)},
          {mtLog_CmpProcessor, soCmpProcessor, facts.Processor()},
          {mtLog_CmpDisplayMode, soCmpDisplayMode,
           Format("%d x %d, %d bit", {display.Width, display.Height, display.BitsPerPixel})},
          {mtLog_CmpDisplayDPI, soCmpDisplayDPI, std::to_string(display.DPI)},
          {mtLog_CmpVideoCard, soCmpVideoCard, facts.VideoCard()},
          {mtLog_CmpPrinter, soCmpPrinter, facts.Printer()}}},
        {mtLog_OSHeader,
         {{mtLog_OSType, soOSType, facts.OSDescription()},
          {mtLog_OSBuildN, soOSBuildN, facts.OSBuild()},
          {mtLog_OSUpdate, soOSUpdate, TrimText(facts.ServicePack())},
          {mtLog_OSLanguage, soOSLanguage, facts.LanguageName()},
          {mtLog_OSCharset, soOSCharset, std::to_string(facts.Charset())}}},
        {mtLog_NetHeader,
         {{mtLog_NetIP, soNetIP, network.IP},
          {mtLog_NetSubmask, soNetSubmask, network.Mask},
          {mtLog_NetGateway, soNetGateway, network.Gateway},
          {mtLog_NetDNS1, soNetDNS1, network.DNS1},
          {mtLog_NetDNS2, soNetDNS2, network.DNS2},
          {mtLog_NetDHCP, soNetDHCP, network.DHCP}}},
    };
}

std::string CaptionText(const TOspreyModuleOptions* options, TMessageType caption)
{
    return options != nullptr ? options->GetExpandedText(caption) : std::string(DefaultMessageText(caption));
}

void InsertSection(const std::string& section)
{
    TReportState& report = CurrentReport();
    const std::size_t headerLength = report.HeaderText.size();
    // Right behind the empty line that follows the header sections.
    const std::size_t at = std::min(headerLength + 2, report.LogText.size());
    report.LogText.insert(at, section);
    report.EntireLogText = report.LogText;
    report.HeaderText = report.LogText.substr(0, headerLength + section.size());
}

} // namespace

void BuildLogHeader(TReportFacts& facts)
{
    const TOspreyModuleOptions* options = CurrentOspreyLogOptions();
    const TShowOptions shown = options != nullptr ? options->ShowOptions() : TShowOptions::All();
    TReportState& report = CurrentReport();
    const std::vector<HeaderSection> sections = CollectSections(facts, report);
    TLogItem builder(0);
    for (const HeaderSection& section : sections) {
        builder.AddHeader(CaptionText(options, section.Caption));
        for (const HeaderItem& item : section.Items) {
            builder.AddItem(CaptionText(options, item.Caption), item.Value,
                            section.Shown && shown.Contains(item.Flag));
        }
    }
    report.HeaderText = std::string(Banner) + builder.Value();
}

void BuildLogHeader() { BuildLogHeader(SystemReportFacts()); }

void AddReportSection(int firstHeader, std::string_view caption, std::string_view text)
{
    if (text.empty()) return;
    TLogItem builder(firstHeader);
    builder.AddHeader(caption);
    builder.AddItem("", text, true);
    InsertSection(builder.Value() + "\r\n");
}

void AddReportValuesSection(int firstHeader, std::string_view caption, const std::vector<std::string>& lines)
{
    if (lines.empty()) return;
    AnsiStringList list;
    for (const std::string& line : lines) list.Add(line);
    TLogItem builder(firstHeader);
    builder.AddHeader(caption);
    for (const std::string& line : lines) {
        const std::string name = AnsiStringList::NameOf(line);
        builder.AddItem(TrimText(name), TrimText(list.Value(name)), true);
    }
    InsertSection(builder.Value() + "\r\n");
}

std::string FormatReportDate(TDateTime value)
{
    const auto time = DateTimeToSystemTime(value);
    if (!time) return {};
    return Format("%.4d-%.2d-%.2d %.2d:%.2d:%.2d",
                  {time->wYear, time->wMonth, time->wDay, time->wHour, time->wMinute, time->wSecond});
}

std::string ReplaceControlChars(std::string_view text)
{
    std::string result(text);
    for (char& c : result) {
        if (static_cast<unsigned char>(c) < 32 && c != '\r' && c != '\n') c = ' ';
    }
    return result;
}

std::string CommandLineParameters(std::string_view commandLine)
{
    // The program's name ends at the closing quote, or unquoted at the first blank or tab.
    const std::string line = TrimText(commandLine);
    std::size_t end;
    if (!line.empty() && line.front() == '"') {
        end = line.find('"', 1);
        end = end == std::string::npos ? line.size() : end + 1;
    } else {
        end = line.find_first_of(" \t");
        if (end == std::string::npos) end = line.size();
    }
    return TrimText(std::string_view(line).substr(end));
}

std::string FormatIPAddress(std::string_view address)
{
    if (address.empty()) return "000.000.000.000";
    std::string result;
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = address.find('.', start);
        std::string part(address.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start));
        if (part.size() < 3) part.insert(0, 3 - part.size(), '0');
        result += part;
        if (dot == std::string_view::npos) break;
        result += '.';
        start = dot + 1;
    }
    return result;
}

namespace {

struct MainModule {
    HMODULE Loaded = nullptr;
};

MainModule& TheMainModule()
{
    static MainModule module;
    return module;
}

} // namespace

std::string GetMainModuleFileName() { return StripVsHostSuffix(GetExeFileName()); }

HMODULE GetMainModuleHandle()
{
    const std::string name = GetMainModuleFileName();
    if (HMODULE module = ::GetModuleHandleA(name.c_str())) return module;
    MainModule& main = TheMainModule();
    if (main.Loaded == nullptr) main.Loaded = ::LoadLibraryA(name.c_str());
    return main.Loaded;
}

void ReleaseMainModuleHandle()
{
    MainModule& main = TheMainModule();
    if (main.Loaded != nullptr) ::FreeLibrary(main.Loaded);
    main.Loaded = nullptr;
}

std::string GetExceptionClassName(const void* exceptionObject)
{
    if (!IsValidObject(exceptionObject)) return "Unknown exception type";
    if (ObjectInheritsFromName(exceptionObject, "TActiveXException")) {
        return static_cast<const TActiveXException*>(static_cast<const std::exception*>(exceptionObject))
            ->ExceptionType();
    }
    return ClassNameOf(exceptionObject);
}

namespace {

// The module file that holds committed memory at the address; empty when none.
std::string ModuleFileAt(const void* address)
{
    MEMORY_BASIC_INFORMATION info{};
    if (::VirtualQuery(address, &info, sizeof info) != sizeof info || info.State != MEM_COMMIT) return {};
    char name[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameA(static_cast<HMODULE>(info.AllocationBase), name, MAX_PATH);
    return std::string(name, length);
}

std::string AccessViolationText(const EXCEPTION_RECORD& record, const std::string& ownMessage)
{
    const std::string operation = record.ExceptionInformation[0] != 0 ? "Write" : "Read";
    const std::string address = Hex8(reinterpret_cast<std::uintptr_t>(record.ExceptionAddress));
    const std::string target = Hex8(static_cast<std::uintptr_t>(record.ExceptionInformation[1]));
    const std::string module = ModuleFileAt(record.ExceptionAddress);
    if (module.empty()) {
        return Format("Access violation at address %s. %s of address %s", {address, operation, target});
    }
    constexpr std::string_view pattern = "Access violation at address %s in module '%s'. %s of address %s";
    std::string text = Format(pattern, {address, ExtractFileName(module), operation, target});
    if (text != ownMessage) {
        text = Format(pattern, {address, ExtractFileName(ShortToLongPath(module)), operation, target});
    }
    return text;
}

} // namespace

std::string GetExceptionMessageText(const void* exceptionObject)
{
    std::string message = "Unknown error message.";
    // Exception objects derive from std::exception first, as every exception of the program does.
    if (!ObjectInheritsFromName(exceptionObject, "Exception")) return message;
    const auto* error = static_cast<const std::exception*>(exceptionObject);
    message = error->what();
    if (!ObjectInheritsFromName(exceptionObject, "EAccessViolation")) return message;
    const auto* external = dynamic_cast<const EExternal*>(error);
    if (external == nullptr) return message;
    const EXCEPTION_RECORD& record = external->ExceptionRecord();
    if (!IsReadableMemory(&record, sizeof record) || record.NumberParameters < 2) return message;
    message = AccessViolationText(record, message);
    if (message.back() != '.') message += '.';
    return message;
}

} // namespace kv::crashreport
