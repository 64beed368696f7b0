#include "crashreport/core/debuginfo/EModules.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "crashreport/core/ECommon.h"
#include "crashreport/core/ESystem.h"
#include "crashreport/core/debuginfo/EDebug.h"
#include "platform/Handles.h"

namespace kv::crashreport {
namespace {

std::unique_ptr<TOspreyModulesList> g_modules;
std::unique_ptr<TOspreyProcessesList> g_processes;
bool g_rebuilding = false;
const PlatformVersion* g_versionOverride = nullptr;

constexpr DWORD kQueryAndRead = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ; // 0x0410
constexpr DWORD kPathLength = 260;

// Reads a module's memory only where it is committed and readable.
class THModuleStream {
public:
    explicit THModuleStream(HMODULE module) : base_(reinterpret_cast<const std::uint8_t*>(module)) {}
    void Seek(std::uint32_t position) { position_ = position; }
    bool SecureRead(void* buffer, std::size_t count)
    {
        if (base_ == nullptr || !IsReadableMemory(base_ + position_, count)) return false;
        std::memcpy(buffer, base_ + position_, count);
        position_ += static_cast<std::uint32_t>(count);
        return true;
    }

private:
    const std::uint8_t* base_;
    std::uint32_t position_ = 0;
};

// The file header of a module's image; false when the headers are damaged.
bool ReadFileHeader(HMODULE module, IMAGE_FILE_HEADER& header)
{
    THModuleStream stream(module);
    char mz[2];
    std::uint32_t newHeader = 0;
    if (!stream.SecureRead(mz, 2) || mz[0] != 'M' || mz[1] != 'Z') return false;
    stream.Seek(60);
    if (!stream.SecureRead(&newHeader, 4) || newHeader == 0) return false;
    stream.Seek(newHeader);
    char signature[4];
    if (!stream.SecureRead(signature, 4) || std::memcmp(signature, "PE\0\0", 4) != 0) return false;
    return stream.SecureRead(&header, sizeof header);
}

struct ModuleEnumeration {
    std::vector<HMODULE> Handles;
};

std::vector<HMODULE> EnumerateOwnModules()
{
    std::vector<HMODULE> handles;
    if (CurrentPlatformVersion().NT) {
        ModuleHandle psapi(::LoadLibraryA("PSAPI.DLL"));
        using EnumFn = BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, LPDWORD);
        auto enumModules =
            psapi.IsValid() ? reinterpret_cast<EnumFn>(::GetProcAddress(psapi.Get(), "EnumProcessModules")) : nullptr;
        if (enumModules == nullptr) return handles;
        KernelHandle process(::OpenProcess(kQueryAndRead, FALSE, ::GetCurrentProcessId()));
        if (!process.IsValid()) return handles;
        DWORD needed = 0;
        if (!enumModules(process.Get(), nullptr, 0, &needed) || needed == 0) return handles;
        handles.resize(needed / sizeof(HMODULE));
        if (!enumModules(process.Get(), handles.data(), needed, &needed)) return {};
        handles.resize(std::min<std::size_t>(handles.size(), needed / sizeof(HMODULE)));
        return handles;
    }
    KernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, ::GetCurrentProcessId()));
    if (!snapshot.IsValid() || snapshot.Get() == INVALID_HANDLE_VALUE) return handles;
    MODULEENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Module32First(snapshot.Get(), &entry); more; more = ::Module32Next(snapshot.Get(), &entry))
        handles.push_back(entry.hModule);
    return handles;
}

std::uint32_t PriorityFromBase(LONG base)
{
    if (base == 0) return 0;
    if (base < 6) return IDLE_PRIORITY_CLASS;
    if (base < 8) return BELOW_NORMAL_PRIORITY_CLASS;
    if (base < 10) return NORMAL_PRIORITY_CLASS;
    if (base < 13) return ABOVE_NORMAL_PRIORITY_CLASS;
    if (base > 23) return REALTIME_PRIORITY_CLASS;
    return HIGH_PRIORITY_CLASS;
}

// Snapshot entries are read in their wide form; reports carry ANSI text.
std::string Narrow(const wchar_t* text)
{
    const int length = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) return std::string();
    std::string narrow(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text, -1, narrow.data(), length, nullptr, nullptr);
    narrow.resize(static_cast<std::size_t>(length - 1));
    return narrow;
}

bool HasExtension(const std::string& name) { return name.find('.') != std::string::npos; }

