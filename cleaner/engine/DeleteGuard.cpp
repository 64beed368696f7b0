#include "cleaner/engine/DeleteGuard.h"

#include <shlobj.h>

#include "cleaner/engine/CheckedFolder.h"
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

// A final path is full and in long names already: no long-name lookup, which
// under Wine reads the folders on the way, is asked for it again.
std::wstring FinalFolderPath(const std::wstring& folder)
{
    const std::wstring final = FinalPath(folder);
    if (final.empty()) return std::wstring();
    std::wstring path = WithTrailingBackslash(final);
    return IsAbsoluteFolderText(path) ? path : std::wstring();
}

// Wine lists a Unix symbolic link to a file as a plain file and deletes its
// target through any handle; only the final path of the entry gives it away.
// `finalFolder` is FinalPath(folder).
bool IsHiddenFileLink(const std::wstring& folder, const std::wstring& finalFolder, const std::wstring& name)
{
    if (!RunningOnWine()) return false;
    const std::wstring final = FinalPath(folder + name, FILE_FLAG_OPEN_REPARSE_POINT);
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

} // namespace

std::wstring FolderOfPath(const std::wstring& path)
{
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

bool IsPlainFileName(std::wstring_view name)
{
    return IsPlainEntryName(name) && name.find(L"..") == std::wstring_view::npos;
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
    return TFolderLinks(folder).IsLink(entry);
}

bool TFolderLinks::IsLink(const WIN32_FIND_DATAW& entry)
{
    if (IsLinkEntry(entry)) return true;
    if (!RunningOnWine()) return false;
    if (!finalFolder_) finalFolder_ = FinalPath(folder_);
    return IsHiddenFileLink(folder_, *finalFolder_, entry.cFileName);
}

TDeleteGuard::TDeleteGuard(const std::wstring& backupFolder)
{
    wchar_t buffer[MAX_PATH] = {};
    if (UINT n = ::GetWindowsDirectoryW(buffer, MAX_PATH); n > 0 && n < MAX_PATH) AddProtected(buffer, true);
    if (UINT n = ::GetSystemDirectoryW(buffer, MAX_PATH); n > 0 && n < MAX_PATH) AddProtected(buffer, true);
    if (UINT n = ::GetSystemWow64DirectoryW(buffer, MAX_PATH); n > 0 && n < MAX_PATH) AddProtected(buffer, true);
    // Sealed: nothing inside them is ever removed.
    static const int kSealedFolders[] = {CSIDL_WINDOWS,       CSIDL_SYSTEM,           CSIDL_SYSTEMX86,
                                         CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON,
                                         CSIDL_PROGRAM_FILES_COMMONX86};
    for (int csidl : kSealedFolders) AddProtected(KnownFolder(csidl), true);
    static const wchar_t* const kSealedEnvironment[] = {L"SystemRoot", L"windir", L"ProgramFiles",
                                                        L"ProgramFiles(x86)", L"ProgramW6432"};
    for (const wchar_t* name : kSealedEnvironment) AddProtected(EnvironmentFolder(name), true);
    AddProtected(ProgramFolder, true);
    AddProtected(ExecutableFolder(), true);
    if (!backupFolder.empty()) AddProtected(backupFolder, true);
    // Key folders of the user: never emptied whole, but what lies in them
    // (the temp folder, caches) is the cleaner's work.
    static const int kKeyFolders[] = {CSIDL_PROFILE, CSIDL_COMMON_APPDATA, CSIDL_APPDATA, CSIDL_LOCAL_APPDATA,
                                      CSIDL_PERSONAL, CSIDL_DESKTOPDIRECTORY};
    for (int csidl : kKeyFolders) AddProtected(KnownFolder(csidl), false);
    static const wchar_t* const kKeyEnvironment[] = {L"USERPROFILE", L"ProgramData", L"ALLUSERSPROFILE"};
    for (const wchar_t* name : kKeyEnvironment) AddProtected(EnvironmentFolder(name), false);
    if (UINT n = ::GetWindowsDirectoryW(buffer, MAX_PATH); n > 0 && n < MAX_PATH)
        windowsTemp_ = CanonicalFolder(WithTrailingBackslash(buffer) + L"Temp\\");
}

void TDeleteGuard::AddProtected(const std::wstring& folder, bool sealed)
{
    const std::wstring canonical = CanonicalFolder(folder);
    if (canonical.empty()) return;
    std::vector<std::wstring>& list = sealed ? sealed_ : protected_;
    for (const std::wstring& known : list)
        if (UpperCase(known) == UpperCase(canonical)) return;
    list.push_back(canonical);
    // A sealed folder is a key folder too: it is never emptied whole.
    if (sealed) AddProtected(folder, false);
}

bool TDeleteGuard::IsInsideProtectedFolder(const std::wstring& folder) const
{
    return IsCanonicalInsideProtectedFolder(CanonicalFolder(folder));
}

bool TDeleteGuard::IsCanonicalInsideProtectedFolder(const std::wstring& canonical) const
{
    if (canonical.empty()) return true;
    auto inside = [this](const std::wstring& candidate) {
        for (const std::wstring& sealed : sealed_)
            if (IsSameOrInside(candidate, sealed)) return true;
        return false;
    };
    if (inside(canonical)) return true;
    // Judged by where it really is as well (a folder that is a link).
    const std::wstring final = FinalFolderPath(canonical);
    return !final.empty() && inside(final);
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
    // The Windows temp folder is a clean target of its own, though it lies
    // in the Windows folder.
    const bool windowsTemp = !windowsTemp_.empty() && IsSameOrInside(canonical, windowsTemp_);
    if (!windowsTemp && IsInsideProtectedFolder(canonical)) return false;
    // A folder that is itself a link (a temp folder moved to another drive)
    // is judged by where it really is as well.
    const std::wstring final = FinalFolderPath(canonical);
    return final.empty() || allowed(final);
}

bool TDeleteGuard::DeleteEntry(const TCheckedFolder& folder, const WIN32_FIND_DATAW& entry, TSkipList* skipped) const
{
    const std::wstring_view name(entry.cFileName);
    if (name == L"." || name == L"..") return false;
    std::optional<TSkipReason> refusal;
    const bool deleted =
        folder.DeleteEntry(name, (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0, true, &refusal);
    if (!deleted && refusal) NoteSkipped(skipped, folder.Path() + entry.cFileName, *refusal);
    return deleted;
}

bool TDeleteGuard::DeleteEntry(const std::wstring& folder, const WIN32_FIND_DATAW& entry) const
{
    return DeleteEntry(TCheckedFolder(folder), entry, nullptr);
}

bool TDeleteGuard::DeleteNamedFile(const std::wstring& path) const
{
    if (path.find_first_of(L"*?") != std::wstring::npos) return false;
    const std::wstring folder = FolderOfPath(path);
    if (!MayEmptyFolder(folder)) return false;
    const TCheckedFolder checked(folder);
    return checked.DeleteEntry(std::wstring_view(path).substr(folder.size()), false, true);
}

} // namespace kv
