#pragma once
// Helpers of the Clean Now and backup tests: the host's freedesktop trash
// (Wine's recycle bin) seen from inside the prefix, and snapshots of rows.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/JunkCleaner.h"
#include "cleaner/engine/TSearchUnit.h"
#include "common/TestSupport.h"
#include "platform/Handles.h"
#include "platform/StringList.h"
#include "platform/TextCodec.h"

namespace kvtest {

// $XDG_DATA_HOME/Trash/ as a path the prefix can open ("\\?\unix\..."); the
// test environment points XDG_DATA_HOME into the scratch folder.
inline std::wstring HostTrashFolder()
{
    wchar_t buffer[1024] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"XDG_DATA_HOME", buffer, 1024);
    if (length == 0 || length >= 1024 || buffer[0] != L'/') return std::wstring();
    std::wstring folder = L"\\\\?\\unix" + std::wstring(buffer, length) + L"/Trash/";
    for (wchar_t& c : folder)
        if (c == L'/') c = L'\\';
    return folder;
}

// The end of the unix path a DOS path has in the prefix: everything after the
// drive (Wine writes ".../dosdevices/c:/kvtest/...").
inline std::wstring UnixTail(const std::wstring& dosPath)
{
    std::wstring tail = dosPath.substr(2);
    for (wchar_t& c : tail)
        if (c == L'\\') c = L'/';
    return tail;
}

struct TrashedFile {
    std::wstring originalTail; // the "Path=" of its .trashinfo, from after the drive on
    std::string bytes;         // what lies in Trash/files
    std::wstring infoPath, filePath; // both halves in the trash, as the prefix opens them
};

// Every file in the host's trash whose former place was below `dosFolder`.
inline std::vector<TrashedFile> TrashedFrom(const std::wstring& dosFolder)
{
    std::vector<TrashedFile> found;
    const std::wstring trash = HostTrashFolder();
    if (trash.empty()) return found;
    const std::wstring wanted = UnixTail(dosFolder);
    WIN32_FIND_DATAW entry{};
    kv::FindHandle find(::FindFirstFileW((trash + L"info\\*.trashinfo").c_str(), &entry));
    if (!find) return found;
    do {
        const std::wstring info = entry.cFileName;
        const kv::StringList lines(kv::Utf8ToWide(ReadBytes(trash + L"info\\" + info)));
        const std::wstring path = lines.Value(L"Path");
        const std::size_t at = path.find(wanted);
        if (at == std::wstring::npos) continue;
        const std::wstring name = info.substr(0, info.size() - std::wstring(L".trashinfo").size());
        const std::wstring file = trash + L"files\\" + name;
        const DWORD attributes = ::GetFileAttributesW(file.c_str());
        const bool isFile = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
        found.push_back({path.substr(at), isFile ? ReadBytes(file) : std::string(), trash + L"info\\" + info, file});
    } while (::FindNextFileW(find.Get(), &entry));
    return found;
}

// Takes a test's own entries out of the trash again: Wine's emptying of the
// recycle bin leaves read-only files and folders behind.
inline void RemoveTrashedFrom(const std::wstring& dosFolder)
{
    for (const TrashedFile& file : TrashedFrom(dosFolder)) {
        ::SetFileAttributesW(file.filePath.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!::DeleteFileW(file.filePath.c_str())) ::RemoveDirectoryW(file.filePath.c_str());
        ::DeleteFileW(file.infoPath.c_str());
    }
}

// The paths of the rows an outcome names (indices into `rows`).
inline std::vector<std::wstring> PathsOf(const std::vector<kv::TJunkItem>& rows, const std::vector<std::size_t>& indices)
{
    std::vector<std::wstring> paths;
    for (std::size_t index : indices) paths.push_back(index < rows.size() ? rows[index].Path : L"<no such row>");
    return paths;
}

// Writes a file, making its folders first.
inline void PutFile(const std::wstring& path, const std::string& bytes)
{
    kv::CreateFolderPath(path);
    WriteBytes(path, bytes);
}

// A scan's window that only keeps the result rows.
class ResultsView : public kv::TScanView {
public:
    kv::TScanOptions options;
    std::vector<kv::TScanResult> rows;
    kv::TScanOptions ReadScanOptions() override { return options; }
    void ShowCurrentPath(const std::wstring&) override {}
    void AddScanItem(const kv::TScanResult& row, const std::wstring&) override { rows.push_back(row); }
    void ScanFinished(const std::wstring&) override {}
    std::wstring LanguageText(int) override { return L"%s"; }

    // The rows as Clean Now takes them, every one checked as the scan adds it.
    std::vector<kv::TJunkItem> JunkRows() const
    {
        std::vector<kv::TJunkItem> junk;
        for (const kv::TScanResult& row : rows)
            junk.push_back(kv::JunkItemOf(row.Caption, row.Location, row.ImageIndex, true));
        return junk;
    }
};

// A Clean Now window that shows nothing and answers every question with No.
class QuietCleanView : public kv::TCleanNowView {
public:
    std::wstring LanguageText(int) override { return L"text"; }
    void CleanNowStarted() override {}
    void ShowProgressText(const std::wstring&) override {}
    void AddProgressLine(int, int, const std::wstring&) override {}
    bool ConfirmPermanentDelete() override { return false; }
    std::optional<kv::TBackupLocation> CorrectBackupFolder(const std::wstring&) override { return std::nullopt; }
    void RemoveCleanedItems() override {}
    void CleanNowFinished(const std::wstring&) override {}
};

inline kv::TJunkItem Checked(const std::wstring& path) { return {path, true, false}; }
inline kv::TJunkItem Unchecked(const std::wstring& path) { return {path, false, false}; }
inline kv::TJunkItem EmptyFolderRow(const std::wstring& path) { return {path, true, true}; }

} // namespace kvtest
