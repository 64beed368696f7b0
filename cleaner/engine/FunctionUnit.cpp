#include "cleaner/engine/FunctionUnit.h"

#include <sddl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <winioctl.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "platform/Exceptions.h"
#include "platform/Format.h"
#include "platform/Handles.h"
#include "platform/MessageLoop.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "platform/TextCodec.h"

namespace kv {

std::array<std::uint32_t, 26> ClusterSizes{};
std::atomic<long> WorkerThreadCount{1};
std::wstring BrowseStartFolder;

// ---------------------------------------------------------------------------
// Matching and comparing

bool MatchWildcard(std::wstring_view maskText, std::wstring_view nameText)
{
    return MatchUpperCaseWildcard(UpperCase(maskText), UpperCase(nameText));
}

bool MatchUpperCaseWildcard(std::wstring_view mask, std::wstring_view name)
{
    const std::size_t maskEnd = mask.size();
    const std::size_t nameEnd = name.size();
    constexpr std::size_t kUnset = static_cast<std::size_t>(-1);
    std::size_t n = 0, m = 0;
    std::size_t savedMask = kUnset, savedName = kUnset;

    // The matcher keeps a single resumption point: after a failed comparison it
    // restarts the mask behind the last "*" at the name position just behind
    // the character that the last star search found.
    enum class Step { Compare, StarSearch } step = Step::Compare;
    for (;;) {
        if (step == Step::Compare) {
            if (m == maskEnd) {
                if (n == nameEnd) return true;
                if (savedMask == kUnset || savedName == kUnset) return false;
                n = savedName;
                m = savedMask;
                step = Step::StarSearch;
                continue;
            }
            const wchar_t c = mask[m];
            if (c == L'*') {
                savedMask = ++m;
                step = Step::StarSearch;
                continue;
            }
            if (n == nameEnd) return false;
            if (c == L'?' || name[n] == c) {
                ++n;
                ++m;
                continue;
            }
            if (savedMask == kUnset || savedName == kUnset) return false;
            n = savedName;
            m = savedMask;
            step = Step::StarSearch;
            continue;
        }
        // Star search.
        if (m == maskEnd) return true;
        const wchar_t c = mask[m];
        if (c == L'*') {
            savedMask = ++m;
            continue;
        }
        if (c == L'?') {
            if (n == nameEnd) return false;
            ++n;
            ++m;
            continue;
        }
        const std::size_t k = name.find(c, n);
        if (k == std::wstring_view::npos) return false;
        savedName = n = k + 1;
        ++m;
        step = Step::Compare;
    }
}

namespace {

// A part that is no whole number (empty, other characters, too large) counts 0.
int VersionPart(std::wstring_view text)
{
    if (text.empty() || text.size() > 9) return 0;
    int value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return 0;
        value = value * 10 + (c - L'0');
    }
    return value;
}

std::array<int, 4> VersionParts(std::wstring_view version)
{
    std::wstring text(version);
    text += L"...";
    std::array<int, 4> parts{};
    std::size_t start = 0;
    for (int& part : parts) {
        std::size_t end = start;
        while (end < text.size() && text[end] != L'.' && text[end] > L' ') ++end;
        part = VersionPart(std::wstring_view(text).substr(start, end - start));
        start = end < text.size() ? end + 1 : end;
    }
    return parts;
}

// The digits of a text, without leading zeros ("" for zero).
std::wstring SignificantDigits(std::wstring_view text)
{
    std::wstring digits;
    for (wchar_t c : text)
        if (c >= L'0' && c <= L'9' && !(digits.empty() && c == L'0')) digits += c;
    return digits;
}

int CompareDigitTexts(std::wstring_view a, std::wstring_view b)
{
    const std::wstring x = SignificantDigits(a);
    const std::wstring y = SignificantDigits(b);
    if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
    const int c = x.compare(y);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

} // namespace

bool CompareVersions(std::wstring_view current, std::wstring_view newest)
{
    const auto have = VersionParts(current);
    const auto offered = VersionParts(newest);
    for (std::size_t i = 0; i < have.size(); ++i)
        if (have[i] != offered[i]) return offered[i] > have[i];
    return false;
}

// Digits are compared as arbitrarily long numbers, so no size text overflows.
int CompareNumericText(std::wstring_view a, std::wstring_view b) { return CompareDigitTexts(a, b); }

int CompareSizeText(std::wstring_view a, std::wstring_view b) { return CompareDigitTexts(a, b); }

bool IsValidFileName(std::wstring_view name)
{
    if (name.empty()) return false;
    if (name.find_first_of(L"\\/:*?\"<>|") != std::wstring_view::npos) return false;
    return name.front() != L' ' && name.back() != L' ';
}

// ---------------------------------------------------------------------------
// Sizes and their display

namespace {

std::wstring LocaleText(LCTYPE type, const wchar_t* fallback)
{
    wchar_t buffer[8] = {};
    if (::GetLocaleInfoW(LOCALE_USER_DEFAULT, type, buffer, 8) <= 1) return fallback;
    return buffer;
}

std::wstring FormatNumberText(const std::wstring& plain, int decimals)
{
    std::wstring decimalSeparator = LocaleText(LOCALE_SDECIMAL, L".");
    std::wstring thousandSeparator = LocaleText(LOCALE_STHOUSAND, L",");
    NUMBERFMTW format{};
    format.NumDigits = static_cast<UINT>(decimals);
    format.LeadingZero = 1;
    format.Grouping = 3;
    format.lpDecimalSep = decimalSeparator.data();
    format.lpThousandSep = thousandSeparator.data();
    format.NegativeOrder = 1;
    wchar_t buffer[96];
    if (::GetNumberFormatW(LOCALE_USER_DEFAULT, 0, plain.c_str(), &format, buffer, 96) <= 0) return plain;
    return buffer;
}

} // namespace

std::wstring FormatThousands(std::int64_t value) { return FormatNumberText(std::to_wstring(value), 0); }

std::wstring FormatFileSize(std::int64_t bytes)
{
    if (bytes < 0) return FormatNumberText(L"0", 2) + L" KB";
    if (bytes < 1024) return std::to_wstring(bytes) + L" Bytes";
    struct Unit {
        std::int64_t limit;
        double divisor;
        const wchar_t* suffix;
    };
    static const Unit units[] = {{1048576, 1024.0, L" KB"}, {1073741824, 1048576.0, L" MB"},
                                 {INT64_MAX, 1073741824.0, L" GB"}};
    for (const Unit& unit : units) {
        if (bytes < unit.limit || unit.limit == INT64_MAX) {
            // Two decimals, rounded half away from zero, then grouped by the locale.
            const long double scaled = std::floor(static_cast<long double>(bytes) / unit.divisor * 100.0L + 0.5L);
            const auto hundredths = static_cast<std::int64_t>(scaled);
            std::wstring plain = std::to_wstring(hundredths / 100) + L"." +
                                 Format(L"%.2d", {static_cast<int>(hundredths % 100)});
            return FormatNumberText(plain, 2) + unit.suffix;
        }
    }
    return std::wstring();
}

std::wstring FileTimeToText(const FILETIME& time)
{
    SYSTEMTIME fields{};
    if (!::FileTimeToSystemTime(&time, &fields)) return std::wstring();
    return Format(L"%.2d-%.2d-%.2d %.2d:%.2d:%.2d", {fields.wYear, fields.wMonth, fields.wDay, fields.wHour,
                                                     fields.wMinute, fields.wSecond});
}

std::int64_t FileSizeOf(const std::wstring& path)
{
    FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size{};
    if (!file || !::GetFileSizeEx(file.Get(), &size)) return 0;
    return size.QuadPart;
}

std::int64_t SizeOnDisk(const std::wstring& path, std::int64_t size)
{
    if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return 0;
    if (size < 0) size = FileSizeOf(path);
    return ClusterRoundedSize(path, size);
}

std::int64_t ClusterRoundedSize(const std::wstring& path, std::int64_t size)
{
    wchar_t drive = path.empty() ? L'C' : static_cast<wchar_t>(UpperCase(path.substr(0, 1))[0]);
    if (drive < L'A' || drive > L'Z') drive = L'C';
    const std::int64_t cluster = ClusterSizes[drive - L'A'];
    if (cluster != 0 && size % cluster != 0) size = (size / cluster + 1) * cluster;
    return size;
}

std::int64_t FileSizeOnDisk(const std::wstring& path, std::int64_t size) { return SizeOnDisk(path, size); }

std::uint32_t GetClusterSize(const std::wstring& root)
{
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
    if (!::GetDiskFreeSpaceW(root.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters))
        return 0;
    return sectorsPerCluster * bytesPerSector;
}

namespace {

// The register block of the Windows 9x system device's DOS services.
struct DiocRegisters {
    DWORD ebx, edx, ecx, eax, edi, esi, flags;
};
#pragma pack(push, 1)
struct DiskIoPacket {
    DWORD startSector;
    WORD sectorCount;
    DWORD buffer;
};
#pragma pack(pop)
constexpr DWORD kVwin32DosDriveInfo = 6;
constexpr DWORD kCarryFlag = 1;

} // namespace

std::uint32_t GetClusterSize9x(int driveNumber)
{
    FileHandle device(::CreateFileW(L"\\\\.\\vwin32", 0, 0, nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!device) throw Exception(Format(L"Error Code: %.2x", {static_cast<int>(::GetLastError() & 0xFFFF)}));
    std::uint8_t sector[512] = {};
    DiskIoPacket packet{0, 1, static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(sector))};
    DiocRegisters registers{};
    registers.eax = 0x7305;
    registers.ebx = static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(&packet));
    registers.ecx = 0xFFFFFFFF;
    registers.edx = static_cast<DWORD>(driveNumber);
    registers.esi = 0; // read
    registers.flags = kCarryFlag;
    DWORD returned = 0;
    const BOOL ok = ::DeviceIoControl(device.Get(), kVwin32DosDriveInfo, &registers, sizeof registers, &registers,
                                      sizeof registers, &returned, nullptr);
    if (!ok || (registers.flags & kCarryFlag))
        throw Exception(Format(L"Error Code: %.2x", {static_cast<int>(registers.eax & 0xFFFF)}));
    return static_cast<std::uint32_t>(sector[13]) * 512;
}

