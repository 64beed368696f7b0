#include "crashreport/core/EWindows.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "platform/Exceptions.h"
#include "platform/Handles.h"

namespace kv::crashreport {
namespace {

std::vector<HWND> g_ownWindowsSnapshot;
std::string g_restartFolder;

constexpr LONG kToolWindowStyle = WS_EX_TOOLWINDOW; // 0x80
constexpr LONG kAppWindowStyle = WS_EX_APPWINDOW;   // 0x40000

bool HasClassName(HWND window, const char* className)
{
    char buffer[64] = {};
    return ::GetClassNameA(window, buffer, sizeof buffer) > 0 && std::strcmp(buffer, className) == 0;
}

DWORD WindowProcessId(HWND window)
{
    DWORD processId = 0;
    ::GetWindowThreadProcessId(window, &processId);
    return processId;
}

struct WindowSearch {
    DWORD processId;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM data)
{
    return GuardedCallback<BOOL>(FALSE, [&] {
        auto& search = *reinterpret_cast<WindowSearch*>(data);
        if (search.processId == 0 || WindowProcessId(window) == search.processId) search.windows.push_back(window);
        return TRUE;
    });
}

// Top-level windows of one process (or of every process with processId 0).
std::vector<HWND> TopLevelWindows(DWORD processId)
{
    WindowSearch search{processId, {}};
    ::EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.windows;
}

bool IsStandAloneOwner(HWND owner)
{
    return owner == nullptr || owner == ::GetDesktopWindow() || IsAppObjectWindow(owner);
}

} // namespace

bool WindowHasArea(HWND window)
{
    RECT r{};
    return ::GetWindowRect(window, &r) && r.right - r.left > 0 && r.bottom - r.top > 0;
}

bool IsAppObjectWindow(HWND window) { return HasClassName(window, "TApplication"); }

bool IsProcessMainWindow(HWND window)
{
    if (!::IsWindowVisible(window) || !WindowHasArea(window)) return false;
    HWND owner = ::GetWindow(window, GW_OWNER);
    if (!IsStandAloneOwner(owner) && (::GetWindowLongA(owner, GWL_EXSTYLE) & kToolWindowStyle))
        owner = ::GetWindow(owner, GW_OWNER);
    if (!IsStandAloneOwner(owner)) return false;
    const LONG style = ::GetWindowLongA(window, GWL_EXSTYLE);
    return !((style & kToolWindowStyle) && !(style & kAppWindowStyle));
}

HWND FindProcessMainWindow(DWORD processId)
{
    for (HWND window : TopLevelWindows(processId))
        if (IsProcessMainWindow(window)) return window;
    return nullptr;
}

bool ProcessHasIDEWindow(DWORD processId)
{
    const std::vector<HWND> windows = TopLevelWindows(processId);
    return std::any_of(windows.begin(), windows.end(), [](HWND w) { return HasClassName(w, "TAppBuilder"); });
}

RECT GetProcessWindowsRect(DWORD processId)
{
    RECT total{-1, -1, -1, -1};
    bool any = false;
    for (HWND window : TopLevelWindows(processId)) {
        RECT r{};
        if (!::IsWindowVisible(window) || !::GetWindowRect(window, &r) || r.right - r.left <= 0) continue;
        if (!any)
            total = r;
        else
            ::UnionRect(&total, &total, &r);
        any = true;
    }
    return total;
}

bool IsOwnProcessWindow(HWND window) { return WindowProcessId(window) == ::GetCurrentProcessId(); }

bool IsNewTopLevelWindow(HWND window)
{
    return std::find(g_ownWindowsSnapshot.begin(), g_ownWindowsSnapshot.end(), window) == g_ownWindowsSnapshot.end();
}

void SnapshotOwnWindows() { g_ownWindowsSnapshot = TopLevelWindows(::GetCurrentProcessId()); }

bool SetClipboardAnsiText(std::string_view text)
{
    if (text.empty() || !::OpenClipboard(nullptr)) return false;
    bool handedOver = false;
    GlobalMemory block(::GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, text.size() + 1));
    if (block) {
        if (void* target = ::GlobalLock(block.Get())) {
            std::memcpy(target, text.data(), text.size());
            static_cast<char*>(target)[text.size()] = '\0';
            ::GlobalUnlock(block.Get());
            ::EmptyClipboard();
            // From here on the block belongs to the clipboard.
            if (::SetClipboardData(CF_TEXT, block.Get())) {
                block.Release();
                handedOver = true;
            }
        }
    }
    ::CloseClipboard();
    return handedOver;
}

void SetRestartFolder(std::string folder) { g_restartFolder = std::move(folder); }

bool StartProgramAgain()
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    ::GetStartupInfoA(&startup);
    PROCESS_INFORMATION process{};
    std::string commandLine = ::GetCommandLineA();
    const bool started = ::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                                          CREATE_NEW_PROCESS_GROUP | NORMAL_PRIORITY_CLASS, nullptr,
                                          g_restartFolder.empty() ? nullptr : g_restartFolder.c_str(), &startup,
                                          &process);
    if (!started) return false;
    KernelHandle processHandle(process.hProcess), threadHandle(process.hThread);
    return true;
}

void TerminateOrRestartApplication(bool restart)
{
    if (restart) StartProgramAgain();
    // No unit finalisation after a crash: they may run into the damage.
    ::TerminateProcess(::GetCurrentProcess(), 1);
    ::ExitProcess(1);
}

} // namespace kv::crashreport
