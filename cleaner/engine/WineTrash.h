#pragma once
// Under Wine the recycle bin is the host's freedesktop Trash ($XDG_DATA_HOME
// or ~/.local/share, "Trash/files" and "Trash/info"). There an entry goes to
// the Trash by one rename of its own checked handle, with the ".trashinfo"
// record the Trash needs, so that no path lookup comes between the check and
// the move (the shell's delete looks the path up again, long after the check).
#include <optional>
#include <string>

#include "cleaner/engine/CheckedFolder.h"

namespace kv {

// A place in the Trash for the entry formerly at `path`: its ".trashinfo"
// record is written, the entry itself goes to `filePath` by
// TCheckedFolder::RenameOpened.
struct TTrashSlot {
    std::wstring infoPath;
    std::wstring filePath;
};

// The Trash for one run over many entries: found (and its two folders made)
// once, and the host path of each entry's folder looked up once per folder.
class TWineTrash {
public:
    TWineTrash();

    // Whether the Trash can take entries: this is Wine and it has a Trash.
    bool IsAvailable() const noexcept { return !trash_.empty(); }

    // Moves the opened entry formerly at `path` (a full DOS path) into the
    // Trash by a rename of its handle, with its record; false when there is
    // no Trash, the host path is unknown, no record can be written or the
    // rename is refused (another file system): the caller then uses the shell.
    bool MoveIn(const TCheckedEntry& entry, const std::wstring& path);

    // A slot for the entry at `path`: its record written, its place in
    // "files" named (a rename there never replaces what may lie in it).
    std::optional<TTrashSlot> Reserve(const std::wstring& path);
    // Removes the record of a slot whose entry did not move.
    static void Release(const TTrashSlot& slot);

private:
    std::string HostPathOf(const std::wstring& path);
    // The first free record name from the `attempt`-th on; `attempt` is left
    // at the one taken.
    std::optional<TTrashSlot> ReserveFrom(const std::wstring& path, int& attempt);

    std::wstring trash_;          // "\\?\unix\...\Trash\", empty when there is none
    std::wstring lastFolder_;     // the DOS folder whose host path is below
    std::string lastHostFolder_;  // its host path, with a trailing "/"
};

} // namespace kv
