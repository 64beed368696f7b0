#include "cleaner/engine/CleanTargets.h"

#include <algorithm>

#include "cleaner/engine/DeleteGuard.h"
#include "cleaner/engine/FunctionUnit.h"
#include "platform/Exceptions.h"
#include "platform/Format.h"
#include "platform/Handles.h"
#include "platform/IniFile.h"
#include "platform/MessageLoop.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "platform/StringList.h"
#include "platform/TextCodec.h"

namespace kv {

namespace {

bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b) { return UpperCase(a) == UpperCase(b); }


// profiles.ini is written in UTF-8; older files may be in the ANSI code page.
std::wstring DecodeIniText(const std::string& bytes)
{
    if (bytes.empty()) return std::wstring();
    const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                             static_cast<int>(bytes.size()), nullptr, 0);
    if (length <= 0) return DecodeText(bytes);
    std::wstring text = Utf8ToWide(bytes);
    if (!text.empty() && text.front() == 0xFEFF) text.erase(0, 1);
    return text;
}

bool IsSafeRelativePath(const std::wstring& path)
{
    if (path.empty() || path.front() == L'\\' || path.find(L':') != std::wstring::npos) return false;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(L'\\', start);
        if (end == std::wstring::npos) end = path.size();
        const std::wstring part = path.substr(start, end - start);
        if (part == L"." || part == L"..") return false;
        start = end + 1;
    }
    return true;
}

void EmptyFolder(const TDeleteGuard& guard, const std::wstring& folder, std::wstring_view mask, bool withSubFolders,
                 TSkipList* skipped)
{
    const TCheckedFolder checked(folder);
    if (!checked.IsUsable()) {
        if (checked.Refusal()) NoteSkipped(skipped, folder, *checked.Refusal());
        return;
    }
    WIN32_FIND_DATAW entry{};
    FindHandle find(::FindFirstFileW((folder + L"*.*").c_str(), &entry));
    if (!find) return;
    do {
        const std::wstring_view name(entry.cFileName);
        if (name == L"." || name == L"..") continue;
        // Joined to the folder, such a name would name another entry.
        if (!IsPlainEntryName(name)) {
            NoteSkipped(skipped, folder + entry.cFileName, TSkipReason::NotPlainName);
            continue;
        }
        if (IsRealSubFolder(entry)) {
            if (!withSubFolders) continue;
            if (IsWalkableFolder(entry)) EmptyFolder(guard, folder + entry.cFileName + L"\\", mask, true, skipped);
            guard.DeleteEntry(checked, entry, skipped);
        } else if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && MatchWildcard(mask, entry.cFileName)) {
            guard.DeleteEntry(checked, entry, skipped);
        }
    } while (StopRequested != 1 && ::FindNextFileW(find.Get(), &entry));
}

void WipeIndexFolder(const TDeleteGuard& guard, const std::wstring& folder)
{
    {
        WIN32_FIND_DATAW entry{};
        FindHandle find(::FindFirstFileW((folder + L"*.*").c_str(), &entry));
        if (find) {
            do {
                if (!IsWalkableFolder(entry) || !IsPlainEntryName(entry.cFileName)) continue;
                WipeIndexFolder(guard, folder + entry.cFileName + L"\\");
                // Effective only once the folder is empty.
                guard.DeleteEntry(folder, entry);
            } while (::FindNextFileW(find.Get(), &entry));
        }
    }
    const std::wstring index = folder + L"index.dat";
    if (!FileExists(index)) return;
    // A container in use cannot be deleted; its records are blanked instead.
    if (!guard.DeleteNamedFile(index)) ZeroFillFile(index, 0, 0);
}

// ---- Registry tracks

void DeleteCurrentUserKey(std::wstring_view path) { DeleteRegistryKey(HKEY_CURRENT_USER, path); }

std::wstring DefaultValue(HKEY root, std::wstring_view path)
{
    return RegistryKey::Open(root, path).ReadString(L"").value_or(std::wstring());
}

// A registry text that is spliced into a key path must stay one key name.
bool IsSingleKeyName(const std::wstring& name)
{
    return !name.empty() && name.find(L'\\') == std::wstring::npos && name.find(L'/') == std::wstring::npos;
}

void DeleteNumberedSubKeys(HKEY root, const std::wstring& parent, std::wstring_view listName)
{
    for (int n = 1;; ++n) {
        const std::wstring key = parent + std::wstring(listName) + std::to_wstring(n);
        if (!RegistryKeyExists(root, key)) break;
        DeleteRegistryKey(root, key);
    }
}

