#include "crashreport/core/EHook.h"

#include <atomic>
#include <cstring>
#include <exception>
#include <memory>
#include <stdexcept>

#include "crashreport/core/ECommon.h"
#include "crashreport/core/EErrors.h"
#include "crashreport/core/ESystem.h"
#include "platform/Format.h"
#include "platform/Handles.h"
#include "platform/TextCodec.h"

namespace kv::crashreport {

// The replaced virtual method slots, with the procedures they held.
class THookedMethodsList {
public:
    THookedMethodsList() { ::InitializeCriticalSection(&FLock); }
    ~THookedMethodsList();
    THookedMethodsList(const THookedMethodsList&) = delete;
    THookedMethodsList& operator=(const THookedMethodsList&) = delete;

    void* Hook(void* vmt, int slot, void* newProc);
    bool Unhook(void* vmt, int slot);

private:
    struct Record {
        void* Vmt;
        void* Original;
        int Slot;
    };
    class Locked {
    public:
        explicit Locked(CRITICAL_SECTION& lock) : lock_(lock) { ::EnterCriticalSection(&lock_); }
        ~Locked() { ::LeaveCriticalSection(&lock_); }
        Locked(const Locked&) = delete;
        Locked& operator=(const Locked&) = delete;

    private:
        CRITICAL_SECTION& lock_;
    };

    std::vector<Record>::iterator Find(void* vmt, int slot);
    static void WriteSlot(void** slotAddress, void* value);

    CRITICAL_SECTION FLock;
    std::vector<Record> records_;
};

namespace {

constexpr std::size_t kJumpSize = 5;
constexpr std::size_t kMaxInstruction = 15;
constexpr std::uintptr_t kSharedAreaStart = 0x80000000u;

// One detour: the target's first bytes as they were, and the trampoline.
struct DetourRecord {
    std::uint8_t* Target = nullptr;
    VirtualMemory<> Trampoline;
    std::size_t TrampolineSize = 0;
    std::vector<std::uint8_t> SavedBytes;
    const void* NewProc = nullptr;
};

std::atomic<std::vector<TSaveDLLProc>*> PatchedImports{nullptr};
std::atomic<THookedMethodsList*> HookedMethods{nullptr};
std::atomic<std::vector<DetourRecord>*> HookedProcedures{nullptr};

std::string AddressText(const void* address)
{
    return Format("%.8X", {static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(address))});
}

HMODULE ModuleAt(const void* address)
{
    HMODULE module = nullptr;
    ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         static_cast<LPCSTR>(address), &module);
    return module;
}

std::string ModuleFileNameAt(const void* address)
{
    const HMODULE module = ModuleAt(address);
    return module ? GetModuleFullName(module) : std::string();
}

bool InSharedArea(const void* address)
{
    return RunningOnWindows9x() && reinterpret_cast<std::uintptr_t>(address) >= kSharedAreaStart;
}


// ---- Import tables

// A Windows 9x system call stub: push imm32; jmp rel32.
bool IsSystemCallStub(const void* code)
{
    const auto* bytes = static_cast<const std::uint8_t*>(code);
    return IsReadableMemory(bytes, 6) && bytes[0] == 0x68 && bytes[5] == 0xE9;
}

bool ImportEntryMatches(const void* entry, const void* oldProc, bool byStubValue)
{
    if (!byStubValue) return entry == oldProc;
    const auto* bytes = static_cast<const std::uint8_t*>(entry);
    return IsReadableMemory(bytes, 5) && bytes[0] == 0x68 &&
           std::memcmp(bytes + 1, static_cast<const std::uint8_t*>(oldProc) + 1, 4) == 0;
}

bool SameDllName(const char* importName, std::string_view dllName)
{
    const std::size_t readable = ReadableSize(importName, MAX_PATH);
    const std::size_t length = strnlen(importName, readable);
    return length < readable && UpperCaseText(std::string_view(importName, length)) == UpperCaseText(dllName);
}

const IMAGE_IMPORT_DESCRIPTOR* ImportDirectory(HMODULE module)
{
    const IMAGE_NT_HEADERS32* headers = GetPEHeaders(module);
    if (!headers || headers->OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_IMPORT) return nullptr;
    const IMAGE_DATA_DIRECTORY& directory = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0 || directory.Size == 0) return nullptr;
    return reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(reinterpret_cast<const std::uint8_t*>(module) +
                                                            directory.VirtualAddress);
}

