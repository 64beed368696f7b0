#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/SharedState.h"
#include "cleaner/engine/TSearchUnit.h"
#include "common/HostScript.h"
#include "common/TestSupport.h"
#include "platform/Format.h"
#include "platform/Handles.h"
#include "platform/MessageLoop.h"
#include "platform/TextCodec.h"

namespace {

// ---- A window for the scan, recording what it is asked to show

class RecordingView : public kv::TScanView {
public:
    kv::TScanOptions options;
    std::vector<kv::TScanResult> rows;
    std::vector<std::wstring> statuses;
    std::vector<std::wstring> paths;
    std::vector<std::wstring> finished;
    std::vector<std::string> calls; // in order: "options", "path", "row", "finished"
    std::set<DWORD> callingThreads;
    std::function<void(RecordingView&)> onRow;  // runs after a row was added
    std::function<void(RecordingView&)> onPath; // runs after a folder was shown

    kv::TScanOptions ReadScanOptions() override
    {
        Note("options");
        return options;
    }
    void ShowCurrentPath(const std::wstring& text) override
    {
        Note("path");
        paths.push_back(text);
        if (onPath) onPath(*this);
    }
    void AddScanItem(const kv::TScanResult& row, const std::wstring& status) override
    {
        Note("row");
        rows.push_back(row);
        statuses.push_back(status);
        if (onRow) onRow(*this);
    }
    void ScanFinished(const std::wstring& status) override
    {
        Note("finished");
        finished.push_back(status);
    }
    std::vector<kv::TSkippedEntry> skipped;
    void ScanSkipped(const kv::TSkipList& list) override { skipped = list; }
    std::wstring LanguageText(int index) override
    {
        static const std::map<int, std::wstring> english = {
            {kv::stFoundSize, L"Total amount disk space you will gain: %s"},
            {kv::stScanningFolder, L"Scanning  %s%s\\"},
            {kv::stFinishedHint,
             L"--- Remove the check next to the file(s) you want to keep, then click <Clean> button on the left ---"},
            {kv::stAborted, L"[Aborted]"},
            {kv::stFinished, L"[Finished]"},
            {kv::stSearching, L"Searching ..."}};
        const auto found = english.find(index);
        return found == english.end() ? std::wstring() : found->second;
    }

    // "sub\name|filter" for every row, relative to `base`.
    std::set<std::wstring> Found(const std::wstring& base) const
    {
        std::set<std::wstring> found;
        for (const kv::TScanResult& row : rows) {
            std::wstring location = row.Location;
            if (_wcsnicmp(location.c_str(), base.c_str(), base.size()) == 0)
                location = location.substr(base.size());
            else
                location = L"<outside>" + location;
            found.insert(location + row.Caption + L"|" + row.Filter);
        }
        return found;
    }

private:
    void Note(const char* call)
    {
        calls.push_back(call);
        callingThreads.insert(::GetCurrentThreadId());
    }
};

std::wstring FinishedHint()
{
    RecordingView view;
    return view.LanguageText(kv::stFinishedHint);
}

// ---- Fixture building

// Every test leaves the shared scan state as an idle program has it.
class ScanTest : public ::testing::Test {
protected:
    void SetUp() override { savedClusters_ = kv::ClusterSizes; }
    void TearDown() override
    {
        kv::ClusterSizes = savedClusters_;
        kv::StopRequested = 1;
        kv::StoppedByUser = 0;
        kv::ScanDone = 0;
    }
    std::array<std::uint32_t, 26> savedClusters_{};
};

void SetLastWriteTime(const std::wstring& path, int year, int month, int day, int hour, int minute, int second)
{
    SYSTEMTIME fields{};
    fields.wYear = static_cast<WORD>(year);
    fields.wMonth = static_cast<WORD>(month);
    fields.wDay = static_cast<WORD>(day);
    fields.wHour = static_cast<WORD>(hour);
    fields.wMinute = static_cast<WORD>(minute);
    fields.wSecond = static_cast<WORD>(second);
    FILETIME time{};
    ASSERT_TRUE(::SystemTimeToFileTime(&fields, &time));
    kv::FileHandle file(::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(file.IsValid());
    ASSERT_TRUE(::SetFileTime(file.Get(), nullptr, nullptr, &time));
}

template <class Interface>
struct Com {
    Interface* p = nullptr;
    ~Com()
    {
        if (p) p->Release();
    }
};

// A shortcut made as the shell makes one.
void MakeShortcut(const std::wstring& path, const std::wstring& target)
{
    Com<IShellLinkW> link;
    ASSERT_TRUE(SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                             reinterpret_cast<void**>(&link.p))));
    ASSERT_TRUE(SUCCEEDED(link.p->SetPath(target.c_str())));
    Com<IPersistFile> file;
    ASSERT_TRUE(SUCCEEDED(link.p->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file.p))));
    ASSERT_TRUE(SUCCEEDED(file.p->Save(path.c_str(), TRUE)));
}

