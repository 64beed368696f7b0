#include "cleaner/engine/TSearchUnit.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <exception>
#include <utility>

#include "cleaner/engine/CheckedFolder.h"
#include "platform/Exceptions.h"
#include "platform/Format.h"
#include "platform/Handles.h"
#include "platform/Paths.h"
#include "platform/TextCodec.h"

namespace kv {
namespace {

constexpr DWORD kPathDisplayInterval = 100; // ms: about ten updates a second

// The recycle bins of the Windows families; never scanned, on any drive.
const wchar_t* const kRecycleBinPatterns[] = {L"?:\\recycled\\", L"?:\\recycler\\", L"?:\\$recycle.bin\\"};

bool IsDotEntry(std::wstring_view name) { return name == L"." || name == L".."; }

bool IsDirectory(const WIN32_FIND_DATAW& entry) { return entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY; }

// Junctions and symbolic links (Wine shows a host symlink to a folder as
// 0x410): what lies behind one belongs elsewhere, and a link may loop back.
bool IsReparsePoint(DWORD attributes) { return attributes & FILE_ATTRIBUTE_REPARSE_POINT; }

// "C:\" or "\\server\share\": a root has no parent and is never reported empty.
bool IsRootFolder(const std::wstring& folder)
{
    const std::wstring path = WithoutTrailingBackslash(folder);
    if (path.size() > 2 && path[0] == L'\\' && path[1] == L'\\') {
        const std::size_t share = path.find(L'\\', 2);
        return share == std::wstring::npos || path.find(L'\\', share + 1) == std::wstring::npos;
    }
    return path.find(L'\\') == std::wstring::npos;
}

// The text from the name's last "." on, case as found.
std::wstring_view Extension(std::wstring_view name)
{
    const std::size_t dot = name.rfind(L'.');
    return dot == std::wstring_view::npos ? std::wstring_view() : name.substr(dot);
}

// A shortcut target counts as missing only when the system says so; a target
// on a drive that is not ready or a share that does not answer is kept.
bool IsMissingTarget(const std::wstring& target)
{
    if (target.empty() || target.size() == 3) return false; // a drive root such as D:\ counts as present
    if (::GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
    switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_DRIVE:
        return true;
    default:
        return false;
    }
}

// COM for the calling thread, for as long as the object lives. A thread that
// already has COM (in either model) keeps it.
class ComScope {
public:
    ComScope() : initialised_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComScope()
    {
        if (initialised_) ::CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    bool initialised_;
};

} // namespace

// ---------------------------------------------------------------------------

TSearchEngine::TSearchEngine(TScanView& view, TSynchronizer synchronize)
    : view_(view), synchronize_(std::move(synchronize))
{
}

void TSearchEngine::Run()
{
    InitExclusiveLists();
    synchronize_([this] { ReadScanOptions(); });
    // StopRequested was cleared on the main thread with the snapshot: clearing
    // it again here would lose a Stop pressed in between.
    std::exception_ptr failure;
    try {
        ScanRoots(InclusiveFolderSub, true);
        ScanRoots(InclusiveFolder, false);
        FlushCurrentPath(true);
    } catch (...) {
        // The window must leave its scanning state whatever went wrong.
        failure = std::current_exception();
    }
    // Rows still waiting for their call come first; the window leaves its
    // scanning state even when adding them fails.
    std::exception_ptr rowsFailure;
    synchronize_([&] {
        try {
            AddPendingRows();
        } catch (...) {
            rowsFailure = std::current_exception();
        }
        ScanFinished();
    });
    if (!failure) failure = rowsFailure;
    if (failure) RethrowException(failure);
}

void TSearchEngine::InitExclusiveLists()
{
    ExclusiveFile.clear();
    ExclusiveFolderSub.clear();
    ExclusiveFolder.clear();
    for (const wchar_t* pattern : kRecycleBinPatterns) AddMask(ExclusiveFolderSub, pattern);
}

void TSearchEngine::AddMask(MaskList& list, const std::wstring& mask)
{
    Mask entry;
    entry.Lower = LowerCase(mask);
    entry.Upper = UpperCase(entry.Lower);
    entry.HasBackslash = entry.Lower.find(L'\\') != std::wstring::npos;
    list.push_back(std::move(entry));
}

// Main thread.
void TSearchEngine::ReadScanOptions()
{
    ScanDone = 0;
    InclusiveFile.clear();
    InclusiveFolderSub.clear();
    InclusiveFolder.clear();
    reported_.clear();
    skipped_.clear();

    const TScanOptions options = view_.ReadScanOptions();
    for (const TScanPathRow& row : options.Paths) {
        // An empty caption would make "\" a root: the current drive.
        if (!row.Checked || row.Caption.empty()) continue;
        const std::wstring folder = WithTrailingBackslash(row.Caption);
        switch (row.Kind) {
        case pkExcludeWithSubFolders:
            AddMask(ExclusiveFolderSub, folder);
            break;
        case pkExcludeFolder:
            ExclusiveFolder.push_back(LowerCase(folder));
            break;
        case pkIncludeFolder:
            InclusiveFolder.push_back(folder);
            break;
        case pkIncludeWithSubFolders:
        case pkDrive:
            InclusiveFolderSub.push_back(folder);
            break;
        default: // folders to empty are emptied at clean time, not scanned
            break;
        }
    }
    for (const TScanFilterRow& row : options.Filters) {
        if (!row.Checked) continue;
        AddMask(row.Image == kInclusiveFilterImage ? InclusiveFile : ExclusiveFile, row.Mask);
    }
    if (!options.BackupFolder.empty()) AddMask(ExclusiveFolderSub, WithTrailingBackslash(options.BackupFolder));
    FindInvalidShortcut = options.FindInvalidShortcut;
    FindEmptyFolder = options.FindEmptyFolder;
    SkipReadOnlyAttr = options.SkipReadOnlyAttr;

    rootsOverlap_ = RootsOverlap(InclusiveFolderSub, InclusiveFolder);
    scanningFolderText_ = view_.LanguageText(stScanningFolder);
    foundSizeText_ = view_.LanguageText(stFoundSize);
    ScanFoundSize = 0;
    StopRequested = 0;
    ScanStatusPrefix = view_.LanguageText(stFinished);
}

bool TSearchEngine::RootsOverlap(const std::vector<std::wstring>& withSubFolders,
                                 const std::vector<std::wstring>& withoutSubFolders)
{
    std::vector<std::wstring> roots;
    for (const auto* list : {&withSubFolders, &withoutSubFolders})
        for (const std::wstring& root : *list) roots.push_back(LowerCase(root));
    for (std::size_t i = 0; i < roots.size(); ++i)
        for (std::size_t j = 0; j < roots.size(); ++j)
            if (i != j && roots[j].starts_with(roots[i])) return true;
    return false;
}

void TSearchEngine::ScanRoots(const std::vector<std::wstring>& roots, bool withSubFolders)
{
    for (const std::wstring& root : roots) {
        if (StopRequested == 1) return;
        if (!IsFolderNotExcluded(LowerCase(root))) continue;
        // A root that is itself a link is not walked either: nothing behind a link is reported.
        // Asked with its trailing backslash, a link answers for its target.
        const DWORD attributes = ::GetFileAttributesW(WithoutTrailingBackslash(root).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && IsReparsePoint(attributes)) continue;
        scanSubFolders_ = withSubFolders;
        ScanFolder(root);
    }
}

void TSearchEngine::ScanFolder(const std::wstring& folder)
{
    // Checked before each folder as well as after each entry: one deep folder
    // can hold thousands of sub-folders.
    if (StopRequested == 1) return;
    const std::wstring lowerFolder = LowerCase(folder);
    const bool folderFilesExcluded = IsExclusiveFolder(lowerFolder);

    WIN32_FIND_DATAW entry{};
    FindHandle find(::FindFirstFileW((folder + L"*.*").c_str(), &entry));
    if (!find) return; // a folder that cannot be listed is skipped

    std::size_t realEntries = 0;
    bool listedWhole = false;
    WIN32_FIND_DATAW timeEntry{};
    for (;;) {
        const std::wstring_view name(entry.cFileName);
        if (IsDotEntry(name)) {
            // The empty-folder row shows the ".." entry's time.
            if (name == L".." || timeEntry.cFileName[0] == L'\0') timeEntry = entry;
        } else {
            ++realEntries;
            if (!IsPlainEntryName(name))
                // Joined to the folder, such a name names another entry, or walks out of the tree.
                skipped_.push_back({folder + entry.cFileName, TSkipReason::NotPlainName});
            else if (folder.size() + name.size() + (IsDirectory(entry) ? 1 : 0) >= MAX_PATH)
                skipped_.push_back({folder + entry.cFileName, TSkipReason::PathTooLong});
            else if (IsDirectory(entry))
                ScanSubFolder(folder, lowerFolder, entry);
            else
                ScanFile(folder, lowerFolder, folderFilesExcluded, entry);
        }
        FlushCurrentPath(false);
        // Rows found a while ago reach the window even when no folder or row follows soon.
        FlushRows();
        if (StopRequested == 1) break;
        if (!::FindNextFileW(find.Get(), &entry)) {
            listedWhole = ::GetLastError() == ERROR_NO_MORE_FILES;
            break;
        }
    }
    find.Reset();

    // Only a folder listed to its end with nothing but "." and ".." is empty.
    if (FindEmptyFolder && listedWhole && realEntries == 0 && !IsRootFolder(folder) && !folderFilesExcluded)
        ReportEmptyFolder(folder, timeEntry);
}

void TSearchEngine::ScanSubFolder(const std::wstring& folder, const std::wstring& lowerFolder,
                                  const WIN32_FIND_DATAW& entry)
{
    if (!scanSubFolders_ || IsReparsePoint(entry.dwFileAttributes)) return;
    const std::wstring name(entry.cFileName);
    if (!IsFolderNotExcluded(lowerFolder + LowerCase(name) + L"\\")) return;
    ShowCurrentPath(Format(scanningFolderText_, {folder, name}));
    ScanFolder(folder + name + L"\\");
}

void TSearchEngine::ScanFile(const std::wstring& folder, const std::wstring& lowerFolder, bool folderFilesExcluded,
                             const WIN32_FIND_DATAW& entry)
{
    // Under Wine a host symlink to a file looks like the file itself; on
    // Windows it carries the reparse attribute and is left alone.
    if (IsReparsePoint(entry.dwFileAttributes)) return;
    // This runs for every file: the name's two cases go into buffers kept for
    // the whole walk, where a fresh pair of strings would cost about as much
    // as matching the name.
    AssignLowerCase(searchName_, entry.cFileName);
    AssignUpperCase(upperName_, searchName_);
    const std::wstring& searchName = searchName_;
    const std::wstring& upperName = upperName_;
    if (FindInvalidShortcut && !folderFilesExcluded && MatchWildcard(L"*.lnk", searchName)) {
        // "Exclude this file" on a broken shortcut's row writes an exclude
        // mask: the shortcut must stay unlisted like any excluded file.
        if (IsFileNotExcluded(lowerFolder, searchName, upperName)) CheckShortcut(folder, entry);
        return;
    }
    if (folderFilesExcluded) return;

    std::wstring lowerPath; // built only when a mask names a whole path
    auto wholePath = [&]() -> const std::wstring& {
        if (lowerPath.empty()) lowerPath = lowerFolder + searchName;
        return lowerPath;
    };
    for (const Mask& mask : InclusiveFile) {
        // A name never holds a backslash, so such a mask can only equal the whole path.
        const bool matches = mask.HasBackslash ? mask.Lower == wholePath()
                                               : MatchUpperCaseWildcard(mask.Upper, upperName);
        if (!matches) continue;
        // Exclusions first: an excluded file is not even opened.
        if (!IsFileNotExcluded(lowerFolder, searchName, upperName)) return;
        if (SkipReadOnlyAttr && (entry.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM))) return;
        const std::wstring path = folder + entry.cFileName;
        if (!CanOpenFile(path)) return;
        // The logical size as the listing gives it: asking the open handle
        // would cost, under Wine, a second trip to the server per hit, about
        // as much as the open itself.
        AddScanItem(path, folder, entry, mask.Lower, ListedSize(entry));
        return;
    }
}

void TSearchEngine::CheckShortcut(const std::wstring& folder, const WIN32_FIND_DATAW& entry)
{
    const std::wstring path = folder + entry.cFileName;
    if (IsMissingTarget(GetShortcutTarget(path)))
        AddScanItem(path, folder, entry, kInvalidShortcutFilter, FileSizeOf(path));
}

void TSearchEngine::ReportEmptyFolder(const std::wstring& folder, const WIN32_FIND_DATAW& timeEntry)
{
    const std::wstring path = WithoutTrailingBackslash(folder);
    const std::size_t slash = path.rfind(L'\\');
    if (slash == std::wstring::npos) return;
    const std::wstring parent = path.substr(0, slash + 1);
    if (IsExclusiveFolder(LowerCase(parent))) return;
    if (rootsOverlap_ && !reported_.insert(LowerCase(folder)).second) return;

    TScanResult row;
    row.Caption = path.substr(slash + 1);
    row.ImageIndex = kEmptyFolderResultImage;
    row.Location = parent;
    row.Size = 0;
    row.Modified = timeEntry.ftLastWriteTime;
    row.Filter = kEmptyFolderFilter;
    AddRow(std::move(row), std::nullopt);
}

bool TSearchEngine::IsFileNotExcluded(std::wstring_view lowerFolder, std::wstring_view lowerName,
                                      const std::wstring& upperName) const
{
    std::wstring upperPath;
    for (const Mask& mask : ExclusiveFile) {
        if (!mask.HasBackslash) {
            if (MatchUpperCaseWildcard(mask.Upper, upperName)) return false;
            continue;
        }
        if (upperPath.empty()) upperPath = UpperCase(std::wstring(lowerFolder).append(lowerName));
        if (MatchUpperCaseWildcard(mask.Upper, upperPath)) return false;
    }
    return true;
}

bool TSearchEngine::IsFolderNotExcluded(const std::wstring& lowerFolder) const
{
    if (ExclusiveFolderSub.empty()) return true;
    const std::wstring upperFolder = UpperCase(lowerFolder);
    for (const Mask& pattern : ExclusiveFolderSub)
        if (MatchUpperCaseWildcard(pattern.Upper, upperFolder)) return false;
    return true;
}

bool TSearchEngine::IsExclusiveFolder(const std::wstring& lowerFolder) const
{
    for (const std::wstring& excluded : ExclusiveFolder)
        if (excluded == lowerFolder) return true;
    return false;
}

// The row is built here, on the scan thread, so the main thread spends its
// synchronised time on the window only.
void TSearchEngine::AddScanItem(const std::wstring& path, const std::wstring& folder, const WIN32_FIND_DATAW& entry,
                                const std::wstring& rule, std::int64_t size)
{
    if (rootsOverlap_ && !reported_.insert(LowerCase(path)).second) return;

    TScanResult row;
    row.Caption = entry.cFileName;
    row.ImageIndex = Extension(row.Caption) == L".exe" ? kProgramResultImage : kFileResultImage;
    row.Location = folder;
    row.Size = size;
    row.Modified = entry.ftLastWriteTime;
    row.Filter = rule;
    // The file was opened a moment ago: asking whether it exists would cost a
    // look-up per hit, about as much as the walk spends on the hit otherwise.
    row.SizeOnDisk = ClusterRoundedSize(path, size);
    const std::int64_t found = ScanFoundSize += row.SizeOnDisk;
    AddRow(std::move(row), found);
}

void TSearchEngine::AddRow(TScanResult row, std::optional<std::int64_t> foundSize)
{
    pendingRows_.push_back({std::move(row), foundSize});
    FlushRows();
}

// Hands the rows found since the last call to the window in one synchronised
// call, the first row at once and then at most one call per
// kPathDisplayInterval; a pending folder text rides along.
void TSearchEngine::FlushRows()
{
    if (pendingRows_.empty()) return;
    const DWORD now = ::GetTickCount();
    if (rowsShown_ && now - lastCallAt_ < kPathDisplayInterval) return;
    const bool showPath = pathPending_;
    pathPending_ = false;
    synchronize_([&] {
        if (showPath) view_.ShowCurrentPath(pendingPath_);
        AddPendingRows();
    });
    rowsShown_ = true;
    if (showPath) pathShown_ = true;
    lastCallAt_ = now;
}

// Main thread. Only the last status line of a batch would be seen: the rows
// before it go without one, and only that one is formatted. The rows are
// taken out first, so that a row the window fails on is never added again.
void TSearchEngine::AddPendingRows()
{
    std::vector<PendingRow> rows;
    rows.swap(pendingRows_);
    std::size_t lastStatus = rows.size();
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].foundSize) lastStatus = i;
    const std::wstring noStatus;
    for (std::size_t i = 0; i < rows.size(); ++i)
        view_.AddScanItem(rows[i].row, i == lastStatus ? Format(foundSizeText_, {FormatFileSize(*rows[i].foundSize)})
                                                       : noStatus);
}

