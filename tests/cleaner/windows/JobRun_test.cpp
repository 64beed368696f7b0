// Job mode end to end: the program itself (Kestrelvane.exe, a child process)
// is given a job file and runs it unattended - scan, Clean Now, exit - over a
// scratch tree, hidden or visible.
#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <memory>
#include <string>

#include "cleaner/engine/BackupLog.h"
#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/JunkCleaner.h"
#include "cleaner/engine/JunkCleanerTestSupport.h"
#include "cleaner/engine/SettingsFiles.h"
#include "cleaner/engine/SettingsStore.h"
#include "cleaner/windows/CreateTaskUnit.h"
#include "MainWindowTestSupport.h"
#include "common/ChildWindows.h"
#include "common/FormDriver.h"
#include "common/TestSupport.h"
#include "platform/Registry.h"

// The scan of a job is the Scan page's Start.
#if __has_include("cleaner/windows/ScanPage.h")
constexpr bool kHasScanPage = true;
#else
constexpr bool kHasScanPage = false;
#endif

namespace {

const std::wstring Legacy = kv::LegacySettingsKey;
const std::wstring Current = kv::CurrentSettingsKey;
const std::wstring LegacyJob = Legacy + kv::JobSubKey;
const std::wstring CurrentJob = Current + kv::JobSubKey;
// A job that never ends fails the test instead of the run.
constexpr DWORD JobTimeoutMs = 90000;

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

class JobRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kvtest::StartApplication();
        kv::LoadDefaultLanguage();
        folder_ = kvtest::ScratchFolder(L"JobRun");
        tree_ = folder_ + L"tree\\";
        kv::DeleteRegistryTree(HKEY_CURRENT_USER, Legacy);
        savedRoot_ = kv::SettingsRoot;
        // The user's own settings, outside the job keys: a job must leave them be.
        kv::TSettings own;
        own.Language = L"Template.ini";
        own.DeletionFile = L"OwnLog.txt";
        own.ScanDrives = AllDrivesOff();
        kv::SaveSettings(own, Current);
        ownBefore_ = kv::LoadSettings(Current);
        MakeTree();
    }
    void TearDown() override
    {
        if (tree_.empty()) return; // skipped before anything was made
        kvtest::RemoveTrashedFrom(tree_);
        kv::DeleteRegistryTree(HKEY_CURRENT_USER, Legacy);
        kv::SettingsRoot = savedRoot_;
    }

    static std::vector<kv::TScanDrive> AllDrivesOff()
    {
        std::vector<kv::TScanDrive> drives;
        for (const std::wstring& drive : kvtest::FixedDrives()) drives.push_back({drive, false});
        return drives;
    }

    // junk\        included with sub-folders, "*.tmp"
    //   a.tmp, deep\b.tmp        match: cleaned
    //   keep.txt                 no match: stays
    //   readonly.tmp, system.tmp read-only / system, skipped: stay
    //   excluded\c.tmp           in an excluded folder: stays
    // empty\        a folder emptied every time (with sub-folders)
    // outside\d.tmp  in no chosen folder: stays
    void MakeTree()
    {
        kvtest::PutFile(tree_ + L"junk\\a.tmp", "a");
        kvtest::PutFile(tree_ + L"junk\\deep\\b.tmp", "bb");
        kvtest::PutFile(tree_ + L"junk\\keep.txt", "not matching");
        kvtest::PutFile(tree_ + L"junk\\readonly.tmp", "read-only");
        kvtest::PutFile(tree_ + L"junk\\system.tmp", "system");
        ::SetFileAttributesW((tree_ + L"junk\\readonly.tmp").c_str(), FILE_ATTRIBUTE_READONLY);
        ::SetFileAttributesW((tree_ + L"junk\\system.tmp").c_str(), FILE_ATTRIBUTE_SYSTEM);
        kvtest::PutFile(tree_ + L"junk\\excluded\\c.tmp", "excluded");
        kvtest::PutFile(tree_ + L"empty\\e1.dat", "e1");
        kvtest::PutFile(tree_ + L"empty\\sub\\e2.dat", "e2");
        kvtest::PutFile(tree_ + L"outside\\d.tmp", "outside");
        kv::CreateFolderPath(tree_ + L"backup\\");
    }

    // The settings of the job: the tree's folders and the one filter, no drive,
    // only the junk files and the folders to empty as clean targets.
    kv::TSettings JobSettings(kv::TCleanMethod method) const
    {
        kv::TSettings settings;
        settings.ScanDrives = AllDrivesOff();
        settings.InclusiveFolders = {{tree_ + L"junk", kv::pkIncludeWithSubFolders, true}};
        settings.ExclusiveFolders = {{tree_ + L"junk\\excluded", kv::pkExcludeWithSubFolders, true}};
        settings.EmptyFolders = {{tree_ + L"empty", kv::pkEmptyWithSubFolders, true}};
        settings.InclusiveFiles = {{true, L"*.tmp", L"Temporary files"}};
        settings.ExclusiveFiles = {};
        settings.SkipReadOnlyFiles = true;
        settings.DoClean = true;
        settings.SpecificTempFolder = true;
        settings.Recent = false;
        settings.CleanMethod = method;
        settings.SpecificFolder = tree_ + L"backup\\";
        settings.DeletionFile = L"Backup.txt";
        return settings;
    }

    std::wstring WriteJob(const kv::TSettings& settings, const kv::TJobOptions& options)
    {
        const std::wstring file = folder_ + L"job.kv";
        EXPECT_TRUE(kv::WriteJobFile(settings, options, file));
        return file;
    }

    // The program runs from a folder of its own: nothing inside the program's
    // folder is ever cleaned, so the tree lies beside it.
    std::wstring CopyProgram() const
    {
        kv::CreateFolderPath(folder_ + L"program\\");
        return kvtest::CopyProgramTo(L"Kestrelvane.exe", folder_ + L"program\\");
    }

    // The program runs the job; every window it shows is only looked at.
    int RunJob(const std::wstring& file)
    {
        const std::wstring program = CopyProgram();
        return kvtest::RunProcessServingWindows(
            Quoted(program) + L" " + Quoted(file),
            [&](HWND, const std::wstring& className) { ++windowsShown_[className]; }, JobTimeoutMs);
    }
    int WindowsShown() const
    {
        int total = 0;
        for (const auto& [name, count] : windowsShown_) total += count;
        return total;
    }

    void ExpectJobKeysGoneAndOwnSettingsKept() const
    {
        EXPECT_FALSE(kv::RegistryKeyExists(HKEY_CURRENT_USER, LegacyJob));
        EXPECT_FALSE(kv::RegistryKeyExists(HKEY_CURRENT_USER, CurrentJob));
        EXPECT_TRUE(kv::LoadSettings(Current) == ownBefore_) << "the settings outside the job keys are unchanged";
    }
    void ExpectWhatMustStay() const
    {
        EXPECT_EQ(kvtest::ReadBytes(tree_ + L"junk\\keep.txt"), "not matching");
        EXPECT_EQ(kvtest::ReadBytes(tree_ + L"junk\\readonly.tmp"), "read-only");
        EXPECT_EQ(kvtest::ReadBytes(tree_ + L"junk\\system.tmp"), "system");
        EXPECT_EQ(kvtest::ReadBytes(tree_ + L"junk\\excluded\\c.tmp"), "excluded");
        EXPECT_EQ(kvtest::ReadBytes(tree_ + L"outside\\d.tmp"), "outside");
    }
    void ExpectJunkGone() const
    {
        EXPECT_FALSE(kvtest::PathExists(tree_ + L"junk\\a.tmp"));
        EXPECT_FALSE(kvtest::PathExists(tree_ + L"junk\\deep\\b.tmp"));
    }
    void ExpectFolderEmptied() const
    {
        EXPECT_FALSE(kvtest::PathExists(tree_ + L"empty\\e1.dat"));
        EXPECT_FALSE(kvtest::PathExists(tree_ + L"empty\\sub"));
    }

    std::wstring folder_, tree_, savedRoot_;
    kv::TSettings ownBefore_;
    std::map<std::wstring, int> windowsShown_;
};

