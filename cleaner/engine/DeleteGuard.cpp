#include "cleaner/engine/DeleteGuard.h"

#include <shlobj.h>

#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/SharedState.h"
#include "platform/Handles.h"
#include "platform/Paths.h"
#include "platform/TextCodec.h"

namespace kv {

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsAbsoluteFolderText(const std::wstring& text)
{
    if (text.size() >= 3 && ((text[0] >= L'A' && text[0] <= L'Z') || (text[0] >= L'a' && text[0] <= L'z')) &&
        text[1] == L':' && IsSeparator(text[2]))
        return true;
    // UNC, but not the device namespaces "\\?\" and "\\.\".
    return text.size() >= 5 && IsSeparator(text[0]) && IsSeparator(text[1]) && text[2] != L'?' && text[2] != L'.';
}

// "X:\" or "\\server\share\": nothing above it can be named.
bool IsRootFolder(const std::wstring& canonical)
{
    if (canonical.size() == 3 && canonical[1] == L':') return true;
    if (canonical.rfind(L"\\\\", 0) != 0) return false;
    std::size_t separators = 0;
    for (std::size_t i = 2; i < canonical.size(); ++i)
        if (canonical[i] == L'\\') ++separators;
    return separators <= 2;
}

// The path an entry really lives at, through any link on the way; empty when
// it cannot be opened.
std::wstring FinalPath(const std::wstring& path, DWORD flags = 0)
{
    FileHandle handle(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr));
    if (!handle) return std::wstring();
    wchar_t buffer[MAX_PATH * 2] = {};
    const DWORD length = ::GetFinalPathNameByHandleW(handle.Get(), buffer, MAX_PATH * 2, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= MAX_PATH * 2) return std::wstring();
    std::wstring final(buffer, length);
    if (final.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + final.substr(8);
    if (final.rfind(L"\\\\?\\", 0) == 0) return final.substr(4);
    return final;
}

std::wstring FinalFolderPath(const std::wstring& folder) { return CanonicalFolder(FinalPath(folder)); }

bool RunningOnWine()
{
    static const bool wine = ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

// Wine lists a Unix symbolic link to a file as a plain file and deletes its
// target through any handle; only the final path of the entry gives it away.
bool IsHiddenFileLink(const std::wstring& folder, const std::wstring& name)
{
    if (!RunningOnWine()) return false;
    const std::wstring final = FinalPath(folder + name, FILE_FLAG_OPEN_REPARSE_POINT);
    const std::wstring finalFolder = FinalPath(folder);
    if (final.empty() || finalFolder.empty()) return true;
    return UpperCase(final) != UpperCase(WithTrailingBackslash(finalFolder) + name);
}

std::wstring KnownFolder(int csidl)
{
    wchar_t path[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_DONT_VERIFY, nullptr, SHGFP_TYPE_CURRENT, path)))
        return std::wstring();
    return path;
}

std::wstring EnvironmentFolder(const wchar_t* name)
{
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableW(name, buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(buffer, length) : std::wstring();
}

std::wstring ExecutableFolder()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? FolderOfPath(std::wstring(path, length)) : std::wstring();
}

// Removes a link itself. The handle is opened on the link, not on its target,
// and the delete goes through that handle; when the handle does not show the
// link (Wine reports the target for Unix symbolic links, and deletes the
// target through any handle), the link is left alone.
bool RemoveLink(const std::wstring& path)
{
    FileHandle link(::CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!link) return false;
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!::GetFileInformationByHandleEx(link.Get(), FileAttributeTagInfo, &tag, sizeof tag)) return false;
    if (!(tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || tag.ReparseTag == 0) return false;
    FILE_DISPOSITION_INFO disposition{TRUE};
    return ::SetFileInformationByHandle(link.Get(), FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}

// Read-only, hidden and system entries cannot be removed until their
// attributes are cleared; they are put back when the removal fails.
template <class Remove>
bool RemoveWithClearedAttributes(const std::wstring& path, DWORD attributes, Remove remove)
{
    constexpr DWORD kBlocking = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    const bool cleared = (attributes & kBlocking) && ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (remove(path.c_str())) return true;
    if (cleared) ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_DIRECTORY);
    return false;
}

} // namespace

