#include "crashreport/core/ESystem.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "crashreport/core/ECommon.h"
#include "platform/Format.h"
#include "platform/Handles.h"
#include "platform/TextCodec.h"

namespace kv::crashreport {
namespace {

// The development environment's host program: inside it the reporter keeps
// its hands off the runtime (no hooks, no watchdog).
constexpr std::string_view kHostIDEFileName = "KVDEVHOST.EXE";
constexpr std::size_t kOutOfMemoryReserveSize = 0x500000;

std::atomic<void*> g_outOfMemoryReserve{nullptr};
// -1: the real platform; 0 or 1: forced by a test.
std::atomic<int> g_forcedWindows9x{-1};
constexpr std::size_t kPageSize = 4096;

OSVERSIONINFOEXA VersionInfo()
{
    OSVERSIONINFOEXA version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (!::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&version))) {
        version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
        ::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&version));
    }
    return version;
}

bool IsPlainReadProtection(DWORD protect)
{
    switch (protect) {
    case PAGE_READONLY:
    case PAGE_READWRITE:
    case PAGE_WRITECOPY:
    case PAGE_EXECUTE:
    case PAGE_EXECUTE_READ:
    case PAGE_EXECUTE_READWRITE:
    case PAGE_EXECUTE_WRITECOPY:
        return true;
    default:
        return false;
    }
}

std::string FileNameOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of("\\/:");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

bool ReporterVersionMatches(int version)
{
    const int low = ReporterVersion / 100 * 100;
    return version >= low && version <= low + 100;
}

bool IsELDataMagic(std::uint32_t value) { return value == 0x100FAB10u || value == 0x000FAB10u; }

std::string GetExeFileName()
{
    char path[MAX_PATH] = {};
    return std::string(path, ::GetModuleFileNameA(nullptr, path, MAX_PATH));
}

std::string GetModuleFullName(HMODULE module)
{
    char buffer[MAX_PATH] = {};
    std::string name(buffer, ::GetModuleFileNameA(module, buffer, MAX_PATH));
    const std::size_t question = name.find('?');
    if (question != std::string::npos) {
        const std::size_t colon = name.find(':', question);
        if (colon != std::string::npos && colon > 0) name.erase(0, colon - 1);
    }
    return ShortToLongPath(name);
}

bool ModuleHasFileName(HMODULE module) { return !GetModuleFullName(module).empty(); }

HMODULE OwnModuleHandle()
{
    HMODULE module = nullptr;
    ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCSTR>(&OwnModuleHandle), &module);
    return module;
}

std::string OwnModuleName() { return GetModuleFullName(OwnModuleHandle()); }

std::string ShortToLongPath(const std::string& path)
{
    if (path.find('~') == std::string::npos) return path;
    char buffer[MAX_PATH] = {};
    const DWORD length = ::GetFullPathNameA(path.c_str(), MAX_PATH, buffer, nullptr);
    if (length == 0 || length >= MAX_PATH) return path;
    const std::string full(buffer, length);
    // The drive and its backslash stay; every component after it is looked up.
    std::size_t start = 0;
    if (full.size() >= 2 && full[1] == ':') start = (full.size() > 2 && full[2] == '\\') ? 3 : 2;
    std::string result = full.substr(0, start);
    while (start < full.size()) {
        const std::size_t slash = full.find('\\', start);
        const std::string component = full.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        WIN32_FIND_DATAA entry{};
        FindHandle find(::FindFirstFileA((result + component).c_str(), &entry));
        if (!find || component.empty()) return result + full.substr(start);
        result += entry.cFileName;
        if (slash == std::string::npos) break;
        result += '\\';
        start = slash + 1;
    }
    return result;
}

TDateTime FileDateOf(const std::string& fileName)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExA(fileName.c_str(), GetFileExInfoStandard, &data)) return 0;
    FILETIME local{};
    SYSTEMTIME time{};
    if (!::FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) || !::FileTimeToSystemTime(&local, &time)) return 0;
    return SystemTimeToDateTime(time);
}

