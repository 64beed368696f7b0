// Clean Now on the checked scan results: each clean method on a scratch tree,
// what it must leave alone, the backup folder and its log, links, and the
// whole Clean Now sequence with its numbered progress log.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "CleanTargetsTestSupport.h"
#include "JunkCleanerTestSupport.h"
#include "cleaner/engine/GetFolderSizeUnit.h"
#include "cleaner/engine/BackupLog.h"
#include "cleaner/engine/JunkCleaner.h"
#include "cleaner/engine/SettingsStore.h"
#include "cleaner/engine/SharedState.h"
#include "cleaner/engine/TSearchUnit.h"
#include "platform/Format.h"
#include "platform/Handles.h"
#include "platform/StringList.h"

namespace {

using kvtest::Checked;
using kvtest::EmptyFolderRow;
using kvtest::PathExists;
using kvtest::ReadBytes;
using kvtest::Unchecked;

std::set<std::wstring> AsSet(const std::vector<std::wstring>& paths) { return {paths.begin(), paths.end()}; }

std::vector<std::wstring> LogEntries(const std::wstring& logPath)
{
    std::vector<std::wstring> entries;
    for (const std::wstring& line : kv::StringList(kv::DecodeText(ReadBytes(logPath))))
        if (!line.empty() && line.front() != L';') entries.push_back(line);
    return entries;
}

// A tree with every kind of row Clean Now meets, and the backup folder beside it.
struct JunkTree {
    explicit JunkTree(const std::wstring& name)
        : root(kvtest::ScratchFolder(name)), junk(root + L"junk\\"), backup(root + L"backup\\")
    {
        kvtest::PutFile(junk + L"a.tmp", "first a");
        kvtest::WriteSized(junk + L"sub\\a.tmp", 3000, 's'); // the same name in another folder
        kvtest::PutFile(junk + L"ro.tmp", "read-only, but checked");
        ::SetFileAttributesW((junk + L"ro.tmp").c_str(), FILE_ATTRIBUTE_READONLY);
        kvtest::PutFile(junk + L"unchecked.tmp", "the user unchecked it");
        kvtest::PutFile(junk + L"not-listed.tmp", "never in the results");
        kvtest::MakeFolder(junk + L"emptydir\\");
        kvtest::PutFile(junk + L"filled\\late.txt", "came after the scan");
        kvtest::PutFile(backup + L"C\\earlier\\old.tmp", "an earlier backup");
        kvtest::MakeFolder(backup + L"emptyinside\\");
    }

    std::vector<kv::TJunkItem> Rows() const
    {
        return {Checked(junk + L"a.tmp"),
                Checked(junk + L"sub\\a.tmp"),
                Checked(junk + L"ro.tmp"),
                Unchecked(junk + L"unchecked.tmp"),
                EmptyFolderRow(junk + L"emptydir"),
                EmptyFolderRow(junk + L"filled"),           // no longer empty
                Checked(junk + L"gone.tmp"),                // removed since the scan
                Checked(backup + L"C\\earlier\\old.tmp"),   // inside the backup folder
                EmptyFolderRow(backup + L"emptyinside"),    // inside the backup folder
                EmptyFolderRow(root + L"backup")};          // the backup folder itself
    }

    std::set<std::wstring> Cleanable() const
    {
        return {junk + L"a.tmp", junk + L"sub\\a.tmp", junk + L"ro.tmp", junk + L"emptydir"};
    }

    // Everything that must be where it was after any method.
    void ExpectUntouched() const
    {
        EXPECT_EQ(ReadBytes(junk + L"unchecked.tmp"), "the user unchecked it");
        EXPECT_EQ(ReadBytes(junk + L"not-listed.tmp"), "never in the results");
        EXPECT_EQ(ReadBytes(junk + L"filled\\late.txt"), "came after the scan");
        EXPECT_EQ(ReadBytes(backup + L"C\\earlier\\old.tmp"), "an earlier backup");
        EXPECT_TRUE(PathExists(backup + L"emptyinside\\"));
    }

    void ExpectCleanableGone() const
    {
        for (const std::wstring& path : Cleanable()) EXPECT_FALSE(PathExists(path)) << path;
    }

