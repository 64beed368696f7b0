#pragma once
// platform/runtime: the structured-exception guard around every place where
// Windows calls us (window procedures, callbacks, thread starts). A C++
// catch does not take a processor fault such as an access violation: the
// guard puts a frame on the thread's fs:[0] chain, and when a fault reaches
// it, unwinds the frames above it (RtlUnwind through the import table, so a
// hook on that import sees the unwind) and hands a copy of the fault's record
// and registers to `onFault` back on the guard's own stack level.
// No policy here: what becomes of the fault is the caller's business.
#include <windows.h>

extern "C" {

using KvGuardedBody = void (*)(void* argument);
using KvFaultSink = void (*)(void* argument, const EXCEPTION_RECORD* record, const CONTEXT* context);

// Runs body(argument) under the guard. Returns 0 when the body returned, 1
// when a fault was taken (after onFault has run). The body must not let a C++
// exception out: the guard is no C++ frame.
int kv_seh_guard(KvGuardedBody body, void* argument, KvFaultSink onFault);

// The guard's handler, and what its fs:[0] record names: a jump to it, five
// bytes long (the shape by which a thread's handler chain is classified).
EXCEPTION_DISPOSITION kv_seh_guard_handler(EXCEPTION_RECORD* record, void* frame, CONTEXT* context, void* dispatcher);
void kv_seh_guard_entry();
}

namespace kv {

// Exception codes the guard lets pass to the handlers above it: messages for
// a debugger (thread names, debug output), never faults of the program.
constexpr DWORD kThreadNamingException = 0x406D1388;
bool SehGuardTakes(DWORD exceptionCode) noexcept;

} // namespace kv
