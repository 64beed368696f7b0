#include "cleaner/engine/SkipLog.h"

#include "platform/Format.h"

namespace kv {

std::wstring SkipReasonText(TSkipReason reason)
{
    switch (reason) {
    case TSkipReason::NotPlainName:
        return L"not a plain file name";
    case TSkipReason::PathTooLong:
        return L"path too long";
    case TSkipReason::ProtectedFolder:
        return L"inside a protected folder";
    case TSkipReason::Link:
        return L"a link, or behind one";
    case TSkipReason::FolderChanged:
        return L"its folder changed since the scan";
    }
    return L"refused";
}

std::wstring SkippedLine(const TSkippedEntry& entry)
{
    return Format(L"Skipped: %s (%s)", {entry.path, SkipReasonText(entry.reason)});
}

std::wstring SkippedCountText(std::size_t count)
{
    return count == 0 ? std::wstring() : Format(L" - %u skipped", {count});
}

void NoteSkipped(TSkipList* list, std::wstring path, TSkipReason reason)
{
    if (list) list->push_back({std::move(path), reason});
}

} // namespace kv
