#pragma once
// What the reporter knows about a code address, a loaded module, a running
// process and an exported function, and the lists that carry them into a
// report: one call stack, the modules of this process, the processes of the
// machine, a module's exports. Every list owns its entries; an entry's address
// never changes while it is in its list (stack entries point at module entries).
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crashreport/core/ECore.h"
#include "crashreport/core/ETypes.h"
#include "platform/DateTime.h"
#include "platform/Stream.h"

namespace kv::crashreport {

// How much is known about an address, from nothing to its source line.
enum TOspreyDebugDetail : std::uint8_t { ddNone, ddModule, ddProcedure, ddUnitAndProcedure, ddSourceCode };
using TOspreyDebugDetails = OptionSet<TOspreyDebugDetail, 5>;

enum TOspreyModuleType : std::uint8_t { mtUnknown, mtMainModule, mtRuntimePackage, mtOSLibrary };

// Short texts of an entry keep at most this many characters.
constexpr std::size_t ShortTextLength = 255;
constexpr std::size_t LeakTypeLength = 64;
std::string ShortText(std::string_view text, std::size_t limit = ShortTextLength);

struct TOspreyModuleInfo;

// One call-stack line or one described address.
struct TOspreyDebugInfo {
    TOspreyDebugDetail DebugDetail = ddNone;
    TOspreyModuleInfo* ModuleInfo = nullptr; // nullptr: the address is in no module
    std::uint32_t ThreadID = 0;
    bool RunningThread = false;
    bool ErrorLine = false;
    bool IsALeak = false;
    std::string LeakType; // at most LeakTypeLength characters
    std::uint32_t LeakSize = 0;
    std::uint32_t LeakCount = 0;
    std::uint32_t Addr = 0;
    std::string UnitName; // the source file name with its extension
    std::string ClassName;
    std::string ProcedureName;
    std::uint32_t Line = 0;
    std::uint32_t ProcOffsetLine = 0;
    std::string CustomMsg;
};

// One exported function of a module.
struct TOspreyFunctionInfo {
    std::string Name;
    const void* Address = nullptr;
    // 0 until measured; 1 for an export that lies below the module's code.
    std::uint32_t Size = 0;
};

// An outside debug-information source of a module (map file, JCL or TD32
// data). Its readers live apart from this unit; until they are linked in,
// no module gets one.
class TELDebugInfoSource;

// What an outside source tells about one address.
struct OutsideLocationInfo {
    std::uint32_t Address = 0;
    std::string UnitName;
    std::string SourceName;
    std::string ProcedureName;
    std::uint32_t LineNumber = 0;
    std::uint32_t ProcOffsetLine = 0;
};

// The entry points of the outside readers, installed by them.
struct OutsideDebugSourceHooks {
    TELDebugInfoSource* (*Create)(HMODULE module) = nullptr;
    void (*Free)(TELDebugInfoSource* source) = nullptr;
    bool (*GetLocationInfo)(TELDebugInfoSource* source, const void* address, OutsideLocationInfo& info) = nullptr;
};
void SetOutsideDebugSourceHooks(const OutsideDebugSourceHooks& hooks) noexcept;
const OutsideDebugSourceHooks& GetOutsideDebugSourceHooks() noexcept;

// Owner of an outside source; frees it through the readers' own entry point.
struct OutsideSourceFree {
    void operator()(TELDebugInfoSource* source) const noexcept;
};
using OutsideSourcePtr = std::unique_ptr<TELDebugInfoSource, OutsideSourceFree>;

// A list that owns its entries, kept in the order the builder chose.
template <class T>
class TOspreyOwnedList {
public:
    TOspreyOwnedList() = default;
    TOspreyOwnedList(const TOspreyOwnedList&) = delete;
    TOspreyOwnedList& operator=(const TOspreyOwnedList&) = delete;
    virtual ~TOspreyOwnedList() = default;

    int Count() const noexcept { return static_cast<int>(items_.size()); }
    bool Empty() const noexcept { return items_.empty(); }
    T* Items(int index) const { return items_.at(static_cast<std::size_t>(index)).get(); }
    T* operator[](int index) const { return Items(index); }
    T* Last() const { return items_.empty() ? nullptr : items_.back().get(); }

