#include "cleaner/engine/JunkCleaner.h"

#include <shellapi.h>

#include <algorithm>
#include <exception>
#include <map>
#include <memory>
#include <unordered_set>

#include "cleaner/engine/CheckedFolder.h"
#include "cleaner/engine/DeleteGuard.h"
#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/SettingsStore.h"
#include "cleaner/engine/TSearchUnit.h"
#include "cleaner/engine/WineTrash.h"
#include "platform/Format.h"
#include "platform/Handles.h"
#include "platform/Paths.h"
#include "platform/TextCodec.h"

namespace kv {
namespace {

enum class TEntryKind { Missing, Refused, File, EmptyFolder };

// A checked entry as it is on disk now.
struct TJunkEntry {
    TEntryKind kind = TEntryKind::Missing;
    std::optional<TSkipReason> reason; // why a refused entry is left alone
    const TCheckedFolder* folder = nullptr;
    std::wstring name;
    std::optional<TCheckedEntry> opened; // the entry's own handle, for a delete through it
};

bool IsFolderEmpty(const std::wstring& folder)
{
    WIN32_FIND_DATAW entry{};
    FindHandle find(::FindFirstFileW((folder + L"*").c_str(), &entry));
    if (!find) return false; // not known to be empty
    do {
        const std::wstring_view name(entry.cFileName);
        if (name != L"." && name != L"..") return false;
    } while (::FindNextFileW(find.Get(), &entry));
    return true;
}

bool Overlaps(const std::wstring& canonical, const std::wstring& backup)
{
    return !backup.empty() && (IsSameOrInside(canonical, backup) || IsSameOrInside(backup, canonical));
}

// What a checked row's entry may be made to undergo (see the top of JunkCleaner.h).
// Each folder is opened and checked once per run; its entries are reached
// through it by their exact names.
class TJunkInspector {
public:
    explicit TJunkInspector(const std::wstring& backupFolder)
        : backup_(CanonicalFolder(WithTrailingBackslash(backupFolder))), guard_(WithTrailingBackslash(backupFolder))
    {
    }

    TJunkEntry Inspect(const TJunkItem& item)
    {
        TJunkEntry result;
        auto refuse = [&](std::optional<TSkipReason> reason) {
            result.kind = TEntryKind::Refused;
            result.reason = reason;
            return std::move(result);
        };
        const std::wstring& path = item.Path;
        const std::wstring folderText = FolderOfPath(path);
        result.name = path.substr(folderText.size());
        if (path.empty() || !IsPlainEntryName(result.name)) return refuse(TSkipReason::NotPlainName);
        if (path.size() >= MAX_PATH) return refuse(TSkipReason::PathTooLong);
        // Refused as the checked folder would refuse it, but before the
        // protected-folder verdict looks the folder up.
        if (!IsDrivePath(folderText)) return refuse(TSkipReason::NotPlainName);
        TFolderState& state = FolderState(folderText);
        if (state.isProtected || (item.IsEmptyFolder && guard_.IsInsideProtectedFolder(path + L"\\")))
            return refuse(TSkipReason::ProtectedFolder);
        // Listed before the folder is opened for deleting: Wine lists no folder
        // that is open so. A folder that fills up after this stays all the same,
        // since a folder goes only when empty.
        if (item.IsEmptyFolder && !IsFolderEmpty(path + L"\\")) return refuse(std::nullopt);
        if (!state.checked) state.checked = std::make_unique<TCheckedFolder>(folderText, state.canonical);
        const TCheckedFolder& folder = *state.checked;
        result.folder = &folder;
        std::optional<TSkipReason> refusal;
        result.opened = folder.OpenEntry(result.name, item.IsEmptyFolder, &refusal);
        if (!result.opened) {
            if (refusal) return refuse(refusal);
            return result; // gone, or no longer of its kind
        }
        if (result.opened->isNativeLink) return refuse(TSkipReason::Link);
        if (item.IsEmptyFolder) {
            const std::wstring asFolder = path + L"\\";
            if (Overlaps(CanonicalFolder(asFolder), backup_) || !guard_.MayEmptyFolder(asFolder))
                return refuse(TSkipReason::ProtectedFolder);
            result.kind = TEntryKind::EmptyFolder;
            return result;
        }
        result.kind = TEntryKind::File;
        return result;
    }

private:
    // What is known of one folder of the rows, found at its first row. The
    // protected-folder verdict (long-name lookups and a final path) holds for
    // all its rows: an entry is reached only through the checked folder,
    // whose final path must stay the spelling the verdict judged.
    struct TFolderState {
        std::wstring canonical; // its CanonicalFolder spelling, asked once
        bool isProtected = false;
        std::unique_ptr<TCheckedFolder> checked;
    };

