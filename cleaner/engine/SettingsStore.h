#pragma once
// The cleaner's settings in the current user's registry: every key and value
// with its default, the encoding of the list values, the factory filter lists
// and the per-drive scan flags. The settings are a plain model here; the
// windows copy them into their controls after LoadSettings and back before
// SaveSettings.
//
// Layout below the settings root (texts REG_SZ, numbers and booleans
// REG_DWORD, lists REG_BINARY):
//   \Settings        SpecificFolder, DeletionFile, CleanMethod, Language and the
//                    clean and scan options
//   \IE, \FireFox    the browser clean targets
//   \ProgramHistory  the program-history entries, \Tracks the Windows tracks
//   \Filters         InclusiveFile, ExclusiveFile (filter triples),
//                    InclusiveFolder, ExclusiveFolder, EmptyFolder (folder
//                    pairs), Cookies (the cookie keep list)
//   \ScanDrives      one flag per fixed drive, named "C:"
//   \Job             AutoScan, AutoClean, AutoExit, RunHiddenly
#include <windows.h>

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cleaner/engine/SharedState.h"

namespace kv {

// ---- Settings roots below HKEY_CURRENT_USER

// Settings of earlier installations; read until the first save.
inline constexpr wchar_t LegacySettingsKey[] = L"Software\\Orbelune\\Kestrelvane";
// Where the settings are always written at exit.
inline constexpr wchar_t CurrentSettingsKey[] = L"Software\\Orbelune\\Kestrelvane\\Unicode";
// Appended to a root: the job snapshot, and inside it the job's own flags.
inline constexpr wchar_t JobSubKey[] = L"\\Job";
// Sub-keys every settings snapshot holds.
inline constexpr wchar_t SettingsSubKey[] = L"\\Settings";
inline constexpr wchar_t ScanDrivesSubKey[] = L"\\ScanDrives";

// The root every settings read and write is relative to: the current key, the
// legacy key, or either of them + JobSubKey.
extern std::wstring SettingsRoot;

// The current key when its \Settings holds "Language", else the legacy key.
std::wstring ChooseSettingsRoot();

// ---- Rows of the window's lists

// Image index of a filter row.
enum TFilterKind : int { fkInclusive = 3, fkExclusive = 13 };

// One file-type filter: stored as the three lines "1"/"0", mask, description.
struct TFilterEntry {
    bool checked = true;
    std::wstring mask;
    std::wstring description; // "N/A" when the stored line is empty
    bool operator==(const TFilterEntry&) const = default;
};

// One folder of a folder list: stored as the two lines code, path; the code is
// 0/1 with sub-folders (unchecked/checked), 2/3 this folder only.
struct TFolderEntry {
    std::wstring path; // without trailing backslash
    PathKind kind = pkNone;
    bool checked = false;
    bool operator==(const TFolderEntry&) const = default;
};

enum TFolderList { flInclusive, flExclusive, flEmpty };

// The two kinds of one folder list: with sub-folders, this folder only.
PathKind FolderKind(TFolderList list, bool withSubFolders);

struct TScanDrive {
    std::wstring caption; // "C:"
    bool checked = true;
    bool operator==(const TScanDrive&) const = default;
};

// The text from the mask's last "." on; empty when there is none.
std::wstring MaskExtension(std::wstring_view mask);

// ---- The settings

inline constexpr int ProgramHistoryCount = 11;
inline constexpr int TracksCount = 4;
extern const std::array<const wchar_t*, ProgramHistoryCount> ProgramHistoryNames;
extern const std::array<const wchar_t*, TracksCount> TracksNames;

struct TSettings {
    // \Settings
    std::wstring SpecificFolder = ProgramFolder + L"Backup\\";
    std::wstring DeletionFile = L"Backup.txt";
    TCleanMethod CleanMethod = cmRecycleBin;
    std::wstring Language; // file name of the language file, without folder
    bool DoClean = true;
    bool EmptyBin = false;
    bool Temp = false;
    bool CleanTempSubFolders = false;
    bool SpecificTempFolder = false;
    bool Recent = true;
    bool FindInvalidShortCuts = false;
    bool FindEmptyFolders = false;
    bool SkipReadOnlyFiles = false;
    bool ShowBalloonTips = true;
    // \IE
    bool IECookies = false;
    bool IECache = false;
    bool IEHistory = false;
    // \FireFox
    bool FireFoxCookies = false;
    bool FireFoxCache = false;
    bool FireFoxHistory = false;
    // \ProgramHistory and \Tracks, in the order of their name tables
    std::array<bool, ProgramHistoryCount> ProgramHistory{};
    std::array<bool, TracksCount> Tracks{};
    // \Filters (the cookie keep list is the shared CookieKeepList)
    std::vector<TFilterEntry> InclusiveFiles;
    std::vector<TFilterEntry> ExclusiveFiles;
    std::vector<TFolderEntry> InclusiveFolders;
    std::vector<TFolderEntry> ExclusiveFolders;
    std::vector<TFolderEntry> EmptyFolders;
    // \ScanDrives: written from here; read one drive at a time through
    // IsScanDriveChecked while the drive rows are built
    std::vector<TScanDrive> ScanDrives;

