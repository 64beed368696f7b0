// The main window's frame: the drive list, page entry, navigation, menus,
// settings across a close and a new start, closing while workers run, the
// start-up windows and the job sequence.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "MainWindowTestSupport.h"
#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/RegistryFile.h"
#include "cleaner/engine/SettingsFiles.h"
#include "cleaner/windows/AboutPage.h"
#include "cleaner/windows/FiltersPage.h"
#include "cleaner/windows/PathPage.h"
#include "cleaner/windows/ScanPage.h"
#include "cleaner/windows/StartupWindows.h"
#include "common/RegistryTestSupport.h"
#include "platform/Format.h"
#include "platform/TextCodec.h"
#include "platform/WorkerThread.h"

using kv::forms::ListView;
using kvtest::MainWindowTest;

namespace {

TEST_F(MainWindowTest, DriveListShowsThePrefixDrivesCheckedUnlessStoredOff)
{
    const std::vector<std::wstring> drives = kvtest::FixedDrives();
    ASSERT_GE(drives.size(), 2u) << "the test prefix has C: and the scratch drive D:";
    kv::SaveScanDrives({{L"D:", false}});
    Open();
    ASSERT_EQ(form->DriveCount, static_cast<int>(drives.size()));
    const auto rows = kvtest::ReadRows(Paths());
    ASSERT_GE(rows.size(), drives.size());
    for (std::size_t i = 0; i < drives.size(); ++i) {
        EXPECT_EQ(rows[i].caption, drives[i]);
        EXPECT_EQ(rows[i].image, kv::pkDrive);
        EXPECT_EQ(rows[i].checked, drives[i] != L"D:") << drives[i];
        EXPECT_GT(kv::ClusterSizes[static_cast<std::size_t>(drives[i][0] - L'A')], 0u) << drives[i];
    }
    EXPECT_FALSE(kv::CurrentUserSid.empty());
    // Entering the page fills in each drive's details.
    kvtest::Click(*form->PathButton);
    EXPECT_FALSE(kvtest::ReadRows(Paths())[0].subItems.at(1).empty()) << "capacity of C:";
    EXPECT_FALSE(kvtest::ReadRows(Paths())[0].subItems.at(2).empty()) << "free space of C:";
}

TEST_F(MainWindowTest, TargetFoldersAreFoundAtCreation)
{
    Open();
    EXPECT_EQ(kv::UserTempFolder, kv::GetTruePathName(kv::GetTempFolder()));
    EXPECT_EQ(kv::WinTempFolder, kv::GetWindowsFolder() + L"\\Temp\\");
    EXPECT_EQ(kv::RecentFolder.back(), L'\\');
    EXPECT_FALSE(kv::UltraEditIniFile.empty());
    EXPECT_EQ(form->OSVersionText, L"61") << "Wine reports Windows 7";
    EXPECT_TRUE(form->IsWindowsNT);
}

struct PageCase {
    int page;
    const wchar_t* caption;
    bool controls; // add, delete, check all, remove all enabled (start, stop, clean now off)
    int addHint, deleteHint;
};

TEST_F(MainWindowTest, EachPageSetsItsButtonsCaptionAndHints)
{
    Open();
    const PageCase cases[] = {
        {kv::pgPath, L"----- Path -----", true, 132, 133},
        {kv::pgFilters, L"----- Filters -----", true, 134, 135},
        {kv::pgAbout, L"----- About -----", false, 120, 121},
    };
    for (const PageCase& c : cases) {
        kvtest::Click(form->PageButton(c.page));
        EXPECT_EQ(kv::CurrentPage.load(), c.page);
        EXPECT_EQ(kvtest::TextOf(*form->MenuCaptionLabel), c.caption);
        for (kv::TBmpButton* button : {form->AddButton, form->DeleteButton, form->CheckAllButton, form->RemoveAllButton})
            EXPECT_EQ(button->Enabled(), c.controls) << c.caption;
        for (kv::TBmpButton* button :
             std::initializer_list<kv::TBmpButton*>{form->StartButton, form->StopButton, form->CleanNowButton})
            EXPECT_FALSE(button->Enabled()) << c.caption;
        EXPECT_EQ(form->AddButton->Hint(), kv::LanguageText(c.addHint));
        EXPECT_EQ(form->DeleteButton->Hint(), kv::LanguageText(c.deleteHint));
        for (int page = 0; page < kv::MainPageCount; ++page)
            EXPECT_EQ(form->PageButton(page).Enabled(), page != c.page) << "the current page's button is disabled";
        EXPECT_TRUE(form->PagePanel(c.page).Visible());
    }
    EXPECT_EQ(kvtest::TextOf(*form->IndexLabel), kv::LanguageText(115)) << "About shows its button's hint";
    kvtest::Click(*form->PathButton);
    EXPECT_EQ(kvtest::TextOf(*form->IndexLabel), L"<Path Panel>");
}

TEST_F(MainWindowTest, FirstActivationEntersTheScanPageAndShowsTheVersion)
{
    Open();
    EXPECT_EQ(kv::CurrentPage.load(), kv::pgScan);
    EXPECT_FALSE(form->FirstActivate);
    EXPECT_EQ(form->AboutPage().AppInfoListView->SubItem(kv::TAboutPage::rowVersion, 1), kv::ReadFileVersionText());
}

TEST_F(MainWindowTest, NavigationFollowsAScanAndTheLanguageKeepsThePage)
{
    Open();
    kvtest::Click(*form->FiltersButton);
    form->EnableNavigation(false);
    for (int page = 0; page < kv::MainPageCount; ++page) EXPECT_FALSE(form->PageButton(page).Enabled());
    EXPECT_FALSE(form->StartButton->Enabled());
    EXPECT_TRUE(form->StopButton->Enabled());
    // Every page button is disabled now; applying the language must not take
    // the user to another page.
    kv::ApplyLanguage(*form);
    EXPECT_EQ(kv::CurrentPage.load(), kv::pgFilters);
    form->EnableNavigation(true);
    EXPECT_TRUE(form->AboutButton->Enabled());
    EXPECT_FALSE(form->StopButton->Enabled());
}

TEST_F(MainWindowTest, LanguageTextsReachControlsAndMenus)
{
    kv::LanguageStrings[55] = L"Trouver les raccourcis";
    kv::LanguageStrings[20] = L"Chemin";
    kv::LanguageStrings[116] = L"Double-cliquez";
    Open();
    EXPECT_EQ(form->OptionsFindBrokenLinkFilesMenuItem->Caption, L"Trouver les raccourcis");
    EXPECT_EQ(Paths().ColumnCaption(0), L"Chemin");
    EXPECT_EQ(Paths().Hint(), L"Double-cliquez");
    EXPECT_EQ(form->PathButton->Text(), L"Chemin");
    EXPECT_EQ(form->AboutPage().AppInfoListView->Caption(0), L"Developer:");
}

TEST_F(MainWindowTest, HoverMarkerRunsFromTheButtonToCleanOnlyWhenIdle)
{
    Open();
    kvtest::MoveMouseTo(*form->FiltersButton);
    EXPECT_EQ(form->GreenBar->Top(), 128);
    EXPECT_EQ(form->GreenBar->Height(), 100);
    kv::StopRequested = 0;
    kvtest::MoveMouseTo(*form->AboutButton);
    EXPECT_EQ(form->GreenBar->Top(), 128) << "a running scan keeps the marker";
    kv::StopRequested = 1;
    kvtest::MoveMouseAway(*form->AboutButton);
    kvtest::MoveMouseTo(*form->AboutButton);
    EXPECT_EQ(form->GreenBar->Top(), 32);
    EXPECT_EQ(form->GreenBar->Top() + form->GreenBar->Height(), 228);
}

TEST_F(MainWindowTest, MaximizeAndRestoreSwapTheirButtons)
{
    Open();
    kvtest::Click(*form->MaximizeButton);
    EXPECT_TRUE(form->Maximized);
    EXPECT_FALSE(form->MaximizeButton->Visible());
    EXPECT_TRUE(form->RestoreButton->Visible());
    kvtest::Click(*form->RestoreButton);
    EXPECT_FALSE(form->Maximized);
    EXPECT_TRUE(form->MaximizeButton->Visible());
    // Restored from outside (task bar, keyboard), the buttons follow.
    ::ShowWindow(form->Handle(), SW_MAXIMIZE);
    EXPECT_TRUE(form->Maximized);
    ::ShowWindow(form->Handle(), SW_RESTORE);
    EXPECT_FALSE(form->Maximized);
    MINMAXINFO info{};
    ::SendMessageW(form->Handle(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.ptMinTrackSize.x, 640);
    EXPECT_EQ(info.ptMinTrackSize.y, 480);
    EXPECT_FALSE(::GetWindowLongW(form->Handle(), GWL_STYLE) & WS_CAPTION) << "our own title bar replaces it";
}

// Pages out of view are laid out when entered: after a resize, each page
// entered fills the new room, and the page in view follows at once.
TEST_F(MainWindowTest, APageEnteredAfterAResizeFillsTheNewRoom)
{
    Open();
    ASSERT_EQ(kv::CurrentPage.load(), kv::pgScan);
    RECT frame{};
    ::GetWindowRect(form->Handle(), &frame);
    ::SetWindowPos(form->Handle(), nullptr, 0, 0, frame.right - frame.left + 120, frame.bottom - frame.top + 60,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    const auto fills = [this](int page, kv::forms::WinControl& list) {
        const kv::forms::Panel& panel = form->PagePanel(page);
        EXPECT_EQ(panel.Left() + panel.Width() + form->ControlPanel->Width(), form->MainPanel->Width()) << page;
        EXPECT_EQ(list.Width(), panel.Width()) << page;
        EXPECT_EQ(list.Height(), panel.Height()) << page;
        RECT shown{};
        ::GetWindowRect(list.Handle(), &shown);
        EXPECT_EQ(shown.right - shown.left, panel.Width()) << "the window itself, page " << page;
    };
    fills(kv::pgScan, *form->ScanPage().PageList());
    kvtest::Click(*form->PathButton);
    fills(kv::pgPath, *form->PathPage().PathListView);
    kvtest::Click(*form->FiltersButton);
    fills(kv::pgFilters, *form->FiltersPage().PageList());
}

// The pages' lists are built and filled with redraw off, which also keeps
// a list from sizing its scroll bar; entered, a page's list scrolls through
// rows it cannot show at once.
TEST_F(MainWindowTest, APagesListScrollsThroughItsRowsOnceThePageIsEntered)
{
    Open();
    kvtest::Click(*form->FiltersButton);
    auto& filters = static_cast<kv::forms::ListView&>(*form->FiltersPage().PageList());
    const int perPage = static_cast<int>(::SendMessageW(filters.Handle(), LVM_GETCOUNTPERPAGE, 0, 0));
    ASSERT_GT(filters.Count(), perPage) << "the factory filters fill more than one page";
    SCROLLINFO scroll{sizeof scroll, SIF_RANGE | SIF_PAGE};
    ASSERT_TRUE(::GetScrollInfo(filters.Handle(), SB_VERT, &scroll));
    EXPECT_NE(::GetWindowLongW(filters.Handle(), GWL_STYLE) & WS_VSCROLL, 0);
    EXPECT_GE(scroll.nMax - scroll.nMin + 1, filters.Count());
}

TEST_F(MainWindowTest, TheTitleBarsRightEndClosesOnlyThroughTheExitButton)
{
    Open();
    // Where the bar's own close area once lay (covered by the system buttons):
    // a release there is no close.
    kvtest::Release(*form->TitleBarBack3, kv::forms::MouseButton::Left, POINT{form->TitleBarBack3->Width() - 2, 2});
    EXPECT_TRUE(::IsWindowVisible(form->Handle()));
    kvtest::Click(*form->ExitButton);
    EXPECT_FALSE(::IsWindowVisible(form->Handle()));
}

TEST_F(MainWindowTest, HelpContentsWithoutAHelpFileSaysSo)
{
    Open();
    const std::wstring helpFile = kv::ProgramFolder + L"Kestrelvane.chm";
    ASSERT_EQ(::GetFileAttributesW(helpFile.c_str()), INVALID_FILE_ATTRIBUTES);
    kvtest::MessageBoxAnswerer boxes(IDOK);
    {
        kvtest::MenuChooser chooser(L"Kestrelvane Help");
        kvtest::Click(*form->HelpButton);
        ASSERT_TRUE(chooser.Chosen());
    }
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].caption, kv::LanguageText(68));
    EXPECT_EQ(boxes.Boxes()[0].text.rfind(helpFile + L"\r\n\r\n", 0), 0u) << "names the missing file";
    EXPECT_GT(boxes.Boxes()[0].text.size(), helpFile.size() + 4) << "and says what is wrong with it";
    EXPECT_EQ(boxes.Boxes()[0].owner, form->Handle());
}

TEST_F(MainWindowTest, BalloonTipsMenuFollowsTheSetting)
{
    Open();
    kv::ShowBalloonTips = false;
    {
        kvtest::MenuChooser chooser(L"Always show balloon tips");
        kvtest::Click(*form->HelpButton);
        ASSERT_TRUE(chooser.Chosen());
        EXPECT_FALSE(chooser.EntryOf(L"Always show balloon tips")->checked) << "the mark shows the setting";
    }
    EXPECT_TRUE(kv::ShowBalloonTips);
}

TEST_F(MainWindowTest, SettingsSurviveACloseAndANewStart)
{
    const std::wstring folder = kvtest::WithoutTrailingBackslash(kvtest::ScratchFolder(L"Kept"));
    Open();
    const std::wstring firstMask = ChangePathsAndFilters(folder);
    form->OptionsFindEmptyFolderMenuItem->Checked = true;
    kv::ShowBalloonTips = false;
    CloseAndEnd();

    EXPECT_TRUE(kvtest::PathExists(kv::ProgramFolder + L"Kestrelvane.reg")) << "exported at every exit";
    Open();
    ExpectPathsAndFiltersChanged(folder, firstMask);
    EXPECT_TRUE(form->OptionsFindEmptyFolderMenuItem->Checked);
    EXPECT_FALSE(kv::ShowBalloonTips);
    kv::ShowBalloonTips = true;
}

TEST_F(MainWindowTest, PagesOutOfViewAreMadeWhenFirstNeededInTheLanguageOfThatMoment)
{
    kv::SaveScanDrives({{L"D:", false}});
    Open();
    EXPECT_TRUE(form->PageMade(kv::pgScan));
    EXPECT_TRUE(form->PageMade(kv::pgClean)) << "the control panel and the Options menu carry its commands";
    for (const int page : {kv::pgAbout, kv::pgPath, kv::pgFilters}) EXPECT_FALSE(form->PageMade(page)) << page;
    EXPECT_EQ(form->FindControl(L"PathListView"), nullptr);
    EXPECT_GT(form->DriveCount, 0) << "the drives are known before their list is made";

    kv::LanguageStrings[20] = L"Chemin";
    kv::LanguageStrings[116] = L"Double-cliquez";
    kv::ApplyLanguage(*form);
    form->HintLabel->SetText(L"the hint on show");
    ListView& paths = Paths();
    EXPECT_TRUE(form->PageMade(kv::pgPath));
    EXPECT_EQ(paths.ColumnCaption(0), L"Chemin");
    EXPECT_EQ(paths.Hint(), L"Double-cliquez");
    EXPECT_EQ(kvtest::TextOf(*form->HintLabel), L"the hint on show") << "the frame's texts are not given again";
    const auto rows = kvtest::ReadRows(paths);
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(form->DriveCount));
    for (const auto& row : rows) EXPECT_EQ(row.checked, row.caption != L"D:") << row.caption;
    EXPECT_FALSE(form->PageMade(kv::pgAbout));
    EXPECT_EQ(form->AboutPage().AppInfoListView->SubItem(kv::TAboutPage::rowVersion, 1), kv::ReadFileVersionText())
        << "the version read at the first activation";
}

