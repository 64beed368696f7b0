// A whole hidden job against a bare program doing the calls the job needs,
// each a process of its own started by this benchmark, in turn on fresh
// copies of one tree (FILES junk files "*.tmp" and as many other files, in
// 100 folders):
//   the job:  Kestrelvane.exe given a job file: scan the tree for "*.tmp",
//             Clean Now by method 2 (delete for good), hidden, exit;
//   the peer: this executable again ("--bare TREE"): walks the tree, opens
//             each "*.tmp" for writing (what the scan must do for every hit)
//             and deletes it.
// Before the runs the job runs once on a tree without hits (the idle
// program) for the memory the hits take: the job's peak working set above
// the idle one, per hit. Prints each pair, the medians and the median ratio.
//   JobBench.exe [FILES] [RUNS]          (default 10000 files, 3 runs)
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchClock.h"
#include "BenchProcess.h"
#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/SettingsFiles.h"
#include "cleaner/engine/SettingsStore.h"
#include "platform/Handles.h"
#include "platform/Paths.h"
#include "platform/TextCodec.h"

namespace {

using kvbench::Median;
using kvbench::Now;
using kvbench::OwnPath;
using kvbench::Quoted;

const std::wstring kRoot = L"C:\\kvbench\\job\\";
constexpr int kFolders = 100;
// A job that has not ended by then has hung: the benchmark says so and stops.
constexpr DWORD kJobBoundMs = 15 * 60 * 1000;

void WriteSmallFile(const std::wstring& path)
{
    kv::FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    ::WriteFile(file.Get(), "junk", 4, &written, nullptr);
}

// A fresh tree of `junk` "*.tmp" files and `others` "*.txt" files in kFolders folders.
void MakeTree(const std::wstring& tree, int junk, int others)
{
    for (int folder = 0; folder < kFolders; ++folder) kv::CreateFolderPath(tree + L"f" + std::to_wstring(folder) + L"\\");
    for (int i = 0; i < std::max(junk, others); ++i) {
        const std::wstring folder = tree + L"f" + std::to_wstring(i % kFolders) + L"\\";
        if (i < junk) WriteSmallFile(folder + L"junk" + std::to_wstring(i) + L".tmp");
        if (i < others) WriteSmallFile(folder + L"keep" + std::to_wstring(i) + L".txt");
    }
}

// Calls `file` with the folder and name of every file below `tree`.
template <class FileFunction>
void ForEachFile(const std::wstring& tree, FileFunction file)
{
    WIN32_FIND_DATAW entry{};
    kv::FindHandle find(::FindFirstFileW((tree + L"*").c_str(), &entry));
    if (!find) return;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ForEachFile(tree + name + L"\\", file);
        else
            file(tree, name);
    } while (::FindNextFileW(find.Get(), &entry));
}

// The files below `tree` whose name ends in `suffix` (upper case).
int CountBelow(const std::wstring& tree, const std::wstring& suffix)
{
    int count = 0;
    ForEachFile(tree, [&](const std::wstring&, const std::wstring& name) {
        if (kv::UpperCase(name).ends_with(suffix)) ++count;
    });
    return count;
}

// The peer: what a bare program does for the same job. Every file is listed,
// its upper-cased name tested; a hit is opened for writing and deleted.
int BareJob(const std::wstring& tree)
{
    int deleted = 0;
    ForEachFile(tree, [&](const std::wstring& folder, const std::wstring& name) {
        if (!kv::UpperCase(name).ends_with(L".TMP")) return;
        const std::wstring path = folder + name;
        kv::FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
        if (!file) return;
        file.Reset();
        if (::DeleteFileW(path.c_str())) ++deleted;
    });
    return deleted;
}

std::vector<kv::TScanDrive> AllDrivesOff()
{
    std::vector<kv::TScanDrive> drives;
    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
        const std::wstring root = std::wstring(1, letter) + L":\\";
        if (::GetDriveTypeW(root.c_str()) == DRIVE_FIXED) drives.push_back({root.substr(0, 2), false});
    }
    return drives;
}

// The job: the tree with "*.tmp", nothing else to clean, delete for good.
kv::TSettings JobSettings(const std::wstring& tree, const std::wstring& backup)
{
    kv::TSettings settings;
    settings.ScanDrives = AllDrivesOff();
    settings.InclusiveFolders = {{tree.substr(0, tree.size() - 1), kv::pkIncludeWithSubFolders, true}};
    settings.ExclusiveFolders = {};
    settings.EmptyFolders = {};
    settings.InclusiveFiles = {{true, L"*.tmp", L"Junk"}};
    settings.ExclusiveFiles = {};
    settings.DoClean = true;
    settings.Recent = false;
    settings.CleanMethod = kv::cmDeletePermanently;
    settings.SpecificFolder = backup;
    return settings;
}

struct Finished {
    double seconds = 0;
    DWORD exitCode = 0;
    SIZE_T peakWorkingSet = 0;
};

