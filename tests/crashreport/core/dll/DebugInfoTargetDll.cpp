// A small DLL with line information, whose copies the outside debug-data
// tests load beside generated map, TD32 and JCL files.
#include <windows.h>

extern "C" __declspec(dllexport) __attribute__((noinline)) int DebugTargetSum(const int* values, int count)
{
    int sum = 0;
    for (int i = 0; i < count; ++i) {
        if (values[i] > 0) sum += values[i];
        else sum -= values[i];
    }
    return sum;
}

extern "C" __declspec(dllexport) __attribute__((noinline)) int DebugTargetSteps(int value)
{
    int steps = 0;
    while (value != 1 && steps < 1000) {
        value = (value % 2 == 0) ? value / 2 : 3 * value + 1;
        ++steps;
    }
    return steps;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
