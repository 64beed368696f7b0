// The facts of this machine and process that a report header shows, each read
// the way the report describes it and degrading to an empty or fixed text when
// its source fails. The IP helper and the print spooler are loaded at run time:
// a system without them still gets its report.
#include <windows.h>
#include <iphlpapi.h>
#include <winspool.h>

#include <memory>

#include "crashreport/core/ECommon.h"
#include "crashreport/core/EOptionsFiles.h"
#include "crashreport/core/ESystem.h"
#include "crashreport/core/debuginfo/EModules.h"
#include "crashreport/output/EListView.h"
#include "crashreport/output/ELogHeader.h"
#include "crashreport/output/EWebTools.h"
#include "platform/Format.h"
#include "platform/Handles.h"
#include "platform/TextCodec.h"

namespace kv::crashreport {

namespace {

// The product version of a file's first translation ("" when it has none).
std::string ProductVersionText(const std::string& fileName)
{
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(fileName.c_str(), &handle);
    if (size == 0) return {};
    std::vector<char> data(size);
    if (!::GetFileVersionInfoA(fileName.c_str(), 0, size, data.data())) return {};
    struct Translation {
        WORD Language, CodePage;
    };
    Translation* translation = nullptr;
    UINT length = 0;
    if (!::VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) ||
        translation == nullptr || length < sizeof(Translation)) {
        return {};
    }
    const std::string path =
        Format("\\StringFileInfo\\%.4x%.4x\\ProductVersion", {translation->Language, translation->CodePage});
    char* text = nullptr;
    if (!::VerQueryValueA(data.data(), path.c_str(), reinterpret_cast<void**>(&text), &length) || text == nullptr) {
        return {};
    }
    return std::string(text, ::strnlen(text, length));
}

std::string NameWithDescription(const std::string& fileName)
{
    if (fileName.empty()) return {};
    std::string description, version;
    GetFileVersionText(fileName, description, version);
    std::string text = ExtractFileName(fileName);
    description = TrimText(description);
    if (!description.empty()) text += " - (" + description + ")";
    return text;
}

std::string VersionOfFile(const std::string& fileName)
{
    std::string description, version;
    GetFileVersionText(fileName, description, version);
    return version;
}

HMODULE ModuleOf(const void* address) { return address != nullptr ? FindModuleOfAddress(address) : nullptr; }

std::string WindowClassText(HWND window)
{
    char name[256] = {};
    const int length = window ? ::GetClassNameA(window, name, sizeof name) : 0;
    return std::string(name, length > 0 ? static_cast<std::size_t>(length) : 0);
}

std::string WindowCaptionText(HWND window)
{
    char text[256] = {};
    const int length = window ? ::GetWindowTextA(window, text, sizeof text) : 0;
    return std::string(text, length > 0 ? static_cast<std::size_t>(length) : 0);
}

std::string RegistryValueWithoutVendorDefault(std::string value)
{
    if (RunningOnVistaOrLater() && value == "Microsoft") return {};
    return value;
}

// A registry value of any of the usual kinds as a number (binary values little-endian).
std::uint64_t RegistryNumber(HKEY root, const std::string& subKey, const char* valueName)
{
    RegKey key;
    if (::RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) return 0;
    BYTE data[8] = {};
    DWORD size = sizeof data, type = 0;
    if (::RegQueryValueExA(key.Get(), valueName, nullptr, &type, data, &size) != ERROR_SUCCESS) return 0;
    std::uint64_t value = 0;
    for (DWORD i = 0; i < size && i < 8; ++i) value |= std::uint64_t(data[i]) << (8 * i);
    return value;
}

// The driver file's product version of a printer driver, blanks removed.
std::string ProductVersionOf(const std::string& fileName)
{
    std::string version = ProductVersionText(fileName);
    std::string compact;
    for (char c : version)
        if (c != ' ') compact += c;
    return compact;
}

class SystemFacts final : public TReportFacts {
public:
    std::string ApplicationName() override { return NameWithDescription(GetModuleFullName(GetMainModuleHandle())); }
    std::string AppVersion() override { return GetAppVersionText(); }
    std::string CommandLine() override { return GetCommandLineText(); }
    TDateTime CompilationDate() override
    {
        const TOspreyModuleInfo* module = GetModuleInfoByHandle(OwnModuleHandle());
        return module != nullptr ? module->ExtraInformation.CompilationDate : 0;
    }
    int UTCOffsetMinutes() override { return GetUTCOffsetMinutes(); }

