#include "cleaner/engine/SettingsStore.h"

#include <cerrno>
#include <cwchar>

#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/RegistryFile.h"
#include "platform/Registry.h"
#include "platform/StringList.h"

namespace kv {

std::wstring SettingsRoot = LegacySettingsKey;

const std::array<const wchar_t*, ProgramHistoryCount> ProgramHistoryNames = {
    L"WinZipFileMenu",           L"WinZipExtractMenu",          L"WinRarFileMenu",
    L"WordPadRecentFileMenu",    L"PaintRecentFileMenu",        L"MediaPlayerRecentFileMenu",
    L"RealPlayerMostRecentClips", L"RealPlayerOpenLocationClips", L"UltraEditFindReplaceHistory",
    L"UltraEditRecentFileHistory", L"UltraEditRecentProjectHistory",
};

const std::array<const wchar_t*, TracksCount> TracksNames = {
    L"RecentItemsfromRunMenu", L"FindFilesMenu", L"FindFilesContainingTextMenu", L"AllTypedWebAddressesMenu",
};

namespace {

constexpr const wchar_t* SettingsKey = SettingsSubKey;
constexpr wchar_t FiltersKey[] = L"\\Filters";
constexpr const wchar_t* ScanDrivesKey = ScanDrivesSubKey;
constexpr wchar_t ProgramHistoryKey[] = L"\\ProgramHistory";
constexpr wchar_t TracksKey[] = L"\\Tracks";

struct TBoolValue {
    const wchar_t* key;
    const wchar_t* name;
    bool TSettings::*member;
};

// Defaults come from TSettings' own initialisers.
constexpr TBoolValue BoolValues[] = {
    {SettingsKey, L"DoClean", &TSettings::DoClean},
    {SettingsKey, L"EmptyBin", &TSettings::EmptyBin},
    {SettingsKey, L"Temp", &TSettings::Temp},
    {SettingsKey, L"CleanTempSubFolders", &TSettings::CleanTempSubFolders},
    {SettingsKey, L"SpecificTempFolder", &TSettings::SpecificTempFolder},
    {SettingsKey, L"Recent", &TSettings::Recent},
    {SettingsKey, L"FindInvalidShortCuts", &TSettings::FindInvalidShortCuts},
    {SettingsKey, L"FindEmptyFolders", &TSettings::FindEmptyFolders},
    {SettingsKey, L"SkipReadOnlyFiles", &TSettings::SkipReadOnlyFiles},
    {SettingsKey, L"ShowBalloonTips", &TSettings::ShowBalloonTips},
    {L"\\IE", L"Cookies", &TSettings::IECookies},
    {L"\\IE", L"Cache", &TSettings::IECache},
    {L"\\IE", L"History", &TSettings::IEHistory},
    {L"\\FireFox", L"Cookies", &TSettings::FireFoxCookies},
    {L"\\FireFox", L"Cache", &TSettings::FireFoxCache},
    {L"\\FireFox", L"History", &TSettings::FireFoxHistory},
};

struct TFolderListValue {
    const wchar_t* name;
    std::vector<TFolderEntry> TSettings::*member;
};

// Saved in this order; loaded in the order of the list kinds.
constexpr std::array<TFolderListValue, 3> FolderListValues = {{
    {L"InclusiveFolder", &TSettings::InclusiveFolders},
    {L"ExclusiveFolder", &TSettings::ExclusiveFolders},
    {L"EmptyFolder", &TSettings::EmptyFolders},
}};

RegistryIniView View(std::wstring_view root) { return RegistryIniView(HKEY_CURRENT_USER, root); }

// The text of a stored list; nothing when the value is missing or of another
// type, so that the caller's default stands.
std::optional<std::wstring> ReadListValue(std::wstring_view root, std::wstring_view key, std::wstring_view name)
{
    const auto bytes = View(root).ReadBinary(key, name);
    if (!bytes) return std::nullopt;
    return DecodeListValue(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
}

// A whole number, as the runtime's conversion reads it (leading blanks and a
// sign allowed); nothing for any other text.
std::optional<long> ParseCode(const std::wstring& text)
{
    if (text.empty()) return std::nullopt;
    wchar_t* end = nullptr;
    errno = 0;
    const long value = std::wcstol(text.c_str(), &end, 10);
    if (errno != 0 || !end || *end != L'\0' || end == text.c_str()) return std::nullopt;
    return value;
}

std::vector<TFilterEntry> LoadFiles(bool fromFactory, const std::wstring& root, const wchar_t* valueName,
                                    const wchar_t* resourceName)
{
    std::optional<std::wstring> text;
    if (!fromFactory) text = ReadListValue(root, FiltersKey, valueName);
    return ParseFilterList(text ? *text : LoadResourceText(resourceName));
}

} // namespace

std::wstring ChooseSettingsRoot()
{
    return RegistryValueExists(CurrentSettingsKey, SettingsKey, L"Language") ? CurrentSettingsKey : LegacySettingsKey;
}

PathKind FolderKind(TFolderList list, bool withSubFolders)
{
    switch (list) {
    case flInclusive: return withSubFolders ? pkIncludeWithSubFolders : pkIncludeFolder;
    case flExclusive: return withSubFolders ? pkExcludeWithSubFolders : pkExcludeFolder;
    case flEmpty: return withSubFolders ? pkEmptyWithSubFolders : pkEmptyFolder;
    }
    return pkNone;
}

std::wstring MaskExtension(std::wstring_view mask)
{
    const std::size_t dot = mask.rfind(L'.');
    return dot == std::wstring_view::npos ? std::wstring() : std::wstring(mask.substr(dot));
}

// ---------------------------------------------------------------------------
// List codec

std::string EncodeListValue(std::wstring_view text)
{
    std::string bytes("\xFF\xFE", 2);
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    return bytes;
}

std::wstring DecodeListValue(std::string_view bytes) { return DecodeText(bytes); }

std::vector<TFilterEntry> ParseFilterList(std::wstring_view text)
{
    const StringList lines(text);
    std::vector<TFilterEntry> filters;
    std::vector<std::wstring_view> earlierMasks;
    for (std::size_t i = 0; i + 2 < lines.Count(); i += 3) {
        const std::wstring& mask = lines[i + 1];
        bool repeated = false;
        for (std::wstring_view earlier : earlierMasks) repeated = repeated || CompareTextIgnoreCase(earlier, mask) == 0;
        earlierMasks.push_back(mask);
        if (mask.empty() || repeated) continue;
        const std::wstring& description = lines[i + 2];
        filters.push_back({lines[i] == L"1", mask, description.empty() ? L"N/A" : description});
    }
    return filters;
}

std::wstring FormatFilterList(const std::vector<TFilterEntry>& filters)
{
    StringList lines;
    for (const TFilterEntry& filter : filters) {
        lines.Add(filter.checked ? L"1" : L"0");
        lines.Add(filter.mask);
        lines.Add(filter.description);
    }
    return lines.Text();
}

std::vector<TFolderEntry> ParseFolderList(std::wstring_view text, TFolderList list)
{
    const StringList lines(text);
    std::vector<TFolderEntry> folders;
    for (std::size_t i = 0; i + 1 < lines.Count(); i += 2) {
        const std::wstring& path = lines[i + 1];
        if (path.empty()) break;
        const auto code = ParseCode(lines[i]);
        if (!code) continue;
        TFolderEntry folder{path, pkNone, *code == 1 || *code == 3};
        if (*code == 0 || *code == 1) folder.kind = FolderKind(list, true);
        if (*code == 2 || *code == 3) folder.kind = FolderKind(list, false);
        folders.push_back(std::move(folder));
    }
    return folders;
}

std::wstring FormatFolderList(const std::vector<TFolderEntry>& folders, TFolderList list)
{
    StringList lines;
    for (const TFolderEntry& folder : folders) {
        if (folder.kind == FolderKind(list, true))
            lines.Add(folder.checked ? L"1" : L"0");
        else if (folder.kind == FolderKind(list, false))
            lines.Add(folder.checked ? L"3" : L"2");
        else
            continue;
        lines.Add(folder.path);
    }
    return lines.Text();
}

// ---------------------------------------------------------------------------
// Registry access

std::wstring ReadRegistryText(std::wstring_view root, std::wstring_view key, std::wstring_view valueName)
{
    return ReadListValue(root, key, valueName).value_or(std::wstring());
}

bool WriteRegistryText(std::wstring_view root, std::wstring_view key, std::wstring_view valueName,
                       std::wstring_view text)
{
    const std::string bytes = EncodeListValue(text);
    return View(root).WriteBinary(key, valueName, bytes.data(), bytes.size());
}

bool RegistryValueExists(std::wstring_view root, std::wstring_view key, std::wstring_view valueName)
{
    return View(root).ValueExists(key, valueName);
}

bool ReadRegistryBool(std::wstring_view key, std::wstring_view valueName, bool defaultValue)
{
    return View(key).ReadBool(L"", valueName, defaultValue);
}

// ---------------------------------------------------------------------------
// Loading and saving

std::vector<TFilterEntry> LoadInclusiveFiles(bool fromFactory, const std::wstring& root)
{
    return LoadFiles(fromFactory, root, L"InclusiveFile", L"INCLUSIVEFILE");
}

std::vector<TFilterEntry> LoadExclusiveFiles(bool fromFactory, const std::wstring& root)
{
    return LoadFiles(fromFactory, root, L"ExclusiveFile", L"EXCLUSIVEFILE");
}

std::vector<TFolderEntry> LoadFolders(TFolderList list, const std::wstring& root)
{
    return ParseFolderList(ReadRegistryText(root, FiltersKey, FolderListValues[list].name), list);
}

void SaveInclusiveFiles(const std::vector<TFilterEntry>& filters, const std::wstring& root)
{
    WriteRegistryText(root, FiltersKey, L"InclusiveFile", FormatFilterList(filters));
}

void SaveExclusiveFiles(const std::vector<TFilterEntry>& filters, const std::wstring& root)
{
    WriteRegistryText(root, FiltersKey, L"ExclusiveFile", FormatFilterList(filters));
}

void SaveFolders(TFolderList list, const std::vector<TFolderEntry>& folders, const std::wstring& root)
{
    WriteRegistryText(root, FiltersKey, FolderListValues[list].name, FormatFolderList(folders, list));
}

void LoadFilters(TSettings& settings, const std::wstring& root)
{
    settings.InclusiveFiles = LoadInclusiveFiles(false, root);
    settings.ExclusiveFiles = LoadExclusiveFiles(false, root);
    for (TFolderList list : {flInclusive, flExclusive, flEmpty})
        settings.*FolderListValues[list].member = LoadFolders(list, root);
    CookieKeepList = ReadRegistryText(root, FiltersKey, L"Cookies");
}

void SaveFilters(const TSettings& settings, const std::wstring& root)
{
    for (TFolderList list : {flInclusive, flExclusive, flEmpty})
        SaveFolders(list, settings.*FolderListValues[list].member, root);
    SaveInclusiveFiles(settings.InclusiveFiles, root);
    SaveExclusiveFiles(settings.ExclusiveFiles, root);
    WriteRegistryText(root, FiltersKey, L"Cookies", CookieKeepList);
}

TSettings LoadSettings(const std::wstring& root)
{
    TSettings settings;
    LoadFilters(settings, root);
    const RegistryIniView view = View(root);
    settings.SpecificFolder = view.ReadString(SettingsKey, L"SpecificFolder", settings.SpecificFolder);
    settings.DeletionFile = view.ReadString(SettingsKey, L"DeletionFile", settings.DeletionFile);
    const int method = view.ReadInteger(SettingsKey, L"CleanMethod", settings.CleanMethod);
    if (method >= cmRecycleBin && method <= cmDeletePermanently) settings.CleanMethod = static_cast<TCleanMethod>(method);
    settings.Language = view.ReadString(SettingsKey, L"Language", settings.Language);
    for (const TBoolValue& value : BoolValues)
        settings.*value.member = view.ReadBool(value.key, value.name, settings.*value.member);
    for (int i = 0; i < ProgramHistoryCount; ++i)
        settings.ProgramHistory[i] = view.ReadBool(ProgramHistoryKey, ProgramHistoryNames[i], false);
    for (int i = 0; i < TracksCount; ++i) settings.Tracks[i] = view.ReadBool(TracksKey, TracksNames[i], false);
    return settings;
}

void SaveSettings(const TSettings& settings, const std::wstring& root)
{
    SaveScanDrives(settings.ScanDrives, root);
    SaveFilters(settings, root);
    RegistryIniView view = View(root);
    view.WriteInteger(SettingsKey, L"CleanMethod", settings.CleanMethod);
    view.WriteString(SettingsKey, L"SpecificFolder", settings.SpecificFolder);
    view.WriteString(SettingsKey, L"DeletionFile", settings.DeletionFile);
    view.WriteString(SettingsKey, L"Language", settings.Language);
    for (const TBoolValue& value : BoolValues) view.WriteBool(value.key, value.name, settings.*value.member);
    for (int i = 0; i < ProgramHistoryCount; ++i)
        view.WriteBool(ProgramHistoryKey, ProgramHistoryNames[i], settings.ProgramHistory[i]);
    for (int i = 0; i < TracksCount; ++i) view.WriteBool(TracksKey, TracksNames[i], settings.Tracks[i]);
}

bool IsScanDriveChecked(std::wstring_view caption, const std::wstring& root)
{
    return View(root).ReadBool(ScanDrivesKey, caption, true);
}

void SaveScanDrives(const std::vector<TScanDrive>& drives, const std::wstring& root)
{
    RegistryIniView view = View(root);
    for (const TScanDrive& drive : drives) view.WriteBool(ScanDrivesKey, drive.caption, drive.checked);
}

// ---------------------------------------------------------------------------
// Export

bool ExportSettingsKey(std::wstring_view suffix, const std::wstring& fileName, const TExportNotice* notice,
                       const std::wstring& root)
{
    const bool exported = ExportRegistryKey(root + std::wstring(suffix), fileName);
    if (notice)
        ShowMessageBox(notice->owner, exported ? notice->doneText : notice->failedText, L"Kestrelvane",
                       MB_OK | (exported ? MB_ICONINFORMATION : MB_ICONERROR));
    return exported;
}

} // namespace kv