struct ProcessApi {
    ModuleHandle Psapi;
    BOOL(WINAPI* GetProcessMemoryInfo)(HANDLE, PPROCESS_MEMORY_COUNTERS, DWORD) = nullptr;
    DWORD(WINAPI* GetModuleFileNameExA)(HANDLE, HMODULE, LPSTR, DWORD) = nullptr;
    BOOL(WINAPI* EnumProcesses)(DWORD*, DWORD, DWORD*) = nullptr;
};

void AddOpenedProcess(const ProcessApi& api, DWORD processId, const std::string& fallbackName)
{
    KernelHandle process(::OpenProcess(kQueryAndRead, FALSE, processId));
    if (!process.IsValid()) return;
    char path[kPathLength + 1] = {};
    std::string name;
    if (api.GetModuleFileNameExA != nullptr && api.GetModuleFileNameExA(process.Get(), nullptr, path, kPathLength) > 0)
        name = path;
    else
        name = fallbackName;
    name = TrimText(name);
    if (name.empty()) return;
    auto entry = std::make_unique<TOspreyProcessInfo>();
    entry->ProcessID = processId;
    entry->Name = name;
    GetFileVersionText(name, entry->Description, entry->Version);
    entry->Priority = ::GetPriorityClass(process.Get());
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (api.GetProcessMemoryInfo != nullptr && api.GetProcessMemoryInfo(process.Get(), &counters, sizeof counters))
        entry->Memory = static_cast<std::uint32_t>(counters.WorkingSetSize);
    g_processes->Add(std::move(entry));
}

// The full path of a process's executable from its module snapshot.
std::string ExecutablePath(DWORD processId, const std::string& exeName)
{
    KernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId));
    if (!snapshot.IsValid() || snapshot.Get() == INVALID_HANDLE_VALUE) return exeName;
    MODULEENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Module32First(snapshot.Get(), &entry); more; more = ::Module32Next(snapshot.Get(), &entry))
        if (::lstrcmpiA(Narrow(entry.szModule).c_str(), exeName.c_str()) == 0) return Narrow(entry.szExePath);
    return exeName;
}

void CountThreads()
{
    KernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot.IsValid() || snapshot.Get() == INVALID_HANDLE_VALUE) return;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int last = -1;
    for (BOOL more = ::Thread32First(snapshot.Get(), &entry); more; more = ::Thread32Next(snapshot.Get(), &entry)) {
        if (last < 0 || g_processes->Items(last)->ProcessID != entry.th32OwnerProcessID)
            last = g_processes->FindProcessID(entry.th32OwnerProcessID);
        if (last >= 0) ++g_processes->Items(last)->Threads;
    }
}

} // namespace

TOspreyModulesList* ModulesList() noexcept { return g_modules.get(); }
TOspreyProcessesList* ProcessesList() noexcept { return g_processes.get(); }

void CreateModulesLists()
{
    if (!g_modules) g_modules = std::make_unique<TOspreyModulesList>();
    if (!g_processes) g_processes = std::make_unique<TOspreyProcessesList>();
}

void DestroyModulesLists() noexcept
{
    g_modules.reset();
    g_processes.reset();
}

bool ModulesListRebuilding() noexcept { return g_rebuilding; }

PlatformVersion CurrentPlatformVersion()
{
    if (g_versionOverride != nullptr) return *g_versionOverride;
    return PlatformVersion{!RunningOnWindows9x(), RunningOnVistaOrLater() ? 6ul : 5ul};
}

void SetPlatformVersionOverride(const PlatformVersion* version) noexcept { g_versionOverride = version; }

HMODULE FindModuleOfAddress(const void* address)
{
    HMODULE module = nullptr;
    if (!::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCSTR>(address), &module))
        return nullptr;
    return module;
}

TOspreyModuleInfo* GetModuleInfoByHandle(HMODULE handle)
{
    if (handle == nullptr || !g_modules) return nullptr;
    for (int i = 0; i < g_modules->Count(); ++i) {
        TOspreyModuleInfo* entry = g_modules->Items(i);
        if (entry->Handle != handle) continue;
        if (entry->ModuleType != mtUnknown || g_rebuilding) return entry;
        // Made during a rebuild: completed in place, since stack entries may
        // already point at it.
        if (!ModuleHasFileName(handle)) return entry;
        if (handle != ::GetModuleHandleA(nullptr)) FillExportsList(handle, entry->FunctionsList);
        entry->ModuleType = GetModuleType(handle);
        if (!ReadModuleData(*entry)) {
            entry->ExtraInformation.OspreyVersion = ReporterVersion;
            entry->ExtraInformation.CompilationDate = 0;
            entry->ExtraInformation.DebugInformation.reset();
            if (const auto& hooks = GetOutsideDebugSourceHooks(); hooks.Create != nullptr)
                entry->OtherDebugData.reset(hooks.Create(handle));
        }
        return entry;
    }
    return LoadModuleInfo(handle) ? g_modules->Last() : nullptr;
}

