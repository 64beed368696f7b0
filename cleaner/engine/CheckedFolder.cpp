#include "cleaner/engine/CheckedFolder.h"

#include <winternl.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "cleaner/engine/DeleteGuard.h"
#include "platform/TextCodec.h"

namespace kv {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kBlockingAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// Native create options (ntifs.h), not in the MinGW headers.
constexpr ULONG kFileDirectoryFile = 0x00000001;
constexpr ULONG kFileSynchronousIoNonAlert = 0x00000020;
constexpr ULONG kFileNonDirectoryFile = 0x00000040;
constexpr ULONG kFileOpenForBackupIntent = 0x00004000;
constexpr ULONG kFileOpenReparsePoint = 0x00200000;
constexpr ULONG kFileOpen = 1;

using NtCreateFileProc = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                                          ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);

using NtSetInformationFileProc = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
using NtQueryInformationFileProc = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
constexpr ULONG kFileRenameInformation = 10;
constexpr ULONG kFileInternalInformation = 6;

NtCreateFileProc NtCreateFileEntry()
{
    static const auto entry = reinterpret_cast<NtCreateFileProc>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtCreateFile"));
    return entry;
}

// Opens `name` inside the folder whose handle is `folder`: the name is looked
// up in that very folder, whatever its path names by now.
FileHandle OpenRelative(HANDLE folder, std::wstring_view name, ACCESS_MASK access, ULONG options)
{
    const NtCreateFileProc create = NtCreateFileEntry();
    if (!create || name.empty() || name.size() > 255) return FileHandle();
    UNICODE_STRING text{};
    text.Buffer = const_cast<PWSTR>(name.data());
    text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    text.MaximumLength = text.Length;
    OBJECT_ATTRIBUTES attributes{};
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, folder, nullptr);
    IO_STATUS_BLOCK status{};
    HANDLE opened = INVALID_HANDLE_VALUE;
    if (create(&opened, access | SYNCHRONIZE, &attributes, &status, nullptr, 0, kShareAll, kFileOpen,
               options | kFileSynchronousIoNonAlert, nullptr, 0) < 0)
        return FileHandle();
    return FileHandle(opened);
}

FileHandle OpenFolderItself(const std::wstring& folder)
{
    return FileHandle(::CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, kShareAll,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
}

std::optional<FILE_ATTRIBUTE_TAG_INFO> TagOf(HANDLE handle)
{
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)) return std::nullopt;
    return tag;
}

bool IsReparse(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

bool SetAttributes(HANDLE handle, DWORD attributes)
{
    FILE_BASIC_INFO basic{}; // zero times: left as they are
    basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    return ::SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic) != FALSE;
}

bool IsDriveRootText(const std::wstring& folder)
{
    return folder.size() == 3 && ((folder[0] >= L'A' && folder[0] <= L'Z') || (folder[0] >= L'a' && folder[0] <= L'z')) &&
           folder[1] == L':' && folder[2] == L'\\';
}

std::wstring WithoutTrailingBackslash(std::wstring path)
{
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    return path;
}

// The number of the file `handle` holds on its volume, without the volume:
// asking the volume (as every documented call that gives the number does)
// is a round trip to the mount manager under Wine, a third of a millisecond.
std::optional<std::uint64_t> FileIndexOf(HANDLE handle)
{
    static const auto queryInformation = reinterpret_cast<NtQueryInformationFileProc>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile"));
    LARGE_INTEGER index{};
    IO_STATUS_BLOCK status{};
    if (!queryInformation || queryInformation(handle, &status, &index, sizeof index, kFileInternalInformation) < 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(index.QuadPart);
}

// Renames the file `handle` holds to `target` (a full path), never
// replacing what is there.
bool RenameHandle(HANDLE handle, const std::wstring& target)
{
    static const auto setInformation = reinterpret_cast<NtSetInformationFileProc>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtSetInformationFile"));
    if (!setInformation || target.size() < 3) return false;
    // The native name of a full path: "\\?\X" and "C:\X" both become "\??\X".
    const std::wstring native = L"\\??\\" + (target.rfind(L"\\\\?\\", 0) == 0 ? target.substr(4) : target);
    // The system's FILE_RENAME_INFORMATION: the name follows the length
    // directly (offset 12 on 32-bit, 20 on 64-bit Windows).
    struct RenameHeader {
        BOOLEAN ReplaceIfExists;
        HANDLE RootDirectory;
        ULONG FileNameLength;
        WCHAR FileName[1];
    };
    const std::size_t nameOffset = offsetof(RenameHeader, FileName);
    std::vector<std::uint8_t> buffer(nameOffset + (native.size() + 1) * sizeof(wchar_t), 0);
    auto* header = reinterpret_cast<RenameHeader*>(buffer.data());
    header->ReplaceIfExists = FALSE;
    header->RootDirectory = nullptr;
    header->FileNameLength = static_cast<ULONG>(native.size() * sizeof(wchar_t));
    std::memcpy(buffer.data() + nameOffset, native.data(), native.size() * sizeof(wchar_t));
    IO_STATUS_BLOCK status{};
    return setInformation(handle, &status, buffer.data(), static_cast<ULONG>(buffer.size()), kFileRenameInformation) >= 0;
}

} // namespace