namespace {

std::optional<std::int64_t> QueryDiskSpace(const std::wstring& root, int which)
{
    ULARGE_INTEGER available{}, total{}, free{};
    if (which != 0 && which != 1) return 0;
    if (!::GetDiskFreeSpaceExW(root.c_str(), &available, &total, &free)) return std::nullopt;
    return static_cast<std::int64_t>(which == 0 ? total.QuadPart : available.QuadPart);
}

} // namespace

std::int64_t GetDiskSpace(const std::wstring& root, int which) { return QueryDiskSpace(root, which).value_or(0); }

std::wstring FormatDiskSpace(const std::wstring& root, int which)
{
    const auto space = QueryDiskSpace(root, which);
    return space ? FormatFileSize(*space) : std::wstring();
}

// ---------------------------------------------------------------------------
// Folders and paths

std::wstring GetTempFolder()
{
    wchar_t buffer[257] = {};
    const DWORD length = ::GetTempPathW(256, buffer);
    return length > 0 && length <= 256 ? std::wstring(buffer, length) : std::wstring();
}

std::wstring GetWindowsFolder()
{
    wchar_t buffer[256] = {};
    const UINT length = ::GetWindowsDirectoryW(buffer, 255);
    std::wstring folder = length > 0 && length < 256 ? std::wstring(buffer, length) : std::wstring();
    if (folder.size() > 1 && folder.back() == L'\\') folder.pop_back();
    return folder;
}

