// A small child process for tests that need a second process.
//   kv_probe exit N        ends with exit code N
//   kv_probe mutex         exit 1 when another instance holds the program's mutex, else 0
//   kv_probe hold-mutex MS takes the program's mutex and keeps it MS milliseconds
//   kv_probe set-cookie URL NAME VALUE   stores a persistent cookie through WinInet
//   kv_probe has-cookie URL NAME         exit 0 when WinInet has the cookie, 1 when not
#include <windows.h>
#include <wininet.h>

#include <cstdlib>
#include <cwchar>
#include <string>

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
    if (argc >= 5 && std::wcscmp(argv[1], L"set-cookie") == 0) {
        const std::wstring data = std::wstring(argv[4]) + L"; expires=Sat, 01-Jan-2033 00:00:00 GMT";
        return ::InternetSetCookieW(argv[2], argv[3], data.c_str()) ? 0 : 2;
    }
    if (argc >= 4 && std::wcscmp(argv[1], L"has-cookie") == 0) {
        wchar_t cookies[4096] = {};
        DWORD size = 4096;
        if (!::InternetGetCookieW(argv[2], nullptr, cookies, &size)) return 1;
        return std::wstring(cookies).find(std::wstring(argv[3]) + L"=") != std::wstring::npos ? 0 : 1;
    }
    return 100;
}
