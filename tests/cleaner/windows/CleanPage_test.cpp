// The Clean page of the main window, driven like a person: its rows, sizes and
// menus, the clean method's display, and Clean Now over result rows through
// the progress window, with the backup and its restore.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "cleaner/engine/BackupLog.h"
#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/JunkCleaner.h"
#include "cleaner/engine/JunkCleanerTestSupport.h"
#include "cleaner/windows/CleanPage.h"
#include "cleaner/windows/ProgressUnit.h"
#include "cleaner/windows/SpecifyFolderUnit.h"
#include "MainWindowTestSupport.h"
#include "common/FormDriver.h"
#include "platform/Format.h"

namespace {

using kv::TCleanPage;
using kv::forms::ListView;

class CleanPageTest : public kvtest::MainWindowTest {
protected:
    TCleanPage& OpenClean()
    {
        Open();
        progress_ = std::make_unique<kv::TProgressForm>();
        form->ProgressForm = progress_.get();
        kvtest::Click(*form->CleanButton);
        return form->CleanPage();
    }
    void TearDown() override
    {
        if (form) {
            kv::TMainForm::WaitForWorkers();
            form->ProgressForm = nullptr;
        }
        form.reset();
        progress_.reset();
        kvtest::MainWindowTest::TearDown();
    }
    ListView& Rows() const { return *form->CleanPage().CleanListView; }
    // The result list the Scan page keeps; made here, as the Scan page makes
    // it, when this build has none yet.
    ListView& Results() const
    {
        if (auto* list = dynamic_cast<ListView*>(form->FindControl(L"ScanListView"))) return *list;
        ListView& list = form->Add<ListView>(form->PagePanel(kv::pgScan), kv::PageControlIds(kv::pgScan) + 90, true);
        list.SetName(L"ScanListView");
        for (const wchar_t* column : {L"File Name", L"Location", L"Size", L"Modified", L"Filter"})
            list.AddColumn(column, 60);
        return list;
    }
    void AddResult(const std::wstring& path, bool checked = true)
    {
        const std::size_t slash = path.find_last_of(L'\\');
        Results().AddItem(path.substr(slash + 1), {path.substr(0, slash + 1), L"1", L"", L"*.tmp"},
                          kv::kFileResultImage, checked);
    }
    // Only the junk-files row checked, so a Clean Now touches nothing else.
    void OnlyJunkRow()
    {
        kvtest::Click(*form->RemoveAllButton);
        Rows().SetChecked(kv::ctJunkFiles, true);
    }
    std::wstring Log() const { return kvtest::TextOf(*progress_->StatusLabel); }

    std::unique_ptr<kv::TProgressForm> progress_;
};

TEST_F(CleanPageTest, EnteringShowsTheThirteenRowsWithTheirMenusAndButtons)
{
    TCleanPage& page = OpenClean();
    EXPECT_EQ(kv::CurrentPage.load(), kv::pgClean);
    EXPECT_EQ(kv::CleanPageActive.load(), 0);
    EXPECT_EQ(kvtest::TextOf(*form->MenuCaptionLabel), L"----- Clean -----");
    const auto rows = kvtest::ReadRows(Rows());
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(kv::ctTargetCount));
    const int captions[] = {110, 24, 25, 26, 27, 28, 29, 30, 31, 32, 244, 245, 246};
    for (int row = 0; row < kv::ctTargetCount; ++row) {
        EXPECT_EQ(rows[row].caption, kv::LanguageText(captions[row])) << row;
        const bool hasMenu = row == 0 || row == 2 || row == 4 || row == 8 || row == 9;
        EXPECT_EQ(rows[row].subItems.at(1), hasMenu ? L"Yes" : L"") << row;
    }
    EXPECT_EQ(rows[kv::ctRegistryProgramHistory].subItems[0], L"N / A");
    EXPECT_EQ(rows[kv::ctRegistryWindowsTracks].subItems[0], L"N / A");
    EXPECT_EQ(Rows().ColumnCaption(0), L"Clean Options");
    for (kv::TBmpButton* on : std::initializer_list<kv::TBmpButton*>{form->CheckAllButton, form->RemoveAllButton,
                                                                     form->CleanNowButton})
        EXPECT_TRUE(on->Enabled());
    for (kv::TBmpButton* off : std::initializer_list<kv::TBmpButton*>{form->AddButton, form->DeleteButton,
                                                                      form->StartButton, form->StopButton})
        EXPECT_FALSE(off->Enabled());
    // The size threads measure, then the total is shown.
    EXPECT_TRUE(kvtest::PumpUntil([&] { return kv::WorkerThreadCount.load() == 1; }, 10000));
    kvtest::Pump(50);
    EXPECT_EQ(kvtest::TextOf(*form->IndexLabel).rfind(L"Total amount disk space you will gain: ", 0), 0u);
    for (kv::TCleanTarget row : {kv::ctRecycleBin, kv::ctWindowsTemp, kv::ctSpecificFolder, kv::ctRecentDocuments}) {
        const std::wstring size = Rows().SubItem(row, 0);
        EXPECT_FALSE(size.empty() || size == kv::LanguageText(108)) << row << " measured: " << testing::PrintToString(size);
    }
    (void)page;
}