std::wstring GetShellFolder(std::wstring_view name)
{
    const RegistryKey key = RegistryKey::Open(
        HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders");
    return key.ReadString(name).value_or(std::wstring());
}

std::wstring GetTruePathName(const std::wstring& folder)
{
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return std::wstring();
    std::wstring path = folder;
    std::wstring result;
    while (path.size() > 3) {
        if (path.back() == L'\\') path.pop_back();
        WIN32_FIND_DATAW entry{};
        FindHandle find(::FindFirstFileW(path.c_str(), &entry));
        if (find && (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            result = std::wstring(entry.cFileName) + L"\\" + result;
        else
            result.clear();
        const std::size_t slash = path.rfind(L'\\');
        if (slash == std::wstring::npos) {
            path.clear();
            break;
        }
        path.resize(slash + 1);
    }
    return WithTrailingBackslash(path) + result;
}

std::wstring GetShortPath(const std::wstring& path)
{
    wchar_t buffer[260] = {};
    const DWORD length = ::GetShortPathNameW(path.c_str(), buffer, 259);
    return length > 0 && length < 260 ? std::wstring(buffer, length) : std::wstring();
}

void CreateFolderPath(std::wstring_view path)
{
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] != L'\\') continue;
        const std::wstring prefix(path.substr(0, i + 1));
        if (::GetFileAttributesW(prefix.c_str()) == INVALID_FILE_ATTRIBUTES)
            ::CreateDirectoryW(prefix.c_str(), nullptr);
    }
}