// ---- Detours

bool IsShortJump(const InstructionShape& shape)
{
    if (shape.TwoByte || shape.Length == 0) return false;
    const std::uint8_t op = shape.Opcode;
    return (op >= 0x70 && op <= 0x7F) || (op >= 0xE0 && op <= 0xE3) || op == 0xEB;
}

bool IsNearRelative(const InstructionShape& shape)
{
    if (shape.Length == 0) return false;
    return shape.TwoByte ? (shape.Opcode >= 0x80 && shape.Opcode <= 0x8F)
                         : (shape.Opcode == 0xE8 || shape.Opcode == 0xE9);
}

// The absolute destination of a relative branch whose displacement ends the
// instruction at `code`.
std::uintptr_t BranchDestination(const std::uint8_t* code, const InstructionShape& shape)
{
    const std::uintptr_t next = reinterpret_cast<std::uintptr_t>(code) + static_cast<std::uintptr_t>(shape.Length);
    if (IsShortJump(shape)) return next + static_cast<std::uintptr_t>(static_cast<std::int8_t>(code[shape.Length - 1]));
    std::int32_t displacement = 0;
    std::memcpy(&displacement, code + shape.Length - 4, 4);
    return next + static_cast<std::uintptr_t>(displacement);
}

struct CoveredInstruction {
    InstructionShape Shape;
    std::size_t Size;
};

struct CoveredCode {
    std::vector<CoveredInstruction> Instructions;
    std::size_t Size = 0;
};

// Whole instructions from the target until a jump fits; a byte that is no
// instruction counts as one.
CoveredCode DecodeCoveredCode(const std::uint8_t* target)
{
    const std::size_t readable = ReadableSize(target, kJumpSize - 1 + kMaxInstruction);
    CoveredCode covered;
    while (covered.Size < kJumpSize) {
        if (covered.Size >= readable) throw std::runtime_error("target not readable");
        InstructionShape shape;
        std::size_t length;
        if (DecodeInstruction(target + covered.Size, readable - covered.Size, shape)) {
            length = static_cast<std::size_t>(shape.Length);
        } else {
            shape = InstructionShape{}; // Length 0: copied as it is, never relocated
            length = 1;
        }
        // A 16-bit branch cannot be moved: it would cut EIP to 16 bits.
        if ((IsShortJump(shape) || IsNearRelative(shape)) && shape.OperandSizePrefix)
            throw std::runtime_error("16-bit branch in the covered code");
        covered.Instructions.push_back({shape, length});
        covered.Size += length;
    }
    return covered;
}

bool OutsideCovered(std::uintptr_t destination, const std::uint8_t* target, std::size_t size)
{
    const auto start = reinterpret_cast<std::uintptr_t>(target);
    return destination < start || destination > start + size;
}

// The bytes of a jump that, placed at `at`, goes to `to`.
void PutJump(std::uint8_t* bytes, const std::uint8_t* at, std::uintptr_t to)
{
    bytes[0] = 0xE9;
    const auto displacement = static_cast<std::int32_t>(to - reinterpret_cast<std::uintptr_t>(at) - kJumpSize);
    std::memcpy(bytes + 1, &displacement, 4);
}

void PutJump(std::uint8_t* at, std::uintptr_t to) { PutJump(at, at, to); }

