// A test that hangs ends its executable with a failure and says where it hung:
// the watchdog of the test entry point, seen from outside. This executable
// runs itself with a short limit on a test that never ends (or one that ends
// in time) and reads what it printed.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "common/TestWatchdog.h"
#include "platform/Handles.h"

namespace {

// ---- The targets, run only in the child (hidden from a normal run).

// Where the hung test waits: its return addresses lie inside this function.
__attribute__((noinline)) void WaitInsideHere(HANDLE never)
{
    ::WaitForSingleObject(never, INFINITE);
    asm volatile(""); // keeps the call a call, not a jump
}

TEST(TestWatchdogTarget, DISABLED_WaitsForever)
{
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = ::DefWindowProcW;
    windowClass.lpszClassName = L"KvWatchdogShown";
    ::RegisterClassW(&windowClass);
    ::CreateWindowExW(0, L"KvWatchdogShown", L"waiting for nothing", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200,
                      100, nullptr, nullptr, nullptr, nullptr);
    std::printf("hang function at %08lx\n", reinterpret_cast<unsigned long>(&WaitInsideHere));
    std::fflush(stdout);
    kv::KernelHandle never(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    WaitInsideHere(never.Get());
}

TEST(TestWatchdogTarget, DISABLED_EndsInTime) { ::Sleep(500); }

// ---- The child run

struct ChildRun {
    int exitCode;
    std::string output;
};

ChildRun RunTarget(const std::wstring& test, const wchar_t* limitSeconds)
{
    const std::wstring folder = kvtest::ScratchFolder(L"TestWatchdog-" + test);
    const std::wstring outputPath = folder + L"output.txt";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    kv::FileHandle output(::CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!output) return {-1, "cannot create the output file"};
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring commandLine = std::wstring(L"\"") + self + L"\" --gtest_also_run_disabled_tests --gtest_filter=" +
                               L"TestWatchdogTarget.DISABLED_" + test;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output.Get();
    startup.hStdError = output.Get();
    PROCESS_INFORMATION process{};
    ::SetEnvironmentVariableW(L"KV_TEST_WATCHDOG_SECONDS", limitSeconds);
    const BOOL started = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                          &startup, &process);
    ::SetEnvironmentVariableW(L"KV_TEST_WATCHDOG_SECONDS", nullptr);
    if (!started) return {-1, "cannot start the child"};
    kv::KernelHandle processHandle(process.hProcess), threadHandle(process.hThread);
    output.Reset();
    if (::WaitForSingleObject(processHandle.Get(), 60000) != WAIT_OBJECT_0) {
        ::TerminateProcess(processHandle.Get(), 999);
        ::WaitForSingleObject(processHandle.Get(), 5000);
        return {-2, kvtest::ReadBytes(outputPath)};
    }
    DWORD code = 0;
    ::GetExitCodeProcess(processHandle.Get(), &code);
    return {static_cast<int>(code), kvtest::ReadBytes(outputPath)};
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// The addresses printed for the main thread ("    at   0040abcd ..." and "    from ...").
std::vector<unsigned long> MainThreadAddresses(const std::vector<std::string>& lines)
{
    std::vector<unsigned long> addresses;
    bool inMain = false;
    for (const std::string& line : lines) {
        if (line.rfind("  thread ", 0) == 0) inMain = line.find("(main)") != std::string::npos;
        else if (inMain && (line.rfind("    at", 0) == 0 || line.rfind("    from", 0) == 0))
            addresses.push_back(std::stoul(line.substr(9, 8), nullptr, 16));
    }
    return addresses;
}

TEST(TestWatchdog, AHungTestEndsTheExecutableAndSaysWhereItHung)
{
    const ChildRun run = RunTarget(L"WaitsForever", L"2");
    ASSERT_EQ(run.exitCode, static_cast<int>(kvtest::WatchdogExitCode)) << run.output;
    EXPECT_NE(run.output.find("[ RUN      ] TestWatchdogTarget.DISABLED_WaitsForever"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("[ WATCHDOG ] TestWatchdogTarget.DISABLED_WaitsForever has run longer than 2 s"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("class \"KvWatchdogShown\" caption \"waiting for nothing\""), std::string::npos)
        << "the windows on show are listed\n"
        << run.output;

    const std::size_t at = run.output.find("hang function at ");
    ASSERT_NE(at, std::string::npos) << run.output;
    const unsigned long function = std::stoul(run.output.substr(at + 17, 8), nullptr, 16);
    bool inside = false;
    for (unsigned long address : MainThreadAddresses(Lines(run.output)))
        inside = inside || (address > function && address < function + 64);
    EXPECT_TRUE(inside) << "the main thread's stack shows the function it waits in\n" << run.output;
}

TEST(TestWatchdog, ATestThatEndsInTimeIsLeftAlone)
{
    const ChildRun run = RunTarget(L"EndsInTime", L"3");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("[       OK ] TestWatchdogTarget.DISABLED_EndsInTime"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("WATCHDOG"), std::string::npos) << run.output;
}

} // namespace
