// The entry points through which the crash reporter of another module of the
// process runs this module's event handlers. Nothing in this module calls
// them, so this unit is linked as an object file into every module that
// carries the reporter (an archive member would be dropped). The names are
// exported undecorated (--kill-at) with the register convention the calling
// reporter uses; none takes more than three arguments.
#include "crashreport/core/EEvents.h"

namespace cr = kv::crashreport;

#define KV_EVENT_EXPORT extern "C" __declspec(dllexport) void KV_REGISTER_CALL

KV_EVENT_EXPORT OspreyLog_PasswordRequestEvent(std::uint8_t* password, std::int32_t maxLength)
{
    cr::ExportPasswordRequest(password, maxLength);
}

KV_EVENT_EXPORT OspreyLog_PasswordRequestEventEx(cr::TOspreyExceptionRecord* record, std::uint8_t* password,
                                                 std::int32_t maxLength)
{
    cr::ExportPasswordRequestEx(record, password, maxLength);
}

KV_EVENT_EXPORT OspreyLog_ExceptionNotifyEvent(cr::TOspreyExceptionRecord* record, std::uint8_t* handled)
{
    cr::ExportExceptionNotify(record, handled);
}

KV_EVENT_EXPORT OspreyLog_HandledExceptionNotifyEvent(cr::TOspreyExceptionRecord* record, std::uint8_t* handled)
{
    cr::ExportHandledExceptionNotify(record, handled);
}

KV_EVENT_EXPORT OspreyLog_ExceptionActionNotifyEvent(cr::TOspreyExceptionRecord* record, std::int32_t action,
                                                     void* data)
{
    cr::ExportExceptionActionNotify(record, action, data);
}

KV_EVENT_EXPORT OspreyLog_ExceptionErrorNotifyEvent(cr::TOspreyExceptionRecord* record, std::int32_t errorCode,
                                                    void* data)
{
    cr::ExportExceptionErrorNotify(record, errorCode, data);
}

KV_EVENT_EXPORT OspreyLog_CustomDataRequestEventEx(cr::TOspreyExceptionRecord* record, const kv::AnsiStringList* list)
{
    cr::ExportCustomDataRequest(record, list);
}

KV_EVENT_EXPORT OspreyLog_AttachedFilesRequestEvent(cr::TOspreyExceptionRecord* record, const kv::AnsiStringList* list)
{
    cr::ExportAttachedFilesRequest(record, list);
}

KV_EVENT_EXPORT OspreyLog_CustomWebFieldsRequestEvent(cr::TOspreyExceptionRecord* record,
                                                      const kv::AnsiStringList* list)
{
    cr::ExportCustomWebFieldsRequest(record, list);
}

KV_EVENT_EXPORT OspreyLog_CustomButtonClickEvent(cr::TOspreyExceptionRecord* record, std::uint8_t* closeDialog)
{
    cr::ExportCustomButtonClick(record, closeDialog);
}
