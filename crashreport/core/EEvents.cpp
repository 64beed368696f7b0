#include "crashreport/core/EEvents.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <memory>

#include "crashreport/core/ECore.h"
#include "crashreport/core/EObjects.h"
#include "crashreport/core/ESharedOptions.h"
#include "crashreport/core/ESystem.h"
#include "crashreport/core/capture/ECapture.h"
#include "platform/Exceptions.h"

namespace kv::crashreport {
namespace {

constexpr DWORD kHandOverPollMs = 10;
constexpr std::size_t kPasswordBufferSize = 256;
constexpr std::int32_t kPasswordMaxLength = 255;

struct EventState {
    TOspreyExceptionRecord current;
    TOspreyExceptionRecord saved;
    bool handled = false;
    std::string password;
    AnsiStringList customDataFields;
    AnsiStringList attachedFiles;
    AnsiStringList customWebFields;
    bool closeDialog = false;
    // The exception object made here for a foreign record, alive until Leave.
    std::exception_ptr madeObject;
};

EventState& State()
{
    static EventState state;
    return state;
}

std::unique_ptr<TOspreyLogList> g_handlers;
std::atomic<ReporterDataVersionReader> g_versionReader{nullptr};
std::atomic<ModuleOptionsLookup> g_optionsLookup{nullptr};
std::atomic<TEventProcedure> g_duplicateCheck{nullptr};
std::atomic<HMODULE> g_passwordModule{nullptr};
std::atomic<TEventProcedure> g_pending{nullptr};
std::atomic<bool> g_eventsDisabled{false};
// The thread waiting for the report (0: none): events are handed to it.
std::atomic<DWORD> g_waitingThread{0};

HMODULE ModuleAt(const void* address)
{
    HMODULE module = nullptr;
    if (!address ||
        !::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCSTR>(address), &module))
        return nullptr;
    return module;
}

// Local dispatch: the handlers from the last to the first, then the global
// procedure.
template <class Member, class Procedure, class... Arguments>
void Dispatch(Member member, Procedure procedure, TOspreyExceptionRecord* record, Arguments&... arguments)
{
    if (TOspreyLogList* handlers = g_handlers.get()) {
        for (int i = handlers->Count() - 1; i >= 0; --i) {
            const auto& callable = (*handlers)[i]->*member;
            if (callable) callable(record, arguments...);
        }
    }
    if (procedure) procedure(record, arguments...);
}

template <class Export>
Export FindExport(const char* name)
{
    return reinterpret_cast<Export>(FindEventExportInExceptionModule(nullptr, name));
}

// The other module's notify export with a byte flag in and out.
void CallModuleNotify(const char* name, bool& flag)
{
    if (const auto call = FindExport<TNotifyEventExport>(name)) {
        std::uint8_t value = flag ? 1 : 0;
        call(&CurrentExceptionRecord(), &value);
        flag = value != 0;
    }
}

void CallModuleList(const char* name, const AnsiStringList& list)
{
    if (const auto call = FindExport<TListEventExport>(name)) call(&CurrentExceptionRecord(), &list);
}

// Action and error events: the other module gets its own copy of the record.
void CallModuleCodeEvent(const char* name, const TOspreyExceptionRecord& record, std::int32_t code, void* data)
{
    TOspreyExceptionRecord copy = record;
    if (const auto call = FindExport<TCodeEventExport>(name)) call(&copy, code, data);
}

// A length-prefixed text of at most `maxLength` characters.
void PutShortText(std::uint8_t* buffer, const std::string& text, std::int32_t maxLength)
{
    const std::size_t length = std::min<std::size_t>(text.size(), static_cast<std::size_t>(
                                                                       std::clamp(maxLength, 0, kPasswordMaxLength)));
    buffer[0] = static_cast<std::uint8_t>(length);
    std::memcpy(buffer + 1, text.data(), length);
}

std::string ShortText(const std::uint8_t* buffer) { return std::string(reinterpret_cast<const char*>(buffer + 1), buffer[0]); }

// The object behind a made exception: the one its handlers would catch.
const void* ObjectOf(const std::exception_ptr& made)
{
    try {
        std::rethrow_exception(made);
    } catch (const std::exception& object) {
        return &object;
    } catch (...) {
        return nullptr;
    }
}

bool ClassBelongsToThisModule(const void* object)
{
    const std::type_info* classRef = ClassOf(object);
    return classRef && ModuleAt(classRef) == OwnModuleHandle();
}

void RunDiscardingFailures(TEventProcedure procedure) noexcept
{
    try {
        procedure();
    } catch (...) {
        // A handler's failure does not stop the report.
    }
}

void BringOptionsUpToDate()
{
    if (const TEventProcedure check = g_duplicateCheck.load()) check();
    if (TOspreyModuleOptions* options = CurrentExceptionRecord().CurrentModuleOptions) LoadSharedOptions(*options);
}

// Hands `procedure` to the waiting thread and polls until it ran. When the
// waiting thread stops waiting first, the procedure comes back: false.
bool HandOver(TEventProcedure procedure, DWORD waitingThread)
{
    TEventProcedure idle = nullptr;
    if (!g_pending.compare_exchange_strong(idle, procedure)) return false;
    while (g_pending.load() != nullptr) {
        if (g_waitingThread.load() != waitingThread) {
            TEventProcedure expected = procedure;
            if (g_pending.compare_exchange_strong(expected, nullptr)) return false;
        }
        ::Sleep(kHandOverPollMs);
    }
    return true;
}

template <class Body>
void RunForeign(const TOspreyExceptionRecord* record, Body&& body) noexcept
{
    try {
        ForeignEvent scope(record);
        body();
    } catch (...) {
        // What this module's handlers raise never unwinds into the calling module.
    }
}

void CopyIntoList(AnsiStringList& target, const AnsiStringList* source)
{
    target.Clear();
    if (source)
        for (const std::string& item : *source) target.Add(item);
}

} // namespace