TEST_F(MainWindowTest, PagesNeverMadeInARunSaveTheirSettingsAsTheyWereLoaded)
{
    const std::wstring folder = kvtest::WithoutTrailingBackslash(kvtest::ScratchFolder(L"KeptUnseen"));
    Open();
    const std::wstring firstMask = ChangePathsAndFilters(folder);
    CloseAndEnd();

    Open();
    EXPECT_FALSE(form->PageMade(kv::pgPath));
    EXPECT_FALSE(form->PageMade(kv::pgFilters));
    CloseAndEnd();

    Open();
    ExpectPathsAndFiltersChanged(folder, firstMask);
}

// A worker that is still running when the window closes, and that reaches the
// window through the main thread as it ends.
class LateWorker : public kv::WorkerThread {
public:
    explicit LateWorker(std::function<void()> atEnd) : atEnd_(std::move(atEnd)) {}

protected:
    void Execute() override
    {
        ::Sleep(400);
        Synchronize(atEnd_);
    }

private:
    kv::WorkerThreadCounter counted_;
    std::function<void()> atEnd_;
};

TEST_F(MainWindowTest, ClosingWhileAWorkerRunsWaitsForItAndLosesNoSetting)
{
    Open();
    kv::forms::ListView* filters = &Filters();
    bool ran = false;
    kv::WorkerThread::Start<LateWorker>([&] {
        ran = true;
        filters->AddItem(L"", {L"*.late", L".late", L"Added as the worker ended"}, kv::fkInclusive, true);
    });
    ASSERT_EQ(kv::WorkerThreadCount.load(), 2);
    CloseAndEnd();
    EXPECT_TRUE(ran) << "the window waited, serving the worker";
    EXPECT_EQ(kv::WorkerThreadCount.load(), 1);
    const kv::TSettings saved = kv::LoadSettings(kv::CurrentSettingsKey);
    ASSERT_FALSE(saved.InclusiveFiles.empty());
    EXPECT_EQ(saved.InclusiveFiles.back().mask, L"*.late");
}

