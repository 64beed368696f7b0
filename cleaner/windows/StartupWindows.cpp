#include "cleaner/windows/StartupWindows.h"

#include "cleaner/engine/SharedState.h"
#include "cleaner/windows/LangDataUnit.h"
#include "cleaner/windows/LanguageUnit.h"
#include "platform/forms/Form.h"

namespace kv {

TWindowStartup::~TWindowStartup() { FreeWindows(); }

void TWindowStartup::InitializeApplication() { forms::Application::Instance().Initialize(L"Kestrelvane"); }

void TWindowStartup::PrepareLanguage() { PrepareStartupLanguage(); }

void TWindowStartup::CreateStartupWindows()
{
    forms::Application& application = forms::Application::Instance();
    MainForm = std::make_unique<TMainForm>();
    application.SetMainForm(MainForm.get());
    application.ShowMainForm = !RunHiddenly;
    ProgressForm = std::make_unique<TProgressForm>();
    frmGuide = std::make_unique<TfrmGuide>();
    MainForm->ProgressForm = ProgressForm.get();
    MainForm->frmGuide = frmGuide.get();
    frmGuide->AnchorSource = [main = MainForm.get()] {
        // The balloon's tail points just left of the control panel's buttons.
        GuideAnchor anchor;
        ::GetWindowRect(main->Handle(), &anchor.mainWindow);
        const RECT panel = main->MainPanel->ScreenBounds();
        const RECT controls = main->ControlPanel->ScreenBounds();
        anchor.mainPanelLeft = panel.left - anchor.mainWindow.left;
        anchor.mainPanelWidth = controls.left + 50 - panel.left;
        return anchor;
    };
}

int TWindowStartup::RunMessageLoop()
{
    const int exitCode = forms::Application::Instance().Run();
    FreeWindows();
    return exitCode;
}

void TWindowStartup::FreeWindows()
{
    MainForm.reset();
    frmGuide.reset();
    ProgressForm.reset();
}

} // namespace kv
