// The real start-up windows with one page of the main window on show, for
// screenshots (tools/screenshot.sh):
//   kv_mainwindow_showcase.exe [about|path|filters|scan|clean|cleannow] [seconds] [longer|longer-small]
// "longer" shows the window in a language whose texts are 40 % longer than
// English; "longer-small" also at the window's smallest size, 640 x 480.
// The Path page gets a few example folders of each kind, so every row picture
// is on show; they are not saved (the run ends without storing its settings).
// The Scan page shows a real scan of a small junk tree that it makes in the
// prefix (C:\kvshowcase\scan), with empty folders and broken shortcuts found too.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cwchar>
#include <string>

#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/SettingsStore.h"
#include "cleaner/engine/SharedState.h"
#include "cleaner/windows/CleanPage.h"
#include "cleaner/windows/FiltersPage.h"
#include "cleaner/windows/LangDataUnit.h"
#include "cleaner/windows/PathPage.h"
#include "cleaner/windows/ScanPage.h"
#include "cleaner/windows/StartupWindows.h"
#include "cleaner/windows/UiText.h"
#include "common/LongerLanguage.h"
#include "platform/Handles.h"
#include "platform/forms/Timer.h"

namespace {

const wchar_t kScanTree[] = L"C:\\kvshowcase\\scan";

void WriteFileOf(const std::wstring& path, DWORD size, int daysAgo)
{
    kv::CreateFolderPath(path.substr(0, path.rfind(L'\\') + 1));
    kv::FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file) return;
    ::SetFilePointer(file.Get(), static_cast<LONG>(size), nullptr, FILE_BEGIN);
    ::SetEndOfFile(file.Get());
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER when{{now.dwLowDateTime, now.dwHighDateTime}};
    // Days back, and a time of day that differs from file to file.
    const ULONGLONG seconds = static_cast<ULONGLONG>(daysAgo) * 24 * 3600 + size % 36000;
    when.QuadPart -= seconds * 10000000ULL;
    const FILETIME written{when.LowPart, when.HighPart};
    ::SetFileTime(file.Get(), nullptr, nullptr, &written);
}

// A shortcut to a program that is gone.
void WriteBrokenShortcut(const std::wstring& path, const std::wstring& target)
{
    kv::CreateFolderPath(path.substr(0, path.rfind(L'\\') + 1));
    WriteFileOf(target, 10, 0);
    IShellLinkW* link = nullptr;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(&link))))
        return;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->SetPath(target.c_str())) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        file->Save(path.c_str(), TRUE);
        file->Release();
    }
    link->Release();
    ::DeleteFileW(target.c_str());
    // The program's folder went with it.
    std::wstring folder = target.substr(0, target.rfind(L'\\'));
    for (int level = 0; level < 2; ++level) {
        ::RemoveDirectoryW(folder.c_str());
        folder.resize(folder.rfind(L'\\'));
    }
}

// Junk of many kinds, beside files that no filter names.
void MakeScanTree()
{
    const std::wstring root = std::wstring(kScanTree) + L"\\";
    const struct {
        const wchar_t* path;
        DWORD size;
        int daysAgo;
    } files[] = {
        {L"Temp\\~WRL0003.tmp", 8192, 3},          {L"Temp\\install_4f2a.tmp", 122880, 41},
        {L"Temp\\preview.temp", 2048, 9},          {L"Documents\\Letter.wbk", 24576, 120},
        {L"Documents\\~$Budget.xls", 162, 2},      {L"Documents\\Budget.xls", 30720, 2},
        {L"Downloads\\setup\\setup.err", 3120, 15}, {L"Downloads\\setup\\crash.dmp", 358400, 15},
        {L"Downloads\\notes.txt", 900, 1},         {L"Help\\Program.gid", 40960, 300},
        {L"Help\\Program.fts", 12288, 300},        {L"Help\\Program.chm", 204800, 300},
        {L"Pictures\\Thumbs.db", 11264, 60},       {L"Pictures\\pspbrwse.jbf", 5632, 60},
    };
    for (const auto& file : files) WriteFileOf(root + file.path, file.size, file.daysAgo);
    kv::CreateFolderPath(root + L"Old Projects\\");
    kv::CreateFolderPath(root + L"Downloads\\unpacked\\");
    WriteBrokenShortcut(root + L"Desktop\\Old Tool.lnk", root + L"Programs\\OldTool\\tool.exe");
}

// The Scan page after a real scan of the junk tree (its columns fit the results).
void ShowScan(kv::TMainForm& main)
{
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    MakeScanTree();
    kv::forms::ListView& paths = *main.PathPage().PathListView;
    for (int row = 0; row < paths.Count(); ++row) paths.SetChecked(row, false);
    paths.AddItem(kScanTree, {}, kv::pkIncludeWithSubFolders, true);
    main.OptionsFindEmptyFolderMenuItem->Checked = true;
    main.OptionsFindBrokenLinkFilesMenuItem->Checked = true;
    // Room for every column, as a person reading the results would make it.
    main.MaximizeButtonClick();
    main.ScanButtonClick();
    main.StartButton->Click();

}

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
    main.PathPage().PathListView->AddItem(folder, {}, kv::pkEmptyWithSubFolders, true);
    main.CleanButtonClick();
    kv::TCleanPage& page = main.CleanPage();
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
    const std::wstring language = argc > 3 ? argv[3] : L"";
    if (language.rfind(L"longer", 0) == 0) {
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        kv::LoadLanguage(kvtest::WriteLongerLanguageFile(temp));
        kv::SetUiTextSource([](int index) { return kv::LanguageText(index); });
    }
    steps.CreateStartupWindows();
    if (language == L"longer-small")
        ::SetWindowPos(steps.MainForm->Handle(), nullptr, 0, 0, kv::TMainForm::kMinWidth, kv::TMainForm::kMinHeight,
                       SWP_NOMOVE | SWP_NOZORDER);
    kv::TMainForm& main = *steps.MainForm;
    // The balloon tip would stand over the page on show.
    kv::ShowBalloonTips = false;
    kv::forms::Application& application = kv::forms::Application::Instance();

    kv::forms::Timer show(1000);
    show.OnTimer = [&] {
        show.Stop();
        if (page == L"about") main.AboutButtonClick();
        if (page == L"filters") {
            main.FiltersButtonClick();
            main.FiltersPage().FiltersListView->SetSelected(2, true);
        }
        if (page == L"scan") ShowScan(main);
        if (page == L"clean" || page == L"cleannow") ShowCleanPage(main, page == L"cleannow");
        if (page == L"path") {
            kv::forms::ListView& paths = *main.PathPage().PathListView;
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