std::wstring ExpandEnvironment(const std::wstring& text)
{
    if (text.find(L'%') == std::wstring::npos) return text;
    std::wstring buffer(512, L'\0');
    DWORD needed = ::ExpandEnvironmentStringsW(text.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (needed > buffer.size()) {
        buffer.assign(needed, L'\0');
        needed = ::ExpandEnvironmentStringsW(text.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    }
    if (needed == 0 || needed > buffer.size()) return text;
    buffer.resize(needed - 1);
    return buffer;
}

bool IsRealSubFolder(const WIN32_FIND_DATAW& entry)
{
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    const std::wstring_view name(entry.cFileName);
    return name != L"." && name != L"..";
}

std::int64_t ListedSize(const WIN32_FIND_DATAW& entry)
{
    return (static_cast<std::int64_t>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
}

namespace {

std::wstring VolumeInformation(const std::wstring& root, bool fileSystem)
{
    wchar_t label[MAX_PATH + 1] = {};
    wchar_t system[MAX_PATH + 1] = {};
    DWORD serial = 0, maxLength = 0, flags = 0;
    if (!::GetVolumeInformationW(root.c_str(), label, MAX_PATH + 1, &serial, &maxLength, &flags, system,
                                 MAX_PATH + 1))
        return std::wstring();
    return fileSystem ? system : label;
}

} // namespace

std::wstring GetVolumeLabel(const std::wstring& root) { return VolumeInformation(root, false); }

std::wstring GetFileSystemName(const std::wstring& root) { return VolumeInformation(root, true); }

// ---------------------------------------------------------------------------
// Files

bool CanOpenFile(const std::wstring& path)
{
    auto tryOpen = [&] {
        const FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
        return file.IsValid();
    };
    if (tryOpen()) return true;
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY)) return false;
    if (!::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) return false;
    const bool opened = tryOpen();
    ::SetFileAttributesW(path.c_str(), attributes);
    return opened;
}

int FindBytes(std::string_view needle, std::string_view haystack, int start, int count)
{
    if (needle.empty() || haystack.empty()) return 0;
    if (start < 1) start = 1;
    const std::size_t from = static_cast<std::size_t>(start - 1);
    if (from >= haystack.size()) return 0;
    std::string_view region = haystack.substr(from);
    if (count > 0) region = region.substr(0, static_cast<std::size_t>(count));
    const std::size_t at = region.find(needle);
    return at == std::string_view::npos ? 0 : static_cast<int>(from + at + 1);
}

bool WriteUnicodeFile(const std::wstring& path, std::wstring_view text)
{
    std::string bytes("\xFF\xFE", 2);
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    return WriteWholeFile(path, bytes);
}

bool WriteWholeFile(const std::wstring& path, std::string_view bytes)
{
    FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
    if (!file) return false;
    DWORD written = 0;
    return ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

std::wstring DecodeText(std::string_view bytes)
{
    auto startsWith = [&](std::string_view mark) { return bytes.substr(0, mark.size()) == mark; };
    if (startsWith("\xFF\xFE")) {
        bytes.remove_prefix(2);
        std::wstring text(bytes.size() / 2, L'\0');
        std::memcpy(text.data(), bytes.data(), text.size() * 2);
        return text;
    }
    if (startsWith("\xFE\xFF")) {
        bytes.remove_prefix(2);
        std::wstring text(bytes.size() / 2, L'\0');
        for (std::size_t i = 0; i < text.size(); ++i)
            text[i] = static_cast<wchar_t>((static_cast<std::uint8_t>(bytes[2 * i]) << 8) |
                                           static_cast<std::uint8_t>(bytes[2 * i + 1]));
        return text;
    }
    if (startsWith("\xEF\xBB\xBF")) return Utf8ToWide(bytes.substr(3));
    return AnsiToWide(bytes);
}

std::wstring LoadResourceText(const wchar_t* resourceName)
{
    const HRSRC resource = ::FindResourceW(nullptr, resourceName, reinterpret_cast<LPCWSTR>(RT_RCDATA));
    if (!resource) return std::wstring();
    const HGLOBAL loaded = ::LoadResource(nullptr, resource);
    const void* data = loaded ? ::LockResource(loaded) : nullptr;
    if (!data) return std::wstring();
    return DecodeText(std::string_view(static_cast<const char*>(data), ::SizeofResource(nullptr, resource)));
}

INT_PTR OpenWithShell(const std::wstring& target, const std::wstring& parameters, const std::wstring& folder,
                      int showCommand)
{
    if (target.size() < 3) return 0;
    return reinterpret_cast<INT_PTR>(::ShellExecuteW(ApplicationWindow(), nullptr, target.c_str(),
                                                     parameters.empty() ? nullptr : parameters.c_str(),
                                                     folder.empty() ? nullptr : folder.c_str(), showCommand));
}

// ---------------------------------------------------------------------------
// Registry

bool DeleteRegistryKey(HKEY root, std::wstring_view path) { return DeleteRegistryTree(root, path); }

// ---------------------------------------------------------------------------
// System and process

bool IsAlreadyRunning()
{
    // Held until the process ends: the mutex marks the running instance.
    static KernelHandle instanceMutex;
    KernelHandle mutex(::CreateMutexW(nullptr, TRUE, L"Kestrelvane"));
    if (mutex && ::GetLastError() == ERROR_ALREADY_EXISTS) return true;
    if (mutex) instanceMutex = std::move(mutex);
    return false;
}

int RunAndWait(const std::wstring& program, const std::wstring& parameters)
{
    std::wstring commandLine = program + L" " + parameters;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                          CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &process))
        return -1;
    KernelHandle processHandle(process.hProcess);
    KernelHandle threadHandle(process.hThread);
    while (::WaitForSingleObject(processHandle.Get(), 100) == WAIT_TIMEOUT) ProcessMessages();
    DWORD exitCode = 0;
    if (!::GetExitCodeProcess(processHandle.Get(), &exitCode)) return -1;
    return static_cast<int>(exitCode);
}

