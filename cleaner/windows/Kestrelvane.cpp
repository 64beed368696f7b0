// The program's entry point.
#include <windows.h>

#include "cleaner/engine/FunctionUnit.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    // A second instance ends at once, silently.
    if (kv::IsAlreadyRunning()) return 0;
    return 0;
}
