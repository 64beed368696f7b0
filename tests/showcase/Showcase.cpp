// Shows the picture buttons in their four states, the progress window with a
// finished log and the balloon tip, for people to look at (tools/screenshot.sh).
//   kv_showcase.exe [seconds]
//   kv_showcase.exe seconds longer    the same in a language 40 % longer than English
//   kv_showcase.exe cookies [panel]   the cookies manager over a few stored cookies
// With a second argument, one dialog instead:
//   kv_showcase.exe seconds backup    the backup-folder dialog
//   kv_showcase.exe seconds task      the job-file dialog
#include <windows.h>
#include <wininet.h>

#include <cwchar>
#include <memory>

#include "cleaner/engine/SharedState.h"
#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/windows/BmpButtons.h"
#include "cleaner/windows/CookiesManagerUnit.h"
#include "cleaner/windows/CreateTaskUnit.h"
#include "cleaner/windows/GuideUnit.h"
#include "cleaner/windows/LangDataUnit.h"
#include "cleaner/windows/ProgressUnit.h"
#include "cleaner/windows/SpecifyFolderUnit.h"
#include "cleaner/windows/UiText.h"
#include "common/LongerLanguage.h"
#include "platform/Format.h"
#include "platform/forms/Form.h"
#include "platform/forms/Timer.h"

using namespace kv::forms;

namespace {

// The manager as a user meets it: cookies stored through WinInet, two names
// kept, a few rows selected and the mouse on a name too long for its list.
int CookiesShowcase(bool withPanel)
{
    Application::Instance().Initialize(L"Kestrelvane");
    const wchar_t* sites[] = {L"http://www.example.com/", L"http://ads.tracker-network.example/",
                              L"http://shop.example.org/", L"http://news.example.net/",
                              L"http://mail.example.com/", L"http://login.example.com/",
                              L"http://analytics.metrics-collector-service.example.com/",
                              L"http://forum.example.org/", L"http://video.example.tv/", L"http://bank.example.com/"};
    for (const wchar_t* site : sites) ::InternetSetCookieW(site, L"id", L"1; expires=Sat, 01-Jan-2033 00:00:00 GMT");
    kv::IECookiesFolder = kv::GetShellFolder(L"Cookies") + L"\\";
    kv::CookieKeepList = L"bank.example.com/\r\nmail.example.com/\r\n";

    kv::TCookiesManagerForm form;
    form.Show();
    auto select = [](ListBox& list, const wchar_t* name) {
        const int row = list.IndexOf(name);
        if (row >= 0) list.SetSelected(row, true);
    };
    select(*form.CookiesDeletedListBox, L"ads.tracker-network.example/");
    select(*form.CookiesDeletedListBox, L"news.example.net/");
    select(*form.CookiesSavedListBox, L"mail.example.com/");
    const int longRow = form.CookiesDeletedListBox->IndexOf(L"analytics.metrics-collector-service.example.com/");
    if (longRow >= 0) {
        const RECT row = form.CookiesDeletedListBox->ItemRect(longRow);
        form.CookiesDeletedListBoxMouseMove(40, (row.top + row.bottom) / 2);
    }
    if (withPanel) {
        form.imgAddCookieClick();
        form.edtCookieName->SetText(L"intranet.example.local/");
    }
    Timer end(8000);
    end.OnTimer = [&] { Application::Instance().Terminate(); };
    end.Start();
    Application::Instance().SetMainForm(&form);
    return Application::Instance().Run();
}

// One dialog alone, as its menu entry shows it: owned by a hidden main form
// (an owned window gets its frame drawn even with no window manager).
int ShowDialog(Application& application, const std::wstring& which, int seconds)
{
    FormStyle hostStyle;
    hostStyle.className = L"TShowcaseHost";
    Form host(hostStyle);
    application.ShowMainForm = false;
    application.SetMainForm(&host);
    Timer end(static_cast<UINT>(seconds) * 1000);
    end.OnTimer = [&] { application.Terminate(); };
    end.Start();
    kv::TSettings settings;
    settings.SpecificFolder = L"C:\\Users\\Public\\Documents\\Kestrelvane\\Backup\\";
    std::unique_ptr<Form> dialog;
    if (which == L"backup") {
        dialog = std::make_unique<kv::TSpecifyFolderForm>(settings, nullptr, host.Handle());
    } else {
        auto task = std::make_unique<kv::TCreateTaskForm>(settings, host.Handle());
        task->AutoScanCheckBox->SetChecked(true);
        task->AutoCleanCheckBox->SetChecked(true);
        task->AutoExitCheckBox->SetChecked(true);
        dialog = std::move(task);
    }
    dialog->SetBounds(40, 40, dialog->Width(), dialog->Height());
    dialog->Show();
    return application.Run();
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc > 1 && std::wcscmp(argv[1], L"cookies") == 0)
        return CookiesShowcase(argc > 2 && std::wcscmp(argv[2], L"panel") == 0);
    const int seconds = argc > 1 ? static_cast<int>(std::wcstol(argv[1], nullptr, 10)) : 30;
    Application& application = Application::Instance();
    application.Initialize(L"Kestrelvane");
    const bool longer = argc > 2 && std::wcscmp(argv[2], L"longer") == 0;
    if (argc > 2 && !longer) return ShowDialog(application, argv[2], seconds);
    kv::LoadDefaultLanguage();
    if (longer) {
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        kv::LoadLanguage(kvtest::WriteLongerLanguageFile(temp));
    }
    kv::SetUiTextSource([](int index) { return kv::LanguageText(index); });

