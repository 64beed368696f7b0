// The backup folder's layout and log, and the restore from the log.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "CleanTargetsTestSupport.h"
#include "JunkCleanerTestSupport.h"
#include "cleaner/engine/BackupLog.h"
#include "cleaner/engine/JunkCleaner.h"

namespace {

using kvtest::PathExists;
using kvtest::ReadBytes;

TEST(BackupLayout, FormerPathsMapBelowTheBackupFolder)
{
    struct Case {
        const wchar_t* former;
        const wchar_t* copy;
    };
    const Case cases[] = {
        {L"C:\\Temp\\a.tmp", L"B:\\bak\\C\\Temp\\a.tmp"},
        {L"d:\\x\\y z.log", L"B:\\bak\\d\\x\\y z.log"},
        {L"\\\\server\\share\\a.tmp", L"B:\\bak\\UNC\\server\\share\\a.tmp"},
        {L"C:\\Temp\\..\\..\\evil.tmp", L""},
        {L"C:\\.\\a.tmp", L""},
        {L"relative\\a.tmp", L""},
        {L"C:a.tmp", L""},
        {L"\\\\?\\C:\\a.tmp", L""},
        {L"\\\\.\\pipe\\x", L""},
        {L"", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.former);
        EXPECT_EQ(kv::BackupCopyPath(L"B:\\bak", c.former), c.copy);
        EXPECT_EQ(kv::BackupCopyPath(L"B:\\bak\\", c.former), c.copy);
    }
    EXPECT_EQ(kv::BackupCopyPath(L"", L"C:\\a.tmp"), L"");
}

TEST(BackupLayout, LogNameFallsBackToBackupTxt)
{
    EXPECT_EQ(kv::BackupLogName(L"List.txt"), L"List.txt");
    for (const wchar_t* bad : {L"", L"a?b.txt", L"sub\\x.txt", L"c:x", L"a|b", L"..", L" lead"})
        EXPECT_EQ(kv::BackupLogName(bad), L"Backup.txt") << bad;
}

TEST(BackupLog, HeaderHasTheTitleAndTheDashedDateLine)
{
    SYSTEMTIME when{};
    when.wYear = 2024;
    when.wMonth = 3;
    when.wDay = 9;
    when.wHour = 14;
    when.wMinute = 5;
    when.wSecond = 7;
    const std::wstring header = kv::BackupLogHeader(L"Kestrelvane - List of files to delete", when);
    const kv::StringList lines(header);
    ASSERT_EQ(lines.Count(), 5u);
    EXPECT_EQ(lines[0], L"; Kestrelvane - List of files to delete");
    EXPECT_EQ(lines[1], L"");
    EXPECT_EQ(lines[2].substr(0, 12), L"; ----------");
    EXPECT_EQ(lines[2].substr(lines[2].size() - 10), L"----------");
    EXPECT_NE(lines[2].find(L"2024"), std::wstring::npos);
    EXPECT_NE(lines[2].find(L":05:07"), std::wstring::npos);
    EXPECT_EQ(lines[3], L"");
    EXPECT_EQ(lines[4], L"");
    EXPECT_EQ(header.substr(header.size() - 6), L"\r\n\r\n\r\n");
}

TEST(BackupLog, ExistingLogsAreReadByTheirMarkOrInTheAnsiCodePage)
{
    const std::wstring f = kvtest::ScratchFolder(L"log-read");
    kvtest::WriteBytes(f + L"ansi.txt", "; old\r\nC:\\a.tmp\r\n");
    EXPECT_EQ(kv::ReadBackupLog(f + L"ansi.txt"), std::optional<std::wstring>(L"; old\r\nC:\\a.tmp\r\n"));
    ASSERT_TRUE(kv::WriteBackupLog(f + L"unicode.txt", L"C:\\\x00e9t\x00e9.tmp\r\n"));
    EXPECT_EQ(ReadBytes(f + L"unicode.txt").substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(kv::ReadBackupLog(f + L"unicode.txt"), std::optional<std::wstring>(L"C:\\\x00e9t\x00e9.tmp\r\n"));
    EXPECT_EQ(kv::ReadBackupLog(f + L"none.txt"), std::optional<std::wstring>(L""));
    kvtest::MakeFolder(f + L"folder.txt\\");
    EXPECT_FALSE(kv::ReadBackupLog(f + L"folder.txt").has_value());
}

TEST(BackupLog, FoundInTheChosenFolderOrItsKVBackupSubFolder)
{
    const std::wstring f = kvtest::ScratchFolder(L"log-find");
    EXPECT_FALSE(kv::FindBackupLog(f, L"Backup.txt").has_value());
    kvtest::PutFile(f + L"KVBackup\\Backup.txt", "x");
    auto found = kv::FindBackupLog(f, L"Backup.txt");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->base, f + L"KVBackup\\");
    EXPECT_EQ(found->logPath, f + L"KVBackup\\Backup.txt");
    kvtest::PutFile(f + L"Backup.txt", "x");
    found = kv::FindBackupLog(f.substr(0, f.size() - 1), L"Backup.txt");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->base, f);
    EXPECT_FALSE(kv::FindBackupLog(f, L"bad?.txt").has_value());
}