struct MethodCase {
    kv::TCleanMethod method;
    int image;
    int caption;
    bool recycleEnabled, deleteEnabled;
};

TEST_F(CleanPageTest, TheCleanMethodShowsOnTheFirstRowAndInBothMenus)
{
    TCleanPage& page = OpenClean();
    const MethodCase cases[] = {{kv::cmRecycleBin, 4, 110, false, true},
                                {kv::cmBackupFolder, 1, 111, true, true},
                                {kv::cmDeletePermanently, 11, 112, true, false}};
    for (const MethodCase& c : cases) {
        form->Settings.CleanMethod = c.method;
        form->UpdateCleanMethodDisplay();
        EXPECT_EQ(Rows().ImageIndex(0), c.image) << c.method;
        EXPECT_EQ(Rows().Caption(0), kv::LanguageText(c.caption)) << c.method;
        EXPECT_EQ(page.RecycleBinMenuItem->Enabled, c.recycleEnabled);
        EXPECT_EQ(form->OptionsRecycleBinMenuItem->Enabled, c.recycleEnabled);
        EXPECT_EQ(page.DeletePermanentlyMenuItem->Enabled, c.deleteEnabled);
        EXPECT_EQ(form->OptionsDeletePermanentlyMenuItem->Enabled, c.deleteEnabled);
        EXPECT_TRUE(page.SpecificFolderMenuItem->Enabled);
    }
}

TEST_F(CleanPageTest, TheRowMenuAndTheOptionsMenuChooseTheMethod)
{
    OpenClean();
    {
        kvtest::MenuChooser chooser(L"Delete files PERMANENTLY");
        kvtest::ClickRow(Rows(), 0);
        const RECT row = Rows().ItemRect(0);
        kvtest::RightClick(Rows(), POINT{row.left + 60, (row.top + row.bottom) / 2});
        ASSERT_TRUE(chooser.Chosen());
    }
    EXPECT_EQ(form->Settings.CleanMethod, kv::cmDeletePermanently);
    EXPECT_EQ(Rows().Caption(0), kv::LanguageText(112));
    form->OptionsRecycleBinMenuItem->Click();
    EXPECT_EQ(form->Settings.CleanMethod, kv::cmRecycleBin);
    // The backup folder's dialog: OK chooses the backup method.
    kvtest::WhenShown ok(L"TSpecifyFolderForm", [](HWND dialog) {
        kvtest::Click(kvtest::ControlById(dialog, kv::TSpecifyFolderForm::idOKButton));
    });
    form->OptionsSpecificFolderMenuItem->Click();
    EXPECT_TRUE(ok.Ran());
    EXPECT_EQ(form->Settings.CleanMethod, kv::cmBackupFolder);
    EXPECT_EQ(Rows().Caption(0), kv::LanguageText(111));
    // A right release on Clean Now opens the same menu.
    kvtest::MenuChooser chooser(L"Send files to the Recycle Bin");
    kvtest::Release(*form->CleanNowButton, kv::forms::MouseButton::Right);
    EXPECT_TRUE(chooser.Opened());
    EXPECT_EQ(form->Settings.CleanMethod, kv::cmRecycleBin);
}

