#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "cleaner/engine/RegistryFile.h"
#include "cleaner/engine/SettingsFiles.h"
#include "cleaner/engine/SettingsStore.h"
#include "cleaner/engine/SharedState.h"
#include "common/RegistryTestSupport.h"
#include "common/TestSupport.h"
#include "platform/Registry.h"
#include "platform/TextCodec.h"

namespace {

using kv::TSettings;

const std::wstring Legacy = kv::LegacySettingsKey;
const std::wstring Current = kv::CurrentSettingsKey;
const std::wstring LegacyJob = Legacy + L"\\Job";
const std::wstring CurrentJob = Current + L"\\Job";
constexpr wchar_t EvilKey[] = L"Software\\Evil";

std::wstring Text(const std::string& bytes)
{
    return bytes.substr(0, 2) == "\xFF\xFE" ? kv::DecodeListValue(bytes) : kv::AnsiToWide(bytes);
}

TSettings SomeSettings()
{
    TSettings s;
    s.CleanMethod = kv::cmBackupFolder;
    s.SpecificFolder = L"C:\\kvtest\\Backup\\";
    s.Language = L"English.ini";
    s.EmptyBin = true;
    s.Recent = false;
    s.FireFoxCache = true;
    s.ProgramHistory[3] = true;
    s.Tracks[2] = true;
    s.InclusiveFiles = {{true, L"*.tmp", L"Temporary Files"}, {false, L"*.old", L"N/A"}};
    s.ExclusiveFiles = {{true, L"keep.tmp", L"Keep"}};
    s.InclusiveFolders = {{L"C:\\kvtest\\Junk", kv::pkIncludeWithSubFolders, true}};
    s.ExclusiveFolders = {{L"C:\\kvtest\\Junk\\Keep", kv::pkExcludeFolder, true}};
    s.EmptyFolders = {{L"C:\\kvtest\\Empty", kv::pkEmptyWithSubFolders, false}};
    s.ScanDrives = {{L"C:", false}, {L"D:", true}};
    return s;
}

// Works on the product's own keys inside the test prefix.
class SettingsFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = kvtest::ScratchFolder(L"SettingsFiles");
        Reset();
    }
    void TearDown() override { Reset(); }
    void Reset()
    {
        kv::DeleteRegistryTree(HKEY_CURRENT_USER, Legacy);
        kv::DeleteRegistryTree(HKEY_CURRENT_USER, EvilKey);
        kv::SettingsRoot = Legacy;
        kv::ProgramFolder = folder_;
        kv::JobMode = false;
        kv::RunHiddenly = false;
        kv::AutoScan = kv::AutoClean = kv::AutoExit = false;
        kv::PendingImport.clear();
        kv::CookieKeepList.clear();
    }
    std::wstring File(const wchar_t* name) const { return folder_ + name; }

    std::wstring folder_;
};

// ---- Job-file argument

