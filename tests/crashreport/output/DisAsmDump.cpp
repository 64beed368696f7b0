// Decodes the records of a file with TDisAsm and prints one line per record,
// "size<TAB>text", for the differential test against objdump and ndisasm
// (tests/crashreport/output/disasm-differential.py). A record is a 32-bit
// virtual address and 32 bytes of code; relative targets are printed as
// absolute addresses at that virtual address.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "crashreport/output/EDisAsm.h"

namespace {

struct Origin {
    std::uintptr_t buffer;
    std::uint32_t virtualAddress;
};

void Absolute(void* param, std::uintptr_t, std::uintptr_t target, std::string& text)
{
    const auto* origin = static_cast<const Origin*>(param);
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "$%08X",
                  static_cast<unsigned>(target - origin->buffer + origin->virtualAddress));
    text = buffer;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: kv_disasm_dump records.bin out.txt\n");
        return 2;
    }
    std::FILE* in = std::fopen(argv[1], "rb");
    std::FILE* out = std::fopen(argv[2], "wb");
    if (!in || !out) return 3;
    Origin origin{};
    kv::crashreport::TDisAsm disasm;
    disasm.Param = &origin;
    disasm.OnJumpInstr = Absolute;
    disasm.OnCallInstr = Absolute;
    std::uint8_t record[36];
    std::string lines;
    while (std::fread(record, 1, sizeof record, in) == sizeof record) {
        origin.buffer = reinterpret_cast<std::uintptr_t>(record + 4);
        origin.virtualAddress = record[0] | record[1] << 8 | record[2] << 16 | std::uint32_t{record[3]} << 24;
        std::size_t size = 0;
        const std::string text = disasm.GetInstruction(record + 4, size);
        lines += std::to_string(size) + "\t" + text + "\n";
        if (lines.size() > (1 << 20)) {
            std::fwrite(lines.data(), 1, lines.size(), out);
            lines.clear();
        }
    }
    std::fwrite(lines.data(), 1, lines.size(), out);
    std::fclose(in);
    return std::fclose(out) == 0 ? 0 : 4;
}