TOspreyExceptionRecord& CurrentExceptionRecord() { return State().current; }
TOspreyExceptionRecord& SavedExceptionRecord() { return State().saved; }

bool& EventHandled() { return State().handled; }
std::string& EventPassword() { return State().password; }
AnsiStringList& CustomDataFields() { return State().customDataFields; }
AnsiStringList& AttachedFilesList() { return State().attachedFiles; }
AnsiStringList& CustomWebFieldsList() { return State().customWebFields; }
bool& CustomButtonCloseDialog() { return State().closeDialog; }

void TOspreyLogList::Remove(TOspreyLogHandler* handler)
{
    items_.erase(std::remove(items_.begin(), items_.end(), handler), items_.end());
}

TOspreyLogList* OspreyLogList() noexcept { return g_handlers.get(); }
void CreateOspreyLogList()
{
    if (!g_handlers) g_handlers = std::make_unique<TOspreyLogList>();
}
void FreeOspreyLogList() { g_handlers.reset(); }

// ---- Firing

FARPROC FindEventExportInExceptionModule(HMODULE module, const char* exportName)
{
    if (!module) module = ModuleAt(CurrentExceptionRecord().ExceptionAddress);
    const ReporterDataVersionReader readVersion = g_versionReader.load();
    if (!module || module == OwnModuleHandle() || !readVersion || !ReporterVersionMatches(readVersion(module)))
        return nullptr;
    return ::GetProcAddress(module, exportName);
}

void SetReporterDataVersionReader(ReporterDataVersionReader reader) noexcept { g_versionReader.store(reader); }

void DispatchExceptionNotify()
{
    Dispatch(&TOspreyLogHandler::OnExceptionNotify, ExceptionNotifyProc, &CurrentExceptionRecord(), EventHandled());
}

void DispatchHandledExceptionNotify()
{
    Dispatch(&TOspreyLogHandler::OnHandledExceptionNotify, HandledExceptionNotifyProc, &CurrentExceptionRecord(),
             EventHandled());
}

void DispatchCustomDataRequest()
{
    Dispatch(&TOspreyLogHandler::OnCustomDataRequest, CustomDataRequestProc, &CurrentExceptionRecord(),
             CustomDataFields());
}

void DispatchAttachedFilesRequest()
{
    Dispatch(&TOspreyLogHandler::OnAttachedFilesRequest, AttachedFilesRequestProc, &CurrentExceptionRecord(),
             AttachedFilesList());
}

void DispatchCustomWebFieldsRequest()
{
    Dispatch(&TOspreyLogHandler::OnCustomWebFieldsRequest, CustomWebFieldsRequestProc, &CurrentExceptionRecord(),
             CustomWebFieldsList());
}

void DispatchCustomButtonClick()
{
    Dispatch(&TOspreyLogHandler::OnCustomButtonClick, CustomButtonClickProc, &CurrentExceptionRecord(),
             CustomButtonCloseDialog());
}

void DispatchPasswordRequest()
{
    Dispatch(&TOspreyLogHandler::OnPasswordRequest, PasswordRequestProc, &CurrentExceptionRecord(), EventPassword());
}

void FireExceptionNotify()
{
    CallModuleNotify("OspreyLog_ExceptionNotifyEvent", EventHandled());
    DispatchExceptionNotify();
}

void FireHandledExceptionNotify()
{
    CallModuleNotify("OspreyLog_HandledExceptionNotifyEvent", EventHandled());
    DispatchHandledExceptionNotify();
}

