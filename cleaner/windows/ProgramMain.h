#pragma once
// The program's start-up: single instance, settings root, job file, and then
// the steps that belong to the windows (language, the start-up windows and the
// message loop), which the window code supplies through TStartupSteps.
#include <string>
#include <vector>

namespace kv {

class TStartupSteps {
public:
    virtual ~TStartupSteps() = default;
    // The application object: title "Kestrelvane", its task-bar button.
    virtual void InitializeApplication() {}
    // The language template, the chooser when the chosen file is missing, and
    // the chosen language.
    virtual void PrepareLanguage() {}
    // The main window (never shown when RunHiddenly is set; it starts the job
    // in job mode), the progress window and the guide window, in this order.
    virtual void CreateStartupWindows() {}
    // Serves messages until the main window has closed; the program's exit code.
    virtual int RunMessageLoop() { return 0; }
};

// The command-line arguments after the program's name.
std::vector<std::wstring> CommandLineArguments();

// Runs the program; `arguments` without the program's name.
int ProgramMain(const std::vector<std::wstring>& arguments, TStartupSteps& steps);

} // namespace kv