// The covered instructions moved into the trampoline, each branch still
// reaching its old destination; short jumps that leave the covered range go
// through 5-byte jumps appended after the closing jump.
VirtualMemory<> BuildTrampoline(std::uint8_t* target, const CoveredCode& covered, std::size_t& size)
{
    std::size_t outsideShortJumps = 0;
    std::size_t at = 0;
    for (const auto& [shape, length] : covered.Instructions) {
        if (IsShortJump(shape) && OutsideCovered(BranchDestination(target + at, shape), target, covered.Size))
            ++outsideShortJumps;
        at += length;
    }
    size = covered.Size + kJumpSize * outsideShortJumps + kJumpSize;
    VirtualMemory<> trampoline(static_cast<std::uint8_t*>(
        ::VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE)));
    if (!trampoline) throw std::runtime_error("no memory for the trampoline");
    std::uint8_t* code = trampoline.Get();
    std::memcpy(code, target, covered.Size);

    std::size_t nextAddedJump = covered.Size + kJumpSize;
    at = 0;
    for (const auto& [shape, length] : covered.Instructions) {
        std::uint8_t* moved = code + at;
        if (!IsShortJump(shape) && !IsNearRelative(shape)) {
            at += length;
            continue;
        }
        const std::uintptr_t destination = BranchDestination(target + at, shape);
        const bool outside = OutsideCovered(destination, target, covered.Size);
        if (IsShortJump(shape) && outside) {
            PutJump(code + nextAddedJump, destination);
            moved[shape.Length - 1] = static_cast<std::uint8_t>(nextAddedJump - at - static_cast<std::size_t>(shape.Length));
            nextAddedJump += kJumpSize;
        } else if (IsNearRelative(shape) && outside) {
            const std::uintptr_t next = reinterpret_cast<std::uintptr_t>(moved) + static_cast<std::uintptr_t>(shape.Length);
            const auto displacement = static_cast<std::int32_t>(destination - next);
            std::memcpy(moved + shape.Length - 4, &displacement, 4);
        }
        at += length;
    }
    PutJump(code + covered.Size, reinterpret_cast<std::uintptr_t>(target) + covered.Size);
    ::FlushInstructionCache(::GetCurrentProcess(), code, size);
    return trampoline;
}

void* BuildDetour(std::uint8_t* target, const void* newProc)
{
    std::vector<DetourRecord>* detours = HookedProcedures.load();
    if (!detours) throw std::runtime_error("hook unit not started");
    for (const DetourRecord& record : *detours) {
        if (record.Target != target) continue;
        if (record.NewProc == newProc) return record.Trampoline.Get();
        // A second diversion would be silently lost behind the first one.
        throw std::runtime_error("target already detoured elsewhere");
    }
    const CoveredCode covered = DecodeCoveredCode(target);
    DetourRecord record;
    record.Target = target;
    record.SavedBytes.assign(target, target + covered.Size);
    record.NewProc = newProc;
    VirtualMemory<> trampoline = BuildTrampoline(target, covered, record.TrampolineSize);
    detours->reserve(detours->size() + 1);
    // The target is written last: every failure before leaves it intact.
    WriteJump(target, newProc);
    record.Trampoline = std::move(trampoline);
    detours->push_back(std::move(record));
    return detours->back().Trampoline.Get();
}

// The trampoline goes with the record, unless the target could not be
// restored: then calls still pass through it.
void UndoDetour(DetourRecord& record)
{
    try {
        WriteCode(record.Target, record.SavedBytes.data(), record.SavedBytes.size());
    } catch (...) {
        record.Trampoline.Release();
        throw;
    }
}

// ---- The unit's start and end

void StartHookUnit()
{
    if (PatchedImports.load()) return;
    HookedProcedures.store(new std::vector<DetourRecord>);
    HookedMethods.store(new THookedMethodsList);
    PatchedImports.store(new std::vector<TSaveDLLProc>);
}

// Every undo is tried even after one fails (its memory gone with an unloaded
// module); the first failure is raised when all are done.
class UndoSteps {
public:
    template <class Step>
    void Run(Step&& step)
    {
        try {
            step();
        } catch (...) {
            if (!failure_) failure_ = std::current_exception();
        }
    }
    void RaiseFirstFailure() const
    {
        if (failure_) std::rethrow_exception(failure_);
    }

private:
    std::exception_ptr failure_;
};

void EndHookUnit()
{
    UndoSteps steps;
    if (std::unique_ptr<std::vector<TSaveDLLProc>> imports{PatchedImports.exchange(nullptr)}) {
        for (const TSaveDLLProc& patch : *imports)
            steps.Run([&] {
                PatchImportTable(reinterpret_cast<HMODULE>(patch.HookModule), patch.ExportModule, patch.NewProc, true,
                                 true, std::string_view(), patch.OldProc);
            });
    }
    steps.Run([] { delete HookedMethods.exchange(nullptr); });
    if (std::unique_ptr<std::vector<DetourRecord>> detours{HookedProcedures.exchange(nullptr)}) {
        for (auto record = detours->rbegin(); record != detours->rend(); ++record)
            steps.Run([&] { UndoDetour(*record); });
    }
    steps.RaiseFirstFailure();
}

} // namespace