    std::wstring root, junk, backup;
};

TEST(JunkCleaner, RecycleBinMethodPutsTheCheckedFilesInTheTrash)
{
    const JunkTree tree(L"method-recycle");
    const std::vector<kv::TJunkItem> rows = tree.Rows();
    const kv::TJunkOutcome outcome = kv::RecycleJunk(rows, tree.backup);
    EXPECT_EQ(AsSet(kvtest::PathsOf(rows, outcome.cleaned)), tree.Cleanable());
    tree.ExpectCleanableGone();
    tree.ExpectUntouched();

    std::map<std::wstring, std::string> trashed;
    for (const kvtest::TrashedFile& file : kvtest::TrashedFrom(tree.root)) trashed[file.originalTail] = file.bytes;
    EXPECT_EQ(trashed[kvtest::UnixTail(tree.junk + L"a.tmp")], "first a");
    EXPECT_EQ(trashed[kvtest::UnixTail(tree.junk + L"sub\\a.tmp")], std::string(3000, 's'));
    EXPECT_EQ(trashed[kvtest::UnixTail(tree.junk + L"ro.tmp")], "read-only, but checked");
    EXPECT_EQ(trashed.count(kvtest::UnixTail(tree.junk + L"unchecked.tmp")), 0u);
    EXPECT_EQ(trashed.count(kvtest::UnixTail(tree.backup + L"C\\earlier\\old.tmp")), 0u);
    EXPECT_EQ(trashed.count(kvtest::UnixTail(tree.junk + L"emptydir")), 1u);
    EXPECT_EQ(trashed.size(), 4u);
    kvtest::RemoveTrashedFrom(tree.root);
    EXPECT_TRUE(kvtest::TrashedFrom(tree.root).empty());
}

// The bytes of a Trash record's path: its "%XX" escapes undone.
std::string UnescapedTrashPath(const std::wstring& escaped)
{
    std::string bytes;
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] == L'%' && i + 2 < escaped.size()) {
            const std::string hex{static_cast<char>(escaped[i + 1]), static_cast<char>(escaped[i + 2])};
            bytes += static_cast<char>(std::stoi(hex, nullptr, 16));
            i += 2;
        } else {
            bytes += static_cast<char>(escaped[i]);
        }
    }
    return bytes;
}

// The host's path of a DOS path as Wine itself maps it (in the host's code page).
std::string HostPathByWine(const std::wstring& path)
{
    using UnixNameProc = char*(CDECL*)(LPCWSTR);
    const auto unixName = reinterpret_cast<UnixNameProc>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name"));
    if (!unixName) return std::string();
    char* name = unixName(path.c_str());
    if (!name) return std::string();
    std::string host(name);
    ::HeapFree(::GetProcessHeap(), 0, name);
    return host;
}

TEST(JunkCleaner, EachTrashRecordNamesItsOwnEntrysFormerPlace)
{
    // Rows of two folders taking turns, plain and non-ASCII names: every
    // record must name its own entry's place, as Wine maps it to the host.
    const std::wstring root = kvtest::ScratchFolder(L"trash-records");
    const std::vector<std::wstring> paths = {root + L"one\\plain.tmp", root + L"two\\plain.tmp",
                                             root + L"one\\caf\u00e9.tmp", root + L"two\\\u65e5\u672c.tmp",
                                             root + L"one\\second.tmp"};
    const std::wstring rootTail = kvtest::UnixTail(root);
    const std::string hostRootTail(rootTail.begin(), rootTail.end());
    std::vector<kv::TJunkItem> rows;
    std::map<std::string, std::string> expected; // host path from the root on -> contents
    for (const std::wstring& path : paths) {
        kvtest::PutFile(path, kv::WideToUtf8(path));
        rows.push_back(Checked(path));
        const std::string host = HostPathByWine(path);
        ASSERT_NE(host.find(hostRootTail), std::string::npos) << host;
        expected[host.substr(host.find(hostRootTail))] = kv::WideToUtf8(path);
    }
    const kv::TJunkOutcome outcome = kv::RecycleJunk(rows, root + L"backup\\");
    EXPECT_EQ(kvtest::PathsOf(rows, outcome.cleaned), paths);

    std::map<std::string, std::string> trashed;
    for (const kvtest::TrashedFile& file : kvtest::TrashedFrom(root))
        trashed[UnescapedTrashPath(file.originalTail)] = file.bytes;
    EXPECT_EQ(trashed, expected);
    kvtest::RemoveTrashedFrom(root);
}

TEST(JunkCleaner, ANameTakenInTheTrashWithoutARecordIsLeftAloneAndTheNextNameIsUsed)
{
    // Another program left "files\<name>" (and "<name>.1") without records:
    // the entry goes in as "<name>.2", and what was there stays as it was.
    const std::wstring trash = kvtest::HostTrashFolder();
    if (trash.empty()) GTEST_SKIP() << "no Trash: this is not Wine";
    const std::wstring root = kvtest::ScratchFolder(L"trash-taken");
    const std::wstring name = L"kvtest-taken-name.tmp";
    const std::vector<std::wstring> foreign = {trash + L"files\\" + name, trash + L"files\\" + name + L".1"};
    kv::CreateFolderPath(trash + L"info\\");
    for (const std::wstring& path : foreign) kvtest::PutFile(path, "another program's");
    kvtest::PutFile(root + name, "the junk");

    const kv::TJunkOutcome outcome = kv::RecycleJunk({Checked(root + name)}, root + L"backup\\");
    EXPECT_EQ(outcome.cleaned, std::vector<std::size_t>{0});
    for (const std::wstring& path : foreign) EXPECT_EQ(ReadBytes(path), "another program's");
    EXPECT_FALSE(PathExists(trash + L"info\\" + name + L".trashinfo")) << "no record left for a taken name";
    EXPECT_FALSE(PathExists(trash + L"info\\" + name + L".1.trashinfo"));
    const std::vector<kvtest::TrashedFile> trashed = kvtest::TrashedFrom(root);
    ASSERT_EQ(trashed.size(), 1u);
    EXPECT_EQ(trashed[0].bytes, "the junk");
    EXPECT_EQ(trashed[0].filePath, trash + L"files\\" + name + L".2");
    kvtest::RemoveTrashedFrom(root);
    for (const std::wstring& path : foreign) ::DeleteFileW(path.c_str());
}

