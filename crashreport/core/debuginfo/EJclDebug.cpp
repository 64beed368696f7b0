#include "crashreport/core/EOptionsFiles.h"
#include "crashreport/core/debuginfo/EJclDebug.h"

#include <cstring>

#include "crashreport/core/ESystem.h"

namespace kv::crashreport {
namespace {

constexpr std::uint32_t EndOfList = 0x7FFFFFFF;
constexpr std::size_t MaxNameLength = 255;

char SixBitChar(unsigned code)
{
    if (code <= 10) return static_cast<char>('0' + code - 1);
    if (code <= 36) return static_cast<char>('A' + code - 11);
    if (code <= 62) return static_cast<char>('a' + code - 37);
    return '_';
}

} // namespace

// Entries of packed, delta-coded values; the walk ends at the end marker or
// at the end of the data.
class TELBinDebugScanner::ListReader {
public:
    ListReader(ByteView data, std::uint32_t start) : data_(data), at_(start) {}

    // The running sums of the next entry of `count` values.
    bool Next(std::uint32_t* values, int count)
    {
        for (int i = 0; i < count; ++i) {
            std::uint32_t delta = 0;
            if (!Packed(delta) || (i == 0 && delta == EndOfList)) return false;
            sums_[i] += delta;
            values[i] = sums_[i];
        }
        return true;
    }

private:
    bool Packed(std::uint32_t& value)
    {
        value = 0;
        for (int shift = 0; shift < 35; shift += 7) {
            std::uint8_t byte = 0;
            if (!data_.U8(at_++, byte)) return false;
            value |= static_cast<std::uint32_t>(byte & 0x7F) << shift;
            if ((byte & 0x80) == 0) return true;
        }
        return false; // more than five bytes: damaged
    }