TOspreyModuleInfo* GetModuleInfoByAddress(const void* address) { return GetModuleInfoByHandle(FindModuleOfAddress(address)); }

bool AddModuleInfo(HMODULE handle, const std::string& fileName, bool loadDebugData)
{
    if (!g_modules) return false;
    auto entry = std::make_unique<TOspreyModuleInfo>();
    entry->Handle = handle;
    entry->Name = fileName;
    entry->EncryptPassword.clear();
    entry->IsValidEncryptPassword = true;
    entry->LastModified = FileDateOf(fileName);
    GetFileVersionText(fileName, entry->Description, entry->Version);
    entry->Size = GetFileSizeByName(fileName);
    if (!loadDebugData || g_rebuilding) {
        entry->ModuleType = mtUnknown;
    } else {
        if (handle != ::GetModuleHandleA(nullptr)) FillExportsList(handle, entry->FunctionsList);
        entry->ModuleType = GetModuleType(handle);
    }
    entry->ExtraInformation.Options = std::make_unique<TOspreyModuleOptionsEx>(fileName);
    if (!loadDebugData || !ReadModuleData(*entry)) {
        entry->ExtraInformation.OspreyVersion = ReporterVersion;
        entry->ExtraInformation.CompilationDate = 0;
        entry->ExtraInformation.DebugInformation.reset();
        if (loadDebugData && !g_rebuilding)
            if (const auto& hooks = GetOutsideDebugSourceHooks(); hooks.Create != nullptr)
                entry->OtherDebugData.reset(hooks.Create(handle));
    }
    g_modules->Add(std::move(entry));
    return true;
}

bool LoadModuleInfo(HMODULE handle)
{
    if (!ModuleHasFileName(handle)) return false;
    return AddModuleInfo(handle, GetModuleFullName(handle), true);
}

void BuildModulesList()
{
    CreateModulesLists();
    for (int i = g_modules->Count() - 1; i >= 0; --i)
        if (!ModuleHasFileName(g_modules->Items(i)->Handle)) g_modules->Delete(i);
    struct RebuildFlag {
        RebuildFlag() { g_rebuilding = true; }
        ~RebuildFlag() { g_rebuilding = false; }
    } flag;
    for (HMODULE handle : EnumerateOwnModules())
        if (g_modules->FindByHandle(handle) == nullptr) LoadModuleInfo(handle);
    g_modules->SortByHandle();
}

void BuildProcessesList()
{
    CreateModulesLists();
    g_processes->Clear();
    ProcessApi api;
    api.Psapi.Reset(::LoadLibraryA("PSAPI.dll"));
    if (api.Psapi.IsValid()) {
        api.GetProcessMemoryInfo = reinterpret_cast<decltype(api.GetProcessMemoryInfo)>(
            ::GetProcAddress(api.Psapi.Get(), "GetProcessMemoryInfo"));
        api.GetModuleFileNameExA = reinterpret_cast<decltype(api.GetModuleFileNameExA)>(
            ::GetProcAddress(api.Psapi.Get(), "GetModuleFileNameExA"));
        api.EnumProcesses =
            reinterpret_cast<decltype(api.EnumProcesses)>(::GetProcAddress(api.Psapi.Get(), "EnumProcesses"));
    }
    const PlatformVersion version = CurrentPlatformVersion();
    bool fromSnapshotAlone = false;
    if (version.NT && version.Major < 5) {
        if (api.EnumProcesses != nullptr) {
            DWORD ids[1025];
            DWORD bytes = 0;
            if (api.EnumProcesses(ids, sizeof ids, &bytes))
                for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i) AddOpenedProcess(api, ids[i], std::string());
        }
    } else {
        KernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        if (snapshot.IsValid() && snapshot.Get() != INVALID_HANDLE_VALUE) {
            PROCESSENTRY32 entry{};
            entry.dwSize = sizeof entry;
            for (BOOL more = ::Process32First(snapshot.Get(), &entry); more;
                 more = ::Process32Next(snapshot.Get(), &entry)) {
                const std::string exeName = Narrow(entry.szExeFile);
                if (version.NT && version.Major >= 6) {
                    auto process = std::make_unique<TOspreyProcessInfo>();
                    process->Name = TrimText(HasExtension(exeName) ? ExecutablePath(entry.th32ProcessID, exeName) : exeName);
                    if (process->Name.empty()) continue; // a process without a name is not listed
                    if (HasExtension(process->Name)) GetFileVersionText(process->Name, process->Description, process->Version);
                    process->ProcessID = entry.th32ProcessID;
                    process->Priority = PriorityFromBase(entry.pcPriClassBase);
                    process->Threads = entry.cntThreads;
                    g_processes->Add(std::move(process));
                    fromSnapshotAlone = true;
                } else {
                    AddOpenedProcess(api, entry.th32ProcessID, exeName);
                }
            }
        }
    }
    g_processes->SortByProcessID();
    if (!fromSnapshotAlone) CountThreads();
}