TEST(JunkCleaner, DeletePermanentlyLeavesNothingInTheTrash)
{
    const JunkTree tree(L"method-delete");
    const std::vector<kv::TJunkItem> rows = tree.Rows();
    const kv::TJunkOutcome outcome = kv::DeleteJunkPermanently(rows, tree.backup);
    EXPECT_EQ(AsSet(kvtest::PathsOf(rows, outcome.cleaned)), tree.Cleanable());
    tree.ExpectCleanableGone();
    tree.ExpectUntouched();
    EXPECT_TRUE(kvtest::TrashedFrom(tree.root).empty());
}

TEST(JunkCleaner, BackupMethodMovesUnderTheFormerPathAndListsWhatMoved)
{
    const JunkTree tree(L"method-backup");
    const std::vector<kv::TJunkItem> rows = tree.Rows();
    const kv::TJunkOutcome outcome = kv::MoveJunkToBackup(rows, {tree.backup, L"Backup.txt"}, L"; header\r\n\r\n");
    EXPECT_EQ(AsSet(kvtest::PathsOf(rows, outcome.cleaned)), tree.Cleanable());
    tree.ExpectCleanableGone();
    tree.ExpectUntouched();

    const auto copy = [&](const std::wstring& path) { return kv::BackupCopyPath(tree.backup, path); };
    EXPECT_EQ(copy(tree.junk + L"a.tmp"), tree.backup + L"C" + tree.junk.substr(2) + L"a.tmp");
    EXPECT_EQ(ReadBytes(copy(tree.junk + L"a.tmp")), "first a");
    EXPECT_EQ(ReadBytes(copy(tree.junk + L"sub\\a.tmp")), std::string(3000, 's'));
    EXPECT_EQ(ReadBytes(copy(tree.junk + L"ro.tmp")), "read-only, but checked");
    EXPECT_TRUE(PathExists(copy(tree.junk + L"emptydir") + L"\\"));
    EXPECT_FALSE(PathExists(copy(tree.junk + L"unchecked.tmp")));

    const std::string log = ReadBytes(tree.backup + L"Backup.txt");
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log.substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(kv::DecodeText(log).substr(0, 10), L"; header\r\n");
    EXPECT_EQ(LogEntries(tree.backup + L"Backup.txt"),
              (std::vector<std::wstring>{tree.junk + L"a.tmp", tree.junk + L"sub\\a.tmp", tree.junk + L"ro.tmp",
                                         tree.junk + L"emptydir"}));
    EXPECT_FALSE(PathExists(tree.backup + L"Backup.txt.new"));
}

TEST(JunkCleaner, LinksStayWhateverTheMethodAndTheirTargetsToo)
{
    KV_REQUIRE_FIXTURES();
    const std::wstring trees = kvtest::FixtureFolder() + L"junk-links\\";
    for (const wchar_t* method : {L"recycle", L"backup", L"delete"}) {
        SCOPED_TRACE(method);
        const std::wstring tree = trees + method + L"\\";
        const std::wstring backup = kvtest::ScratchFolder(std::wstring(L"links-backup-") + method);
        const std::vector<kv::TJunkItem> rows = {Checked(tree + L"inside\\link-file.tmp"),
                                                 EmptyFolderRow(tree + L"inside\\linkdir")};
        kv::TJunkOutcome outcome;
        if (std::wstring(method) == L"recycle") outcome = kv::RecycleJunk(rows, backup);
        if (std::wstring(method) == L"backup") outcome = kv::MoveJunkToBackup(rows, {backup, L"Backup.txt"}, L"");
        if (std::wstring(method) == L"delete") outcome = kv::DeleteJunkPermanently(rows, backup);
        EXPECT_TRUE(outcome.cleaned.empty());
        EXPECT_EQ(outcome.kept.size(), 2u);
        EXPECT_TRUE(PathExists(tree + L"inside\\link-file.tmp"));
        EXPECT_TRUE(PathExists(tree + L"inside\\linkdir"));
        EXPECT_EQ(ReadBytes(tree + L"outside\\keep.tmp"), "keep\n");
        EXPECT_EQ(ReadBytes(tree + L"outside\\deeper\\keep.tmp"), "keep\n");
    }
}