void FireCustomDataRequest()
{
    CallModuleList("OspreyLog_CustomDataRequestEventEx", CustomDataFields());
    DispatchCustomDataRequest();
}

void FireAttachedFilesRequest()
{
    CallModuleList("OspreyLog_AttachedFilesRequestEvent", AttachedFilesList());
    DispatchAttachedFilesRequest();
}

void FireCustomWebFieldsRequest()
{
    CallModuleList("OspreyLog_CustomWebFieldsRequestEvent", CustomWebFieldsList());
    DispatchCustomWebFieldsRequest();
}

void FireCustomButtonClick()
{
    CallModuleNotify("OspreyLog_CustomButtonClickEvent", CustomButtonCloseDialog());
    DispatchCustomButtonClick();
}

void CallModuleExceptionActionNotify(const TOspreyExceptionRecord& record, std::int32_t action, void* data)
{
    CallModuleCodeEvent("OspreyLog_ExceptionActionNotifyEvent", record, action, data);
}

void CallExceptionActionNotifyHandlers(const TOspreyExceptionRecord& record, std::int32_t action, void* data)
{
    TOspreyExceptionRecord copy = record;
    Dispatch(&TOspreyLogHandler::OnExceptionActionNotify, ExceptionActionNotifyProc, &copy, action, data);
}

void CallModuleExceptionErrorNotify(const TOspreyExceptionRecord& record, std::int32_t errorCode, void* data)
{
    CallModuleCodeEvent("OspreyLog_ExceptionErrorNotifyEvent", record, errorCode, data);
}

void CallExceptionErrorNotifyHandlers(const TOspreyExceptionRecord& record, std::int32_t errorCode, void* data)
{
    TOspreyExceptionRecord copy = record;
    Dispatch(&TOspreyLogHandler::OnExceptionErrorNotify, ExceptionErrorNotifyProc, &copy, errorCode, data);
}

void SetPasswordRequestModule(HMODULE module) noexcept { g_passwordModule.store(module); }

void FirePasswordRequest()
{
    const HMODULE module = g_passwordModule.load();
    if (!module) return;
    std::uint8_t buffer[kPasswordBufferSize] = {};
    PutShortText(buffer, EventPassword(), kPasswordMaxLength);
    if (const auto callEx = reinterpret_cast<TPasswordEventExExport>(
            FindEventExportInExceptionModule(module, "OspreyLog_PasswordRequestEventEx"))) {
        callEx(&CurrentExceptionRecord(), buffer, kPasswordMaxLength);
    } else if (const auto call = reinterpret_cast<TPasswordEventExport>(
                   FindEventExportInExceptionModule(module, "OspreyLog_PasswordRequestEvent"))) {
        call(buffer, kPasswordMaxLength);
    } else {
        return;
    }
    EventPassword() = ShortText(buffer);
}

// ---- The thread events run on

void RunOnExceptionThread(TEventProcedure procedure)
{
    if (g_eventsDisabled.load() || !procedure) return;
    const DWORD waitingThread = g_waitingThread.load();
    if (waitingThread == 0 || waitingThread == ::GetCurrentThreadId() || !HandOver(procedure, waitingThread)) {
        g_pending.store(PendingMarker);
        RunDiscardingFailures(procedure);
        g_pending.store(nullptr);
    }
    BringOptionsUpToDate();
}

void SetEventsDisabled(bool disabled) noexcept { g_eventsDisabled.store(disabled); }
bool EventsDisabled() noexcept { return g_eventsDisabled.load(); }
TEventProcedure PendingEventProcedure() noexcept { return g_pending.load(); }
void SetEventDuplicateCheck(TEventProcedure check) noexcept { g_duplicateCheck.store(check); }

void BeginWaitingForReport() { g_waitingThread.store(::GetCurrentThreadId()); }
void EndWaitingForReport() { g_waitingThread.store(0); }

bool RunPendingEventProcedure()
{
    TEventProcedure procedure = g_pending.load();
    // Taken over by the marker, so that the report thread cannot withdraw it
    // while it runs here.
    if (!procedure || procedure == PendingMarker || !g_pending.compare_exchange_strong(procedure, PendingMarker))
        return false;
    RunDiscardingFailures(procedure);
    g_pending.store(nullptr);
    return true;
}

void WaitForReportThread(HANDLE thread)
{
    while (::WaitForSingleObject(thread, 0) == WAIT_TIMEOUT) {
        RunPendingEventProcedure();
        ::Sleep(kHandOverPollMs);
    }
    EndWaitingForReport();
}

// ---- Calls from another module's reporter

void SetModuleOptionsLookup(ModuleOptionsLookup lookup) noexcept { g_optionsLookup.store(lookup); }