std::string GetTempPathText()
{
    char buffer[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathA(MAX_PATH, buffer);
    return length <= MAX_PATH ? std::string(buffer, length) : std::string();
}

std::string GetCommandLineText() { return WideToAnsi(::GetCommandLineW()); }

std::string ReadRegistryString(HKEY root, std::string_view subKey, std::string_view valueName)
{
    std::string path(subKey);
    if (!path.empty() && path.front() == '\\') path.erase(0, 1);
    RegKey key;
    if (::RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) return std::string();
    const std::string name(valueName);
    DWORD size = 0;
    if (::RegQueryValueExA(key.Get(), name.c_str(), nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS)
        return std::string();
    std::string value(size, '\0');
    if (size != 0 &&
        ::RegQueryValueExA(key.Get(), name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(value.data()), &size) !=
            ERROR_SUCCESS)
        return std::string();
    value.resize(std::min<std::size_t>(size, value.size()));
    // A value stored without its terminator keeps its last character.
    while (!value.empty() && value.back() == '\0') value.pop_back();
    return value;
}

const void* ResolveImportThunk(const void* address)
{
    const auto* code = static_cast<const std::uint8_t*>(address);
    if (!IsReadableMemory(code, 8) || code[0] != 0xFF || code[1] != 0x25) return address;
    const void* const* cell = nullptr;
    std::memcpy(&cell, code + 2, sizeof cell);
    if (!IsReadableMemory(cell, sizeof *cell)) return address;
    return *cell;
}

bool IsReadableMemory(const void* address, std::size_t size)
{
    if (address == nullptr) return false;
    auto current = reinterpret_cast<std::uintptr_t>(address);
    const std::uintptr_t end = current + size;
    if (end < current) return false;
    do {
        MEMORY_BASIC_INFORMATION info{};
        if (::VirtualQuery(reinterpret_cast<const void*>(current), &info, sizeof info) != sizeof info) return false;
        if (info.State != MEM_COMMIT || !IsPlainReadProtection(info.Protect)) return false;
        current = reinterpret_cast<std::uintptr_t>(info.BaseAddress) + info.RegionSize;
    } while (current < end && current != 0);
    return true;
}

std::size_t ReadableSize(const void* address, std::size_t wanted)
{
    const auto* bytes = static_cast<const std::uint8_t*>(address);
    std::size_t size = 0;
    while (size < wanted) {
        const auto at = reinterpret_cast<std::uintptr_t>(bytes + size);
        const std::size_t step = std::min<std::size_t>(kPageSize - (at & (kPageSize - 1)), wanted - size);
        if (!IsReadableMemory(bytes + size, step)) break;
        size += step;
    }
    return size;
}

void ForceWindows9xPlatform(std::optional<bool> forced) noexcept
{
    g_forcedWindows9x.store(forced ? (*forced ? 1 : 0) : -1);
}

bool RunningOnWindows9x()
{
    const int forced = g_forcedWindows9x.load();
    if (forced >= 0) return forced == 1;
    return VersionInfo().dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

bool RunningOnWindows95()
{
    const OSVERSIONINFOEXA v = VersionInfo();
    return v.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS && v.dwMinorVersion < 10;
}

bool RunningOnWindowsNT4()
{
    const OSVERSIONINFOEXA v = VersionInfo();
    return v.dwPlatformId == VER_PLATFORM_WIN32_NT && v.dwMajorVersion < 5;
}

bool RunningOnVistaOrLater()
{
    const OSVERSIONINFOEXA v = VersionInfo();
    return v.dwPlatformId == VER_PLATFORM_WIN32_NT && v.dwMajorVersion > 5;
}

bool RunningUnderWow64()
{
    using IsWow64ProcessProc = BOOL(WINAPI*)(HANDLE, PBOOL);
    const auto isWow64 = reinterpret_cast<IsWow64ProcessProc>(
        ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "IsWow64Process"));
    BOOL wow64 = FALSE;
    return isWow64 && isWow64(::GetCurrentProcess(), &wow64) && wow64;
}

bool IsWorkstationProduct() { return VersionInfo().wProductType == VER_NT_WORKSTATION; }

std::string DescribeOS(const OSVERSIONINFOEXA& v, bool underWow64)
{
    const std::string numbers = Format("%d.%d", {v.dwMajorVersion, v.dwMinorVersion});
    const bool workstation = v.wProductType == VER_NT_WORKSTATION;
    std::string name;
    if (v.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
        const std::string servicePack = TrimText(v.szCSDVersion);
        if (v.dwMinorVersion < 10)
            name = servicePack == "B" ? "95 OSR 2" : "95";
        else if (v.dwMinorVersion < 90)
            name = servicePack == "A" ? "98 SE" : "98";
        else if (v.dwMinorVersion == 90)
            name = "ME";
        else
            name = numbers;
    } else if (v.dwMajorVersion == 4) {
        name = "NT 4.0";
    } else if (v.dwMajorVersion == 5 && v.dwMinorVersion == 0) {
        name = "2000";
    } else if (v.dwMajorVersion == 5 && v.dwMinorVersion == 1) {
        name = "XP";
    } else if (v.dwMajorVersion == 5 && v.dwMinorVersion == 2) {
        name = workstation ? "XP" : "2003";
    } else if (v.dwMajorVersion == 6 && v.dwMinorVersion == 0) {
        name = workstation ? "Vista" : "Server 2008";
    } else if (v.dwMajorVersion == 6 && v.dwMinorVersion == 1) {
        name = workstation ? "7" : "Server 2008 R2";
    } else {
        name = numbers;
    }
    std::string text = "Microsoft Windows " + name;
    if (v.dwPlatformId == VER_PLATFORM_WIN32_NT && underWow64) text += " (64 bit)";
    return text;
}

std::string GetOSDescription() { return DescribeOS(VersionInfo(), RunningUnderWow64()); }

std::string GetOSBuildText()
{
    const OSVERSIONINFOEXA v = VersionInfo();
    const DWORD build = v.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS ? (v.dwBuildNumber & 0xFFFF) : v.dwBuildNumber;
    return Format("%u", {build});
}

std::string GetComputerNameText()
{
    char buffer[16] = {};
    DWORD size = sizeof buffer;
    return ::GetComputerNameA(buffer, &size) ? std::string(buffer, size) : std::string();
}

std::string GetUserNameText()
{
    char buffer[256] = {};
    DWORD size = sizeof buffer;
    if (!::GetUserNameA(buffer, &size)) return std::string();
    return std::string(buffer); // size counts the terminator
}

std::string GetRegisteredOwner()
{
    std::string owner =
        ReadRegistryString(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION", "RegisteredOwner");
    if (owner.empty())
        owner = ReadRegistryString(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION",
                                   "RegisteredOwner");
    if (owner.empty())
        owner = ReadRegistryString(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\MICROSOFT\\MS SETUP (ACME)\\USER INFO", "DefName");
    if (RunningOnVistaOrLater() && owner == "Microsoft") owner.clear();
    return owner;
}

bool DebuggerAttached()
{
    using IsDebuggerPresentProc = BOOL(WINAPI*)();
    const auto isDebuggerPresent = reinterpret_cast<IsDebuggerPresentProc>(
        ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "IsDebuggerPresent"));
    if (isDebuggerPresent) return isDebuggerPresent() != FALSE;
    // Systems without the call: the process environment block's BeingDebugged byte.
    const std::uint8_t* peb = nullptr;
    asm("movl %%fs:0x30, %0" : "=r"(peb));
    return peb && peb[2] != 0;
}

bool IsHostIDEFileName(std::string_view exeFileName)
{
    return UpperCaseText(FileNameOf(std::string(exeFileName))) == kHostIDEFileName;
}

bool IsHostIDE()
{
    static const bool cache = IsHostIDEFileName(GetExeFileName());
    return cache;
}

bool HandleIsValid(HANDLE handle)
{
    DWORD flags = 0;
    if (VersionInfo().dwPlatformId == VER_PLATFORM_WIN32_NT && ::GetHandleInformation(handle, &flags)) return true;
    HANDLE duplicate = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), handle, ::GetCurrentProcess(), &duplicate, 0, FALSE,
                           DUPLICATE_SAME_ACCESS))
        return false;
    KernelHandle owner(duplicate);
    return true;
}

