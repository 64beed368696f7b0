// The IA-32 instruction-length decoder of EHook: general-purpose, x87, MMX
// and SSE instructions (the 0F 38 and 0F 3A maps included). Detours, the
// assembler listing and procedure sizes only ever walk whole instructions,
// so lengths are all it knows.
#include <algorithm>

#include "crashreport/core/EHook.h"
#include "crashreport/core/ESystem.h"

namespace kv::crashreport {
namespace {

constexpr int kMaxInstruction = 15;

// Length classes, one hexadecimal digit per opcode.
enum LengthClass : std::uint8_t {
    lcPrefixOrEscape = 0x0, // consumed before the table is read
    lcOpcodeOnly = 0x1,
    lcImm8 = 0x2,           // also rel8 and the fixed register byte of 0F 20-23
    lcImm16 = 0x3,          // RET imm16
    lcEnter = 0x4,          // imm16 + imm8
    lcImmZ = 0x5,           // imm32 / rel32, 2 bytes under 66
    lcMoffs = 0x6,          // a memory offset: 4 bytes, 2 under 67
    lcFarPointer = 0x7,     // ptr16:32, ptr16:16 under 66
    lcModRM = 0xE,
    lcUndecodable = 0xF,
};

// Row = high nibble of the opcode.
constexpr const char* kOneByteClasses[16] = {
    "EEEE2511EEEE2510", // 0x: ADD, OR, PUSH/POP ES CS, 0F escape
    "EEEE2511EEEE2511", // 1x: ADC, SBB
    "EEEE2501EEEE2501", // 2x: AND, SUB, ES: and CS: prefixes, DAA, DAS
    "EEEE2501EEEE2501", // 3x: XOR, CMP, SS: and DS: prefixes, AAA, AAS
    "1111111111111111", // 4x: INC, DEC
    "1111111111111111", // 5x: PUSH, POP
    "11EE00005E2E1111", // 6x: PUSHA, BOUND, ARPL, FS GS 66 67, PUSH, IMUL, INS/OUTS
    "2222222222222222", // 7x: Jcc rel8
    "EEEEEEEEEEEEEEEE", // 8x: group 1, TEST, XCHG, MOV, LEA, POP r/m
    "1111111111711111", // 9x: XCHG, CWDE, CDQ, CALL far, WAIT, PUSHF, SAHF
    "6666111125111111", // Ax: MOV moffs, string instructions, TEST imm
    "2222222255555555", // Bx: MOV reg, imm
    "EE31EEEE41311211", // Cx: shifts, RET, LES, LDS, MOV imm, ENTER, LEAVE, INT
    "EEEE2211EEEEEEEE", // Dx: shifts, AAM, AAD, SALC, XLAT, x87
    "2222222255721111", // Ex: LOOP, JCXZ, IN/OUT, CALL, JMP
    "010011EE111111EE", // Fx: LOCK, INT1, REP, HLT, CMC, groups 3, CLC..STD, groups 4 and 5
};

constexpr const char* kTwoByteClasses[16] = {
    "EEEEF11111F1FE1E", // 0F 0x: system groups, SYSCALL, CLTS, UD2, PREFETCH, FEMMS, 3DNow!
    "EEEEEEEEEEEEEEEE", // 0F 1x: SSE moves, hint NOPs
    "2222FFFFEEEEEEEE", // 0F 2x: MOV CR/DR (register forms only), SSE
    "111111F1EFEFFFFF", // 0F 3x: WRMSR..SYSEXIT, GETSEC, the 38 and 3A maps
    "EEEEEEEEEEEEEEEE", // 0F 4x: CMOVcc
    "EEEEEEEEEEEEEEEE", // 0F 5x: SSE
    "EEEEEEEEEEEEEEEE", // 0F 6x: MMX/SSE
    "EEEEEEE1EEFFEEEE", // 0F 7x: shuffles, shifts by imm8, EMMS, VMREAD/VMWRITE
    "5555555555555555", // 0F 8x: Jcc rel32
    "EEEEEEEEEEEEEEEE", // 0F 9x: SETcc
    "111EEEFF111EEEEE", // 0F Ax: PUSH/POP FS GS, CPUID, BT, SHLD, RSM, BTS, SHRD, group 15, IMUL
    "EEEEEEEEEEEEEEEE", // 0F Bx: CMPXCHG, LSS, BTR, MOVZX, POPCNT, group 8, BSF, MOVSX
    "EEEEEEEE11111111", // 0F Cx: XADD, CMPPS, MOVNTI, PINSRW.., group 9, BSWAP
    "EEEEEEEEEEEEEEEE", // 0F Dx: MMX/SSE
    "EEEEEEEEEEEEEEEE", // 0F Ex: MMX/SSE
    "EEEEEEEEEEEEEEEE", // 0F Fx: MMX/SSE, UD0
};

std::uint8_t ClassOf(const char* const (&table)[16], std::uint8_t opcode)
{
    const char digit = table[opcode >> 4][opcode & 0x0F];
    return static_cast<std::uint8_t>(digit <= '9' ? digit - '0' : digit - 'A' + 10);
}

bool IsPrefix(std::uint8_t byte)
{
    switch (byte) {
    case 0x26: case 0x2E: case 0x36: case 0x3E: case 0x64: case 0x65:
    case 0x66: case 0x67: case 0xF0: case 0xF2: case 0xF3:
        return true;
    default:
        return false;
    }
}

// Two-byte opcodes whose ModRM operand is followed by an 8-bit immediate.
bool TwoByteHasImm8(std::uint8_t opcode)
{
    switch (opcode) {
    case 0x0F: case 0x3A: case 0x70: case 0x71: case 0x72: case 0x73:
    case 0xA4: case 0xAC: case 0xBA: case 0xC2: case 0xC4: case 0xC5: case 0xC6:
        return true;
    default:
        return false;
    }
}

// Bytes after the ModRM byte taken by SIB and displacement. `code` points at
// the ModRM byte; 0 or more, or -1 when the bytes run out.
int OperandLength(const std::uint8_t* code, std::size_t available, bool addressSize16)
{
    if (available < 1) return -1;
    const int mod = code[0] >> 6;
    const int rm = code[0] & 7;
    if (mod == 3) return 0;
    if (addressSize16) {
        if (mod == 0) return rm == 6 ? 2 : 0;
        return mod == 1 ? 1 : 2;
    }
    int length = 0;
    int base = rm;
    if (rm == 4) {
        if (available < 2) return -1;
        length = 1;
        base = code[1] & 7;
    }
    if (mod == 0) return length + (base == 5 ? 4 : 0);
    return length + (mod == 1 ? 1 : 4);
}

// The immediate behind the ModRM operand of a one-byte opcode.
int OneByteModRMImmediate(std::uint8_t opcode, std::uint8_t modrm, bool operandSize16)
{
    const int immZ = operandSize16 ? 2 : 4;
    const int reg = (modrm >> 3) & 7;
    switch (opcode) {
    case 0x6B: case 0x80: case 0x82: case 0x83: case 0xC0: case 0xC1: case 0xC6:
        return 1;
    case 0x69: case 0x81: case 0xC7:
        return immZ;
    // TEST is /0; processors decode /1 the same way.
    case 0xF6:
        return reg <= 1 ? 1 : 0;
    case 0xF7:
        return reg <= 1 ? immZ : 0;
    default:
        return 0;
    }
}

int FixedLength(std::uint8_t lengthClass, const InstructionShape& shape)
{
    switch (lengthClass) {
    case lcOpcodeOnly: return 0;
    case lcImm8: return 1;
    case lcImm16: return 2;
    case lcEnter: return 3;
    case lcImmZ: return shape.OperandSizePrefix ? 2 : 4;
    case lcMoffs: return shape.AddressSizePrefix ? 2 : 4;
    case lcFarPointer: return shape.OperandSizePrefix ? 4 : 6;
    default: return -1;
    }
}

} // namespace

bool DecodeInstruction(const void* code, std::size_t available, InstructionShape& shape)
{
    const auto* bytes = static_cast<const std::uint8_t*>(code);
    available = std::min<std::size_t>(available, kMaxInstruction);
    shape = InstructionShape{};
    std::size_t at = 0;
    while (at < available && IsPrefix(bytes[at])) {
        if (bytes[at] == 0x66) shape.OperandSizePrefix = true;
        if (bytes[at] == 0x67) shape.AddressSizePrefix = true;
        ++at;
    }
    if (at >= available) return false;
    shape.OpcodeOffset = static_cast<int>(at);
    std::uint8_t lengthClass;
    if (bytes[at] == 0x0F) {
        if (++at >= available) return false;
        shape.TwoByte = true;
        lengthClass = ClassOf(kTwoByteClasses, bytes[at]);
    } else {
        lengthClass = ClassOf(kOneByteClasses, bytes[at]);
    }
    shape.Opcode = bytes[at++];
    if (lengthClass == lcUndecodable || lengthClass == lcPrefixOrEscape) return false;

    int rest;
    if (lengthClass == lcModRM) {
        // The 0F 38 and 0F 3A maps put a third opcode byte before the ModRM byte.
        if (shape.TwoByte && (shape.Opcode == 0x38 || shape.Opcode == 0x3A)) ++at;
        if (at >= available) return false;
        const int operand = OperandLength(bytes + at, available - at, shape.AddressSizePrefix);
        if (operand < 0) return false;
        const int immediate = shape.TwoByte ? (TwoByteHasImm8(shape.Opcode) ? 1 : 0)
                                            : OneByteModRMImmediate(shape.Opcode, bytes[at], shape.OperandSizePrefix);
        rest = 1 + operand + immediate;
    } else {
        rest = FixedLength(lengthClass, shape);
    }
    const std::size_t length = at + static_cast<std::size_t>(rest);
    if (rest < 0 || length > available) return false;
    shape.Length = static_cast<int>(length);
    return true;
}

bool GetInstructionLength(const void* code, std::size_t available, int& length)
{
    InstructionShape shape;
    if (!DecodeInstruction(code, available, shape)) return false;
    length = shape.Length;
    return true;
}

bool GetInstructionLength(const void* code, int& length) { return GetInstructionLength(code, kMaxInstruction, length); }

int CodeSizeToReturn(const void* code, int maximum)
{
    const auto* bytes = static_cast<const std::uint8_t*>(code);
    if (maximum <= 0) return 1;
    // Walk only as far as the memory can be read.
    const std::size_t readable = ReadableSize(bytes, static_cast<std::size_t>(maximum) + kMaxInstruction);
    int at = 0;
    while (at < maximum && static_cast<std::size_t>(at) < readable) {
        InstructionShape shape;
        if (!DecodeInstruction(bytes + at, readable - static_cast<std::size_t>(at), shape)) {
            ++at;
            continue;
        }
        if (!shape.TwoByte && (shape.Opcode == 0xC2 || shape.Opcode == 0xC3 || shape.Opcode == 0xCA ||
                               shape.Opcode == 0xCB))
            return at + shape.Length;
        at += shape.Length;
    }
    return 1;
}

} // namespace kv::crashreport
