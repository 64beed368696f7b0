#pragma once
// Clean Now: the checked scan results by clean method (to the recycle bin,
// into the backup folder with its log, or deleted for good), then the checked
// clean targets in their fixed order, each finished step a numbered line of
// the progress log, and the totals recomputed at the end.
//
// The engine never touches a window. The Clean page takes a snapshot of its
// rows (TCleanNowRequest), implements TCleanNowView and calls RunCleanNow on
// the main thread; job mode does the same, and then no question is ever
// asked: a missing backup folder counts as "No" and the permanent delete is
// not confirmed.
//
// What a result row may lose, whatever the method:
// - only entries that still exist as a file, or as an empty folder on a row
//   that was an empty folder when it was found, reached by their exact name
//   through their checked folder (CheckedFolder.h); a permanent delete goes
//   through the entry's checked handle, the recycle bin and a move check the
//   folder again right before they act;
// - never an entry inside the Windows, system or program-files folders, the
//   program's own folder or the backup folder;
// - never a link (junction, symbolic link, or a link that Wine lists as a
//   file), nor anything through one: links stay where they are;
// - never the backup folder or anything in it, and never a drive root or one
//   of the system's or the user's key folders (TDeleteGuard).
// Entries that cannot be removed or moved stay where they were.
#include <windows.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "cleaner/engine/BackupLog.h"
#include "cleaner/engine/CleanTargets.h"
#include "cleaner/engine/SharedState.h"
#include "cleaner/engine/SkipLog.h"

namespace kv {

// One row of the result list as Clean Now sees it.
struct TJunkItem {
    std::wstring Path;          // location + name
    bool Checked = false;
    bool IsEmptyFolder = false; // the row's image is the empty-folder image
};
// A row of the result list: its caption (name), location (trailing
// backslash), image and check mark.
TJunkItem JunkItemOf(const std::wstring& caption, const std::wstring& location, int imageIndex, bool checked);

// What became of the checked rows' entries.
struct TJunkOutcome {
    // The checked rows (indices into the items, in order; not their paths,
    // which the items hold already, for thousands of rows):
    std::vector<std::size_t> cleaned; // gone from their place (recycled, moved or deleted)
    std::vector<std::size_t> kept;    // still where they were (refused, missing, or the operation failed)
    TSkipList skipped;                 // the kept ones that were refused on purpose, with the reason
};

// The three methods on their own; every checked row is tried, in order.
TJunkOutcome RecycleJunk(const std::vector<TJunkItem>& items, const std::wstring& backupFolder);
TJunkOutcome DeleteJunkPermanently(const std::vector<TJunkItem>& items, const std::wstring& backupFolder);
// Moves the entries below `backup.folder` (which must exist) and lists each
// entry that really moved in the log, after `header`. An entry whose place in
// the backup is taken by different contents stays where it is; one whose
// backup copy already holds the same bytes is removed and listed. Nothing
// moves when the log cannot be read or written.
TJunkOutcome MoveJunkToBackup(const std::vector<TJunkItem>& items, const TBackupLocation& backup,
                              const std::wstring& header);

// The window side of Clean Now. Every call comes on the main thread.
class TCleanNowView {
public:
    virtual ~TCleanNowView() = default;
    virtual std::wstring LanguageText(int index) = 0;
    // CleanNowButton off, StopButton on, the progress window shown unless
    // RunHiddenly, pending messages processed, the progress log emptied.
    virtual void CleanNowStarted() = 0;
    // The progress window's ProgressLabel.
    virtual void ShowProgressText(const std::wstring& text) = 0;
    // A finished step: TProgressForm::AddProgressLine(step, stepTotal, text).
    virtual void AddProgressLine(int step, int stepTotal, const std::wstring& text) = 0;
    // Language text 84 (caption 145, Yes and No, warning icon, No as default).
    // Never called in job mode.
    virtual bool ConfirmPermanentDelete() = 0;
    // The backup folder `folder` does not exist: Format(language text 254,
    // folder), caption "Warning", Yes and No, warning icon; Yes opens the
    // backup-folder dialog. The location to try next (as the dialog left the
    // settings), or nullopt for No. Never called in job mode.
    virtual std::optional<TBackupLocation> CorrectBackupFolder(const std::wstring& folder) = 0;
    // Every checked result row is deleted, then ResetScanColumns.
    virtual void RemoveCleanedItems() = 0;
    // One entry left alone on purpose (SkippedLine), after the step that met it.
    virtual void AddSkippedLine(const std::wstring& text) {}
    // RefreshCleanSizes; CleanNowButton on, StopButton off; IndexLabel and
    // the progress label := `doneText` (language text 109); the progress
    // window keeps its log (TProgressForm::FinishLog).
    virtual void CleanNowFinished(const std::wstring& doneText) = 0;
};

// The Clean page as it stands when Clean Now is pressed.
struct TCleanNowRequest {
    std::array<bool, ctTargetCount> CheckedRows{};
    std::vector<TJunkItem> Junk; // every row of the result list, in order
    TCleanMethod CleanMethod = cmRecycleBin;
    TBackupLocation Backup;      // SpecificFolder, DeletionFile
    TCleanRequest Targets;       // the rest of the targets' options; checkedTrackEntries from both menus
};

// Language texts of the scan-results step.
enum TCleanNowText : int {
    cnRecycling = 80,
    cnRecycled = 81,
    cnConfirmDelete = 84,
    cnDeleting = 85,
    cnDeleted = 86,
    cnMoving = 87,
    cnMoved = 88,
    cnNothingChecked = 89,
    cnFinished = 109,
    cnLogTitle = 147,
    cnBackupFolderMissing = 254,
};

// The checked rows, plus one for each registry menu with a checked entry
// whose row is not checked.
int ProgressStepTotal(const TCleanNowRequest& request);
// Whether the checked entries include one of this menu's.
bool HasCheckedProgramHistoryEntry(const TCleanRequest& targets);
bool HasCheckedWindowsTracksEntry(const TCleanRequest& targets);

struct TCleanNowReport {
    int steps = 0;            // progress lines written
    int stepTotal = 0;
    bool junkDone = false;    // the scan results were worked on (not skipped or declined)
    TJunkOutcome junk;
    TBackupLocation backup;   // the location the move used (after a correction)
    TSkipList skipped;        // everything left alone on purpose, in the order met
};

// The whole of Clean Now. Sets CleanPageActive, StopRequested (0 while it
// runs, 1 after) and JunkTotalSize (0 at the end).
TCleanNowReport RunCleanNow(TCleanNowView& view, const TCleanNowRequest& request);

} // namespace kv
