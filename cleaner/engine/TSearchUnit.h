#pragma once
// The junk-file scan: one snapshot of the window's checked paths and filters,
// then a depth-first walk that reports every matching file, broken shortcut
// and empty folder as a result row.
//
// The scan never touches a window. Everything it needs from the window and
// everything it shows goes through TScanView, whose methods always run on the
// main thread: TSearch (the worker thread) reaches them through Synchronize,
// RunScan (the headless entry point for tests, benchmarks and tools) calls
// them directly on the calling thread. Both run the same TSearchEngine.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/SharedState.h"
#include "cleaner/engine/SkipLog.h"
#include "platform/WorkerThread.h"

namespace kv {

// Images of the filter list's rows: an inclusive filter; any other image is exclusive.
constexpr int kInclusiveFilterImage = 3;
constexpr int kExclusiveFilterImage = 13;

// Images of the result rows.
constexpr int kFileResultImage = 6;
constexpr int kProgramResultImage = 9;
constexpr int kEmptyFolderResultImage = 34;

// The Filter column of an empty folder's row and of a broken shortcut's row.
inline constexpr wchar_t kEmptyFolderFilter[] = L"[EMPTY]";
inline constexpr wchar_t kInvalidShortcutFilter[] = L"[INVALID SHORTCUT]";

// Language-table entries the scan shows.
enum TScanText : int {
    stFoundSize = 106,    // "Total amount disk space you will gain: %s"
    stScanningFolder = 107, // "Scanning  %s%s\" (folder, name)
    stFinishedHint = 113, // shown after the status prefix when the scan ends
    stAborted = 148,      // "[Aborted]"
    stFinished = 190,     // "[Finished]"
    stSearching = 191     // "Searching ..."
};

// One row of the path list as the window holds it.
struct TScanPathRow {
    std::wstring Caption; // folder without trailing backslash, or a drive ("C:")
    int Kind = pkIncludeFolder; // PathKind
    bool Checked = false;
};

// One row of the filter list as the window holds it.
struct TScanFilterRow {
    std::wstring Mask;
    int Image = kInclusiveFilterImage;
    bool Checked = false;
};

// What the scan reads from the window, once, at its start.
struct TScanOptions {
    std::vector<TScanPathRow> Paths;     // every row, in window order
    std::vector<TScanFilterRow> Filters; // every row, in window order
    std::wstring BackupFolder;           // the backup folder of clean method 1 (never scanned)
    bool FindInvalidShortcut = false;
    bool FindEmptyFolder = false;
    bool SkipReadOnlyAttr = false;
};

// One row of the result list; added checked.
struct TScanResult {
    std::wstring Caption;  // the file's name as found on disk, or the empty folder's own name
    int ImageIndex = kFileResultImage;
    std::wstring Location; // folder with trailing backslash
    // The size and time as found: the window writes them out ("###,##0" and
    // FileTimeToText) only for the rows it shows, not for each of thousands.
    std::int64_t Size = 0; // logical size; 0 for an empty folder
    FILETIME Modified{};   // last-write time
    std::wstring Filter;   // the include mask that matched, or one of the bracketed texts above
    std::int64_t SizeOnDisk = 0; // what the row adds to the found and checked totals
};

// The window side of a scan. Every method runs on the main thread.
class TScanView {
public:
    virtual ~TScanView() = default;

    // The path rows, filter rows and options; the window then enters its
    // scanning state (navigation off, result list emptied, status line
    // stSearching, title flash on, filter menu off).
    virtual TScanOptions ReadScanOptions() = 0;
    // The folder being entered (the hint line).
    virtual void ShowCurrentPath(const std::wstring& text) = 0;
    // Adds one result row, checked. `status` is the new status line (the size
    // found so far); it is empty for an empty folder, which adds nothing.
    virtual void AddScanItem(const TScanResult& row, const std::wstring& status) = 0;
    // The scan has ended (by itself or stopped): status line := `status`, hint
    // line emptied, navigation on, control buttons by whether rows exist,
    // title flash off, filter menu on, menu caption := the Scan page's.
    virtual void ScanFinished(const std::wstring& status) = 0;
    // A text of the language table.
    virtual std::wstring LanguageText(int index) = 0;
    // The entries the scan left alone on purpose (names that are not plain,
    // paths too long), right before ScanFinished, whose status then ends with
    // their count.
    virtual void ScanSkipped(const TSkipList& skipped) {}
};

// Runs a method on the main thread while the caller waits.
using TSynchronizer = std::function<void(const std::function<void()>&)>;

// The scan itself. Construct one per scan; Run does the whole of it.
class TSearchEngine {
public:
    TSearchEngine(TScanView& view, TSynchronizer synchronize);
    TSearchEngine(const TSearchEngine&) = delete;
    TSearchEngine& operator=(const TSearchEngine&) = delete;

    void Run();