TEST_F(MainWindowTest, CloseAskedWhileWorkRunsCanBeRefused)
{
    Open();
    bool stopped = false;
    form->StopButton->OnClick = [&] {
        stopped = true;
        kv::StopRequested = 1;
    };
    kv::StopRequested = 0;
    {
        kvtest::MessageBoxAnswerer no(IDNO);
        form->Close();
        ASSERT_EQ(no.Boxes().size(), 1u);
        EXPECT_EQ(no.Boxes()[0].text, kv::LanguageText(75));
        EXPECT_EQ(no.Boxes()[0].caption, kv::LanguageText(145));
    }
    EXPECT_TRUE(::IsWindowVisible(form->Handle()));
    EXPECT_EQ(kv::AppClosing.load(), 0);
    EXPECT_FALSE(stopped);
    {
        kvtest::MessageBoxAnswerer yes(IDYES);
        form->Close();
    }
    EXPECT_TRUE(stopped) << "Yes acts as the Stop button";
    EXPECT_EQ(kv::AppClosing.load(), 1);
    EXPECT_FALSE(::IsWindowVisible(form->Handle()));
}

struct MenuDialogCase {
    const wchar_t* entry;
    const wchar_t* dialogClass;
};

TEST_F(MainWindowTest, OptionsMenuEntriesOpenTheirDialogs)
{
    Open();
    const MenuDialogCase cases[] = {
        {L"Create a Task File", L"TCreateTaskForm"},
        {L"Cookies Manager", L"TCookiesManagerForm"},
        {L"Language", L"TLanguageForm"},
    };
    for (const MenuDialogCase& c : cases) {
        kvtest::WhenShown dialog(c.dialogClass, [](HWND window) { kv::forms::Form::FromHandle(window)->Close(); });
        kvtest::MenuChooser chooser(c.entry);
        kvtest::Click(*form->OptionsButton);
        ASSERT_TRUE(chooser.Chosen()) << c.entry;
        EXPECT_TRUE(dialog.Ran()) << c.dialogClass;
        EXPECT_EQ(kvtest::FindForm(c.dialogClass), nullptr) << "freed after use";
    }
}