void TSearchEngine::ShowCurrentPath(std::wstring text)
{
    pendingPath_ = std::move(text);
    pathPending_ = true;
    FlushCurrentPath(false);
}

// Shows the pending folder text when the last one has stood long enough (or
// when forced, so the last folder entered is always the one shown); rows
// found meanwhile ride along.
void TSearchEngine::FlushCurrentPath(bool force)
{
    if (!pathPending_) return;
    const DWORD now = ::GetTickCount();
    if (!force && pathShown_ && now - lastCallAt_ < kPathDisplayInterval) return;
    pathPending_ = false;
    pathShown_ = true;
    if (!pendingRows_.empty()) rowsShown_ = true;
    lastCallAt_ = now;
    synchronize_([this] {
        AddPendingRows();
        view_.ShowCurrentPath(pendingPath_);
    });
}

// Main thread.
void TSearchEngine::ScanFinished()
{
    ScanDone = 1;
    const std::wstring status =
        ScanStatusPrefix + view_.LanguageText(stFinishedHint) + SkippedCountText(skipped_.size());
    StopRequested = 1;
    JunkTotalSize = ScanFoundSize.load();
    ExclusiveFile.clear();
    ExclusiveFolderSub.clear();
    ExclusiveFolder.clear();
    InclusiveFile.clear();
    InclusiveFolderSub.clear();
    InclusiveFolder.clear();
    reported_.clear();
    view_.ScanSkipped(skipped_);
    skipped_.clear();
    view_.ScanFinished(status);
}

