#pragma once
// Child processes for the benchmarks that time a whole program against a peer.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "cleaner/engine/FunctionUnit.h"
#include "platform/Handles.h"

namespace kvbench {

inline std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// This executable's own path.
inline std::wstring OwnPath()
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

// Copies the program, which the build puts beside the benchmark, into
// `folder` (made if missing); its new path. A benchmark that cannot stops.
inline std::wstring CopyProgramInto(const std::wstring& folder)
{
    kv::CreateFolderPath(folder);
    const std::wstring own = OwnPath();
    const std::wstring exe = folder + L"Kestrelvane.exe";
    if (!::CopyFileW((own.substr(0, own.rfind(L'\\') + 1) + L"Kestrelvane.exe").c_str(), exe.c_str(), FALSE)) {
        std::fprintf(stderr, "cannot copy Kestrelvane.exe beside %ls\n", own.c_str());
        std::exit(2);
    }
    return exe;
}

// A started child process; its handles are closed with the object.
struct ChildProcess {
    explicit ChildProcess(std::wstring commandLine)
    {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                              &info)) {
            std::fprintf(stderr, "cannot start: %ls\n", commandLine.c_str());
            std::exit(2);
        }
        process.Reset(info.hProcess);
        thread.Reset(info.hThread);
    }
    PROCESS_INFORMATION info{};
    kv::KernelHandle process, thread;
};

} // namespace kvbench
