// The junk-file scan against bare FindFirstFileW walkers that test the same
// masks, in one executable under one Wine. Each round runs, in turn:
//   - a walker that only tests every name against the masks;
//   - a walker that also opens each hit for writing (what the scan must do
//     for every hit) and adds up the sizes the listing gives;
//   - the scan's headless entry point RunScan with a window that only counts;
//   - the scan as the user waits for it: the real main window (hidden, as in
//     a hidden job), its Start button, the scan thread with its synchronised
//     calls (the rows of a tenth of a second together), the result list's
//     rows and the status and hint labels, from the click to the end-of-scan
//     status.
// After the rounds the window is shown and scans once more (for information).
// It prints each one's median and the medians of the per-round ratios.
//   ScanBench.exe TREE MASKS [RUNS] [PROGRAMFOLDER]
// MASKS holds one mask a line: "I mask" includes, "X mask" excludes.
// PROGRAMFOLDER (default: beside MASKS) receives what the window writes when
// it ends (the settings export of every exit).
#include <windows.h>
#include <psapi.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "BenchClock.h"
#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/SettingsStore.h"
#include "cleaner/engine/SharedState.h"
#include "cleaner/engine/TSearchUnit.h"
#include "cleaner/windows/FiltersPage.h"
#include "cleaner/windows/LangDataUnit.h"
#include "cleaner/windows/MainUnit.h"
#include "cleaner/windows/PathPage.h"
#include "cleaner/windows/ScanPage.h"
#include "platform/Handles.h"
#include "platform/MessageLoop.h"
#include "platform/Paths.h"
#include "platform/StringList.h"
#include "platform/TextCodec.h"
#include "platform/forms/Form.h"

namespace {

struct Masks {
    std::vector<std::wstring> inclusive; // as written
    std::vector<std::wstring> exclusive;
};

Masks ReadMasks(const std::wstring& path)
{
    Masks masks;
    const auto bytes = kv::ReadWholeFile(path);
    if (!bytes) return masks;
    for (const std::wstring& line : kv::StringList(kv::Utf8ToWide(*bytes))) {
        if (line.size() < 3) continue;
        (line[0] == L'I' ? masks.inclusive : masks.exclusive).push_back(line.substr(2));
    }
    return masks;
}

// The scan's window, doing nothing but counting.
class CountingView : public kv::TScanView {
public:
    explicit CountingView(kv::TScanOptions options) : options_(std::move(options)) {}
    kv::TScanOptions ReadScanOptions() override { return options_; }
    void ShowCurrentPath(const std::wstring&) override { ++paths; }
    void AddScanItem(const kv::TScanResult&, const std::wstring&) override { ++rows; }
    void ScanFinished(const std::wstring&) override {}
    std::wstring LanguageText(int index) override { return index == kv::stScanningFolder ? L"Scanning  %s%s\\" : L"%s"; }
    long rows = 0;
    long paths = 0;

private:
    kv::TScanOptions options_;
};

// What a hand-written walker does: list every folder, test every file's
// upper-cased name against the upper-cased masks; with `openHits`, open each
// hit for writing, as the scan must, and add up the listed sizes.
class BareWalker {
public:
    BareWalker(const Masks& masks, bool openHits) : openHits_(openHits)
    {
        for (const auto& mask : masks.inclusive) inclusive_.push_back(kv::UpperCase(mask));
        for (const auto& mask : masks.exclusive) exclusive_.push_back(kv::UpperCase(mask));
    }
    long Walk(const std::wstring& folder)
    {
        long hits = 0;
        WIN32_FIND_DATAW entry{};
        kv::FindHandle find(::FindFirstFileW((folder + L"*.*").c_str(), &entry));
        if (!find) return 0;
        do {
            const std::wstring_view name(entry.cFileName);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (name != L"." && name != L"..") hits += Walk(folder + entry.cFileName + L"\\");
            } else if (Matches(kv::UpperCase(name), folder) && (!openHits_ || Open(folder + entry.cFileName))) {
                ++hits;
                bytes += (static_cast<std::int64_t>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
            }
        } while (::FindNextFileW(find.Get(), &entry));
        return hits;
    }
    std::int64_t bytes = 0;

private:
    bool Matches(const std::wstring& upperName, const std::wstring& folder) const
    {
        const auto matches = [&](const std::wstring& mask) { return kv::MatchUpperCaseWildcard(mask, upperName); };
        if (std::none_of(inclusive_.begin(), inclusive_.end(), matches)) return false;
        for (const auto& mask : exclusive_) {
            const bool excluded = mask.find(L'\\') == std::wstring::npos
                                      ? kv::MatchUpperCaseWildcard(mask, upperName)
                                      : kv::MatchUpperCaseWildcard(mask, kv::UpperCase(folder) + upperName);
            if (excluded) return false;
        }
        return true;
    }
    bool Open(const std::wstring& path)
    {
        kv::FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
        return file.IsValid();
    }
    bool openHits_;
    std::vector<std::wstring> inclusive_;
    std::vector<std::wstring> exclusive_;
};

// The process's committed private memory: what the rows cost the program
// (Wine fills the page-file figure, not the private-usage one).
std::int64_t CommittedBytes()
{
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof(counters);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                           sizeof(counters));
    return static_cast<std::int64_t>(counters.PagefileUsage);
}

