#include "crashreport/core/EFrameworkHandlers.h"

#include <atomic>

#include "crashreport/core/EErrors.h"
#include "crashreport/core/EExceptionManager.h"
#include "crashreport/core/ExceptionLog.h"
#include "crashreport/core/capture/ECapture.h"
#include "crashreport/core/capture/EThreadState.h"
#include "platform/Exceptions.h"

namespace kv::crashreport {
namespace {

std::atomic<ApplicationExceptionHandler> g_previousApplication{nullptr};
std::atomic<ApplicationExceptionHandler> g_previousThread{nullptr};
std::atomic<bool> g_installed{false};
std::atomic<std::int32_t> g_inPreviousHandler{0};

void RunPreviousApplicationHandler(const std::exception_ptr& error)
{
    g_inPreviousHandler = -1;
    struct Back {
        ~Back() { g_inPreviousHandler = 0; }
    } back;
    if (const ApplicationExceptionHandler previous = g_previousApplication.load())
        previous(error);
    else
        ShowExceptionMessage(error);
}

bool Report(const std::exception_ptr& error, TRaiserType raiserType)
{
    // A handler slot reached from the code of a report is the reporter's own
    // failure: the application's handler is the reporter itself.
    if (ReportRunsOnThisThread()) {
        ReportOwnFailure(error, "ExceptionManager");
        return false;
    }
    const void* object = runtime::ExceptionObjectOf(error);
    // Reported at its raise already (no handler of the program would take
    // it, such as a stack overflow): the slot it reaches afterwards passes it on.
    if (ThreadExceptionState* state = ExistingThreadState(); state && object && state->ReportedAtRaise == object) {
        state->ReportedAtRaise = nullptr;
        return state->ReportedAtRaiseResult;
    }
    return ExceptionManager(object, RaiseAddressOf(object), raiserType, ReporterModule());
}

void ApplicationHandler(const std::exception_ptr& error)
{
    if (!Report(error, rtLocal)) return;
    RunPreviousApplicationHandler(error);
}

// A thread's exception is reported here, once: the application's handler
// (the reporter's too) is passed by.
void ThreadHandler(const std::exception_ptr& error)
{
    if (!Report(error, rtUnknown)) return;
    if (const ApplicationExceptionHandler previous = g_previousThread.load())
        previous(error);
    else
        RunPreviousApplicationHandler(error);
}

} // namespace

std::int32_t InPreviousHandler() noexcept { return g_inPreviousHandler.load(); }

void HookPackageHandlers()
{
    if (g_installed.exchange(true)) return;
    g_previousApplication = SetApplicationExceptionHandler(ApplicationHandler);
    g_previousThread = SetThreadExceptionHandler(ThreadHandler);
}

void UnhookPackageHandlers()
{
    if (!g_installed.exchange(false)) return;
    SetApplicationExceptionHandler(g_previousApplication.load());
    SetThreadExceptionHandler(g_previousThread.load());
}

} // namespace kv::crashreport