    // The expanded target of a shortcut; empty when it cannot be read.
    static std::wstring GetShortcutTarget(const std::wstring& path);

private:
    // A mask as the window gave it, lower-cased, with its upper-cased form
    // for matching and whether it names a whole path.
    struct Mask {
        std::wstring Lower;
        std::wstring Upper;
        bool HasBackslash = false;
    };
    using MaskList = std::vector<Mask>;

    // Whether one root is, or lies inside, another (each with a trailing backslash).
    static bool RootsOverlap(const std::vector<std::wstring>& withSubFolders,
                             const std::vector<std::wstring>& withoutSubFolders);
    void InitExclusiveLists();
    void ReadScanOptions();
    void ScanRoots(const std::vector<std::wstring>& roots, bool withSubFolders);
    void ScanFolder(const std::wstring& folder);
    void ScanSubFolder(const std::wstring& folder, const std::wstring& lowerFolder, const WIN32_FIND_DATAW& entry);
    void ScanFile(const std::wstring& folder, const std::wstring& lowerFolder, bool folderFilesExcluded,
                  const WIN32_FIND_DATAW& entry);
    void CheckShortcut(const std::wstring& folder, const WIN32_FIND_DATAW& entry);
    void ReportEmptyFolder(const std::wstring& folder, const WIN32_FIND_DATAW& timeEntry);
    // The file `lowerName` (lower case) of the folder `lowerFolder`; its
    // whole path is joined only for a mask that names one.
    bool IsFileNotExcluded(std::wstring_view lowerFolder, std::wstring_view lowerName,
                           const std::wstring& upperName) const;
    bool IsFolderNotExcluded(const std::wstring& lowerFolder) const;
    bool IsExclusiveFolder(const std::wstring& lowerFolder) const;

    // `path` is `folder` joined to the entry's name; `size` is the logical
    // size, as the listing gives it.
    void AddScanItem(const std::wstring& path, const std::wstring& folder, const WIN32_FIND_DATAW& entry,
                     const std::wstring& rule, std::int64_t size);
    // `foundSize`: the found total the status line shows with the row; none
    // for a row that adds nothing (an empty folder).
    void AddRow(TScanResult row, std::optional<std::int64_t> foundSize);
    void FlushRows();
    void AddPendingRows();
    void ShowCurrentPath(std::wstring text);
    void FlushCurrentPath(bool force);
    void ScanFinished();

    static void AddMask(MaskList& list, const std::wstring& mask);

    TScanView& view_;
    TSynchronizer synchronize_;

    bool FindInvalidShortcut = false;
    bool FindEmptyFolder = false;
    bool SkipReadOnlyAttr = false;
    bool scanSubFolders_ = true; // false while the roots without sub-folders are walked
    MaskList ExclusiveFile;
    MaskList ExclusiveFolderSub;          // whole-path patterns, trailing backslash
    std::vector<std::wstring> ExclusiveFolder; // lower-cased, trailing backslash
    MaskList InclusiveFile;
    std::vector<std::wstring> InclusiveFolderSub; // caption case, trailing backslash
    std::vector<std::wstring> InclusiveFolder;

    // Texts of the language table, read once on the main thread.
    std::wstring scanningFolderText_;
    std::wstring foundSizeText_;

    // The current file's name, lower- and upper-cased (see ScanFile).
    std::wstring searchName_;
    std::wstring upperName_;

    // Nested roots (C:\ and C:\Temp\) would list a file twice and count its
    // size twice: then every path reported is kept, to list it once. Roots
    // apart from each other cannot reach one file twice (links are not
    // followed), and keep nothing.
    bool rootsOverlap_ = false;
    std::unordered_set<std::wstring> reported_;
    TSkipList skipped_;

    // Rows wait for their synchronised call, which then adds them together:
    // a call costs about as much as listing a small folder, and the window
    // adds many rows in one go for much less than one row a call.
    struct PendingRow {
        TScanResult row;
        std::optional<std::int64_t> foundSize;
    };
    std::vector<PendingRow> pendingRows_;
    bool rowsShown_ = false;

    // The folder display is throttled: a synchronised call costs about as much
    // as listing a small folder, so at most one per kPathDisplayInterval.
    std::wstring pendingPath_;
    bool pathPending_ = false;
    bool pathShown_ = false;

    // When the last synchronised call went, whatever it carried: rows and
    // folder text share one throttle, each riding along with the other.
    DWORD lastCallAt_ = 0;
};

// The scan thread: created suspended, counted in WorkerThreadCount for its
// whole life, started once constructed, freed when it ends.
class TSearch : public WorkerThread {
public:
    static TSearch* Create(TScanView& view);

protected:
    void Execute() override;

private:
    friend class WorkerThread;
    explicit TSearch(TScanView& view);

    WorkerThreadCounter counter_;
    TScanView& view_;
};

// The headless scan: the same walk as TSearch, on the calling thread, with
// the view's methods called directly. The caller must be the main thread
// whenever the view touches windows.
void RunScan(TScanView& view);

// What the Stop button does: the walk ends after the entry in hand, and the
// end-of-scan status starts with `abortedText` and one blank.
void StopScan(std::wstring_view abortedText);

} // namespace kv