// Without a scan the job goes straight to Clean Now: the folders to empty are
// emptied, the junk-files step finds nothing, and the hidden run ends by itself.
TEST_F(JobRunTest, HiddenJobWithoutScanCleansTheChosenFoldersAndExits)
{
    const std::wstring job = WriteJob(JobSettings(kv::cmDeletePermanently), {false, true, false, true});
    EXPECT_EQ(RunJob(job), 0) << "the process exits by itself";
    EXPECT_EQ(WindowsShown(), 0) << "a hidden run shows no window";
    ExpectFolderEmptied();
    EXPECT_TRUE(kvtest::PathExists(tree_ + L"empty\\")) << "the folder itself stays";
    EXPECT_EQ(kvtest::ReadBytes(tree_ + L"junk\\a.tmp"), "a") << "nothing was scanned";
    ExpectWhatMustStay();
    ExpectJobKeysGoneAndOwnSettingsKept();
}

// Without AutoExit a visible job stays open on the Clean page, its progress
// window showing the log, until the user closes it.
TEST_F(JobRunTest, VisibleJobShowsTheProgressAndStaysOpenWithoutAutoExit)
{
    const std::wstring job = WriteJob(JobSettings(kv::cmDeletePermanently), {false, true, false, false});
    const std::wstring program = CopyProgram();
    HWND mainWindow = nullptr;
    const int code = kvtest::RunProcessServingWindows(
        Quoted(program) + L" " + Quoted(job),
        [&](HWND window, const std::wstring& className) {
            ++windowsShown_[className];
            if (className == L"TMainForm") mainWindow = window;
            if (className == L"TProgressForm" && mainWindow) {
                // The person closes the window once the clean has done its work; closing while it
                // still works would ask whether to stop it.
                for (int i = 0; i < 600 && kvtest::PathExists(tree_ + L"empty\\e1.dat"); ++i) ::Sleep(50);
                ::Sleep(1500);
                ::PostMessageW(mainWindow, WM_CLOSE, 0, 0);
            }
            // Should the question come all the same, the answer is to close.
            if (className == L"#32770") ::PostMessageW(window, WM_COMMAND, IDYES, 0);
        },
        JobTimeoutMs);
    EXPECT_EQ(code, 0) << "closed by the user, not ended by the time-out";
    EXPECT_EQ(windowsShown_[L"TMainForm"], 1);
    EXPECT_EQ(windowsShown_[L"TProgressForm"], 1);
    ExpectFolderEmptied();
    ExpectWhatMustStay();
    ExpectJobKeysGoneAndOwnSettingsKept();
}