TEST_F(MainWindowTest, ExportWritesTheChosenFile)
{
    const std::wstring file = kvtest::ScratchFolder(L"Export") + L"mine.reg";
    Open();
    kvtest::MessageBoxAnswerer ok(IDOK);
    kvtest::FileDialogAnswer answer(file);
    {
        kvtest::MenuChooser chooser(L"Export Settings");
        kvtest::Click(*form->OptionsButton);
        ASSERT_TRUE(chooser.Chosen());
    }
    EXPECT_EQ(answer.LastDefaultExt, L"*.reg");
    EXPECT_EQ(answer.LastFilter, L"Windows Registry Files|*.reg");
    ASSERT_EQ(ok.Boxes().size(), 2u) << "the question, then the result";
    EXPECT_EQ(ok.Boxes()[1].text, kv::Format(kv::LanguageText(213), {file}));
    const auto sections = kv::ParseRegistryFile(kvtest::ReadBytes(file));
    ASSERT_TRUE(sections.has_value());
    EXPECT_EQ(sections->front().key, L"HKEY_CURRENT_USER\\" + std::wstring(kv::CurrentSettingsKey));
}

TEST_F(MainWindowTest, ImportOfAForeignFileIsRefusedBeforeClosing)
{
    const std::wstring file = kvtest::ScratchFolder(L"Import") + L"other.reg";
    kvtest::WriteBytes(file, kvtest::UnicodeRegFile(L"[HKEY_CURRENT_USER\\Software\\Elsewhere]\r\n\"A\"=\"1\"\r\n"));
    Open();
    kvtest::MessageBoxAnswerer ok(IDOK);
    kvtest::FileDialogAnswer answer(file);
    form->OptionsImportSettingMenuItemClick();
    ASSERT_EQ(ok.Boxes().size(), 1u);
    EXPECT_EQ(ok.Boxes()[0].text, kv::Format(kv::ImportRefusedText, {file}));
    EXPECT_TRUE(kv::PendingImport.empty());
    EXPECT_TRUE(::IsWindowVisible(form->Handle())) << "the program stays open";
}