TEST_F(CleanPageTest, RegistryRowsFollowTheirMenusAndAreStored)
{
    TCleanPage& page = OpenClean();
    kvtest::Click(*form->RemoveAllButton);
    EXPECT_FALSE(Rows().Checked(kv::ctRegistryProgramHistory));
    // One entry checked: its row is checked.
    {
        kvtest::MenuChooser chooser(L"WinRar Recent File Menu");
        kvtest::ClickRow(Rows(), kv::ctRegistryProgramHistory);
        const RECT row = Rows().ItemRect(kv::ctRegistryProgramHistory);
        kvtest::RightClick(Rows(), POINT{row.left + 60, (row.top + row.bottom) / 2});
        ASSERT_TRUE(chooser.Chosen());
    }
    EXPECT_TRUE(page.ProgramHistoryItems[2]->Checked);
    EXPECT_TRUE(Rows().Checked(kv::ctRegistryProgramHistory));
    EXPECT_FALSE(page.ProgramHistoryItems[0]->Checked);
    // The row's check box stands for the whole menu.
    kvtest::ClickCheckBox(Rows(), kv::ctRegistryWindowsTracks);
    for (kv::forms::MenuItem* item : page.TracksItems) EXPECT_TRUE(item->Checked);
    kvtest::ClickCheckBox(Rows(), kv::ctRegistryWindowsTracks);
    for (kv::forms::MenuItem* item : page.TracksItems) EXPECT_FALSE(item->Checked);
    page.RegistryProgramCheckAllMenuItemClick();
    for (kv::forms::MenuItem* item : page.ProgramHistoryItems) EXPECT_TRUE(item->Checked);

    const kv::TSettings stored = form->CollectSettings();
    for (bool entry : stored.ProgramHistory) EXPECT_TRUE(entry);
    for (bool entry : stored.Tracks) EXPECT_FALSE(entry);
    EXPECT_FALSE(stored.EmptyBin);
    EXPECT_FALSE(stored.DoClean);

    kvtest::MessageBoxAnswerer boxes(IDOK);
    kvtest::Click(*form->CheckAllButton);
    EXPECT_EQ(boxes.Boxes().size(), 1u) << "checking the temp row warns, whoever checks it";
    for (int row = 0; row < kv::ctTargetCount; ++row) EXPECT_TRUE(Rows().Checked(row)) << row;
    for (kv::forms::MenuItem* item : page.TracksItems) EXPECT_TRUE(item->Checked);
}

TEST_F(CleanPageTest, CheckedRowsAndMenusSurviveACloseAndANewStart)
{
    TCleanPage* page = &OpenClean();
    kvtest::Click(*form->RemoveAllButton);
    Rows().SetChecked(kv::ctRecycleBin, true);
    Rows().SetChecked(kv::ctFirefoxCookies, true);
    page->TracksItems[1]->Checked = true;
    page->AlsoCleanSubFolderMenuItem->Checked = false;
    CloseAndEnd();
    page = &OpenClean();
    EXPECT_TRUE(Rows().Checked(kv::ctRecycleBin));
    EXPECT_TRUE(Rows().Checked(kv::ctFirefoxCookies));
    EXPECT_FALSE(Rows().Checked(kv::ctJunkFiles));
    EXPECT_TRUE(page->TracksItems[1]->Checked);
    EXPECT_TRUE(Rows().Checked(kv::ctRegistryWindowsTracks)) << "a checked entry checks its row";
    EXPECT_FALSE(page->AlsoCleanSubFolderMenuItem->Checked);
}

TEST_F(CleanPageTest, CheckingTheTempRowWarnsWhichFoldersItEmpties)
{
    OpenClean();
    kvtest::Click(*form->RemoveAllButton);
    kvtest::MessageBoxAnswerer boxes(IDOK);
    kvtest::ClickCheckBox(Rows(), kv::ctWindowsTemp);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_NE(boxes.Boxes()[0].text.find(kv::UserTempFolder), std::wstring::npos);
    EXPECT_EQ(boxes.Boxes()[0].caption, L"Kestrelvane");
    kvtest::ClickCheckBox(Rows(), kv::ctWindowsTemp);
    EXPECT_EQ(boxes.Boxes().size(), 1u) << "unchecking says nothing";
}

