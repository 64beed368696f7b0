#include "crashreport/core/ESharedOptions.h"

#include <cstring>
#include <mutex>

#include "crashreport/core/ECore.h"
#include "crashreport/core/EObjects.h"
#include "crashreport/core/EOptionsStream.h"
#include "crashreport/core/ESystem.h"
#include "platform/Format.h"

namespace kv::crashreport {
namespace {

constexpr std::uint8_t kOptionsPresent = 1;

std::mutex g_sharedLock;
SharedOptionsMapping g_ownSharedMapping;

std::int32_t StoredTotalSize(HANDLE mapping)
{
    MapView view(::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, sizeof(std::int32_t)));
    if (!view) return 0;
    std::int32_t total = 0;
    std::memcpy(&total, view.Get(), sizeof total);
    return total;
}

} // namespace

std::string SharedOptionsMappingName(DWORD processId, HMODULE module)
{
    return Format("%.8X%.8X", {processId, static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(module))});
}

SharedOptionsMapping SharedOptionsMapping::Create(HMODULE module, std::size_t dataSize)
{
    SharedOptionsMapping result;
    const std::string name = SharedOptionsMappingName(::GetCurrentProcessId(), module);
    const DWORD requested = static_cast<DWORD>(dataSize + sizeof(std::int32_t));
    KernelHandle mapping(
        ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, requested, name.c_str()));
    if (!mapping) return result;
    const bool existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
    DWORD total = requested;
    if (!existed && dataSize == 0) return result; // a reader found nothing
    if (existed) {
        // The first creator decided the size; a bigger view would fail.
        const std::int32_t stored = StoredTotalSize(mapping.Get());
        if (stored < static_cast<std::int32_t>(sizeof(std::int32_t))) return result;
        total = static_cast<DWORD>(stored);
        mapping.Reset(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, total, name.c_str()));
        if (!mapping) return result;
    }
    MapView view(::MapViewOfFile(mapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, total));
    if (!view) return result;
    const std::int32_t stored = static_cast<std::int32_t>(total);
    std::memcpy(view.Get(), &stored, sizeof stored);
    result.mapping_ = std::move(mapping);
    result.view_ = std::move(view);
    result.dataSize_ = total - sizeof(std::int32_t);
    return result;
}

void StoreSharedOptions(const TOspreyModuleOptions& options)
{
    if (!IsValidObject(&options) || options.ModuleHandle() == nullptr) return;
    MemoryStream stream;
    stream.WriteValue(kOptionsPresent);
    options.SaveToStream(stream);
    const std::string& bytes = stream.Data();

    std::lock_guard lock(g_sharedLock);
    g_ownSharedMapping = SharedOptionsMapping();
    g_ownSharedMapping = SharedOptionsMapping::Create(options.ModuleHandle(), bytes.size());
    if (!g_ownSharedMapping.IsOpen() || g_ownSharedMapping.DataSize() == 0) return;
    if (bytes.size() > g_ownSharedMapping.DataSize()) {
        // Part of a stream is worse than none: readers would take half-old,
        // half-new options. The flag says "no options" instead.
        g_ownSharedMapping.Data()[0] = 0;
        return;
    }
    std::memcpy(g_ownSharedMapping.Data(), bytes.data(), bytes.size());
}

void LoadSharedOptions(TOspreyModuleOptions& options)
{
    if (!IsValidObject(&options) || options.ModuleHandle() == nullptr) return;
    const SharedOptionsMapping mapping = SharedOptionsMapping::Create(options.ModuleHandle(), 0);
    if (!mapping.IsOpen() || mapping.DataSize() == 0 || mapping.Data()[0] == 0) return;
    MemoryStream stream(std::string(reinterpret_cast<const char*>(mapping.Data()) + 1, mapping.DataSize() - 1));
    OptionsStreamVersion = ReporterVersion;
    options.LoadFromStream(stream);
}

void ReleaseSharedOptionsMapping()
{
    std::lock_guard lock(g_sharedLock);
    g_ownSharedMapping = SharedOptionsMapping();
}

void TOspreyModuleOptionsEx::StoreSharedData() { StoreSharedOptions(*this); }
void TOspreyModuleOptionsEx::LoadSharedData() { LoadSharedOptions(*this); }

} // namespace kv::crashreport
