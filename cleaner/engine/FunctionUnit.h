#pragma once
// The cleaner's shared routines: wildcard matching, sizes and their display,
// paths and folders, files, drives, registry helpers, processes, the clipboard,
// version texts and the worker-thread counter.
#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The folder picker, message boxes and property sheets are the platform's;
// the cleaner's callers reach them through this header.
#include "platform/Paths.h"
#include "platform/ShellWindows.h"

namespace kv {

// Cluster size in bytes per drive letter A..Z; 0 means unknown. Filled on the
// main thread while the drive list is built, before any worker reads it.
extern std::array<std::uint32_t, 26> ClusterSizes;

// Running worker threads of the cleaner; 1 when none runs. Changed only by
// IncThreadCount/DecThreadCount (interlocked).
extern std::atomic<long> WorkerThreadCount;

// The folder BrowseForFolder opens on, set by its callers (main thread only).
extern std::wstring BrowseStartFolder;

// ---- Matching and comparing
bool MatchWildcard(std::wstring_view mask, std::wstring_view name);
// The same match on texts already upper-cased, for callers that test one name
// against many masks (the scan upper-cases each mask once).
bool MatchUpperCaseWildcard(std::wstring_view upperMask, std::wstring_view upperName);
bool CompareVersions(std::wstring_view current, std::wstring_view newest);
int CompareNumericText(std::wstring_view a, std::wstring_view b);
int CompareSizeText(std::wstring_view a, std::wstring_view b);
bool IsValidFileName(std::wstring_view name);

// ---- Sizes and their display
std::wstring FormatFileSize(std::int64_t bytes);
// "###,##0": whole number with the locale's thousand separator.
std::wstring FormatThousands(std::int64_t value);
// A file time as UTC calendar fields, "YYYY-MM-DD hh:mm:ss".
std::wstring FileTimeToText(const FILETIME& time);
std::int64_t FileSizeOf(const std::wstring& path);
std::int64_t SizeOnDisk(const std::wstring& path, std::int64_t size);
std::int64_t FileSizeOnDisk(const std::wstring& path, std::int64_t size = -1);
// `size` rounded up to the cluster size of the path's drive, for a file known
// to exist (no look-up of the file).
std::int64_t ClusterRoundedSize(const std::wstring& path, std::int64_t size);
std::uint32_t GetClusterSize(const std::wstring& root);
// Windows 95/98 only: the boot sector's cluster size; throws kv::Exception.
std::uint32_t GetClusterSize9x(int driveNumber);
std::int64_t GetDiskSpace(const std::wstring& root, int which);
std::wstring FormatDiskSpace(const std::wstring& root, int which);

// ---- Folders and paths (folder texts end with a backslash unless noted)
std::wstring GetTempFolder();
std::wstring GetWindowsFolder(); // without trailing backslash
std::wstring GetShellFolder(std::wstring_view name);
std::wstring GetTruePathName(const std::wstring& folder);
std::wstring GetShortPath(const std::wstring& path);
void CreateFolderPath(std::wstring_view path);
std::wstring ExpandEnvironment(const std::wstring& text);
bool IsRealSubFolder(const WIN32_FIND_DATAW& entry);
// The logical size a listing reports for a file.
std::int64_t ListedSize(const WIN32_FIND_DATAW& entry);
std::wstring GetVolumeLabel(const std::wstring& root);
std::wstring GetFileSystemName(const std::wstring& root);

// ---- Files
// Whether the file can be opened for writing (clearing its read-only
// attribute for the try, and putting it back).
bool CanOpenFile(const std::wstring& path);
int FindBytes(std::string_view needle, std::string_view haystack, int start, int count);
bool WriteUnicodeFile(const std::wstring& path, std::wstring_view text);
// Creates or replaces the file with exactly these bytes; false when it cannot.
bool WriteWholeFile(const std::wstring& path, std::string_view bytes);
// Decodes by byte-order mark (FF FE, FE FF, EF BB BF), else the ANSI code page.
std::wstring DecodeText(std::string_view bytes);
std::wstring LoadResourceText(const wchar_t* resourceName);
INT_PTR OpenWithShell(const std::wstring& target, const std::wstring& parameters, const std::wstring& folder,
                      int showCommand);

// ---- Registry
bool DeleteRegistryKey(HKEY root, std::wstring_view path);

// ---- System and process
bool IsAlreadyRunning();
int RunAndWait(const std::wstring& program, const std::wstring& parameters);
bool IsUACEnabled();
std::wstring GetCurrentUserSid();
std::wstring ReadFileVersionText();
bool SetClipboardText(std::wstring_view text);

long IncThreadCount();
long DecThreadCount();

// Counts a worker thread for its whole lifetime: a member of every cleaner
// worker, so construction increments and destruction decrements.
class WorkerThreadCounter {
public:
    WorkerThreadCounter() { IncThreadCount(); }
    ~WorkerThreadCounter() { DecThreadCount(); }
    WorkerThreadCounter(const WorkerThreadCounter&) = delete;
    WorkerThreadCounter& operator=(const WorkerThreadCounter&) = delete;
};

} // namespace kv