// ---- Failures

EProcNull::EProcNull(std::string_view name)
    : EHookError(AnsiToWide(Format("Cannot hook a null procedure (\"%s\").", {name})))
{
}

EHookingError::EHookingError(std::string_view name)
    : EHookError(AnsiToWide(Format("Cannot hook the procedure \"%s\".", {name})))
{
}

ESharedArea::ESharedArea(std::string_view moduleFileName)
    : EHookError(AnsiToWide(Format("Cannot hook the module \"%s\" located into the shared-area.", {moduleFileName})))
{
}

// ---- Writing code

void WriteCode(void* address, const void* source, std::size_t count)
{
    DWORD oldProtection = 0;
    if (!::VirtualProtect(address, count, PAGE_EXECUTE_READWRITE, &oldProtection))
        throw EHookingError(AddressText(address));
    std::memcpy(address, source, count);
    DWORD ignored = 0;
    ::VirtualProtect(address, count, oldProtection, &ignored);
    ::FlushInstructionCache(::GetCurrentProcess(), address, count);
}

void WriteJump(void* at, const void* to)
{
    std::uint8_t jump[kJumpSize];
    PutJump(jump, static_cast<std::uint8_t*>(at), reinterpret_cast<std::uintptr_t>(to));
    WriteCode(at, jump, sizeof jump);
}

const IMAGE_NT_HEADERS32* GetPEHeaders(const void* moduleBase)
{
    const auto* base = static_cast<const std::uint8_t*>(moduleBase);
    if (!IsReadableMemory(base, sizeof(IMAGE_DOS_HEADER))) return nullptr;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew == 0) return nullptr;
    const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    if (!IsReadableMemory(headers, sizeof(IMAGE_NT_HEADERS32)) || headers->Signature != IMAGE_NT_SIGNATURE)
        return nullptr;
    return headers;
}

// ---- Import tables

const void* PatchImportTable(HMODULE module, std::string_view dllName, const void* oldProc, bool restoring,
                             bool quiet, std::string_view name, const void* newProc)
{
    if (!oldProc) throw EProcNull(name);
    if (InSharedArea(module)) throw ESharedArea(GetModuleFullName(module));
    std::vector<TSaveDLLProc>* patches = PatchedImports.load();
    if (!restoring && !patches) throw EHookingError(name);
    const bool byStubValue = RunningOnWindows9x() && IsSystemCallStub(oldProc);
    const IMAGE_IMPORT_DESCRIPTOR* descriptor = ImportDirectory(module);
    if (!descriptor) {
        if (!quiet) throw EHookingError(name);
        return nullptr;
    }
    auto* base = reinterpret_cast<std::uint8_t*>(module);
    bool patched = false;
    for (; IsReadableMemory(descriptor, sizeof *descriptor) && descriptor->Name != 0; ++descriptor) {
        if (descriptor->FirstThunk == 0 ||
            !SameDllName(reinterpret_cast<const char*>(base + descriptor->Name), dllName))
            continue;
        for (auto* entry = reinterpret_cast<const void**>(base + descriptor->FirstThunk);
             IsReadableMemory(entry, sizeof *entry) && *entry != nullptr; ++entry) {
            if (!ImportEntryMatches(*entry, oldProc, byStubValue)) continue;
            if (!restoring) patches->reserve(patches->size() + 1);
            WriteCode(entry, &newProc, sizeof newProc);
            if (!restoring)
                patches->push_back({reinterpret_cast<std::uintptr_t>(module), std::string(dllName), oldProc, newProc});
            patched = true;
        }
    }
    if (!patched && !quiet) throw EHookingError(name);
    return patched ? oldProc : nullptr;
}

bool HookProcByName(const std::vector<std::string>& modules, std::string_view dllName, bool quiet,
                    const void*& original, const void* newProc, std::string_view procName)
{
    const HMODULE dll = ::GetModuleHandleA(std::string(dllName).c_str());
    original = dll ? reinterpret_cast<const void*>(::GetProcAddress(dll, std::string(procName).c_str())) : nullptr;
    const std::string displayName = std::string(dllName) + "." + std::string(procName);
    bool patchedAny = false;
    for (const std::string& moduleName : modules) {
        const HMODULE module = moduleName.empty() ? nullptr : ::GetModuleHandleA(moduleName.c_str());
        if (!module) continue;
        if (PatchImportTable(module, dllName, original, false, quiet, displayName, newProc)) patchedAny = true;
    }
    return patchedAny;
}