std::wstring TSearchEngine::GetShortcutTarget(const std::wstring& path)
{
    ComScope com;
    ComRef<IShellLinkW> link;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.Receive())))
        return std::wstring();
    ComRef<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.Receive()))) return std::wstring();
    if (FAILED(file->Load(path.c_str(), STGM_READ))) return std::wstring();
    // Without a user interface and with any match; a link whose target is gone
    // fails to resolve but still holds the path it pointed to.
    link->Resolve(nullptr, SLR_NO_UI | SLR_ANY_MATCH);
    wchar_t target[MAX_PATH] = {};
    if (FAILED(link->GetPath(target, MAX_PATH, nullptr, SLGP_SHORTPATH))) return std::wstring();
    return ExpandEnvironment(target);
}

// ---------------------------------------------------------------------------

TSearch::TSearch(TScanView& view) : view_(view) {}

TSearch* TSearch::Create(TScanView& view) { return WorkerThread::Start<TSearch>(view); }

void TSearch::Execute()
{
    // Shortcuts are read through the shell's COM objects on this thread.
    ComScope com;
    TSearchEngine engine(view_, [this](const std::function<void()>& method) { Synchronize(method); });
    engine.Run();
}

void RunScan(TScanView& view)
{
    TSearchEngine engine(view, [](const std::function<void()>& method) { method(); });
    engine.Run();
}

void StopScan(std::wstring_view abortedText)
{
    StopRequested = 1;
    StoppedByUser = 1;
    ScanStatusPrefix = std::wstring(abortedText) + L" ";
}

} // namespace kv