// The program's main window as a hidden job has it, set to scan the tree with
// the masks and nothing else.
class WindowScan {
public:
    WindowScan(const std::wstring& tree, const Masks& masks, const std::wstring& programFolder)
    {
        kv::forms::Application::Instance().Initialize(L"Kestrelvane");
        kv::LoadDefaultLanguage();
        ::CreateDirectoryW(programFolder.c_str(), nullptr);
        kv::ProgramFolder = programFolder;
        kv::SettingsRoot = kv::CurrentSettingsKey;
        kv::JobMode = false;
        kv::RunHiddenly = true;
        form_ = std::make_unique<kv::TMainForm>();
        kv::forms::Application::Instance().SetMainForm(form_.get());

        kv::forms::ListView& paths = *form_->PathPage().PathListView;
        for (int row = 0; row < paths.Count(); ++row) paths.SetChecked(row, false);
        paths.AddItem(kv::WithoutTrailingBackslash(tree), {}, kv::pkIncludeWithSubFolders, true);
        kv::forms::ListView& filters = *form_->FiltersPage().FiltersListView;
        filters.Clear();
        for (const auto& mask : masks.inclusive) filters.AddItem(L"", {mask, L"", L""}, kv::kInclusiveFilterImage, true);
        for (const auto& mask : masks.exclusive) filters.AddItem(L"", {mask, L"", L""}, kv::kExclusiveFilterImage, true);
        form_->OptionsFindBrokenLinkFilesMenuItem->Checked = false;
        form_->OptionsFindEmptyFolderMenuItem->Checked = false;
        form_->OptionsSkipReadOnlyAndSystemFilesMenuItem->Checked = false;
        form_->Settings.SpecificFolder.clear();
        Pump();
    }
    ~WindowScan()
    {
        // Nothing of this run is kept as the user's settings.
        kv::JobMode = true;
        form_.reset();
        kv::forms::Application::Instance().SetMainForm(nullptr);
    }

    // From the Start button's click to the end-of-scan status in the window.
    double Run()
    {
        // The program's own loop: GetMessage serves the scan thread's calls
        // while it waits. A thread timer makes it return now and then, so
        // the end of the scan is seen within a few milliseconds.
        const UINT_PTR tick = ::SetTimer(nullptr, 0, 5, nullptr);
        const double start = kvbench::Now();
        form_->ScanPage().StartButtonClick();
        MSG message;
        while (form_->ScanPage().Scanning() && ::GetMessageW(&message, nullptr, 0, 0) > 0)
            kv::DispatchQueuedMessage(message);
        const double seconds = kvbench::Now() - start;
        ::KillTimer(nullptr, tick);
        while (kv::WorkerThreadCount.load() > 1) Wait();
        return seconds;
    }
    void Show()
    {
        form_->Show();
        Pump();
    }
    long Rows() const { return form_->ScanPage().ScanListView->Count(); }
private:
    static void Wait()
    {
        kv::ProcessMessages();
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    static void Pump()
    {
        const double end = kvbench::Now() + 0.3;
        while (kvbench::Now() < end) Wait();
    }
    std::unique_ptr<kv::TMainForm> form_;
};

struct Series {
    const char* name;
    std::vector<double> times;
    void Print(long hits) const
    {
        std::printf("%-44s median %7.3f s (min %.3f, max %.3f), %ld hits\n", name, kvbench::Median(times),
                    *std::min_element(times.begin(), times.end()), *std::max_element(times.begin(), times.end()),
                    hits);
    }
};

void PrintRatio(const char* name, const std::vector<double>& top, const std::vector<double>& bottom, double goal)
{
    std::vector<double> ratios;
    for (std::size_t i = 0; i < top.size(); ++i) ratios.push_back(top[i] / bottom[i]);
    const double median = kvbench::Median(ratios);
    std::printf("ratio %-38s %.3f (min %.3f, max %.3f)", name, median, *std::min_element(ratios.begin(), ratios.end()),
                *std::max_element(ratios.begin(), ratios.end()));
    if (goal > 0) std::printf("  goal <= %.2f: %s", goal, median <= goal ? "met" : "NOT met");
    std::printf("\n");
}

template <class Body>
double Time(Body&& body)
{
    const double start = kvbench::Now();
    body();
    return kvbench::Now() - start;
}

} // namespace

