#include "crashreport/output/EAsmListing.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <vector>

#include "crashreport/core/ECore.h"
#include "crashreport/core/EHook.h"
#include "crashreport/core/EObjects.h"
#include "crashreport/core/ESystem.h"
#include "crashreport/output/EDisAsm.h"
#include "crashreport/output/ELogText.h"

namespace kv::crashreport {
namespace {

constexpr std::uintptr_t Reach = 70;
constexpr int InstructionsAround = 10;
constexpr std::size_t MaxInstructionBytes = 15;
constexpr std::size_t PreviewBytes = 32;

std::atomic<AsmAddressDescriber> g_describer{nullptr};

const std::uint8_t* At(std::uintptr_t address) { return reinterpret_cast<const std::uint8_t*>(address); }
bool Readable(std::uintptr_t address) { return IsReadableMemory(At(address), 1); }

std::string Hex8(std::uintptr_t value)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string text(8, '0');
    for (int i = 7; i >= 0; --i, value >>= 4) text[static_cast<std::size_t>(i)] = Digits[value & 0xF];
    return text;
}

std::string Trim(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool Describe(const void* address, TOspreyDebugInfo& info)
{
    info = TOspreyDebugInfo{};
    const AsmAddressDescriber describer = g_describer.load();
    if (describer != nullptr) describer(address, info);
    return info.DebugDetail == ddProcedure || info.DebugDetail == ddUnitAndProcedure ||
           info.DebugDetail == ddSourceCode;
}

// Unit (without its extension), class and procedure joined with ".".
std::string LocationName(const TOspreyDebugInfo& info)
{
    std::string unit = info.UnitName;
    const std::size_t dot = unit.find_last_of('.');
    if (dot != std::string::npos) unit.erase(dot);
    std::string name;
    for (const std::string* part : {static_cast<const std::string*>(&unit), &info.ClassName, &info.ProcedureName}) {
        if (part->empty()) continue;
        if (!name.empty()) name += '.';
        name += *part;
    }
    return name;
}

// Calls, jumps and address references: the procedure (and line, inside a
// procedure) or the class of an object at the target.
void DescribeTarget(void*, std::uintptr_t, std::uintptr_t target, std::string& text)
{
    const void* resolved = ResolveImportThunk(reinterpret_cast<const void*>(target));
    TOspreyDebugInfo info;
    if (Describe(resolved, info)) {
        text = LocationName(info);
        if (info.ProcOffsetLine > 1) text += " (Line=" + std::to_string(info.Line) + ")";
    } else if (IsValidObject(resolved)) {
        text = ClassNameOf(resolved);
    }
}

// A pushed or moved constant that points to readable text shows the text.
void PreviewString(void*, std::uintptr_t, int operandSize, bool sigend, std::string& text)
{
    if (operandSize != 4 || sigend || text.size() != 9 || text[0] != '$') return;
    std::uintptr_t address = 0;
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (digit < 0) return;
        address = address * 16 + static_cast<std::uintptr_t>(digit);
    }
    if (address == 0 || !Readable(address)) return;
    std::string preview;
    bool ended = false;
    for (std::size_t i = 0; i < PreviewBytes && Readable(address + i); ++i) {
        const std::uint8_t byte = *At(address + i);
        if (byte == 0) {
            ended = true;
            break;
        }
        preview += byte < 32 ? '.' : static_cast<char>(byte);
    }
    text += "  ; '" + preview + "'" + (ended ? "" : "...");
}

void NoRef(void*, const TdaRef&, int, std::string&) {}

// The first instruction to list: from the first readable byte at most Reach
// before the address, the first start whose chain of instruction lengths
// lands on the address, and of that chain only the last ten.
std::uintptr_t FindStart(std::uintptr_t address)
{
    std::uintptr_t first = address >= Reach ? address - Reach : 0;
    while (first < address && !Readable(first)) ++first;
    std::uintptr_t limit = address + MaxInstructionBytes; // the lengths read no further
    while (limit > address + 4 && !Readable(limit - 1)) --limit;
    for (std::uintptr_t start = first; start < address; ++start) {
        std::vector<std::uintptr_t> starts;
        std::uintptr_t at = start;
        while (at < address) {
            int length = 0;
            if (GetInstructionLength(At(at), limit - at, length) && length > 0) {
                starts.push_back(at);
                at += static_cast<std::uintptr_t>(length);
            } else {
                ++at; // an undecodable byte
            }
        }
        if (at != address) continue;
        if (starts.size() > InstructionsAround) return starts[starts.size() - InstructionsAround];
        return starts.empty() ? start : starts.front();
    }
    return address;
}

struct Listing {
    std::vector<std::string> lines;
    std::size_t longestCode = 0;
    std::string lastName, lastLineNote;
    std::size_t keptFrom = 0;

