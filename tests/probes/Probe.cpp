// A small child process for tests that need a second process.
//   kv_probe exit N        ends with exit code N
//   kv_probe mutex         exit 1 when another instance holds the program's mutex, else 0
//   kv_probe hold-mutex MS takes the program's mutex and keeps it MS milliseconds
#include <windows.h>

#include <cstdlib>
#include <cwchar>

#include "cleaner/engine/FunctionUnit.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc >= 3 && std::wcscmp(argv[1], L"exit") == 0) return std::wcstol(argv[2], nullptr, 10);
    if (argc >= 2 && std::wcscmp(argv[1], L"mutex") == 0) return kv::IsAlreadyRunning() ? 1 : 0;
    if (argc >= 3 && std::wcscmp(argv[1], L"hold-mutex") == 0) {
        if (kv::IsAlreadyRunning()) return 2;
        ::Sleep(std::wcstoul(argv[2], nullptr, 10));
        return 0;
    }
    return 100;
}
