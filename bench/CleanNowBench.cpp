// Clean Now on its scan results against the bare system calls doing the same
// removal, per clean method, in one executable under one Wine: for each run
// and method a fresh tree of FILES files (100 folders) is made twice, Clean
// Now cleans one copy (RunCleanNow, job mode, only the scan-results row
// checked) and the peer the other, in turn, the order swapped every run.
//   method 2 (delete for good)   peer: a DeleteFileW loop
//   method 1 (move to a backup)  peer: a MoveFileExW loop into the same places
//   method 0 (recycle bin)       peer: one SHFileOperationW for the whole list
// Prints each one's median per file and the median of the per-run ratios.
//   CleanNowBench.exe [FILES] [RUNS]          (default 10000 files, 3 runs)
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "BenchClock.h"
#include "cleaner/engine/BackupLog.h"
#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/JunkCleaner.h"
#include "cleaner/engine/SharedState.h"
#include "platform/Handles.h"

namespace {

using kvbench::Median;
using kvbench::Now;

const std::wstring kRoot = L"C:\\kvbench\\clean\\";
constexpr int kFolders = 100;

// A fresh tree of `files` small files in kFolders folders; their paths.
std::vector<std::wstring> MakeTree(const std::wstring& tree, int files)
{
    std::vector<std::wstring> paths;
    for (int i = 0; i < files; ++i) {
        const std::wstring folder = tree + L"f" + std::to_wstring(i % kFolders) + L"\\";
        if (i < kFolders) kv::CreateFolderPath(folder);
        const std::wstring path = folder + L"junk" + std::to_wstring(i) + L".tmp";
        kv::FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        ::WriteFile(file.Get(), "junk", 4, &written, nullptr);
        paths.push_back(path);
    }
    return paths;
}

int Left(const std::vector<std::wstring>& paths)
{
    return static_cast<int>(std::count_if(paths.begin(), paths.end(), [](const std::wstring& path) {
        return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    }));
}

// The Clean page's side of Clean Now, answering nothing (job mode asks nothing).
class SilentView : public kv::TCleanNowView {
public:
    std::wstring LanguageText(int) override { return L"-"; }
    void CleanNowStarted() override {}
    void ShowProgressText(const std::wstring&) override {}
    void AddProgressLine(int, int, const std::wstring&) override {}
    bool ConfirmPermanentDelete() override { return true; }
    std::optional<kv::TBackupLocation> CorrectBackupFolder(const std::wstring&) override { return std::nullopt; }
    void RemoveCleanedItems() override {}
    void CleanNowFinished(const std::wstring&) override {}
};

void CleanNow(const std::vector<std::wstring>& paths, kv::TCleanMethod method, const std::wstring& backup)
{
    kv::TCleanNowRequest request;
    request.CheckedRows[kv::ctJunkFiles] = true;
    request.CleanMethod = method;
    request.Backup = {backup, L"Backup.txt"};
    for (const std::wstring& path : paths) request.Junk.push_back({path, true, false});
    SilentView view;
    kv::RunCleanNow(view, request);
}

void BareDelete(const std::vector<std::wstring>& paths)
{
    for (const std::wstring& path : paths) ::DeleteFileW(path.c_str());
}

void BareMove(const std::vector<std::wstring>& paths, const std::wstring& backup)
{
    std::wstring madeFolder;
    for (const std::wstring& path : paths) {
        const std::wstring target = kv::BackupCopyPath(backup, path);
        const std::wstring folder = target.substr(0, target.rfind(L'\\') + 1);
        if (folder != madeFolder) {
            kv::CreateFolderPath(folder);
            madeFolder = folder;
        }
        ::MoveFileExW(path.c_str(), target.c_str(), MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH);
    }
}

void BareRecycle(const std::vector<std::wstring>& paths)
{
    std::wstring from;
    for (const std::wstring& path : paths) {
        from += path;
        from.push_back(L'\0');
    }
    from.push_back(L'\0');
    SHFILEOPSTRUCTW operation{};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_ALLOWUNDO | FOF_NOERRORUI;
    ::SHFileOperationW(&operation);
}

std::wstring Environment(const wchar_t* name)
{
    wchar_t buffer[1024] = {};
    const DWORD length = ::GetEnvironmentVariableW(name, buffer, 1024);
    return length > 0 && length < 1024 ? std::wstring(buffer, length) : std::wstring();
}

// Takes out of Wine's Trash (the host's, in the prefix's scratch HOME) what
// came from `tree`, so that the bin does not grow by 20,000 files a run.
void RemoveTrashedFrom(const std::wstring& tree)
{
    std::wstring base = Environment(L"XDG_DATA_HOME");
    if (base.empty()) base = Environment(L"HOME") + L"/.local/share";
    std::wstring trash = L"\\\\?\\unix" + base + L"/Trash/";
    for (wchar_t& c : trash)
        if (c == L'/') c = L'\\';
    // The records hold the host path; the tree's own folder name is unique.
    const std::wstring folderName = tree.substr(tree.rfind(L'\\', tree.size() - 2) + 1);
    const std::string wanted = "/" + std::string(folderName.begin(), folderName.end() - 1) + "/";
    WIN32_FIND_DATAW entry{};
    kv::FindHandle find(::FindFirstFileW((trash + L"info\\*.trashinfo").c_str(), &entry));
    if (!find) return;
    do {
        const std::wstring info = trash + L"info\\" + entry.cFileName;
        const auto text = kv::ReadWholeFile(info);
        if (!text || text->find(wanted) == std::string::npos) continue;
        const std::wstring name(entry.cFileName);
        const std::wstring file = trash + L"files\\" + name.substr(0, name.size() - 10);
        ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(file.c_str());
        ::DeleteFileW(info.c_str());
    } while (::FindNextFileW(find.Get(), &entry));
}

struct Method {
    kv::TCleanMethod method;
    const char* name;
    const char* peer;
    std::vector<double> project, bare, ratios; // seconds per file; per-run ratios
    int leftProject = 0, leftBare = 0;
};

} // namespace

