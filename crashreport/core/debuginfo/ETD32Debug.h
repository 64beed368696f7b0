#pragma once
// TD32 debug information, in the image (through its debug directory) or in a
// ".tds" file beside it: subsection directories with modules, source modules
// and their lines, symbols and names.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crashreport/core/debuginfo/EDebugInfoSource.h"

namespace kv::crashreport {

struct TELTD32FileSignature {
    char Signature[4];
    std::uint32_t Offset;
};

struct TSegmentInfo {
    std::uint16_t Segment;
    std::uint16_t Flags;
    std::uint32_t Offset;
    std::uint32_t Size;
};

struct TOffsetPair {
    std::uint32_t StartOffset;
    std::uint32_t EndOffset;
};

struct TELModuleInfo {
    std::uint32_t NameIndex = 0;
    std::vector<TSegmentInfo> Segments;
};

struct TELLineInfo {
    std::uint32_t LineNo;
    std::uint32_t Offset;
};

struct TELSourceModuleInfo {
    std::uint32_t NameIndex = 0;
    std::vector<TELLineInfo> Lines;
    std::vector<TOffsetPair> Segments;
    // The line at addr: an exact offset, or the one before the first line
    // above addr; none past the last line.
    const TELLineInfo* FindLine(std::uint32_t addr) const;
};

// The symbol classes of the format; only procedures answer lookups, the
// other fields are kept as read.
struct TELSymbolInfo {
    std::uint16_t SymbolType = 0;
    std::uint32_t NameIndex = 0;
    std::uint32_t Offset = 0;
    std::uint32_t Size = 0;
    std::uint32_t TypeIndex = 0;
    std::uint32_t Value = 0;      // constant
    std::uint16_t Properties = 0; // user-defined type
    std::uint32_t Signature = 0;  // object name
    std::uint32_t RootIndex = 0;  // virtual-table path
    std::uint32_t PathIndex = 0;
    bool IsProcedure() const noexcept { return SymbolType == 0x0204 || SymbolType == 0x0205; }
};

class TELTD32InfoParser {
public:
    // Reads the directories of valid data; the data must outlive the parser.
    explicit TELTD32InfoParser(ByteView data);
    virtual ~TELTD32InfoParser() = default;

    bool ValidData() const noexcept { return FValidData; }
    std::size_t NameCount() const noexcept { return FNames.size(); }
    const std::string& Names(std::size_t index) const;
    const std::vector<TELModuleInfo>& Modules() const noexcept { return FModules; }
    const std::vector<TELSourceModuleInfo>& SourceModules() const noexcept { return FSourceModules; }
    const std::vector<TELSymbolInfo>& Symbols() const noexcept { return FSymbols; }

    const TELModuleInfo* FindModule(std::uint32_t addr) const;
    const TELSourceModuleInfo* FindSourceModule(std::uint32_t addr) const;
    const TELSymbolInfo* FindProc(std::uint32_t addr) const;

    static bool IsTD32Sign(const std::uint8_t* sign);
    static bool IsTD32DebugInfoValid(ByteView data);

protected:
    virtual void ReadNamesSubsection(ByteView subsection);
    virtual void ReadSymbolsSubsection(ByteView subsection);
    virtual void ReadModuleSubsection(ByteView subsection);
    virtual void ReadSourceModuleSubsection(ByteView subsection);

private:
    void ReadDirectories();

    ByteView FData;
    std::vector<std::string> FNames{std::string()}; // index 0: no name
    std::vector<TELModuleInfo> FModules;
    std::vector<TELSourceModuleInfo> FSourceModules;
    std::vector<TELSymbolInfo> FSymbols;
    bool FValidData = false;
};

class TELTD32InfoScanner : public TELTD32InfoParser {
public:
    using TELTD32InfoParser::TELTD32InfoParser;
    std::int32_t LineNumberFromAddr(std::uint32_t addr, std::int32_t& offset) const;
    std::string ProcNameFromAddr(std::uint32_t addr, std::int32_t& offset) const;
    std::string ModuleNameFromAddr(std::uint32_t addr) const;
    std::string SourceNameFromAddr(std::uint32_t addr) const;
};

// A procedure name of the "@Unit@Class@Method$Params" form as "Class.Method"
// (the unit given); other names unchanged.
std::string CleanTD32ProcName(std::string name, const std::string& unitName);

class TELPeBorTD32Image {
public:
    explicit TELPeBorTD32Image(HMODULE module);
    bool IsTD32DebugPresent() const noexcept { return FIsTD32DebugPresent; }
    const TELTD32InfoScanner* TD32Scanner() const noexcept { return FTD32Scanner.get(); }

private:
    ByteView FindInImage() const;

    HMODULE FModule;
    std::string FFileData; // the ".tds" file; empty when the image holds the data
    std::unique_ptr<TELTD32InfoScanner> FTD32Scanner;
    bool FIsTD32DebugPresent = false;
};

class TELDebugInfoTD32 : public TELReaderSource<const TELTD32InfoScanner> {
public:
    explicit TELDebugInfoTD32(HMODULE module);
    bool ValidData() const override
    {
        return FImage != nullptr && FImage->TD32Scanner() != nullptr && FImage->TD32Scanner()->ValidData();
    }

protected:
    bool LoadDebugData();
    const TELTD32InfoScanner* ReaderOf() const override { return FImage->TD32Scanner(); }

private:
    std::unique_ptr<TELPeBorTD32Image> FImage;
};

} // namespace kv::crashreport
