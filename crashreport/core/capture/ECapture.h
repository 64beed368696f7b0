#pragma once
// How the reporter learns of an exception when it is raised, before any
// handler runs: the C++ runtime's raise, search and end-of-catch (through the
// runtime observer), processor faults (a vectored handler that keeps their
// record, registers and stack; the exception-object procedure that the guard
// calls), the terminate handler, and the kernel32 imports RaiseException,
// RtlUnwind and WriteFile of this module.
#include <windows.h>

#include <cstdint>
#include <exception>

#include <httpext.h>

#include "crashreport/core/EExceptionManager.h"
#include "crashreport/core/capture/EHandledAnalysis.h"
#include "crashreport/core/capture/EThreadState.h"

namespace kv::crashreport {

constexpr DWORD kNativeExceptionCode = 0x0EEDFADE;
constexpr DWORD kForeignNotificationCode = 0x0EEDFAE4;
constexpr DWORD kForeignCxxExceptionCode = 0xE06D7363;

// ---- The last exception raised: the process's (plain stores, no lock) and
// the calling thread's own, both written by each record.
void RecordLastException(const void* object, const void* address, bool isNative) noexcept;
LastExceptionInfo LastException() noexcept;
LastExceptionInfo ThreadLastException() noexcept;
// The address an object was raised at, as this thread or the process last
// recorded it; nullptr when unknown.
const void* RaiseAddressOf(const void* object) noexcept;

// ---- The raise filter
// Fills the calling thread's synthetic record and registers for a native raise
// (code 0x0EEDFADE, flags 1, seven arguments: address, object, four registers,
// one more value) and, with `notify`, records it (RaiseNotify).
void GeneralRaiseNotify(DWORD code, DWORD flags, DWORD numberOfArguments, bool notify, const ULONG_PTR* arguments);
// Records the raise, keeps the raising stack and, when no handler of the
// program will take it, reports it now.
void RaiseNotify(const void* object, const void* address, bool isNative);
// The stack of the raising thread from its synthetic context's Esp (or from
// here) towards its base, at most 102400 bytes.
void SaveRaisingThreadStack(const void* address, bool isNative) noexcept;
void RtlUnwindNotify(void* targetFrame, void* targetIp, EXCEPTION_RECORD* record) noexcept;

// ---- Captures passed on from the reporter of another module of the process
// (its exports call these in the main module).
void ForwardedGeneralRaise(DWORD code, DWORD flags, DWORD numberOfArguments, std::uint32_t raiseFrame,
                           const ULONG_PTR* arguments);
// The object made for the other module's record; valid until the next call.
const void* ForwardedExceptObject(const EXCEPTION_RECORD* record, const CONTEXT* context, bool notify);

// The main module's export `name` when the main module carries the reporter
// and this module is not the main module; nullptr otherwise.
void* MainModuleExport(const char* name) noexcept;

// ---- The runtime's two exception procedures
std::exception_ptr ExceptObjProcHook(const EXCEPTION_RECORD& record, const CONTEXT* context);
std::exception_ptr OspreyLog_CallExceptObject(const EXCEPTION_RECORD* record, const CONTEXT* context, bool notify);
// The terminate handler: reports the exception in flight unless it was just
// reported, then ends the main thread's program with exit code 1, any other
// thread with ExitThread(1).
[[noreturn]] void ExceptProcHook();

// Observer, terminate handler, exception-object procedure, vectored handler.
void InstallRuntimeCapture();
void RemoveRuntimeCapture();

// The kernel32 imports of this module, each on its own: a failure of one
// leaves the others in place. False when any failed.
bool InstallImportHooks();

// What a web program writes to its client passes here: the report output
// registers the sink that keeps the last page (a CGI program's standard
// output, handle given; an ISAPI extension's WriteClient, handle nullptr; the
// sink itself skips what the reporter writes as its own error page).
using WebClientOutputSink = void (*)(HANDLE file, const void* buffer, DWORD count);
void SetWebClientOutputSink(WebClientOutputSink sink) noexcept;

// ---- Replacements of imports (same signatures as the replaced functions)
extern "C" {
void WINAPI HookedRaiseException(DWORD code, DWORD flags, DWORD numberOfArguments, const ULONG_PTR* arguments);
void WINAPI HookedRtlUnwind(void* targetFrame, void* targetIp, EXCEPTION_RECORD* record, void* returnValue);
BOOL WINAPI HookedWriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written, LPOVERLAPPED overlapped);
HANDLE WINAPI HookedCreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                                 LPVOID parameter, DWORD flags, LPDWORD threadId);
DWORD WINAPI HookedResumeThread(HANDLE thread);
// The ISAPI wrapper: an extension's entry point, detoured when this module
// exports it, puts HookedWriteClient in the control block's WriteClient.
DWORD WINAPI HookedHttpExtensionProc(EXTENSION_CONTROL_BLOCK* block);
BOOL WINAPI HookedWriteClient(HCONN connection, LPVOID buffer, LPDWORD bytes, DWORD reserved);
void WINAPI HookedExitThread(DWORD exitCode);
}

} // namespace kv::crashreport
