#include "crashreport/core/EOptionsFiles.h"
#include "crashreport/core/debuginfo/ETD32Debug.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>

namespace kv::crashreport {
namespace {

// A damaged file may chain its directories in a circle or without end.
constexpr int MaxDirectories = 1024;
constexpr std::uint16_t DirectoryEntrySize = 12;
constexpr std::size_t DirectoryHeaderSize = 16;

std::uint32_t U32At(ByteView view, std::size_t offset)
{
    std::uint32_t value = 0;
    view.U32(offset, value);
    return value;
}

std::uint16_t U16At(ByteView view, std::size_t offset)
{
    std::uint16_t value = 0;
    view.U16(offset, value);
    return value;
}

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string Lower(std::string text)
{
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

const TELLineInfo* TELSourceModuleInfo::FindLine(std::uint32_t addr) const
{
    for (std::size_t i = 0; i < Lines.size(); ++i) {
        if (Lines[i].Offset == addr) return &Lines[i];
        if (Lines[i].Offset > addr && i > 0 && Lines[i - 1].Offset < addr) return &Lines[i - 1];
    }
    return nullptr;
}

TELTD32InfoParser::TELTD32InfoParser(ByteView data) : FData(data)
{
    FValidData = IsTD32DebugInfoValid(data);
    if (FValidData) ReadDirectories();
}

const std::string& TELTD32InfoParser::Names(std::size_t index) const
{
    return index < FNames.size() ? FNames[index] : FNames[0];
}

bool TELTD32InfoParser::IsTD32Sign(const std::uint8_t* sign)
{
    return std::memcmp(sign, "FB09", 4) == 0 || std::memcmp(sign, "FB0A", 4) == 0;
}

bool TELTD32InfoParser::IsTD32DebugInfoValid(ByteView data)
{
    if (data.Data() == nullptr || data.Size() <= 8) return false;
    const std::size_t tail = data.Size() - 8;
    const std::uint32_t offset = U32At(data, tail + 4);
    // The leading signature must lie wholly inside the data.
    return IsTD32Sign(data.Data() + tail) && offset <= data.Size() && offset >= 4 &&
           IsTD32Sign(data.Data() + data.Size() - offset);
}

void TELTD32InfoParser::ReadDirectories()
{
    std::set<std::uint32_t> seen;
    std::uint32_t directory = U32At(FData, 4);
    for (int n = 0; directory != 0 && n < MaxDirectories && seen.insert(directory).second; ++n) {
        if (!FData.Has(directory, DirectoryHeaderSize)) break;
        // An entry size other than 12 means data this reader does not know:
        // the source is not valid and the factory goes on to the next kind.
        if (U16At(FData, directory + 2) != DirectoryEntrySize) {
            FValidData = false;
            return;
        }
        const std::uint32_t count = U32At(FData, directory + 4);
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::size_t entry = directory + DirectoryHeaderSize + std::size_t{DirectoryEntrySize} * i;
            if (!FData.Has(entry, DirectoryEntrySize)) break;
            const ByteView subsection = FData.Sub(U32At(FData, entry + 4), U32At(FData, entry + 8));
            switch (U16At(FData, entry)) {
            case 0x0130: ReadNamesSubsection(subsection); break;
            case 0x0125: ReadSymbolsSubsection(subsection); break;
            case 0x0120: ReadModuleSubsection(subsection); break;
            case 0x0127: ReadSourceModuleSubsection(subsection); break;
            default: break;
            }
        }
        directory = U32At(FData, directory + 8);
    }
}

void TELTD32InfoParser::ReadNamesSubsection(ByteView subsection)
{
    const std::uint32_t count = U32At(subsection, 0);
    std::size_t at = 4;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint8_t length = 0;
        if (!subsection.U8(at, length) || !subsection.Has(at + 1, std::size_t{length} + 1)) break;
        FNames.emplace_back(reinterpret_cast<const char*>(subsection.Data()) + at + 1, length);
        at += std::size_t{length} + 2;
    }
}

void TELTD32InfoParser::ReadSymbolsSubsection(ByteView subsection)
{
    for (std::size_t at = 4; subsection.Has(at, 4);) {
        const std::size_t length = U16At(subsection, at);
        const ByteView record = subsection.Sub(at, std::min(length + 2, subsection.Size() - at));
        at += length + 2;
        TELSymbolInfo symbol;
        symbol.SymbolType = U16At(record, 2);
        switch (symbol.SymbolType) {
        case 0x0003:
            symbol.TypeIndex = U32At(record, 4);
            symbol.NameIndex = U32At(record, 8);
            symbol.Value = U32At(record, 16);
            break;
        case 0x0004:
            symbol.TypeIndex = U32At(record, 4);
            symbol.Properties = U16At(record, 8);
            symbol.NameIndex = U32At(record, 10);
            break;
        case 0x0009:
            symbol.Signature = U32At(record, 4);
            symbol.NameIndex = U32At(record, 8);
            break;
        case 0x0201:
        case 0x0202:
        case 0x0203:
            symbol.Offset = U32At(record, 4);
            symbol.TypeIndex = U32At(record, 12);
            symbol.NameIndex = U32At(record, 16);
            break;
        case 0x0204:
        case 0x0205:
            symbol.Size = U32At(record, 16);
            symbol.Offset = U32At(record, 28);
            symbol.NameIndex = U32At(record, 40);
            break;
        case 0x0208:
            symbol.Size = U32At(record, 12);
            symbol.Offset = U32At(record, 16);
            symbol.NameIndex = U32At(record, 24);
            break;
        case 0x0209:
            symbol.Offset = U32At(record, 4);
            symbol.NameIndex = U32At(record, 12);
            break;
        case 0x020B:
            symbol.Offset = U32At(record, 4);
            symbol.RootIndex = U32At(record, 12);
            symbol.PathIndex = U32At(record, 16);
            break;
        default: continue;
        }
        FSymbols.push_back(symbol);
    }
}

void TELTD32InfoParser::ReadModuleSubsection(ByteView subsection)
{
    TELModuleInfo module;
    const std::uint16_t count = U16At(subsection, 4);
    module.NameIndex = U32At(subsection, 8);
    for (std::uint16_t i = 0; i < count && subsection.Has(28 + 12u * i, 12); ++i) {
        const std::size_t at = 28 + 12u * i;
        module.Segments.push_back({U16At(subsection, at), U16At(subsection, at + 2), U32At(subsection, at + 4),
                                   U32At(subsection, at + 8)});
    }
    FModules.push_back(std::move(module));
}

void TELTD32InfoParser::ReadSourceModuleSubsection(ByteView subsection)
{
    const std::uint16_t fileCount = U16At(subsection, 0);
    for (std::uint16_t f = 0; f < fileCount && subsection.Has(4 + 4u * f, 4); ++f) {
        const std::size_t file = U32At(subsection, 4 + 4u * f);
        if (!subsection.Has(file, 6)) continue;
        TELSourceModuleInfo source;
        source.NameIndex = U32At(subsection, file + 2);
        if (source.NameIndex == 0) continue;
        const std::uint16_t segmentCount = U16At(subsection, file);
        for (std::uint16_t s = 0; s < segmentCount && subsection.Has(file + 6 + 4u * s, 4); ++s) {
            const std::size_t block = U32At(subsection, file + 6 + 4u * s);
            const std::uint16_t lineCount = U16At(subsection, block + 2);
            if (!subsection.Has(block + 4, std::size_t{lineCount} * 6)) continue;
            for (std::uint16_t l = 0; l < lineCount; ++l)
                source.Lines.push_back({U16At(subsection, block + 4 + 4u * lineCount + 2u * l),
                                        U32At(subsection, block + 4 + 4u * l)});
        }
        const std::size_t pairs = file + 6 + 4u * segmentCount;
        for (std::uint16_t s = 0; s < segmentCount && subsection.Has(pairs + 8u * s, 8); ++s)
            source.Segments.push_back({U32At(subsection, pairs + 8u * s), U32At(subsection, pairs + 8u * s + 4)});
        FSourceModules.push_back(std::move(source));
    }
}

const TELModuleInfo* TELTD32InfoParser::FindModule(std::uint32_t addr) const
{
    if (!FValidData) return nullptr;
    for (const auto& module : FModules)
        for (const auto& segment : module.Segments)
            if (segment.Offset <= addr && addr - segment.Offset <= segment.Size) return &module;
    return nullptr;
}

const TELSourceModuleInfo* TELTD32InfoParser::FindSourceModule(std::uint32_t addr) const
{
    if (!FValidData) return nullptr;
    for (const auto& source : FSourceModules)
        for (const auto& pair : source.Segments)
            if (pair.StartOffset <= addr && addr < pair.EndOffset) return &source;
    return nullptr;
}

const TELSymbolInfo* TELTD32InfoParser::FindProc(std::uint32_t addr) const
{
    if (!FValidData) return nullptr;
    for (const auto& symbol : FSymbols)
        if (symbol.IsProcedure() && symbol.Offset <= addr && addr - symbol.Offset < symbol.Size) return &symbol;
    return nullptr;
}

std::int32_t TELTD32InfoScanner::LineNumberFromAddr(std::uint32_t addr, std::int32_t& offset) const
{
    offset = 0;
    const TELSourceModuleInfo* source = FindSourceModule(addr);
    const TELLineInfo* line = source != nullptr ? source->FindLine(addr) : nullptr;
    if (line == nullptr) return 0;
    offset = static_cast<std::int32_t>(addr - line->Offset);
    return static_cast<std::int32_t>(line->LineNo);
}

std::string TELTD32InfoScanner::ProcNameFromAddr(std::uint32_t addr, std::int32_t& offset) const
{
    offset = 0;
    const TELSymbolInfo* proc = FindProc(addr);
    if (proc == nullptr) return {};
    offset = static_cast<std::int32_t>(addr - proc->Offset);
    return CleanTD32ProcName(Names(proc->NameIndex), ModuleNameFromAddr(addr));
}

std::string TELTD32InfoScanner::ModuleNameFromAddr(std::uint32_t addr) const
{
    const TELModuleInfo* module = FindModule(addr);
    return module != nullptr ? Names(module->NameIndex) : std::string();
}

std::string TELTD32InfoScanner::SourceNameFromAddr(std::uint32_t addr) const
{
    const TELSourceModuleInfo* source = FindSourceModule(addr);
    return source != nullptr ? Names(source->NameIndex) : std::string();
}

std::string CleanTD32ProcName(std::string name, const std::string& unitName)
{
    if (name.empty() || name[0] != '@') return name;
    name.erase(0, 1);
    const std::size_t dollar = name.find('$');
    if (dollar != std::string::npos) name.erase(dollar > 0 && name[dollar - 1] == '@' ? dollar - 1 : dollar);
    std::replace(name.begin(), name.end(), '@', '.');
    name = ReplaceAll(std::move(name), "..", ".@");
    const std::string unit = Lower(unitName);
    if (!unit.empty() && Lower(name).compare(0, unit.size(), unit) == 0) name.erase(0, std::min(name.size(), unit.size() + 1));
    return name;
}

TELPeBorTD32Image::TELPeBorTD32Image(HMODULE module) : FModule(module)
{
    ByteView data = FindInImage();
    if (data.Size() == 0) {
        char buffer[MAX_PATH] = {};
        const std::string fileName(buffer, ::GetModuleFileNameA(module, buffer, MAX_PATH));
        auto bytes = fileName.empty() ? std::nullopt : ReadWholeFile(ChangeFileExt(fileName, ".tds"), MaxDebugFileBytes);
        if (bytes && TELTD32InfoParser::IsTD32DebugInfoValid(ByteView(bytes->data(), bytes->size()))) {
            FFileData = std::move(*bytes);
            data = ByteView(FFileData.data(), FFileData.size());
        }
    }
    FIsTD32DebugPresent = data.Size() != 0;
    if (!FIsTD32DebugPresent) return;
    FTD32Scanner = std::make_unique<TELTD32InfoScanner>(data);
    if (!FTD32Scanner->ValidData()) {
        FTD32Scanner.reset();
        FFileData.clear();
    }
}

ByteView TELPeBorTD32Image::FindInImage() const
{
    const ByteView dos = THModuleStream(FModule, 0, 64);
    const std::uint32_t newHeader = U32At(dos, 0x3C);
    if (dos.Size() == 0 || std::memcmp(dos.Data(), "MZ", 2) != 0 || newHeader == 0) return {};
    const ByteView nt = THModuleStream(FModule, newHeader, 248);
    if (nt.Size() == 0 || std::memcmp(nt.Data(), "PE\0\0", 4) != 0) return {};
    // The debug data directory (entry 6 of the optional header's table).
    const std::uint32_t debugAddress = U32At(nt, 24 + 96 + 6 * 8);
    const std::uint32_t debugSize = U32At(nt, 24 + 96 + 6 * 8 + 4);
    if (debugSize == 0) return {};
    const std::size_t table = std::size_t{newHeader} + 24 + U16At(nt, 20);
    for (std::uint16_t i = 0; i < U16At(nt, 6); ++i) {
        const ByteView section = THModuleStream(FModule, table + 40u * i, 40);
        if (section.Size() == 0) return {};
        if (U32At(section, 12) != debugAddress) continue;
        const ByteView entry = THModuleStream(FModule, debugAddress, 28);
        const ByteView data = THModuleStream(FModule, U32At(entry, 20), U32At(entry, 16));
        if (entry.Size() != 0 && TELTD32InfoParser::IsTD32DebugInfoValid(data)) return data;
    }
    return {};
}

TELDebugInfoTD32::TELDebugInfoTD32(HMODULE module) : TELReaderSource(module) { LoadDebugData(); }

bool TELDebugInfoTD32::LoadDebugData()
{
    if (FModule == nullptr) {
        FImage.reset();
        return false;
    }
    FImage = std::make_unique<TELPeBorTD32Image>(FModule);
    return FImage->IsTD32DebugPresent();
}

} // namespace kv::crashreport
