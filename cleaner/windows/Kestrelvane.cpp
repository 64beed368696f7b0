// The program's entry point.
#include <windows.h>

#include "cleaner/windows/ProgramMain.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    kv::TStartupSteps steps;
    return kv::ProgramMain(kv::CommandLineArguments(), steps);
}
