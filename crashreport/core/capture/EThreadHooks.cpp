#include "crashreport/core/capture/EThreadHooks.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <vector>

#include "crashreport/core/ECallStack.h"
#include "crashreport/core/ECore.h"
#include "crashreport/core/EEvents.h"
#include "crashreport/core/EObjects.h"
#include "crashreport/core/ESystem.h"
#include "crashreport/core/ExceptionLog.h"
#include "crashreport/core/capture/ECapture.h"
#include "crashreport/core/capture/EThreadState.h"
#include "platform/ProgramPhase.h"
#include "platform/WorkerThread.h"

namespace kv::crashreport {
namespace {

// The reporter's own threads: they are never listed, so a report neither
// shows nor pauses the threads that make it.
constexpr const char* kOwnThreadClasses[] = {"TExceptionThread", "TFreezeThread", "TSendDialogThread",
                                             "TSendThread"};

// What ThreadStartWrapper runs: it travels with the thread rather than in
// its record, so the thread does its work even if the record is gone.
struct ThreadLaunch {
    LPTHREAD_START_ROUTINE Start;
    void* Parameter;
};

TOspreyThreadsList& TheList()
{
    static TOspreyThreadsList* const list = new TOspreyThreadsList();
    return *list;
}

std::atomic<bool> g_listStarted{false};

bool IsOwnThreadClass(const std::type_info& type)
{
    return std::any_of(std::begin(kOwnThreadClasses), std::end(kOwnThreadClasses),
                       [&](const char* name) { return ClassInheritsFromName(&type, name); });
}

const void* CurrentStackPosition() noexcept { return __builtin_frame_address(0); }

// The calling thread's stack from here to its base, at most as much as a
// scan reads.
std::shared_ptr<const std::vector<std::uint8_t>> CopyCallerStack()
{
    const auto* tib = reinterpret_cast<const NT_TIB*>(::NtCurrentTeb());
    const auto* from = static_cast<const std::uint8_t*>(CurrentStackPosition());
    const auto* base = static_cast<const std::uint8_t*>(tib->StackBase);
    if (from >= base) return nullptr;
    const std::size_t size = std::min<std::size_t>(static_cast<std::size_t>(base - from), MaxScannedStackBytes);
    if (!IsReadableMemory(from, size)) return nullptr;
    return std::make_shared<const std::vector<std::uint8_t>>(from, from + size);
}

// A handle of the thread for the registry alone, with what a report needs.
std::shared_ptr<const kv::KernelHandle> OwnHandleOf(HANDLE thread)
{
    HANDLE copy = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), thread, ::GetCurrentProcess(), &copy,
                           THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION | SYNCHRONIZE, FALSE,
                           0))
        return nullptr;
    return std::make_shared<const kv::KernelHandle>(copy);
}

template <class Export, class... Args>
void ForwardToMainModule(const char* name, Args... args)
{
    if (const auto forward = reinterpret_cast<Export>(MainModuleExport(name))) forward(args...);
}

using CreateThreadExport = void(KV_REGISTER_CALL*)(const TOspreyThreadInfo*);
using ResumeThreadExport = void(KV_REGISTER_CALL*)(HANDLE, const TOspreyThreadInfo*);
using ExitThreadExport = void(KV_REGISTER_CALL*)();

bool HandlingInProgressHere() noexcept
{
    const ThreadExceptionState* state = ExistingThreadState();
    return state && state->HandlingInProgress;
}

// The first resume of a worker: its object is complete, so its class can be
// read. False when it is one of the reporter's own threads (then the record
// goes).
bool ClassifyWorker(TOspreyThreadInfo& record)
{
    if (!record.Thread || record.ThreadClass) return true;
    const std::type_info& type = typeid(*static_cast<const kv::WorkerThread*>(record.Thread));
    if (IsOwnThreadClass(type)) return false;
    record.ThreadClass = &type;
    return true;
}

} // namespace

TOspreyThreadsList* LiveThreadsList() noexcept { return g_listStarted ? &TheList() : nullptr; }

void StartThreadsList(DWORD mainThreadId, HANDLE mainThreadHandle, std::uint32_t mainStackTop)
{
    TOspreyThreadsList& list = TheList();
    ThreadsListWriteLock lock(list);
    list.Clear();
    TOspreyThreadInfo* main = list.AddNewItem();
    main->ID = mainThreadId;
    main->Handle = mainThreadHandle;
    main->TopOfStack = mainStackTop;
    g_listStarted = true;
}

void StopThreadsList() noexcept
{
    TOspreyThreadsList& list = TheList();
    ThreadsListWriteLock lock(list);
    list.Clear();
    g_listStarted = false;
}