std::wstring FileSearchBandClassId()
{
    const std::wstring id = DefaultValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Shell.FileSearchBand\\CLSID");
    return IsSingleKeyName(id) ? id : std::wstring();
}

void CleanUltraEditFindHistory()
{
    DeleteIniEntry(UltraEditIniFile, L"Find History", L"");
    DeleteIniEntry(UltraEditIniFile, L"Replace History", L"");
    DeleteIniEntry(UltraEditIniFile, L"Find/Replace", L"FindString");
    DeleteIniEntry(UltraEditIniFile, L"Find/Replace", L"ReplaceString");
}

struct TRegistryTrack {
    const wchar_t* entry;
    std::array<const wchar_t*, 2> keys; // deleted with their sub-keys
    void (*extra)();
    bool needsUltraEditIni;
};

const TRegistryTrack kRegistryTracks[] = {
    {L"WinZipFileMenu", {L"Software\\Nico Mak Computing\\WinZip\\filemenu"}, nullptr, false},
    {L"WinZipExtractMenu", {L"Software\\Nico Mak Computing\\WinZip\\extract"}, nullptr, false},
    {L"WinRarFileMenu", {L"Software\\WinRAR\\ArcHistory"}, nullptr, false},
    {L"PaintRecentFileMenu", {L"Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\Paint\\Recent File List"},
     nullptr, false},
    {L"WordPadRecentFileMenu",
     {L"Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\Wordpad\\Recent File List"}, nullptr, false},
    {L"MediaPlayerRecentFileMenu",
     {L"Software\\Microsoft\\MediaPlayer\\Player\\RecentFileList", L"Software\\Microsoft\\MediaPlayer\\Player\\RecentURLList"},
     nullptr, false},
    {L"RealPlayerMostRecentClips", {}, [] { CleanRealPlayerHistory(L"MostRecentClips"); }, false},
    {L"RealPlayerOpenLocationClips", {}, [] { CleanRealPlayerHistory(L"OpenLocationClips"); }, false},
    {L"RecentItemsfromRunMenu", {L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\RunMRU"}, nullptr, false},
    {L"FindFilesMenu", {}, CleanFindFilesMRU, false},
    {L"FindFilesContainingTextMenu", {}, CleanFindTextMRU, false},
    {L"AllTypedWebAddressesMenu", {L"Software\\Microsoft\\Internet Explorer\\TypedURLs"}, WipeIEHistory, false},
    {L"UltraEditFindReplaceHistory", {}, CleanUltraEditFindHistory, true},
    {L"UltraEditRecentFileHistory", {}, [] { DeleteIniEntry(UltraEditIniFile, L"Recent File List", L""); }, true},
    {L"UltraEditRecentProjectHistory", {}, [] { DeleteIniEntry(UltraEditIniFile, L"Recent Projects", L""); }, true},
};

void DeleteFileSet(const std::vector<std::wstring>& files)
{
    const TDeleteGuard guard;
    for (const std::wstring& file : files) guard.DeleteNamedFile(file);
}

} // namespace

// ---------------------------------------------------------------------------
// Locations

TLocationSources SystemLocationSources(const std::wstring& osVersionText)
{
    TLocationSources sources;
    sources.shellFolder = [](std::wstring_view name) { return GetShellFolder(name); };
    sources.tempFolder = GetTempFolder();
    sources.windowsFolder = GetWindowsFolder();
    sources.osVersionText = osVersionText;
    sources.uacEnabled = osVersionText == L"60" && IsUACEnabled();
    sources.isWindowsNT = ExpandEnvironment(L"%OS%") == L"Windows_NT";
    return sources;
}

TFirefoxProfile ReadFirefoxProfile(const std::wstring& profilesIni)
{
    TFirefoxProfile profile;
    const auto bytes = ReadWholeFile(profilesIni);
    if (!bytes) return profile;
    const IniFile ini(DecodeIniText(*bytes));
    std::wstring path = ini.ReadString(L"Profile0", L"Path", L"");
    std::replace(path.begin(), path.end(), L'/', L'\\');
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    profile.isRelative = ini.ReadString(L"Profile0", L"IsRelative", L"") != L"0";
    const bool usable = profile.isRelative ? IsSafeRelativePath(path) : !CanonicalFolder(path + L"\\").empty();
    if (usable) profile.path = path;
    return profile;
}

TTargetLocations LocateCleanTargets(const TLocationSources& sources)
{
    TTargetLocations l;
    auto shell = [&](std::wstring_view name) { return sources.shellFolder ? sources.shellFolder(name) : std::wstring(); };
    l.userTempFolder = GetTruePathName(sources.tempFolder);
    l.windowsFolder = sources.windowsFolder + L"\\";
    l.winTempFolder = l.windowsFolder + L"Temp\\";
    l.recentFolder = shell(L"Recent") + L"\\";
    l.ieCacheFolder = shell(L"Cache") + L"\\";
    l.ieCookiesFolder = shell(L"Cookies") + L"\\";
    l.ieHistoryFolder = shell(L"History") + L"\\";
    l.appDataFolder = shell(L"AppData");
    l.localAppDataFolder = shell(L"Local AppData");

    l.ultraEditIniFile = l.appDataFolder + L"\\Idmcomp\\UltraEdit\\uedit32.INI";
    if (!FileExists(l.ultraEditIniFile)) l.ultraEditIniFile = l.windowsFolder + L"uedit32.INI";
    if (!FileExists(l.ultraEditIniFile)) l.ultraEditIniFile = l.windowsFolder + L"ue.INI";

    const TFirefoxProfile profile = ReadFirefoxProfile(l.appDataFolder + L"\\Mozilla\\Firefox\\profiles.ini");
    if (!profile.path.empty()) {
        l.firefoxFound = true;
        if (profile.isRelative) {
            const std::wstring part = Format(L"%s%s\\", {L"\\Mozilla\\Firefox\\", profile.path});
            l.firefoxProfileFolder = l.appDataFolder + part;
            l.firefoxCacheFolder = l.localAppDataFolder + part + L"Cache\\";
        } else {
            // A profile kept elsewhere holds its cache itself.
            l.firefoxProfileFolder = profile.path + L"\\";
            l.firefoxCacheFolder = l.firefoxProfileFolder + L"Cache\\";
        }
        const bool places = FileExists(l.firefoxProfileFolder + L"places.sqlite");
        l.firefoxHistoryFile = l.firefoxProfileFolder + (places ? L"places.sqlite" : L"history.dat");
        l.firefoxCookiesFile = l.firefoxProfileFolder + (places ? L"cookies.sqlite" : L"cookies.txt");
    }

    if (sources.osVersionText == L"60" && sources.uacEnabled) {
        l.ieCookiesFolder += L"Low\\";
        l.ieHistoryFolder += L"Low\\";
        l.ieCacheFolder += L"Low\\";
    }
    if (sources.isWindowsNT) l.currentUserSid = GetCurrentUserSid();
    return l;
}

void PublishTargetLocations(const TTargetLocations& l)
{
    UserTempFolder = l.userTempFolder;
    WinTempFolder = l.winTempFolder;
    RecentFolder = l.recentFolder;
    IECacheFolder = l.ieCacheFolder;
    IECookiesFolder = l.ieCookiesFolder;
    IEHistoryFolder = l.ieHistoryFolder;
    FirefoxCacheFolder = l.firefoxCacheFolder;
    FirefoxHistoryFile = l.firefoxHistoryFile;
    FirefoxCookiesFile = l.firefoxCookiesFile;
    UltraEditIniFile = l.ultraEditIniFile;
    CurrentUserSid = l.currentUserSid;
}

// ---------------------------------------------------------------------------
// Folder emptying and index files

void DeleteFolderContents(const std::wstring& folder, std::wstring_view mask, bool withSubFolders, TSkipList* skipped)
{
    if (folder.size() <= 2) return;
    const TDeleteGuard guard;
    if (!guard.MayEmptyFolder(folder)) {
        if (FolderExists(folder)) NoteSkipped(skipped, folder, TSkipReason::ProtectedFolder);
        return;
    }
    EmptyFolder(guard, folder, mask, withSubFolders, skipped);
}

bool ZeroFillFile(const std::wstring& file, std::int64_t start, std::int64_t length)
{
    if (!FileExists(file)) return true;
    FileHandle handle(::CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size{};
    if (!handle || !::GetFileSizeEx(handle.Get(), &size)) return false;
    const std::int64_t position = start > 0 ? start - 1 : 0;
    if (position >= size.QuadPart) return true;
    // The file keeps its size: a count beyond its end is cut.
    std::int64_t count = size.QuadPart - position;
    if (length > 0 && length < count) count = length;
    LARGE_INTEGER offset{};
    offset.QuadPart = position;
    if (!::SetFilePointerEx(handle.Get(), offset, nullptr, FILE_BEGIN)) return false;
    static const std::string zeros(64 * 1024, '\0');
    while (count > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::int64_t>(count, static_cast<std::int64_t>(zeros.size())));
        DWORD written = 0;
        if (!::WriteFile(handle.Get(), zeros.data(), chunk, &written, nullptr) || written != chunk) return false;
        count -= chunk;
    }
    return true;
}

void WipeIEHistory()
{
    // A missing history shell folder leaves a bare "\", which would name a folder of the current drive.
    if (!CanonicalFolder(IEHistoryFolder).empty()) ZeroFillFile(IEHistoryFolder + L"History.IE5\\index.dat", 0, 0);
}

void WipeIndexFiles(const std::wstring& folder)
{
    const TDeleteGuard guard;
    // The folder itself stays: it is a shell folder (or the history container).
    if (guard.MayEmptyFolder(folder)) WipeIndexFolder(guard, folder);
}

void WipeIEHistoryContainers()
{
    static const wchar_t kExtensibleCache[] =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\5.0\\Cache\\Extensible Cache";
    bool hasSubKeys = false;
    {
        const RegistryKey key = RegistryKey::Open(HKEY_CURRENT_USER, kExtensibleCache);
        if (!key.IsOpen()) return;
        hasSubKeys = !key.SubKeyNames().empty();
    }
    if (hasSubKeys) DeleteRegistryKey(HKEY_CURRENT_USER, kExtensibleCache);
    WipeIndexFiles(IEHistoryFolder + L"History.IE5\\");
}

bool EmptyRecycleBin(const std::function<void()>& onShell32Missing)
{
    ModuleHandle shell(::LoadLibraryW(L"Shell32.dll"));
    if (!shell) {
        if (onShell32Missing) onShell32Missing();
        return false;
    }
    using EmptyRecycleBinProc = HRESULT(WINAPI*)(HWND, LPCSTR, DWORD);
    const auto empty = reinterpret_cast<EmptyRecycleBinProc>(::GetProcAddress(shell.Get(), "SHEmptyRecycleBinA"));
    if (!empty) return false;
    constexpr DWORD kQuietly = 7; // no confirmation, no progress window, no sound
    return SUCCEEDED(empty(ApplicationWindow(), nullptr, kQuietly));
}

// ---------------------------------------------------------------------------
// Registry and INI tracks

const std::vector<std::wstring>& RegistryTrackEntries()
{
    static const std::vector<std::wstring> entries = [] {
        std::vector<std::wstring> names;
        for (const TRegistryTrack& track : kRegistryTracks) names.emplace_back(track.entry);
        return names;
    }();
    return entries;
}

void CleanRegistryTracks(const std::vector<std::wstring>& checkedEntries)
{
    for (const TRegistryTrack& track : kRegistryTracks) {
        const bool checked = std::any_of(checkedEntries.begin(), checkedEntries.end(),
                                         [&](const std::wstring& name) { return EqualsIgnoreCase(name, track.entry); });
        if (!checked) continue;
        if (track.needsUltraEditIni && !FileExists(UltraEditIniFile)) continue;
        for (const wchar_t* key : track.keys)
            if (key) DeleteCurrentUserKey(key);
        if (track.extra) track.extra();
    }
}

void CleanRealPlayerHistory(std::wstring_view listName)
{
    const std::wstring version =
        DefaultValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Software\\RealNetworks\\RealPlayer\\CurrentVersion");
    if (!IsSingleKeyName(version)) return;
    DeleteNumberedSubKeys(HKEY_LOCAL_MACHINE,
                          L"SOFTWARE\\Classes\\Software\\RealNetworks\\RealPlayer\\" + version + L"\\Preferences\\",
                          listName);
    DeleteNumberedSubKeys(HKEY_CURRENT_USER, L"Software\\RealNetworks\\RealPlayer\\" + version + L"\\Preferences\\",
                          listName);
}

void CleanFindFilesMRU()
{
    const std::wstring classId = FileSearchBandClassId();
    if (!classId.empty())
        DeleteCurrentUserKey(L"Software\\Microsoft\\Internet Explorer\\Explorer Bars\\" + classId + L"\\FilesNamedMRU");
    DeleteCurrentUserKey(L"Software\\Microsoft\\Search Assistant\\ACMru\\5603");
    DeleteCurrentUserKey(L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Doc Find Spec MRU");
}

void CleanFindTextMRU()
{
    const std::wstring classId = FileSearchBandClassId();
    if (!classId.empty())
        DeleteCurrentUserKey(L"Software\\Microsoft\\Internet Explorer\\Explorer Bars\\" + classId +
                             L"\\ContainingTextMRU");
    DeleteCurrentUserKey(L"Software\\Microsoft\\Search Assistant\\ACMru\\5604");
}

void DeleteIniEntry(const std::wstring& file, std::wstring_view section, std::wstring_view key)
{
    if (!FileExists(file)) return;
    const DWORD attributes = ::GetFileAttributesW(file.c_str());
    if (attributes & FILE_ATTRIBUTE_READONLY) ::SetFileAttributesW(file.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    const std::wstring sectionText(section);
    const std::wstring keyText(key);
    ::WritePrivateProfileStringW(sectionText.c_str(), keyText.empty() ? nullptr : keyText.c_str(), nullptr,
                                 file.c_str());
}

// ---------------------------------------------------------------------------
// Firefox

std::vector<std::wstring> FirefoxHistoryFilesToRemove(const std::wstring& historyFile)
{
    const std::wstring name = historyFile.substr(historyFile.find_last_of(L'\\') + 1);
    if (historyFile.empty() || EqualsIgnoreCase(name, L"places.sqlite")) return {};
    return {historyFile};
}

std::vector<std::wstring> FirefoxCookiesFilesToRemove(const std::wstring& cookiesFile)
{
    if (cookiesFile.empty()) return {};
    return {cookiesFile, cookiesFile + L"-wal", cookiesFile + L"-shm", cookiesFile + L"-journal"};
}

void CleanFirefoxHistory(const std::wstring& historyFile) { DeleteFileSet(FirefoxHistoryFilesToRemove(historyFile)); }

void CleanFirefoxCookies(const std::wstring& cookiesFile)
{
    std::vector<std::wstring> files = FirefoxCookiesFilesToRemove(cookiesFile);
    if (files.empty()) return;
    const TDeleteGuard guard;
    guard.DeleteNamedFile(files.front());
    if (FileExists(files.front())) return;
    files.erase(files.begin());
    for (const std::wstring& file : files) guard.DeleteNamedFile(file);
}

std::int64_t FilesSizeOnDisk(const std::vector<std::wstring>& files)
{
    std::int64_t total = 0;
    for (const std::wstring& file : files)
        if (FileExists(file)) total += FileSizeOnDisk(file);
    return total;
}

// ---------------------------------------------------------------------------
// Clean Now

void CleanTarget(TCleanTarget target, const TCleanRequest& request)
{
    switch (target) {
    case ctRecycleBin:
        EmptyRecycleBin(request.onShell32Missing);
        break;
    case ctWindowsTemp:
        DeleteFolderContents(UserTempFolder, L"*", request.alsoCleanSubFolders, request.skipped);
        if (FolderExists(WinTempFolder))
            DeleteFolderContents(WinTempFolder, L"*", request.alsoCleanSubFolders, request.skipped);
        break;
    case ctSpecificFolder:
        for (const TFolderToEmpty& folder : request.foldersToEmpty)
            DeleteFolderContents(folder.folder, L"*", folder.withSubFolders, request.skipped);
        break;
    case ctCookies:
        DeleteUnkeptCookies();
        break;
    case ctTempInternetFiles:
        DeleteFolderContents(IECacheFolder, L"*", true, request.skipped);
        if (!CanonicalFolder(IECacheFolder).empty()) ZeroFillFile(IECacheFolder + L"Content.IE5\\index.dat", 0, 0);
        break;
    case ctHistory:
        if (request.osVersionText.rfind(L"5", 0) == 0)
            WipeIEHistoryContainers();
        else
            WipeIndexFiles(IEHistoryFolder);
        WipeIEHistory();
        break;
    case ctRecentDocuments:
        DeleteFolderContents(RecentFolder, L"*.lnk", false, request.skipped);
        break;
    case ctRegistryProgramHistory:
    case ctRegistryWindowsTracks:
        CleanRegistryTracks(request.checkedTrackEntries);
        break;
    case ctFirefoxCache:
        DeleteFolderContents(FirefoxCacheFolder, L"*", true, request.skipped);
        break;
    case ctFirefoxHistory:
        CleanFirefoxHistory(FirefoxHistoryFile);
        break;
    case ctFirefoxCookies:
        CleanFirefoxCookies(FirefoxCookiesFile);
        break;
    default:
        break;
    }
}

} // namespace kv