    bool operator==(const TSettings&) const = default;
};

// ---- List codec

// REG_BINARY bytes of a list: FF FE and the UTF-16LE text.
std::string EncodeListValue(std::wstring_view text);
// Decodes by byte-order mark (FF FE, FE FF, EF BB BF), else the ANSI code page.
std::wstring DecodeListValue(std::string_view bytes);

// Triples in list order; a triple with an empty mask or with a mask that an
// earlier triple already has (ignoring case) is skipped.
std::vector<TFilterEntry> ParseFilterList(std::wstring_view text);
std::wstring FormatFilterList(const std::vector<TFilterEntry>& filters);

// Pairs in list order, up to the first empty path; a pair whose code is no
// number is skipped.
std::vector<TFolderEntry> ParseFolderList(std::wstring_view text, TFolderList list);
// Rows of other kinds (pkNone included) are not written.
std::wstring FormatFolderList(const std::vector<TFolderEntry>& folders, TFolderList list);

// ---- Registry access relative to a settings root

// The decoded text of a list value; empty when the value is missing, empty or
// not REG_BINARY.
std::wstring ReadRegistryText(std::wstring_view root, std::wstring_view key, std::wstring_view valueName);
// Writes FF FE and the text as REG_BINARY, creating the key. An empty text is
// written too, so a list the user emptied stays empty.
bool WriteRegistryText(std::wstring_view root, std::wstring_view key, std::wstring_view valueName,
                       std::wstring_view text);
bool RegistryValueExists(std::wstring_view root, std::wstring_view key, std::wstring_view valueName);
// One boolean of a key below HKEY_CURRENT_USER.
bool ReadRegistryBool(std::wstring_view key, std::wstring_view valueName, bool defaultValue);

// ---- Loading and saving

// The filters of one kind: the stored list, or the factory list when asked
// for or when none is stored.
std::vector<TFilterEntry> LoadInclusiveFiles(bool fromFactory, const std::wstring& root = SettingsRoot);
std::vector<TFilterEntry> LoadExclusiveFiles(bool fromFactory, const std::wstring& root = SettingsRoot);
std::vector<TFolderEntry> LoadFolders(TFolderList list, const std::wstring& root = SettingsRoot);
inline std::vector<TFolderEntry> LoadInclusiveFolders(const std::wstring& root = SettingsRoot)
{
    return LoadFolders(flInclusive, root);
}
inline std::vector<TFolderEntry> LoadExclusiveFolders(const std::wstring& root = SettingsRoot)
{
    return LoadFolders(flExclusive, root);
}
inline std::vector<TFolderEntry> LoadEmptyFolders(const std::wstring& root = SettingsRoot)
{
    return LoadFolders(flEmpty, root);
}

// One list each; an empty list is written as an empty list.
void SaveInclusiveFiles(const std::vector<TFilterEntry>& filters, const std::wstring& root = SettingsRoot);
void SaveExclusiveFiles(const std::vector<TFilterEntry>& filters, const std::wstring& root = SettingsRoot);
void SaveFolders(TFolderList list, const std::vector<TFolderEntry>& folders, const std::wstring& root = SettingsRoot);
inline void SaveInclusiveFolders(const std::vector<TFolderEntry>& folders, const std::wstring& root = SettingsRoot)
{
    SaveFolders(flInclusive, folders, root);
}
inline void SaveExclusiveFolders(const std::vector<TFolderEntry>& folders, const std::wstring& root = SettingsRoot)
{
    SaveFolders(flExclusive, folders, root);
}
inline void SaveEmptyFolders(const std::vector<TFolderEntry>& folders, const std::wstring& root = SettingsRoot)
{
    SaveFolders(flEmpty, folders, root);
}

// The five lists into `settings` and the keep list into CookieKeepList.
void LoadFilters(TSettings& settings, const std::wstring& root = SettingsRoot);
void SaveFilters(const TSettings& settings, const std::wstring& root = SettingsRoot);

// Every setting, each value falling back to its default when it is missing or
// corrupt. ScanDrives is left empty (see IsScanDriveChecked).
TSettings LoadSettings(const std::wstring& root = SettingsRoot);
// Every setting, the scan drives and the keep list included.
void SaveSettings(const TSettings& settings, const std::wstring& root = SettingsRoot);

// A drive's flag; true when the key or the value is missing.
bool IsScanDriveChecked(std::wstring_view caption, const std::wstring& root = SettingsRoot);
// Drives that are not listed keep their stored flags.
void SaveScanDrives(const std::vector<TScanDrive>& drives, const std::wstring& root = SettingsRoot);

// ---- Export

// Defaults for the texts of an export's message.
inline constexpr wchar_t ExportFailedText[] = L"The settings could not be exported to %s.";

// A message to show when an export ends; the texts are ready to show.
struct TExportNotice {
    HWND owner = nullptr;
    std::wstring doneText;
    std::wstring failedText;
};

// Exports the root + `suffix` to `fileName` through the registry editor. True
// only when the file was written; with a notice, a message box says how it
// went.
bool ExportSettingsKey(std::wstring_view suffix, const std::wstring& fileName, const TExportNotice* notice = nullptr,
                       const std::wstring& root = SettingsRoot);

} // namespace kv
