#pragma once
// The live registry of the program's threads and what fills it: the
// CreateThread, ResumeThread and ExitThread hooks of this module's import
// table (ECapture installs them and calls in here), the start wrapper every
// new thread runs through, and the entry points through which a DLL's
// reporter passes its threads on to the main module's registry.
#include <windows.h>

#include <cstdint>
#include <string>

#include "crashreport/core/EThreadsList.h"

namespace kv::crashreport {

class TOspreyModuleOptions;

// The live list: nullptr until the reporter's start-up made it. It lives as
// long as the process (a hook that tested ReporterActive just before the
// stop may still reach it); the stop only empties it.
TOspreyThreadsList* LiveThreadsList() noexcept;
// At start-up: the list with the main thread's record (its handle stays the
// caller's); at the stop: empty again.
void StartThreadsList(DWORD mainThreadId, HANDLE mainThreadHandle, std::uint32_t mainStackTop);
void StopThreadsList() noexcept;

using RealCreateThread = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD,
                                         LPDWORD);
using RealResumeThread = DWORD(WINAPI*)(HANDLE);

// The bodies of the hooks: each records what it must, then calls the real
// procedure (ExitThread's hook calls it itself, after OnThreadExit).
HANDLE OnCreateThread(RealCreateThread real, LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize,
                      LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags, LPDWORD threadId);
DWORD OnResumeThread(RealResumeThread real, HANDLE thread);
void OnThreadExit() noexcept;

// Every thread made while the reporter is on starts here: it notes its stack
// top, runs the creator's routine and ends through the ExitThread hook, so
// that it leaves the registry when it ends.
DWORD WINAPI ThreadStartWrapper(void* launch);

// What the exports of another module's reporter do here (by ID: each module
// holds its own handle of the thread).
void CallCreateThread(const TOspreyThreadInfo* record);
void CallResumeThread(HANDLE handle, const TOspreyThreadInfo* record);
void CallExitThread();

// A runtime thread: the main thread or a worker object's thread; every other
// one is a Windows thread.
bool IsRuntimeThread(const TOspreyThreadInfo& record) noexcept;
// The class of a worker thread's object ("" for a Windows thread).
std::string ThreadClassName(const TOspreyThreadInfo& record);
// Whether a report shows the thread's call stack, and pauses the thread.
bool ShowThreadCallStack(const TOspreyThreadInfo& record, const TOspreyModuleOptions& options);
bool PauseThread(const TOspreyThreadInfo& record, const TOspreyModuleOptions& options);

} // namespace kv::crashreport
