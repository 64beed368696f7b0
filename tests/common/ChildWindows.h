#pragma once
// Runs a program of the build as its own process and works the windows it
// shows, as a person at the screen would: each visible top-level window of the
// child is handed over once, with its window class, and can be answered with
// posted input (the windows live in the other process; only messages without
// pointers cross over).
#include <windows.h>

#include <functional>
#include <string>

namespace kvtest {

using ChildWindowServer = std::function<void(HWND window, const std::wstring& className)>;

// The child's exit code; -1 when it cannot start, -2 when it had to be ended
// after `timeoutMs`.
int RunProcessServingWindows(const std::wstring& commandLine, const ChildWindowServer& serve,
                             DWORD timeoutMs = 60000);

// Copies a program of the build (beside the test executable) into `folder`, so
// that what it writes beside itself stays in the scratch area; its new path.
std::wstring CopyProgramTo(const std::wstring& fileName, const std::wstring& folder);

} // namespace kvtest