// Starts `commandLine` and waits for its end, reading its peak working set
// while it runs (an ended process has none to read under Wine).
Finished RunProcess(const std::wstring& commandLine)
{
    Finished finished;
    const double start = Now();
    const kvbench::ChildProcess child(commandLine);
    const HANDLE process = child.process.Get();
    for (;;) {
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof counters;
        if (::GetProcessMemoryInfo(process, &counters, sizeof counters))
            finished.peakWorkingSet = std::max(finished.peakWorkingSet, counters.PeakWorkingSetSize);
        const DWORD wait = ::WaitForSingleObject(process, 20);
        if (wait == WAIT_OBJECT_0) break;
        if ((Now() - start) * 1000 > kJobBoundMs) {
            ::TerminateProcess(process, 3);
            std::fprintf(stderr, "no end after %lu s: %ls\n", kJobBoundMs / 1000, commandLine.c_str());
            std::exit(2);
        }
    }
    finished.seconds = Now() - start;
    ::GetExitCodeProcess(process, &finished.exitCode);
    return finished;
}

// The program `exe`, from a folder of its own (nothing in it is ever
// cleaned), runs the job over `tree`.
Finished RunJob(const std::wstring& exe, const std::wstring& base, const std::wstring& tree)
{
    kv::CreateFolderPath(base + L"backup\\");
    const std::wstring job = base + L"job.kv";
    if (!kv::WriteJobFile(JobSettings(tree, base + L"backup\\"), {true, true, true, true}, job)) {
        std::fprintf(stderr, "cannot write the job file %ls\n", job.c_str());
        std::exit(2);
    }
    return RunProcess(Quoted(exe) + L" " + Quoted(job));
}

// The tree goes without its trailing backslash, which would escape the quote.
Finished RunBare(const std::wstring& tree)
{
    return RunProcess(Quoted(OwnPath()) + L" --bare " + Quoted(tree.substr(0, tree.size() - 1)));
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 3 && std::wstring(argv[1]) == L"--bare") return BareJob(std::wstring(argv[2]) + L"\\") > 0 ? 0 : 1;
    const int files = argc > 1 ? std::max(kFolders, _wtoi(argv[1])) : 10000;
    const int runs = argc > 2 ? std::max(1, _wtoi(argv[2])) : 3;
    const std::wstring tag = std::to_wstring(::GetCurrentProcessId());
    int trees = 0;
    const auto freshBase = [&] { return kRoot + tag + L"-" + std::to_wstring(trees++) + L"\\"; };
    // One copy of the program serves every job of this run.
    const std::wstring exe = kvbench::CopyProgramInto(kRoot + tag + L"-program\\");

    // The idle program: the same job over a tree without hits.
    const std::wstring idleBase = freshBase();
    MakeTree(idleBase + L"tree\\", 0, files);
    const Finished idle = RunJob(exe, idleBase, idleBase + L"tree\\");
    std::printf("idle job (no hits): %.2f s, peak working set %.1f MB, exit code %lu\n", idle.seconds,
                idle.peakWorkingSet / 1048576.0, idle.exitCode);

    std::vector<double> job, bare, ratios, bytesPerHit;
    int left = 0, status = 0;
    for (int run = 0; run < runs; ++run) {
        Finished result[2];
        for (int turn = 0; turn < 2; ++turn) {
            const bool program = (turn + run) % 2 == 0;
            const std::wstring base = freshBase();
            const std::wstring tree = base + L"tree\\";
            MakeTree(tree, files, files);
            result[program ? 0 : 1] = program ? RunJob(exe, base, tree) : RunBare(tree);
            const int junkLeft = CountBelow(tree, L".TMP"), othersLeft = CountBelow(tree, L".TXT");
            if (junkLeft != 0) {
                std::printf("%s left %d junk files\n", program ? "the job" : "the peer", junkLeft);
                status = 1;
            }
            if (program) left += junkLeft;
            if (othersLeft != files) {
                std::printf("%s removed %d files that were not junk\n", program ? "the job" : "the peer",
                            files - othersLeft);
                status = 1;
            }
        }
        const Finished& j = result[0];
        job.push_back(j.seconds);
        bare.push_back(result[1].seconds);
        ratios.push_back(j.seconds / result[1].seconds);
        const double perHit = (static_cast<double>(j.peakWorkingSet) - static_cast<double>(idle.peakWorkingSet)) / files;
        bytesPerHit.push_back(perHit);
        std::printf("run %d: job %.2f s (exit %lu, peak %.1f MB, %.0f bytes per hit above idle), bare %.2f s, "
                    "ratio %.2f\n",
                    run + 1, j.seconds, j.exitCode, j.peakWorkingSet / 1048576.0, perHit, result[1].seconds,
                    ratios.back());
        std::fflush(stdout);
        if (j.exitCode != 0 || result[1].exitCode != 0) status = 1;
    }
    std::printf("\n%d junk files and %d others in %d folders, %d runs, medians:\n", files, files, kFolders, runs);
    std::printf("hidden job %.2f s; bare walk, open and delete %.2f s; ratio %.2f (goal: at most 2)\n", Median(job),
                Median(bare), Median(ratios));
    std::printf("memory: %.0f bytes per hit above the idle program (goal: at most 1024); junk left %d\n",
                Median(bytesPerHit), left);
    if (left != 0) status = 1;
    return status;
}
