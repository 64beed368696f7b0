#pragma once
// Frames of the row-image list (resource ICONS). Several are stored as data:
// a path row's kind is its image index and is saved in the settings, so these
// numbers never change.
namespace kv {

enum TIconIndex : int {
    iiDrive = 0,
    iiIncludeFolder = 1,
    iiRecycleBin = 2,
    iiIncludeFilter = 3,
    iiRecycleMethod = 4,
    iiRecentDocuments = 5,
    iiScanFile = 6,
    iiScanFileBroken = 9,
    iiHistory = 10,
    iiEmptyFolder = 11,
    iiRegistry = 12,
    iiExcludeFilter = 13,
    iiExcludeFolder = 14,
    iiSortUp = 15,
    iiSortDown = 16,
    iiIncludeWithSubFolders = 24,
    iiExcludeWithSubFolders = 25,
    iiEmptyWithSubFolders = 26,
    iiInternetCache = 31,
    iiCookies = 32,
    iiCheckHeader = 33,
    iiScanEmptyFolder = 34,
    iiFirefox = 35,
    iiIconCount = 40
};

} // namespace kv