bool ModuleIsDLL(HMODULE handle)
{
    IMAGE_FILE_HEADER header{};
    if (ReadFileHeader(handle, header)) return (header.Characteristics & IMAGE_FILE_DLL) != 0;
    IMAGE_FILE_HEADER own{};
    return ReadFileHeader(OwnModuleHandle(), own) && (own.Characteristics & IMAGE_FILE_DLL) != 0;
}

TOspreyModuleType GetModuleType(HMODULE handle)
{
    IMAGE_FILE_HEADER header{};
    if (!ReadFileHeader(handle, header)) return mtUnknown;
    if ((header.Characteristics & IMAGE_FILE_DLL) == 0) return mtMainModule;
    const std::string name = GetModuleFullName(handle);
    ModuleHandle data(::LoadLibraryExA(name.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!data.IsValid()) return mtOSLibrary;
    const bool package = ::FindResourceA(data.Get(), "PACKAGEINFO", MAKEINTRESOURCEA(10)) != nullptr &&
                         ::FindResourceA(data.Get(), "PACKAGEOPTIONS", MAKEINTRESOURCEA(10)) != nullptr;
    return package ? mtRuntimePackage : mtOSLibrary;
}

void GetFileVersionText(const std::string& fileName, std::string& description, std::string& version)
{
    description.clear();
    version.clear();
    if (fileName.empty()) return;
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(fileName.c_str(), &ignored);
    if (size == 0) return;
    std::vector<char> data(size);
    if (!::GetFileVersionInfoA(fileName.c_str(), 0, size, data.data())) return;
    void* value = nullptr;
    UINT length = 0;
    if (::VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", &value, &length) && length >= 4) {
        const auto* translation = static_cast<const WORD*>(value);
        char key[64];
        wsprintfA(key, "\\StringFileInfo\\%04X%04X\\FileDescription", translation[0], translation[1]);
        if (::VerQueryValueA(data.data(), key, &value, &length) && length > 1)
            description = static_cast<const char*>(value);
    }
    if (::VerQueryValueA(data.data(), "\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
        version = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionMS)) +
                  "." + std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionLS));
        if (version == "0.0.0.0") version.clear();
    }
}

bool FillExportsList(HMODULE handle, TOspreyFunctionsList& list)
{
    if (!ModuleHasFileName(handle)) return false;
    const auto* base = reinterpret_cast<const std::uint8_t*>(handle);
    if (!IsReadableMemory(base, 64)) return false;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    if (!IsReadableMemory(nt, 248)) return false;
    const DWORD codeStart = nt->OptionalHeader.BaseOfCode, codeSize = nt->OptionalHeader.SizeOfCode;
    if (!IsReadableMemory(base + codeStart, codeSize)) return false;
    const IMAGE_DATA_DIRECTORY directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    const auto* sections = IMAGE_FIRST_SECTION(nt);
    const WORD sectionCount = nt->FileHeader.NumberOfSections;
    if (!IsReadableMemory(sections, sectionCount * sizeof(IMAGE_SECTION_HEADER))) return false;
    bool inside = false;
    for (WORD i = 0; i < sectionCount; ++i)
        if (sections[i].VirtualAddress <= directory.VirtualAddress &&
            directory.VirtualAddress < sections[i].VirtualAddress + sections[i].Misc.VirtualSize)
            inside = true;
    if (!inside || directory.VirtualAddress == 0) return false;
    const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
    if (!IsReadableMemory(exports, sizeof *exports) || exports->Characteristics != 0) return false;
    const DWORD count = std::min(exports->NumberOfFunctions, exports->NumberOfNames);
    const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    const auto* ordinals = reinterpret_cast<const WORD*>(base + exports->AddressOfNameOrdinals);
    const auto* functions = reinterpret_cast<const DWORD*>(base + exports->AddressOfFunctions);
    if (!IsReadableMemory(names, count * 4) || !IsReadableMemory(ordinals, count * 2)) return false;
    const std::size_t before = list.Count();
    for (DWORD i = 0; i < count; ++i) {
        const WORD ordinal = ordinals[i];
        if (ordinal >= exports->NumberOfFunctions || !IsReadableMemory(functions + ordinal, 4)) continue;
        const char* nameText = reinterpret_cast<const char*>(base + names[i]);
        std::string name;
        for (int k = 0; k < 256 && IsReadableMemory(nameText + k, 1) && nameText[k] != '\0'; ++k) name += nameText[k];
        const DWORD rva = functions[ordinal];
        const void* address = base + rva;
        if (rva >= directory.VirtualAddress && rva < directory.VirtualAddress + directory.Size)
            address = reinterpret_cast<const void*>(::GetProcAddress(handle, name.c_str())); // a forwarder
        if (!CurrentPlatformVersion().NT && IsReadableMemory(address, 6)) {
            const auto* code = static_cast<const std::uint8_t*>(address);
            if (code[0] == 0x68 && code[5] == 0xE9) {
                std::uint32_t pushed;
                std::memcpy(&pushed, code + 1, 4);
                address = reinterpret_cast<const void*>(pushed);
            }
        }
        auto function = std::make_unique<TOspreyFunctionInfo>();
        function->Name = name;
        function->Address = address;
        function->Size = reinterpret_cast<std::uintptr_t>(address) < reinterpret_cast<std::uintptr_t>(base + codeStart) ? 1 : 0;
        list.Add(std::move(function));
    }
    list.SortByAddress();
    return static_cast<std::size_t>(list.Count()) > before;
}

