#include "cleaner/engine/BackupLog.h"

#include "cleaner/engine/DeleteGuard.h"
#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/OwnFiles.h"
#include "platform/Handles.h"
#include "platform/Paths.h"
#include "platform/StringList.h"

namespace kv {
namespace {

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// "." and ".." would let a log line name something outside the backup folder.
bool HasDotComponent(const std::wstring& path)
{
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find_first_of(L"\\/", start);
        if (end == std::wstring::npos) end = path.size();
        const std::wstring_view part(path.data() + start, end - start);
        if (part == L"." || part == L"..") return true;
        start = end + 1;
    }
    return false;
}

DWORD AttributesOf(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()); }
bool IsFile(DWORD attributes) { return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY); }
bool IsFolder(DWORD attributes) { return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY); }

std::wstring LocaleText(int (WINAPI* format)(LCID, DWORD, const SYSTEMTIME*, LPCWSTR, LPWSTR, int), DWORD flags,
                        const SYSTEMTIME& time)
{
    wchar_t buffer[128] = {};
    const int length = format(LOCALE_USER_DEFAULT, flags, &time, nullptr, buffer, 128);
    return length > 1 ? std::wstring(buffer, static_cast<std::size_t>(length - 1)) : std::wstring();
}

// One entry of the log back at its former path.
bool RestoreEntry(const std::wstring& base, const std::wstring& formerPath)
{
    const std::wstring copy = BackupCopyPath(base, formerPath);
    if (copy.empty()) return false;
    const DWORD copyAttributes = AttributesOf(copy);
    if (IsFolder(copyAttributes)) {
        CreateFolderPath(WithTrailingBackslash(formerPath));
        return IsFolder(AttributesOf(formerPath));
    }
    if (!IsFile(copyAttributes)) return false;
    if (AttributesOf(formerPath) != INVALID_FILE_ATTRIBUTES) return SameFileContents(copy, formerPath);
    CreateFolderPath(FolderOfPath(formerPath));
    // Never over a file that appeared in the meantime.
    return ::CopyFileW(copy.c_str(), formerPath.c_str(), TRUE) != FALSE;
}

} // namespace

std::wstring BackupLogName(const std::wstring& logName)
{
    return IsValidFileName(logName) && logName != L"." && logName != L".." ? logName : DefaultDeletionFile;
}

std::wstring BackupCopyPath(const std::wstring& backupFolder, const std::wstring& formerPath)
{
    if (backupFolder.empty() || HasDotComponent(formerPath)) return std::wstring();
    const std::wstring base = WithTrailingBackslash(backupFolder);
    if (formerPath.size() >= 4 && IsDriveLetter(formerPath[0]) && formerPath[1] == L':' && formerPath[2] == L'\\')
        return base + formerPath[0] + formerPath.substr(2);
    if (formerPath.size() >= 5 && formerPath[0] == L'\\' && formerPath[1] == L'\\' && formerPath[2] != L'?' &&
        formerPath[2] != L'.' && formerPath[2] != L'\\')
        return base + L"UNC" + formerPath.substr(1);
    return std::wstring();
}

std::wstring BackupLogHeader(const std::wstring& title, const SYSTEMTIME& localTime)
{
    const std::wstring date = LocaleText(::GetDateFormatW, DATE_SHORTDATE, localTime);
    const std::wstring time = LocaleText(::GetTimeFormatW, 0, localTime);
    return L"; " + title + L"\r\n\r\n; ----------" + date + L" " + time + L"----------\r\n\r\n\r\n";
}

std::optional<std::wstring> ReadBackupLog(const std::wstring& logPath)
{
    if (AttributesOf(logPath) == INVALID_FILE_ATTRIBUTES) return std::wstring();
    const auto bytes = ReadWholeFile(logPath);
    if (!bytes) return std::nullopt;
    return DecodeText(*bytes);
}

bool WriteBackupLog(const std::wstring& logPath, const std::wstring& text)
{
    return ReplaceOwnUnicodeFile(logPath, text);
}

std::optional<TFoundBackupLog> FindBackupLog(const std::wstring& chosenFolder, const std::wstring& logName)
{
    if (chosenFolder.empty() || !IsValidFileName(logName)) return std::nullopt;
    const std::wstring folder = WithTrailingBackslash(chosenFolder);
    for (const std::wstring& base : {folder, folder + BackupSubFolder})
        if (IsFile(AttributesOf(base + logName))) return TFoundBackupLog{base + logName, base};
    return std::nullopt;
}

TRestoreResult RestoreFromBackupLog(const std::wstring& base, const std::wstring& logText)
{
    TRestoreResult result;
    const StringList lines(logText);
    if (lines.Count() <= 1) return result;
    result.ran = true;
    for (const std::wstring& line : lines) {
        if (line.empty() || line.front() == L';') continue;
        if (RestoreEntry(base, line))
            ++result.restored;
        else
            result.notRestored.push_back(line);
    }
    return result;
}

bool SameFileContents(const std::wstring& a, const std::wstring& b)
{
    auto open = [](const std::wstring& path) {
        return FileHandle(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    };
    const FileHandle first = open(a), second = open(b);
    return first && second && SameContents(first.Get(), second.Get());
}

bool SameContents(HANDLE first, HANDLE second)
{
    LARGE_INTEGER firstSize{}, secondSize{};
    if (!::GetFileSizeEx(first, &firstSize) || !::GetFileSizeEx(second, &secondSize) ||
        firstSize.QuadPart != secondSize.QuadPart)
        return false;
    std::string firstChunk(64 * 1024, '\0'), secondChunk(64 * 1024, '\0');
    for (;;) {
        DWORD firstRead = 0, secondRead = 0;
        if (!::ReadFile(first, firstChunk.data(), static_cast<DWORD>(firstChunk.size()), &firstRead, nullptr) ||
            !::ReadFile(second, secondChunk.data(), static_cast<DWORD>(secondChunk.size()), &secondRead, nullptr) ||
            firstRead != secondRead)
            return false;
        if (firstRead == 0) return true;
        if (firstChunk.compare(0, firstRead, secondChunk, 0, secondRead) != 0) return false;
    }
}

} // namespace kv
