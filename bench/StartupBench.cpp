// Start-up to the visible main window against a trivial window, each a
// process of its own started by this benchmark, in turn:
//   the program: Kestrelvane.exe from a folder of its own, until its main
//                window (class TMainForm) is visible;
//   the peer:    this executable again ("--trivial"): registers a class,
//                creates a window, shows it and serves its messages.
// Each is ended (TerminateProcess) once its window is seen. One unmeasured
// pair warms the cache, then RUNS pairs, the order swapped every pair. Prints
// each median and the median of the per-pair ratios (the goal: at most 2).
//   StartupBench.exe [RUNS]          (default 7 runs)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchClock.h"
#include "BenchProcess.h"
#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/SettingsStore.h"
#include "platform/Handles.h"
#include "platform/Paths.h"

namespace {

using kvbench::Median;
using kvbench::Now;
using kvbench::OwnPath;
using kvbench::Quoted;

const std::wstring kProgramFolder = L"C:\\kvbench\\startup\\program\\";
constexpr wchar_t kTrivialClass[] = L"KestrelvaneTrivialWindow";
// A window not shown by then will not be: the benchmark says so and stops.
constexpr double kBoundSeconds = 30;

int RunTrivialWindow()
{
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = ::DefWindowProcW;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kTrivialClass;
    ::RegisterClassW(&windowClass);
    const HWND window = ::CreateWindowExW(0, kTrivialClass, L"Trivial", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                          CW_USEDEFAULT, 640, 480, nullptr, nullptr, windowClass.hInstance, nullptr);
    ::ShowWindow(window, SW_SHOWNORMAL);
    ::UpdateWindow(window);
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) ::DispatchMessageW(&message);
    return 0;
}

// Asks only for the windows of the class, not for every window on the
// desktop: under Wine each question about another process's window is a
// server round trip, and asking about all of them every millisecond slows
// the very start it measures.
bool HasShownWindow(DWORD processId, const wchar_t* className)
{
    for (HWND window = ::FindWindowExW(nullptr, nullptr, className, nullptr); window;
         window = ::FindWindowExW(nullptr, window, className, nullptr)) {
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        if (owner == processId && ::IsWindowVisible(window)) return true;
    }
    return false;
}

BOOL CALLBACK PrintWindowOf(HWND window, LPARAM processId)
{
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner != static_cast<DWORD>(processId)) return TRUE;
    wchar_t className[64] = {}, title[128] = {};
    ::GetClassNameW(window, className, 64);
    ::GetWindowTextW(window, title, 128);
    std::fprintf(stderr, "  window %ls \"%ls\"%s\n", className, title, ::IsWindowVisible(window) ? ", shown" : "");
    return TRUE;
}

// What a process that never showed the window it should have shows instead.
void ListWindowsOf(DWORD processId) { ::EnumWindows(PrintWindowOf, static_cast<LPARAM>(processId)); }

// Seconds from the start of `commandLine` to a visible top-level window of
// `className` of that process; the process is ended then.
double TimeToShownWindow(const std::wstring& commandLine, const wchar_t* className)
{
    const double start = Now();
    const kvbench::ChildProcess child(commandLine);
    const HANDLE process = child.process.Get();
    double seconds = 0;
    for (;;) {
        if (HasShownWindow(child.info.dwProcessId, className)) {
            seconds = Now() - start;
            break;
        }
        if (::WaitForSingleObject(process, 1) == WAIT_OBJECT_0) {
            std::fprintf(stderr, "ended without showing its window: %ls\n", commandLine.c_str());
            std::exit(2);
        }
        if (Now() - start > kBoundSeconds) {
            ListWindowsOf(child.info.dwProcessId);
            ::TerminateProcess(process, 3);
            std::fprintf(stderr, "no window after %.0f s: %ls\n", kBoundSeconds, commandLine.c_str());
            std::exit(2);
        }
    }
    ::TerminateProcess(process, 0);
    ::WaitForSingleObject(process, INFINITE);
    return seconds;
}

// The program in a folder of its own, with the language it wrote there as
// the chosen one (no chooser before the main window).
std::wstring PrepareProgram()
{
    const std::wstring exe = kvbench::CopyProgramInto(kProgramFolder);
    kv::TSettings settings;
    settings.Language = L"Template.ini";
    kv::SaveSettings(settings, kv::CurrentSettingsKey);
    return exe;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 2 && std::wstring(argv[1]) == L"--trivial") return RunTrivialWindow();
    const int runs = argc > 1 ? std::max(1, _wtoi(argv[1])) : 7;
    const std::wstring program = Quoted(PrepareProgram());
    const std::wstring trivial = Quoted(OwnPath()) + L" --trivial";

    std::vector<double> programTimes, trivialTimes, ratios;
    for (int run = -1; run < runs; ++run) {
        double times[2] = {};
        for (int turn = 0; turn < 2; ++turn) {
            const bool isProgram = (turn + run) % 2 == 0;
            times[isProgram ? 0 : 1] =
                isProgram ? TimeToShownWindow(program, L"TMainForm") : TimeToShownWindow(trivial, kTrivialClass);
        }
        if (run < 0) continue; // the warm-up pair
        programTimes.push_back(times[0]);
        trivialTimes.push_back(times[1]);
        ratios.push_back(times[0] / times[1]);
        std::printf("run %d: Kestrelvane %.3f s, trivial window %.3f s, ratio %.2f\n", run + 1, times[0], times[1],
                    ratios.back());
        std::fflush(stdout);
    }
    std::printf("\n%d runs, medians: Kestrelvane %.3f s; trivial window %.3f s; ratio %.2f (goal: at most 2)\n", runs,
                Median(programTimes), Median(trivialTimes), Median(ratios));
    return 0;
}