std::vector<TSaveDLLProc> PatchedImportsSnapshot()
{
    const std::vector<TSaveDLLProc>* patches = PatchedImports.load();
    return patches ? *patches : std::vector<TSaveDLLProc>();
}

// ---- Virtual method slots

THookedMethodsList::~THookedMethodsList()
{
    {
        Locked locked(FLock);
        while (!records_.empty()) {
            const Record first = records_.front();
            records_.erase(records_.begin());
            try {
                WriteSlot(static_cast<void**>(first.Vmt) + first.Slot, first.Original);
            } catch (const EHookError&) {
                // The table went with its module: nothing left to restore.
            }
        }
    }
    ::DeleteCriticalSection(&FLock);
}

std::vector<THookedMethodsList::Record>::iterator THookedMethodsList::Find(void* vmt, int slot)
{
    for (auto record = records_.begin(); record != records_.end(); ++record)
        if (record->Vmt == vmt && record->Slot == slot) return record;
    return records_.end();
}

// Only a table inside a loaded module is written: anything else is not a
// class's method table.
void THookedMethodsList::WriteSlot(void** slotAddress, void* value)
{
    if (ModuleAt(slotAddress)) WriteCode(slotAddress, &value, sizeof value);
}

void* THookedMethodsList::Hook(void* vmt, int slot, void* newProc)
{
    Locked locked(FLock);
    void** slotAddress = static_cast<void**>(vmt) + slot;
    if (!IsReadableMemory(slotAddress, sizeof *slotAddress)) throw EHookingError(AddressText(slotAddress));
    void* current = *slotAddress;
    if (current == newProc) {
        const auto record = Find(vmt, slot);
        return record == records_.end() ? nullptr : record->Original;
    }
    records_.reserve(records_.size() + 1);
    WriteSlot(slotAddress, newProc);
    records_.push_back({vmt, current, slot});
    return current;
}

bool THookedMethodsList::Unhook(void* vmt, int slot)
{
    Locked locked(FLock);
    const auto record = Find(vmt, slot);
    if (record == records_.end()) return false;
    WriteSlot(static_cast<void**>(vmt) + slot, record->Original);
    records_.erase(record);
    return true;
}

void* HookVMTSlot(void* vmt, int slot, void* newProc)
{
    THookedMethodsList* list = HookedMethods.load();
    return list ? list->Hook(vmt, slot, newProc) : nullptr;
}

bool UnhookVMTSlot(void* vmt, int slot)
{
    THookedMethodsList* list = HookedMethods.load();
    return list && list->Unhook(vmt, slot);
}

// ---- Detours

void* HookProcedure(void* target, void* newProc, std::string_view name)
{
    auto* code = static_cast<std::uint8_t*>(const_cast<void*>(ResolveImportThunk(target)));
    newProc = const_cast<void*>(ResolveImportThunk(newProc));
    if (!code || !newProc) throw EProcNull(name);
    if (InSharedArea(code)) throw ESharedArea(ModuleFileNameAt(code));
    try {
        return BuildDetour(code, newProc);
    } catch (...) {
        throw EHookingError(name);
    }
}

bool UnhookProcedure(void* address)
{
    std::vector<DetourRecord>* detours = HookedProcedures.load();
    if (!detours) return false;
    bool undone = false;
    for (auto record = detours->begin(); record != detours->end();) {
        if (record->Target == address || record->Trampoline.Get() == address) {
            UndoDetour(*record);
            record = detours->erase(record);
            undone = true;
        } else {
            ++record;
        }
    }
    return undone;
}

// ---- The unit's start and end

void InitializeHookUnit() { GuardedCall(&StartHookUnit, "EHook.Init"); }

void FinalizeHookUnit() { GuardedCall(&EndHookUnit, "EHook.Done"); }

bool HookUnitActive() noexcept { return PatchedImports.load() != nullptr; }

} // namespace kv::crashreport