std::uint32_t GetParentProcessId()
{
    KernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.IsValid() || snapshot.Get() == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    const DWORD own = ::GetCurrentProcessId();
    for (BOOL more = ::Process32First(snapshot.Get(), &entry); more; more = ::Process32Next(snapshot.Get(), &entry))
        if (entry.th32ProcessID == own) return entry.th32ParentProcessID;
    return 0;
}

std::string ExtractFileFolder(std::string_view fileName)
{
    std::string name(fileName);
    if (name.rfind("\\??\\", 0) == 0) name.erase(0, 4);
    const std::size_t slash = name.find_last_of("\\:");
    if (slash == std::string::npos) return std::string();
    std::string folder = name.substr(0, slash + 1);
    const bool driveRoot = folder.size() == 3 && folder[1] == ':' && folder[2] == '\\';
    if (!driveRoot && !folder.empty() && folder.back() == '\\') folder.pop_back();
    return folder;
}

std::string FormatSizeKb(std::uint32_t bytes)
{
    if (bytes == 0) return std::string();
    return std::to_string(static_cast<long long>(std::nearbyint(bytes / 1024.0))) + " Kb";
}

std::string VersionMajorMinorX(std::string_view version)
{
    const std::size_t first = version.find('.');
    if (first == std::string_view::npos) return std::string(version);
    const std::size_t second = version.find('.', first + 1);
    if (second == std::string_view::npos) return std::string(version);
    return std::string(version.substr(0, second + 1)) + "x";
}

std::string PriorityClassName(std::uint32_t priorityClass)
{
    switch (priorityClass) {
    case NORMAL_PRIORITY_CLASS: return "Normal";
    case IDLE_PRIORITY_CLASS: return "Low";
    case HIGH_PRIORITY_CLASS: return "High";
    case REALTIME_PRIORITY_CLASS: return "Real-Time";
    case BELOW_NORMAL_PRIORITY_CLASS: return "Below-Normal";
    case ABOVE_NORMAL_PRIORITY_CLASS: return "Above-Normal";
    default: return std::string();
    }
}

std::string PriorityNumberText(std::uint32_t number) { return number == 0 ? "??" : std::to_string(number); }

std::string GetAppVersionText()
{
    std::string description, version;
    GetFileVersionText(GetExeFileName(), description, version);
    return version;
}

std::uint32_t GetFileSizeByName(const std::string& fileName)
{
    WIN32_FIND_DATAA data{};
    FindHandle find(::FindFirstFileA(fileName.c_str(), &data));
    if (!find.IsValid() || find.Get() == INVALID_HANDLE_VALUE) return 0;
    return data.nFileSizeLow;
}

bool ForceDeleteFile(const std::string& fileName)
{
    const DWORD attributes = ::GetFileAttributesA(fileName.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        ::SetFileAttributesA(fileName.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    const int length = ::MultiByteToWideChar(CP_ACP, 0, fileName.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 1), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, fileName.c_str(), -1, wide.data(), length);
    return ::DeleteFileW(wide.c_str()) != 0;
}

} // namespace kv::crashreport