    T* Add(std::unique_ptr<T> item)
    {
        items_.push_back(std::move(item));
        return items_.back().get();
    }
    // Frees the entry.
    void Delete(int index) { items_.erase(items_.begin() + index); }
    void Clear() noexcept { items_.clear(); }
    int IndexOf(const T* item) const
    {
        for (std::size_t i = 0; i < items_.size(); ++i)
            if (items_[i].get() == item) return static_cast<int>(i);
        return -1;
    }
    // A stable sort: entries of equal keys keep their order.
    template <class Less>
    void Sort(Less less)
    {
        std::stable_sort(items_.begin(), items_.end(),
                         [&](const std::unique_ptr<T>& a, const std::unique_ptr<T>& b) { return less(*a, *b); });
    }

    auto begin() const noexcept { return items_.begin(); }
    auto end() const noexcept { return items_.end(); }

private:
    std::vector<std::unique_ptr<T>> items_;
};

// A module's exports, in rising order of Address once built.
class TOspreyFunctionsList : public TOspreyOwnedList<TOspreyFunctionInfo> {
public:
    void SortByAddress();
};

// Where one unit record of a module's debug information lies (built on the
// first lookup, so that later ones skip the walk over every unit).
struct TDebugUnitPlace {
    std::uint32_t CodeStart = 0;
    std::uint32_t CodeSize = 0;
    std::uint32_t RecordOffset = 0; // from the start of the debug information
};

struct TOspreyExtraInformation {
    std::uint16_t OspreyVersion = 0;
    TDateTime CompilationDate = 0;
    std::unique_ptr<TOspreyModuleOptions> Options; // created as TOspreyModuleOptionsEx
    std::unique_ptr<MemoryStream> DebugInformation; // nullptr when the module has none
    // The units of DebugInformation in rising order of CodeStart; empty until
    // the first lookup; DebugInformation's owner clears it with the stream.
    std::vector<TDebugUnitPlace> UnitPlaces;
    std::uint32_t LargestUnit = 0;
};

// One loaded module. Freeing it frees its exports, options, debug data and
// outside source.
struct TOspreyModuleInfo {
    HMODULE Handle = nullptr; // = its load address
    std::string Name;         // the full file name
    std::string Description;  // the version resource's FileDescription
    std::string Version;      // "major.minor.release.build"; empty when absent
    std::uint32_t Size = 0;   // the file's size; 0 when the file is not found
    TOspreyFunctionsList FunctionsList;
    TOspreyModuleType ModuleType = mtUnknown;
    TOspreyExtraInformation ExtraInformation;
    OutsideSourcePtr OtherDebugData;
    TDateTime LastModified = 0;
    std::string EncryptPassword;
    bool IsValidEncryptPassword = true;
};

// One process of the machine.
struct TOspreyProcessInfo {
    std::uint32_t ProcessID = 0;
    std::string Name; // the full path, or the executable name when no path is known
    std::string Description;
    std::string Version;
    std::uint32_t Priority = 0; // a priority class; 0 when not known
    std::uint32_t Memory = 0;   // working set in bytes; 0 when not measured
    std::uint32_t Threads = 0;
};

class TOspreyModulesList : public TOspreyOwnedList<TOspreyModuleInfo> {
public:
    TOspreyModuleInfo* FindByHandle(HMODULE handle) const;
    // Rising, unsigned order of Handle.
    void SortByHandle();
};

// One call stack, one entry per line.
class TOspreyStackList : public TOspreyOwnedList<TOspreyDebugInfo> {
public:
    // A new entry with the source's detail, module, address, names and line;
    // its other fields are zero.
    TOspreyDebugInfo* AddFrom(const TOspreyDebugInfo& source);

    // Module records made for entries that know only their module (a scan
    // without the address lookup); they live as long as the list.
    TOspreyModulesList OwnModules;
};

class TOspreyProcessesList : public TOspreyOwnedList<TOspreyProcessInfo> {
public:
    // Rising, unsigned order of ProcessID.
    void SortByProcessID();
    // The index of the process, by binary search of a sorted list; -1 when absent.
    int FindProcessID(std::uint32_t processId) const;
};

} // namespace kv::crashreport
