#pragma once
// Outside debug information of a module that carries none of the reporter's
// own: the linker's map file beside it, TD32 data in it or in a ".tds" file,
// or JCL binary data in its "JCLDEBUG" section or a ".jdbg" file. Every table
// is keyed by the offset from the module's first section (address - module -
// 0x1000). The data is foreign input: every read is bounded by its size, and
// damaged data makes a source invalid or answer nothing, never a fault.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kv::crashreport {

class TELDebugInfoSource;

struct TELLocationInfo {
    const void* Address = nullptr;
    std::string UnitName;
    std::string ProcedureName;
    std::int32_t ProcOffsetLine = 0; // source lines from the procedure's first line
    std::int32_t LineNumber = 0;     // 0 when unknown
    std::string SourceName;
    TELDebugInfoSource* DebugInfo = nullptr; // the source that answered; not owned
};

// A read-only range of bytes with little-endian reads that fail, rather than
// read past the end.
class ByteView {
public:
    ByteView() = default;
    ByteView(const void* data, std::size_t size) : data_(static_cast<const std::uint8_t*>(data)), size_(size) {}

    const std::uint8_t* Data() const noexcept { return data_; }
    std::size_t Size() const noexcept { return size_; }
    bool Has(std::size_t offset, std::size_t count) const noexcept
    {
        return offset <= size_ && count <= size_ - offset;
    }
    bool U8(std::size_t offset, std::uint8_t& value) const;
    bool U16(std::size_t offset, std::uint16_t& value) const;
    bool U32(std::size_t offset, std::uint32_t& value) const;
    ByteView Sub(std::size_t offset, std::size_t count) const;

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// A loaded module's memory as bytes, without a copy; empty unless the whole
// range is readable.
ByteView THModuleStream(HMODULE module, std::size_t offset, std::size_t size);

// The whole file, when it exists and is at most maxBytes long.
std::optional<std::string> ReadWholeFile(const std::string& fileName, std::size_t maxBytes);

// Outside data is read only up to this size.
constexpr std::size_t MaxDebugFileBytes = 256u << 20;

class TELDebugInfoSource {
public:
    TELDebugInfoSource(const TELDebugInfoSource&) = delete;
    TELDebugInfoSource& operator=(const TELDebugInfoSource&) = delete;
    virtual ~TELDebugInfoSource() = default;

    HMODULE Module() const noexcept { return FModule; }
    // The module's file name; empty when it cannot be had.
    std::string FileName() const;
    std::uint32_t AddressToOffset(const void* addr) const noexcept;
    virtual bool ValidData() const = 0;
    // Fills info for an address of the module; false (info untouched but for
    // nothing) when the reader knows no unit there.
    bool GetLocationInfo(const void* addr, TELLocationInfo& info);

protected:
    explicit TELDebugInfoSource(HMODULE module) : FModule(module) {}
    // The four lookups every reader answers, by offset.
    virtual std::string ModuleNameFromAddr(std::uint32_t offset) = 0;
    virtual std::string ProcNameFromAddr(std::uint32_t offset, std::int32_t& procOffset) = 0;
    virtual std::int32_t LineNumberFromAddr(std::uint32_t offset, std::int32_t& lineOffset) = 0;
    virtual std::string SourceNameFromAddr(std::uint32_t offset) = 0;

    HMODULE FModule;
};

// A source whose four lookups its reader answers.
template <class Reader>
class TELReaderSource : public TELDebugInfoSource {
protected:
    using TELDebugInfoSource::TELDebugInfoSource;
    virtual Reader* ReaderOf() const = 0;
    std::string ModuleNameFromAddr(std::uint32_t offset) override { return ReaderOf()->ModuleNameFromAddr(offset); }
    std::string ProcNameFromAddr(std::uint32_t offset, std::int32_t& procOffset) override
    {
        return ReaderOf()->ProcNameFromAddr(offset, procOffset);
    }
    std::int32_t LineNumberFromAddr(std::uint32_t offset, std::int32_t& lineOffset) override
    {
        return ReaderOf()->LineNumberFromAddr(offset, lineOffset);
    }
    std::string SourceNameFromAddr(std::uint32_t offset) override { return ReaderOf()->SourceNameFromAddr(offset); }
};

// The first kind with valid data for the module, in the fixed order map
// file, TD32, JCL binary. False, and source unchanged, when source is already
// set; false and source empty when no kind has data.
bool CreateDebugInfoSource(HMODULE module, std::unique_ptr<TELDebugInfoSource>& source);

// Hands the factory and the lookup to the address lookup of the reporter's
// own debug data (it asks them for modules without own data).
void InstallOutsideDebugSources() noexcept;

} // namespace kv::crashreport