bool RunningOnWine()
{
    static const bool wine = ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

bool TCheckedFolder::RenameOpened(const TCheckedEntry& entry, std::wstring_view name, const std::wstring& target) const
{
    if (!entry.handle || target.size() < 3) return false;
    if (!RunningOnWine()) return RenameHandle(entry.handle.Get(), target);
    // Under Wine the rename goes by the path the handle was opened with: a
    // folder swapped for a link since then makes it move another file. What
    // lies at the target afterwards must be the handle's own file; another
    // one is put back at once (the entry was opened here under its name, and
    // the same path leads where that one came from while the link stands),
    // and the entry counts as not moved.
    const auto mine = FileIndexOf(entry.handle.Get());
    if (!mine || !RenameHandle(entry.handle.Get(), target)) return false;
    // The handle renamed to the target once more: a rename onto the name its
    // own file already has succeeds and does nothing, and a taken name is
    // never replaced. One call to Wine's server instead of the three a look
    // at the target takes; only a refusal asks what lies there.
    if (RenameHandle(entry.handle.Get(), target)) return true;
    const FileHandle moved(::CreateFileW(target.c_str(), FILE_READ_ATTRIBUTES | DELETE | SYNCHRONIZE, kShareAll, nullptr,
                                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                         nullptr));
    // The file's number alone: the rename stays on one file system, and Wine
    // gives a "\\?\unix" path (the Trash) another volume number than the drive.
    const auto there = moved ? FileIndexOf(moved.Get()) : std::nullopt;
    if (!there || *there == *mine) return true; // what cannot be told stays as the system said
    RenameHandle(moved.Get(), folder_ + std::wstring(name));
    return false;
}

bool IsPlainEntryName(std::wstring_view name)
{
    if (name.empty() || name == L"." || name == L"..") return false;
    if (name.back() == L'.' || name.back() == L' ') return false;
    for (wchar_t c : name)
        if (c < L' ' || std::wstring_view(L"\\/:*?\"<>|").find(c) != std::wstring_view::npos) return false;
    return true;
}

std::optional<TFileIdentity> FileIdentityOf(HANDLE handle)
{
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(handle, &information)) return std::nullopt;
    return TFileIdentity{information.dwVolumeSerialNumber,
                         (static_cast<std::uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow};
}

std::wstring FinalPathOfHandle(HANDLE handle)
{
    wchar_t buffer[MAX_PATH * 2] = {};
    const DWORD length = ::GetFinalPathNameByHandleW(handle, buffer, MAX_PATH * 2, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= MAX_PATH * 2) return std::wstring();
    std::wstring final(buffer, length);
    if (final.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + final.substr(8);
    if (final.rfind(L"\\\\?\\", 0) == 0) return final.substr(4);
    return final;
}

bool IsDrivePath(const std::wstring& path) { return path.size() >= 3 && IsDriveRootText(path.substr(0, 3)); }

TCheckedFolder::TCheckedFolder(const std::wstring& folder) : folder_(folder) { Check(nullptr); }

TCheckedFolder::TCheckedFolder(const std::wstring& folder, const std::wstring& canonical) : folder_(folder)
{
    Check(&canonical);
}

void TCheckedFolder::Check(const std::wstring* knownCanonical)
{
    if (!folder_.empty() && folder_.back() != L'\\') folder_ += L'\\';
    // Drive paths only: the walks and the scan work on drive letters.
    if (!IsDrivePath(folder_)) {
        refusal_ = TSkipReason::NotPlainName;
        return;
    }
    if (folder_.size() >= MAX_PATH) {
        refusal_ = TSkipReason::PathTooLong;
        return;
    }
    // Every component a plain name, none of them a link: asked without a
    // trailing backslash, a link answers for itself and not for its target.
    for (std::size_t start = 3; start < folder_.size();) {
        const std::size_t end = folder_.find(L'\\', start);
        if (!IsPlainEntryName(std::wstring_view(folder_).substr(start, end - start))) {
            refusal_ = TSkipReason::NotPlainName;
            return;
        }
        const DWORD attributes = ::GetFileAttributesW(folder_.substr(0, end).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return; // missing: nothing to do
        if (IsReparse(attributes)) {
            refusal_ = TSkipReason::Link;
            return;
        }
        start = end + 1;
    }
    handle_ = OpenFolderItself(folder_);
    if (!handle_) return;
    const auto tag = TagOf(handle_.Get());
    if (!tag || !(tag->FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    if (IsReparse(tag->FileAttributes)) {
        refusal_ = TSkipReason::Link;
        return;
    }
    // Asked only now, for a drive path whose components all passed: a
    // long-name lookup of another kind of path could reach out to the network.
    expected_ = UpperCase(WithoutTrailingBackslash(knownCanonical ? *knownCanonical : CanonicalFolder(folder_)));
    if (expected_.empty() || UpperCase(WithoutTrailingBackslash(FinalPathOfHandle(handle_.Get()))) != expected_) {
        refusal_ = TSkipReason::FolderChanged;
        return;
    }
    usable_ = true;
}

bool TCheckedFolder::FolderUnchanged() const
{
    return UpperCase(WithoutTrailingBackslash(FinalPathOfHandle(handle_.Get()))) == expected_;
}

bool TCheckedFolder::StillInPlace() const
{
    if (!usable_) return false;
    if (!FolderUnchanged()) return false;
    if (!identity_) identity_ = FileIdentityOf(handle_.Get());
    if (!identity_) return false;
    const FileHandle again = OpenFolderItself(folder_);
    if (!again) return false;
    const auto tag = TagOf(again.Get());
    return tag && !IsReparse(tag->FileAttributes) && FileIdentityOf(again.Get()) == identity_;
}

std::optional<TCheckedEntry> TCheckedFolder::OpenEntry(std::wstring_view name, bool directory,
                                                       std::optional<TSkipReason>* refusal) const
{
    auto refuse = [&](TSkipReason reason) -> std::optional<TCheckedEntry> {
        if (refusal) *refusal = reason;
        return std::nullopt;
    };
    if (!usable_) {
        if (refusal_) return refuse(*refusal_);
        return std::nullopt;
    }
    if (!IsPlainEntryName(name)) return refuse(TSkipReason::NotPlainName);
    if (folder_.size() + name.size() >= MAX_PATH) return refuse(TSkipReason::PathTooLong);
    // Opened first and checked last, so that nothing comes between the
    // entry's own check and what the caller then does with it.
    TCheckedEntry entry;
    entry.handle = OpenRelative(handle_.Get(), name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                kFileOpenReparsePoint | kFileOpenForBackupIntent |
                                    (directory ? kFileDirectoryFile : kFileNonDirectoryFile));
    const auto tag = entry.handle ? TagOf(entry.handle.Get()) : std::nullopt;
    if (!tag) {
        if (!FolderUnchanged()) return refuse(TSkipReason::FolderChanged);
        return std::nullopt;
    }
    entry.attributes = tag->FileAttributes;
    entry.isNativeLink = IsReparse(tag->FileAttributes);
    if (entry.isNativeLink) {
        if (!FolderUnchanged()) return refuse(TSkipReason::FolderChanged);
        return entry;
    }
    // The entry must live in this folder under this name: a link of Wine's
    // kind opens its target, and a folder swapped for a link on the way
    // leads elsewhere; either way the final path is not this one. The
    // entry's final path holds its folder's, so a match also shows the
    // folder where it was checked; only a mismatch asks which of the two moved.
    if (UpperCase(FinalPathOfHandle(entry.handle.Get())) != expected_ + L"\\" + UpperCase(name))
        return refuse(FolderUnchanged() ? TSkipReason::Link : TSkipReason::FolderChanged);
    return entry;
}

FileHandle TCheckedFolder::OpenForReading(const TCheckedEntry& entry, std::wstring_view name) const
{
    if (!usable_ || !entry.handle || !IsPlainEntryName(name)) return FileHandle();
    FileHandle reading = OpenRelative(handle_.Get(), name, FILE_READ_DATA | FILE_READ_ATTRIBUTES,
                                      kFileOpenReparsePoint | kFileOpenForBackupIntent | kFileNonDirectoryFile);
    if (!reading) return FileHandle();
    const auto checked = FileIdentityOf(entry.handle.Get());
    if (!checked || FileIdentityOf(reading.Get()) != checked) return FileHandle();
    return reading;
}

bool TCheckedFolder::DeleteEntry(std::wstring_view name, bool directory, bool removeLinks,
                                 std::optional<TSkipReason>* refusal) const
{
    std::optional<TCheckedEntry> entry = OpenEntry(name, directory, refusal);
    if (!entry) return false;
    if (entry->isNativeLink && !removeLinks) {
        if (refusal) *refusal = TSkipReason::Link;
        return false;
    }
    return DeleteOpened(std::move(*entry), name, directory);
}

bool TCheckedFolder::DeleteOpened(TCheckedEntry checkedEntry, std::wstring_view name, bool directory) const
{
    TCheckedEntry* entry = &checkedEntry;
    const DWORD kept = entry->attributes & ~(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
    const bool cleared = (kept & kBlockingAttributes) && SetAttributes(entry->handle.Get(), kept & ~kBlockingAttributes);
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (!::SetFileInformationByHandle(entry->handle.Get(), FileDispositionInfo, &disposition, sizeof disposition)) {
        if (cleared) SetAttributes(entry->handle.Get(), kept);
        return false;
    }
    entry->handle.Reset();
    // A file whose delete was accepted goes when its last handle closes, as
    // with DeleteFile. Wine accepts the delete of a folder that is not empty
    // and then, at the close, does not remove it: a folder is looked for
    // again. (Not a file's: where a name is missing Wine reads the whole
    // folder to rule out another case, which in a folder of thousands of
    // files costs many times the delete itself.)
    if (!directory) return true;
    return !OpenRelative(handle_.Get(), name, FILE_READ_ATTRIBUTES,
                         kFileOpenReparsePoint | kFileOpenForBackupIntent | kFileDirectoryFile);
}

} // namespace kv
