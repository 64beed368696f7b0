// Instructions decoded per second by TDisAsm over a file of code, decoded
// from its start instruction after instruction (bench/disasm-bench.sh runs
// objdump over the same bytes for the ratio).
//   DisAsmBench.exe code.bin [RUNS]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "crashreport/output/EDisAsm.h"

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: DisAsmBench code.bin [runs]\n");
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    std::FILE* file = std::fopen(argv[1], "rb");
    if (!file) return 3;
    std::vector<unsigned char> code;
    unsigned char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) code.insert(code.end(), buffer, buffer + n);
    std::fclose(file);
    code.resize(code.size() + 16, 0x90); // the last instruction may read on

    kv::crashreport::TDisAsm disasm;
    std::vector<double> rates;
    std::size_t instructions = 0, textBytes = 0;
    LARGE_INTEGER frequency, start, stop;
    ::QueryPerformanceFrequency(&frequency);
    for (int run = 0; run <= runs; ++run) { // run 0 warms up
        instructions = textBytes = 0;
        ::QueryPerformanceCounter(&start);
        for (std::size_t at = 0; at + 16 < code.size();) {
            std::size_t size = 0;
            textBytes += disasm.GetInstruction(code.data() + at, size).size();
            at += size;
            ++instructions;
        }
        ::QueryPerformanceCounter(&stop);
        const double seconds = double(stop.QuadPart - start.QuadPart) / double(frequency.QuadPart);
        if (run > 0) rates.push_back(double(instructions) / seconds);
    }
    std::sort(rates.begin(), rates.end());
    std::printf("TDisAsm: %zu instructions (%zu bytes of text), median %.0f instructions/s (min %.0f, max %.0f)\n",
                instructions, textBytes, rates[rates.size() / 2], rates.front(), rates.back());
    return 0;
}
