#pragma once
// The linker's text map file: segments by module, publics by value and line
// numbers per unit, read into tables keyed by offset.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crashreport/core/debuginfo/EDebugInfoSource.h"

namespace kv::crashreport {

struct TELMapAddress {
    std::uint16_t Segment = 0;
    std::uint32_t Offset = 0;
};

// Names handed to the row handlers are positions in the map text (NoText
// for none); the text lives as long as the parser.
class TELAbstractMapParser {
public:
    static constexpr std::size_t NoText = static_cast<std::size_t>(-1);

    explicit TELAbstractMapParser(const std::string& mapFileName);
    virtual ~TELAbstractMapParser() = default;

    void Parse();
    // The name at a position: "(x)" gives x; else the text up to a blank,
    // "(" or line end.
    std::string MapStringToStr(std::size_t at) const;
    // The file name of "path\name.ext=..." forms: without path and extension.
    std::string MapStringToFileName(std::size_t at) const;
    bool LinkerBug() const noexcept { return FLinkerBug; }
    const std::string& Stream() const noexcept { return FStream; }

protected:
    virtual void OnSegmentRow(const TELMapAddress& address, std::uint32_t length, std::size_t classText,
                              std::size_t nameText) = 0;
    virtual void OnDetailedSegmentRow(const TELMapAddress& address, std::uint32_t length, std::size_t moduleText,
                                      std::size_t classText) = 0;
    virtual void OnPublicByNameRow(const TELMapAddress& address, std::size_t nameText) = 0;
    virtual void OnPublicByValueRow(const TELMapAddress& address, std::size_t nameText) = 0;
    virtual void OnLineNumbersUnit(std::size_t unitText, std::size_t unitFileText) = 0;
    virtual void OnLineNumberRow(std::int32_t lineNumber, const TELMapAddress& address) = 0;

    bool FLinkerBug = false;
    std::string FStream;
    std::size_t FLastUnitName = NoText;
    std::size_t FLastUnitFileName = NoText;

private:
    class Cursor;
};

class TELMapScanner : public TELAbstractMapParser {
public:
    explicit TELMapScanner(const std::string& mapFileName);

    std::uint32_t ModuleStartFromAddr(std::uint32_t addr) const;
    std::string ModuleNameFromAddr(std::uint32_t addr) const;
    std::string ProcNameFromAddr(std::uint32_t addr, std::int32_t& offset) const;
    std::int32_t LineNumberFromAddr(std::uint32_t addr, std::int32_t& offset) const;
    std::string SourceNameFromAddr(std::uint32_t addr) const;
    int LineNumberErrors() const noexcept { return FLineNumberErrors; }

protected:
    void OnSegmentRow(const TELMapAddress&, std::uint32_t, std::size_t, std::size_t) override {}
    void OnDetailedSegmentRow(const TELMapAddress& address, std::uint32_t length, std::size_t moduleText,
                              std::size_t classText) override;
    void OnPublicByNameRow(const TELMapAddress&, std::size_t) override {}
    void OnPublicByValueRow(const TELMapAddress& address, std::size_t nameText) override;
    void OnLineNumbersUnit(std::size_t unitText, std::size_t unitFileText) override;
    void OnLineNumberRow(std::int32_t lineNumber, const TELMapAddress& address) override;

private:
    struct Segment {
        std::uint32_t Start, End;
        std::size_t Name;
    };
    struct Named {
        std::int32_t Offset;
        std::size_t Name;
    };
    struct LineEntry {
        std::int32_t Offset;
        std::int32_t LineNumber;
    };
    const Segment* SegmentOf(std::uint32_t addr) const;
    // The entry of a nearest-entry search that may answer for addr.
    template <class Entry>
    const Entry* NearestInModule(const std::vector<Entry>& entries, std::uint32_t addr) const;

    std::vector<Segment> FSegments;
    std::vector<Named> FProcNames;
    std::vector<LineEntry> FLineNumbers;
    std::vector<Named> FSourceNames;
    TELMapAddress FLastValidAddr;
    std::uint32_t FTopValidAddr = 0;
    int FLineNumberErrors = 0;
    std::size_t FNewUnitFileName = NoText;
};

// Index of the entry whose key equals key, else of the last one below it;
// -1 when none is below. Entries are in rising order of their signed key.
template <class Entry>
int NearestEntryIndex(const std::vector<Entry>& entries, std::int32_t key)
{
    int lo = 0, hi = static_cast<int>(entries.size()) - 1;
    while (lo <= hi) {
        const int mid = (lo + hi) / 2;
        const std::int64_t difference = std::int64_t{entries[mid].Offset} - key;
        if (difference < 0) {
            lo = mid + 1;
        } else {
            if (difference == 0) return mid;
            hi = mid - 1;
        }
    }
    return hi;
}

class TELDebugInfoMap : public TELReaderSource<TELMapScanner> {
public:
    explicit TELDebugInfoMap(HMODULE module);
    bool ValidData() const override { return FScanner != nullptr; }
    const TELMapScanner* Scanner() const noexcept { return FScanner.get(); }

protected:
    bool LoadDebugData();
    TELMapScanner* ReaderOf() const override { return FScanner.get(); }

private:
    std::unique_ptr<TELMapScanner> FScanner;
};

} // namespace kv::crashreport
