#include "cleaner/engine/GetFolderSizeUnit.h"

#include <cstring>

#include "cleaner/engine/DeleteGuard.h"
#include "platform/Format.h"
#include "platform/Handles.h"
#include "platform/TextCodec.h"

namespace kv {

namespace {

struct TActionRow {
    int action;
    TCleanTarget row;
};
constexpr TActionRow kActionRows[] = {
    {saRecycleBin, ctRecycleBin},           {saTempFolders, ctWindowsTemp},   {saIECache, ctTempInternetFiles},
    {saCookies, ctCookies},                 {saFoldersToEmpty, ctSpecificFolder}, {saIEHistory, ctHistory},
    {saRecentDocuments, ctRecentDocuments}, {saFirefoxCache, ctFirefoxCache},
};

// Rows whose size comes from a size thread, in the order the total adds them.
constexpr TCleanTarget kMeasuredRows[] = {ctRecycleBin,        ctWindowsTemp, ctSpecificFolder,  ctCookies,
                                          ctTempInternetFiles, ctHistory,     ctRecentDocuments, ctFirefoxCache};

constexpr std::size_t kRecycledV1Size = 544;
constexpr std::size_t kRecycledV2Header = 28;

std::uint64_t ReadUint64(const std::string& bytes, std::size_t at)
{
    std::uint64_t value = 0;
    if (at + 8 <= bytes.size()) std::memcpy(&value, bytes.data() + at, 8);
    return value;
}

std::uint32_t ReadUint32(const std::string& bytes, std::size_t at)
{
    std::uint32_t value = 0;
    if (at + 4 <= bytes.size()) std::memcpy(&value, bytes.data() + at, 4);
    return value;
}

bool IsPlainFileEntry(const WIN32_FIND_DATAW& entry)
{
    return !(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !IsLinkEntry(entry);
}

// Calls `visit` for every entry of `folder` with a plain name, until the window closes.
template <class Visit>
void ForEachEntry(const std::wstring& folder, Visit visit)
{
    WIN32_FIND_DATAW entry{};
    FindHandle find(::FindFirstFileW((folder + L"*.*").c_str(), &entry));
    if (!find) return;
    do {
        // A name that is not plain would measure another entry (or leave the folder).
        if (IsPlainEntryName(entry.cFileName)) visit(entry);
    } while (AppClosing == 0 && ::FindNextFileW(find.Get(), &entry));
}

// The recycle-bin walk of both layouts: below the top level everything counts;
// at the top only what `countsAtTop` accepts.
template <class Accept>
void RecycleBinWalk(const std::wstring& folder, std::int64_t& total, bool topLevel, Accept countsAtTop)
{
    ForEachEntry(folder, [&](const WIN32_FIND_DATAW& entry) {
        const bool isFolder = IsWalkableFolder(entry);
        if (!isFolder && !IsPlainFileEntry(entry)) return;
        if (topLevel && !countsAtTop(entry, isFolder)) return;
        if (isFolder)
            RecycleBinWalk(folder + entry.cFileName + L"\\", total, false, countsAtTop);
        else
            total += FileSizeOnDisk(folder + entry.cFileName, ListedSize(entry));
    });
}

bool IsSidText(const std::wstring& sid) { return !sid.empty() && IsPlainFileName(sid); }

// Measures a folder only when cleaning may empty it.
void MeasureCleanableFolder(const TDeleteGuard& guard, const std::wstring& folder, std::int64_t& total,
                            bool onlyWritable, std::wstring_view mask, bool withSubFolders)
{
    if (guard.MayEmptyFolder(folder)) FolderSizeByMask(folder, total, onlyWritable, mask, withSubFolders);
}

std::int64_t IECacheSize(const TDeleteGuard& guard)
{
    if (!guard.MayEmptyFolder(IECacheFolder)) return 0;
    std::int64_t total = 0;
    FolderSizeByMask(IECacheFolder, total, false, L"*");
    // The cache's own index is blanked, not removed.
    total -= FileSizeOnDisk(IECacheFolder + L"Content.IE5\\index.dat");
    return total > 0 ? total : 0;
}

} // namespace

TCleanTarget SizeActionRow(int action)
{
    for (const TActionRow& entry : kActionRows)
        if (entry.action == action) return entry.row;
    return ctJunkFiles;
}

void FolderSizeByMask(const std::wstring& folder, std::int64_t& total, bool onlyWritable, std::wstring_view mask,
                      bool withSubFolders)
{
    if (folder.size() <= 2) return;
    TFolderLinks links(folder);
    ForEachEntry(folder, [&](const WIN32_FIND_DATAW& entry) {
        if (IsWalkableFolder(entry)) {
            if (withSubFolders) FolderSizeByMask(folder + entry.cFileName + L"\\", total, onlyWritable, mask, true);
            return;
        }
        if (!IsPlainFileEntry(entry) || !MatchWildcard(mask, LowerCase(entry.cFileName))) return;
        // A link frees no space of its own and is never removed through.
        if (links.IsLink(entry)) return;
        const std::wstring path = folder + entry.cFileName;
        if (onlyWritable && !CanOpenFile(path)) return;
        total += FileSizeOnDisk(path, ListedSize(entry));
    });
}

// ---------------------------------------------------------------------------
// Recycle bins

int WindowsMajorVersion()
{
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    return ::GetVersionExW(&version) ? static_cast<int>(version.dwMajorVersion) : 0;
}

TRecycleBinLayout RecycleBinLayout(wchar_t letter, const std::wstring& root, int majorVersion,
                                   const std::wstring& fileSystem, const std::wstring& userSid)
{
    const bool ntfs = fileSystem == L"NTFS";
    TRecycleBinLayout layout;
    layout.perUserFiles = majorVersion >= 6;
    layout.mask = layout.perUserFiles ? L"$R*" : Format(L"D%s*", {std::wstring(1, letter)});
    const std::wstring bin = layout.perUserFiles ? L"$Recycle.Bin\\" : (ntfs ? L"Recycler\\" : L"Recycled\\");
    // On NTFS each user has a bin of their own; without the user's SID there is
    // nothing of theirs to measure.
    if (ntfs && !IsSidText(userSid)) return layout;
    layout.folder = root + bin + (ntfs ? userSid + L"\\" : std::wstring());
    return layout;
}

bool IsRecycledPair(const std::wstring& folder, const std::wstring& name)
{
    if (name.size() < 2 || name.compare(0, 2, L"$R") != 0) return false;
    std::wstring companion = name;
    companion[1] = L'I';
    WIN32_FILE_ATTRIBUTE_DATA data{};
    const std::wstring path = folder + companion;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    // A version 2 record holds at most a 32767-character path.
    if (data.nFileSizeHigh != 0 || data.nFileSizeLow > kRecycledV2Header + 2 * 32768) return false;
    const auto bytes = ReadWholeFile(path);
    if (!bytes) return false;
    switch (ReadUint64(*bytes, 0)) {
    case 1:
        return bytes->size() == kRecycledV1Size;
    case 2: {
        const std::size_t characters = ReadUint32(*bytes, 24);
        return bytes->size() >= kRecycledV2Header && characters > 0 &&
               bytes->size() == kRecycledV2Header + 2 * characters;
    }
    default:
        return false;
    }
}

void RecycleBinSizeV6(const std::wstring& folder, std::wstring_view mask, std::int64_t& total, bool topLevel)
{
    const std::wstring lowerMask = LowerCase(mask);
    RecycleBinWalk(folder, total, topLevel, [&](const WIN32_FIND_DATAW& entry, bool) {
        return MatchWildcard(lowerMask, LowerCase(entry.cFileName)) && IsRecycledPair(folder, entry.cFileName);
    });
}

void RecycleBinSizeV5(const std::wstring& folder, std::wstring_view mask, std::int64_t& total, bool topLevel)
{
    const std::wstring lowerMask = LowerCase(mask);
    RecycleBinWalk(folder, total, topLevel, [&](const WIN32_FIND_DATAW& entry, bool isFolder) {
        const std::wstring name = LowerCase(entry.cFileName);
        return MatchWildcard(lowerMask, name) && (isFolder || name != L"desktop.ini");
    });
}

std::int64_t RecycleBinSizeOfDrive(wchar_t letter, const std::wstring& root, int majorVersion,
                                   const std::wstring& fileSystem, const std::wstring& userSid)
{
    const TRecycleBinLayout layout = RecycleBinLayout(letter, root, majorVersion, fileSystem, userSid);
    std::int64_t total = 0;
    if (layout.folder.empty()) return 0;
    if (layout.perUserFiles)
        RecycleBinSizeV6(layout.folder, layout.mask, total, true);
    else
        RecycleBinSizeV5(layout.folder, layout.mask, total, true);
    return total;
}

std::int64_t GetRecycleBinSize()
{
    const int major = WindowsMajorVersion();
    std::int64_t total = 0;
    for (wchar_t letter = L'C'; letter <= L'Z'; ++letter) {
        const std::wstring root = std::wstring(1, letter) + L":\\";
        if (::GetDriveTypeW(root.c_str()) != DRIVE_FIXED) continue;
        total += RecycleBinSizeOfDrive(letter, root, major, GetFileSystemName(root), CurrentUserSid);
    }
    return total;
}

// ---------------------------------------------------------------------------
// The measures of the rows

std::int64_t TempFoldersSize(bool onlyWritableUserTemp)
{
    const TDeleteGuard guard;
    // Only folders that cleaning may empty count; of those, one that is the
    // other (in whatever spelling) or lies inside it is walked once, from the
    // outer one.
    const std::wstring user = guard.MayEmptyFolder(UserTempFolder) ? CanonicalFolder(UserTempFolder) : std::wstring();
    const std::wstring windows = guard.MayEmptyFolder(WinTempFolder) ? CanonicalFolder(WinTempFolder) : std::wstring();
    std::int64_t total = 0;
    if (IsSameOrInside(user, windows) && !IsSameOrInside(windows, user)) {
        FolderSizeByMask(windows, total, true, L"*");
        return total;
    }
    if (!user.empty()) FolderSizeByMask(user, total, onlyWritableUserTemp, L"*");
    if (!windows.empty() && !IsSameOrInside(windows, user)) FolderSizeByMask(windows, total, true, L"*");
    return total;
}

std::int64_t MeasureSizeAction(int action, const std::vector<TFolderToEmpty>& foldersToEmpty,
                               const std::wstring& cookieKeepList)
{
    const TDeleteGuard guard;
    std::int64_t total = 0;
    switch (action) {
    case saRecycleBin:
        return GetRecycleBinSize();
    case saTempFolders:
        return TempFoldersSize(CleanPageActive != 0);
    case saIECache:
        return IECacheSize(guard);
    case saCookies:
        return FilesSizeOnDisk(UnkeptCookieFiles(IECookiesFolder, cookieKeepList));
    case saFoldersToEmpty:
        // Each folder counts as deeply as it is emptied.
        for (const TFolderToEmpty& folder : foldersToEmpty)
            MeasureCleanableFolder(guard, folder.folder, total, false, L"*", folder.withSubFolders);
        return total;
    case saIEHistory:
        MeasureCleanableFolder(guard, IEHistoryFolder, total, true, L"*.dat", true);
        return total;
    case saRecentDocuments:
        // The recent-documents clean leaves sub-folders alone; so does its size.
        MeasureCleanableFolder(guard, RecentFolder, total, false, L"*.lnk", false);
        return total;
    case saFirefoxCache:
        MeasureCleanableFolder(guard, FirefoxCacheFolder, total, false, L"*", true);
        return total;
    default:
        return 0;
    }
}

std::int64_t UpdateCleanTotalSize(TCleanPageView& view)
{
    std::int64_t total = 0;
    if (view.IsTargetChecked(ctJunkFiles)) {
        const TCleanMethod method = view.CleanMethod();
        // Files sent to the recycle bin free their space only when it is emptied too;
        // files moved to the backup folder free nothing.
        if (method == cmDeletePermanently || (method == cmRecycleBin && view.IsTargetChecked(ctRecycleBin)))
            total += JunkTotalSize;
    }
    for (TCleanTarget row : kMeasuredRows)
        if (view.IsTargetChecked(row) && TargetSizeReady[row] == 1) total += TargetSize[row];
    if (view.IsTargetChecked(ctFirefoxHistory)) total += FilesSizeOnDisk(FirefoxHistoryFilesToRemove(FirefoxHistoryFile));
    if (view.IsTargetChecked(ctFirefoxCookies)) total += FilesSizeOnDisk(FirefoxCookiesFilesToRemove(FirefoxCookiesFile));
    if (view.CleanPageShown()) view.ShowCleanTotal(total);
    return total;
}

void InvalidateCleanSizes()
{
    for (TCleanTarget row : kMeasuredRows) TargetSizeReady[row] = 1;
}

// ---------------------------------------------------------------------------
// TGetFolderSize

bool TGetFolderSize::StartSizeThread(int action, TCleanPageView& view, std::vector<TFolderToEmpty> foldersToEmpty)
{
    const TCleanTarget row = SizeActionRow(action);
    if (row == ctJunkFiles) return false;
    // Claimed here, on the main thread, so that a second start cannot slip in
    // before the first thread has begun.
    std::uint8_t idle = 1;
    if (!TargetSizeReady[row].compare_exchange_strong(idle, 0)) return false;
    WorkerThread::Start<TGetFolderSize>(action, view, std::move(foldersToEmpty));
    return true;
}

TGetFolderSize::TGetFolderSize(int action, TCleanPageView& view, std::vector<TFolderToEmpty> foldersToEmpty)
    : GetAction(action), view_(view), foldersToEmpty_(std::move(foldersToEmpty)), cookieKeepList_(CookieKeepList)
{
    const TCleanTarget row = SizeActionRow(action);
    if (row != ctJunkFiles) TargetSizeReady[row] = 0;
}

void TGetFolderSize::Execute()
{
    const TCleanTarget row = SizeActionRow(GetAction);
    if (row == ctJunkFiles) return;
    TargetSizeReady[row] = 0;
    TargetSize[row] = 0;
    const std::int64_t size = MeasureSizeAction(GetAction, foldersToEmpty_, cookieKeepList_);
    TargetSize[row] = size;
    UpdateID = row;
    UpdateContent = FormatFileSize(size);
    TargetSizeReady[row] = 1;
    Synchronize([this] { UpdateRow(); });
}

void TGetFolderSize::UpdateRow()
{
    view_.SetTargetSizeText(static_cast<TCleanTarget>(UpdateID), UpdateContent);
    UpdateCleanTotalSize(view_);
}

} // namespace kv
