#pragma once
// Helpers the tests share: scratch folders inside the Wine prefix, small file
// utilities and the path of the probe executable.
#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

namespace kvtest {

// A fresh, empty folder C:\kvtest\<test executable>\<name>\ (with trailing
// backslash). Everything a test creates on disk lives below such a folder.
std::wstring ScratchFolder(std::wstring_view name);

// Deletes a tree below C:\kvtest\ or on the scratch drive D: only; refuses
// anything else.
void RemoveScratchTree(const std::wstring& folder);

void WriteBytes(const std::wstring& path, std::string_view bytes);
std::string ReadBytes(const std::wstring& path);
bool PathExists(const std::wstring& path);

// The folder of the running test executable, with trailing backslash.
std::wstring ExecutableFolder();
// The probe executable beside the tests (tests/probes/Probe.cpp).
std::wstring ProbePath();

// Runs a command line and returns its exit code (-1 when it cannot start).
int RunProcess(const std::wstring& commandLine, DWORD timeoutMs = 60000);
// Runs a probe executable of the build, as the probes take their work: the
// case's argument, then the log file to write.
int RunProbe(const std::wstring& probe, const std::wstring& argument, const std::wstring& logPath,
             DWORD timeoutMs = 60000);

// Runs body(0) .. body(count - 1) at once, each on its own thread made by
// ::CreateThread, and waits until all have ended.
void RunOnThreads(int count, const std::function<void(int)>& body);

} // namespace kvtest
