#include "common/ChildWindows.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "common/TestSupport.h"
#include "platform/Handles.h"
#include "platform/TextCodec.h"

namespace kvtest {
namespace {

struct ChildSearch {
    DWORD processId;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectChildWindow(HWND window, LPARAM data)
{
    auto* search = reinterpret_cast<ChildSearch*>(data);
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    if (process == search->processId && ::IsWindowVisible(window)) search->windows.push_back(window);
    return TRUE;
}

std::wstring ClassNameOf(HWND window)
{
    wchar_t name[256] = {};
    ::GetClassNameW(window, name, 256);
    return name;
}

} // namespace

int RunProcessServingWindows(const std::wstring& commandLine, const ChildWindowServer& serve, DWORD timeoutMs)
{
    std::wstring line = commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    kv::KernelHandle processHandle(process.hProcess);
    kv::KernelHandle threadHandle(process.hThread);
    std::set<HWND> served;
    const DWORD start = ::GetTickCount();
    // Without windows to serve there is nothing to look at while it runs.
    const DWORD slice = serve ? 20 : timeoutMs;
    while (::WaitForSingleObject(processHandle.Get(), slice) == WAIT_TIMEOUT) {
        if (::GetTickCount() - start >= timeoutMs) {
            ::TerminateProcess(processHandle.Get(), 999);
            ::WaitForSingleObject(processHandle.Get(), 5000);
            return -2;
        }
        if (!serve) continue;
        ChildSearch search{process.dwProcessId, {}};
        ::EnumWindows(CollectChildWindow, reinterpret_cast<LPARAM>(&search));
        for (HWND window : search.windows)
            if (served.insert(window).second) serve(window, ClassNameOf(window));
    }
    DWORD code = 0;
    ::GetExitCodeProcess(processHandle.Get(), &code);
    return static_cast<int>(code);
}

std::wstring CopyProgramTo(const std::wstring& fileName, const std::wstring& folder)
{
    const std::wstring source = ExecutableFolder() + fileName;
    const std::wstring target = folder + fileName;
    if (::CopyFileW(source.c_str(), target.c_str(), FALSE)) return target;
    // Refused (a copy there still in use, say): good enough when the copy
    // there is this very build, by its size and time; otherwise the test would
    // run an older program, or none, and fail for a reason of its own.
    const DWORD error = ::GetLastError();
    WIN32_FILE_ATTRIBUTE_DATA from{}, there{};
    const bool same = ::GetFileAttributesExW(source.c_str(), GetFileExInfoStandard, &from) &&
                      ::GetFileAttributesExW(target.c_str(), GetFileExInfoStandard, &there) &&
                      from.nFileSizeLow == there.nFileSizeLow && from.nFileSizeHigh == there.nFileSizeHigh &&
                      ::CompareFileTime(&from.ftLastWriteTime, &there.ftLastWriteTime) == 0;
    if (!same)
        ADD_FAILURE() << "cannot copy " << kv::WideToUtf8(fileName) << " to " << kv::WideToUtf8(folder) << " (error "
                      << error << ")";
    return target;
}

} // namespace kvtest
