// A child process for the exception manager's tests: it carries reporter
// data, so its reporter runs; the report procedure is the case's own and
// writes what it saw, one line per fact, to a log file.
//   kv_manager_probe CASE LOGFILE
// The exit code is the case's, or what the process died of; "done" ends the
// log of a case that ran to its end.
#include <windows.h>

#include <cxxabi.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "crashreport/core/ECore.h"
#include "crashreport/core/EErrors.h"
#include "crashreport/core/EEvents.h"
#include "crashreport/core/EExceptionManager.h"
#include "crashreport/core/EFrameworkHandlers.h"
#include "crashreport/core/EObjects.h"
#include "crashreport/core/ExceptionLog.h"
#include "crashreport/core/capture/ECapture.h"
#include "platform/Exceptions.h"
#include "platform/ProgramPhase.h"
#include "platform/TextCodec.h"
#include "ProbeSupport.h"

// Outside the anonymous namespace: the reporter reads their class names.
class ProbeError : public kv::Exception {
public:
    ProbeError() : kv::Exception(L"probe") {}
};
class EMemoryLeak : public kv::Exception {
public:
    EMemoryLeak() : kv::Exception(L"leak") {}
};
class QuietAbort : public kv::EAbort {};

namespace {

namespace cr = kv::crashreport;

HANDLE g_log = INVALID_HANDLE_VALUE;
DWORD g_mainThread = 0;

void Log(const std::string& line)
{
    DWORD written = 0;
    ::WriteFile(g_log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

using kvprobe::WriteThroughNull;

// The main thread's exception, through the guard of every window procedure:
// the application's handler slot (the reporter) reports it.
void RaiseOnMainThread()
{
    kv::GuardedCallback([] { throw ProbeError(); });
}

std::string ThreadName(DWORD thread)
{
    if (thread == g_mainThread) return "main";
    return thread == ::GetCurrentThreadId() ? "this" : "other";
}

// ---- Windows of the main thread that the report looks at

constexpr UINT kMarker = WM_APP + 1;
// Markers counted in runs: the waiting thread sleeps 10 ms between turns,
// while one turn dispatches its messages back to back.
constexpr UINT kCountedMarker = WM_APP + 2;
constexpr int kCountedMarkers = 30;
int g_countedSeen = 0;
int g_runLength = 0;
int g_longestRun = 0;
LARGE_INTEGER g_lastCounted{};
HWND g_window = nullptr;
HWND g_edit = nullptr;
HANDLE g_markerServed = nullptr;
HANDLE g_painted = nullptr;
int g_inputSeen = 0;
DWORD g_paintThread = 0;

LRESULT CALLBACK ProbeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return kv::GuardedCallback<LRESULT>(0, [&]() -> LRESULT {
        switch (message) {
        case kMarker:
            ::SetEvent(g_markerServed);
            return 0;
        case kCountedMarker: {
            LARGE_INTEGER now, frequency;
            ::QueryPerformanceCounter(&now);
            ::QueryPerformanceFrequency(&frequency);
            const bool sameTurn = g_countedSeen > 0 && (now.QuadPart - g_lastCounted.QuadPart) * 1000 < 3 * frequency.QuadPart;
            g_runLength = sameTurn ? g_runLength + 1 : 1;
            g_longestRun = g_runLength > g_longestRun ? g_runLength : g_longestRun;
            g_lastCounted = now;
            if (++g_countedSeen == kCountedMarkers) ::SetEvent(g_markerServed);
            return 0;
        }
        case WM_PAINT: {
            PAINTSTRUCT paint;
            ::BeginPaint(window, &paint);
            ::EndPaint(window, &paint);
            g_paintThread = ::GetCurrentThreadId();
            ::SetEvent(g_painted);
            return 0;
        }
        case WM_KEYDOWN:
        case WM_CHAR:
        case WM_LBUTTONDOWN:
            ++g_inputSeen;
            return 0;
        default:
            return ::DefWindowProcW(window, message, wParam, lParam);
        }
    });
}

void CreateProbeWindow(DWORD editStyle, const wchar_t* editText)
{
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = ProbeWindowProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"KvManagerProbe";
    ::RegisterClassW(&windowClass);
    g_window = ::CreateWindowExW(0, L"KvManagerProbe", L"Kestrel main", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300,
                                 200, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (editText) {
        g_edit = ::CreateWindowExW(0, L"Edit", editText, WS_CHILD | WS_VISIBLE | editStyle, 5, 5, 200, 60, g_window,
                                   nullptr, windowClass.hInstance, nullptr);
        ::SetFocus(g_edit);
    }
    // Whatever creating the window queued is served before the case starts.
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
}

bool WaitFor(HANDLE event) { return ::WaitForSingleObject(event, 10000) == WAIT_OBJECT_0; }

// ---- The cases' report procedures (they run where the reporter runs them)

std::string Where(const cr::CaughtException& caught)
{
    return "report on=" + std::string(::GetCurrentThreadId() == caught.ThreadID ? "raising" : "exception-thread") +
           " of=" + ThreadName(caught.ThreadID) + "\n";
}

void LogEventThread() { Log("event on=" + ThreadName(::GetCurrentThreadId()) + "\n"); }

bool ReportWhere(const cr::CaughtException& caught)
{
    Log(Where(caught));
    cr::RunOnExceptionThread(LogEventThread);
    return false;
}

bool ReportAndReenter(const cr::CaughtException& caught)
{
    Log(Where(caught));
    ProbeError inner;
    const bool direct = cr::ProcessCaughtException(&inner, nullptr, true, nullptr, false, cr::aeNone, nullptr,
                                                   cr::rtUnknown, nullptr, nullptr, 0, 0);
    const bool manager = cr::ExceptionManager(&inner, nullptr, cr::rtLocal, nullptr);
    Log(std::string("inner=") + (direct ? "1" : "0") + " manager=" + (manager ? "1" : "0") +
        " inline=" + (cr::ReportInline() ? "1" : "0") + "\n");
    return false;
}

bool ReportQuitLost(const cr::CaughtException& caught)
{
    Log(Where(caught));
    cr::SetDialogPainted(true);
    ::PostThreadMessageW(g_mainThread, WM_QUIT, 0, 0);
    ::PostMessageW(g_window, kMarker, 0, 0);
    Log(std::string("marker=") + (WaitFor(g_markerServed) ? "served" : "unserved") + "\n");
    return false;
}

bool ReportWhilePainting(const cr::CaughtException& caught)
{
    Log(Where(caught));
    // Before a dialog has painted, the waiting thread dispatches nothing.
    ::PostMessageW(g_window, kMarker, 0, 0);
    ::Sleep(100);
    const bool heldBeforePaint = ::WaitForSingleObject(g_markerServed, 0) == WAIT_TIMEOUT;
    cr::SetDialogPainted(true);
    WaitFor(g_markerServed);
    ::ResetEvent(g_markerServed);
    ::PostMessageW(g_window, WM_KEYDOWN, VK_RETURN, 0);
    ::PostMessageW(g_window, WM_CHAR, 'x', 0);
    ::PostMessageW(g_window, WM_LBUTTONDOWN, 0, 0);
    ::InvalidateRect(g_window, nullptr, TRUE);
    ::PostMessageW(g_window, kMarker, 0, 0);
    const bool served = WaitFor(g_markerServed);
    const bool painted = WaitFor(g_painted);
    Log(std::string("before-paint=") + (heldBeforePaint ? "held" : "dispatched") + " marker=" +
        (served ? "served" : "unserved") + " input=" + std::to_string(g_inputSeen) +
        " painted=" + (painted ? ThreadName(g_paintThread) : "never") + "\n");
    return false;
}

bool ReportWithManyMessages(const cr::CaughtException& caught)
{
    Log(Where(caught));
    for (int i = 0; i < kCountedMarkers; ++i) ::PostMessageW(g_window, kCountedMarker, 0, 0);
    cr::SetDialogPainted(true);
    const bool all = WaitFor(g_markerServed);
    Log(std::string("served=") + (all ? "all" : std::to_string(g_countedSeen)) +
        " longest-turn=" + (g_longestRun <= 11 ? "at-most-11" : std::to_string(g_longestRun)) + "\n");
    return false;
}

bool ReportReadsMainWindow(const cr::CaughtException& caught)
{
    Log(Where(caught));
    // No dialog has painted: the main thread still answers what is sent to it.
    wchar_t text[64] = {};
    ::GetWindowTextW(g_window, text, 64);
    char narrow[64] = {};
    ::WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
    Log(std::string("text=") + narrow + "\n");
    return false;
}

// The edit is read by handle: which window has the focus is the desktop's
// business, and other programs on the test desktop take it.
bool ReportActiveControl(const cr::CaughtException&)
{
    char className[64] = {};
    ::GetClassNameA(g_edit, className, sizeof className);
    Log(std::string("class=") + className + " text=" + cr::ActiveControlTextOf(g_edit) + "\n");
    return false;
}

bool ReportThrows(const cr::CaughtException& caught)
{
    Log(Where(caught));
    throw ProbeError();
}

bool ReportFaults(const cr::CaughtException& caught)
{
    Log(Where(caught));
    WriteThroughNull();
    return true;
}

bool ReportReachesSlot(const cr::CaughtException& caught)
{
    Log(Where(caught));
    kv::GuardedCallback([] { throw ProbeError(); });
    Log("after-slot\n");
    return false;
}

bool ReportInlineFlag(const cr::CaughtException& caught)
{
    Log(Where(caught));
    Log(std::string("inline=") + (cr::ReportInline() ? "1" : "0") + "\n");
    return true;
}

// The report throws and catches on its own thread, with "catch handled
// exceptions" on: the capture keeps the raising thread's record and stack.
bool ReportRaisesInside(const cr::CaughtException& caught)
{
    Log(Where(caught));
    const void* before = cr::LastException().Object;
    try {
        throw ProbeError();
    } catch (const ProbeError&) {
    }
    Log(std::string("last=") + (cr::LastException().Object == before ? "kept" : "replaced") +
        " saved-stack-of=" + ThreadName(cr::SavedStackSnapshot().ThreadId) + "\n");
    return false;
}

bool ReportCounted(const cr::CaughtException&)
{
    Log("report\n");
    return false;
}

void LogInternalError(std::string_view section)
{
    const std::type_info* type = abi::__cxa_current_exception_type();
    Log("internal " + std::string(section) + " " + (type ? cr::ClassNameOfType(*type) : std::string("none")) + "\n");
}

std::string Flag(bool value) { return value ? "1" : "0"; }

bool Direct(const void* object, cr::TAsynchronousException kind = cr::aeNone)
{
    return cr::ProcessCaughtException(object, nullptr, true, nullptr, false, kind, nullptr, cr::rtUnknown, nullptr,
                                      nullptr, 0, 0);
}

DWORD WINAPI ReportFromWorker(void*)
{
    ProbeError error;
    Direct(&error);
    return 0;
}

// A worker's report while the focus is in a main-thread edit: the main
// thread either answers what is sent to it or only waits for the worker.
void ReportFromWorkerWhileMainThread(bool serves)
{
    CreateProbeWindow(0, L"Secret 42");
    cr::SetReportProcedure(ReportActiveControl);
    HANDLE worker = ::CreateThread(nullptr, 0, ReportFromWorker, nullptr, 0, nullptr);
    if (serves) {
        while (::MsgWaitForMultipleObjects(1, &worker, FALSE, 10000, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
            MSG message;
            ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
    } else {
        ::WaitForSingleObject(worker, 10000);
    }
    ::CloseHandle(worker);
}

int RunCase(const std::string& c)
{
    if (c == "thread") {
        cr::SetReportProcedure(ReportWhere);
        RaiseOnMainThread();
    } else if (c == "reentry") {
        cr::SetReportProcedure(ReportAndReenter);
        RaiseOnMainThread();
    } else if (c == "raise-inside-report") {
        auto options = cr::CurrentOspreyLogOptions()->BehaviourOptions();
        options.Include(cr::boCatchHandledExceptions);
        cr::CurrentOspreyLogOptions()->SetBehaviourOptions(options);
        cr::SetReportProcedure(ReportRaisesInside);
        RaiseOnMainThread();
    } else if (c == "reentry-inline") {
        cr::SetReportProcedure(ReportAndReenter);
        EMemoryLeak leak;
        Log("result=" + Flag(Direct(&leak)) + "\n");
    } else if (c == "quit-lost") {
        CreateProbeWindow(0, nullptr);
        cr::SetReportProcedure(ReportQuitLost);
        RaiseOnMainThread();
        MSG message;
        Log(std::string("quit=") + (::PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) ? "kept" : "lost") +
            "\n");
    } else if (c == "keeps-painting") {
        CreateProbeWindow(0, nullptr);
        cr::SetReportProcedure(ReportWhilePainting);
        RaiseOnMainThread();
    } else if (c == "many-messages") {
        CreateProbeWindow(0, nullptr);
        cr::SetReportProcedure(ReportWithManyMessages);
        RaiseOnMainThread();
    } else if (c == "reads-main-window") {
        CreateProbeWindow(0, nullptr);
        cr::SetReportProcedure(ReportReadsMainWindow);
        RaiseOnMainThread();
    } else if (c == "password-edit" || c == "plain-edit" || c == "multiline-edit") {
        const DWORD style = c == "password-edit" ? ES_PASSWORD : c == "multiline-edit" ? ES_MULTILINE : 0;
        CreateProbeWindow(style, L"Secret 42");
        cr::SetReportProcedure(ReportActiveControl);
        RaiseOnMainThread();
    } else if (c == "worker-main-serves" || c == "worker-main-waits") {
        ReportFromWorkerWhileMainThread(c == "worker-main-serves");
    } else if (c == "abort") {
        cr::SetReportProcedure(ReportCounted);
        kv::EAbort abort;
        QuietAbort derived;
        Log("abort=" + Flag(Direct(&abort)) + " derived=" + Flag(Direct(&derived)) + "\n");
        kv::GuardedCallback([] { throw kv::EAbort(); });
    } else if (c == "report-throws") {
        cr::SetReportProcedure(ReportThrows);
        RaiseOnMainThread();
    } else if (c == "report-faults") {
        cr::SetReportProcedure(ReportFaults);
        RaiseOnMainThread();
    } else if (c == "report-reaches-slot") {
        cr::SetReportProcedure(ReportReachesSlot);
        RaiseOnMainThread();
    } else if (c == "filter-inline") {
        cr::SetReportProcedure(ReportInlineFlag);
        WriteThroughNull();
    } else if (c == "safecall") {
        cr::SetReportProcedure(ReportCounted);
        ProbeError error;
        Direct(&error, cr::aeSafeCall);
        Log(std::string("message=") + error.what() + "\n");
        Direct(&error, cr::aeSafeCall);
        Log(std::string("again=") + error.what() + "\n");
        auto options = cr::CurrentOspreyLogOptions()->BehaviourOptions();
        options.Exclude(cr::boHandleSafeCallExceptions);
        cr::CurrentOspreyLogOptions()->SetBehaviourOptions(options);
        Log("unhandled-safecall=" + Flag(Direct(&error)) + "\n");
    } else if (c == "force-terminate") {
        cr::ForceTerminateBtnOperation(cr::tbRestart);
        Log("requested=" + Flag(cr::TerminateRequested()) + " operation=" +
            std::to_string(static_cast<int>(cr::CurrentOspreyLogOptions()->TerminateBtnOperation())) + "\n");
    } else {
        return 99;
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) return 98;
    g_log = kvprobe::OpenProbeLog(argv[2]);
    if (g_log == INVALID_HANDLE_VALUE) return 97;
    kv::MarkProgramStarted();
    if (!cr::ReporterActive()) return 96;
    g_mainThread = ::GetCurrentThreadId();
    g_markerServed = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_painted = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    cr::SetInternalErrorHandler(LogInternalError);
    // The application's handler the reporter calls on to: one line, so that a
    // report that reached it shows.
    cr::UnhookPackageHandlers();
    kv::SetApplicationExceptionHandler([](const std::exception_ptr& error) {
        Log("slot " + kv::WideToAnsi(kv::ExceptionMessage(error)) + "\n");
    });
    cr::HookPackageHandlers();
    char name[64] = {};
    ::WideCharToMultiByte(CP_ACP, 0, argv[1], -1, name, sizeof name, nullptr, nullptr);
    const int code = RunCase(name);
    Log("done\n");
    return code;
}