// Fixture entries, relative to the case's folder:
//   "dir\"                 an empty folder
//   "file"                 a file holding its own name
//   "file@R" / "file@S"    a read-only / system file
//   "x.lnk>target"         a shortcut to target (relative to the case's folder, or absolute with ":")
//   "x.lnk>target!"        the same, with the target deleted afterwards (a broken shortcut)
void BuildTree(const std::wstring& base, const std::vector<std::wstring>& entries)
{
    for (const std::wstring& spec : entries) {
        std::wstring entry = spec;
        const std::size_t arrow = entry.find(L'>');
        std::wstring target;
        if (arrow != std::wstring::npos) {
            target = entry.substr(arrow + 1);
            entry.resize(arrow);
        }
        DWORD attributes = 0;
        if (entry.size() > 2 && entry[entry.size() - 2] == L'@') {
            attributes = entry.back() == L'R' ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_SYSTEM;
            entry.resize(entry.size() - 2);
        }
        const std::wstring path = base + entry;
        kv::CreateFolderPath(path);
        if (!entry.empty() && entry.back() == L'\\') continue;
        if (!target.empty()) {
            const bool broken = target.back() == L'!';
            if (broken) target.pop_back();
            const std::wstring targetPath = target.find(L':') == std::wstring::npos ? base + target : target;
            if (broken) kvtest::WriteBytes(targetPath, "gone soon");
            MakeShortcut(path, targetPath);
            if (broken) ::DeleteFileW(targetPath.c_str());
        } else {
            kvtest::WriteBytes(path, kv::WideToUtf8(entry));
        }
        if (attributes) ::SetFileAttributesW(path.c_str(), attributes);
    }
}

// What every file below `base` holds and which attributes it has, to prove a
// scan changed nothing.
std::map<std::wstring, std::pair<DWORD, std::string>> Snapshot(const std::wstring& base)
{
    std::map<std::wstring, std::pair<DWORD, std::string>> files;
    std::function<void(const std::wstring&)> walk = [&](const std::wstring& folder) {
        WIN32_FIND_DATAW entry{};
        kv::FindHandle find(::FindFirstFileW((folder + L"*").c_str(), &entry));
        if (!find) return;
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                walk(folder + name + L"\\");
            else
                files[folder + name] = {entry.dwFileAttributes, kvtest::ReadBytes(folder + name)};
        } while (::FindNextFileW(find.Get(), &entry));
    };
    walk(base);
    return files;
}

// ---- The fixture table

struct PathSpec {
    const wchar_t* caption; // relative to the case's folder
    int kind;
    bool unchecked = false;
};
struct FilterSpec {
    const wchar_t* mask; // "%BASE%" stands for the case's folder
    int image;
};

struct ScanCase {
    const char* name;
    std::vector<std::wstring> tree;
    std::vector<PathSpec> paths;
    std::vector<FilterSpec> filters;
    bool findShortcuts;
    bool findEmpty;
    bool skipReadOnly;
    const wchar_t* backupFolder; // relative to the case's folder; nullptr: none
    std::vector<std::wstring> expected; // "sub\name|filter"
};

constexpr int kIn = kv::kInclusiveFilterImage;
constexpr int kEx = kv::kExclusiveFilterImage;

// "%BASE%" stands for the case's folder, "%LOWERBASE%" for it lower-cased.
std::wstring ReplaceBase(std::wstring text, const std::wstring& base)
{
    const std::pair<std::wstring, std::wstring> tokens[] = {{L"%BASE%", base}, {L"%LOWERBASE%", kv::LowerCase(base)}};
    for (const auto& [token, value] : tokens) {
        const std::size_t at = text.find(token);
        if (at != std::wstring::npos) text.replace(at, token.size(), value);
    }
    return text;
}

std::wstring CaptionOf(const PathSpec& spec, const std::wstring& base)
{
    std::wstring caption = base + spec.caption;
    while (!caption.empty() && caption.back() == L'\\') caption.pop_back();
    return caption;
}

class ScanTable : public ScanTest, public ::testing::WithParamInterface<ScanCase> {};

TEST_P(ScanTable, FindsExactlyTheExpectedRowsAndTouchesNothing)
{
    const ScanCase& c = GetParam();
    const std::wstring base = kvtest::ScratchFolder(kv::Utf8ToWide(c.name));
    BuildTree(base, c.tree);
    const auto before = Snapshot(base);

    RecordingView view;
    for (const PathSpec& spec : c.paths) view.options.Paths.push_back({CaptionOf(spec, base), spec.kind, !spec.unchecked});
    for (const FilterSpec& spec : c.filters) view.options.Filters.push_back({ReplaceBase(spec.mask, base), spec.image, true});
    view.options.FindInvalidShortcut = c.findShortcuts;
    view.options.FindEmptyFolder = c.findEmpty;
    view.options.SkipReadOnlyAttr = c.skipReadOnly;
    if (c.backupFolder) view.options.BackupFolder = base + c.backupFolder;
    kv::RunScan(view);

    std::set<std::wstring> expected;
    for (const std::wstring& row : c.expected) expected.insert(ReplaceBase(row, base));
    EXPECT_EQ(view.Found(base), expected);
    EXPECT_EQ(view.rows.size(), expected.size()) << "each row once";
    EXPECT_EQ(Snapshot(base), before) << "the scan must change no file and no attribute";
    ASSERT_EQ(view.finished.size(), 1u);
    EXPECT_EQ(view.finished[0], L"[Finished]" + FinishedHint());
}