// Moves a tree into the backup with Clean Now's move, then restores it.
TEST(Restore, BringsEveryBackedUpFileBackByteForByte)
{
    const std::wstring f = kvtest::ScratchFolder(L"restore-all");
    const std::wstring backup = f + L"backup\\";
    kvtest::MakeFolder(backup);
    std::string binary;
    for (int i = 0; i < 70000; ++i) binary.push_back(static_cast<char>(i * 7 + (i >> 8)));
    const std::vector<std::pair<std::wstring, std::string>> files = {
        {f + L"one\\same.tmp", "in folder one"},
        {f + L"two\\same.tmp", "in folder two"},
        {f + L"two\\deeper\\same.tmp", binary},
        {f + L"empty.tmp", ""},
    };
    std::vector<kv::TJunkItem> rows;
    for (const auto& [path, bytes] : files) {
        kvtest::PutFile(path, bytes);
        rows.push_back(kvtest::Checked(path));
    }
    kvtest::MakeFolder(f + L"one\\hollow\\");
    rows.push_back(kvtest::EmptyFolderRow(f + L"one\\hollow"));
    const kv::TJunkOutcome moved = kv::MoveJunkToBackup(rows, {backup, L"Backup.txt"}, L"; header\r\n\r\n");
    ASSERT_EQ(moved.cleaned.size(), rows.size());
    kvtest::RemoveScratchTree(f + L"two\\"); // a former folder is gone altogether

    const auto log = kv::FindBackupLog(backup, L"Backup.txt");
    ASSERT_TRUE(log);
    const kv::TRestoreResult result = kv::RestoreFromBackupLog(log->base, *kv::ReadBackupLog(log->logPath));
    EXPECT_TRUE(result.ran);
    EXPECT_EQ(result.restored, 5);
    EXPECT_TRUE(result.notRestored.empty());
    for (const auto& [path, bytes] : files) EXPECT_EQ(ReadBytes(path), bytes) << path;
    EXPECT_TRUE(PathExists(f + L"one\\hollow\\"));
    // Restoring copies: the backup and its log stay.
    EXPECT_EQ(ReadBytes(kv::BackupCopyPath(backup, f + L"one\\same.tmp")), "in folder one");
    EXPECT_TRUE(PathExists(backup + L"Backup.txt"));
}

TEST(Restore, NeverOverwritesAFileThatExistsAgainAndReportsIt)
{
    const std::wstring f = kvtest::ScratchFolder(L"restore-taken");
    const std::wstring backup = f + L"backup\\";
    kvtest::MakeFolder(backup);
    kvtest::PutFile(f + L"taken.tmp", "backed up");
    kvtest::PutFile(f + L"again.tmp", "same bytes");
    kvtest::PutFile(f + L"free.tmp", "free");
    kv::MoveJunkToBackup({kvtest::Checked(f + L"taken.tmp"), kvtest::Checked(f + L"again.tmp"),
                          kvtest::Checked(f + L"free.tmp")},
                         {backup, L"Backup.txt"}, L"; header\r\n");
    kvtest::PutFile(f + L"taken.tmp", "new contents since");
    kvtest::PutFile(f + L"again.tmp", "same bytes");

    const kv::TRestoreResult result =
        kv::RestoreFromBackupLog(backup, *kv::ReadBackupLog(backup + L"Backup.txt"));
    EXPECT_EQ(result.restored, 2);
    EXPECT_EQ(result.notRestored, std::vector<std::wstring>{f + L"taken.tmp"});
    EXPECT_EQ(ReadBytes(f + L"taken.tmp"), "new contents since");
    EXPECT_EQ(ReadBytes(f + L"free.tmp"), "free");
}

TEST(Restore, MissingCopiesAndHostileLinesAreReportedAndTouchNothing)
{
    const std::wstring f = kvtest::ScratchFolder(L"restore-hostile");
    const std::wstring base = f + L"backup\\";
    kvtest::PutFile(f + L"secret.txt", "outside the backup");
    // "..": the copy would be read from outside the backup folder.
    const std::wstring log = L"; comment\r\n\r\nC:\\kvtest\\nowhere\\missing.tmp\r\n" + f + L"copy\\..\\x.txt\r\n" +
                             L"relative.txt\r\n";
    const kv::TRestoreResult result = kv::RestoreFromBackupLog(base, log);
    EXPECT_TRUE(result.ran);
    EXPECT_EQ(result.restored, 0);
    EXPECT_EQ(result.notRestored.size(), 3u);
    EXPECT_FALSE(PathExists(f + L"x.txt"));
    EXPECT_FALSE(PathExists(L"C:\\kvtest\\nowhere\\"));
}

TEST(Restore, CommentsOnlyRunsAndShortLogsDoNot)
{
    const kv::TRestoreResult comments = kv::RestoreFromBackupLog(L"C:\\kvtest\\none\\", L"; a\r\n\r\n; b\r\n");
    EXPECT_TRUE(comments.ran);
    EXPECT_EQ(comments.restored, 0);
    EXPECT_TRUE(comments.notRestored.empty());
    EXPECT_FALSE(kv::RestoreFromBackupLog(L"C:\\kvtest\\none\\", L"C:\\kvtest\\one.tmp\r\n").ran);
    EXPECT_FALSE(kv::RestoreFromBackupLog(L"C:\\kvtest\\none\\", L"").ran);
}

} // namespace