TEST_F(MainWindowTest, ImportOfOwnSettingsClosesAndIsAppliedAtTheEnd)
{
    const std::wstring file = kvtest::ScratchFolder(L"Import") + L"mine.reg";
    kv::TSettings exported = kv::LoadSettings();
    exported.DeletionFile = L"FromTheFile.txt";
    ASSERT_TRUE(kv::ExportSettingsFile(exported, file));
    kv::DeleteRegistryTree(HKEY_CURRENT_USER, kv::LegacySettingsKey);
    Open();
    {
        kvtest::MessageBoxAnswerer ok(IDOK);
        kvtest::FileDialogAnswer answer(file);
        form->OptionsImportSettingMenuItemClick();
        ASSERT_EQ(ok.Boxes().size(), 1u);
        EXPECT_EQ(ok.Boxes()[0].text, kv::LanguageText(204));
    }
    EXPECT_EQ(kv::PendingImport, file);
    EXPECT_FALSE(::IsWindowVisible(form->Handle()));
    form.reset();
    EXPECT_EQ(kv::LoadSettings(kv::CurrentSettingsKey).DeletionFile, L"FromTheFile.txt");
}

TEST_F(MainWindowTest, UpdateCheckFromTheHelpMenuReportsAnUpToDateCopy)
{
    const char* port = std::getenv("KV_TEST_HTTP_PORT");
    const char* root = std::getenv("KV_TEST_HTTP_ROOT");
    ASSERT_TRUE(port && root) << "run through tools/with-test-servers.sh";
    const std::wstring updates = kv::AnsiToWide(root) + L"updates.txt";
    kvtest::WriteBytes(updates, "0.0.1\r\n");
    ::SetEnvironmentVariableA("KESTRELVANE_UPDATE_SERVER", (std::string("127.0.0.1:") + port).c_str());
    Open();
    kvtest::MessageBoxAnswerer ok(IDOK);
    {
        kvtest::MenuChooser chooser(L"Check For Update");
        kvtest::Click(*form->HelpButton);
        ASSERT_TRUE(chooser.Chosen());
    }
    EXPECT_TRUE(kvtest::PumpUntil([&] { return !ok.Boxes().empty() && kv::WorkerThreadCount.load() == 1; }, 20000));
    ::SetEnvironmentVariableA("KESTRELVANE_UPDATE_SERVER", nullptr);
    ::DeleteFileW(updates.c_str());
    ASSERT_EQ(ok.Boxes().size(), 1u);
    EXPECT_EQ(ok.Boxes()[0].text, kv::LanguageText(78));
    EXPECT_TRUE(form->CheckForUpdatesMenuItem->Enabled);
    EXPECT_EQ(kvtest::TextOf(*form->IndexLabel), L"") << "the status line is cleared after the exchange";
}

