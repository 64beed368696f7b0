// The entry points through which the crash reporter of another module of the
// process (a DLL that carries its own) passes its captures on to the main
// module's. Nothing in this module calls them, so the unit is linked as an
// object file into every module that carries the reporter; the names are
// exported undecorated (--kill-at) with the reporter's register convention.
#include "crashreport/core/EEvents.h"
#include "crashreport/core/capture/ECapture.h"
#include "crashreport/core/capture/EThreadHooks.h"

namespace cr = kv::crashreport;

extern "C" __declspec(dllexport) void KV_REGISTER_CALL
OspreyLog_CallGeneralRaise(DWORD code, DWORD flags, DWORD numberOfArguments, std::uint32_t raiseFrame,
                           const ULONG_PTR* arguments)
{
    cr::ForwardedGeneralRaise(code, flags, numberOfArguments, raiseFrame, arguments);
}

extern "C" __declspec(dllexport) const void* KV_REGISTER_CALL
OspreyLog_CallExceptObject(const EXCEPTION_RECORD* record, const CONTEXT* context, std::uint8_t notify)
{
    return cr::ForwardedExceptObject(record, context, notify != 0);
}

extern "C" __declspec(dllexport) std::uint8_t KV_REGISTER_CALL OspreyLog_LastNativeException()
{
    return cr::LastException().IsNative ? 1 : 0;
}

extern "C" __declspec(dllexport) std::uint8_t KV_REGISTER_CALL
ExceptionManager(const void* object, const void* address, std::uint8_t raiserType, HMODULE moduleHandle)
{
    return cr::ExceptionManager(object, address, static_cast<cr::TRaiserType>(raiserType), moduleHandle) ? 1 : 0;
}

// The threads another module's reporter sees made, resumed and ended.
extern "C" __declspec(dllexport) void KV_REGISTER_CALL OspreyLog_CallCreateThread(const cr::TOspreyThreadInfo* record)
{
    cr::CallCreateThread(record);
}

extern "C" __declspec(dllexport) void KV_REGISTER_CALL OspreyLog_CallResumeThread(HANDLE handle,
                                                                                 const cr::TOspreyThreadInfo* record)
{
    cr::CallResumeThread(handle, record);
}

extern "C" __declspec(dllexport) void KV_REGISTER_CALL OspreyLog_CallExitThread() { cr::CallExitThread(); }