int main()
{
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (argc < 3) {
        std::fprintf(stderr, "usage: ScanBench TREE MASKS [RUNS] [PROGRAMFOLDER]\n");
        return 2;
    }
    std::wstring tree = argv[1];
    if (tree.back() != L'\\') tree += L'\\';
    const std::wstring masksFile = argv[2];
    const Masks masks = ReadMasks(masksFile);
    const int runs = argc > 3 ? std::max(1, _wtoi(argv[3])) : 5;
    const std::wstring programFolder =
        argc > 4 ? kv::WithTrailingBackslash(argv[4])
                 : masksFile.substr(0, masksFile.find_last_of(L'\\') + 1) + L"program\\";
    if (masks.inclusive.empty()) {
        std::fprintf(stderr, "no masks read\n");
        return 2;
    }

    kv::TScanOptions options;
    options.Paths.push_back({kv::WithoutTrailingBackslash(tree), kv::pkIncludeWithSubFolders, true});
    for (const auto& mask : masks.inclusive) options.Filters.push_back({mask, kv::kInclusiveFilterImage, true});
    for (const auto& mask : masks.exclusive) options.Filters.push_back({mask, kv::kExclusiveFilterImage, true});

    const std::int64_t idleBytes = CommittedBytes();
    WindowScan window(tree, masks, programFolder);
    const std::int64_t windowBytes = CommittedBytes();

    Series bare{"bare walker (names only)"}, opening{"bare walker opening each hit"}, scan{"RunScan (headless)"},
        windowed{"scan through the hidden main window"};
    long bareHits = 0, openedHits = 0, scanRows = 0, windowRows = 0, paths = 0;
    std::int64_t bytesPerRow = 0;
    // One round of each first, uncounted, so all find the tree in the cache.
    for (int run = -1; run < runs; ++run) {
        BareWalker names(masks, false), openingWalker(masks, true);
        const double bareTime = Time([&] { bareHits = names.Walk(tree); });
        const double openingTime = Time([&] { openedHits = openingWalker.Walk(tree); });
        CountingView view(options);
        const double scanTime = Time([&] { kv::RunScan(view); });
        scanRows = view.rows;
        paths = view.paths;
        const double windowTime = window.Run();
        windowRows = window.Rows();
        if (run < 0) {
            // The first scan grows the heap by what its rows hold; later scans reuse it.
            bytesPerRow = windowRows ? (CommittedBytes() - windowBytes) / windowRows : 0;
            continue;
        }
        bare.times.push_back(bareTime);
        opening.times.push_back(openingTime);
        scan.times.push_back(scanTime);
        windowed.times.push_back(windowTime);
    }
    std::printf("masks: %zu inclusive, %zu exclusive; runs: %d (after one warm-up round)\n", masks.inclusive.size(),
                masks.exclusive.size(), runs);
    bare.Print(bareHits);
    opening.Print(openedHits);
    scan.Print(scanRows);
    windowed.Print(windowRows);
    std::printf("RunScan showed %ld folders\n", paths);
    PrintRatio("RunScan / names-only walker", scan.times, bare.times, 0);
    PrintRatio("RunScan / opening walker", scan.times, opening.times, 1.02);
    PrintRatio("window scan / opening walker", windowed.times, opening.times, 1.15);

    // For information: the same scan with the window on show (one run).
    window.Show();
    double visibleOpening = 0;
    {
        BareWalker walker(masks, true);
        visibleOpening = Time([&] { walker.Walk(tree); });
    }
    const double visible = window.Run();
    std::printf("visible main window, one run: %.3f s, %ld rows; ratio to the opening walker %.3f\n", visible,
                window.Rows(), visible / visibleOpening);
    std::printf("memory: %.0f KB for the hidden window, %lld bytes of committed memory per listed row (first scan)\n",
                static_cast<double>(windowBytes - idleBytes) / 1024.0, static_cast<long long>(bytesPerRow));

    const bool agree = bareHits == openedHits && openedHits == scanRows && scanRows == windowRows;
    if (!agree) std::printf("warning: the walkers and the scans disagree on the hits\n");
    return agree ? 0 : 1;
}