int main(int argc, char** argv)
{
    const int files = argc > 1 ? std::max(kFolders, std::atoi(argv[1])) : 10000;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    kv::JobMode = true;
    std::vector<Method> methods = {
        {kv::cmDeletePermanently, "method 2, delete for good", "DeleteFileW loop"},
        {kv::cmBackupFolder, "method 1, move to the backup folder", "MoveFileExW loop"},
        {kv::cmRecycleBin, "method 0, recycle bin", "one SHFileOperationW"},
    };
    const std::wstring tag = std::to_wstring(::GetCurrentProcessId());
    int tree = 0;
    for (int run = 0; run < runs; ++run) {
        for (Method& m : methods) {
            double times[2] = {};
            for (int turn = 0; turn < 2; ++turn) {
                const bool project = (turn + run) % 2 == 0;
                const std::wstring base = kRoot + tag + L"-" + std::to_wstring(tree++) + L"\\";
                const std::wstring backup = base + L"backup\\";
                kv::CreateFolderPath(backup);
                const std::vector<std::wstring> paths = MakeTree(base + L"junk\\", files);
                const double start = Now();
                if (project) {
                    CleanNow(paths, m.method, backup);
                } else if (m.method == kv::cmDeletePermanently) {
                    BareDelete(paths);
                } else if (m.method == kv::cmBackupFolder) {
                    BareMove(paths, backup);
                } else {
                    BareRecycle(paths);
                }
                const double perFile = (Now() - start) / files;
                times[project ? 0 : 1] = perFile;
                (project ? m.leftProject : m.leftBare) += Left(paths);
                if (m.method == kv::cmRecycleBin) RemoveTrashedFrom(base);
            }
            m.project.push_back(times[0]);
            m.bare.push_back(times[1]);
            m.ratios.push_back(times[1] > 0 ? times[0] / times[1] : 0);
            std::printf("run %d %-38s %.3f ms per file, %-22s %.3f ms per file, ratio %.2f\n", run + 1, m.name,
                        times[0] * 1e3, m.peer, times[1] * 1e3, m.ratios.back());
            std::fflush(stdout);
        }
    }
    std::printf("\n%d files in %d folders, %d runs, medians:\n", files, kFolders, runs);
    int status = 0;
    for (const Method& m : methods) {
        std::printf("%-38s %.3f ms per file; %-22s %.3f ms per file; ratio %.2f; files left %d / %d\n", m.name,
                    Median(m.project) * 1e3, m.peer, Median(m.bare) * 1e3, Median(m.ratios), m.leftProject,
                    m.leftBare);
        if (m.leftProject != 0) status = 1; // Clean Now left files it should have removed
    }
    return status;
}