    std::string ModuleTextOf(const void* address) override
    {
        const HMODULE module = ModuleOf(address);
        return module ? NameWithDescription(GetModuleFullName(module)) : std::string();
    }
    std::string ModuleVersionOf(const void* address) override
    {
        const HMODULE module = ModuleOf(address);
        return module ? VersionOfFile(GetModuleFullName(module)) : std::string();
    }

    std::string UserName() override { return GetUserNameText(); }
    std::string RegisteredOwner() override { return GetRegisteredOwner(); }
    std::string RegisteredCompany() override
    {
        std::string company = ReadRegistryString(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION",
                                                 "RegisteredOrganization");
        if (company.empty()) {
            company = ReadRegistryString(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION",
                                         "RegisteredOrganization");
        }
        if (company.empty()) {
            company =
                ReadRegistryString(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\MICROSOFT\\MS SETUP (ACME)\\USER INFO", "DefCompany");
        }
        return RegistryValueWithoutVendorDefault(company);
    }
    std::vector<TPrivilegeFacts> Privileges() override
    {
        std::vector<TPrivilegeFacts> result;
        KernelHandle token;
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return result;
        DWORD size = 0;
        ::GetTokenInformation(token.Get(), TokenPrivileges, nullptr, 0, &size);
        if (size == 0) return result;
        std::vector<BYTE> buffer(size);
        if (!::GetTokenInformation(token.Get(), TokenPrivileges, buffer.data(), size, &size)) return result;
        const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
        for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
            LUID luid = privileges->Privileges[i].Luid;
            char name[256] = {};
            DWORD length = sizeof name;
            if (!::LookupPrivilegeNameA(nullptr, &luid, name, &length)) continue;
            result.push_back({std::string(name, length),
                              (privileges->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED) != 0});
        }
        return result;
    }

    bool ShowsActiveControls() override { return !IsWebApplication() && !IsConsoleApplication(); }
    std::string ForegroundWindowClass() override { return WindowClassText(::GetForegroundWindow()); }
    std::string ForegroundWindowText() override { return WindowCaptionText(::GetForegroundWindow()); }

    std::string ComputerName() override { return GetComputerNameText(); }
    std::uint64_t TotalMemory() override { return Memory().ullTotalPhys; }
    std::uint64_t AvailableMemory() override { return Memory().ullAvailPhys; }
    std::uint64_t TotalDisk() override { return Disk().total; }
    std::uint64_t FreeDisk() override { return Disk().free; }
    std::uint64_t TickCount() override { return ::GetTickCount64(); }

    std::string Processor() override
    {
        const char* key = "\\HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";
        std::string text = TrimText(ReadRegistryString(HKEY_LOCAL_MACHINE, key, "ProcessorNameString"));
        if (text.empty()) {
            const std::string vendor = ReadRegistryString(HKEY_LOCAL_MACHINE, key, "VendorIdentifier");
            const std::string identifier = ReadRegistryString(HKEY_LOCAL_MACHINE, key, "Identifier");
            text = vendor.empty() || identifier.empty() ? vendor + identifier : vendor + " - " + identifier;
        }
        return text.empty() ? "Unknown processor" : text;
    }

    TDisplayFacts Display() override
    {
        TDisplayFacts display;
        const WindowDC screen(nullptr);
        if (!screen) return display;
        display.Width = ::GetDeviceCaps(screen.Get(), HORZRES);
        display.Height = ::GetDeviceCaps(screen.Get(), VERTRES);
        display.BitsPerPixel = ::GetDeviceCaps(screen.Get(), BITSPIXEL);
        display.DPI = ::GetDeviceCaps(screen.Get(), LOGPIXELSY);
        return display;
    }

