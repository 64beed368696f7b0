#pragma once
// The sizes of the clean targets: one short-lived TGetFolderSize thread per
// measured row of the Clean page, the measures themselves (folder walks by
// mask, the recycle bins of every Windows layout) and the grand total of the
// checked rows. Every measure counts what cleaning the row would remove, with
// sizes on disk, and never walks into a reparse point.
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cleaner/engine/CleanTargets.h"
#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/SharedState.h"
#include "platform/WorkerThread.h"

namespace kv {

// What the size threads and the total need of the Clean page; the main window
// implements it. Every call comes on the main thread.
class TCleanPageView {
public:
    virtual ~TCleanPageView() = default;
    // The row's "Size" column.
    virtual void SetTargetSizeText(TCleanTarget row, const std::wstring& text) = 0;
    virtual bool IsTargetChecked(TCleanTarget row) const = 0;
    virtual TCleanMethod CleanMethod() const = 0;
    // Whether the Clean page is on show (the total is shown only there).
    virtual bool CleanPageShown() const = 0;
    // IndexLabel: language text 106 with FormatFileSize (total).
    virtual void ShowCleanTotal(std::int64_t total) = 0;
};

// The size actions and the row each one measures.
enum TSizeAction : int {
    saRecycleBin = 0,
    saTempFolders = 1,
    saIECache = 2,
    saCookies = 3,
    saFoldersToEmpty = 5,
    saIEHistory = 6,
    saRecentDocuments = 7,
    saFirefoxCache = 10,
};
// The row of an action; ctJunkFiles for an action that measures nothing.
TCleanTarget SizeActionRow(int action);

// Adds the size on disk of the files matching `mask` below `folder` (trailing
// backslash) to `total`; with only-writable, a file counts only when it can be
// opened for writing. Stops early when AppClosing is set.
void FolderSizeByMask(const std::wstring& folder, std::int64_t& total, bool onlyWritable, std::wstring_view mask,
                      bool withSubFolders = true);

// ---- Recycle bins
int WindowsMajorVersion();
struct TRecycleBinLayout {
    std::wstring folder; // trailing backslash
    std::wstring mask;
    bool perUserFiles; // "$R"/"$I" pairs (Vista and later), else "D<letter>*" entries
};
TRecycleBinLayout RecycleBinLayout(wchar_t letter, const std::wstring& root, int majorVersion,
                                   const std::wstring& fileSystem, const std::wstring& userSid);
// "$R..." with a "$I..." companion that is a valid version 1 (544 bytes) or
// version 2 (28 bytes + the UTF-16 path) record of a deleted item.
bool IsRecycledPair(const std::wstring& folder, const std::wstring& name);
void RecycleBinSizeV6(const std::wstring& folder, std::wstring_view mask, std::int64_t& total, bool topLevel);
void RecycleBinSizeV5(const std::wstring& folder, std::wstring_view mask, std::int64_t& total, bool topLevel);
std::int64_t RecycleBinSizeOfDrive(wchar_t letter, const std::wstring& root, int majorVersion,
                                   const std::wstring& fileSystem, const std::wstring& userSid);
// Every fixed drive C to Z.
std::int64_t GetRecycleBinSize();

// ---- The measures of the rows
// Both temp folders; a folder that is the other or lies inside it counts once.
std::int64_t TempFoldersSize(bool onlyWritableUserTemp);
// The cookie keep list and the folders to empty are the caller's snapshots.
std::int64_t MeasureSizeAction(int action, const std::vector<TFolderToEmpty>& foldersToEmpty,
                               const std::wstring& cookieKeepList);

// Sums the checked rows (see the Clean page) and, on the Clean page, shows it.
std::int64_t UpdateCleanTotalSize(TCleanPageView& view);
// Marks every row as not being measured.
void InvalidateCleanSizes();

class TGetFolderSize : public WorkerThread {
public:
    // Starts a thread for `action` unless its row is being measured already;
    // true when one was started. `foldersToEmpty` is the path list's snapshot.
    static bool StartSizeThread(int action, TCleanPageView& view, std::vector<TFolderToEmpty> foldersToEmpty = {});

    TGetFolderSize(int action, TCleanPageView& view, std::vector<TFolderToEmpty> foldersToEmpty);

protected:
    void Execute() override;

private:
    void UpdateRow();

    WorkerThreadCounter counter_;
    int UpdateID = 0;
    int GetAction = 0;
    std::wstring UpdateContent;
    TCleanPageView& view_;
    const std::vector<TFolderToEmpty> foldersToEmpty_;
    const std::wstring cookieKeepList_;
};

} // namespace kv
