#include "common/TestWatchdog.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/Handles.h"
#include "platform/MessageLoop.h"

namespace kvtest {
namespace {

// The running test, as the listener last set it. Guarded by a critical
// section: the watchdog reads it from its own thread.
struct RunningTest {
    CRITICAL_SECTION lock;
    char name[512];
    DWORD startTick;
    bool running;
};
RunningTest g_running{};

// Raw writes: the hung thread may hold the C runtime's stream lock.
void Write(HANDLE out, const char* text) { DWORD written = 0; ::WriteFile(out, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr); }

void Print(HANDLE out, const char* format, ...)
{
    char line[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    Write(out, line);
}

// ---- Windows on show

template <std::size_t N>
const char* Utf8(const wchar_t* text, char (&bytes)[N])
{
    bytes[0] = 0;
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, N - 1, nullptr, nullptr);
    bytes[N - 1] = 0;
    return bytes;
}

BOOL CALLBACK PrintWindow(HWND window, LPARAM data)
{
    DWORD process = 0;
    const DWORD thread = ::GetWindowThreadProcessId(window, &process);
    if (process != ::GetCurrentProcessId() || !::IsWindowVisible(window)) return TRUE;
    wchar_t className[128] = {}, caption[256] = {};
    char classBytes[512], captionBytes[1024];
    ::GetClassNameW(window, className, 128);
    // Not GetWindowText: it sends a message to the window's (perhaps hung) thread.
    ::InternalGetWindowText(window, caption, 256);
    Print(reinterpret_cast<HANDLE>(data), "  window %p class \"%s\" caption \"%s\" thread %lu%s\n",
          static_cast<void*>(window), Utf8(className, classBytes), Utf8(caption, captionBytes), thread,
          ::IsWindowEnabled(window) ? "" : " (disabled)");
    return TRUE;
}

// ---- Thread stacks

bool IsImageCode(DWORD address)
{
    MEMORY_BASIC_INFORMATION info{};
    if (!::VirtualQuery(reinterpret_cast<void*>(address), &info, sizeof info)) return false;
    constexpr DWORD executable = PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    return info.State == MEM_COMMIT && info.Type == MEM_IMAGE && (info.Protect & executable);
}

// A value on the stack that points just past a call instruction in loaded
// code: very likely a return address. The frame pointer chain is not used,
// since optimised code does not keep one.
bool FollowsCall(DWORD address)
{
    if (address < 0x10000 || !IsImageCode(address) || !IsImageCode(address - 7)) return false;
    const BYTE* code = reinterpret_cast<const BYTE*>(address);
    if (code[-5] == 0xE8) return true; // call rel32
    for (int length = 2; length <= 7; ++length)
        if (code[-length] == 0xFF && ((code[-length + 1] >> 3) & 7) == 2) return true; // call r/m32
    return false;
}

void PrintAddress(HANDLE out, const char* label, DWORD address)
{
    HMODULE module = nullptr;
    char path[MAX_PATH] = "?";
    if (::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                             reinterpret_cast<LPCWSTR>(address), &module))
        ::GetModuleFileNameA(module, path, MAX_PATH);
    const char* name = std::strrchr(path, '\\');
    name = name ? name + 1 : path;
    Print(out, "    %s %08lx %s+0x%lx\n", label, address, name,
          module ? address - reinterpret_cast<DWORD>(module) : 0ul);
}

// The innermost part of each stack is copied while its thread is suspended;
// nothing in that window may allocate (the thread may hold the heap's lock).
constexpr std::size_t kStackCopyBytes = 64 * 1024;
DWORD g_stackCopy[kStackCopyBytes / sizeof(DWORD)];

void PrintThread(HANDLE out, DWORD threadId)
{
    kv::KernelHandle thread(
        ::OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION, FALSE, threadId));
    Print(out, "  thread %lu%s\n", threadId, threadId == kv::MainThreadId() ? " (main)" : "");
    if (!thread) return;
    CONTEXT context{};
    context.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER;
    std::size_t words = 0;
    if (::SuspendThread(thread.Get()) == static_cast<DWORD>(-1)) return;
    const bool got = ::GetThreadContext(thread.Get(), &context);
    MEMORY_BASIC_INFORMATION stack{};
    if (got && ::VirtualQuery(reinterpret_cast<void*>(context.Esp), &stack, sizeof stack)) {
        const DWORD top = reinterpret_cast<DWORD>(stack.BaseAddress) + stack.RegionSize;
        const std::size_t bytes = std::min<std::size_t>(top - context.Esp, kStackCopyBytes);
        std::memcpy(g_stackCopy, reinterpret_cast<const void*>(context.Esp), bytes);
        words = bytes / sizeof(DWORD);
    }
    ::ResumeThread(thread.Get());
    if (!got) return;
    PrintAddress(out, "at  ", context.Eip);
    int shown = 0;
    for (std::size_t i = 0; i < words && shown < 48; ++i)
        if (FollowsCall(g_stackCopy[i])) {
            PrintAddress(out, "from", g_stackCopy[i]);
            ++shown;
        }
}