TEST_F(CleanPageTest, CleanNowDeletesTheCheckedResultsAndEmptiesTheChosenFolders)
{
    const std::wstring tree = kvtest::ScratchFolder(L"CleanPageNow");
    kvtest::PutFile(tree + L"junk\\a.tmp", "a");
    kvtest::PutFile(tree + L"junk\\b.tmp", "b");
    kvtest::PutFile(tree + L"junk\\unchecked.tmp", "kept");
    kvtest::PutFile(tree + L"empty\\x.dat", "x");
    kvtest::PutFile(tree + L"empty\\sub\\y.dat", "y");
    kvtest::PutFile(tree + L"outside\\z.dat", "z");
    OpenClean();
    Paths().AddItem(tree + L"empty", {}, kv::pkEmptyWithSubFolders, true);
    AddResult(tree + L"junk\\a.tmp");
    AddResult(tree + L"junk\\unchecked.tmp", false);
    AddResult(tree + L"junk\\b.tmp");
    OnlyJunkRow();
    Rows().SetChecked(kv::ctSpecificFolder, true);
    form->Settings.CleanMethod = kv::cmDeletePermanently;

    kvtest::MessageBoxAnswerer boxes(IDYES);
    kvtest::Click(*form->CleanNowButton);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, kv::LanguageText(84));
    EXPECT_EQ(boxes.Boxes()[0].caption, kv::LanguageText(145));

    EXPECT_FALSE(kvtest::PathExists(tree + L"junk\\a.tmp"));
    EXPECT_FALSE(kvtest::PathExists(tree + L"junk\\b.tmp"));
    EXPECT_EQ(kvtest::ReadBytes(tree + L"junk\\unchecked.tmp"), "kept");
    EXPECT_FALSE(kvtest::PathExists(tree + L"empty\\x.dat"));
    EXPECT_FALSE(kvtest::PathExists(tree + L"empty\\sub"));
    EXPECT_TRUE(kvtest::PathExists(tree + L"empty\\"));
    EXPECT_EQ(kvtest::ReadBytes(tree + L"outside\\z.dat"), "z");
    // The checked rows are gone; the unchecked one stays.
    const auto left = kvtest::ReadRows(Results());
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].caption, L"unchecked.tmp");
    for (int column = 0; column < 4; ++column)
        EXPECT_GE(Results().ColumnWidth(column), kvtest::WidestCell(Results(), column)) << "fitted after the clean";
    // The numbered log, the finished texts and the buttons.
    EXPECT_EQ(Log(), L"01.  " + kv::LanguageText(86) + L"\r\n02.  " + kv::LanguageText(93) + L"\r\n");
    EXPECT_EQ(kvtest::TextOf(*progress_->ProgressLabel), kv::LanguageText(109));
    // The sizes are measured anew after the clean; once they are in, the new
    // total takes the place of the finished text.
    const std::wstring index = kvtest::TextOf(*form->IndexLabel);
    EXPECT_TRUE(index == kv::LanguageText(109) || index.rfind(kv::Format(kv::LanguageText(106), {L""}), 0) == 0)
        << testing::PrintToString(index);
    EXPECT_EQ(progress_->ProgressBar->Width(), kv::TProgressForm::kBarWidth);
    EXPECT_TRUE(::IsWindowVisible(progress_->Handle()));
    EXPECT_TRUE(form->CleanNowButton->Enabled());
    EXPECT_FALSE(form->StopButton->Enabled());
    EXPECT_EQ(kv::StopRequested.load(), 1);
    EXPECT_EQ(kv::CleanPageActive.load(), 1);
}

TEST_F(CleanPageTest, DecliningThePermanentDeleteKeepsTheFilesAndTheirRows)
{
    const std::wstring tree = kvtest::ScratchFolder(L"CleanPageDecline");
    kvtest::PutFile(tree + L"a.tmp", "a");
    OpenClean();
    AddResult(tree + L"a.tmp");
    OnlyJunkRow();
    form->Settings.CleanMethod = kv::cmDeletePermanently;
    kvtest::MessageBoxAnswerer boxes(IDNO);
    kvtest::Click(*form->CleanNowButton);
    EXPECT_EQ(kvtest::ReadBytes(tree + L"a.tmp"), "a");
    EXPECT_EQ(Results().Count(), 1);
    EXPECT_EQ(Log(), L"");
}

