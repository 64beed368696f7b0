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
// TCheckedFolder::RenameOpened. nullopt when this is not Wine or there is no
// Trash to take it: the caller then uses the shell.
struct TTrashSlot {
    std::wstring infoPath;
    std::wstring filePath;
};
std::optional<TTrashSlot> ReserveWineTrashSlot(const std::wstring& path);
// Removes the record of a slot whose entry did not move (another file
// system, a refusal).
void ReleaseWineTrashSlot(const TTrashSlot& slot);

} // namespace kv
