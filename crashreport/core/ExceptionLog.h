#pragma once
// The crash reporter's start and end, and the process-wide state the capture
// code tests: whether the reporter is active, whether the program is still
// starting or already ending its units, the threads excluded from reports,
// and the copy of the raising thread's stack.
#include <windows.h>

#include <cstdint>

namespace kv::crashreport {

// ---- Process-wide state
bool ReporterActive() noexcept;
bool MainModuleCarriesReporter() noexcept;
bool InstallRuntimeHooks() noexcept;
// The program's units still start, or already end (platform/ProgramPhase.h).
bool InUnitInitialization() noexcept;
bool InUnitFinalization() noexcept;
bool HandlingEnabled() noexcept;
void SetHandlingEnabled(bool enabled) noexcept;
DWORD ReporterMainThreadId() noexcept;
HMODULE ReporterModule() noexcept;

// Threads whose exceptions are never reported.
void ExcludeThread(DWORD threadId);
void IncludeThread(DWORD threadId);
bool IsThreadIncluded(DWORD threadId) noexcept;

// ---- The copy of one thread's stack, taken at a raise (the last raise wins)
constexpr std::size_t kSavedStackSize = 102400;
struct SavedStackInfo {
    DWORD ThreadId = 0;
    const void* Address = nullptr;
    std::uint32_t Start = 0; // stack address the copy begins at
    std::size_t Length = 0;
};
// Copies the calling thread's stack from `start` (or from here when `start`
// lies outside the thread's stack) towards its base, at most 102400 bytes.
void SaveStackCopy(std::uint32_t start, const void* address) noexcept;
SavedStackInfo SavedStackSnapshot() noexcept;
// Copies up to `size` bytes of the saved stack into `buffer`; the count copied.
std::size_t ReadSavedStack(void* buffer, std::size_t size) noexcept;
// The same, only when the copy is of `threadId`'s raise at `address` (the
// address as kept: a native raise's minus 5); 0 otherwise.
std::size_t ReadSavedStackOf(DWORD threadId, const void* address, void* buffer, std::size_t size) noexcept;

// ---- Start and end
// The unit start of the reporter's main unit: StartCrashReporter under
// GuardedCall "ExceptionLog.Init", the 5 MB out-of-memory reserve, the
// last-chance filter (installed even when the reporter stays off). Counted:
// only the first call acts, only the last FinalizeExceptionLog does.
void InitializeExceptionLog();
void FinalizeExceptionLog();

void StartCrashReporter();
void StopCrashReporter();

LONG WINAPI ReporterUnhandledFilter(EXCEPTION_POINTERS* pointers);

} // namespace kv::crashreport