void PrintThreads(HANDLE out)
{
    kv::FileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot) return;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Thread32First(snapshot.Get(), &entry); more; more = ::Thread32Next(snapshot.Get(), &entry))
        if (entry.th32OwnerProcessID == ::GetCurrentProcessId() && entry.th32ThreadID != ::GetCurrentThreadId())
            PrintThread(out, entry.th32ThreadID);
}

// ---- The watch

class WatchdogListener : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo& test) override
    {
        ::EnterCriticalSection(&g_running.lock);
        std::snprintf(g_running.name, sizeof g_running.name, "%s.%s", test.test_suite_name(), test.name());
        g_running.startTick = ::GetTickCount();
        g_running.running = true;
        ::LeaveCriticalSection(&g_running.lock);
    }
    void OnTestEnd(const ::testing::TestInfo&) override
    {
        ::EnterCriticalSection(&g_running.lock);
        g_running.running = false;
        ::LeaveCriticalSection(&g_running.lock);
    }
};

DWORD WINAPI Watch(void* parameter)
{
    const DWORD limitMs = static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(parameter)) * 1000;
    for (;;) {
        ::Sleep(250);
        char name[sizeof g_running.name];
        ::EnterCriticalSection(&g_running.lock);
        const bool overdue = g_running.running && ::GetTickCount() - g_running.startTick > limitMs;
        std::memcpy(name, g_running.name, sizeof name);
        ::LeaveCriticalSection(&g_running.lock);
        if (!overdue) continue;
        const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
        Print(out, "\n[ WATCHDOG ] %s has run longer than %lu s: ending the test executable.\n", name, limitMs / 1000);
        WriteProcessState(out);
        Print(out, "[ WATCHDOG ] %s HUNG\n", name);
        ::TerminateProcess(::GetCurrentProcess(), WatchdogExitCode);
    }
}

} // namespace

unsigned WatchdogLimitSeconds(unsigned fallback)
{
    const char* value = std::getenv("KV_TEST_WATCHDOG_SECONDS");
    const long seconds = value ? std::strtol(value, nullptr, 10) : 0;
    return seconds > 0 ? static_cast<unsigned>(seconds) : fallback;
}

void WriteProcessState(HANDLE out)
{
    Write(out, "windows on show:\n");
    ::EnumWindows(PrintWindow, reinterpret_cast<LPARAM>(out));
    Write(out, "threads (return addresses found on each stack, innermost first):\n");
    PrintThreads(out);
}

void InstallTestWatchdog(unsigned limitSeconds)
{
    ::InitializeCriticalSection(&g_running.lock);
    ::testing::UnitTest::GetInstance()->listeners().Append(new WatchdogListener);
    DWORD id = 0;
    // Lives as long as the process; never waited for.
    kv::KernelHandle watch(
        ::CreateThread(nullptr, 0, Watch, reinterpret_cast<void*>(static_cast<std::uintptr_t>(limitSeconds)), 0, &id));
}

} // namespace kvtest
