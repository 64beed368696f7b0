// The real start-up windows with one page of the main window on show, for
// screenshots (tools/screenshot.sh):
//   kv_mainwindow_showcase.exe [about|path|filters|scan|clean|cleannow] [seconds]
// The Path page gets a few example folders of each kind, so every row picture
// is on show; they are not saved (the run ends without storing its settings).
#include <windows.h>

#include <cwchar>
#include <string>

#include "cleaner/engine/SettingsStore.h"
#include "cleaner/engine/SharedState.h"
#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/windows/CleanPage.h"
#include "cleaner/windows/FiltersPage.h"
#include "cleaner/windows/LangDataUnit.h"
#include "cleaner/windows/PathPage.h"
#include "cleaner/windows/StartupWindows.h"
#include "platform/Handles.h"
#include "platform/forms/Timer.h"

namespace {

// The Clean page with a few targets checked, among them a folder to empty
// that holds some files of its own; "cleannow" then runs Clean Now on it.
void ShowCleanPage(kv::TMainForm& main, bool cleanNow)
{
    const std::wstring folder = L"C:\\users\\Public\\Kestrelvane Showcase";
    for (const wchar_t* name : {L"\\draft 1.tmp", L"\\draft 2.tmp", L"\\old\\notes.bak"}) {
        kv::CreateFolderPath(folder + name);
        kv::FileHandle file(::CreateFileW((folder + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        ::WriteFile(file.Get(), "showcase", 8, &written, nullptr);
    }
    kv::ShowBalloonTips = false; // the page itself, not the tip over it
    main.PathPage->PathListView->AddItem(folder, {}, kv::pkEmptyWithSubFolders, true);
    main.CleanButtonClick();
    kv::TCleanPage& page = *main.CleanPage;
    for (int row = 0; row < kv::ctTargetCount; ++row) page.CleanListView->SetChecked(row, false);
    for (kv::TCleanTarget row : {kv::ctJunkFiles, kv::ctSpecificFolder, kv::ctRecentDocuments})
        page.CleanListView->SetChecked(row, true);
    page.CleanPanelRegistryProgramPopupMenu[3].Checked = true;
    page.CleanRegistryTracksCheckAllMenuItemClick();
    page.UpdateTracksRows();
    main.CleanButtonClick();
    if (!cleanNow) return;
    main.ProgressForm->OnDeactivate = nullptr; // stays up for the picture
    // Pressed once the page has been drawn, as a person would.
    static kv::forms::Timer press(2000);
    press.OnTimer = [&main] {
        press.Stop();
        main.CleanNowButton->Click();
    };
    press.Start();
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring page = argc > 1 ? argv[1] : L"path";
    const int seconds = argc > 2 ? static_cast<int>(std::wcstol(argv[2], nullptr, 10)) : 30;
    kv::TWindowStartup steps;
    steps.InitializeApplication();
    kv::SettingsRoot = kv::ChooseSettingsRoot();
    kv::LoadDefaultLanguage();
    steps.CreateStartupWindows();
    kv::TMainForm& main = *steps.MainForm;
    kv::forms::Application& application = kv::forms::Application::Instance();

    kv::forms::Timer show(1000);
    show.OnTimer = [&] {
        show.Stop();
        if (page == L"about") main.AboutButtonClick();
        if (page == L"filters") {
            main.FiltersButtonClick();
            main.FiltersPage->FiltersListView->SetSelected(2, true);
        }
        if (page == L"scan") main.ScanButtonClick();
        if (page == L"clean" || page == L"cleannow") ShowCleanPage(main, page == L"cleannow");
        if (page == L"path") {
            kv::forms::ListView& paths = *main.PathPage->PathListView;
            paths.AddItem(L"C:\\users\\Public\\Downloads", {}, kv::pkIncludeWithSubFolders, true);
            paths.AddItem(L"C:\\users\\Public\\Documents\\Drafts", {}, kv::pkIncludeFolder, true);
            paths.AddItem(L"C:\\users\\Public\\Pictures", {}, kv::pkExcludeWithSubFolders, true);
            paths.AddItem(L"C:\\users\\Public\\Music\\Playlists", {}, kv::pkExcludeFolder, false);
            paths.AddItem(L"C:\\windows\\Prefetch", {}, kv::pkEmptyWithSubFolders, true);
            paths.AddItem(L"C:\\windows\\Logs", {}, kv::pkEmptyFolder, false);
            main.PathButtonClick();
        }
    };
    show.Start();
    kv::forms::Timer end(static_cast<UINT>(seconds) * 1000);
    end.OnTimer = [&] {
        // A look, not a run: nothing of it is kept.
        kv::JobMode = true;
        application.Terminate();
    };
    end.Start();
    return steps.RunMessageLoop();
}
