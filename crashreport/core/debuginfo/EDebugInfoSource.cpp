#include "crashreport/core/debuginfo/EDebugInfoSource.h"

#include "crashreport/core/ESystem.h"
#include "crashreport/core/debuginfo/EDebugTypes.h"
#include "crashreport/core/debuginfo/EJclDebug.h"
#include "crashreport/core/debuginfo/EMapScanner.h"
#include "crashreport/core/debuginfo/ETD32Debug.h"
#include "platform/Handles.h"

namespace kv::crashreport {

bool ByteView::U8(std::size_t offset, std::uint8_t& value) const
{
    if (!Has(offset, 1)) return false;
    value = data_[offset];
    return true;
}

bool ByteView::U16(std::size_t offset, std::uint16_t& value) const
{
    if (!Has(offset, 2)) return false;
    value = static_cast<std::uint16_t>(data_[offset] | data_[offset + 1] << 8);
    return true;
}

bool ByteView::U32(std::size_t offset, std::uint32_t& value) const
{
    if (!Has(offset, 4)) return false;
    value = data_[offset] | data_[offset + 1] << 8 | data_[offset + 2] << 16 | std::uint32_t{data_[offset + 3]} << 24;
    return true;
}

ByteView ByteView::Sub(std::size_t offset, std::size_t count) const
{
    if (!Has(offset, count)) return {};
    return ByteView(data_ + offset, count);
}

ByteView THModuleStream(HMODULE module, std::size_t offset, std::size_t size)
{
    const auto* start = reinterpret_cast<const std::uint8_t*>(module) + offset;
    if (module == nullptr || size == 0 || !IsReadableMemory(start, size)) return {};
    return ByteView(start, size);
}

std::optional<std::string> ReadWholeFile(const std::string& fileName, std::size_t maxBytes)
{
    FileHandle file(::CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0 ||
        static_cast<unsigned long long>(size.QuadPart) > maxBytes)
        return std::nullopt;
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD read = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 24));
        if (!::ReadFile(file.Get(), bytes.data() + done, chunk, &read, nullptr) || read == 0) break;
        done += read;
    }
    bytes.resize(done);
    return bytes;
}

std::string TELDebugInfoSource::FileName() const
{
    char buffer[MAX_PATH] = {};
    return std::string(buffer, ::GetModuleFileNameA(FModule, buffer, MAX_PATH));
}

std::uint32_t TELDebugInfoSource::AddressToOffset(const void* addr) const noexcept
{
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(addr) -
                                      reinterpret_cast<std::uintptr_t>(FModule) - 0x1000);
}

bool TELDebugInfoSource::GetLocationInfo(const void* addr, TELLocationInfo& info)
{
    const std::uint32_t offset = AddressToOffset(addr);
    std::string unitName = ModuleNameFromAddr(offset);
    if (unitName.empty()) return false;
    info.UnitName = std::move(unitName);
    info.Address = addr;
    std::int32_t procOffset = 0, lineOffset = 0;
    info.ProcedureName = ProcNameFromAddr(offset, procOffset);
    info.LineNumber = LineNumberFromAddr(offset, lineOffset);
    info.SourceName = SourceNameFromAddr(offset);
    info.DebugInfo = this;
    info.ProcOffsetLine = info.LineNumber - LineNumberFromAddr(offset - static_cast<std::uint32_t>(procOffset), lineOffset);
    return true;
}

bool CreateDebugInfoSource(HMODULE module, std::unique_ptr<TELDebugInfoSource>& source)
{
    if (source) return false;
    std::unique_ptr<TELDebugInfoSource> candidate = std::make_unique<TELDebugInfoMap>(module);
    if (!candidate->ValidData()) candidate = std::make_unique<TELDebugInfoTD32>(module);
    if (!candidate->ValidData()) candidate = std::make_unique<TELDebugInfoJedy>(module);
    if (!candidate->ValidData()) return false;
    source = std::move(candidate);
    return true;
}

namespace {

TELDebugInfoSource* CreateOutsideSource(HMODULE module)
{
    std::unique_ptr<TELDebugInfoSource> source;
    CreateDebugInfoSource(module, source);
    return source.release();
}

void FreeOutsideSource(TELDebugInfoSource* source) { delete source; }

bool OutsideLocation(TELDebugInfoSource* source, const void* address, OutsideLocationInfo& out)
{
    TELLocationInfo info;
    if (source == nullptr || !source->GetLocationInfo(address, info)) return false;
    out.Address = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(info.Address));
    out.UnitName = info.UnitName;
    out.SourceName = info.SourceName;
    out.ProcedureName = info.ProcedureName;
    out.LineNumber = static_cast<std::uint32_t>(info.LineNumber);
    out.ProcOffsetLine = static_cast<std::uint32_t>(info.ProcOffsetLine);
    return true;
}

} // namespace

void InstallOutsideDebugSources() noexcept
{
    SetOutsideDebugSourceHooks({CreateOutsideSource, FreeOutsideSource, OutsideLocation});
}

} // namespace kv::crashreport