// The job-file dialog writes the file; the program runs it.
TEST_F(JobRunTest, AJobFileMadeByTheDialogRunsUnattended)
{
    kv::TSettings settings = JobSettings(kv::cmDeletePermanently);
    const std::wstring file = folder_ + L"from dialog.kv";
    {
        kv::TCreateTaskForm dialog(settings);
        dialog.Show();
        kvtest::Pump();
        if (kHasScanPage) kvtest::Click(*dialog.AutoScanCheckBox);
        kvtest::Click(*dialog.AutoCleanCheckBox);
        kvtest::Click(*dialog.RunHiddenlyCheckBox);
        kvtest::FileDialogAnswer answer(file);
        kvtest::MessageBoxAnswerer boxes(IDOK);
        kvtest::Click(*dialog.CreateSaveButton);
        ASSERT_EQ(dialog.SavedFile(), file);
    }
    kv::SettingsRoot = savedRoot_;
    EXPECT_EQ(RunJob(file), 0);
    EXPECT_EQ(WindowsShown(), 0);
    ExpectFolderEmptied();
    if (kHasScanPage) ExpectJunkGone();
    ExpectWhatMustStay();
    ExpectJobKeysGoneAndOwnSettingsKept();
}

// ---- The whole job: scan, Clean Now by each method, exit.