    // The primary display adapter: its description, and the driver version
    // and memory its video key holds.
    std::string VideoCard() override
    {
        DISPLAY_DEVICEA device{};
        device.cb = sizeof device;
        bool found = false;
        for (DWORD i = 0; ::EnumDisplayDevicesA(nullptr, i, &device, 0); ++i) {
            if (device.StateFlags & DISPLAY_DEVICE_PRIMARY_DEVICE) {
                found = true;
                break;
            }
            device.cb = sizeof device;
        }
        if (!found) return {};
        std::string description = TrimText(device.DeviceString);
        std::string key = device.DeviceKey;
        constexpr std::string_view machine = "\\Registry\\Machine\\";
        if (UpperCaseText(key).rfind(UpperCaseText(machine), 0) == 0) key.erase(0, machine.size());
        const std::string version = ReadRegistryString(HKEY_LOCAL_MACHINE, key, "DriverVersion");
        const std::uint64_t memory = RegistryNumber(HKEY_LOCAL_MACHINE, key, "HardwareInformation.MemorySize");
        if (description.empty()) return {};
        if (memory == 0) return description + " (driver " + version + ")";
        return description + " (driver " + version + " - RAM " + std::to_string(memory >> 20) + " MB)";
    }

    std::string Printer() override
    {
        ModuleHandle spooler(::LoadLibraryA("winspool.drv"));
        if (!spooler.IsValid()) return {};
        using GetDefaultPrinterFn = BOOL(WINAPI*)(LPSTR, LPDWORD);
        using OpenPrinterFn = BOOL(WINAPI*)(LPSTR, LPHANDLE, LPPRINTER_DEFAULTSA);
        using GetPrinterDriverFn = BOOL(WINAPI*)(HANDLE, LPSTR, DWORD, LPBYTE, DWORD, LPDWORD);
        using ClosePrinterFn = BOOL(WINAPI*)(HANDLE);
        const auto getDefault = reinterpret_cast<GetDefaultPrinterFn>(::GetProcAddress(spooler.Get(), "GetDefaultPrinterA"));
        const auto open = reinterpret_cast<OpenPrinterFn>(::GetProcAddress(spooler.Get(), "OpenPrinterA"));
        const auto getDriver = reinterpret_cast<GetPrinterDriverFn>(::GetProcAddress(spooler.Get(), "GetPrinterDriverA"));
        const auto close = reinterpret_cast<ClosePrinterFn>(::GetProcAddress(spooler.Get(), "ClosePrinter"));
        if (!getDefault || !open || !getDriver || !close) return {};
        char name[512] = {};
        DWORD length = sizeof name;
        if (!getDefault(name, &length) || name[0] == '\0') return {};
        HANDLE printer = nullptr;
        if (!open(name, &printer, nullptr) || printer == nullptr) return {};
        std::string result;
        DWORD needed = 0;
        getDriver(printer, nullptr, 2, nullptr, 0, &needed);
        if (needed > 0) {
            std::vector<BYTE> buffer(needed);
            if (getDriver(printer, nullptr, 2, buffer.data(), needed, &needed)) {
                const auto* driver = reinterpret_cast<const DRIVER_INFO_2A*>(buffer.data());
                if (driver->pName != nullptr && driver->pDriverPath != nullptr) {
                    result = std::string(driver->pName) + " (driver " + ProductVersionOf(driver->pDriverPath) + ")";
                }
            }
        }
        close(printer);
        return result;
    }

    std::string OSDescription() override { return GetOSDescription(); }
    std::string OSBuild() override { return GetOSBuildText(); }
    std::string ServicePack() override
    {
        OSVERSIONINFOA version{};
        version.dwOSVersionInfoSize = sizeof version;
        if (!::GetVersionExA(&version)) return {};
        return version.szCSDVersion;
    }
    std::string LanguageName() override
    {
        LanguageSearch search{::GetSystemDefaultLangID(), {}};
        Search() = &search;
        ::EnumSystemLocalesW(FindLanguage, LCID_INSTALLED);
        Search() = nullptr;
        return search.name;
    }
    int Charset() override { return GetDefaultAnsiCharset(); }

