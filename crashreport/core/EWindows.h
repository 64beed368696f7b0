#pragma once
// Window searches the crash dialogs and the freeze watchdog rely on, the
// clipboard, and ending or restarting the process after a report.
#include <windows.h>

#include <string>
#include <string_view>

namespace kv::crashreport {

bool WindowHasArea(HWND window);
bool IsAppObjectWindow(HWND window);
// A visible, sized window that stands on its own: not owned by another
// window of the program (other than the application object), and not a tool
// window unless it asks for a taskbar button.
bool IsProcessMainWindow(HWND window);
HWND FindProcessMainWindow(DWORD processId);
bool ProcessHasIDEWindow(DWORD processId);
// The union of the process's visible top-level windows; (-1, -1, -1, -1) when none.
RECT GetProcessWindowsRect(DWORD processId);

bool IsOwnProcessWindow(HWND window);
// Not among the windows of the last SnapshotOwnWindows.
bool IsNewTopLevelWindow(HWND window);
void SnapshotOwnWindows();

// Non-empty text only; false when the clipboard could not take it.
bool SetClipboardAnsiText(std::string_view text);

// The folder a restarted program starts in (the folder current at reporter start).
void SetRestartFolder(std::string folder);
// With restart, starts the program again with this process's command line;
// then ends this process with exit code 1.
[[noreturn]] void TerminateOrRestartApplication(bool restart);
// The restart step alone: false when the new process could not start.
bool StartProgramAgain();

} // namespace kv::crashreport