bool IsThreadRunning(HANDLE thread)
{
    DWORD code = 0;
    return HandleIsValid(thread) && ::GetExitCodeThread(thread, &code) && code == STILL_ACTIVE;
}

const void* GetStackTop()
{
    // The thread information block's stack base (fs:[4] on 32-bit Windows).
    const void* top = nullptr;
    asm("movl %%fs:4, %0" : "=r"(top));
    return top;
}

__attribute__((noinline)) const void* GetStackPointer()
{
    volatile int marker = 0;
    const void* volatile position = const_cast<const int*>(&marker);
    return position;
}

void ReserveOutOfMemorySpace()
{
    if (g_outOfMemoryReserve.load()) return;
    void* block = ::VirtualAlloc(nullptr, kOutOfMemoryReserveSize, MEM_RESERVE, PAGE_NOACCESS);
    void* expected = nullptr;
    if (block && !g_outOfMemoryReserve.compare_exchange_strong(expected, block)) ::VirtualFree(block, 0, MEM_RELEASE);
}

void ReleaseOutOfMemorySpace()
{
    if (void* block = g_outOfMemoryReserve.exchange(nullptr)) ::VirtualFree(block, 0, MEM_RELEASE);
}

bool OutOfMemorySpaceReserved() { return g_outOfMemoryReserve.load() != nullptr; }

} // namespace kv::crashreport
