#pragma once
// The events through which the host program looks at, and steers, a report
// being handled. Each event reaches, in this order: the reporter of the module
// that raised the exception (when that is another module of the process with a
// compatible reporter, through its exported entry point), the handlers
// registered in this module (last to first), and the event's global procedure.
// Every event runs on the thread that raised the exception: the report thread
// hands it over through RunOnExceptionThread.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/StringList.h"

namespace kv::crashreport {

class TOspreyModulesList;
class TOspreyStackList;
class TOspreyModuleOptions;

// One caught exception, as every event receives it. Its layout is shared with
// the reporters of the other modules of the process (built from this code).
struct TOspreyExceptionRecord {
    const void* ExceptionObject = nullptr;
    const void* ExceptionAddress = nullptr;
    DWORD ExceptionThreadID = 0;
    EXCEPTION_RECORD* Win32ExceptionRecord = nullptr;
    CONTEXT* Win32Context = nullptr;
    std::string LogText;
    TOspreyModulesList* ModulesList = nullptr;
    TOspreyStackList* CallStack = nullptr;
    TOspreyModuleOptions* CurrentModuleOptions = nullptr;
};

// The report being handled, and the one kept while another module's reporter
// runs this module's handlers.
TOspreyExceptionRecord& CurrentExceptionRecord();
TOspreyExceptionRecord& SavedExceptionRecord();

// ---- Result slots: set by the firing step before, read after.
bool& EventHandled();
std::string& EventPassword();
AnsiStringList& CustomDataFields();
AnsiStringList& AttachedFilesList();
AnsiStringList& CustomWebFieldsList();
bool& CustomButtonCloseDialog();

// ---- Receivers

// One registered handler: a callable per event kind it handles (empty ones
// are skipped).
struct TOspreyLogHandler {
    std::function<void(TOspreyExceptionRecord* record, bool& handled)> OnExceptionNotify;
    std::function<void(TOspreyExceptionRecord* record, bool& handled)> OnHandledExceptionNotify;
    std::function<void(TOspreyExceptionRecord* record, std::int32_t action, void* data)> OnExceptionActionNotify;
    std::function<void(TOspreyExceptionRecord* record, std::int32_t errorCode, void* data)> OnExceptionErrorNotify;
    std::function<void(TOspreyExceptionRecord* record, std::string& password)> OnPasswordRequest;
    std::function<void(TOspreyExceptionRecord* record, AnsiStringList& dataFields)> OnCustomDataRequest;
    std::function<void(TOspreyExceptionRecord* record, AnsiStringList& attachedFiles)> OnAttachedFilesRequest;
    std::function<void(TOspreyExceptionRecord* record, AnsiStringList& webFields)> OnCustomWebFieldsRequest;
    std::function<void(TOspreyExceptionRecord* record, bool& closeDialog)> OnCustomButtonClick;
};

// The registered handlers (not owned), in the order of registration.
class TOspreyLogList {
public:
    void Add(TOspreyLogHandler* handler) { items_.push_back(handler); }
    void Remove(TOspreyLogHandler* handler);
    int Count() const noexcept { return static_cast<int>(items_.size()); }
    TOspreyLogHandler* operator[](int index) const { return items_.at(static_cast<std::size_t>(index)); }

private:
    std::vector<TOspreyLogHandler*> items_;
};

// The process-wide list: made by the reporter's start-up, nullptr before.
TOspreyLogList* OspreyLogList() noexcept;
void CreateOspreyLogList();
void FreeOspreyLogList();

// The global procedures, one per event; nullptr while unset.
using TExceptionNotifyProc = void (*)(TOspreyExceptionRecord* record, bool& handled);
using TExceptionActionNotifyProc = void (*)(TOspreyExceptionRecord* record, std::int32_t action, void* data);
using TExceptionErrorNotifyProc = void (*)(TOspreyExceptionRecord* record, std::int32_t errorCode, void* data);
using TPasswordRequestProc = void (*)(TOspreyExceptionRecord* record, std::string& password);
using TStringListRequestProc = void (*)(TOspreyExceptionRecord* record, AnsiStringList& list);
using TCustomButtonClickProc = void (*)(TOspreyExceptionRecord* record, bool& closeDialog);

inline TExceptionNotifyProc ExceptionNotifyProc = nullptr;
inline TExceptionNotifyProc HandledExceptionNotifyProc = nullptr;
inline TExceptionActionNotifyProc ExceptionActionNotifyProc = nullptr;
inline TExceptionErrorNotifyProc ExceptionErrorNotifyProc = nullptr;
inline TPasswordRequestProc PasswordRequestProc = nullptr;
inline TStringListRequestProc CustomDataRequestProc = nullptr;
inline TStringListRequestProc AttachedFilesRequestProc = nullptr;
inline TStringListRequestProc CustomWebFieldsRequestProc = nullptr;
inline TCustomButtonClickProc CustomButtonClickProc = nullptr;

// ---- Firing

// The other module's export `exportName`, when `module` (nullptr: the module of
// the current exception's address) is loaded, is not this module and carries
// reporter data of a matching version; else nullptr.
FARPROC FindEventExportInExceptionModule(HMODULE module, const char* exportName);
// The version stored in a module's reporter data (0 when it has none); the
// debug-data reader installs it. While none is installed no other module is
// ever called.
using ReporterDataVersionReader = int (*)(HMODULE module);
void SetReporterDataVersionReader(ReporterDataVersionReader reader) noexcept;

// Each: the other module's export, then this module's handlers and procedure,
// with CurrentExceptionRecord and the event's result slot.
void FireExceptionNotify();
void FireHandledExceptionNotify();
void FireCustomDataRequest();
void FireAttachedFilesRequest();
void FireCustomWebFieldsRequest();
void FireCustomButtonClick();

// Action and error events work on a copy of the record; the firing step calls
// the module variant, then the handlers variant.
void CallModuleExceptionActionNotify(const TOspreyExceptionRecord& record, std::int32_t action, void* data);
void CallExceptionActionNotifyHandlers(const TOspreyExceptionRecord& record, std::int32_t action, void* data);
void CallModuleExceptionErrorNotify(const TOspreyExceptionRecord& record, std::int32_t errorCode, void* data);
void CallExceptionErrorNotifyHandlers(const TOspreyExceptionRecord& record, std::int32_t errorCode, void* data);

// The password of enciphered debug data: FirePasswordRequest asks the module
// whose data is being opened (set by the debug-data reader), the dispatcher
// this module's receivers; both work on EventPassword.
void SetPasswordRequestModule(HMODULE module) noexcept;
void FirePasswordRequest();
void DispatchPasswordRequest();

// ---- The thread events run on

using TEventProcedure = void (*)();

// Runs `procedure` on the thread that raised the exception: handed over when a
// thread waits for the report and this is another thread, else run here with
// what it raises discarded. Then the duplicate check of the log and the shared
// options of the current options object are brought up to date. Nothing while
// events are disabled (leak reports).
void RunOnExceptionThread(TEventProcedure procedure);
void SetEventsDisabled(bool disabled) noexcept;
bool EventsDisabled() noexcept;
// The handed-over procedure: nullptr (idle), a procedure, or PendingMarker
// while one runs on the calling thread itself.
TEventProcedure PendingEventProcedure() noexcept;
inline const TEventProcedure PendingMarker = reinterpret_cast<TEventProcedure>(1);

// The log's duplicate check (with its update switch off), run after each
// event; the log installs it.
void SetEventDuplicateCheck(TEventProcedure check) noexcept;

// The waiting side. The calling thread becomes (or stops being) the thread
// events are handed to, before the report thread starts;
// RunPendingEventProcedure runs a handed-over procedure (what it raises is
// discarded) and clears the slot.
void BeginWaitingForReport();
void EndWaitingForReport();
bool RunPendingEventProcedure();
// The events' part of the exception manager's wait, for a caller that needs
// nothing else of it: after BeginWaitingForReport, waits for `thread`,
// running handed-over events every 10 ms, then ends the waiting.
void WaitForReportThread(HANDLE thread);

// ---- Calls from another module's reporter (the exports)

// This module's options for a module handle, from the modules list; the
// modules list installs it (nullptr: none).
using ModuleOptionsLookup = TOspreyModuleOptions* (*)(HMODULE module);
void SetModuleOptionsLookup(ModuleOptionsLookup lookup) noexcept;

// Enter keeps CurrentExceptionRecord and takes the caller's record (an
// exception object of this module is made from a foreign one's Windows
// record); Leave gives it back. ForeignEvent pairs them for a scope.
void EnterForeignEvent(const TOspreyExceptionRecord* record);
void LeaveForeignEvent();
class ForeignEvent {
public:
    explicit ForeignEvent(const TOspreyExceptionRecord* record) { EnterForeignEvent(record); }
    ~ForeignEvent() { LeaveForeignEvent(); }
    ForeignEvent(const ForeignEvent&) = delete;
    ForeignEvent& operator=(const ForeignEvent&) = delete;
};

// The register convention of the event exports (up to three 32-bit
// arguments in EAX, EDX, ECX), and their types.
#define KV_REGISTER_CALL __attribute__((regparm(3), stdcall))
using TNotifyEventExport = void(KV_REGISTER_CALL*)(TOspreyExceptionRecord* record, std::uint8_t* flag);
using TCodeEventExport = void(KV_REGISTER_CALL*)(TOspreyExceptionRecord* record, std::int32_t code, void* data);
using TListEventExport = void(KV_REGISTER_CALL*)(TOspreyExceptionRecord* record, const AnsiStringList* list);
using TPasswordEventExport = void(KV_REGISTER_CALL*)(std::uint8_t* password, std::int32_t maxLength);
using TPasswordEventExExport = void(KV_REGISTER_CALL*)(TOspreyExceptionRecord* record, std::uint8_t* password,
                                                       std::int32_t maxLength);

// The bodies of the exports: never another module's export, only this
// module's receivers; what the handlers raise stays in this module.
void ExportPasswordRequest(std::uint8_t* password, std::int32_t maxLength) noexcept;
void ExportPasswordRequestEx(const TOspreyExceptionRecord* record, std::uint8_t* password,
                             std::int32_t maxLength) noexcept;
void ExportExceptionNotify(const TOspreyExceptionRecord* record, std::uint8_t* handled) noexcept;
void ExportHandledExceptionNotify(const TOspreyExceptionRecord* record, std::uint8_t* handled) noexcept;
void ExportExceptionActionNotify(const TOspreyExceptionRecord* record, std::int32_t action, void* data) noexcept;
void ExportExceptionErrorNotify(const TOspreyExceptionRecord* record, std::int32_t errorCode, void* data) noexcept;
void ExportCustomDataRequest(const TOspreyExceptionRecord* record, const AnsiStringList* list) noexcept;
void ExportAttachedFilesRequest(const TOspreyExceptionRecord* record, const AnsiStringList* list) noexcept;
void ExportCustomWebFieldsRequest(const TOspreyExceptionRecord* record, const AnsiStringList* list) noexcept;
void ExportCustomButtonClick(const TOspreyExceptionRecord* record, std::uint8_t* closeDialog) noexcept;

// This module's local dispatch of each event, as the exports run it.
void DispatchExceptionNotify();
void DispatchHandledExceptionNotify();
void DispatchCustomDataRequest();
void DispatchAttachedFilesRequest();
void DispatchCustomWebFieldsRequest();
void DispatchCustomButtonClick();

} // namespace kv::crashreport