    ByteView data_;
    std::size_t at_;
    std::uint32_t sums_[3] = {};
};

TELBinDebugScanner::TELBinDebugScanner(ByteView data, bool cacheData) : FStream(data), FCacheData(cacheData)
{
    CheckFormat();
}

void TELBinDebugScanner::CheckFormat()
{
    std::uint8_t version = 0, checksumPresent = 0;
    if (FStream.Data() == nullptr || FStream.Size() < JclHeaderSize || FStream.Size() % 4 != 0 ||
        std::memcmp(FStream.Data(), "JDBG", 4) != 0 || !FStream.U8(4, version) || version != 1)
        return;
    FStream.U8(33, checksumPresent);
    if (checksumPresent != 0) {
        const std::uint32_t stored = HeaderValue(29);
        std::uint32_t sum = 0u - stored;
        for (std::size_t at = 0; at < FStream.Size(); at += 4) {
            std::uint32_t word = 0;
            FStream.U32(at, word);
            sum += word;
        }
        if (((sum >> 8) | (sum << 24)) != stored) return;
    }
    FValidFormat = true;
}

std::uint32_t TELBinDebugScanner::HeaderValue(std::size_t offset) const
{
    std::uint32_t value = 0;
    FStream.U32(offset, value);
    return value;
}

std::string TELBinDebugScanner::DataToStr(std::uint32_t nameReference) const
{
    if (nameReference == 0 || !FValidFormat) return {};
    std::size_t at = std::size_t{HeaderValue(21)} + nameReference - 1;
    std::uint8_t first = 0;
    if (!FStream.U8(at, first)) return {};
    std::string name;
    if (first == 1) {
        std::uint8_t byte = 0;
        while (name.size() < MaxNameLength && FStream.U8(++at, byte) && byte != 0)
            name += static_cast<char>(byte == JclNameXor ? byte : byte ^ JclNameXor);
        return name;
    }
    if (first == 2) {
        name = "@";
        ++at;
    }
    // Six-bit characters, four to three bytes, low bits first.
    std::uint32_t bits = 0;
    int bitCount = 0;
    while (name.size() < MaxNameLength) {
        if (bitCount < 6) {
            std::uint8_t byte = 0;
            if (!FStream.U8(at++, byte)) break;
            bits |= std::uint32_t{byte} << bitCount;
            bitCount += 8;
        }
        const unsigned code = bits & 0x3F;
        bits >>= 6;
        bitCount -= 6;
        if (code == 0) break;
        name += SixBitChar(code);
    }
    return name;
}

std::string TELBinDebugScanner::ModuleName() const { return DataToStr(HeaderValue(25)); }

bool TELBinDebugScanner::LastEntryNotAbove(ListField list, std::uint32_t addr, std::uint32_t& start,
                                           std::uint32_t& name, bool& stoppedLater) const
{
    bool found = false;
    stoppedLater = false;
    if (!FValidFormat) return false;
    ListReader reader(FStream, HeaderValue(list));
    std::uint32_t entry[2];
    while (reader.Next(entry, 2)) {
        if (entry[0] > addr) {
            stoppedLater = true;
            break;
        }
        start = entry[0];
        name = entry[1];
        found = true;
    }
    return found;
}

std::uint32_t TELBinDebugScanner::ModuleStartFromAddr(std::uint32_t addr) const
{
    std::uint32_t start = 0, name = 0;
    bool later = false;
    return LastEntryNotAbove(UnitsList, addr, start, name, later) ? start : 0xFFFFFFFFu;
}

std::string TELBinDebugScanner::ModuleNameFromAddr(std::uint32_t addr) const
{
    std::uint32_t start = 0, name = 0;
    bool later = false;
    return LastEntryNotAbove(UnitsList, addr, start, name, later) ? DataToStr(name) : std::string();
}

std::string TELBinDebugScanner::SourceNameFromAddr(std::uint32_t addr) const
{
    std::uint32_t start = 0, name = 0;
    bool later = false;
    if (!LastEntryNotAbove(SourceNamesList, addr, start, name, later)) return {};
    if (later && start < ModuleStartFromAddr(addr)) return {};
    return DataToStr(name);
}

void TELBinDebugScanner::CacheLineNumbers()
{
    FLineNumbers.clear();
    FLineNumbers.reserve(64);
    if (FValidFormat) {
        ListReader reader(FStream, HeaderValue(LineNumbersList));
        std::uint32_t entry[2];
        while (reader.Next(entry, 2)) FLineNumbers.push_back({entry[0], static_cast<std::int32_t>(entry[1])});
    }
    FLineNumbers.shrink_to_fit();
    FLinesCached = FCacheData;
}

void TELBinDebugScanner::CacheProcNames()
{
    FProcNames.clear();
    FProcNames.reserve(64);
    if (FValidFormat) {
        ListReader reader(FStream, HeaderValue(SymbolsList));
        std::uint32_t entry[3];
        while (reader.Next(entry, 3)) FProcNames.push_back({entry[0], entry[1], entry[2]});
    }
    FProcNames.shrink_to_fit();
    FProcsCached = FCacheData;
}

template <class Entry>
int TELBinDebugScanner::FindBackwards(const std::vector<Entry>& entries, std::uint32_t addr) const
{
    for (int i = static_cast<int>(entries.size()) - 1; i >= 0; --i) {
        if (entries[static_cast<std::size_t>(i)].Address > addr) continue;
        return entries[static_cast<std::size_t>(i)].Address < ModuleStartFromAddr(addr) ? -1 : i;
    }
    return -1;
}

std::int32_t TELBinDebugScanner::LineNumberFromAddr(std::uint32_t addr, std::int32_t& offset)
{
    // Without the cache each lookup walks the packed list again.
    if (!FLinesCached) CacheLineNumbers();
    const int index = FindBackwards(FLineNumbers, addr);
    offset = 0;
    if (index < 0) return 0;
    const LineEntry& entry = FLineNumbers[static_cast<std::size_t>(index)];
    offset = static_cast<std::int32_t>(addr - entry.Address);
    return entry.LineNumber;
}

std::string TELBinDebugScanner::ProcNameFromAddr(std::uint32_t addr, std::int32_t& offset)
{
    if (!FProcsCached) CacheProcNames();
    const int index = FindBackwards(FProcNames, addr);
    offset = 0;
    if (index < 0) return {};
    const ProcEntry& entry = FProcNames[static_cast<std::size_t>(index)];
    offset = static_cast<std::int32_t>(addr - entry.Address);
    if (entry.FirstName == 0) return {};
    if (entry.SecondName == 0) return DataToStr(entry.FirstName);
    return DataToStr(entry.FirstName) + "." + DataToStr(entry.SecondName);
}

ByteView FindModuleSection(HMODULE module, const char (&name)[9])
{
    const ByteView dos = THModuleStream(module, 0, 64);
    std::uint32_t newHeader = 0;
    if (dos.Size() == 0 || std::memcmp(dos.Data(), "MZ", 2) != 0 || !dos.U32(0x3C, newHeader) || newHeader == 0)
        return {};
    const ByteView nt = THModuleStream(module, newHeader, 248);
    if (nt.Size() == 0 || std::memcmp(nt.Data(), "PE\0\0", 4) != 0) return {};
    std::uint16_t sectionCount = 0, optionalSize = 0;
    nt.U16(6, sectionCount);
    nt.U16(20, optionalSize);
    const std::size_t table = std::size_t{newHeader} + 24 + optionalSize;
    for (std::uint16_t i = 0; i < sectionCount; ++i) {
        const ByteView header = THModuleStream(module, table + 40u * i, 40);
        if (header.Size() == 0) return {};
        if (std::memcmp(header.Data(), name, 8) != 0) continue;
        std::uint32_t virtualSize = 0, virtualAddress = 0, rawSize = 0;
        header.U32(8, virtualSize);
        header.U32(12, virtualAddress);
        header.U32(16, rawSize);
        return THModuleStream(module, virtualAddress, std::min(virtualSize, rawSize));
    }
    return {};
}

TELDebugInfoJedy::TELDebugInfoJedy(HMODULE module) : TELReaderSource(module) { LoadDebugData(); }

bool TELDebugInfoJedy::LoadDebugData()
{
    ByteView data = FindModuleSection(FModule, "JCLDEBUG");
    if (data.Size() == 0) {
        const std::string fileName = FileName();
        auto bytes = fileName.empty() ? std::nullopt : ReadWholeFile(ChangeFileExt(fileName, ".jdbg"), MaxDebugFileBytes);
        if (!bytes) {
            FScanner.reset();
            return false;
        }
        FFileData = std::move(*bytes);
        data = ByteView(FFileData.data(), FFileData.size());
    }
    FScanner = std::make_unique<TELBinDebugScanner>(data, true);
    return true;
}

} // namespace kv::crashreport
