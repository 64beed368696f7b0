#include "crashreport/core/ECallStack.h"

#include <windows.h>

#include <atomic>
#include <cstring>

#include "crashreport/core/ESystem.h"
#include "crashreport/core/EThreadsList.h"

namespace kv::crashreport {
namespace {

std::atomic<StackAddressLookup> g_lookup{nullptr};

// Readability is asked this far ahead at a time rather than per value.
constexpr std::uint32_t ReadableBlockBytes = 400;
// The longest call shape the scan knows (FF 94 24 disp32).
constexpr std::uint32_t LongestCallBytes = 7;

const std::uint8_t* Bytes(std::uint32_t address) { return reinterpret_cast<const std::uint8_t*>(address); }

std::uint32_t ReadValue(std::uint32_t address)
{
    std::uint32_t value = 0;
    std::memcpy(&value, Bytes(address), sizeof value);
    return value;
}

bool Readable(std::uint32_t address, std::uint32_t size) { return IsReadableMemory(Bytes(address), size); }

bool InRange(std::uint8_t value, std::uint8_t low, std::uint8_t high) { return value >= low && value <= high; }

// call reg (FF D0..D7) and call [reg] (FF 10..13, 16, 17), two bytes.
bool IsTwoByteCall(const std::uint8_t* at)
{
    return at[0] == 0xFF && (InRange(at[1], 0xD0, 0xD7) || InRange(at[1], 0x10, 0x13) || at[1] == 0x16 ||
                             at[1] == 0x17);
}

// call [reg+disp] without esp as base: 50..53, 55..57 (disp8) or 90..93, 95..97 (disp32).
bool IsRegisterDisplacementCall(const std::uint8_t* at, std::uint8_t firstModRm)
{
    return at[0] == 0xFF && InRange(at[1], firstModRm, firstModRm + 7) && at[1] != firstModRm + 4;
}

bool HasProcedure(const TOspreyDebugInfo& entry)
{
    return entry.DebugDetail == ddProcedure || entry.DebugDetail == ddUnitAndProcedure ||
           entry.DebugDetail == ddSourceCode;
}

TOspreyModuleInfo* OwnModuleOf(TOspreyStackList& list, std::uint32_t address)
{
    HMODULE module = nullptr;
    if (!::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              reinterpret_cast<LPCSTR>(address), &module) ||
        module == nullptr)
        return nullptr;
    if (TOspreyModuleInfo* known = list.OwnModules.FindByHandle(module)) return known;
    auto info = std::make_unique<TOspreyModuleInfo>();
    info->Handle = module;
    char name[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameA(module, name, MAX_PATH);
    info->Name.assign(name, length < MAX_PATH ? length : 0);
    return list.OwnModules.Add(std::move(info));
}

// The entry a scan would add at `address`, before the keep rules.
std::unique_ptr<TOspreyDebugInfo> DescribeEntry(TOspreyStackList& list, std::uint32_t address, bool isErrorLine,
                                                const TOspreyScanSettings& settings)
{
    auto entry = std::make_unique<TOspreyDebugInfo>();
    const StackAddressLookup lookup = g_lookup.load();
    if (settings.GetDebugInfo && lookup != nullptr) {
        lookup(reinterpret_cast<const void*>(address), settings.ThreadID, *entry, isErrorLine, settings.RunningThread);
        return entry;
    }
    entry->DebugDetail = ddModule;
    entry->RunningThread = settings.RunningThread;
    entry->ErrorLine = isErrorLine;
    entry->IsALeak = false;
    entry->ThreadID = settings.ThreadID;
    entry->Addr = address;
    entry->ModuleInfo = OwnModuleOf(list, address);
    return entry;
}

bool SameRoutine(const TOspreyDebugInfo& a, const TOspreyDebugInfo& b)
{
    return a.UnitName == b.UnitName && a.ClassName == b.ClassName && a.ProcedureName == b.ProcedureName;
}

// An address found twice close together in one module is one return address.
void DropRepeatedAddresses(TOspreyStackList& list, int firstNewIndex)
{
    for (int i = list.Count() - 2; i >= firstNewIndex && i >= 0; --i) {
        TOspreyDebugInfo& entry = *list[i];
        if (!HasProcedure(entry)) continue;
        int compared = 0;
        for (int j = i + 1; j < list.Count() && compared < 2; ++j) {
            const TOspreyDebugInfo& next = *list[j];
            if (!HasProcedure(next) || next.ModuleInfo != entry.ModuleInfo) continue;
            ++compared;
            if (next.Addr == entry.Addr) {
                entry.DebugDetail = ddNone;
                break;
            }
        }
    }
}

// A called routine shown from its first line was reached from the last
// place its own body appears above it; what lies between is stale stack.
void DropStaleEntriesBeforeCallTargets(TOspreyStackList& list)
{
    for (int e = list.Count() - 1; e >= 1; --e) {
        const TOspreyDebugInfo& target = *list[e];
        if (target.DebugDetail != ddSourceCode || target.ProcOffsetLine != 0) continue;
        const auto passes = [&](const TOspreyDebugInfo& entry) {
            return entry.ThreadID == target.ThreadID && entry.RunningThread == target.RunningThread &&
                   (!SameRoutine(entry, target) || entry.ProcOffsetLine == 0);
        };
        int k = e - 1;
        while (k > 0 && passes(*list[k])) --k;
        if (passes(*list[k])) continue;
        for (int between = k + 1; between < e; ++between) list[between]->DebugDetail = ddNone;
    }
}

} // namespace

void SetStackAddressLookup(StackAddressLookup lookup) noexcept { g_lookup.store(lookup); }

std::uint32_t RecognizeCallBefore(std::uint32_t v, bool followCallTargets, std::uint32_t& callTarget)
{
    callTarget = 0;
    if (v < LongestCallBytes || !Readable(v - LongestCallBytes, LongestCallBytes)) return 0;
    const std::uint8_t* before = Bytes(v);
    if (before[-5] == 0xE8) {
        std::int32_t displacement = 0;
        std::memcpy(&displacement, before - 4, sizeof displacement);
        const auto target = reinterpret_cast<std::uint32_t>(
            ResolveImportThunk(reinterpret_cast<const void*>(v + static_cast<std::uint32_t>(displacement))));
        if (Readable(target, 1)) {
            if (followCallTargets && Bytes(target)[0] != 0xE8) callTarget = target;
            return v - 5;
        }
    }
    if (IsTwoByteCall(before - 2)) return v - 2;
    if (IsRegisterDisplacementCall(before - 3, 0x50) && (before[-5] == 0x8B || before[-6] == 0x8B)) return v - 3;
    if (IsRegisterDisplacementCall(before - 6, 0x90)) return v - 6;
    if (before[-3] == 0xFF && before[-2] == 0x14 && before[-1] == 0x24) return v - 3;
    if (before[-4] == 0xFF && before[-3] == 0x54 && before[-2] == 0x24) return v - 4;
    if (before[-7] == 0xFF && before[-6] == 0x94 && before[-5] == 0x24) return v - 7;
    if (before[-6] == 0xFF && before[-5] == 0x15) {
        const std::uint32_t cell = ReadValue(v - 4);
        if (Readable(cell, 4) && Readable(ReadValue(cell), 1)) return v - 6;
    }
    return 0;
}

std::unique_ptr<TOspreyStackList> BuildRawCallStack(const void* address, std::uint32_t start, std::uint32_t top,
                                                    std::uint32_t threadId)
{
    auto list = std::make_unique<TOspreyStackList>();
    TOspreyScanSettings settings;
    settings.FollowCallTargets = true;
    settings.GetDebugInfo = true;
    settings.RunningThread = true;
    settings.ThreadID = threadId;
    ScanStackForCalls(*list, address, start, settings, top);
    return list;
}

void ScanStackForCalls(TOspreyStackList& list, const void* address, std::uint32_t start,
                       TOspreyScanSettings& settings, std::uint32_t top)
{
    const int firstNewIndex = list.Count();
    if (address != nullptr) AddStackEntry(list, reinterpret_cast<std::uint32_t>(address), true, settings);
    if (top > start && top - start > MaxScannedStackBytes) top = start + MaxScannedStackBytes;
    std::uint32_t readableEnd = start; // positions below it are known readable
    for (std::uint32_t p = start; top >= 4 && p <= top - 4 && p >= start; p += 4) {
        if (p + 4 > readableEnd) {
            if (Readable(p, ReadableBlockBytes)) readableEnd = p + ReadableBlockBytes;
            else if (Readable(p, 4)) readableEnd = p + 4;
            else continue;
        }
        std::uint32_t target = 0;
        const std::uint32_t call = RecognizeCallBefore(ReadValue(p), settings.FollowCallTargets, target);
        if (call == 0) continue;
        if (target != 0) AddStackEntry(list, target, false, settings);
        AddStackEntry(list, call, false, settings);
    }
    CleanCallStack(list, firstNewIndex, settings);
}

void AddStackEntry(TOspreyStackList& list, std::uint32_t address, bool isErrorLine, TOspreyScanSettings& settings)
{
    if (list.Count() > MaxStackEntriesBeforeAdd) return;
    std::unique_ptr<TOspreyDebugInfo> entry = DescribeEntry(list, address, isErrorLine, settings);
    if (!settings.DetailMask.Contains(entry->DebugDetail)) return;
    const int seen = settings.KeptSeen++;
    if (settings.FirstIndex != -1 &&
        (seen < settings.FirstIndex || (settings.MaxCount != -1 && settings.Added >= settings.MaxCount)))
        return;
    list.Add(std::move(entry));
    ++settings.Added;
}

void CleanCallStack(TOspreyStackList& list, int firstNewIndex, const TOspreyScanSettings& settings)
{
    if (IsHostIDE() && settings.GetDebugInfo) {
        for (int i = list.Count() - 1; i >= firstNewIndex && i >= 0; --i) {
            const TOspreyDebugInfo& entry = *list[i];
            if (!HasProcedure(entry) || entry.ProcedureName.find("HandleException") != std::string::npos)
                list.Delete(i);
        }
    }
    DropRepeatedAddresses(list, firstNewIndex);
    DropStaleEntriesBeforeCallTargets(list);
}

void AddCreatorStack(TOspreyStackList& list, const TOspreyThreadInfo& record)
{
    if (!record.CallerStackDump || record.CallerStackDump->empty()) return;
    const auto start = reinterpret_cast<std::uint32_t>(record.CallerStackDump->data());
    TOspreyScanSettings settings;
    settings.FollowCallTargets = true;
    settings.GetDebugInfo = true;
    settings.RunningThread = false;
    settings.ThreadID = record.CallerID;
    ScanStackForCalls(list, nullptr, start, settings, start + static_cast<std::uint32_t>(record.CallerStackDump->size()));
}

} // namespace kv::crashreport