TEST_F(MainWindowTest, HiddenJobWithoutAutoExitStillClosesAndSavesNothing)
{
    const std::wstring job = kv::CurrentSettingsKey + std::wstring(kv::JobSubKey);
    kv::SaveSettings(kv::TSettings{}, job);
    {
        kv::RegistryIniView view(HKEY_CURRENT_USER, job);
        view.WriteBool(L"Job", L"AutoScan", false);
        view.WriteBool(L"Job", L"AutoClean", false);
        view.WriteBool(L"Job", L"AutoExit", false);
    }
    kv::JobMode = true;
    kv::RunHiddenly = true;
    kv::SettingsRoot = job;
    form = std::make_unique<kv::TMainForm>();
    EXPECT_EQ(kv::ScanDone.load(), 1) << "no scan asked: done at once";
    EXPECT_TRUE(form->JobTimer.Enabled());
    form->Show();
    EXPECT_TRUE(kvtest::PumpUntil([&] { return !::IsWindowVisible(form->Handle()); }, 4000)) << "closed by the job";
    form.reset();
    EXPECT_FALSE(kv::RegistryKeyExists(HKEY_CURRENT_USER, job)) << "the job keys go at exit";
    EXPECT_FALSE(kv::RegistryKeyExists(HKEY_CURRENT_USER, kv::CurrentSettingsKey + std::wstring(L"\\Settings")))
        << "a job run saves nothing";
}

