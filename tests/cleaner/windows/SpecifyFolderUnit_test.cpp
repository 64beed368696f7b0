// The backup-folder dialog, driven like a person: its texts, the folder
// picker, the log name, OK and Cancel, and the restore from the log.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "cleaner/engine/BackupLog.h"
#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/JunkCleaner.h"
#include "cleaner/windows/SpecifyFolderUnit.h"
#include "cleaner/engine/JunkCleanerTestSupport.h"
#include "common/FormDriver.h"
#include "common/TestSupport.h"
#include "platform/forms/Timer.h"

using namespace kv::forms;

namespace {

class SpecifyFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kvtest::StartApplication();
        root = kvtest::ScratchFolder(L"specify-folder");
        settings.SpecificFolder = root + L"backup\\";
        settings.DeletionFile = L"Backup.txt";
        settings.CleanMethod = kv::cmRecycleBin;
        kv::CreateFolderPath(settings.SpecificFolder);
    }

    std::unique_ptr<kv::TSpecifyFolderForm> Open()
    {
        auto form = std::make_unique<kv::TSpecifyFolderForm>(settings, [this] { ++displayUpdates; });
        form->Show();
        kvtest::Pump();
        return form;
    }

    // Moves these files into `backupBase` the way Clean Now does.
    void BackUp(const std::wstring& backupBase, const std::vector<std::wstring>& files)
    {
        kv::CreateFolderPath(backupBase);
        std::vector<kv::TJunkItem> rows;
        for (const std::wstring& file : files) rows.push_back(kvtest::Checked(file));
        ASSERT_EQ(kv::MoveJunkToBackup(rows, {backupBase, L"Backup.txt"}, L"; header\r\n\r\n").cleaned.size(),
                  files.size());
    }

    std::wstring root;
    kv::TSettings settings;
    int displayUpdates = 0;
};

TEST_F(SpecifyFolderTest, ShowsTheBackupFolderAndTheLogNameWithItsTexts)
{
    auto form = Open();
    HWND window = kvtest::FindForm(L"TSpecifyFolderForm");
    ASSERT_EQ(window, form->Handle());
    EXPECT_EQ(kvtest::TextOf(*form), L"Specify a folder");
    EXPECT_EQ(kvtest::TextOf(*form->GroupBox1), L"Kestrelvane will move the junk files to the Backup Folder below");
    EXPECT_EQ(kvtest::TextOf(*form->GroupBox2), L"Deletion List File");
    EXPECT_EQ(kvtest::TextOf(*form->OKButton), L"OK");
    EXPECT_EQ(kvtest::TextOf(*form->CancelButton), L"Cancel");
    EXPECT_EQ(kvtest::TextOf(*form->RestoreButton), L"Restore");
    EXPECT_EQ(form->SelectFolderButton->Hint(), L"Select a Folder");
    EXPECT_EQ(form->EditFileNameButton->Hint(), L"Edit File Name");
    // Their captions are signs in no language: "..." and a pencil.
    EXPECT_EQ(kvtest::TextOf(*form->SelectFolderButton), L"...");
    EXPECT_EQ(kvtest::TextOf(*form->EditFileNameButton), L"");
    EXPECT_FALSE(dynamic_cast<GlyphButton&>(*form->EditFileNameButton).Glyph().Empty());
    EXPECT_EQ(kvtest::TextOf(*form->FolderNameLabel), settings.SpecificFolder);
    EXPECT_EQ(form->FolderNameLabel->Hint(), settings.SpecificFolder);
    EXPECT_EQ(form->ChosenFolder, settings.SpecificFolder);
    EXPECT_EQ(kvtest::TextOf(*form->FileNameEdit), L"Backup.txt");
    EXPECT_FALSE(kvtest::IsShownEnabled(*form->FileNameEdit));
    EXPECT_EQ(form->FileNameEdit->Color(), ::GetSysColor(COLOR_BTNFACE));
}

TEST_F(SpecifyFolderTest, TheLogNameIsEditedAfterTheEditButtonAndOKFollowsItsValidity)
{
    auto form = Open();
    kvtest::Click(*form->EditFileNameButton);
    EXPECT_TRUE(kvtest::IsShownEnabled(*form->FileNameEdit));
    EXPECT_EQ(form->FileNameEdit->Color(), ::GetSysColor(COLOR_WINDOW));
    form->FileNameEdit->SetText(L"");
    kvtest::TypeText(*form->FileNameEdit, L"list?.txt");
    EXPECT_FALSE(kvtest::IsShownEnabled(*form->OKButton));
    form->FileNameEdit->SetText(L"");
    kvtest::TypeText(*form->FileNameEdit, L"List.txt");
    EXPECT_TRUE(kvtest::IsShownEnabled(*form->OKButton));
    kvtest::Click(*form->EditFileNameButton);
    EXPECT_FALSE(kvtest::IsShownEnabled(*form->FileNameEdit));
}

