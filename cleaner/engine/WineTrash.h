#pragma once
// Under Wine the recycle bin is the host's freedesktop Trash ($XDG_DATA_HOME
// or ~/.local/share, "Trash/files" and "Trash/info"). There an entry goes to
// the Trash by one rename of its own checked handle, with the ".trashinfo"
// record the Trash needs, so that no path lookup comes between the check and
// the move (the shell's delete looks the path up again, long after the check).
#include <optional>
#include <string>
#include <string_view>

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

private:
    friend class TTrashReservation;
    // Removes the record of a slot whose entry did not move.
    static void Release(const TTrashSlot& slot);
    std::string HostPathOf(const std::wstring& path);
    // The first free record name from the `attempt`-th on; `attempt` is left
    // at the one taken.
    std::optional<TTrashSlot> ReserveFrom(const std::wstring& path, int& attempt);

    std::wstring trash_;          // "\\?\unix\...\Trash\", empty when there is none
    std::wstring lastFolder_;     // the DOS folder whose host path is below
    std::string lastHostFolder_;  // its host path, with a trailing "/"
};

// What became of a rename into the Trash.
enum class TTrashMove { Moved, NameTaken, Refused };

// One entry's place in the Trash, reserved before the entry is checked:
// writing the record is the slow part, and nothing slow may come between the
// check and the rename, since under Wine the rename of a handle looks its old
// path up again. The record goes again unless the entry moved in.
class TTrashReservation {
public:
    // Reserves the first free name for the entry at `path` (a full DOS path);
    // none when there is no Trash, the host path is unknown or no record can
    // be written: the caller then uses the shell.
    TTrashReservation(TWineTrash& trash, const std::wstring& path);
    ~TTrashReservation();
    TTrashReservation(const TTrashReservation&) = delete;
    TTrashReservation& operator=(const TTrashReservation&) = delete;

    bool Reserved() const noexcept { return slot_.has_value(); }

    // Renames the checked entry into the reserved place. NameTaken: another
    // program left something of that name in "files" without a record; the
    // next free name is reserved by then, so check the entry again and call
    // once more. Refused: the rename failed otherwise, or no name is left.
    TTrashMove MoveIn(const TCheckedFolder& folder, std::wstring_view name, const TCheckedEntry& entry);

private:
    TWineTrash& trash_;
    std::wstring path_;
    int attempt_ = 0;
    std::optional<TTrashSlot> slot_;
};

} // namespace kv
