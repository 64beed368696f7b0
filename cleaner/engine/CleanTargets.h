#pragma once
// The clean targets: where they are, and the operations that remove their
// traces (folder emptying, index-file wiping, the recycle bin, registry and
// INI tracks, Firefox files), with the order Clean Now works through them.
// Every delete goes through TDeleteGuard (DeleteGuard.h).
#include <windows.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "cleaner/engine/CookieIndex.h"
#include "cleaner/engine/SharedState.h"
#include "cleaner/engine/SkipLog.h"

namespace kv {

// ---- Locations

// Where the locations come from; SystemLocationSources gives the real ones,
// tests give their own.
struct TLocationSources {
    std::function<std::wstring(std::wstring_view)> shellFolder; // value under "Shell Folders"
    std::wstring tempFolder;                                    // GetTempFolder
    std::wstring windowsFolder;                                 // GetWindowsFolder, no trailing backslash
    std::wstring osVersionText;                                 // "%d%d" of major and minor
    bool uacEnabled = false;
    bool isWindowsNT = true;
};
TLocationSources SystemLocationSources(const std::wstring& osVersionText);

struct TTargetLocations {
    std::wstring userTempFolder;
    std::wstring winTempFolder;
    std::wstring windowsFolder; // trailing backslash
    std::wstring recentFolder;
    std::wstring ieCacheFolder;
    std::wstring ieCookiesFolder;
    std::wstring ieHistoryFolder;
    std::wstring appDataFolder;      // no trailing backslash
    std::wstring localAppDataFolder; // no trailing backslash
    std::wstring ultraEditIniFile;
    std::wstring firefoxProfileFolder;
    std::wstring firefoxCacheFolder;
    std::wstring firefoxHistoryFile;
    std::wstring firefoxCookiesFile;
    bool firefoxFound = false;
    std::wstring currentUserSid;
};
TTargetLocations LocateCleanTargets(const TLocationSources& sources);
// Stores the locations in the shared globals (main thread, before any worker).
void PublishTargetLocations(const TTargetLocations& locations);

// Firefox's default profile ("Path" of section "Profile0" in profiles.ini).
struct TFirefoxProfile {
    std::wstring path; // backslashes
    bool isRelative = true;
};
// Empty path when the file is missing, has no usable path, or the path would
// leave the Firefox folder ("..", a drive, a leading backslash).
TFirefoxProfile ReadFirefoxProfile(const std::wstring& profilesIni);

// ---- Folder emptying and index files

// Deletes the files matching `mask` (whole name, case ignored) in `folder`
// (trailing backslash); with sub-folders, empties and removes every real
// sub-folder whatever the mask. Refuses folders TDeleteGuard protects; stops
// early when StopRequested is 1. Entries left alone on purpose (names that
// are not plain, links, a refused folder) are noted in `skipped`.
void DeleteFolderContents(const std::wstring& folder, std::wstring_view mask, bool withSubFolders,
                          TSkipList* skipped = nullptr);

// Overwrites a file with zeros, keeping its length: from position start (1-based,
// 0 = the beginning), `length` bytes (0 = to the end). Nothing when the file is
// missing. False when it cannot be opened or written (an index file held open
// by its browser): an expected failure, which the caller skips.
bool ZeroFillFile(const std::wstring& file, std::int64_t start, std::int64_t length);

void WipeIEHistory();
void WipeIndexFiles(const std::wstring& folder);
void WipeIEHistoryContainers();

// Empties the recycle bins of all drives; calls `onShell32Missing` (the
// window's message, language text 154) when Shell32.dll cannot be loaded.
bool EmptyRecycleBin(const std::function<void()>& onShell32Missing);

// ---- Registry and INI tracks

// The entries of the Clean page's two registry menus, by their settings
// names ("WinZipFileMenu" ... "UltraEditRecentProjectHistory"), in order.
const std::vector<std::wstring>& RegistryTrackEntries();
// Clears the tracks of every checked entry (names compared without case).
void CleanRegistryTracks(const std::vector<std::wstring>& checkedEntries);
void CleanRealPlayerHistory(std::wstring_view listName);
void CleanFindFilesMRU();
void CleanFindTextMRU();
// Deletes `key` of `section`, or the whole section when `key` is empty; the
// file's read-only attribute is cleared first (and stays cleared).
void DeleteIniEntry(const std::wstring& file, std::wstring_view section, std::wstring_view key);

// ---- Firefox

// The files that cleaning the Firefox history removes: "history.dat" of old
// profiles; nothing for "places.sqlite", which also holds the bookmarks.
std::vector<std::wstring> FirefoxHistoryFilesToRemove(const std::wstring& historyFile);
// The cookie store with its "-wal", "-shm" and "-journal" companions.
std::vector<std::wstring> FirefoxCookiesFilesToRemove(const std::wstring& cookiesFile);
void CleanFirefoxHistory(const std::wstring& historyFile);
// The companions go only once the store itself is gone, so a store that is in
// use never loses its write-ahead log.
void CleanFirefoxCookies(const std::wstring& cookiesFile);
std::int64_t FilesSizeOnDisk(const std::vector<std::wstring>& files);

// ---- Clean Now

// A checked "folder to empty" row of the path list, taken when the work
// starts (PathKind 11: files only; 26: with sub-folders).
struct TFolderToEmpty {
    std::wstring folder; // trailing backslash
    bool withSubFolders = false;
};

// What the window decides for one Clean Now.
struct TCleanRequest {
    bool alsoCleanSubFolders = true;                // the temp row's menu check mark
    std::vector<TFolderToEmpty> foldersToEmpty;     // the "folders emptied every time"
    std::vector<std::wstring> checkedTrackEntries;  // both registry menus
    std::wstring osVersionText;
    std::function<void()> onShell32Missing;
    TSkipList* skipped = nullptr; // where the folder walks note what they leave alone
};

// One step of Clean Now after the scan results: the row, and the language
// texts shown while it works and when it is done (-1: no working text).
struct TCleanStep {
    TCleanTarget target;
    int workingText;
    int doneText;
};
inline constexpr std::array<TCleanStep, 12> CleanOrder{{{ctRecycleBin, 83, 82},
                                                        {ctWindowsTemp, 90, 91},
                                                        {ctSpecificFolder, 92, 93},
                                                        {ctCookies, 94, 95},
                                                        {ctHistory, 98, 99},
                                                        {ctRecentDocuments, 96, 97},
                                                        {ctTempInternetFiles, 100, 101},
                                                        {ctRegistryProgramHistory, -1, 102},
                                                        {ctRegistryWindowsTracks, -1, 103},
                                                        {ctFirefoxCache, 238, 239},
                                                        {ctFirefoxHistory, 240, 241},
                                                        {ctFirefoxCookies, 242, 243}}};

// Runs the work of one clean-list row (not row 0, the scan results, which the
// window handles by clean method). Errors of the index wipes are thrown.
void CleanTarget(TCleanTarget target, const TCleanRequest& request);

} // namespace kv