    TFolderState& FolderState(const std::wstring& folder)
    {
        const auto [place, isNew] = folders_.try_emplace(UpperCase(folder));
        if (isNew) {
            place->second.canonical = CanonicalFolder(folder);
            place->second.isProtected = guard_.IsCanonicalInsideProtectedFolder(place->second.canonical);
        }
        return place->second;
    }

    std::wstring backup_;
    TDeleteGuard guard_;
    std::map<std::wstring, TFolderState> folders_;
};

// Works through the checked rows. `prepare` makes what an entry's act needs
// before the entry is inspected, so that nothing slow comes between the check
// and the act (under Wine an act through a handle looks the entry's path up
// again); `work` gets each entry that may be cleaned, with what was prepared
// for it, and says whether it went. Entries refused on purpose are listed as
// skipped.
template <class Prepare, class Work>
TJunkOutcome ForEachChecked(const std::vector<TJunkItem>& items, const std::wstring& backupFolder, Prepare prepare,
                            Work work)
{
    TJunkInspector inspector(backupFolder);
    TJunkOutcome outcome;
    for (std::size_t row = 0; row < items.size(); ++row) {
        const TJunkItem& item = items[row];
        if (!item.Checked) continue;
        auto prepared = prepare(item);
        TJunkEntry entry = inspector.Inspect(item);
        if (entry.kind == TEntryKind::Refused && entry.reason) outcome.skipped.push_back({item.Path, *entry.reason});
        bool gone = false;
        if (entry.kind == TEntryKind::File || entry.kind == TEntryKind::EmptyFolder) {
            gone = work(item, entry, prepared);
            if (!gone && entry.reason) outcome.skipped.push_back({item.Path, *entry.reason});
        }
        (gone ? outcome.cleaned : outcome.kept).push_back(row);
    }
    return outcome;
}

struct TNothingPrepared {};
TNothingPrepared PrepareNothing(const TJunkItem&) { return {}; }

bool RecycleEntry(const std::wstring& path)
{
    std::wstring from = path;
    from.push_back(L'\0'); // the list ends with a second NUL
    SHFILEOPSTRUCTW operation{};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    // Failures are skipped silently: no error box may stop a clean (or a job).
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_ALLOWUNDO | FOF_NOERRORUI;
    ::SHFileOperationW(&operation);
    return !PathExists(path);
}

// Right before a path-based act: the folder must still be the folder that
// was checked; one swapped since is left alone.
bool StillInPlace(TJunkEntry& entry)
{
    if (entry.folder->StillInPlace()) return true;
    entry.reason = TSkipReason::FolderChanged;
    return false;
}

// The entry's handle for the act. The inspection that opened and checked it
// comes right before the act, row by row, so its handle is the one acted
// through; only a handle dropped since (a path-based step tried first) is
// opened and checked afresh.
bool HoldOpen(TJunkEntry& entry)
{
    if (entry.opened && !entry.opened->isNativeLink) return true;
    entry.opened.reset();
    std::optional<TSkipReason> refusal;
    entry.opened = entry.folder->OpenEntry(entry.name, entry.kind == TEntryKind::EmptyFolder, &refusal);
    if (entry.opened && !entry.opened->isNativeLink) return true;
    entry.opened.reset();
    entry.reason = refusal ? refusal : std::optional<TSkipReason>(TSkipReason::FolderChanged);
    return false;
}

// What became of a move: done; refused because something is at the target;
// not done; or a path-based move to another volume that failed, which may
// have left a copy at the (until then free) target.
enum class TMoveResult { Moved, PlaceTaken, Failed, CopyMayBeLeft };

// Moves the entry through its own handle, never onto something already at
// `target`; one path-based move, checked right before, only when the handle
// cannot be moved (another volume). Whether the place is free is learnt from
// the rename: a look beforehand costs a read of the whole target folder under
// Wine when the name is missing, as it nearly always is.
TMoveResult MoveThroughHandle(TJunkEntry& entry, const std::wstring& path, const std::wstring& target)
{
    if (!HoldOpen(entry)) return TMoveResult::Failed;
    if (entry.folder->RenameOpened(*entry.opened, entry.name, target)) return TMoveResult::Moved;
    if (PathExists(target)) return TMoveResult::PlaceTaken;
    entry.opened.reset();
    if (!StillInPlace(entry)) return TMoveResult::Failed;
    return ::MoveFileExW(path.c_str(), target.c_str(), MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH) != FALSE
               ? TMoveResult::Moved
               : TMoveResult::CopyMayBeLeft;
}

bool RecycleThroughHandle(TJunkEntry& entry, const std::wstring& path, TTrashReservation& place)
{
    // Under Wine the Trash takes the entry by a rename of its own handle into
    // the place reserved before the check; elsewhere the shell's recycle bin
    // works on the path, checked right before.
    while (place.Reserved()) {
        if (!HoldOpen(entry)) return false;
        const TTrashMove move = place.MoveIn(*entry.folder, entry.name, *entry.opened);
        if (move == TTrashMove::Moved) return true;
        if (move == TTrashMove::Refused) break;
        entry.opened.reset(); // the next name's record was written since the check
    }
    entry.opened.reset();
    return StillInPlace(entry) && RecycleEntry(path);
}

// Whether the checked entry holds the bytes of the file at `target`. They
// are read from the entry itself, never through its path, which a folder
// swapped for a link could lead elsewhere.
bool HoldsSameBytesAs(TJunkEntry& entry, const std::wstring& target)
{
    if (!HoldOpen(entry)) return false;
    const FileHandle mine = entry.folder->OpenForReading(*entry.opened, entry.name);
    const FileHandle copy(::CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    return mine && copy && SameContents(mine.Get(), copy.Get());
}

bool DeleteThroughHandle(TJunkEntry& entry)
{
    if (!HoldOpen(entry)) return false;
    TCheckedEntry opened = std::move(*entry.opened);
    entry.opened.reset();
    return entry.folder->DeleteOpened(std::move(opened), entry.name, entry.kind == TEntryKind::EmptyFolder);
}

// Removes the entry when it holds the bytes of the file at `target`. The
// comparison reads come between the entry's check and its removal, so the
// entry is checked again right before it goes, and must be the file compared.
bool RemoveIfItHoldsTheBytesOf(TJunkEntry& entry, const std::wstring& target)
{
    if (!HoldsSameBytesAs(entry, target)) return false;
    const auto compared = FileIdentityOf(entry.opened->handle.Get());
    entry.opened.reset();
    if (!compared || !HoldOpen(entry) || FileIdentityOf(entry.opened->handle.Get()) != compared) return false;
    return DeleteThroughHandle(entry);
}

// The backup's folders made during one move: the rows of one folder share
// their target folder, which is then made (and looked up) once, not per file.
// A folder that vanished since only fails its entries' moves: they stay.
class TBackupFolders {
public:
    // Whether the folder was made (or looked for) now rather than before.
    bool MakeFolderOf(const std::wstring& target)
    {
        const std::wstring folder = FolderOfPath(target);
        if (folder.empty() || !made_.insert(UpperCase(folder)).second) return false;
        CreateFolderPath(folder);
        return true;
    }

private:
    std::unordered_set<std::wstring> made_;
};

bool HasCheckedEntryOf(const TCleanRequest& targets, const wchar_t* const* names, std::size_t count)
{
    return std::any_of(targets.checkedTrackEntries.begin(), targets.checkedTrackEntries.end(),
                       [&](const std::wstring& checked) {
                           return std::any_of(names, names + count, [&](const wchar_t* name) {
                               return UpperCase(checked) == UpperCase(name);
                           });
                       });
}

SYSTEMTIME LocalNow()
{
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    return now;
}

// Clean Now runs with StopRequested 0 and leaves it 1, however it ends.
class TCleanNowRunning {
public:
    TCleanNowRunning()
    {
        CleanPageActive = 1;
        StopRequested = 0;
    }
    ~TCleanNowRunning() { StopRequested = 1; }
    TCleanNowRunning(const TCleanNowRunning&) = delete;
    TCleanNowRunning& operator=(const TCleanNowRunning&) = delete;
};

class TCleanNow {
public:
    TCleanNow(TCleanNowView& view, const TCleanNowRequest& request) : view_(view), request_(request) {}

    TCleanNowReport Run()
    {
        const TCleanNowRunning running;
        view_.CleanNowStarted();
        report_.stepTotal = ProgressStepTotal(request_);
        if (request_.CheckedRows[ctJunkFiles]) CleanJunk();
        for (const TCleanStep& step : CleanOrder) CleanStep(step);
        JunkTotalSize = 0;
        view_.CleanNowFinished(view_.LanguageText(cnFinished));
        return report_;
    }

private:
    void Line(int text) { view_.AddProgressLine(++report_.steps, report_.stepTotal, view_.LanguageText(text)); }
    void Working(int text) { view_.ShowProgressText(view_.LanguageText(text)); }

    void CleanJunk()
    {
        const bool anyChecked = std::any_of(request_.Junk.begin(), request_.Junk.end(),
                                            [](const TJunkItem& item) { return item.Checked && PathExists(item.Path); });
        if (!anyChecked) {
            Line(cnNothingChecked);
            return;
        }
        report_.backup = request_.Backup;
        switch (request_.CleanMethod) {
        case cmBackupFolder:
            MoveToBackup();
            break;
        case cmDeletePermanently:
            if (!JobMode && !view_.ConfirmPermanentDelete()) return;
            Working(cnDeleting);
            Finish(DeleteJunkPermanently(request_.Junk, request_.Backup.folder), cnDeleted);
            break;
        default: // a stored method out of range cleans the safest way
            Working(cnRecycling);
            Finish(RecycleJunk(request_.Junk, request_.Backup.folder), cnRecycled);
            break;
        }
    }

    void MoveToBackup()
    {
        TBackupLocation& backup = report_.backup;
        backup.folder = WithTrailingBackslash(backup.folder);
        while (!FolderExists(backup.folder)) {
            // Nobody answers in a job: the junk files stay, the job goes on.
            if (JobMode) return;
            const auto corrected = view_.CorrectBackupFolder(backup.folder);
            if (!corrected) return;
            backup = *corrected;
            backup.folder = WithTrailingBackslash(backup.folder);
        }
        Working(cnMoving);
        const std::wstring header = BackupLogHeader(view_.LanguageText(cnLogTitle), LocalNow());
        Finish(MoveJunkToBackup(request_.Junk, backup, header), cnMoved);
    }

    void Finish(TJunkOutcome outcome, int doneText)
    {
        report_.junk = std::move(outcome);
        report_.junkDone = true;
        Line(doneText);
        ShowSkipped(report_.junk.skipped);
        view_.RemoveCleanedItems();
    }

    void ShowSkipped(const TSkipList& skipped)
    {
        for (const TSkippedEntry& entry : skipped) {
            view_.AddSkippedLine(SkippedLine(entry));
            report_.skipped.push_back(entry);
        }
    }

    void CleanStep(const TCleanStep& step)
    {
        const bool isTracks = step.target == ctRegistryProgramHistory || step.target == ctRegistryWindowsTracks;
        const bool run = step.target == ctRegistryProgramHistory ? HasCheckedProgramHistoryEntry(request_.Targets)
                         : step.target == ctRegistryWindowsTracks ? HasCheckedWindowsTracksEntry(request_.Targets)
                                                                 : request_.CheckedRows[step.target];
        if (!run) return;
        if (step.workingText >= 0) Working(step.workingText);
        if (isTracks) Line(step.doneText);
        TCleanRequest targets = request_.Targets;
        // A message box would stop an unattended run.
        if (JobMode) targets.onShell32Missing = [] {};
        TSkipList skipped;
        targets.skipped = &skipped;
        // A locked index file is skipped like any file that cannot be cleaned:
        // the targets give that back as a result, and nothing is thrown here.
        CleanTarget(step.target, targets);
        if (!isTracks) Line(step.doneText);
        ShowSkipped(skipped);
    }

    TCleanNowView& view_;
    const TCleanNowRequest& request_;
    TCleanNowReport report_;
};

} // namespace

TJunkItem JunkItemOf(const std::wstring& caption, const std::wstring& location, int imageIndex, bool checked)
{
    // Sized exactly: "location + caption" grows the location's copy, which
    // leaves room for as much again in each of thousands of items.
    std::wstring path;
    path.reserve(location.size() + caption.size());
    path.append(location).append(caption);
    return TJunkItem{std::move(path), checked, imageIndex == kEmptyFolderResultImage};
}

TJunkOutcome RecycleJunk(const std::vector<TJunkItem>& items, const std::wstring& backupFolder)
{
    TWineTrash trash;
    return ForEachChecked(
        items, backupFolder,
        [&](const TJunkItem& item) { return TTrashReservation(trash, item.Path); },
        [&](const TJunkItem& item, TJunkEntry& entry, TTrashReservation& place) {
            return RecycleThroughHandle(entry, item.Path, place);
        });
}

TJunkOutcome DeleteJunkPermanently(const std::vector<TJunkItem>& items, const std::wstring& backupFolder)
{
    return ForEachChecked(items, backupFolder, PrepareNothing,
                          [](const TJunkItem&, TJunkEntry& entry, TNothingPrepared) { return DeleteThroughHandle(entry); });
}

TJunkOutcome MoveJunkToBackup(const std::vector<TJunkItem>& items, const TBackupLocation& backup,
                              const std::wstring& header)
{
    const std::wstring folder = WithTrailingBackslash(backup.folder);
    const std::wstring logPath = folder + BackupLogName(backup.logName);
    TJunkOutcome refused;
    for (std::size_t row = 0; row < items.size(); ++row)
        if (items[row].Checked) refused.kept.push_back(row);
    if (!FolderExists(folder)) return refused;
    const auto previous = ReadBackupLog(logPath);
    if (!previous) return refused;
    std::wstring before = *previous;
    if (!before.empty() && before.back() != L'\n') before += L"\r\n";
    before += header;

    // The log lists every entry about to move before the first one moves, so
    // that no moved entry is ever missing from it; it is rewritten with the
    // entries that really moved afterwards.
    std::wstring planned = before;
    for (const TJunkItem& item : items)
        if (item.Checked) planned += item.Path + L"\r\n";
    if (!WriteBackupLog(logPath, planned)) return refused;

    std::wstring moved;
    TBackupFolders targetFolders;
    TJunkOutcome outcome = ForEachChecked(items, folder, PrepareNothing, [&](const TJunkItem& item, TJunkEntry& entry,
                                                                             TNothingPrepared) {
        const std::wstring target = BackupCopyPath(folder, item.Path);
        if (target.empty()) return false;
        bool gone = false;
        if (entry.kind == TEntryKind::EmptyFolder) {
            CreateFolderPath(target + L"\\");
            entry.opened.reset(); // checked again after the folder's making
            gone = FolderExists(target) && DeleteThroughHandle(entry);
        } else {
            // A folder made now came between the entry's check and its move:
            // the entry is checked again.
            if (targetFolders.MakeFolderOf(target)) entry.opened.reset();
            switch (MoveThroughHandle(entry, item.Path, target)) {
            case TMoveResult::Moved:
                gone = true;
                break;
            case TMoveResult::PlaceTaken:
                // The same path moved before: its copy is never replaced; when it
                // holds these very bytes the entry is safe there already.
                gone = RemoveIfItHoldsTheBytesOf(entry, target);
                break;
            case TMoveResult::CopyMayBeLeft:
                // A copy to another drive whose source could not be deleted leaves two
                // copies; the entry counts as not moved and the copy is dropped.
                if (PathExists(item.Path) && PathExists(target) && SameFileContents(item.Path, target))
                    ::DeleteFileW(target.c_str());
                break;
            case TMoveResult::Failed:
                break;
            }
        }
        if (gone) moved += item.Path + L"\r\n";
        return gone;
    });
    WriteBackupLog(logPath, before + moved);
    return outcome;
}

bool HasCheckedProgramHistoryEntry(const TCleanRequest& targets)
{
    return HasCheckedEntryOf(targets, ProgramHistoryNames.data(), ProgramHistoryNames.size());
}

bool HasCheckedWindowsTracksEntry(const TCleanRequest& targets)
{
    return HasCheckedEntryOf(targets, TracksNames.data(), TracksNames.size());
}

int ProgressStepTotal(const TCleanNowRequest& request)
{
    int total = static_cast<int>(std::count(request.CheckedRows.begin(), request.CheckedRows.end(), true));
    if (HasCheckedProgramHistoryEntry(request.Targets) && !request.CheckedRows[ctRegistryProgramHistory]) ++total;
    if (HasCheckedWindowsTracksEntry(request.Targets) && !request.CheckedRows[ctRegistryWindowsTracks]) ++total;
    return total;
}

TCleanNowReport RunCleanNow(TCleanNowView& view, const TCleanNowRequest& request)
{
    return TCleanNow(view, request).Run();
}

} // namespace kv