const ScanCase kScanCases[] = {
    {"ExcludeFolderAndExcludeWithSubFolders",
     {L"a\\x.tmp", L"a\\sub\\y.tmp", L"b\\x.tmp", L"b\\sub\\y.tmp", L"c.tmp", L"c.txt"},
     {{L"", kv::pkIncludeWithSubFolders}, {L"a", kv::pkExcludeFolder}, {L"b", kv::pkExcludeWithSubFolders}},
     {{L"*.tmp", kIn}}, false, false, false, nullptr,
     {L"c.tmp|*.tmp", L"a\\sub\\y.tmp|*.tmp"}},
    {"IncludeFolderWithoutSubFolders",
     {L"top.tmp", L"sub\\deep.tmp"},
     {{L"", kv::pkIncludeFolder}},
     {{L"*.tmp", kIn}}, false, false, false, nullptr,
     {L"top.tmp|*.tmp"}},
    {"FoldersToEmptyAndUncheckedRowsAreNotScanned",
     {L"e\\x.tmp", L"f\\y.tmp", L"g\\z.tmp", L"h\\w.tmp"},
     {{L"e", kv::pkEmptyFolder}, {L"f", kv::pkEmptyWithSubFolders}, {L"g", 99}, {L"h", kv::pkIncludeWithSubFolders, true}},
     {{L"*.tmp", kIn}}, false, false, false, nullptr, {}},
    {"MasksWithAPath",
     {L"keep\\A.log", L"keep\\b.log", L"drop\\c.tmp", L"drop\\d.tmp", L"other\\d.tmp"},
     {{L"", kv::pkIncludeWithSubFolders}},
     {{L"%BASE%KEEP\\a.LOG", kIn}, {L"*.tmp", kIn}, {L"%BASE%drop\\d*", kEx}},
     false, false, false, nullptr,
     {L"keep\\A.log|%LOWERBASE%keep\\a.log", L"drop\\c.tmp|*.tmp", L"other\\d.tmp|*.tmp"}},
    {"ExcludeMasksAndTheFirstMatchingIncludeMask",
     {L"OPA1.bak", L"report.bak", L"~WRL001.tmp", L"keep.tmp"},
     {{L"", kv::pkIncludeWithSubFolders}},
     {{L"~*.*", kIn}, {L"*.bak", kIn}, {L"*.tmp", kIn}, {L"OPA*.bak", kEx}, {L"KEEP.*", kEx}},
     false, false, false, nullptr,
     {L"report.bak|*.bak", L"~WRL001.tmp|~*.*"}},
    {"BackupFolderIsSkippedEvenAsARoot",
     {L"Backup\\old.tmp", L"Backup\\inner\\old2.tmp", L"live\\new.tmp"},
     {{L"", kv::pkIncludeWithSubFolders}, {L"Backup", kv::pkIncludeWithSubFolders}},
     {{L"*.tmp", kIn}}, false, false, false, L"backup",
     {L"live\\new.tmp|*.tmp"}},
    {"ReadOnlyAndSystemFilesAreReportedAndKept",
     {L"ro.tmp@R", L"sys.tmp@S", L"plain.tmp"},
     {{L"", kv::pkIncludeWithSubFolders}},
     {{L"*.tmp", kIn}}, false, false, false, nullptr,
     {L"ro.tmp|*.tmp", L"sys.tmp|*.tmp", L"plain.tmp|*.tmp"}},
    {"ReadOnlyAndSystemFilesAreSkippedOnRequest",
     {L"ro.tmp@R", L"sys.tmp@S", L"plain.tmp"},
     {{L"", kv::pkIncludeWithSubFolders}},
     {{L"*.tmp", kIn}}, false, false, true, nullptr,
     {L"plain.tmp|*.tmp"}},
    {"BrokenShortcutsOnly",
     {L"t\\target.txt", L"valid.lnk>t\\target.txt", L"broken.lnk>t\\gone.txt!", L"drive.lnk>D:\\",
      L"sub\\Broken2.LNK>t\\gone2.txt!"},
     {{L"", kv::pkIncludeWithSubFolders}},
     {{L"*.lnk", kIn}}, true, false, false, nullptr,
     {L"broken.lnk|[INVALID SHORTCUT]", L"sub\\Broken2.LNK|[INVALID SHORTCUT]"}},
    {"ShortcutsAsPlainFilesWithoutTheOption",
     {L"t\\target.txt", L"valid.lnk>t\\target.txt", L"broken.lnk>t\\gone.txt!"},
     {{L"", kv::pkIncludeWithSubFolders}},
     {{L"*.lnk", kIn}}, false, false, false, nullptr,
     {L"valid.lnk|*.lnk", L"broken.lnk|*.lnk"}},
    {"ShortcutInAnExcludedFolderGoesToTheFilters",
     {L"x\\broken.lnk>gone.txt!", L"x\\sub\\broken.lnk>gone2.txt!"},
     {{L"", kv::pkIncludeWithSubFolders}, {L"x", kv::pkExcludeFolder}},
     {{L"*.lnk", kIn}}, true, false, false, nullptr,
     {L"x\\sub\\broken.lnk|[INVALID SHORTCUT]"}},
    {"ExcludedBrokenShortcutsAreNotListed",
     {L"excluded.lnk>gone.txt!", L"OLD1.lnk>gone2.txt!", L"listed.lnk>gone3.txt!"},
     {{L"", kv::pkIncludeWithSubFolders}},
     {{L"*.lnk", kIn}, {L"%BASE%excluded.lnk", kEx}, {L"old*.lnk", kEx}}, true, false, false, nullptr,
     {L"listed.lnk|[INVALID SHORTCUT]"}},
    {"EmptyFolders",
     {L"empty\\", L"full\\a.txt", L"outer\\inner\\", L"excluded\\", L"parentex\\child\\"},
     {{L"", kv::pkIncludeWithSubFolders}, {L"excluded", kv::pkExcludeFolder}, {L"parentex", kv::pkExcludeFolder}},
     {{L"*.tmp", kIn}}, false, true, false, nullptr,
     {L"empty|[EMPTY]", L"outer\\inner|[EMPTY]"}},
    {"EmptyRootWithoutSubFolders",
     {L"lonely\\"},
     {{L"lonely", kv::pkIncludeFolder}},
     {{L"*.tmp", kIn}}, false, true, false, nullptr,
     {L"lonely|[EMPTY]"}},
    {"NestedRootsReportAFileOnce",
     {L"sub\\x.tmp"},
     {{L"", kv::pkIncludeWithSubFolders}, {L"sub", kv::pkIncludeWithSubFolders}, {L"SUB", kv::pkIncludeFolder}},
     {{L"*.tmp", kIn}}, false, false, false, nullptr,
     {L"sub\\x.tmp|*.tmp"}},
    {"TheSameRootTwiceReportsAFileOnce",
     {L"sub\\x.tmp"},
     {{L"sub", kv::pkIncludeWithSubFolders}, {L"Sub", kv::pkIncludeWithSubFolders}},
     {{L"*.tmp", kIn}}, false, false, false, nullptr,
     {L"sub\\x.tmp|*.tmp"}},
    {"RootsThatOnlyShareTheirFirstLettersReportEachOfTheirFiles",
     {L"a\\x.tmp", L"ab\\y.tmp"},
     {{L"a", kv::pkIncludeWithSubFolders}, {L"ab", kv::pkIncludeFolder}},
     {{L"*.tmp", kIn}}, false, false, false, nullptr,
     {L"a\\x.tmp|*.tmp", L"ab\\y.tmp|*.tmp"}},
};

