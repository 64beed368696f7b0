#include "crashreport/core/debuginfo/EDebugTypes.h"

namespace kv::crashreport {
namespace {

OutsideDebugSourceHooks g_outsideHooks;

} // namespace

std::string ShortText(std::string_view text, std::size_t limit)
{
    return std::string(text.substr(0, limit));
}

void SetOutsideDebugSourceHooks(const OutsideDebugSourceHooks& hooks) noexcept
{
    g_outsideHooks = hooks;
}

const OutsideDebugSourceHooks& GetOutsideDebugSourceHooks() noexcept
{
    return g_outsideHooks;
}

void OutsideSourceFree::operator()(TELDebugInfoSource* source) const noexcept
{
    if (source != nullptr && g_outsideHooks.Free != nullptr) g_outsideHooks.Free(source);
}

void TOspreyFunctionsList::SortByAddress()
{
    Sort([](const TOspreyFunctionInfo& a, const TOspreyFunctionInfo& b) {
        return reinterpret_cast<std::uintptr_t>(a.Address) < reinterpret_cast<std::uintptr_t>(b.Address);
    });
}

TOspreyDebugInfo* TOspreyStackList::AddFrom(const TOspreyDebugInfo& source)
{
    auto entry = std::make_unique<TOspreyDebugInfo>();
    entry->DebugDetail = source.DebugDetail;
    entry->ModuleInfo = source.ModuleInfo;
    entry->Addr = source.Addr;
    entry->UnitName = source.UnitName;
    entry->ClassName = source.ClassName;
    entry->ProcedureName = source.ProcedureName;
    entry->Line = source.Line;
    return Add(std::move(entry));
}

TOspreyModuleInfo* TOspreyModulesList::FindByHandle(HMODULE handle) const
{
    for (const auto& entry : *this)
        if (entry->Handle == handle) return entry.get();
    return nullptr;
}

void TOspreyModulesList::SortByHandle()
{
    Sort([](const TOspreyModuleInfo& a, const TOspreyModuleInfo& b) {
        return reinterpret_cast<std::uintptr_t>(a.Handle) < reinterpret_cast<std::uintptr_t>(b.Handle);
    });
}

void TOspreyProcessesList::SortByProcessID()
{
    Sort([](const TOspreyProcessInfo& a, const TOspreyProcessInfo& b) { return a.ProcessID < b.ProcessID; });
}

int TOspreyProcessesList::FindProcessID(std::uint32_t processId) const
{
    int low = 0, high = Count() - 1;
    while (low <= high) {
        const int middle = low + (high - low) / 2;
        const std::uint32_t id = Items(middle)->ProcessID;
        if (id == processId) return middle;
        if (id < processId) low = middle + 1;
        else high = middle - 1;
    }
    return -1;
}

} // namespace kv::crashreport
