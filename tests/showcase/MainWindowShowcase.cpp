// The real start-up windows with one page of the main window on show, for
// screenshots (tools/screenshot.sh):
//   kv_mainwindow_showcase.exe [about|path|filters|scan|clean] [seconds]
// The Path page gets a few example folders of each kind, so every row picture
// is on show; they are not saved (the run ends without storing its settings).
#include <windows.h>

#include <cwchar>
#include <string>

#include "cleaner/engine/SettingsStore.h"
#include "cleaner/engine/SharedState.h"
#include "cleaner/windows/FiltersPage.h"
#include "cleaner/windows/LangDataUnit.h"
#include "cleaner/windows/PathPage.h"
#include "cleaner/windows/StartupWindows.h"
#include "platform/forms/Timer.h"

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
        if (page == L"clean") main.CleanButtonClick();
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
