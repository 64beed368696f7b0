// A small DLL whose import table the hook tests patch: it calls two kernel32
// procedures through its own import cells and tells where those cells are,
// so that the tests check the patches against the linker's own record.
#include <windows.h>

// The import cells the linker made for the two procedures.
extern void* ProcessIdCell asm("__imp__GetCurrentProcessId@0");
extern void* TickCountCell asm("__imp__GetTickCount@0");

extern "C" {

__declspec(dllexport) DWORD KvHookDll_ProcessId() { return ::GetCurrentProcessId(); }
__declspec(dllexport) DWORD KvHookDll_TickCount() { return ::GetTickCount(); }
__declspec(dllexport) void* KvHookDll_ProcessIdCell() { return &ProcessIdCell; }
__declspec(dllexport) void* KvHookDll_TickCountCell() { return &TickCountCell; }

}