void EnterForeignEvent(const TOspreyExceptionRecord* record)
{
    EventState& state = State();
    state.saved = state.current;
    state.current = IsReadableMemory(record, sizeof *record) ? *record : TOspreyExceptionRecord{};
    TOspreyExceptionRecord& current = state.current;
    if (!IsValidObject(current.ExceptionObject) || !ClassBelongsToThisModule(current.ExceptionObject)) {
        current.ExceptionObject = nullptr;
        if (IsReadableMemory(current.Win32ExceptionRecord, sizeof(EXCEPTION_RECORD))) {
            // The program's own procedure: the capture in front of it would
            // take this for a new raise.
            state.madeObject = DefaultExceptionObject(*current.Win32ExceptionRecord, nullptr);
            current.ExceptionObject = ObjectOf(state.madeObject);
            RecordLastException(current.ExceptionObject, current.Win32ExceptionRecord->ExceptionAddress, false);
        }
    }
    TOspreyModuleOptions* callerOptions = current.CurrentModuleOptions;
    const ModuleOptionsLookup lookup = g_optionsLookup.load();
    current.CurrentModuleOptions = lookup && IsReadableMemory(callerOptions, sizeof(TOspreyModuleOptions))
                                       ? lookup(callerOptions->ModuleHandle())
                                       : nullptr;
}

void LeaveForeignEvent()
{
    EventState& state = State();
    if (state.madeObject) {
        state.madeObject = nullptr;
        RecordLastException(nullptr, nullptr, false);
    }
    if (TOspreyModuleOptions* options = state.current.CurrentModuleOptions) options->StoreSharedData();
    state.current = state.saved;
}

// ---- The bodies of the exports

void ExportPasswordRequest(std::uint8_t* password, std::int32_t maxLength) noexcept
{
    if (!password) return;
    try {
        EventPassword() = ShortText(password);
        DispatchPasswordRequest();
        PutShortText(password, EventPassword(), maxLength);
    } catch (...) {
    }
}

void ExportPasswordRequestEx(const TOspreyExceptionRecord* record, std::uint8_t* password,
                             std::int32_t maxLength) noexcept
{
    if (!password) return;
    RunForeign(record, [&] { ExportPasswordRequest(password, maxLength); });
}

void ExportExceptionNotify(const TOspreyExceptionRecord* record, std::uint8_t* handled) noexcept
{
    if (!handled) return;
    RunForeign(record, [&] {
        EventHandled() = *handled != 0;
        DispatchExceptionNotify();
        *handled = EventHandled() ? 1 : 0;
    });
}

void ExportHandledExceptionNotify(const TOspreyExceptionRecord* record, std::uint8_t* handled) noexcept
{
    if (!handled) return;
    RunForeign(record, [&] {
        EventHandled() = *handled != 0;
        DispatchHandledExceptionNotify();
        *handled = EventHandled() ? 1 : 0;
    });
}

void ExportExceptionActionNotify(const TOspreyExceptionRecord* record, std::int32_t action, void* data) noexcept
{
    RunForeign(record, [&] { CallExceptionActionNotifyHandlers(CurrentExceptionRecord(), action, data); });
}

void ExportExceptionErrorNotify(const TOspreyExceptionRecord* record, std::int32_t errorCode, void* data) noexcept
{
    RunForeign(record, [&] { CallExceptionErrorNotifyHandlers(CurrentExceptionRecord(), errorCode, data); });
}

void ExportCustomDataRequest(const TOspreyExceptionRecord* record, const AnsiStringList* list) noexcept
{
    RunForeign(record, [&] {
        CopyIntoList(CustomDataFields(), list);
        DispatchCustomDataRequest();
    });
}

void ExportAttachedFilesRequest(const TOspreyExceptionRecord* record, const AnsiStringList* list) noexcept
{
    RunForeign(record, [&] {
        CopyIntoList(AttachedFilesList(), list);
        DispatchAttachedFilesRequest();
    });
}

void ExportCustomWebFieldsRequest(const TOspreyExceptionRecord* record, const AnsiStringList* list) noexcept
{
    RunForeign(record, [&] {
        CopyIntoList(CustomWebFieldsList(), list);
        DispatchCustomWebFieldsRequest();
    });
}

void ExportCustomButtonClick(const TOspreyExceptionRecord* record, std::uint8_t* closeDialog) noexcept
{
    if (!closeDialog) return;
    RunForeign(record, [&] {
        CustomButtonCloseDialog() = *closeDialog != 0;
        DispatchCustomButtonClick();
        *closeDialog = CustomButtonCloseDialog() ? 1 : 0;
    });
}

} // namespace kv::crashreport