TEST_F(CleanPageTest, AMissingBackupFolderIsAskedForAndNoKeepsEverything)
{
    const std::wstring tree = kvtest::ScratchFolder(L"CleanPageMissing");
    kvtest::PutFile(tree + L"a.tmp", "a");
    OpenClean();
    AddResult(tree + L"a.tmp");
    OnlyJunkRow();
    form->Settings.CleanMethod = kv::cmBackupFolder;
    form->Settings.SpecificFolder = tree + L"no such folder\\";
    kvtest::MessageBoxAnswerer boxes(IDNO);
    kvtest::Click(*form->CleanNowButton);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].caption, L"Warning");
    EXPECT_NE(boxes.Boxes()[0].text.find(tree + L"no such folder\\"), std::wstring::npos);
    EXPECT_EQ(kvtest::ReadBytes(tree + L"a.tmp"), "a");
    EXPECT_EQ(Results().Count(), 1);
    EXPECT_EQ(Log(), L"") << "no line for the skipped junk files";
}

TEST_F(CleanPageTest, BackupThenRestoreFromTheOptionsMenuBringsEveryFileBackByteForByte)
{
    const std::wstring tree = kvtest::ScratchFolder(L"CleanPageBackup");
    const std::string binary("\x00\xff\r\n\x1a tail", 9);
    kvtest::PutFile(tree + L"junk\\a.tmp", "first");
    kvtest::PutFile(tree + L"junk\\deep\\a.tmp", binary); // same name, another folder
    kv::CreateFolderPath(tree + L"backup\\");
    OpenClean();
    AddResult(tree + L"junk\\a.tmp");
    AddResult(tree + L"junk\\deep\\a.tmp");
    OnlyJunkRow();
    form->Settings.CleanMethod = kv::cmBackupFolder;
    form->Settings.SpecificFolder = tree + L"backup\\";
    form->Settings.DeletionFile = L"Backup.txt";
    kvtest::Click(*form->CleanNowButton);

    EXPECT_FALSE(kvtest::PathExists(tree + L"junk\\a.tmp"));
    EXPECT_FALSE(kvtest::PathExists(tree + L"junk\\deep\\a.tmp"));
    EXPECT_EQ(kvtest::ReadBytes(kv::BackupCopyPath(tree + L"backup\\", tree + L"junk\\a.tmp")), "first");
    EXPECT_EQ(kvtest::ReadBytes(kv::BackupCopyPath(tree + L"backup\\", tree + L"junk\\deep\\a.tmp")), binary);
    const auto log = kv::ReadBackupLog(tree + L"backup\\Backup.txt");
    ASSERT_TRUE(log.has_value());
    EXPECT_NE(log->find(tree + L"junk\\a.tmp\r\n"), std::wstring::npos);
    EXPECT_NE(log->find(tree + L"junk\\deep\\a.tmp\r\n"), std::wstring::npos);
    EXPECT_EQ(Log(), L"01.  " + kv::LanguageText(88) + L"\r\n");
    EXPECT_EQ(Results().Count(), 0);

    // The options menu's restore runs first, then shows the dialog.
    kvtest::MessageBoxAnswerer boxes(IDOK);
    kvtest::WhenShown close(L"TSpecifyFolderForm", [](HWND dialog) {
        kvtest::Click(kvtest::ControlById(dialog, kv::TSpecifyFolderForm::idCancelButton));
    });
    form->RestorefilesfromSpecificFolder->Click();
    EXPECT_TRUE(close.Ran());
    EXPECT_EQ(kvtest::ReadBytes(tree + L"junk\\a.tmp"), "first");
    EXPECT_EQ(kvtest::ReadBytes(tree + L"junk\\deep\\a.tmp"), binary);
    ASSERT_FALSE(boxes.Boxes().empty());
    EXPECT_EQ(boxes.Boxes().back().text, kv::LanguageText(165));
}

} // namespace
