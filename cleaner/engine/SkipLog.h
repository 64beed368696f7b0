#pragma once
// Entries a scan or a clean leaves alone on purpose, with the reason the user
// is shown: nothing is skipped silently. The scan shows the count in its
// status line, Clean Now one line per entry in its progress log, and a job
// run writes them all to its log file.
//
// The texts are English: the language table has no place for them, and a
// language file must not be able to hide them.
#include <string>
#include <vector>

namespace kv {

enum class TSkipReason {
    NotPlainName,    // a name holding "\", ":", a wildcard, or ending in a dot or blank
    PathTooLong,     // MAX_PATH or more characters
    ProtectedFolder, // inside the Windows, system or program folders, the program's own or the backup folder
    Link,            // a link, or reached through one
    FolderChanged,   // the folder is no longer the folder that was scanned
};

struct TSkippedEntry {
    std::wstring path;
    TSkipReason reason;
};
using TSkipList = std::vector<TSkippedEntry>;

std::wstring SkipReasonText(TSkipReason reason);
// "Skipped: <path> (<reason>)".
std::wstring SkippedLine(const TSkippedEntry& entry);
// " - N skipped" for the scan's status line; empty when nothing was skipped.
std::wstring SkippedCountText(std::size_t count);

// Adds to `list` when there is one (callers that do not show skips pass none).
void NoteSkipped(TSkipList* list, std::wstring path, TSkipReason reason);

} // namespace kv