INSTANTIATE_TEST_SUITE_P(Fixtures, ScanTable, ::testing::ValuesIn(kScanCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- The match rule the walk relies on

TEST(ScanMatch, EdgeCasesOfTheOneResumptionPointRule)
{
    struct Case {
        const wchar_t* mask;
        const wchar_t* name;
        bool matches;
    };
    const Case cases[] = {{L"*.tmp", L"A.TMP", true},    {L"*.tmp", L".tmp", true},   {L"*.tmp", L"a.tmp.bak", false},
                          {L"a*b*c", L"aXbYbZc", true},  {L"*?b", L"abxb", true},     {L"*?b", L"xbb", false},
                          {L"*a", L"aa", true},          {L"", L"", true},            {L"", L"a", false},
                          {L"twain???.mtx", L"twain12.mtx", false}, {L"twain???.mtx", L"TWAIN123.MTX", true}};
    for (const Case& c : cases) {
        EXPECT_EQ(kv::MatchWildcard(c.mask, c.name), c.matches) << kv::WideToUtf8(c.mask) << " / " << kv::WideToUtf8(c.name);
        EXPECT_EQ(kv::MatchUpperCaseWildcard(kv::UpperCase(c.mask), kv::UpperCase(c.name)), c.matches);
    }
}

// ---- Result rows

TEST_F(ScanTest, RowsCarryNameLocationSizeTimeAndFilterAndTheTotalIsOnDisk)
{
    const std::wstring base = kvtest::ScratchFolder(L"Rows");
    kvtest::WriteBytes(base + L"big.tmp", std::string(5000, 'b'));
    kvtest::WriteBytes(base + L"setup.exe", std::string(1, 's'));
    kvtest::WriteBytes(base + L"SETUP2.EXE", std::string(4096, 'S'));
    SetLastWriteTime(base + L"big.tmp", 2021, 3, 4, 5, 6, 7);
    kv::ClusterSizes['C' - 'A'] = 4096;

    RecordingView view;
    view.options.Paths = {{base.substr(0, base.size() - 1), kv::pkIncludeFolder, true}};
    view.options.Filters = {{L"*.TMP", kIn, true}, {L"*.exe", kIn, true}, {L"*.*", kIn, false}};
    kv::RunScan(view);

    ASSERT_EQ(view.rows.size(), 3u);
    std::map<std::wstring, kv::TScanResult> byName;
    for (const auto& row : view.rows) byName[row.Caption] = row;
    const kv::TScanResult& big = byName.at(L"big.tmp");
    EXPECT_EQ(big.Location, base);
    EXPECT_EQ(big.Size, 5000);
    EXPECT_EQ(kv::FileTimeToText(big.Modified), L"2021-03-04 05:06:07");
    EXPECT_EQ(big.Filter, L"*.tmp") << "masks are kept lower-cased";
    EXPECT_EQ(big.ImageIndex, kv::kFileResultImage);
    EXPECT_EQ(byName.at(L"setup.exe").ImageIndex, kv::kProgramResultImage);
    EXPECT_EQ(byName.at(L"SETUP2.EXE").ImageIndex, kv::kFileResultImage) << "only \".exe\" as written";
    EXPECT_EQ(byName.at(L"SETUP2.EXE").Size, 4096);

    // 5000 -> 8192, 1 -> 4096, 4096 -> 4096 on a 4 KB cluster.
    EXPECT_EQ(kv::ScanFoundSize.load(), 16384);
    EXPECT_EQ(kv::JunkTotalSize.load(), 16384);
    EXPECT_EQ(view.statuses.back(), L"Total amount disk space you will gain: " + kv::FormatFileSize(16384));
    EXPECT_EQ(kv::ScanDone.load(), 1);
    EXPECT_EQ(kv::StopRequested.load(), 1);
}

// Host names that are not plain names (made with the host's shell): joined
// to their folder they would name other entries, or walk out of the tree.
// The scan lists none of them, walks none, and says so.
TEST_F(ScanTest, NamesThatAreNotPlainAreSkippedAndCounted)
{
    const std::wstring base = kvtest::ScratchFolder(L"OddNames");
    ASSERT_EQ(kvtest::RunHostScript(base, L"host",
                                    "mkdir -p tree/sub\n"
                                    "printf x > tree/plain.tmp\n"
                                    "printf x > tree/report.doc\n"
                                    "printf x > 'tree/report.doc.'\n"
                                    "printf x > 'tree/blank.tmp '\n"
                                    "printf x > 'tree/..\\outside.tmp'\n"
                                    "printf x > outside.tmp\n"
                                    "mkdir 'tree/..\\..' && printf x > 'tree/..\\../inner.tmp'\n"),
              0);
    const std::wstring tree = base + L"tree\\";
    RecordingView view;
    view.options.Paths = {{tree.substr(0, tree.size() - 1), kv::pkIncludeWithSubFolders, true}};
    view.options.Filters = {{L"*", kIn, true}};
    kv::RunScan(view);
    EXPECT_EQ(view.Found(tree), (std::set<std::wstring>{L"plain.tmp|*", L"report.doc|*"}));
    std::set<std::wstring> skipped;
    for (const kv::TSkippedEntry& entry : view.skipped) {
        EXPECT_EQ(entry.reason, kv::TSkipReason::NotPlainName);
        skipped.insert(entry.path);
    }
    EXPECT_EQ(skipped, (std::set<std::wstring>{tree + L"report.doc.", tree + L"blank.tmp ", tree + L"..\\outside.tmp",
                                               tree + L"..\\.."}));
    ASSERT_EQ(view.finished.size(), 1u);
    EXPECT_EQ(view.finished[0], L"[Finished]" + FinishedHint() + L" - 4 skipped");
    EXPECT_EQ(kvtest::RunHostScript(base, L"clean", "rm -rf tree\n"), 0);
}

TEST_F(ScanTest, AFileThatCannotBeOpenedForWritingIsNotReported)
{
    const std::wstring base = kvtest::ScratchFolder(L"Locked");
    kvtest::WriteBytes(base + L"locked.tmp", "x");
    kvtest::WriteBytes(base + L"free.tmp", "y");
    kv::FileHandle holder(::CreateFileW((base + L"locked.tmp").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                        nullptr));
    ASSERT_TRUE(holder.IsValid());
    RecordingView view;
    view.options.Paths = {{base.substr(0, base.size() - 1), kv::pkIncludeFolder, true}};
    view.options.Filters = {{L"*.tmp", kIn, true}};
    kv::RunScan(view);
    EXPECT_EQ(view.Found(base), std::set<std::wstring>{L"free.tmp|*.tmp"});
}

TEST_F(ScanTest, ShortcutTargetIsReadThroughTheShell)
{
    const std::wstring base = kvtest::ScratchFolder(L"ShortcutTarget");
    kvtest::WriteBytes(base + L"target.txt", "t");
    MakeShortcut(base + L"to.lnk", base + L"target.txt");
    const std::wstring target = kv::TSearchEngine::GetShortcutTarget(base + L"to.lnk");
    EXPECT_EQ(_wcsicmp(kv::GetShortPath(target).c_str(), kv::GetShortPath(base + L"target.txt").c_str()), 0)
        << "target " << kv::WideToUtf8(target);
    kvtest::WriteBytes(base + L"not-a-link.lnk", "garbage");
    EXPECT_EQ(kv::TSearchEngine::GetShortcutTarget(base + L"not-a-link.lnk"), L"");
    EXPECT_EQ(kv::TSearchEngine::GetShortcutTarget(base + L"missing.lnk"), L"");
}

// ---- Drive roots and the recycle bins, on the scratch drive D:

class DriveDTest : public ScanTest {
protected:
    void SetUp() override
    {
        ScanTest::SetUp();
        Clean();
    }
    void TearDown() override
    {
        Clean();
        ScanTest::TearDown();
    }
    // Only the entries these tests make; D: is the test prefix's scratch drive.
    static void Clean()
    {
        for (const wchar_t* name : kEntries) {
            const std::wstring path = std::wstring(L"D:\\") + name;
            const DWORD attributes = ::GetFileAttributesW(path.c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES) continue;
            if (attributes & FILE_ATTRIBUTE_DIRECTORY)
                kvtest::RemoveScratchTree(path);
            else
                ::DeleteFileW(path.c_str());
        }
    }
    static std::size_t RootEntryCount()
    {
        std::size_t count = 0;
        WIN32_FIND_DATAW entry{};
        kv::FindHandle find(::FindFirstFileW(L"D:\\*", &entry));
        if (find) {
            do {
                const std::wstring_view name(entry.cFileName);
                if (name != L"." && name != L"..") ++count;
            } while (::FindNextFileW(find.Get(), &entry));
        }
        return count;
    }
    static constexpr const wchar_t* kEntries[] = {L"Recycled", L"RECYCLER", L"$Recycle.Bin", L"kvscan-live",
                                                  L"kvscan-marker.txt"};
};

TEST_F(DriveDTest, RecycleBinsBelowADriveRootAreNeverWalked)
{
    BuildTree(L"D:\\", {L"Recycled\\kvscan-1.tmp", L"RECYCLER\\S-1-5\\kvscan-2.tmp", L"$Recycle.Bin\\kvscan-3.tmp",
                        L"kvscan-live\\kvscan-4.tmp", L"kvscan-live\\recycler\\kvscan-5.tmp"});
    RecordingView view;
    view.options.Paths = {{L"D:", kv::pkDrive, true}, {L"D:\\RECYCLER", kv::pkIncludeWithSubFolders, true}};
    view.options.Filters = {{L"kvscan-*.tmp", kIn, true}};
    kv::RunScan(view);
    EXPECT_EQ(view.Found(L"D:\\"), (std::set<std::wstring>{L"kvscan-live\\kvscan-4.tmp|kvscan-*.tmp",
                                                           L"kvscan-live\\recycler\\kvscan-5.tmp|kvscan-*.tmp"}))
        << "only a recycle bin directly below a drive root is skipped";
}

TEST_F(DriveDTest, ADriveRootIsNeverReportedEmpty)
{
    // Two entries and no "." or "..": counted the old way, the root looked empty.
    BuildTree(L"D:\\", {L"kvscan-live\\kvscan-4.tmp", L"kvscan-marker.txt"});
    if (RootEntryCount() != 2) std::printf("note: D:\\ holds other entries too\n");
    RecordingView view;
    view.options.Paths = {{L"D:", kv::pkDrive, true}, {L"D:", kv::pkIncludeFolder, true}};
    view.options.Filters = {{L"*.none", kIn, true}};
    view.options.FindEmptyFolder = true;
    kv::RunScan(view);
    for (const auto& row : view.rows)
        if (row.Location.size() <= 3 || row.Caption == L"D:" || row.Location.find(L"kvscan") != std::wstring::npos)
            ADD_FAILURE() << "unexpected row " << kv::WideToUtf8(row.Location + row.Caption);
}

// ---- Links made on the host side (ln -s), by the ctest fixture step

std::wstring HostFixtureFolder(const wchar_t* name)
{
    const std::wstring folder = std::wstring(L"C:\\kvtest\\host-fixtures\\scan\\") + name + L"\\";
    if (kvtest::PathExists(folder)) return folder;
    wchar_t flag[8] = {};
    if (::GetEnvironmentVariableW(L"KV_SCAN_HOST_FIXTURES", flag, 8) == 0) return std::wstring();
    ADD_FAILURE() << "the host fixture step ran but made no " << kv::WideToUtf8(folder);
    return std::wstring();
}

TEST_F(ScanTest, NeverFollowsAHostSymlinkLoopOrALinkOutOfTheTree)
{
    const std::wstring base = HostFixtureFolder(L"links");
    if (base.empty()) GTEST_SKIP() << "host fixtures are made by ctest (cleaner_engine_host_fixtures)";
    const DWORD loop = ::GetFileAttributesW((base + L"loop\\a\\back").c_str());
    ASSERT_NE(loop, INVALID_FILE_ATTRIBUTES);
    ASSERT_TRUE(loop & FILE_ATTRIBUTE_REPARSE_POINT) << "Wine shows a host symlink as a reparse point";

    RecordingView view;
    view.options.Paths = {{base + L"loop", kv::pkIncludeWithSubFolders, true}, {base + L"rootlink", kv::pkIncludeWithSubFolders, true}};
    view.options.Filters = {{L"*.tmp", kIn, true}};
    view.options.FindEmptyFolder = true;
    kv::RunScan(view);
    EXPECT_EQ(view.Found(base), (std::set<std::wstring>{L"loop\\a\\real.tmp|*.tmp"}))
        << "nothing behind a link is reported, and the loop ends";
}

// ---- Peer check: GNU find with the same masks, on the host side of the same tree

std::vector<std::string> ReadLines(const std::wstring& path)
{
    std::istringstream text(kvtest::ReadBytes(path));
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

TEST_F(ScanTest, FindsWhatGnuFindFindsWithTheSameMasks)
{
    const std::wstring base = HostFixtureFolder(L"peer");
    if (base.empty()) GTEST_SKIP() << "host fixtures are made by ctest (cleaner_engine_host_fixtures)";
    RecordingView view;
    view.options.Paths = {{base + L"tree", kv::pkIncludeWithSubFolders, true}};
    // "I mask" includes, "X mask" excludes.
    for (const std::string& line : ReadLines(base + L"masks.txt"))
        view.options.Filters.push_back({kv::Utf8ToWide(line.substr(2)), line[0] == 'I' ? kIn : kEx, true});
    ASSERT_GE(view.options.Filters.size(), 24u);
    kv::RunScan(view);

    std::set<std::string> scanned;
    for (const auto& row : view.rows) scanned.insert(kv::WideToUtf8(row.Location.substr(base.size() + 5) + row.Caption));
    std::set<std::string> found;
    for (std::string line : ReadLines(base + L"found.txt")) {
        std::replace(line.begin(), line.end(), '/', '\\');
        found.insert(line);
    }
    ASSERT_GE(found.size(), 500u) << "the peer tree is meant to hold many hits";
    std::vector<std::string> onlyScan, onlyFind;
    std::set_difference(scanned.begin(), scanned.end(), found.begin(), found.end(), std::back_inserter(onlyScan));
    std::set_difference(found.begin(), found.end(), scanned.begin(), scanned.end(), std::back_inserter(onlyFind));
    for (std::size_t i = 0; i < onlyScan.size() && i < 10; ++i) ADD_FAILURE() << "only the scan found " << onlyScan[i];
    for (std::size_t i = 0; i < onlyFind.size() && i < 10; ++i) ADD_FAILURE() << "only find found " << onlyFind[i];
    EXPECT_EQ(scanned.size(), found.size());
}

// ---- Stop and the folder display

std::wstring MakeWideTree(const wchar_t* name, int folders, int filesPerFolder)
{
    const std::wstring base = kvtest::ScratchFolder(name);
    for (int f = 0; f < folders; ++f) {
        const std::wstring folder = base + kv::Format(L"f%.3d\\", {f});
        ::CreateDirectoryW(folder.c_str(), nullptr);
        for (int i = 0; i < filesPerFolder; ++i) kvtest::WriteBytes(folder + kv::Format(L"x%.3d.tmp", {i}), "j");
    }
    return base;
}

// Runs a TSearch thread and serves its synchronised calls until it has ended.
void RunScanThread(RecordingView& view)
{
    const long idle = kv::WorkerThreadCount.load();
    kv::TSearch::Create(view);
    const DWORD start = ::GetTickCount();
    while (kv::WorkerThreadCount.load() != idle && ::GetTickCount() - start < 60000) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        kv::ProcessMessages();
    }
    ASSERT_EQ(kv::WorkerThreadCount.load(), idle) << "the scan thread did not end";
}

TEST_F(ScanTest, StopOnTheScanThreadEndsAfterTheEntryInHandAndSaysAborted)
{
    const std::wstring base = MakeWideTree(L"StopThread", 20, 20);
    RecordingView view;
    view.options.Paths = {{base.substr(0, base.size() - 1), kv::pkIncludeWithSubFolders, true}};
    view.options.Filters = {{L"*.tmp", kIn, true}};
    // The Stop button, pressed while the first row is shown.
    view.onRow = [](RecordingView& v) {
        if (v.rows.size() == 1) kv::StopScan(v.LanguageText(kv::stAborted));
    };
    RunScanThread(view);

    EXPECT_EQ(view.rows.size(), 1u) << "the walk ends after the entry in hand";
    ASSERT_EQ(view.finished.size(), 1u);
    EXPECT_EQ(view.finished[0], L"[Aborted] " + FinishedHint());
    EXPECT_EQ(view.calls.front(), "options");
    EXPECT_EQ(view.calls.back(), "finished");
    EXPECT_EQ(view.callingThreads, std::set<DWORD>{::GetCurrentThreadId()}) << "the view is used on the main thread only";
    EXPECT_EQ(kv::ScanDone.load(), 1);
    EXPECT_EQ(kv::StopRequested.load(), 1);
    EXPECT_EQ(kv::StoppedByUser.load(), 1);
    EXPECT_EQ(kv::JunkTotalSize.load(), kv::ScanFoundSize.load());
}

TEST_F(ScanTest, AScanThatEndsByItselfSaysFinished)
{
    const std::wstring base = MakeWideTree(L"FinishThread", 3, 4);
    RecordingView view;
    view.options.Paths = {{base.substr(0, base.size() - 1), kv::pkIncludeWithSubFolders, true}};
    view.options.Filters = {{L"*.tmp", kIn, true}};
    RunScanThread(view);
    EXPECT_EQ(view.rows.size(), 12u);
    ASSERT_EQ(view.finished.size(), 1u);
    EXPECT_EQ(view.finished[0], L"[Finished]" + FinishedHint());
    EXPECT_EQ(kv::StoppedByUser.load(), 0);
}

TEST_F(ScanTest, StopIsCheckedBeforeEachFolder)
{
    const std::wstring base = MakeWideTree(L"StopBeforeFolder", 5, 5);
    RecordingView view;
    view.options.Paths = {{base.substr(0, base.size() - 1), kv::pkIncludeWithSubFolders, true}};
    view.options.Filters = {{L"*.tmp", kIn, true}};
    // Stop pressed while the first sub-folder is being announced: it is never listed.
    view.onPath = [](RecordingView& v) { kv::StopScan(v.LanguageText(kv::stAborted)); };
    kv::RunScan(view);
    EXPECT_EQ(view.paths.size(), 1u);
    EXPECT_TRUE(view.rows.empty());
    ASSERT_EQ(view.finished.size(), 1u);
    EXPECT_EQ(view.finished[0], L"[Aborted] " + FinishedHint());
}

TEST_F(ScanTest, RowsReachTheWindowInFewCallsInOrderWithTheLastStatus)
{
    const std::wstring base = MakeWideTree(L"RowBatches", 30, 20);
    RecordingView view;
    view.options.Paths = {{base.substr(0, base.size() - 1), kv::pkIncludeWithSubFolders, true}};
    view.options.Filters = {{L"*.tmp", kIn, true}};
    std::vector<std::size_t> rowsPerCall; // rows each synchronised call added
    std::vector<DWORD> callTicks;         // when each call began
    kv::TSearchEngine engine(view, [&](const std::function<void()>& method) {
        callTicks.push_back(::GetTickCount());
        const std::size_t before = view.rows.size();
        method();
        rowsPerCall.push_back(view.rows.size() - before);
    });
    const DWORD start = ::GetTickCount();
    engine.Run();
    const DWORD elapsed = ::GetTickCount() - start;

    ASSERT_EQ(view.rows.size(), 600u);
    const auto firstWithRows = std::find_if(rowsPerCall.begin(), rowsPerCall.end(), [](std::size_t n) { return n > 0; });
    ASSERT_NE(firstWithRows, rowsPerCall.end());
    EXPECT_EQ(*firstWithRows, 1u) << "the first row is shown at once";
    const auto callsWithRows = std::count_if(rowsPerCall.begin(), rowsPerCall.end(), [](std::size_t n) { return n > 0; });
    EXPECT_LE(static_cast<DWORD>(callsWithRows), elapsed / 100 + 3) << "about ten calls a second at most";
    // Rows and folder texts share one throttle: after the first row, no call
    // comes within the interval of the one before, whatever either carried,
    // until the forced last one.
    const auto first = static_cast<std::size_t>(firstWithRows - rowsPerCall.begin());
    std::size_t last = rowsPerCall.size() - 1;
    while (last > first && rowsPerCall[last] == 0) --last;
    for (std::size_t call = first + 1; call < last; ++call)
        EXPECT_GE(callTicks[call] - callTicks[call - 1], 95u) << "call " << call << " of " << callTicks.size();
    // Each folder's rows together, in the order the folder lists its files.
    std::map<std::wstring, std::vector<std::wstring>> byFolder;
    for (const kv::TScanResult& row : view.rows) byFolder[row.Location].push_back(row.Caption);
    EXPECT_EQ(byFolder.size(), 30u);
    for (const auto& [folder, captions] : byFolder) {
        std::vector<std::wstring> listed;
        WIN32_FIND_DATAW entry{};
        kv::FindHandle find(::FindFirstFileW((folder + L"*.tmp").c_str(), &entry));
        ASSERT_TRUE(find.IsValid());
        do listed.push_back(entry.cFileName);
        while (::FindNextFileW(find.Get(), &entry));
        EXPECT_EQ(captions, listed) << kv::WideToUtf8(folder);
    }
    // The status line ends as the total of every row; rows before the last of
    // their call carry none.
    ASSERT_FALSE(view.statuses.back().empty());
    EXPECT_EQ(view.statuses.back(), kv::Format(view.LanguageText(kv::stFoundSize),
                                               {kv::FormatFileSize(kv::ScanFoundSize.load())}));
    EXPECT_GE(std::count(view.statuses.begin(), view.statuses.end(), std::wstring()),
              static_cast<std::ptrdiff_t>(view.rows.size()) - callsWithRows);
}

TEST_F(ScanTest, ARowTheWindowFailsOnEndsTheScanOnceWithNoRowAddedTwice)
{
    const std::wstring base = MakeWideTree(L"RowFailure", 3, 20);
    RecordingView view;
    view.options.Paths = {{base.substr(0, base.size() - 1), kv::pkIncludeWithSubFolders, true}};
    view.options.Filters = {{L"*.tmp", kIn, true}};
    // The second row reaches the window in the batch after the first.
    view.onRow = [](RecordingView& v) {
        if (v.rows.size() == 2) throw std::runtime_error("the window cannot take this row");
    };
    EXPECT_THROW(kv::RunScan(view), std::runtime_error);
    EXPECT_EQ(view.rows.size(), 2u) << "no row is offered to the window twice";
    std::set<std::wstring> paths;
    for (const kv::TScanResult& row : view.rows) paths.insert(row.Location + row.Caption);
    EXPECT_EQ(paths.size(), view.rows.size());
    ASSERT_EQ(view.finished.size(), 1u) << "the window leaves its scanning state";
    EXPECT_EQ(view.calls.back(), "finished");
}

TEST_F(ScanTest, FolderDisplayIsThrottledAndShowsTheLastFolder)
{
    const std::wstring base = MakeWideTree(L"Throttle", 400, 0);
    // The walk enters the sub-folders in listing order: the last listed is the last entered.
    std::wstring lastFolder;
    {
        WIN32_FIND_DATAW entry{};
        kv::FindHandle find(::FindFirstFileW((base + L"*.*").c_str(), &entry));
        ASSERT_TRUE(find.IsValid());
        do {
            if (kv::IsRealSubFolder(entry)) lastFolder = entry.cFileName;
        } while (::FindNextFileW(find.Get(), &entry));
    }
    RecordingView view;
    view.options.Paths = {{base.substr(0, base.size() - 1), kv::pkIncludeWithSubFolders, true}};
    view.options.Filters = {{L"*.tmp", kIn, true}};
    const DWORD start = ::GetTickCount();
    kv::RunScan(view);
    const DWORD elapsed = ::GetTickCount() - start;

    ASSERT_FALSE(view.paths.empty());
    EXPECT_LE(view.paths.size(), elapsed / 100 + 2) << "about ten updates a second at most";
    EXPECT_LT(view.paths.size(), 400u);
    EXPECT_EQ(view.paths.back(), kv::Format(L"Scanning  %s%s\\", {base, lastFolder}));
    EXPECT_EQ(view.calls[view.calls.size() - 2], "path") << "the last folder is shown before the scan ends";
}

} // namespace