    std::optional<std::vector<TAdapterFacts>> NetworkAdapters() override
    {
        ModuleHandle helper(::LoadLibraryA("iphlpapi.dll"));
        if (!helper.IsValid()) return std::nullopt;
        using GetAdaptersInfoFn = DWORD(WINAPI*)(PIP_ADAPTER_INFO, PULONG);
        using GetPerAdapterInfoFn = DWORD(WINAPI*)(ULONG, PIP_PER_ADAPTER_INFO, PULONG);
        const auto adaptersInfo = reinterpret_cast<GetAdaptersInfoFn>(::GetProcAddress(helper.Get(), "GetAdaptersInfo"));
        const auto perAdapter = reinterpret_cast<GetPerAdapterInfoFn>(::GetProcAddress(helper.Get(), "GetPerAdapterInfo"));
        if (!adaptersInfo || !perAdapter) return std::nullopt;
        std::vector<TAdapterFacts> adapters;
        ULONG size = 0;
        if (adaptersInfo(nullptr, &size) != ERROR_BUFFER_OVERFLOW || size == 0) return adapters;
        std::vector<BYTE> buffer(size);
        auto* list = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
        if (adaptersInfo(list, &size) != ERROR_SUCCESS) return adapters;
        for (const IP_ADAPTER_INFO* adapter = list; adapter != nullptr; adapter = adapter->Next) {
            TAdapterFacts facts;
            facts.IPAddress = adapter->IpAddressList.IpAddress.String;
            facts.Mask = adapter->IpAddressList.IpMask.String;
            facts.Gateway = adapter->GatewayList.IpAddress.String;
            facts.DHCP = adapter->DhcpEnabled != 0;
            ULONG perSize = 0;
            facts.DNSKnown = false;
            if (perAdapter(adapter->Index, nullptr, &perSize) == ERROR_BUFFER_OVERFLOW && perSize > 0) {
                std::vector<BYTE> perBuffer(perSize);
                auto* info = reinterpret_cast<IP_PER_ADAPTER_INFO*>(perBuffer.data());
                if (perAdapter(adapter->Index, info, &perSize) == ERROR_SUCCESS) {
                    facts.DNSKnown = true;
                    for (const IP_ADDR_STRING* dns = &info->DnsServerList; dns != nullptr; dns = dns->Next) {
                        if (dns->IpAddress.String[0] != '\0') facts.DNSServers.push_back(dns->IpAddress.String);
                    }
                }
            }
            adapters.push_back(std::move(facts));
        }
        return adapters;
    }

private:
    struct LanguageSearch {
        LANGID language;
        std::string name;
    };
    static LanguageSearch*& Search()
    {
        static LanguageSearch* search = nullptr;
        return search;
    }
    static BOOL CALLBACK FindLanguage(LPWSTR localeText)
    {
        LanguageSearch* search = Search();
        const LCID locale = static_cast<LCID>(std::wcstoul(localeText, nullptr, 16));
        if (search == nullptr || locale != search->language) return TRUE;
        wchar_t abbreviation[16] = {};
        if (::GetLocaleInfoW(locale, LOCALE_SABBREVLANGNAME, abbreviation, 16) <= 1) return TRUE;
        wchar_t name[128] = {};
        if (::GetLocaleInfoW(locale, LOCALE_SENGLANGUAGE, name, 128) > 1) search->name = WideToAnsi(name);
        return FALSE;
    }

    static MEMORYSTATUSEX Memory()
    {
        MEMORYSTATUSEX status{};
        status.dwLength = sizeof status;
        if (!::GlobalMemoryStatusEx(&status)) return MEMORYSTATUSEX{};
        return status;
    }
    struct DiskSpace {
        std::uint64_t total = 0, free = 0;
    };
    static DiskSpace Disk()
    {
        DiskSpace space;
        const std::string file = GetMainModuleFileName();
        if (file.size() < 3 || file[1] != ':') return space;
        const std::string root = file.substr(0, 2) + "\\";
        ULARGE_INTEGER freeToCaller{}, total{}, totalFree{};
        if (!::GetDiskFreeSpaceExA(root.c_str(), &freeToCaller, &total, &totalFree)) return space;
        space.total = total.QuadPart;
        space.free = freeToCaller.QuadPart;
        return space;
    }
};

} // namespace

TReportFacts& SystemReportFacts()
{
    static SystemFacts facts;
    return facts;
}

} // namespace kv::crashreport
