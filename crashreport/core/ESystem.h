#pragma once
// Facts about files, modules, memory, the operating system and the user that
// the crash reporter puts into reports or needs for its own decisions.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/DateTime.h"

namespace kv::crashreport {

// The reporter's own version and the range of stored data it accepts.
constexpr int ReporterVersion = 6023;
bool ReporterVersionMatches(int version);
bool IsELDataMagic(std::uint32_t value);

// ---- Files, modules and paths
std::string GetExeFileName();
// The module's file name with a "\\?\"-style prefix removed and every short
// (8.3) component made long.
std::string GetModuleFullName(HMODULE module);
bool ModuleHasFileName(HMODULE module);
// The module that holds the reporter's code, and its file name.
HMODULE OwnModuleHandle();
std::string OwnModuleName();
std::string ShortToLongPath(const std::string& path);
// Last-write time in local time; 0 when the file is missing.
TDateTime FileDateOf(const std::string& fileName);
std::string GetTempPathText();
std::string GetCommandLineText();
// A string value; trailing NULs are dropped, never real characters; any
// failure gives the empty text.
std::string ReadRegistryString(HKEY root, std::string_view subKey, std::string_view valueName);
// The target of an import thunk (jmp [cell]); otherwise the address itself.
const void* ResolveImportThunk(const void* address);
// Every byte of the range in committed memory with plain read access (no
// guard or no-cache modifiers).
bool IsReadableMemory(const void* address, std::size_t size);
// How many of the `wanted` bytes from `address` on can be read (whole pages
// at a time, by the rules of IsReadableMemory).
std::size_t ReadableSize(const void* address, std::size_t wanted);

// ---- Operating system and user
bool RunningOnWindows9x();
// Tests of the Windows 9x paths make the platform tests answer as on 9x
// (true) or as on NT (false); nullopt gives the real answer again.
void ForceWindows9xPlatform(std::optional<bool> forced) noexcept;
bool RunningOnWindows95();
bool RunningOnWindowsNT4();
bool RunningOnVistaOrLater();
bool RunningUnderWow64();
bool IsWorkstationProduct();
std::string GetOSDescription();
// The description for given version facts (the part GetOSDescription decides).
std::string DescribeOS(const OSVERSIONINFOEXA& version, bool underWow64);
std::string GetOSBuildText();
std::string GetComputerNameText();
std::string GetUserNameText();
std::string GetRegisteredOwner();
bool DebuggerAttached();
// Runs inside the development environment's host program.
bool IsHostIDE();
bool IsHostIDEFileName(std::string_view exeFileName);
inline HANDLE OwnProcessHandle() { return ::GetCurrentProcess(); }
inline DWORD OwnProcessID() { return ::GetCurrentProcessId(); }
bool HandleIsValid(HANDLE handle);
bool IsThreadRunning(HANDLE thread);
// The stack base of the calling thread, and the current stack position.
const void* GetStackTop();
const void* GetStackPointer();

// 5 MB of address space held back, so that a report can still allocate after
// an out-of-memory failure.
void ReserveOutOfMemorySpace();
void ReleaseOutOfMemorySpace();
bool OutOfMemorySpaceReserved();

} // namespace kv::crashreport
