#pragma once
// The one place that decides what the clean targets may delete, and the only
// code that deletes for them:
// - nothing inside the Windows, system or program-files folders, the
//   program's own folder or the backup folder is removed, by any method
//   (the Windows temp folder, a clean target of its own, excepted);
// - a folder is emptied only when it is an absolute folder path that is not a
//   drive root, not one of the system's or the user's key folders (Windows,
//   system, profile, program folders and the like) and does not contain one;
//   TEMP, TMP, shell-folder values and profiles.ini can all point anywhere;
// - walks never descend into a reparse point (junction, symbolic link, mount
//   point); a link is removed as a link or not at all, never through it (Wine
//   lists Unix links to files as plain files and deletes through any handle:
//   there such a link is recognised by its final path and left alone);
// - attributes are cleared only on the entry that is about to be deleted, and
//   put back when the delete fails;
// - every entry is removed through a checked folder (CheckedFolder.h).
#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cleaner/engine/CheckedFolder.h"
#include "cleaner/engine/SkipLog.h"

namespace kv {

// The folder's full, long spelling with a trailing backslash, compared without
// regard to case; empty when the text is no absolute folder path ("C:\x\",
// "\\server\share\x\"). Relative, drive-relative ("C:x", "\x") and device
// ("\\?\", "\\.\") paths give empty.
std::wstring CanonicalFolder(const std::wstring& folder);

// True when `inner` is `outer` or lies below it (canonical forms).
bool IsSameOrInside(const std::wstring& inner, const std::wstring& outer);

// A directory entry that is a reparse point: never walked into.
bool IsLinkEntry(const WIN32_FIND_DATAW& entry);
// A real sub-folder that a walk descends: a folder, not "." or "..", no link.
bool IsWalkableFolder(const WIN32_FIND_DATAW& entry);
// An entry of `folder` that is a link of any kind, including the links to
// files that Wine lists as plain files.
bool IsLinkInFolder(const std::wstring& folder, const WIN32_FIND_DATAW& entry);
// The same for many entries of one folder: the folder's own final path is
// found once, at the first entry that needs it.
class TFolderLinks {
public:
    explicit TFolderLinks(std::wstring folder) : folder_(std::move(folder)) {}
    bool IsLink(const WIN32_FIND_DATAW& entry);

private:
    std::wstring folder_;
    std::optional<std::wstring> finalFolder_;
};

class TDeleteGuard {
public:
    // Collects the protected folders of this machine and user; a backup
    // folder given here is sealed as well.
    explicit TDeleteGuard(const std::wstring& backupFolder = std::wstring());

    // Whether `folder` (trailing backslash) is or lies inside a sealed
    // folder: Windows, system, program files, the program's own folder, the
    // backup folder. Also true for a text that is no absolute folder path.
    bool IsInsideProtectedFolder(const std::wstring& folder) const;
    // The same for a folder's CanonicalFolder spelling (empty: true).
    bool IsCanonicalInsideProtectedFolder(const std::wstring& canonical) const;

    // Whether `folder` may be emptied (see the top of this file).
    bool MayEmptyFolder(const std::wstring& folder) const;

    // Deletes one entry that a walk found in `folder` (trailing backslash),
    // by its exact name through the checked folder. A link is removed as a
    // link (Wine's links to files stay); a folder is removed only when empty.
    // A refusal is noted in `skipped`.
    bool DeleteEntry(const TCheckedFolder& folder, const WIN32_FIND_DATAW& entry, TSkipList* skipped) const;
    bool DeleteEntry(const std::wstring& folder, const WIN32_FIND_DATAW& entry) const;
    // Deletes a named file whose folder may be emptied; folders are refused.
    bool DeleteNamedFile(const std::wstring& path) const;

private:
    void AddProtected(const std::wstring& folder, bool sealed);
    std::vector<std::wstring> protected_; // never emptied, nor anything that holds them
    std::vector<std::wstring> sealed_;    // nothing inside them is removed
    std::wstring windowsTemp_;
};

// The folder part of a path, with trailing backslash ("" when there is none).
std::wstring FolderOfPath(const std::wstring& path);

// A file name read from a data file (an index, an INI) that may be opened
// inside the folder it is meant for: a plain entry name (IsPlainEntryName)
// without "..".
bool IsPlainFileName(std::wstring_view name);

} // namespace kv
