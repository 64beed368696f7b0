#pragma once
// One 32-bit x86 instruction in memory turned into one line of Intel-syntax
// text: a template per opcode, expanded while the prefix, ModRM, SIB,
// displacement and immediate bytes are read. The report's assembler listing
// replaces addresses and targets through the callbacks.
#include <cstddef>
#include <cstdint>
#include <string>

namespace kv::crashreport {

enum class TRegister : std::uint8_t { rEax, rEcx, rEdx, rEbx, rEsp, rEbp, rEsi, rEdi };

// The memory operand being decoded: a plain register operand has register 1
// with multiplier 1; a SIB operand has the index (with its scale) as
// register 1 and the base as register 2. Multiplier 0 means no register.
struct TdaRef {
    std::uint32_t MultiplyReg1 = 0;
    TRegister ARegister1 = TRegister::rEax;
    std::uint32_t MultiplyReg2 = 0;
    TRegister ARegister2 = TRegister::rEax;
    std::uint32_t Immidiate = 0;
};

// Each callback receives, and may replace, the operand text made so far.
using TJumpInstrProc = void (*)(void* param, std::uintptr_t valueAddress, std::uintptr_t jumpAddress,
                                std::string& text);
using TCallInstrProc = void (*)(void* param, std::uintptr_t valueAddress, std::uintptr_t callAddress,
                                std::string& text);
using TAddressRefProc = void (*)(void* param, std::uintptr_t valueAddress, std::uintptr_t refAddress,
                                 std::string& text);
using TRefProc = void (*)(void* param, const TdaRef& ref, int refSize, std::string& text);
using TImmidiateDataProc = void (*)(void* param, std::uintptr_t valueAddress, int operandSize, bool sigend,
                                    std::string& text);

class TDisAsm {
public:
    TJumpInstrProc OnJumpInstr = nullptr;
    TCallInstrProc OnCallInstr = nullptr;
    TAddressRefProc OnAddressRef = nullptr;
    TRefProc OnRef = nullptr;
    TImmidiateDataProc OnImmidiateData = nullptr;
    void* Param = nullptr;

    // Decodes the instruction at address; size receives the bytes it took.
    // Reads stop at unreadable memory and after the architectural 15 bytes:
    // such an instruction reads "???" and takes the bytes read.
    std::string GetInstruction(const void* address, std::size_t& size);

private:
    struct State;
};

} // namespace kv::crashreport