TEST_F(MainWindowTest, StopPressedDuringAJobKeepsTheProgramOpen)
{
    kv::JobMode = true;
    kv::SettingsRoot = kv::CurrentSettingsKey + std::wstring(kv::JobSubKey);
    {
        kv::RegistryIniView view(HKEY_CURRENT_USER, kv::SettingsRoot);
        view.WriteBool(L"Job", L"AutoScan", false);
        view.WriteBool(L"Job", L"AutoExit", true);
    }
    Open();
    kv::StoppedByUser = 1;
    kvtest::Pump(1300);
    EXPECT_FALSE(form->JobTimer.Enabled());
    EXPECT_TRUE(::IsWindowVisible(form->Handle()));
    kv::StoppedByUser = 0;
}

TEST(StartupWindows, MakesTheThreeWindowsInOrderAndHidesTheMainOneForAHiddenRun)
{
    kvtest::StartApplication();
    kv::LoadDefaultLanguage();
    const std::wstring savedFolder = kv::ProgramFolder;
    kv::ProgramFolder = kvtest::ScratchFolder(L"StartupWindows");
    kv::SettingsRoot = kv::CurrentSettingsKey;
    kv::RunHiddenly = true;
    {
        kv::TWindowStartup steps;
        steps.InitializeApplication();
        steps.CreateStartupWindows();
        ASSERT_TRUE(steps.MainForm && steps.ProgressForm && steps.frmGuide);
        EXPECT_EQ(kv::forms::Application::Instance().MainForm(), steps.MainForm.get());
        EXPECT_FALSE(kv::forms::Application::Instance().ShowMainForm);
        EXPECT_EQ(steps.MainForm->ProgressForm, steps.ProgressForm.get());
        EXPECT_EQ(steps.MainForm->frmGuide, steps.frmGuide.get());
        EXPECT_NE(kvtest::FindForm(L"TMainForm"), nullptr);
        EXPECT_NE(kvtest::FindForm(L"TProgressForm"), nullptr);
        EXPECT_NE(kvtest::FindForm(L"TfrmGuide"), nullptr);
        // The balloon points at the control panel of the main window.
        const RECT controls = steps.MainForm->ControlPanel->ScreenBounds();
        const kv::GuideAnchor anchor = steps.frmGuide->AnchorSource();
        EXPECT_EQ(anchor.mainWindow.left + anchor.mainPanelLeft + anchor.mainPanelWidth - 340 + 298, controls.left + 8);
    }
    EXPECT_EQ(kv::forms::Application::Instance().MainForm(), nullptr);
    kv::forms::Application::Instance().ShowMainForm = true;
    kv::RunHiddenly = false;
    kv::ProgramFolder = savedFolder;
    kv::DeleteRegistryTree(HKEY_CURRENT_USER, kv::LegacySettingsKey);
}

} // namespace