TEST_F(SpecifyFolderTest, ThePickerChangesTheFolderAndCancellingKeepsIt)
{
    auto form = Open();
    kvtest::FolderPickerAnswer picker(root + L"elsewhere");
    kvtest::Click(*form->SelectFolderButton);
    EXPECT_EQ(picker.TimesAsked(), 1);
    EXPECT_EQ(picker.LastCaption, L"Select a Folder");
    EXPECT_EQ(picker.LastStartFolder, settings.SpecificFolder);
    EXPECT_EQ(form->ChosenFolder, root + L"elsewhere\\");
    EXPECT_EQ(kvtest::TextOf(*form->FolderNameLabel), root + L"elsewhere\\");

    picker.SetAnswer(std::nullopt);
    kvtest::Click(*form->SelectFolderButton);
    EXPECT_EQ(form->ChosenFolder, root + L"elsewhere\\");
    EXPECT_EQ(kvtest::TextOf(*form->FolderNameLabel), root + L"elsewhere\\");
    EXPECT_EQ(settings.SpecificFolder, root + L"backup\\") << "nothing changes before OK";
}

TEST_F(SpecifyFolderTest, OKTakesTheFolderTheNameAndTheBackupMethod)
{
    kvtest::FolderPickerAnswer picker(root + L"chosen\\");
    kv::TSpecifyFolderForm form(settings, [this] { ++displayUpdates; });
    Timer act(30);
    act.OnTimer = [&] {
        act.Stop();
        kvtest::Click(*form.SelectFolderButton);
        kvtest::Click(*form.EditFileNameButton);
        form.FileNameEdit->SetText(L"");
        kvtest::TypeText(*form.FileNameEdit, L"Moved.txt");
        kvtest::Click(*form.OKButton);
    };
    act.Start();
    EXPECT_EQ(form.ShowModal(), mrOk);
    EXPECT_EQ(settings.SpecificFolder, root + L"chosen\\");
    EXPECT_EQ(settings.DeletionFile, L"Moved.txt");
    EXPECT_EQ(settings.CleanMethod, kv::cmBackupFolder);
    EXPECT_EQ(displayUpdates, 1);
}

TEST_F(SpecifyFolderTest, CancelChangesNothing)
{
    kvtest::FolderPickerAnswer picker(root + L"chosen\\");
    const kv::TSettings before = settings;
    kv::TSpecifyFolderForm form(settings, [this] { ++displayUpdates; });
    Timer act(30);
    act.OnTimer = [&] {
        act.Stop();
        kvtest::Click(*form.SelectFolderButton);
        kvtest::Click(*form.CancelButton);
    };
    act.Start();
    EXPECT_EQ(form.ShowModal(), mrCancel);
    EXPECT_TRUE(settings == before);
    EXPECT_EQ(displayUpdates, 0);
}

TEST_F(SpecifyFolderTest, EnterIsOKUnlessTheNameIsInvalidAndEscapeCancels)
{
    kv::TSpecifyFolderForm form(settings, [this] { ++displayUpdates; });
    bool stayedOpenOnInvalidName = false;
    Timer act(30);
    act.OnTimer = [&] {
        act.Stop();
        kvtest::Click(*form.EditFileNameButton);
        form.FileNameEdit->SetText(L"");
        kvtest::TypeText(*form.FileNameEdit, L"bad|name.txt");
        kvtest::PressKey(*form.FileNameEdit, VK_RETURN);
        stayedOpenOnInvalidName = form.ModalResultValue() == mrNone && ::IsWindowVisible(form.Handle());
        form.FileNameEdit->SetText(L"");
        kvtest::TypeText(*form.FileNameEdit, L"Keyed.txt");
        kvtest::PressKey(*form.FileNameEdit, VK_RETURN);
    };
    act.Start();
    EXPECT_EQ(form.ShowModal(), mrOk);
    EXPECT_TRUE(stayedOpenOnInvalidName) << "OK is disabled, and so is Enter";
    EXPECT_EQ(settings.DeletionFile, L"Keyed.txt");
    EXPECT_EQ(settings.CleanMethod, kv::cmBackupFolder);

    const kv::TSettings before = settings;
    kv::TSpecifyFolderForm again(settings, [this] { ++displayUpdates; });
    act.OnTimer = [&] {
        act.Stop();
        kvtest::Click(*again.EditFileNameButton);
        again.FileNameEdit->SetText(L"Other.txt");
        kvtest::PressKey(*again.FileNameEdit, VK_ESCAPE);
    };
    act.Start();
    EXPECT_EQ(again.ShowModal(), mrCancel);
    EXPECT_TRUE(settings == before);
}

