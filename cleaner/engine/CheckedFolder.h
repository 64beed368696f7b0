#pragma once
// Check and act as one step. A folder whose entries are about to be removed
// is opened once and checked where it really is: an absolute path of plain
// names, shorter than MAX_PATH, no component a reparse point (junction,
// symbolic link, mount point; Wine shows a host link to a folder so), and the
// final path of its handle the folder itself. Its entries are then opened
// through that handle by their exact names, never through a path lookup, and
// a permanent delete goes through the entry's own checked handle (opened
// without following a link, removed by disposition).
//
// Under Wine a host link to a file looks like a plain file and any handle
// opens its target: the entry's final path gives it away (it names the target).
//
// What cannot go through a handle (the shell's recycle bin, a move) asks
// StillInPlace right before it acts; the folder could still be swapped in the
// time between, which the closing note of this work measured.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cleaner/engine/SkipLog.h"
#include "platform/Handles.h"

namespace kv {

// A name a walk may join to its folder: not "." or "..", no "\", "/", ":",
// wildcard, quote, angle bracket, bar or control character, and no trailing
// dot or blank (the system's path parsing drops those and finds another entry).
bool IsPlainEntryName(std::wstring_view name);

// Whether `path` starts with a drive root ("X:\"): the only paths a checked
// folder works on. A UNC, device or relative path is refused on its text,
// before any lookup, which for a UNC path could reach out to the network.
bool IsDrivePath(const std::wstring& path);

// An entry of a checked folder, opened by its exact name.
struct TCheckedEntry {
    FileHandle handle;
    DWORD attributes = 0;
    bool isNativeLink = false; // a reparse point opened as itself (the link, not its target)
};

// Which file an open handle holds: its volume and file index; none when the
// system cannot tell.
struct TFileIdentity {
    DWORD volume = 0;
    std::uint64_t index = 0;
    bool operator==(const TFileIdentity&) const = default;
};
std::optional<TFileIdentity> FileIdentityOf(HANDLE handle);

class TCheckedFolder {
public:
    // `folder` ends with a backslash.
    explicit TCheckedFolder(const std::wstring& folder);
    // The same with the folder's CanonicalFolder spelling, for a caller that
    // has just asked for it: under Wine each long-name lookup reads the
    // folders on the way. The folder is still checked to have that spelling.
    TCheckedFolder(const std::wstring& folder, const std::wstring& canonical);

    // Why the folder may not be worked on; nullopt when it may. A folder that
    // does not exist is refused with no reason (there is nothing to skip).
    bool IsUsable() const noexcept { return usable_; }
    std::optional<TSkipReason> Refusal() const noexcept { return refusal_; }
    const std::wstring& Path() const noexcept { return folder_; }

    // Right before a path-based action: the folder's text still names this
    // very folder (no component swapped for a link) and it has not moved.
    bool StillInPlace() const;

    // Opens the entry `name` of this folder through the folder's handle,
    // without following a link. nullopt with `refusal` set when it is a link
    // of Wine's kind or is not exactly that entry; nullopt alone when it does
    // not exist (or is not of the asked kind).
    std::optional<TCheckedEntry> OpenEntry(std::wstring_view name, bool directory,
                                           std::optional<TSkipReason>* refusal = nullptr) const;

    // Opens for reading the file `entry` holds, through the folder's handle
    // and by `name`: empty unless what opens is that very file (same volume
    // and file index), so that its bytes are the checked entry's own.
    FileHandle OpenForReading(const TCheckedEntry& entry, std::wstring_view name) const;

    // Removes the entry through its checked handle: read-only, hidden and
    // system attributes are cleared on that handle first and put back when the
    // removal fails. A folder goes only when empty. With `removeLinks`, a
    // reparse point is removed as itself; otherwise links are refused.
    bool DeleteEntry(std::wstring_view name, bool directory, bool removeLinks,
                     std::optional<TSkipReason>* refusal = nullptr) const;
    // The same for an entry already opened (and checked) by OpenEntry.
    bool DeleteOpened(TCheckedEntry entry, std::wstring_view name, bool directory) const;

    // Renames the entry `name`, opened (and checked) by OpenEntry, through its
    // own handle to `target` (a full path, "\\?\unix\..." under Wine
    // included), never replacing what is there. False when the system
    // refuses, e.g. for another volume.
    bool RenameOpened(const TCheckedEntry& entry, std::wstring_view name, const std::wstring& target) const;

private:
    // The checks of the constructors; `knownCanonical` when the caller gave it.
    void Check(const std::wstring* knownCanonical);
    // The folder's handle still has the final path it was checked with.
    bool FolderUnchanged() const;

    std::wstring folder_;   // as given, trailing backslash
    std::wstring expected_; // its long spelling without trailing backslash, upper case
    FileHandle handle_;
    // Taken when first needed: the folder's handle, held open, keeps naming
    // the folder that was checked, and the volume's serial number costs a
    // round trip to Wine's mount manager.
    mutable std::optional<TFileIdentity> identity_;
    bool usable_ = false;
    std::optional<TSkipReason> refusal_;
};

// Whether the program runs under Wine, whose recycle bin is the host's
// freedesktop Trash and whose links to files look like plain files.
bool RunningOnWine();

// The final path of an open handle without the "\\?\" prefix; empty when the
// system cannot tell.
std::wstring FinalPathOfHandle(HANDLE handle);

} // namespace kv
