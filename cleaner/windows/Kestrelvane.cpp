// The program's entry point.
#include <windows.h>

#include "cleaner/windows/ProgramMain.h"
#include "cleaner/windows/StartupWindows.h"
#include "platform/ProgramPhase.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    // Every static initialiser has run: from here on an exception on the main
    // thread is the program's, not its units' start.
    kv::MarkProgramStarted();
    kv::TWindowStartup steps;
    return kv::ProgramMain(kv::CommandLineArguments(), steps);
}
