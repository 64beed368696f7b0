// The job-file dialog, driven like a person, and the job file it writes
// given back to the program: imported as a job, and run (scan, then clean).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/JunkCleaner.h"
#include "cleaner/engine/SettingsFiles.h"
#include "cleaner/engine/SettingsStore.h"
#include "cleaner/engine/TSearchUnit.h"
#include "cleaner/windows/CreateTaskUnit.h"
#include "cleaner/engine/JunkCleanerTestSupport.h"
#include "common/FormDriver.h"
#include "common/TestSupport.h"
#include "platform/Registry.h"
#include "platform/forms/Timer.h"

using namespace kv::forms;

namespace {

class CreateTaskTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kvtest::StartApplication();
        root = kvtest::ScratchFolder(L"create-task");
        kv::DeleteJobKeys();
        savedRoot = kv::SettingsRoot;
    }
    void TearDown() override
    {
        kv::DeleteJobKeys();
        kv::SettingsRoot = savedRoot;
        kv::JobMode = false;
        kv::RunHiddenly = false;
    }

    std::unique_ptr<kv::TCreateTaskForm> Open()
    {
        auto form = std::make_unique<kv::TCreateTaskForm>(settings);
        form->Show();
        kvtest::Pump();
        return form;
    }

    std::wstring root, savedRoot;
    kv::TSettings settings;
};

TEST_F(CreateTaskTest, ShowsItsTexts)
{
    auto form = Open();
    ASSERT_EQ(kvtest::FindForm(L"TCreateTaskForm"), form->Handle());
    EXPECT_EQ(kvtest::TextOf(*form), L"Create a Task File");
    EXPECT_EQ(kvtest::TextOf(*form->AutoScanCheckBox), L"Automate Scan");
    EXPECT_EQ(kvtest::TextOf(*form->AutoCleanCheckBox), L"Automate Clean");
    EXPECT_EQ(kvtest::TextOf(*form->AutoExitCheckBox), L"Automate Close");
    EXPECT_EQ(kvtest::TextOf(*form->RunHiddenlyCheckBox), L"Run Background");
    EXPECT_EQ(kvtest::TextOf(*form->TaskOptionsGroupBox), L"What the task will do when it is started up");
    EXPECT_EQ(kvtest::TextOf(*form->CreateSaveButton), L"&Save");
    EXPECT_EQ(kvtest::TextOf(*form->CreateCancelButton), L"&Cancel");
    EXPECT_EQ(kvtest::TextOf(*form->IntroLabel).substr(0, 40), L"Kestrelvane will save current settings a");
}

TEST_F(CreateTaskTest, AHiddenRunAlwaysCloses)
{
    auto form = Open();
    ASSERT_FALSE(form->AutoExitCheckBox->Checked());
    kvtest::Click(*form->RunHiddenlyCheckBox);
    ASSERT_TRUE(form->RunHiddenlyCheckBox->Checked());
    EXPECT_TRUE(kvtest::PumpUntil([&] { return !kvtest::IsShownEnabled(*form->AutoExitCheckBox); }, 1000));
    EXPECT_TRUE(form->AutoExitCheckBox->Checked());
    kvtest::Click(*form->RunHiddenlyCheckBox);
    EXPECT_TRUE(kvtest::PumpUntil([&] { return kvtest::IsShownEnabled(*form->AutoExitCheckBox); }, 1000));
    EXPECT_TRUE(form->AutoExitCheckBox->Checked()) << "the mark is left as it is";
}

TEST_F(CreateTaskTest, CancellingTheSaveDialogKeepsTheCreatorOpen)
{
    auto form = Open();
    kvtest::FileDialogAnswer answer(std::nullopt);
    kvtest::Click(*form->CreateSaveButton);
    EXPECT_EQ(answer.TimesAsked(), 1);
    EXPECT_TRUE(kvtest::IsFormVisible(L"TCreateTaskForm"));
    EXPECT_TRUE(form->SavedFile().empty());
    EXPECT_FALSE(kv::RegistryKeyExists(HKEY_CURRENT_USER, kv::JobKeys()[1]));
}

TEST_F(CreateTaskTest, EnterSavesAndEscapeCancels)
{
    const std::wstring file = root + L"keyed.kv";
    kvtest::FileDialogAnswer answer(file);
    kvtest::MessageBoxAnswerer boxes(IDOK);
    kv::TCreateTaskForm form(settings);
    Timer act(30);
    act.OnTimer = [&] {
        act.Stop();
        kvtest::PressKey(*form.AutoScanCheckBox, VK_RETURN);
    };
    act.Start();
    EXPECT_EQ(form.ShowModal(), mrOk);
    EXPECT_EQ(answer.TimesAsked(), 1);
    EXPECT_EQ(form.SavedFile(), file);
    EXPECT_NE(::GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);

    kv::TCreateTaskForm again(settings);
    act.OnTimer = [&] {
        act.Stop();
        kvtest::PressKey(*again.RunHiddenlyCheckBox, VK_ESCAPE);
    };
    act.Start();
    EXPECT_EQ(again.ShowModal(), mrCancel);
    EXPECT_EQ(answer.TimesAsked(), 1) << "Escape saves nothing";
    EXPECT_TRUE(again.SavedFile().empty());
}

