#pragma once
// The first half of a crash report: seven numbered sections on the
// application, the exception, the user, the active window, the computer, the
// operating system and the network, and the custom sections added behind them.
//
// Every fact of the running system reaches the header through TReportFacts,
// so that a report can be built from fixed facts as exactly as from the
// machine's own.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DateTime.h"

namespace kv::crashreport {

struct TPrivilegeFacts {
    std::string Name;
    bool Enabled = false;
};

struct TAdapterFacts {
    std::string IPAddress; // as the system writes it ("192.168.0.1")
    std::string Mask;
    std::string Gateway;
    std::vector<std::string> DNSServers;
    bool DNSKnown = true; // false when the adapter's DNS servers could not be read
    bool DHCP = false;
};

struct TDisplayFacts {
    int Width = 0;
    int Height = 0;
    int BitsPerPixel = 0;
    int DPI = 0; // vertical logical pixels per inch
};

class TReportFacts {
public:
    virtual ~TReportFacts() = default;

    // ---- Application
    virtual std::string ApplicationName() = 0; // GetApplicationNameText
    virtual std::string AppVersion() = 0;
    virtual std::string CommandLine() = 0;
    virtual TDateTime CompilationDate() = 0; // 0 when the module carries none
    virtual int UTCOffsetMinutes() = 0;
    // ---- Exception
    virtual std::string ModuleTextOf(const void* address) = 0; // GetExceptionModuleText
    virtual std::string ModuleVersionOf(const void* address) = 0;
    // ---- User
    virtual std::string UserName() = 0;
    virtual std::string RegisteredOwner() = 0;
    virtual std::string RegisteredCompany() = 0;
    virtual std::vector<TPrivilegeFacts> Privileges() = 0;
    // ---- Active window: shown only by programs that have one of their own
    virtual bool ShowsActiveControls() = 0;
    virtual std::string ForegroundWindowClass() = 0;
    virtual std::string ForegroundWindowText() = 0;
    // ---- Computer
    virtual std::string ComputerName() = 0;
    virtual std::uint64_t TotalMemory() = 0;
    virtual std::uint64_t AvailableMemory() = 0;
    virtual std::uint64_t TotalDisk() = 0; // of the drive of the program's file
    virtual std::uint64_t FreeDisk() = 0;
    virtual std::uint64_t TickCount() = 0; // milliseconds since the system started
    virtual std::string Processor() = 0;
    virtual TDisplayFacts Display() = 0;
    virtual std::string VideoCard() = 0;
    virtual std::string Printer() = 0;
    // ---- Operating system
    virtual std::string OSDescription() = 0;
    virtual std::string OSBuild() = 0;
    virtual std::string ServicePack() = 0;
    virtual std::string LanguageName() = 0;
    virtual int Charset() = 0;
    // ---- Network: nullopt when the system has no IP helper
    virtual std::optional<std::vector<TAdapterFacts>> NetworkAdapters() = 0;
};

// The facts of this machine and process.
TReportFacts& SystemReportFacts();

// Builds the current header text of the report being made (CurrentReport())
// with the current options' show flags and texts.
void BuildLogHeader(TReportFacts& facts);
void BuildLogHeader();

// Inserts a custom section, numbered firstHeader + 1, behind the header
// sections of the current report text; nothing for an empty text or list.
void AddReportSection(int firstHeader, std::string_view caption, std::string_view text);
// lines: "name=value"; one item per line, in order.
void AddReportValuesSection(int firstHeader, std::string_view caption, const std::vector<std::string>& lines);

// "yyyy-mm-dd hh:nn:ss"
std::string FormatReportDate(TDateTime value);
// Every byte below 32 other than CR and LF becomes a blank.
std::string ReplaceControlChars(std::string_view text);
// The command line without the program's own name, as the system splits it.
std::string CommandLineParameters(std::string_view commandLine);
// "192.168.0.1" gives "192.168.000.001"; an empty address "000.000.000.000".
std::string FormatIPAddress(std::string_view address);

std::string GetMainModuleFileName();
// Loaded when the program's file is not loaded yet; ReleaseMainModuleHandle frees it then.
HMODULE GetMainModuleHandle();
void ReleaseMainModuleHandle();

// "Unknown exception type" for an object that is no valid object.
std::string GetExceptionClassName(const void* exceptionObject);
// The exception's message; an access violation is described anew from its
// recorded system record, with the module it happened in.
std::string GetExceptionMessageText(const void* exceptionObject);

} // namespace kv::crashreport
