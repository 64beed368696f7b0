#pragma once
// JCL binary debug data: delta-coded lists of units, source files, symbols
// and lines with packed names, from a module's "JCLDEBUG" section or a
// ".jdbg" file beside it.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crashreport/core/debuginfo/EDebugInfoSource.h"

namespace kv::crashreport {

// Names of the first form have every byte but this one XORed with it.
constexpr std::uint8_t JclNameXor = 0xAA;
constexpr std::size_t JclHeaderSize = 35;

class TELBinDebugScanner {
public:
    // Keeps the data (not owned) and checks its format.
    TELBinDebugScanner(ByteView data, bool cacheData);

    bool ValidFormat() const noexcept { return FValidFormat; }
    std::string ModuleName() const;
    std::uint32_t ModuleStartFromAddr(std::uint32_t addr) const;
    std::string ModuleNameFromAddr(std::uint32_t addr) const;
    std::string SourceNameFromAddr(std::uint32_t addr) const;
    std::string ProcNameFromAddr(std::uint32_t addr, std::int32_t& offset);
    std::int32_t LineNumberFromAddr(std::uint32_t addr, std::int32_t& offset);

    // The name that a name reference stands for; empty for 0 or bad data.
    std::string DataToStr(std::uint32_t nameReference) const;

private:
    struct LineEntry {
        std::uint32_t Address;
        std::int32_t LineNumber;
    };
    struct ProcEntry {
        std::uint32_t Address;
        std::uint32_t FirstName;
        std::uint32_t SecondName;
    };
    enum ListField { UnitsList = 5, SourceNamesList = 9, SymbolsList = 13, LineNumbersList = 17 };
    class ListReader;

    void CheckFormat();
    std::uint32_t HeaderValue(std::size_t offset) const;
    // The last entry of a two-value list whose start is not above addr, and
    // whether the walk stopped at a later entry.
    bool LastEntryNotAbove(ListField list, std::uint32_t addr, std::uint32_t& start, std::uint32_t& name,
                           bool& stoppedLater) const;
    void CacheLineNumbers();
    void CacheProcNames();
    // The entry of a backward search that may answer for addr, or -1.
    template <class Entry>
    int FindBackwards(const std::vector<Entry>& entries, std::uint32_t addr) const;

    ByteView FStream;
    bool FCacheData;
    bool FValidFormat = false;
    bool FLinesCached = false;
    bool FProcsCached = false;
    std::vector<LineEntry> FLineNumbers;
    std::vector<ProcEntry> FProcNames;
};

class TELDebugInfoJedy : public TELReaderSource<TELBinDebugScanner> {
public:
    explicit TELDebugInfoJedy(HMODULE module);
    bool ValidData() const override { return FScanner != nullptr && FScanner->ValidFormat(); }
    const TELBinDebugScanner* Scanner() const noexcept { return FScanner.get(); }

protected:
    bool LoadDebugData();
    TELBinDebugScanner* ReaderOf() const override { return FScanner.get(); }

private:
    std::string FFileData; // the ".jdbg" file; empty when the section is used
    std::unique_ptr<TELBinDebugScanner> FScanner;
};

// The first section of a loaded module's headers with this 8-byte name, as
// bytes of the module (the smaller of its virtual and raw size); empty when
// there is none or the headers cannot be read.
ByteView FindModuleSection(HMODULE module, const char (&name)[9]);

} // namespace kv::crashreport