TEST_F(SpecifyFolderTest, RestoreFromTheKVBackupSubFolderBringsTheFilesBack)
{
    const std::wstring one = root + L"junk\\one\\same.tmp", two = root + L"junk\\two\\same.tmp";
    kvtest::PutFile(one, "one");
    kvtest::PutFile(two, "two");
    BackUp(settings.SpecificFolder + L"KVBackup\\", {one, two});
    auto form = Open();
    kvtest::MessageBoxAnswerer boxes(IDOK);
    kvtest::Click(*form->RestoreButton);
    EXPECT_EQ(kvtest::ReadBytes(one), "one");
    EXPECT_EQ(kvtest::ReadBytes(two), "two");
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, L"Backup files have been restored successfully!");
    EXPECT_EQ(boxes.Boxes()[0].owner, form->Handle()) << "the dialog on show owns its boxes";
    EXPECT_EQ(form->LastRestore().restored, 2);
}

TEST_F(SpecifyFolderTest, RestoreReportsWhatItCouldNotBringBack)
{
    const std::wstring taken = root + L"junk\\taken.tmp", free = root + L"junk\\free.tmp";
    kvtest::PutFile(taken, "backed up");
    kvtest::PutFile(free, "free");
    BackUp(settings.SpecificFolder, {taken, free});
    kvtest::PutFile(taken, "written since");
    auto form = Open();
    kvtest::MessageBoxAnswerer boxes(IDOK);
    kvtest::Click(*form->RestoreButton);
    EXPECT_EQ(kvtest::ReadBytes(taken), "written since");
    EXPECT_EQ(kvtest::ReadBytes(free), "free");
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_NE(boxes.Boxes()[0].text.find(L"1 of the backed-up files could not be restored"), std::wstring::npos);
    EXPECT_NE(boxes.Boxes()[0].text.find(taken), std::wstring::npos);
}

TEST_F(SpecifyFolderTest, AMissingLogIsReportedAndThePickerOffered)
{
    auto form = Open();
    kvtest::MessageBoxAnswerer boxes(IDOK);
    kvtest::FolderPickerAnswer picker(std::nullopt);
    kvtest::Click(*form->RestoreButton);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, L"Can not find the backup file, please specify the correct backup folder!");
    EXPECT_EQ(picker.TimesAsked(), 1);
    EXPECT_EQ(form->ChosenFolder, settings.SpecificFolder);
}

TEST_F(SpecifyFolderTest, TheMenusRestoreRunsBeforeTheDialogIsShown)
{
    const std::wstring file = root + L"junk\\menu.tmp";
    kvtest::PutFile(file, "menu");
    BackUp(settings.SpecificFolder, {file});
    // The window whose menu asked for the restore.
    Form mainWindow(kvtest::HostStyle(L"TMainFormStandIn"));
    mainWindow.Show();
    kvtest::Pump();
    kvtest::MessageBoxAnswerer boxes(IDOK);
    bool restoredWhenShown = false;
    Timer act(30);
    act.OnTimer = [&] {
        if (!kvtest::IsFormVisible(L"TSpecifyFolderForm")) return;
        act.Stop();
        restoredWhenShown = kvtest::PathExists(file) && boxes.Boxes().size() == 1;
        kvtest::Click(kvtest::ControlById(kvtest::FindForm(L"TSpecifyFolderForm"), kv::TSpecifyFolderForm::idCancelButton));
    };
    act.Start();
    kv::RestoreFilesFromSpecificFolder(settings, nullptr, mainWindow.Handle());
    EXPECT_TRUE(restoredWhenShown);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].owner, mainWindow.Handle()) << "owned by the window on show, not the hidden dialog";
    EXPECT_FALSE(boxes.Boxes()[0].ownerEnabled) << "the window behind the box takes no input";
    EXPECT_EQ(kvtest::ReadBytes(file), "menu");
    EXPECT_EQ(kvtest::FindForm(L"TSpecifyFolderForm"), nullptr) << "freed after use";
}

} // namespace
