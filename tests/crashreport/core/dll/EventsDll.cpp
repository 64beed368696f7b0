// A DLL that carries the crash reporter, for the tests of events that cross
// modules: its handlers note what they see through a procedure of the test.
#include <windows.h>

#include <stdexcept>
#include <string>

#include "crashreport/core/EEvents.h"
#include "crashreport/core/EObjects.h"

namespace cr = kv::crashreport;

namespace {

using NoteProcedure = void (*)(const char* text);
NoteProcedure g_note = nullptr;
cr::TOspreyLogHandler g_handler;

void Note(const std::string& text)
{
    if (g_note) g_note(text.c_str());
}

} // namespace

extern "C" {

// Registers this module's handler: each notes "dll:<event>" and what it was
// given, and changes what a handler may change.
__declspec(dllexport) void KvEventsDll_Install(NoteProcedure note)
{
    g_note = note;
    cr::CreateOspreyLogList();
    cr::OspreyLogList()->Remove(&g_handler);
    cr::OspreyLogList()->Add(&g_handler);
    g_handler.OnExceptionNotify = [](cr::TOspreyExceptionRecord* record, bool& handled) {
        Note("dll:ExceptionNotify:" + record->LogText + ":" + (handled ? "1" : "0"));
        handled = false;
    };
    g_handler.OnHandledExceptionNotify = [](cr::TOspreyExceptionRecord* record, bool&) {
        Note("dll:HandledExceptionNotify:" + cr::ClassNameOf(record->ExceptionObject));
    };
    g_handler.OnExceptionActionNotify = [](cr::TOspreyExceptionRecord*, std::int32_t action, void* data) {
        Note("dll:ExceptionActionNotify:" + std::to_string(action));
        *static_cast<bool*>(data) = false;
    };
    g_handler.OnExceptionErrorNotify = [](cr::TOspreyExceptionRecord*, std::int32_t errorCode, void*) {
        Note("dll:ExceptionErrorNotify:" + std::to_string(errorCode));
    };
    g_handler.OnPasswordRequest = [](cr::TOspreyExceptionRecord*, std::string& password) {
        Note("dll:PasswordRequest:" + password);
        password = "from-dll";
    };
    g_handler.OnCustomDataRequest = [](cr::TOspreyExceptionRecord*, kv::AnsiStringList& fields) {
        Note("dll:CustomDataRequest:" + std::to_string(fields.Count()));
    };
    g_handler.OnAttachedFilesRequest = [](cr::TOspreyExceptionRecord*, kv::AnsiStringList& files) {
        Note("dll:AttachedFilesRequest:" + (files.Empty() ? std::string() : files[0]));
    };
    g_handler.OnCustomWebFieldsRequest = [](cr::TOspreyExceptionRecord*, kv::AnsiStringList&) {
        Note("dll:CustomWebFieldsRequest");
    };
    g_handler.OnCustomButtonClick = [](cr::TOspreyExceptionRecord*, bool& closeDialog) {
        Note("dll:CustomButtonClick");
        closeDialog = true;
        throw std::runtime_error("a handler that fails");
    };
}

// The log text of this module's current record (restored after every call).
__declspec(dllexport) const char* KvEventsDll_CurrentLogText()
{
    return cr::CurrentExceptionRecord().LogText.c_str();
}

}
