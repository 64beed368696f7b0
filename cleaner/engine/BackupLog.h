#pragma once
// The backup folder of the clean method that moves junk files away, and its
// log: where a moved entry lies, how the log reads and is written, and the
// restore that copies the entries back.
//
// Layout: an entry formerly at C:\Temp\a.tmp lies at <backup folder>C\Temp\a.tmp
// (the drive colon removed); a UNC entry \\server\share\a.tmp lies at
// <backup folder>UNC\server\share\a.tmp. The log ("Backup.txt" by default) is
// UTF-16LE with a byte-order mark and CR LF line ends; lines beginning with
// ";" are comments, every other non-empty line is the former full path of one
// moved entry. Every run appends its header and its lines to what was there.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace kv {

inline constexpr wchar_t DefaultDeletionFile[] = L"Backup.txt";
// The sub-folder of a chosen folder where a log is also looked for.
inline constexpr wchar_t BackupSubFolder[] = L"KVBackup\\";

// The backup folder and the name of its log, as the settings hold them.
struct TBackupLocation {
    std::wstring folder;  // trailing backslash
    std::wstring logName; // file name only
};

// The log's file name, "Backup.txt" when the name is not a valid file name.
std::wstring BackupLogName(const std::wstring& logName);

// Where the saved copy of `formerPath` lies below `backupFolder`; empty when
// the path is no absolute path ("C:\...", "\\server\share\...") or names a
// "." or ".." component, which could point outside the backup folder.
std::wstring BackupCopyPath(const std::wstring& backupFolder, const std::wstring& formerPath);

// The lines one move run puts before its entries: "; " + title, an empty
// line, "; ----------" + short date + " " + long time + "----------", two
// empty lines.
std::wstring BackupLogHeader(const std::wstring& title, const SYSTEMTIME& localTime);

// The text of an existing log (byte-order mark detected, else the ANSI code
// page); an empty text when there is no file; nullopt when a file exists but
// cannot be read, so that it is never replaced by a shorter one.
std::optional<std::wstring> ReadBackupLog(const std::wstring& logPath);

// Writes the whole log through a fresh file beside it, renamed over the log,
// so a failed write never leaves half a log and a link planted under the
// log's name is replaced, not written through (OwnFiles.h).
bool WriteBackupLog(const std::wstring& logPath, const std::wstring& text);

// The log to restore from: `chosenFolder` + name, else `chosenFolder` +
// "KVBackup\" + name. `base` is the folder the copies lie below.
struct TFoundBackupLog {
    std::wstring logPath;
    std::wstring base;
};
std::optional<TFoundBackupLog> FindBackupLog(const std::wstring& chosenFolder, const std::wstring& logName);

struct TRestoreResult {
    bool ran = false;   // false for a log of one line or none: nothing is done or shown
    int restored = 0;   // entries that are back where they were
    std::vector<std::wstring> notRestored; // former paths that could not be brought back
};

// Copies every entry of the log back to its former path. An existing file is
// never overwritten (one with the very same bytes counts as restored); a
// missing former folder is created again; the backup copies and the log stay.
TRestoreResult RestoreFromBackupLog(const std::wstring& base, const std::wstring& logText);

// True when both files can be read and hold the same bytes.
bool SameFileContents(const std::wstring& a, const std::wstring& b);
// The same for two files open for reading, read from their start.
bool SameContents(HANDLE first, HANDLE second);

} // namespace kv
