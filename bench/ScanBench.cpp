// The junk-file scan against a bare FindFirstFileW walker that tests the same
// masks, in one executable under one Wine. Runs them in turn (bare, scan,
// bare, scan ...) and prints each one's median and the ratio scan / bare.
//   ScanBench.exe TREE MASKS [RUNS]
// MASKS holds one mask a line: "I mask" includes, "X mask" excludes.
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/TSearchUnit.h"
#include "platform/Handles.h"
#include "platform/StringList.h"
#include "platform/TextCodec.h"

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
// upper-cased name against the upper-cased masks.
class BareWalker {
public:
    explicit BareWalker(const Masks& masks)
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
            } else if (Matches(kv::UpperCase(name), folder)) {
                ++hits;
            }
        } while (::FindNextFileW(find.Get(), &entry));
        return hits;
    }

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
    std::vector<std::wstring> inclusive_;
    std::vector<std::wstring> exclusive_;
};

double Seconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end)
{
    LARGE_INTEGER frequency{};
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

template <class Body>
double Time(Body&& body)
{
    LARGE_INTEGER start{}, end{};
    ::QueryPerformanceCounter(&start);
    body();
    ::QueryPerformanceCounter(&end);
    return Seconds(start, end);
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main()
{
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (argc < 3) {
        std::fprintf(stderr, "usage: ScanBench TREE MASKS [RUNS]\n");
        return 2;
    }
    std::wstring tree = argv[1];
    if (tree.back() != L'\\') tree += L'\\';
    const Masks masks = ReadMasks(argv[2]);
    const int runs = argc > 3 ? std::max(1, _wtoi(argv[3])) : 5;
    if (masks.inclusive.empty()) {
        std::fprintf(stderr, "no masks read\n");
        return 2;
    }

    kv::TScanOptions options;
    options.Paths.push_back({tree.substr(0, tree.size() - 1), kv::pkIncludeWithSubFolders, true});
    for (const auto& mask : masks.inclusive) options.Filters.push_back({mask, kv::kInclusiveFilterImage, true});
    for (const auto& mask : masks.exclusive) options.Filters.push_back({mask, kv::kExclusiveFilterImage, true});

    std::vector<double> bareTimes, scanTimes, ratios;
    long bareHits = 0, scanRows = 0, paths = 0;
    // One round of each first, uncounted, so both find the tree in the cache.
    for (int run = -1; run < runs; ++run) {
        BareWalker walker(masks);
        const double bare = Time([&] { bareHits = walker.Walk(tree); });
        CountingView view(options);
        const double scan = Time([&] { kv::RunScan(view); });
        scanRows = view.rows;
        paths = view.paths;
        if (run < 0) continue;
        bareTimes.push_back(bare);
        scanTimes.push_back(scan);
        ratios.push_back(scan / bare);
    }
    std::printf("masks: %zu inclusive, %zu exclusive; runs: %d\n", masks.inclusive.size(), masks.exclusive.size(), runs);
    std::printf("bare FindFirstFileW walker: median %.3f s (min %.3f, max %.3f), %ld hits\n", Median(bareTimes),
                *std::min_element(bareTimes.begin(), bareTimes.end()),
                *std::max_element(bareTimes.begin(), bareTimes.end()), bareHits);
    std::printf("scan (RunScan):             median %.3f s (min %.3f, max %.3f), %ld rows, %ld folder displays\n",
                Median(scanTimes), *std::min_element(scanTimes.begin(), scanTimes.end()),
                *std::max_element(scanTimes.begin(), scanTimes.end()), scanRows, paths);
    std::printf("ratio scan / bare (median of pairs): %.3f (min %.3f, max %.3f)\n", Median(ratios),
                *std::min_element(ratios.begin(), ratios.end()), *std::max_element(ratios.begin(), ratios.end()));
    if (bareHits != scanRows) std::printf("warning: the scan and the walker disagree on the hits\n");
    return bareHits == scanRows ? 0 : 1;
}