bool IsUACEnabled()
{
    const RegistryKey key = RegistryKey::Open(HKEY_LOCAL_MACHINE,
                                              L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System");
    return key.ReadDword(L"EnableLUA").value_or(0) != 0;
}

std::wstring GetCurrentUserSid()
{
    // The process token names the user directly; matching APPDATA against
    // HKEY_USERS\<sid>\Volatile Environment finds nothing where that key is
    // not kept (Wine, some roaming set-ups).
    HANDLE rawToken = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &rawToken)) return std::wstring();
    KernelHandle token(rawToken);
    DWORD size = 0;
    ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
    if (size == 0) return std::wstring();
    std::vector<std::uint8_t> buffer(size);
    if (!::GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size)) return std::wstring();
    LocalMemory<wchar_t> text;
    if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, text.Receive()))
        return std::wstring();
    return std::wstring(text.Get());
}

std::wstring ReadFileVersionText()
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path, &handle);
    if (size == 0) return L"N/A";
    std::vector<std::uint8_t> data(size);
    if (!::GetFileVersionInfoW(path, 0, size, data.data())) return L"N/A";
    wchar_t* value = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(data.data(), L"\\StringFileInfo\\040904E4\\FileVersion", reinterpret_cast<void**>(&value),
                          &length) ||
        !value)
        return L"N/A";
    std::wstring text(value, length);
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
}

bool SetClipboardText(std::wstring_view text)
{
    if (!::OpenClipboard(ApplicationWindow())) return false;
    ::EmptyClipboard();
    GlobalMemory block(::GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, (text.size() + 1) * sizeof(wchar_t)));
    bool handedOver = false;
    if (block) {
        if (auto* target = static_cast<wchar_t*>(::GlobalLock(block.Get()))) {
            std::memcpy(target, text.data(), text.size() * sizeof(wchar_t));
            target[text.size()] = L'\0';
            ::GlobalUnlock(block.Get());
            // Once handed over, the block belongs to the clipboard.
            handedOver = ::SetClipboardData(CF_UNICODETEXT, block.Get()) != nullptr;
            if (handedOver) block.Release();
        }
    }
    ::CloseClipboard();
    return handedOver;
}

long IncThreadCount() { return ++WorkerThreadCount; }

long DecThreadCount() { return --WorkerThreadCount; }

} // namespace kv