TEST_F(CreateTaskTest, TheMenuEntryOpensItWithScanCleanAndCloseChecked)
{
    bool scan = false, clean = false, close = false, hidden = true;
    Timer act(30);
    act.OnTimer = [&] {
        HWND window = kvtest::FindForm(L"TCreateTaskForm");
        if (!window || !::IsWindowVisible(window)) return;
        act.Stop();
        using F = kv::TCreateTaskForm;
        scan = kvtest::ControlOf<CheckBox>(window, F::idAutoScanCheckBox).Checked();
        clean = kvtest::ControlOf<CheckBox>(window, F::idAutoCleanCheckBox).Checked();
        close = kvtest::ControlOf<CheckBox>(window, F::idAutoExitCheckBox).Checked();
        hidden = kvtest::ControlOf<CheckBox>(window, F::idRunHiddenlyCheckBox).Checked();
        kvtest::Click(kvtest::ControlById(window, F::idCreateCancelButton));
    };
    act.Start();
    kv::CreateJobFile(settings);
    EXPECT_TRUE(scan && clean && close);
    EXPECT_FALSE(hidden);
    EXPECT_EQ(kvtest::FindForm(L"TCreateTaskForm"), nullptr);
}

// The dialog writes the file; the program takes it back as a job and runs it:
// the job's scan and clean, from the settings the file carries.
TEST_F(CreateTaskTest, ItsJobFileIsAcceptedAndRunsTheJob)
{
    const std::wstring tree = root + L"tree\\";
    kvtest::PutFile(tree + L"junk\\a.tmp", "a");
    kvtest::PutFile(tree + L"junk\\deep\\b.tmp", "b");
    kvtest::PutFile(tree + L"junk\\keep.txt", "not matching");
    kvtest::PutFile(tree + L"junk\\excluded\\c.tmp", "excluded");
    kv::CreateFolderPath(tree + L"backup\\");
    settings.InclusiveFolders = {{tree + L"junk", kv::pkIncludeWithSubFolders, true}};
    settings.ExclusiveFolders = {{tree + L"junk\\excluded", kv::pkExcludeWithSubFolders, true}};
    settings.InclusiveFiles = {{true, L"*.tmp", L"Temporary files"}};
    settings.ExclusiveFiles = {};
    settings.CleanMethod = kv::cmBackupFolder;
    settings.SpecificFolder = tree + L"backup\\";
    settings.DeletionFile = L"Backup.txt";

    const std::wstring file = root + L"nightly.kv";
    auto form = Open();
    kvtest::Click(*form->AutoScanCheckBox);
    kvtest::Click(*form->AutoCleanCheckBox);
    kvtest::Click(*form->RunHiddenlyCheckBox);
    kvtest::FileDialogAnswer answer(file);
    kvtest::MessageBoxAnswerer boxes(IDOK);
    kvtest::Click(*form->CreateSaveButton);
    EXPECT_EQ(answer.LastDefaultExt, L"*.kv");
    EXPECT_EQ(answer.LastFilter, L"Kestrelvane Job Files|*.kv");
    ASSERT_EQ(form->SavedFile(), file);
    EXPECT_FALSE(kvtest::IsFormVisible(L"TCreateTaskForm"));
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, L"A task file has been created successfully!\n\nFile name: " + file);

    // Given back to the program, as its first argument.
    ASSERT_TRUE(kv::IsJobFileArgument(file));
    ASSERT_TRUE(kv::ImportJobFile(file));
    kv::SettingsRoot = kv::JobSettingsRoot();
    kv::JobMode = true;
    kv::RunHiddenly = kv::ReadRegistryBool(kv::SettingsRoot + kv::JobSubKey, L"RunHiddenly", false);
    kv::LoadJobFlags();
    EXPECT_TRUE(kv::RunHiddenly && kv::AutoScan && kv::AutoClean && kv::AutoExit);
    const kv::TSettings job = kv::LoadSettings();
    kv::TSettings expected = settings;
    expected.ScanDrives.clear();
    EXPECT_TRUE(job == expected);

    // The job's scan and clean, from the settings it carries.
    kvtest::ResultsView scan;
    for (const auto& folders : {job.InclusiveFolders, job.ExclusiveFolders})
        for (const kv::TFolderEntry& folder : folders) scan.options.Paths.push_back({folder.path, folder.kind, folder.checked});
    for (const kv::TFilterEntry& filter : job.InclusiveFiles)
        scan.options.Filters.push_back({filter.mask, kv::kInclusiveFilterImage, filter.checked});
    scan.options.BackupFolder = job.SpecificFolder;
    kv::RunScan(scan);
    ASSERT_EQ(scan.rows.size(), 2u);

    kvtest::QuietCleanView clean;
    kv::TCleanNowRequest request;
    request.CheckedRows[kv::ctJunkFiles] = true;
    request.Junk = scan.JunkRows();
    request.CleanMethod = job.CleanMethod;
    request.Backup = {job.SpecificFolder, job.DeletionFile};
    kv::RunCleanNow(clean, request);

    EXPECT_FALSE(kvtest::PathExists(tree + L"junk\\a.tmp"));
    EXPECT_FALSE(kvtest::PathExists(tree + L"junk\\deep\\b.tmp"));
    EXPECT_EQ(kvtest::ReadBytes(kv::BackupCopyPath(tree + L"backup\\", tree + L"junk\\a.tmp")), "a");
    EXPECT_EQ(kvtest::ReadBytes(kv::BackupCopyPath(tree + L"backup\\", tree + L"junk\\deep\\b.tmp")), "b");
    EXPECT_TRUE(kvtest::PathExists(tree + L"backup\\Backup.txt"));
    EXPECT_EQ(kvtest::ReadBytes(tree + L"junk\\keep.txt"), "not matching");
    EXPECT_EQ(kvtest::ReadBytes(tree + L"junk\\excluded\\c.tmp"), "excluded");
}

} // namespace
