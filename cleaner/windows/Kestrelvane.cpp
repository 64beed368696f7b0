// The program's entry point.
#include <windows.h>

#include "cleaner/windows/ProgramMain.h"
#include "cleaner/windows/StartupWindows.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    kv::TWindowStartup steps;
    return kv::ProgramMain(kv::CommandLineArguments(), steps);
}