    FormStyle style;
    style.className = L"TShowcaseForm";
    style.caption = L"Picture buttons: normal, mouse over, pressed, disabled";
    style.clientWidth = 470;
    style.clientHeight = 130;
    style.position = FormPosition::Designed;
    style.left = 20;
    style.top = 20;
    style.color = RGB(233, 238, 246);
    Form host(style);
    const wchar_t* strips[] = {L"BUTTONSTART", L"BUTTONCLEAN", L"BUTTONSTOP"};
    for (int row = 0; row < 2; ++row)
        for (int state = 0; state < 4; ++state) {
            const int id = 1 + row * 4 + state;
            host.Build({{Make<kv::TBmpButton>, L"Button", id, 0, 16 + state * 112, 16 + row * 52, 104, 32, nullptr,
                         strips[row]}});
            auto& button = host.Get<kv::TBmpButton>(id);
            if (state >= 1) button.MouseEnter();
            if (state == 2) button.MouseDown(MouseButton::Left, MK_LBUTTON, 4, 4);
            if (state == 3) button.SetEnabled(false);
        }
    application.SetMainForm(&host);
    host.Show();

    // Every step of a Clean Now with all 13 targets checked, the last one at work.
    kv::TProgressForm progress;
    const int doneTexts[] = {81, 82, 91, 93, 95, 99, 97, 101, 102, 103, 239, 241, 243};
    progress.ClearLog();
    for (int step = 1; step <= 12; ++step) progress.AddProgressLine(step, 13, kv::LanguageText(doneTexts[step - 1]));
    progress.ShowProgressText(kv::LanguageText(242));
    progress.SetBounds(40, 180, progress.Width(), progress.Height());
    progress.Show();

    kv::TfrmGuide guide;
    guide.AnchorSource = [] {
        kv::GuideAnchor anchor;
        anchor.mainWindow = RECT{280, 200, 1000, 700};
        anchor.mainPanelWidth = 720;
        return anchor;
    };
    kv::CurrentPage = kv::pgClean;
    guide.OnDeactivate = nullptr; // stays up for the picture
    progress.OnDeactivate = nullptr;
    guide.StartIfWanted();

    Timer end(static_cast<UINT>(seconds) * 1000);
    end.OnTimer = [&] { application.Terminate(); };
    end.Start();
    return application.Run();
}
