// The folder-size measure of the Clean page (FolderSizeByMask, mask "*", as
// for the temp folders and the folders to empty) against a bare walker making
// the calls a measure needs per file, in one executable under one Wine, in
// turn. Under Wine a host link to a file is listed as a plain file, so the
// bare walker too opens each file without following a link and compares its
// final path with its folder's (found once per folder); the size comes from
// the listing. Prints each one's median and the median of the per-pair ratios.
//   SizeBench.exe [FILES] [RUNS]          (default 10000 files, 7 runs)
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchClock.h"
#include "cleaner/engine/CheckedFolder.h"
#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/GetFolderSizeUnit.h"
#include "platform/Handles.h"
#include "platform/TextCodec.h"

namespace {

using kvbench::Median;
using kvbench::Now;

const std::wstring kTree = L"C:\\kvbench\\size\\";
constexpr int kFolders = 100;

// The tree of an earlier run is kept when it has the same number of files.
void MakeTree(const std::wstring& tree, int files)
{
    for (int i = 0; i < files; ++i) {
        const std::wstring folder = tree + L"f" + std::to_wstring(i % kFolders) + L"\\";
        if (i < kFolders) kv::CreateFolderPath(folder);
        const std::wstring path = folder + L"file" + std::to_wstring(i) + L".dat";
        kv::FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        if (!file) continue;
        const std::string bytes(100 + i % 4000, 'x');
        DWORD written = 0;
        ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
}

std::wstring FinalPathOfPath(const std::wstring& path)
{
    kv::FileHandle handle(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return handle ? kv::FinalPathOfHandle(handle.Get()) : std::wstring();
}

std::int64_t BareWalk(const std::wstring& folder, long& files)
{
    std::int64_t total = 0;
    const bool wine = kv::RunningOnWine();
    const std::wstring folderFinal = wine ? kv::UpperCase(FinalPathOfPath(folder)) : std::wstring();
    WIN32_FIND_DATAW entry{};
    kv::FindHandle find(::FindFirstFileW((folder + L"*.*").c_str(), &entry));
    if (!find) return 0;
    do {
        const std::wstring_view name(entry.cFileName);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (name != L"." && name != L"..") total += BareWalk(folder + entry.cFileName + L"\\", files);
            continue;
        }
        if (wine && kv::UpperCase(FinalPathOfPath(folder + entry.cFileName)) != folderFinal + L"\\" + kv::UpperCase(name))
            continue;
        ++files;
        total += (static_cast<std::int64_t>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
    } while (::FindNextFileW(find.Get(), &entry));
    return total;
}

} // namespace

int main(int argc, char** argv)
{
    const int files = argc > 1 ? std::max(kFolders, std::atoi(argv[1])) : 10000;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    const std::wstring tree = kTree + std::to_wstring(files) + L"\\";
    MakeTree(tree, files);
    std::vector<double> measure, bare, ratios;
    std::int64_t measured = 0, walked = 0;
    long walkedFiles = 0;
    for (int run = -1; run < runs; ++run) { // run -1 warms the cache
        double times[2] = {};
        for (int turn = 0; turn < 2; ++turn) {
            const bool project = (turn + run) % 2 == 0;
            const double start = Now();
            if (project) {
                measured = 0;
                kv::FolderSizeByMask(tree, measured, false, L"*");
            } else {
                walkedFiles = 0;
                walked = BareWalk(tree, walkedFiles);
            }
            times[project ? 0 : 1] = Now() - start;
        }
        if (run < 0) continue;
        measure.push_back(times[0]);
        bare.push_back(times[1]);
        ratios.push_back(times[0] / times[1]);
        std::printf("run %d  measure %.1f ms  bare walker %.1f ms  ratio %.2f\n", run + 1, times[0] * 1e3,
                    times[1] * 1e3, ratios.back());
        std::fflush(stdout);
    }
    std::printf("\n%ld files in %d folders, %d runs: measure median %.1f ms (%.1f us per file), bare walker %.1f ms "
                "(%.1f us per file), median ratio %.2f\n",
                walkedFiles, kFolders, runs, Median(measure) * 1e3, Median(measure) * 1e6 / files, Median(bare) * 1e3,
                Median(bare) * 1e6 / files, Median(ratios));
    // Without cluster sizes both count the listed sizes: they must agree.
    if (measured != walked) {
        std::printf("the measure counted %lld bytes, the walker %lld\n", static_cast<long long>(measured),
                    static_cast<long long>(walked));
        return 1;
    }
    return 0;
}