std::wstring FolderOfPath(const std::wstring& path)
{
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

bool IsPlainFileName(std::wstring_view name)
{
    if (name.empty() || name == L"." || name.find(L"..") != std::wstring_view::npos) return false;
    for (wchar_t c : name)
        if (c < L' ' || std::wstring_view(L"\\/:*?\"<>|").find(c) != std::wstring_view::npos) return false;
    return true;
}

std::wstring CanonicalFolder(const std::wstring& folder)
{
    if (!IsAbsoluteFolderText(folder)) return std::wstring();
    wchar_t full[MAX_PATH * 2] = {};
    const DWORD fullLength = ::GetFullPathNameW(folder.c_str(), MAX_PATH * 2, full, nullptr);
    if (fullLength == 0 || fullLength >= MAX_PATH * 2) return std::wstring();
    std::wstring path = WithTrailingBackslash(std::wstring(full, fullLength));
    // Short (8.3) spellings name the same folder: compare the long one.
    wchar_t longPath[MAX_PATH * 2] = {};
    const DWORD longLength = ::GetLongPathNameW(path.c_str(), longPath, MAX_PATH * 2);
    if (longLength > 0 && longLength < MAX_PATH * 2) path = WithTrailingBackslash(std::wstring(longPath, longLength));
    return IsAbsoluteFolderText(path) ? path : std::wstring();
}

bool IsSameOrInside(const std::wstring& inner, const std::wstring& outer)
{
    if (inner.empty() || outer.empty() || inner.size() < outer.size()) return false;
    return UpperCase(std::wstring_view(inner).substr(0, outer.size())) == UpperCase(outer);
}

bool IsLinkEntry(const WIN32_FIND_DATAW& entry) { return (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

bool IsWalkableFolder(const WIN32_FIND_DATAW& entry) { return IsRealSubFolder(entry) && !IsLinkEntry(entry); }

bool IsLinkInFolder(const std::wstring& folder, const WIN32_FIND_DATAW& entry)
{
    return IsLinkEntry(entry) || IsHiddenFileLink(folder, entry.cFileName);
}

TDeleteGuard::TDeleteGuard()
{
    wchar_t buffer[MAX_PATH] = {};
    if (UINT n = ::GetWindowsDirectoryW(buffer, MAX_PATH); n > 0 && n < MAX_PATH) AddProtected(buffer);
    if (UINT n = ::GetSystemDirectoryW(buffer, MAX_PATH); n > 0 && n < MAX_PATH) AddProtected(buffer);
    if (UINT n = ::GetSystemWow64DirectoryW(buffer, MAX_PATH); n > 0 && n < MAX_PATH) AddProtected(buffer);
    static const int kKnownFolders[] = {
        CSIDL_WINDOWS,       CSIDL_SYSTEM,          CSIDL_SYSTEMX86,        CSIDL_PROFILE,
        CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROGRAM_FILES_COMMONX86,
        CSIDL_COMMON_APPDATA, CSIDL_APPDATA,        CSIDL_LOCAL_APPDATA,    CSIDL_PERSONAL,
        CSIDL_DESKTOPDIRECTORY};
    for (int csidl : kKnownFolders) AddProtected(KnownFolder(csidl));
    static const wchar_t* const kEnvironmentFolders[] = {L"SystemRoot",  L"windir",      L"USERPROFILE",
                                                         L"ProgramFiles", L"ProgramFiles(x86)", L"ProgramW6432",
                                                         L"ProgramData", L"ALLUSERSPROFILE"};
    for (const wchar_t* name : kEnvironmentFolders) AddProtected(EnvironmentFolder(name));
    AddProtected(ProgramFolder);
    AddProtected(ExecutableFolder());
}

void TDeleteGuard::AddProtected(const std::wstring& folder)
{
    const std::wstring canonical = CanonicalFolder(folder);
    if (canonical.empty()) return;
    for (const std::wstring& known : protected_)
        if (UpperCase(known) == UpperCase(canonical)) return;
    protected_.push_back(canonical);
}

bool TDeleteGuard::MayEmptyFolder(const std::wstring& folder) const
{
    const std::wstring canonical = CanonicalFolder(folder);
    if (canonical.empty()) return false;
    auto allowed = [this](const std::wstring& candidate) {
        if (IsRootFolder(candidate)) return false;
        for (const std::wstring& key : protected_)
            if (IsSameOrInside(key, candidate)) return false;
        return true;
    };
    if (!allowed(canonical)) return false;
    // A folder that is itself a link (a temp folder moved to another drive)
    // is judged by where it really is as well.
    const std::wstring final = FinalFolderPath(canonical);
    return final.empty() || allowed(final);
}

bool TDeleteGuard::DeleteEntry(const std::wstring& folder, const WIN32_FIND_DATAW& entry) const
{
    const std::wstring_view name(entry.cFileName);
    if (name.empty() || name == L"." || name == L"..") return false;
    const std::wstring path = folder + entry.cFileName;
    if (IsLinkEntry(entry)) return RemoveLink(path);
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return RemoveWithClearedAttributes(path, entry.dwFileAttributes,
                                           [](const wchar_t* p) { return ::RemoveDirectoryW(p) != FALSE; });
    if (IsHiddenFileLink(folder, entry.cFileName)) return false;
    return RemoveWithClearedAttributes(path, entry.dwFileAttributes,
                                       [](const wchar_t* p) { return ::DeleteFileW(p) != FALSE; });
}

bool TDeleteGuard::DeleteNamedFile(const std::wstring& path) const
{
    if (path.find_first_of(L"*?") != std::wstring::npos) return false;
    const std::wstring folder = FolderOfPath(path);
    if (!MayEmptyFolder(folder)) return false;
    WIN32_FIND_DATAW entry{};
    {
        FindHandle find(::FindFirstFileW(path.c_str(), &entry));
        if (!find) return false;
    }
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !IsLinkEntry(entry)) return false;
    return DeleteEntry(folder, entry);
}

} // namespace kv