// A folder is judged once for all its rows: every row in a protected folder
// stays, the later ones as well as the first, whichever rows come between.
TEST(JunkCleaner, EveryRowOfAProtectedFolderStaysNotOnlyTheFirst)
{
    wchar_t windows[MAX_PATH] = {};
    ASSERT_GT(::GetWindowsDirectoryW(windows, MAX_PATH), 0u);
    for (const wchar_t* method : {L"recycle", L"backup", L"delete"}) {
        SCOPED_TRACE(method);
        const std::wstring sealed = std::wstring(windows) + L"\\kvtest-sealed-rows-" + method + L"-";
        const std::wstring junk = kvtest::ScratchFolder(std::wstring(L"sealed-rows-") + method) + L"junk\\";
        const std::wstring backup = kvtest::ScratchFolder(std::wstring(L"sealed-rows-backup-") + method);
        const std::vector<std::wstring> kept = {sealed + L"1.tmp", sealed + L"2.tmp", sealed + L"3.tmp"};
        const std::vector<std::wstring> junkFiles = {junk + L"1.tmp", junk + L"2.tmp"};
        for (const std::wstring& path : kept) kvtest::PutFile(path, "sealed");
        for (const std::wstring& path : junkFiles) kvtest::PutFile(path, "junk");
        const std::vector<kv::TJunkItem> rows = {Checked(kept[0]), Checked(junkFiles[0]), Checked(kept[1]),
                                                 Checked(junkFiles[1]), Checked(kept[2])};
        kv::TJunkOutcome outcome;
        if (std::wstring(method) == L"recycle") outcome = kv::RecycleJunk(rows, backup);
        if (std::wstring(method) == L"backup") outcome = kv::MoveJunkToBackup(rows, {backup, L"Backup.txt"}, L"");
        if (std::wstring(method) == L"delete") outcome = kv::DeleteJunkPermanently(rows, backup);
        EXPECT_EQ(AsSet(kvtest::PathsOf(rows, outcome.cleaned)), AsSet(junkFiles));
        EXPECT_EQ(AsSet(kvtest::PathsOf(rows, outcome.kept)), AsSet(kept));
        ASSERT_EQ(outcome.skipped.size(), kept.size());
        for (const kv::TSkippedEntry& skipped : outcome.skipped)
            EXPECT_EQ(skipped.reason, kv::TSkipReason::ProtectedFolder) << kv::WideToUtf8(skipped.path);
        for (const std::wstring& path : kept) {
            EXPECT_EQ(ReadBytes(path), "sealed") << kv::WideToUtf8(path);
            ::DeleteFileW(path.c_str());
        }
        kvtest::RemoveTrashedFrom(junk);
    }
}

// Rows whose path is not a drive path are refused on their text, whatever
// the method; the file such a spelling would reach stays, and the drive-path
// row beside them is cleaned.
TEST(JunkCleaner, RowsThatAreNoDrivePathAreRefusedAndWhatTheyNameStays)
{
    for (const wchar_t* method : {L"recycle", L"backup", L"delete"}) {
        SCOPED_TRACE(method);
        const std::wstring junk = kvtest::ScratchFolder(std::wstring(L"no-drive-path-") + method) + L"junk\\";
        const std::wstring backup = kvtest::ScratchFolder(std::wstring(L"no-drive-path-backup-") + method);
        kvtest::PutFile(junk + L"device.tmp", "named through the device namespace");
        kvtest::PutFile(junk + L"plain.tmp", "junk");
        const struct {
            const char* name;
            std::wstring path;
        } spellings[] = {
            {"device namespace", L"\\\\?\\" + junk + L"device.tmp"},
            {"UNC", L"\\\\127.0.0.1\\kvtest-no-share\\junk\\a.tmp"},
            {"relative", L"kvtest-relative\\a.tmp"},
        };
        std::vector<kv::TJunkItem> rows = {Checked(junk + L"plain.tmp")};
        for (const auto& spelling : spellings) rows.push_back(Checked(spelling.path));
        kv::TJunkOutcome outcome;
        if (std::wstring(method) == L"recycle") outcome = kv::RecycleJunk(rows, backup);
        if (std::wstring(method) == L"backup") outcome = kv::MoveJunkToBackup(rows, {backup, L"Backup.txt"}, L"");
        if (std::wstring(method) == L"delete") outcome = kv::DeleteJunkPermanently(rows, backup);
        EXPECT_EQ(kvtest::PathsOf(rows, outcome.cleaned), (std::vector<std::wstring>{junk + L"plain.tmp"}));
        ASSERT_EQ(outcome.skipped.size(), std::size(spellings));
        for (const auto& spelling : spellings) {
            const auto skipped = std::find_if(outcome.skipped.begin(), outcome.skipped.end(),
                                              [&](const kv::TSkippedEntry& entry) { return entry.path == spelling.path; });
            ASSERT_NE(skipped, outcome.skipped.end()) << spelling.name;
            EXPECT_EQ(skipped->reason, kv::TSkipReason::NotPlainName) << spelling.name;
        }
        EXPECT_EQ(ReadBytes(junk + L"device.tmp"), "named through the device namespace");
        kvtest::RemoveTrashedFrom(junk);
    }
}