class JobScanRunTest : public JobRunTest {
protected:
    void SetUp() override
    {
        if (!kHasScanPage) GTEST_SKIP() << "the job's scan is the Scan page's Start, not in this build";
        JobRunTest::SetUp();
    }
    void RunWholeJob(kv::TCleanMethod method)
    {
        const std::wstring job = WriteJob(JobSettings(method), {true, true, true, true});
        EXPECT_EQ(RunJob(job), 0);
        EXPECT_EQ(WindowsShown(), 0);
        ExpectJunkGone();
        ExpectFolderEmptied();
        ExpectWhatMustStay();
        ExpectJobKeysGoneAndOwnSettingsKept();
    }
};

TEST_F(JobScanRunTest, RecycleBinMethodPutsTheJunkInTheTrash)
{
    RunWholeJob(kv::cmRecycleBin);
    std::map<std::wstring, std::string> trashed;
    for (const kvtest::TrashedFile& file : kvtest::TrashedFrom(tree_)) trashed[file.originalTail] = file.bytes;
    EXPECT_EQ(trashed[kvtest::UnixTail(tree_ + L"junk\\a.tmp")], "a");
    EXPECT_EQ(trashed[kvtest::UnixTail(tree_ + L"junk\\deep\\b.tmp")], "bb");
    EXPECT_EQ(trashed.count(kvtest::UnixTail(tree_ + L"junk\\keep.txt")), 0u);
}

TEST_F(JobScanRunTest, BackupMethodMovesTheJunkUnderItsFormerPathWithTheLog)
{
    RunWholeJob(kv::cmBackupFolder);
    const std::wstring backup = tree_ + L"backup\\";
    EXPECT_EQ(kvtest::ReadBytes(kv::BackupCopyPath(backup, tree_ + L"junk\\a.tmp")), "a");
    EXPECT_EQ(kvtest::ReadBytes(kv::BackupCopyPath(backup, tree_ + L"junk\\deep\\b.tmp")), "bb");
    const auto log = kv::ReadBackupLog(backup + L"Backup.txt");
    ASSERT_TRUE(log.has_value());
    EXPECT_NE(log->find(tree_ + L"junk\\a.tmp\r\n"), std::wstring::npos);
    EXPECT_NE(log->find(tree_ + L"junk\\deep\\b.tmp\r\n"), std::wstring::npos);
    EXPECT_EQ(log->find(L"keep.txt"), std::wstring::npos);
    EXPECT_TRUE(kvtest::TrashedFrom(tree_).empty());
}

TEST_F(JobScanRunTest, DeleteMethodLeavesNothingBehind)
{
    RunWholeJob(kv::cmDeletePermanently);
    EXPECT_TRUE(kvtest::TrashedFrom(tree_).empty());
    EXPECT_FALSE(kvtest::PathExists(tree_ + L"backup\\Backup.txt"));
}

// A job whose backup folder is missing never waits for an answer: the junk
// files stay, the rest of the job runs and the program exits.
TEST_F(JobScanRunTest, AMissingBackupFolderKeepsTheJunkAndTheJobEnds)
{
    kv::TSettings settings = JobSettings(kv::cmBackupFolder);
    settings.SpecificFolder = tree_ + L"no such folder\\";
    const std::wstring job = WriteJob(settings, {true, true, true, false});
    EXPECT_EQ(RunJob(job), 0);
    EXPECT_EQ(kvtest::ReadBytes(tree_ + L"junk\\a.tmp"), "a");
    ExpectFolderEmptied();
    ExpectJobKeysGoneAndOwnSettingsKept();
}

} // namespace
