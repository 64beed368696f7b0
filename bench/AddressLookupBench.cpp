// Address lookups per second in the program's own reporter data, for
// bench/address-bench.sh (which compares them with addr2line).
//   AddressLookupBench.exe PROGRAM ADDRESSES
#include <windows.h>
#include <shellapi.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "crashreport/core/debuginfo/EDebug.h"
#include "platform/Handles.h"

using namespace kv::crashreport;

int main()
{
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (argv == nullptr || argc < 3) {
        std::fprintf(stderr, "usage: AddressLookupBench PROGRAM ADDRESSES\n");
        return 2;
    }
    kv::ModuleHandle program(::LoadLibraryExW(argv[1], nullptr, DONT_RESOLVE_DLL_REFERENCES));
    if (!program.IsValid()) return 2;
    TOspreyModuleInfo module;
    module.Handle = program.Get();
    if (!ReadModuleData(module)) {
        std::fprintf(stderr, "no reporter data\n");
        return 1;
    }
    std::vector<std::uint32_t> addresses;
    std::ifstream list(argv[2]);
    std::string line;
    const auto base = reinterpret_cast<std::uint32_t>(program.Get());
    while (std::getline(list, line)) addresses.push_back(base + static_cast<std::uint32_t>(std::stoul(line.substr(0, 8), nullptr, 16)));
    if (addresses.empty()) return 2;

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    std::size_t lookups = 0, found = 0;
    while (Clock::now() - start < std::chrono::seconds(2)) {
        for (std::uint32_t address : addresses) {
            TOspreyDebugInfo info;
            found += GetOwnDebugInfo(module, address, info) ? 1 : 0;
        }
        lookups += addresses.size();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%.0f\n", lookups / seconds);
    std::fprintf(stderr, "%zu lookups in %.2f s, %zu found\n", lookups, seconds, found);
    return 0;
}