TEST(JunkCleaner, ASecondBackupOfTheSamePathNeverReplacesTheFirst)
{
    const std::wstring root = kvtest::ScratchFolder(L"backup-twice");
    const std::wstring backup = root + L"backup\\";
    kvtest::MakeFolder(backup);
    const std::wstring file = root + L"junk\\again.tmp";
    const std::wstring same = root + L"junk\\same.tmp";
    kvtest::PutFile(file, "version 1");
    kvtest::PutFile(same, "unchanged");
    const kv::TBackupLocation location{backup, L"Backup.txt"};
    kv::MoveJunkToBackup({Checked(file), Checked(same)}, location, L"; run 1\r\n");

    kvtest::PutFile(file, "version 2"); // the same path turns up again, with other bytes
    kvtest::PutFile(same, "unchanged"); // and once more with the very same bytes
    const kv::TJunkOutcome second = kv::MoveJunkToBackup({Checked(file), Checked(same)}, location, L"; run 2\r\n");
    EXPECT_EQ(second.kept, std::vector<std::size_t>{0}) << "the first row";
    EXPECT_EQ(second.cleaned, std::vector<std::size_t>{1}) << "the second row";
    EXPECT_EQ(ReadBytes(file), "version 2");
    EXPECT_EQ(ReadBytes(kv::BackupCopyPath(backup, file)), "version 1");
    EXPECT_FALSE(PathExists(same));
    EXPECT_EQ(LogEntries(backup + L"Backup.txt"), (std::vector<std::wstring>{file, same, same}));
    const std::wstring log = kv::DecodeText(ReadBytes(backup + L"Backup.txt"));
    EXPECT_LT(log.find(L"; run 1"), log.find(L"; run 2"));
}

TEST(JunkCleaner, AFileThatCannotMoveStaysAndIsNotListed)
{
    const std::wstring root = kvtest::ScratchFolder(L"backup-locked");
    const std::wstring backup = root + L"backup\\";
    kvtest::MakeFolder(backup);
    const std::wstring locked = root + L"junk\\locked.tmp";
    const std::wstring free = root + L"junk\\free.tmp";
    kvtest::PutFile(locked, "in use");
    kvtest::PutFile(free, "free");
    // Open without delete sharing: nobody may move or delete it meanwhile.
    kv::FileHandle holder(::CreateFileW(locked.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    const kv::TJunkOutcome outcome =
        kv::MoveJunkToBackup({Checked(locked), Checked(free)}, {backup, L"Backup.txt"}, L"");
    holder = kv::FileHandle(INVALID_HANDLE_VALUE);
    EXPECT_EQ(outcome.kept, std::vector<std::size_t>{0}) << "the locked row";
    EXPECT_EQ(ReadBytes(locked), "in use");
    EXPECT_FALSE(PathExists(kv::BackupCopyPath(backup, locked)));
    EXPECT_EQ(LogEntries(backup + L"Backup.txt"), std::vector<std::wstring>{free});
}

TEST(JunkCleaner, AnUnreadableOrUnwritableLogMovesNothing)
{
    const std::wstring root = kvtest::ScratchFolder(L"backup-no-log");
    const std::wstring file = root + L"junk\\stay.tmp";
    kvtest::PutFile(file, "stay");
    // The log's name is taken by a folder: it can be neither read nor written.
    kvtest::MakeFolder(root + L"backup\\Backup.txt\\");
    const kv::TJunkOutcome outcome = kv::MoveJunkToBackup({Checked(file)}, {root + L"backup\\", L"Backup.txt"}, L"");
    EXPECT_TRUE(outcome.cleaned.empty());
    EXPECT_EQ(ReadBytes(file), "stay");
}

TEST(JunkCleaner, AnInvalidLogNameBecomesBackupTxt)
{
    const std::wstring root = kvtest::ScratchFolder(L"backup-log-name");
    kvtest::MakeFolder(root + L"backup\\");
    kvtest::PutFile(root + L"junk\\x.tmp", "x");
    kv::MoveJunkToBackup({Checked(root + L"junk\\x.tmp")}, {root + L"backup\\", L"what?.txt"}, L"");
    EXPECT_EQ(LogEntries(root + L"backup\\Backup.txt"), std::vector<std::wstring>{root + L"junk\\x.tmp"});
}

// ---- The whole of Clean Now

// Records what Clean Now shows and answers its questions.
class RecordingCleanView : public kv::TCleanNowView {
public:
    std::vector<std::wstring> lines;    // "NN. text" as the progress window shows them
    std::vector<std::wstring> working;  // progress labels
    std::vector<std::string> calls;
    bool confirmDelete = true;
    std::optional<kv::TBackupLocation> correction; // the answer to a missing backup folder
    int corrections = 0;

    std::wstring LanguageText(int index) override { return kv::Format(L"text %d", {index}); }
    void CleanNowStarted() override
    {
        calls.push_back("started");
        EXPECT_EQ(kv::StopRequested.load(), 0);
        EXPECT_EQ(kv::CleanPageActive.load(), 1);
    }
    void ShowProgressText(const std::wstring& text) override { working.push_back(text); }
    void AddProgressLine(int step, int stepTotal, const std::wstring& text) override
    {
        lines.push_back(kv::Format(L"%.2d/%d %s", {step, stepTotal, text}));
    }
    bool ConfirmPermanentDelete() override
    {
        calls.push_back("confirm");
        return confirmDelete;
    }
    std::optional<kv::TBackupLocation> CorrectBackupFolder(const std::wstring&) override
    {
        calls.push_back("correct");
        ++corrections;
        auto answer = correction;
        correction.reset(); // a second ask is answered No
        return answer;
    }
    void RemoveCleanedItems() override { calls.push_back("remove"); }
    void CleanNowFinished(const std::wstring& doneText) override
    {
        calls.push_back("finished");
        EXPECT_EQ(doneText, L"text 109");
    }
};

class CleanNowTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        kv::JobMode = false;
        kv::StopRequested = 1;
    }
    static kv::TCleanNowRequest JunkOnly(std::vector<kv::TJunkItem> junk, kv::TCleanMethod method, kv::TBackupLocation backup = {})
    {
        kv::TCleanNowRequest request;
        request.CheckedRows[kv::ctJunkFiles] = true;
        request.Junk = std::move(junk);
        request.CleanMethod = method;
        request.Backup = std::move(backup);
        return request;
    }
};