HANDLE OnCreateThread(RealCreateThread real, LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize,
                      LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags, LPDWORD threadId)
{
    TOspreyThreadsList* list = LiveThreadsList();
    if (!ReporterActive() || !list || !start) return real(attributes, stackSize, start, parameter, flags, threadId);

    std::unique_ptr<TOspreyThreadInfo> record;
    ThreadLaunch* launch = nullptr;
    try {
        list->PurgeList();
        record = TOspreyThreadsList::NewItem();
        launch = new ThreadLaunch{start, parameter};
    } catch (...) {
        // Short of memory: the thread is made, only not listed.
        return real(attributes, stackSize, start, parameter, flags, threadId);
    }
    record->Parameter = parameter;
    if (start == kv::WorkerThread::StartRoutine()) {
        record->Thread = parameter;
        record->BeginThreadFunction = start;
    } else {
        record->CreateThreadFunction = start;
    }
    DWORD localId = 0;
    if (!threadId) threadId = &localId;
    // Suspended until listed: the wrapper looks for its record when it starts.
    const HANDLE handle = real(attributes, stackSize, ThreadStartWrapper, launch, flags | CREATE_SUSPENDED, threadId);
    if (!handle) {
        delete launch;
        return handle;
    }
    try {
        record->ID = *threadId;
        record->OwnedHandle = OwnHandleOf(handle);
        record->Handle = record->OwnedHandle ? record->OwnedHandle->Get() : handle;
        const TOspreyThreadInfo* added = nullptr;
        {
            ThreadsListWriteLock lock(*list);
            added = list->Add(std::move(record));
        }
        if (MainModuleCarriesReporter()) ForwardToMainModule<CreateThreadExport>("OspreyLog_CallCreateThread", added);
    } catch (...) {
    }
    if (!(flags & CREATE_SUSPENDED)) HookedResumeThread(handle);
    return handle;
}

DWORD OnResumeThread(RealResumeThread real, HANDLE thread)
{
    TOspreyThreadsList* list = LiveThreadsList();
    if (ReporterActive() && list && !HandlingInProgressHere()) {
        try {
            const DWORD id = ::GetThreadId(thread);
            TOspreyThreadInfo copy;
            bool found = false;
            {
                ThreadsListWriteLock lock(*list);
                const int index = id ? list->FindByThreadID(id) : -1;
                if (index >= 0) {
                    TOspreyThreadInfo& record = *list->Items(index);
                    if (!ClassifyWorker(record)) {
                        list->Delete(index);
                    } else {
                        record.CallerID = ::GetCurrentThreadId();
                        record.CallerStackDump = CopyCallerStack();
                        record.CallerStackSize =
                            record.CallerStackDump ? static_cast<std::uint32_t>(record.CallerStackDump->size()) : 0;
                        copy = record;
                        found = true;
                    }
                }
            }
            if (found && MainModuleCarriesReporter())
                ForwardToMainModule<ResumeThreadExport>("OspreyLog_CallResumeThread", thread, &copy);
        } catch (...) {
        }
    }
    return real(thread);
}

void OnThreadExit() noexcept
{
    TOspreyThreadsList* list = LiveThreadsList();
    if (!ReporterActive() || !list) return;
    list->RemoveCurrentThread();
    if (MainModuleCarriesReporter() && !kv::InUnitFinalization())
        ForwardToMainModule<ExitThreadExport>("OspreyLog_CallExitThread");
}

DWORD WINAPI ThreadStartWrapper(void* parameter)
{
    const ThreadLaunch launch = *static_cast<ThreadLaunch*>(parameter);
    delete static_cast<ThreadLaunch*>(parameter);
    if (TOspreyThreadsList* list = LiveThreadsList()) {
        ThreadsListWriteLock lock(*list);
        const int index = list->FindByThreadID(::GetCurrentThreadId());
        if (index >= 0) list->Items(index)->TopOfStack = reinterpret_cast<std::uint32_t>(GetStackTop());
    }
    const DWORD result = launch.Start(launch.Parameter);
    HookedExitThread(result);
    return result; // not reached
}

void CallCreateThread(const TOspreyThreadInfo* record)
{
    TOspreyThreadsList* list = LiveThreadsList();
    if (!ReporterActive() || !list || !record) return;
    list->PurgeList();
    auto copy = std::make_unique<TOspreyThreadInfo>(*record);
    copy->IsACopy = true;
    ThreadsListWriteLock lock(*list);
    list->Add(std::move(copy));
}

void CallResumeThread(HANDLE, const TOspreyThreadInfo* record)
{
    TOspreyThreadsList* list = LiveThreadsList();
    if (!ReporterActive() || !list || !record || HandlingInProgressHere()) return;
    ThreadsListWriteLock lock(*list);
    const int index = list->FindByThreadID(record->ID);
    if (index < 0) return;
    TOspreyThreadInfo& target = *list->Items(index);
    target = *record;
    target.IsACopy = true;
}

void CallExitThread()
{
    TOspreyThreadsList* list = LiveThreadsList();
    if (ReporterActive() && list) list->RemoveCurrentThread();
}

bool IsRuntimeThread(const TOspreyThreadInfo& record) noexcept
{
    return record.ID == ReporterMainThreadId() || record.Thread != nullptr;
}

std::string ThreadClassName(const TOspreyThreadInfo& record)
{
    return record.ThreadClass ? ClassNameOfType(*record.ThreadClass) : std::string();
}

bool ShowThreadCallStack(const TOspreyThreadInfo& record, const TOspreyModuleOptions& options)
{
    return options.CallStackOptions().Contains(IsRuntimeThread(record) ? csoShowRuntimeThreads
                                                                       : csoShowWindowsThreads);
}

bool PauseThread(const TOspreyThreadInfo& record, const TOspreyModuleOptions& options)
{
    const TBehaviourOptions behaviour = options.BehaviourOptions();
    if (!IsRuntimeThread(record)) return behaviour.Contains(boPauseWindowsThreads);
    return behaviour.Contains(boPauseRuntimeThreads) &&
           !(record.ID == ReporterMainThreadId() && behaviour.Contains(boDoNotPauseMainThread));
}

} // namespace kv::crashreport
