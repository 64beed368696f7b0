#pragma once
// The window steps of the program's start-up: the application object, the
// three start-up windows in their order, and the message loop.
#include <memory>

#include "cleaner/windows/GuideUnit.h"
#include "cleaner/windows/MainUnit.h"
#include "cleaner/windows/ProgramMain.h"
#include "cleaner/windows/ProgressUnit.h"

namespace kv {

class TWindowStartup : public TStartupSteps {
public:
    ~TWindowStartup() override;

    void InitializeApplication() override;
    // The template, the chooser when the chosen file is missing, the language.
    void PrepareLanguage() override;
    // The main window (its FormCreate runs now and starts a job in job mode),
    // the progress window and the guide window.
    void CreateStartupWindows() override;
    // Until the main window closes; then the windows end, the main window
    // first (its closing work waits for the workers and saves the settings).
    int RunMessageLoop() override;

    std::unique_ptr<TMainForm> MainForm;
    std::unique_ptr<TProgressForm> ProgressForm;
    std::unique_ptr<TfrmGuide> frmGuide;

private:
    void FreeWindows();
};

} // namespace kv