TEST_F(CleanNowTest, NoCheckedResultLogsTextEightyNineAndTheOtherStepsFollow)
{
    const std::wstring f = kvtest::ScratchFolder(L"cleannow-nothing");
    kvtest::ScopedValue<std::wstring> recent(kv::RecentFolder, f + L"recent\\");
    kvtest::PutFile(f + L"recent\\doc.lnk", "shortcut");
    kvtest::PutFile(f + L"kept.tmp", "unchecked");
    kv::TCleanNowRequest request = JunkOnly({Unchecked(f + L"kept.tmp")}, kv::cmDeletePermanently);
    request.CheckedRows[kv::ctRecentDocuments] = true;
    kv::JunkTotalSize = 1234;
    RecordingCleanView view;
    const kv::TCleanNowReport report = kv::RunCleanNow(view, request);
    EXPECT_EQ(view.lines, (std::vector<std::wstring>{L"01/2 text 89", L"02/2 text 97"}));
    EXPECT_EQ(view.working, std::vector<std::wstring>{L"text 96"});
    EXPECT_EQ(view.calls, (std::vector<std::string>{"started", "finished"}));
    EXPECT_FALSE(report.junkDone);
    EXPECT_EQ(ReadBytes(f + L"kept.tmp"), "unchecked");
    EXPECT_FALSE(PathExists(f + L"recent\\doc.lnk"));
    EXPECT_EQ(kv::JunkTotalSize.load(), 0);
    EXPECT_EQ(kv::StopRequested.load(), 1);
}

// The clean method is one enum from the settings through the Clean page's
// view to Clean Now.
static_assert(std::is_same_v<decltype(kv::TSettings::CleanMethod), kv::TCleanMethod>);
static_assert(std::is_same_v<decltype(kv::TCleanNowRequest::CleanMethod), kv::TCleanMethod>);
static_assert(std::is_same_v<decltype(std::declval<const kv::TCleanPageView&>().CleanMethod()), kv::TCleanMethod>);

TEST_F(CleanNowTest, EachMethodLogsItsOwnTexts)
{
    struct Case {
        kv::TCleanMethod method;
        int working, done;
    };
    for (const Case c : {Case{kv::cmRecycleBin, 80, 81}, Case{kv::cmBackupFolder, 87, 88},
                         Case{kv::cmDeletePermanently, 85, 86}, Case{static_cast<kv::TCleanMethod>(7), 80, 81}}) {
        SCOPED_TRACE(c.method);
        const std::wstring f = kvtest::ScratchFolder(kv::Format(L"cleannow-method-%d", {static_cast<int>(c.method)}));
        kvtest::MakeFolder(f + L"backup\\");
        kvtest::PutFile(f + L"junk.tmp", "junk");
        RecordingCleanView view;
        kv::RunCleanNow(view, JunkOnly({Checked(f + L"junk.tmp")}, c.method, {f + L"backup", L"Backup.txt"}));
        EXPECT_EQ(view.working, std::vector<std::wstring>{kv::Format(L"text %d", {c.working})});
        EXPECT_EQ(view.lines, std::vector<std::wstring>{kv::Format(L"01/1 text %d", {c.done})});
        EXPECT_FALSE(PathExists(f + L"junk.tmp"));
        EXPECT_EQ(std::count(view.calls.begin(), view.calls.end(), "remove"), 1);
    }
}

