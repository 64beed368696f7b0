// A DLL that carries the crash reporter and its data, loaded by
// kv_crash_probe_data: its reporter passes its captures on to the program's.
#include <windows.h>
#include <httpext.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "crashreport/core/EFrameworkHandlers.h"
#include "crashreport/core/capture/ECapture.h"
#include "platform/Exceptions.h"

class ProbeDllError : public std::runtime_error {
public:
    ProbeDllError() : std::runtime_error("in the DLL") {}
};

namespace {
[[gnu::noinline]] void ThrowInDll() { throw ProbeDllError(); }
} // namespace

// Throws and catches inside the DLL.
extern "C" __declspec(dllexport) int ProbeDllThrowCaught()
{
    try {
        ThrowInDll();
    } catch (const ProbeDllError&) {
        return 1;
    }
    return 0;
}

// A failure inside one of the DLL's callbacks: the DLL's handler slot. The
// handler the reporter calls on to is a quiet one (no message box).
extern "C" __declspec(dllexport) void ProbeDllGuardedThrow()
{
    kv::crashreport::UnhookPackageHandlers();
    kv::SetApplicationExceptionHandler([](const std::exception_ptr&) {});
    kv::crashreport::HookPackageHandlers();
    kv::GuardedCallback([] { ThrowInDll(); });
}

namespace {
std::string g_pages;

void KeepPage(HANDLE file, const void* buffer, DWORD count)
{
    g_pages += file ? "[file]" : "[client]";
    g_pages.append(static_cast<const char*>(buffer), count);
}
} // namespace

// An ISAPI extension's entry point: the reporter detours it when the DLL
// starts, so that what it writes to the client passes the reporter's sink.
extern "C" __declspec(dllexport) __attribute__((noinline, ms_hook_prologue)) DWORD WINAPI
HttpExtensionProc(EXTENSION_CONTROL_BLOCK* block)
{
    char page[] = "<html>page</html>";
    DWORD length = sizeof page - 1;
    block->WriteClient(block->ConnID, page, &length, 0);
    return HSE_STATUS_SUCCESS;
}

// The pages the reporter's sink saw, from here on.
extern "C" __declspec(dllexport) const char* ProbeDllWatchPages(int start)
{
    if (start) {
        g_pages.clear();
        kv::crashreport::SetWebClientOutputSink(KeepPage);
    }
    return g_pages.c_str();
}

namespace {
DWORD WINAPI WaitInDll(void* release)
{
    ::WaitForSingleObject(static_cast<HANDLE>(release), 10000);
    return 0;
}
} // namespace

// A thread made inside the DLL (through the DLL's own hooks), suspended until
// ProbeDllResumeThread; it waits for `release`.
extern "C" __declspec(dllexport) HANDLE ProbeDllCreateThread(HANDLE release, DWORD* id)
{
    return ::CreateThread(nullptr, 0, WaitInDll, release, CREATE_SUSPENDED, id);
}

extern "C" __declspec(dllexport) void ProbeDllResumeThread(HANDLE thread) { ::ResumeThread(thread); }