    void AddNote(std::uintptr_t address, std::uintptr_t exceptionAddress)
    {
        TOspreyDebugInfo info;
        if (!Describe(At(address), info)) return;
        const std::string name = LocationName(info) + " ";
        const std::string lineNote =
            "Line=" + std::to_string(info.Line) + " - Offset=" + std::to_string(info.ProcOffsetLine);
        std::string note;
        if (name != lastName) {
            note = name;
            if (address <= exceptionAddress) keptFrom = lines.size();
        }
        if (lineNote != lastLineNote) note += note.empty() ? lineNote : "(" + lineNote + ")";
        lastName = name;
        lastLineNote = lineNote;
        if (note.empty()) return;
        if (!lines.empty()) lines.push_back(";");
        lines.push_back("; " + note);
        lines.push_back("; " + std::string(note.size(), '-'));
    }

    void AddInstruction(std::string line)
    {
        longestCode = std::max(longestCode, Trim(line.substr(0, line.find(';'))).size());
        lines.push_back(std::move(line));
    }
};

} // namespace

void SetAsmAddressDescriber(AsmAddressDescriber describer) noexcept { g_describer = describer; }

std::string BuildAssemblerSection(const void* address, std::string& heading)
{
    const auto exceptionAddress = reinterpret_cast<std::uintptr_t>(address);
    if (!IsReadableMemory(address, 4)) return {};
    std::uintptr_t end = exceptionAddress + Reach;
    while (end > exceptionAddress && !Readable(end)) --end;

    TDisAsm disasm;
    disasm.OnCallInstr = DescribeTarget;
    disasm.OnJumpInstr = DescribeTarget;
    disasm.OnAddressRef = DescribeTarget;
    disasm.OnRef = NoRef;
    disasm.OnImmidiateData = PreviewString;

    Listing listing;
    int after = 0;
    for (std::uintptr_t at = FindStart(exceptionAddress); at <= end;) {
        listing.AddNote(at, exceptionAddress);
        std::size_t size = 0;
        std::string line = Hex8(at) + "  " + disasm.GetInstruction(At(at), size);
        if (at == exceptionAddress) line += std::string(line.find(';') == std::string::npos ? "  ; " : " ") + "<-- EXCEPTION";
        const std::uint8_t first = *At(at);
        listing.AddInstruction(std::move(line));
        if (at > exceptionAddress && (++after >= InstructionsAround || (first >= 0xC2 && first <= 0xCB))) break;
        at += size;
    }

    std::vector<std::string>& lines = listing.lines;
    lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(std::min(listing.keptFrom, lines.size())));
    if (!lines.empty() && lines.front() == ";") lines.erase(lines.begin());

    const std::size_t width = listing.longestCode + 2;
    std::size_t longestLine = 0;
    std::string text;
    for (std::string& line : lines) {
        const std::size_t semicolon = line.find(';');
        if (semicolon != std::string::npos && semicolon > 0 && semicolon < width)
            line = line.substr(0, semicolon) + std::string(width - semicolon, ' ') + line.substr(semicolon);
        longestLine = std::max(longestLine, line.size());
        text += line + "\r\n";
    }
    const TOspreyModuleOptions* options = CurrentOspreyLogOptions();
    const std::string caption = options != nullptr ? options->GetExpandedText(mtDialog_AsmHeader)
                                                   : std::string(DefaultMessageText(mtDialog_AsmHeader));
    heading = caption + ":\r\n" + std::string(std::max(longestLine, caption.size() + 1), '-');
    return text;
}

void InstallAssemblerListing() noexcept { SetAssemblerSectionBuilder(BuildAssemblerSection); }

} // namespace kv::crashreport