// An index file held open by its browser is an expected failure: Clean Now
// skips it and goes on, and no exception is thrown and caught on the way.
TEST_F(CleanNowTest, ALockedCookieIndexIsSkippedWithoutAnException)
{
    const std::wstring f = kvtest::ScratchFolder(L"cleannow-locked-index");
    kvtest::ScopedValue<std::wstring> cookies(kv::IECookiesFolder, f + L"cookies\\");
    kvtest::PutFile(f + L"cookies\\index.dat", "Client UrlCache MMF Ver 5.2");
    kv::FileHandle holder(
        ::CreateFileW((f + L"cookies\\index.dat").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder.IsValid());
    kv::TCleanNowRequest request = JunkOnly({}, kv::cmDeletePermanently);
    request.CheckedRows[kv::ctCookies] = true;
    RecordingCleanView view;
    EXPECT_NO_THROW(kv::RunCleanNow(view, request));
    EXPECT_EQ(view.calls.back(), "finished");
    holder.Reset();
    EXPECT_EQ(ReadBytes(f + L"cookies\\index.dat"), "Client UrlCache MMF Ver 5.2");
}

TEST_F(CleanNowTest, DecliningThePermanentDeleteSkipsOnlyTheJunkFiles)
{
    const std::wstring f = kvtest::ScratchFolder(L"cleannow-declined");
    kvtest::PutFile(f + L"junk.tmp", "junk");
    RecordingCleanView view;
    view.confirmDelete = false;
    const auto report = kv::RunCleanNow(view, JunkOnly({Checked(f + L"junk.tmp")}, kv::cmDeletePermanently));
    EXPECT_TRUE(view.lines.empty());
    EXPECT_EQ(view.calls, (std::vector<std::string>{"started", "confirm", "finished"}));
    EXPECT_FALSE(report.junkDone);
    EXPECT_EQ(ReadBytes(f + L"junk.tmp"), "junk");
}

TEST_F(CleanNowTest, JobModeDeletesWithoutAsking)
{
    const std::wstring f = kvtest::ScratchFolder(L"cleannow-job-delete");
    kvtest::PutFile(f + L"junk.tmp", "junk");
    kv::JobMode = true;
    RecordingCleanView view;
    view.confirmDelete = false; // would decline, if it were asked
    kv::RunCleanNow(view, JunkOnly({Checked(f + L"junk.tmp")}, kv::cmDeletePermanently));
    EXPECT_EQ(std::count(view.calls.begin(), view.calls.end(), "confirm"), 0);
    EXPECT_FALSE(PathExists(f + L"junk.tmp"));
    EXPECT_EQ(view.lines, std::vector<std::wstring>{L"01/1 text 86"});
}

TEST_F(CleanNowTest, AMissingBackupFolderInAJobCountsAsNoAndTheRunGoesOn)
{
    const std::wstring f = kvtest::ScratchFolder(L"cleannow-job-nobackup");
    kvtest::ScopedValue<std::wstring> recent(kv::RecentFolder, f + L"recent\\");
    kvtest::PutFile(f + L"recent\\doc.lnk", "shortcut");
    kvtest::PutFile(f + L"junk.tmp", "junk");
    kv::JobMode = true;
    kv::TCleanNowRequest request =
        JunkOnly({Checked(f + L"junk.tmp")}, kv::cmBackupFolder, {f + L"missing\\", L"Backup.txt"});
    request.CheckedRows[kv::ctRecentDocuments] = true;
    RecordingCleanView view;
    view.correction = kv::TBackupLocation{f, L"Backup.txt"};
    kv::RunCleanNow(view, request);
    EXPECT_EQ(view.corrections, 0);
    EXPECT_EQ(view.lines, std::vector<std::wstring>{L"01/2 text 97"});
    EXPECT_EQ(ReadBytes(f + L"junk.tmp"), "junk");
    EXPECT_FALSE(PathExists(f + L"missing\\"));
    EXPECT_FALSE(PathExists(f + L"recent\\doc.lnk"));
}

TEST_F(CleanNowTest, AMissingBackupFolderIsCorrectedThroughTheView)
{
    const std::wstring f = kvtest::ScratchFolder(L"cleannow-corrected");
    kvtest::MakeFolder(f + L"chosen\\");
    kvtest::PutFile(f + L"junk\\a.tmp", "a");
    RecordingCleanView view;
    view.correction = kv::TBackupLocation{f + L"chosen", L"List.txt"};
    const auto report =
        kv::RunCleanNow(view, JunkOnly({Checked(f + L"junk\\a.tmp")}, kv::cmBackupFolder, {f + L"missing\\", L"Backup.txt"}));
    EXPECT_EQ(view.corrections, 1);
    EXPECT_EQ(report.backup.folder, f + L"chosen\\");
    EXPECT_EQ(ReadBytes(kv::BackupCopyPath(f + L"chosen\\", f + L"junk\\a.tmp")), "a");
    EXPECT_EQ(LogEntries(f + L"chosen\\List.txt"), std::vector<std::wstring>{f + L"junk\\a.tmp"});
}

TEST_F(CleanNowTest, AnsweringNoToTheMissingFolderSkipsTheJunkWithoutALine)
{
    const std::wstring f = kvtest::ScratchFolder(L"cleannow-no");
    kvtest::PutFile(f + L"a.tmp", "a");
    RecordingCleanView view;
    kv::RunCleanNow(view, JunkOnly({Checked(f + L"a.tmp")}, kv::cmBackupFolder, {f + L"missing\\", L"Backup.txt"}));
    EXPECT_EQ(view.corrections, 1);
    EXPECT_TRUE(view.lines.empty());
    EXPECT_EQ(ReadBytes(f + L"a.tmp"), "a");
}

TEST_F(CleanNowTest, TrackMenusRunEvenWithTheirRowsUncheckedAndCountInTheTotal)
{
    kv::TCleanNowRequest request;
    request.Targets.checkedTrackEntries = {L"WinZipFileMenu", L"FindFilesMenu"};
    EXPECT_EQ(kv::ProgressStepTotal(request), 2);
    request.CheckedRows[kv::ctRegistryProgramHistory] = true;
    EXPECT_EQ(kv::ProgressStepTotal(request), 2);
    RecordingCleanView view;
    kv::RunCleanNow(view, request);
    EXPECT_EQ(view.lines, (std::vector<std::wstring>{L"01/2 text 102", L"02/2 text 103"}));
    EXPECT_TRUE(view.working.empty());
}

// ---- Scan, then clean: what the scan leaves out stays


TEST_F(CleanNowTest, ScannedAndCleanedTreeKeepsExclusionsSkipsAndUnmatchedFiles)
{
    const std::wstring f = kvtest::ScratchFolder(L"scan-then-clean");
    kvtest::PutFile(f + L"junk\\a.tmp", "a");
    kvtest::PutFile(f + L"junk\\deep\\b.tmp", "b");
    kvtest::PutFile(f + L"junk\\keep.txt", "not matching");
    kvtest::PutFile(f + L"junk\\excluded\\c.tmp", "excluded folder");
    kvtest::PutFile(f + L"junk\\ro.tmp", "read-only");
    ::SetFileAttributesW((f + L"junk\\ro.tmp").c_str(), FILE_ATTRIBUTE_READONLY);
    kvtest::PutFile(f + L"junk\\sys.tmp", "system");
    ::SetFileAttributesW((f + L"junk\\sys.tmp").c_str(), FILE_ATTRIBUTE_SYSTEM);
    kvtest::PutFile(f + L"outside\\d.tmp", "not a chosen folder");

    kvtest::ResultsView scan;
    scan.options.Paths = {{f + L"junk", kv::pkIncludeWithSubFolders, true},
                          {f + L"junk\\excluded", kv::pkExcludeWithSubFolders, true}};
    scan.options.Filters = {{L"*.tmp", kv::kInclusiveFilterImage, true}};
    scan.options.SkipReadOnlyAttr = true;
    kv::ScanDone = 0;
    kv::RunScan(scan);

    kv::TCleanNowRequest request;
    request.CheckedRows[kv::ctJunkFiles] = true;
    request.Junk = scan.JunkRows();
    request.CleanMethod = kv::cmDeletePermanently;
    kv::JobMode = true;
    RecordingCleanView view;
    const auto report = kv::RunCleanNow(view, request);
    EXPECT_EQ(AsSet(kvtest::PathsOf(request.Junk, report.junk.cleaned)),
              (std::set<std::wstring>{f + L"junk\\a.tmp", f + L"junk\\deep\\b.tmp"}));
    EXPECT_EQ(ReadBytes(f + L"junk\\keep.txt"), "not matching");
    EXPECT_EQ(ReadBytes(f + L"junk\\excluded\\c.tmp"), "excluded folder");
    EXPECT_EQ(ReadBytes(f + L"junk\\ro.tmp"), "read-only");
    EXPECT_EQ(ReadBytes(f + L"junk\\sys.tmp"), "system");
    EXPECT_EQ(ReadBytes(f + L"outside\\d.tmp"), "not a chosen folder");
}

} // namespace