TEST_F(SettingsFilesTest, JobFileArgumentNeedsAnExistingFileEndingInExactlyDotKv)
{
    for (const wchar_t* name : {L"job.kv", L"JOB.KV", L"job.Kv", L"job.kv.txt", L"job.kvx", L"jobkv"})
        kvtest::WriteBytes(File(name), "x");
    ASSERT_TRUE(::CreateDirectoryW(File(L"folder.kv").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(File(L"dir.kv").c_str(), nullptr));
    kvtest::WriteBytes(File(L"dir.kv\\inside"), "x");

    EXPECT_TRUE(kv::IsJobFileArgument(File(L"job.kv")));
    for (const wchar_t* name : {L"JOB.KV", L"job.Kv", L"job.kv.txt", L"job.kvx", L"jobkv", L"missing.kv", L"folder.kv",
                                L"dir.kv\\inside"})
        EXPECT_FALSE(kv::IsJobFileArgument(File(name))) << testing::PrintToString(std::wstring(name));
    EXPECT_FALSE(kv::IsJobFileArgument(L""));
}

// ---- Writing and importing job files

TEST_F(SettingsFilesTest, JobFileCarriesTheWholeSnapshotAndTheJobFlags)
{
    const TSettings current = SomeSettings();
    kv::CookieKeepList = L"keep.example\r\n";
    const std::wstring file = File(L"task.kv");
    ASSERT_TRUE(kv::WriteJobFile(current, {true, false, false, true}, file));
    EXPECT_FALSE(kv::RegistryKeyExists(HKEY_CURRENT_USER, CurrentJob)) << "the snapshot is not left behind";
    EXPECT_EQ(kv::SettingsRoot, Legacy) << "the settings root is not changed";

    const auto sections = kv::ParseRegistryFile(kvtest::ReadBytes(file));
    ASSERT_TRUE(sections.has_value());
    ASSERT_FALSE(sections->empty());
    EXPECT_EQ(sections->front().key, L"HKEY_CURRENT_USER\\" + CurrentJob);
    for (const auto& section : *sections) EXPECT_TRUE(kv::IsKeyWithin(section.key, CurrentJob));

    kv::CookieKeepList.clear();
    ASSERT_TRUE(kv::ImportJobFile(file));
    ASSERT_EQ(kv::JobSettingsRoot(), CurrentJob);
    kv::SettingsRoot = kv::JobSettingsRoot();
    TSettings expected = current;
    expected.ScanDrives.clear();
    EXPECT_TRUE(kv::LoadSettings() == expected);
    EXPECT_EQ(kv::CookieKeepList, L"keep.example\r\n");
    EXPECT_FALSE(kv::IsScanDriveChecked(L"C:"));
    EXPECT_TRUE(kv::IsScanDriveChecked(L"D:"));

    kv::RunHiddenly = kv::ReadRegistryBool(kv::SettingsRoot + kv::JobSubKey, L"RunHiddenly", false);
    kv::StoppedByUser = 1;
    kv::LoadJobFlags();
    EXPECT_TRUE(kv::RunHiddenly);
    EXPECT_TRUE(kv::AutoScan);
    EXPECT_FALSE(kv::AutoClean);
    EXPECT_TRUE(kv::AutoExit) << "a hidden run always exits";
    EXPECT_EQ(kv::StoppedByUser, 0);
}

TEST_F(SettingsFilesTest, JobFlagsAsWritten)
{
    const std::wstring file = File(L"visible.kv");
    ASSERT_TRUE(kv::WriteJobFile(TSettings{}, {false, true, true, false}, file));
    ASSERT_TRUE(kv::ImportJobFile(file));
    kv::SettingsRoot = kv::JobSettingsRoot();
    kv::RunHiddenly = kv::ReadRegistryBool(kv::SettingsRoot + kv::JobSubKey, L"RunHiddenly", false);
    kv::LoadJobFlags();
    EXPECT_FALSE(kv::RunHiddenly);
    EXPECT_FALSE(kv::AutoScan);
    EXPECT_TRUE(kv::AutoClean);
    EXPECT_TRUE(kv::AutoExit);
}

TEST_F(SettingsFilesTest, SecondJobFileCarriesNothingOfTheFirst)
{
    kvtest::MarkKey(CurrentJob + L"\\Stale");
    ASSERT_TRUE(kv::RegistryKey::Create(HKEY_CURRENT_USER, CurrentJob + L"\\ScanDrives").WriteDword(L"Q:", 0));
    ASSERT_TRUE(kv::RegistryKey::Create(HKEY_CURRENT_USER, CurrentJob + L"\\Filters").WriteDword(L"StaleValue", 0));
    const std::wstring file = File(L"second.kv");
    ASSERT_TRUE(kv::WriteJobFile(SomeSettings(), {}, file));
    const std::wstring text = Text(kvtest::ReadBytes(file));
    EXPECT_EQ(text.find(L"\\Stale]"), std::wstring::npos);
    EXPECT_EQ(text.find(L"\"Q:\""), std::wstring::npos);
    EXPECT_EQ(text.find(L"StaleValue"), std::wstring::npos);
    EXPECT_NE(text.find(L"\"D:\""), std::wstring::npos);
}

TEST_F(SettingsFilesTest, JobImportReplacesBothJobKeys)
{
    const std::wstring file = File(L"job.kv");
    ASSERT_TRUE(kv::WriteJobFile(SomeSettings(), {}, file));
    kvtest::MarkKey(LegacyJob);
    kvtest::MarkKey(CurrentJob + L"\\Old");
    kvtest::MarkKey(Current + L"\\Settings", L"Language");
    ASSERT_TRUE(kv::ImportJobFile(file));
    EXPECT_FALSE(kv::RegistryKeyExists(HKEY_CURRENT_USER, LegacyJob));
    EXPECT_FALSE(kv::RegistryKeyExists(HKEY_CURRENT_USER, CurrentJob + L"\\Old"));
    EXPECT_TRUE(kv::RegistryKeyExists(HKEY_CURRENT_USER, CurrentJob + L"\\Job"));
    EXPECT_TRUE(kvtest::HasMark(Current + L"\\Settings", L"Language")) << "settings outside the job keys stay";
}

TEST_F(SettingsFilesTest, LegacyJobFileRunsFromTheLegacyJobKey)
{
    const std::wstring file = File(L"legacy.kv");
    kvtest::WriteBytes(file, kvtest::UnicodeRegFile(L"[HKEY_CURRENT_USER\\" + LegacyJob + L"\\Settings]\r\n\r\n"
                                                    L"[HKEY_CURRENT_USER\\" + LegacyJob + L"\\ScanDrives]\r\n\r\n"
                                                    L"[HKEY_CURRENT_USER\\" + LegacyJob + L"\\Job]\r\n\"AutoScan\"=dword:00000001\r\n"));
    ASSERT_TRUE(kv::ImportJobFile(file));
    EXPECT_EQ(kv::JobSettingsRoot(), LegacyJob);
}

// A snapshot cut short would run on defaults: every fixed drive, the
// default filters, the recycle bin.
TEST_F(SettingsFilesTest, JobFileWithoutSettingsOrScanDrivesIsRefusedAndDeletesNothing)
{
    struct Case {
        const wchar_t* name;
        std::wstring body;
    };
    const std::wstring job = L"[HKEY_CURRENT_USER\\" + CurrentJob;
    const std::wstring flags = L"\\Job]\r\n\"AutoScan\"=dword:00000001\r\n\r\n";
    const Case cases[] = {
        {L"cut after Job", job + flags},
        {L"no ScanDrives", job + L"\\Settings]\r\n\r\n" + job + flags},
        {L"no Settings", job + L"\\ScanDrives]\r\n\r\n" + job + flags},
        {L"Settings of the other job key", L"[HKEY_CURRENT_USER\\" + LegacyJob + L"\\Settings]\r\n\r\n" + job +
                                              L"\\ScanDrives]\r\n\r\n" + job + flags},
    };
    for (const Case& c : cases) {
        kvtest::MarkKey(LegacyJob);
        kvtest::MarkKey(CurrentJob);
        const std::wstring file = File(L"cut.kv");
        kvtest::WriteBytes(file, kvtest::UnicodeRegFile(c.body));
        EXPECT_FALSE(kv::ImportJobFile(file)) << kv::WideToUtf8(c.name);
        EXPECT_TRUE(kvtest::HasMark(LegacyJob) && kvtest::HasMark(CurrentJob)) << kv::WideToUtf8(c.name);
    }
    // The whole snapshot runs.
    const std::wstring file = File(L"whole.kv");
    kvtest::WriteBytes(file, kvtest::UnicodeRegFile(job + L"\\Settings]\r\n\r\n" + job + L"\\ScanDrives]\r\n\r\n" +
                                                    job + flags));
    EXPECT_TRUE(kv::ImportJobFile(file));
}

// The job-file dialog's snapshot holds both keys even with no drive listed.
TEST_F(SettingsFilesTest, AJobWrittenWithoutDrivesStillRuns)
{
    TSettings settings = SomeSettings();
    settings.ScanDrives.clear();
    const std::wstring file = File(L"nodrives.kv");
    ASSERT_TRUE(kv::WriteJobFile(settings, {}, file));
    EXPECT_TRUE(kv::ImportJobFile(file));
}

TEST_F(SettingsFilesTest, CraftedJobFileIsIgnoredAndDeletesNothing)
{
    kvtest::MarkKey(LegacyJob);
    kvtest::MarkKey(CurrentJob);
    const std::wstring job = L"[HKEY_CURRENT_USER\\" + CurrentJob + L"\\Job]\r\n\"AutoScan\"=dword:00000001\r\n\r\n";
    const struct {
        const char* name;
        std::wstring body;
    } files[] = {
        {"another key", L"[HKEY_CURRENT_USER\\Software\\Evil]\r\n\"x\"=\"1\"\r\n"},
        {"another key after the job", job + L"[HKEY_CURRENT_USER\\Software\\Evil]\r\n\"x\"=\"1\"\r\n"},
        {"the settings outside the job key", job + L"[HKEY_CURRENT_USER\\" + Current + L"\\Settings]\r\n"},
        {"deleting the product key", job + L"[-HKEY_CURRENT_USER\\" + Legacy + L"]\r\n"},
        {"the machine hive", L"[HKEY_LOCAL_MACHINE\\" + CurrentJob + L"]\r\n"},
    };
    for (const auto& f : files) {
        const std::wstring file = File(L"crafted.kv");
        kvtest::WriteBytes(file, kvtest::UnicodeRegFile(f.body));
        EXPECT_FALSE(kv::ImportJobFile(file)) << f.name;
        EXPECT_TRUE(kvtest::HasMark(LegacyJob)) << f.name;
        EXPECT_TRUE(kvtest::HasMark(CurrentJob)) << f.name;
    }
    EXPECT_FALSE(kv::RegistryKeyExists(HKEY_CURRENT_USER, EvilKey));
    EXPECT_FALSE(kv::RegistryKeyExists(HKEY_CURRENT_USER, Current + L"\\Settings"));
}

// ---- Export and import chosen by the user

TEST_F(SettingsFilesTest, ExportSavesUnderTheCurrentKeyWithoutJobKeys)
{
    kv::SettingsRoot = LegacyJob;
    kvtest::MarkKey(CurrentJob);
    const std::wstring file = File(L"export.reg");
    ASSERT_TRUE(kv::ExportSettingsFile(SomeSettings(), file));
    EXPECT_EQ(kv::SettingsRoot, Current);
    EXPECT_FALSE(kv::RegistryKeyExists(HKEY_CURRENT_USER, CurrentJob));
    const std::wstring theirs = File(L"theirs.reg");
    ASSERT_EQ(kvtest::RunProcess(L"reg.exe export \"HKCU\\" + Current + L"\" \"" + theirs + L"\" /y"), 0);
    EXPECT_EQ(kvtest::ReadBytes(file), kvtest::ReadBytes(theirs));
}

TEST_F(SettingsFilesTest, ImportReplacesTheCurrentKey)
{
    const std::wstring file = File(L"import.reg");
    ASSERT_TRUE(kv::ExportSettingsFile(SomeSettings(), file));
    kvtest::MarkKey(Current + L"\\Settings", L"AddedLater");
    EXPECT_TRUE(kv::IsImportableSettingsFile(file));
    EXPECT_EQ(kv::ImportSettingsFile(file), kv::TImportResult::Imported);
    EXPECT_FALSE(kvtest::HasMark(Current + L"\\Settings", L"AddedLater"));
    TSettings expected = SomeSettings();
    expected.ScanDrives.clear();
    EXPECT_TRUE(kv::LoadSettings(Current) == expected);
}

TEST_F(SettingsFilesTest, CraftedImportIsRefusedBeforeAnythingIsDeleted)
{
    kvtest::MarkKey(Current + L"\\Settings", L"Language");
    const std::wstring file = File(L"evil.reg");
    kvtest::WriteBytes(file, kvtest::UnicodeRegFile(L"[HKEY_CURRENT_USER\\" + Current + L"\\Settings]\r\n\"Language\"=\"x\"\r\n\r\n"
                                            L"[HKEY_CURRENT_USER\\Software\\Evil]\r\n\"x\"=\"1\"\r\n"));
    EXPECT_FALSE(kv::IsImportableSettingsFile(file));
    EXPECT_EQ(kv::ImportSettingsFile(file), kv::TImportResult::Refused);
    EXPECT_TRUE(kvtest::HasMark(Current + L"\\Settings", L"Language"));
    EXPECT_FALSE(kv::RegistryKeyExists(HKEY_CURRENT_USER, EvilKey));
    EXPECT_FALSE(kv::IsImportableSettingsFile(File(L"missing.reg")));
}

// ---- The settings work at exit

TEST_F(SettingsFilesTest, ExitSavesDeletesJobKeysAndExports)
{
    kv::SettingsRoot = Legacy;
    kvtest::MarkKey(LegacyJob);
    kvtest::MarkKey(CurrentJob);
    EXPECT_EQ(kv::StoreSettingsAtExit(SomeSettings()), kv::TImportResult::None);
    EXPECT_EQ(kv::SettingsRoot, Current);
    TSettings expected = SomeSettings();
    expected.ScanDrives.clear();
    EXPECT_TRUE(kv::LoadSettings(Current) == expected);
    EXPECT_FALSE(kv::RegistryKeyExists(HKEY_CURRENT_USER, LegacyJob));
    EXPECT_FALSE(kv::RegistryKeyExists(HKEY_CURRENT_USER, CurrentJob));
    const auto sections = kv::ParseRegistryFile(kvtest::ReadBytes(folder_ + L"Kestrelvane.reg"));
    ASSERT_TRUE(sections.has_value());
    EXPECT_EQ(sections->front().key, L"HKEY_CURRENT_USER\\" + Current);
}

TEST_F(SettingsFilesTest, JobRunDoesNotSaveAtExit)
{
    kv::JobMode = true;
    kv::SettingsRoot = CurrentJob;
    kvtest::MarkKey(CurrentJob);
    kv::StoreSettingsAtExit(SomeSettings());
    EXPECT_FALSE(kv::RegistryKeyExists(HKEY_CURRENT_USER, Current + L"\\Settings"));
    EXPECT_FALSE(kv::RegistryKeyExists(HKEY_CURRENT_USER, CurrentJob));
}

TEST_F(SettingsFilesTest, PendingImportIsAppliedAtExitInsteadOfSaving)
{
    const std::wstring file = File(L"chosen.reg");
    TSettings imported = SomeSettings();
    imported.DeletionFile = L"FromTheFile.txt";
    ASSERT_TRUE(kv::ExportSettingsFile(imported, file));
    kv::DeleteRegistryTree(HKEY_CURRENT_USER, Current);
    kv::PendingImport = file;
    TSettings running = SomeSettings();
    running.DeletionFile = L"FromThisRun.txt";
    EXPECT_EQ(kv::StoreSettingsAtExit(running), kv::TImportResult::Imported);
    EXPECT_EQ(kv::LoadSettings(Current).DeletionFile, L"FromTheFile.txt");
    const std::wstring exported = Text(kvtest::ReadBytes(folder_ + L"Kestrelvane.reg"));
    EXPECT_NE(exported.find(L"FromTheFile.txt"), std::wstring::npos) << "the export shows the imported settings";
}

TEST_F(SettingsFilesTest, PendingImportThatTurnedBadStillSavesTheRun)
{
    const std::wstring file = File(L"changed.reg");
    kvtest::WriteBytes(file, kvtest::UnicodeRegFile(L"[HKEY_CURRENT_USER\\Software\\Evil]\r\n"));
    kv::PendingImport = file;
    TSettings running = SomeSettings();
    running.DeletionFile = L"FromThisRun.txt";
    EXPECT_EQ(kv::StoreSettingsAtExit(running), kv::TImportResult::Refused);
    EXPECT_EQ(kv::LoadSettings(Current).DeletionFile, L"FromThisRun.txt");
    EXPECT_FALSE(kv::RegistryKeyExists(HKEY_CURRENT_USER, EvilKey));
}

} // namespace
