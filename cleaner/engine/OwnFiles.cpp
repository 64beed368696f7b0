#include "cleaner/engine/OwnFiles.h"

#include <windows.h>

#include <atomic>

#include "cleaner/engine/CheckedFolder.h"
#include "cleaner/engine/DeleteGuard.h"
#include "platform/Format.h"
#include "platform/Handles.h"
#include "platform/Paths.h"

namespace kv {

std::wstring FreshNameBeside(const std::wstring& path)
{
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring fresh =
            Format(L"%s.%x-%x-%x.tmp", {path, ::GetCurrentProcessId(), ::GetTickCount(), ++counter});
        if (!PathExists(fresh)) return fresh;
    }
    return std::wstring();
}

namespace {

// Removes a plain file through its checked folder; a link is left alone.
bool DeletePlainFile(const std::wstring& path)
{
    const std::wstring folder = FolderOfPath(path);
    return TCheckedFolder(folder).DeleteEntry(std::wstring_view(path).substr(folder.size()), false, true);
}

bool WriteFresh(const std::wstring& fresh, std::string_view bytes)
{
    // CREATE_NEW fails on anything of that name, a link planted in the meantime included.
    FileHandle file(::CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    if (::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size())
        return true;
    file.Reset();
    DeletePlainFile(fresh);
    return false;
}

} // namespace

bool ReplaceWithFresh(const std::wstring& fresh, const std::wstring& path)
{
    // In the same folder a move is a rename: it replaces a link of that name,
    // never what the link points to.
    if (::MoveFileExW(fresh.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    DeletePlainFile(fresh);
    return false;
}

bool ReplaceOwnFile(const std::wstring& path, std::string_view bytes)
{
    const std::wstring fresh = FreshNameBeside(path);
    return !fresh.empty() && WriteFresh(fresh, bytes) && ReplaceWithFresh(fresh, path);
}

bool ReplaceOwnUnicodeFile(const std::wstring& path, std::wstring_view text)
{
    std::string bytes("\xFF\xFE", 2);
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    return ReplaceOwnFile(path, bytes);
}

bool RemoveOwnFile(const std::wstring& path)
{
    if (!PathExists(path) || DeletePlainFile(path)) return true;
    // A link (Wine deletes the target through any handle of it) is first
    // replaced by an empty file of our own.
    if (ReplaceOwnFile(path, std::string_view())) DeletePlainFile(path);
    return !PathExists(path);
}

} // namespace kv
