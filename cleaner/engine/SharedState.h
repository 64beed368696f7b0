#pragma once
// The state that the cleaner's main window and its worker threads share. The
// worker threads read and write only the atomics; the texts are set on the
// main thread before any worker starts and are read-only afterwards.
#include <array>
#include <atomic>
#include <cstdint>
#include <string>

namespace kv {

// ---- Start-up and job state
extern std::wstring ProgramFolder; // folder of the executable, trailing backslash
extern std::atomic<bool> JobMode;
extern std::atomic<bool> RunHiddenly;
extern std::atomic<bool> AutoScan;
extern std::atomic<bool> AutoClean;
extern std::atomic<bool> AutoExit;
extern std::wstring PendingImport; // a settings file to import when the program closes

// ---- The main window's page: 0 About, 1 Path, 2 Filters, 3 Scan, 4 Clean
enum TMainPage : int { pgAbout = 0, pgPath = 1, pgFilters = 2, pgScan = 3, pgClean = 4 };
extern std::atomic<int> CurrentPage;

// ---- How Clean Now removes the checked results, from the settings to the engine
enum TCleanMethod : int { cmRecycleBin = 0, cmBackupFolder = 1, cmDeletePermanently = 2 };

// ---- Flags shared with the worker threads
// 1 while no scan and no Clean Now runs, or when a stop was asked.
extern std::atomic<std::int32_t> StopRequested;
// Set by the Stop button, cleared when a job starts; ends a job run.
extern std::atomic<std::int32_t> StoppedByUser;
extern std::atomic<std::uint8_t> ScanDone;        // set when a scan ends
extern std::atomic<std::uint8_t> AppClosing;      // closing the main window was asked for
extern std::atomic<std::uint8_t> CleanPageActive; // 0 on entering the Clean page, 1 from Clean Now on

// ---- Size totals (bytes on disk)
extern std::atomic<std::int64_t> ScanFoundSize;
extern std::atomic<std::int64_t> JunkTotalSize;

// ---- The 13 fixed rows of the clean list
enum TCleanTarget : int {
    ctJunkFiles,
    ctRecycleBin,
    ctWindowsTemp,
    ctSpecificFolder,
    ctCookies,
    ctTempInternetFiles,
    ctHistory,
    ctRecentDocuments,
    ctRegistryProgramHistory,
    ctRegistryWindowsTracks,
    ctFirefoxCache,
    ctFirefoxHistory,
    ctFirefoxCookies,
    ctTargetCount
};
extern std::array<std::atomic<std::int64_t>, ctTargetCount> TargetSize;
extern std::array<std::atomic<std::uint8_t>, ctTargetCount> TargetSizeReady;

// ---- Clean-target locations, found once when the main window is created
extern std::wstring UserTempFolder;
extern std::wstring WinTempFolder;
extern std::wstring RecentFolder;
extern std::wstring IECacheFolder;
extern std::wstring IECookiesFolder;
extern std::wstring IEHistoryFolder;
extern std::wstring FirefoxCacheFolder;
extern std::wstring FirefoxHistoryFile;
extern std::wstring FirefoxCookiesFile;
extern std::wstring UltraEditIniFile;

// ---- Filled while the drive list is built
extern std::wstring CurrentUserSid;

// ---- Cookie domains to keep, one per line (CR LF separated)
extern std::wstring CookieKeepList;

// ---- Full path of the chosen language file (main thread only)
extern std::wstring LanguageFile;

// ---- Put before the end-of-scan message: "[Finished]" when the scan ended by
// itself, "[Aborted] " when it was stopped (main thread only)
extern std::wstring ScanStatusPrefix;

// ---- The kind of a row of the path list, stored as the row's image index
enum PathKind : int {
    pkNone = -1, // a stored code outside 0-3: a row without kind
    pkDrive = 0,
    pkIncludeFolder = 1,
    pkEmptyFolder = 11,
    pkExcludeFolder = 14,
    pkIncludeWithSubFolders = 24,
    pkExcludeWithSubFolders = 25,
    pkEmptyWithSubFolders = 26,
};

// ---- The balloon tips' setting: show a tip when the Scan or Clean page is entered
extern std::atomic<bool> ShowBalloonTips;

} // namespace kv
