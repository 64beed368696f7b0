#pragma once
// The reporter's three ways of diverting running code to its own: a slot of a
// class's virtual method table, an entry of a module's import address table,
// and a detour (a jump over the start of a procedure, the moved instructions
// kept in a trampoline through which the original still runs). Every change
// has an undo record, so that the end of the unit restores the process byte
// for byte. The IA-32 instruction-length decoder that detours, the assembler
// listing and procedure sizes rely on lives here too.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Exceptions.h"

namespace kv::crashreport {

// ---- Failures

class EHookError : public Exception {
public:
    using Exception::Exception;
};

// A null procedure given to hook.
class EProcNull : public EHookError {
public:
    explicit EProcNull(std::string_view name);
};

// The hook could not be made; the target is left as it was.
class EHookingError : public EHookError {
public:
    explicit EHookingError(std::string_view name);
};

// Windows 9x: code at or above 2 GB is shared by every process and is never
// patched.
class ESharedArea : public EHookError {
public:
    explicit ESharedArea(std::string_view moduleFileName);
};

// ---- Writing code

// Copies `count` bytes into code memory: the protection of exactly that range
// is lifted and always restored, and the instruction cache flushed. A range
// whose protection cannot be changed throws EHookingError and is not touched.
void WriteCode(void* address, const void* source, std::size_t count);
// A 5-byte relative jump (E9, To - At - 5) at `at`.
void WriteJump(void* at, const void* to);

// The PE headers of a loaded module ("MZ" with a header offset, then "PE\0\0"
// and the 248 bytes of the 32-bit headers readable); nullptr otherwise.
const IMAGE_NT_HEADERS32* GetPEHeaders(const void* moduleBase);

// ---- Import tables

// Points every import entry of `module` that imports `oldProc` from `dllName`
// at `newProc`, and records each patch for the unit's end unless `restoring`.
// Returns `oldProc` when at least one entry was patched, else nullptr (then,
// unless `quiet`, throws EHookingError with `name`). A null `oldProc` throws
// EProcNull. On Windows 9x, `oldProc` may be a system call stub (push imm32;
// jmp), matched by its pushed value.
const void* PatchImportTable(HMODULE module, std::string_view dllName, const void* oldProc, bool restoring,
                             bool quiet, std::string_view name, const void* newProc);
// Patches the imports of `procName` from `dllName` in every loaded module of
// `modules`; `original` receives the procedure as the DLL exports it. True
// when any module was patched.
bool HookProcByName(const std::vector<std::string>& modules, std::string_view dllName, bool quiet,
                    const void*& original, const void* newProc, std::string_view procName);

// One import patch, as the unit's end undoes it.
struct TSaveDLLProc {
    std::uintptr_t HookModule = 0;
    std::string ExportModule;
    const void* OldProc = nullptr;
    const void* NewProc = nullptr;
};
// The patches made so far, in order (empty before the unit starts).
std::vector<TSaveDLLProc> PatchedImportsSnapshot();

// ---- Virtual method slots
// A slot is counted in pointers from the address the object's vptr holds (0
// is the first virtual function; the type_info lies at -1). Replacements for
// methods are __thiscall functions taking the object first.

// The original procedure of the slot (nullptr before the unit starts or after
// it ends). The slot is written only when it lies inside a loaded module.
void* HookVMTSlot(void* vmt, int slot, void* newProc);
// True when the slot had been hooked and is now restored.
bool UnhookVMTSlot(void* vmt, int slot);

// ---- Detours
// Targets of our own that are meant to be detoured are declared
// __attribute__((noinline, ms_hook_prologue)): a 5-byte prologue
// (8B FF 55 8B EC) that is whole instructions.

// Diverts `target` to `newProc` and returns the trampoline through which the
// original runs. Both are first followed through an import thunk. Hooking a
// target again with the same `newProc` gives the same trampoline; another
// `newProc` throws EHookingError, and so does any failure while building (the
// target is written only as the last step).
void* HookProcedure(void* target, void* newProc, std::string_view name);
// Undoes every detour whose target or trampoline is `address`.
bool UnhookProcedure(void* address);

// ---- Instruction lengths

// The length of the IA-32 instruction at `code`, prefixes included; false
// when the bytes are no instruction a processor would decode.
bool GetInstructionLength(const void* code, int& length);
// The same over a buffer of `available` bytes: false also when the
// instruction does not fit.
bool GetInstructionLength(const void* code, std::size_t available, int& length);

// What the decoder found: the opcode after the prefixes (second byte of a 0F
// opcode), where it starts, and the prefixes that change sizes.
struct InstructionShape {
    int Length = 0;
    int OpcodeOffset = 0;
    std::uint8_t Opcode = 0;
    bool TwoByte = false;
    bool OperandSizePrefix = false;
    bool AddressSizePrefix = false;
};
bool DecodeInstruction(const void* code, std::size_t available, InstructionShape& shape);

// Bytes from `code` up to and including the first return instruction (C2, C3,
// CA, CB) within `maximum` bytes; 1 when there is none.
int CodeSizeToReturn(const void* code, int maximum);

// ---- The unit's start and end
// Start: the three undo lists. End (under GuardedCall "EHook.Done"): import
// patches in order, then the method slots, then the detours last to first.
void InitializeHookUnit();
void FinalizeHookUnit();
bool HookUnitActive() noexcept;

} // namespace kv::crashreport
