#include "crashreport/output/EDisAsm.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "crashreport/core/ESystem.h"

// The template language. A template is the mnemonic padded to 8 characters,
// then operand text with escapes that the expansion pass replaces (and scans
// again from the same place):
//   "#" kind size marker  an operand: kind E/M/R (ModRM), G (reg field), H
//                         (signed immediate), I (unsigned immediate), J
//                         (relative target; marker j jump, c call), O
//                         (memory offset), A (far address), L (16-bit value
//                         of enter and far return), C/D/T (control, debug,
//                         test register), P/Q (MMX), S (segment register),
//                         F (flags, nothing shown)
//   "@" letter argument   c1/c2: next byte's one-byte/0F template; ca-ch: x87
//                         D8-DF; ga-gj: group by the reg field; h1-h4: group
//                         tail; eX: "e"+X at operand size 4; o2/o4/o8: size
//                         letters; pX: segment override; sa/so: address- or
//                         operand-size prefix; m: show the operand size
//   "^" n                 the next n characters are final (callback text)
//   "%s" size             "byte ptr " and so on, when the size is shown
//   "%c "                 an undefined opcode: its bytes as DB
namespace kv::crashreport {
namespace {

constexpr std::array<const char*, 1200> Templates = {
#include "crashreport/output/EDisAsmTemplates.inc"
};
constexpr int TwoByteBlock = 256;
constexpr int GroupBlock = 512;
constexpr int TailBlock = 592;
constexpr int FpuBlock = 624;
constexpr int FpuOpcodeEntries = 72;
static_assert(FpuBlock + 8 * FpuOpcodeEntries == static_cast<int>(Templates.size()));

constexpr std::size_t MaxInstructionBytes = 15;

constexpr const char* Registers8[] = {"al", "cl", "dl", "bl", "ah", "ch", "dh", "bh"};
constexpr const char* Registers16[] = {"ax", "cx", "dx", "bx", "sp", "bp", "si", "di"};
constexpr const char* Registers32[] = {"eax", "ecx", "edx", "ebx", "esp", "ebp", "esi", "edi"};
constexpr const char* SegmentRegisters[] = {"es", "cs", "ss", "ds", "fs", "gs", "???", "???"};
constexpr const char* Memory16[] = {"[bx+si", "[bx+di", "[bp+si", "[bp+di", "[si", "[di", "[bp", "[bx"};

std::string IntToHex(std::uint32_t value, int digits)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string text;
    do {
        text.insert(text.begin(), Digits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    if (static_cast<int>(text.size()) < digits) text.insert(0, digits - text.size(), '0');
    return text;
}

std::string RegisterName(int index, int size)
{
    switch (size) {
    case 1: return Registers8[index];
    case 2: return Registers16[index];
    default: return Registers32[index];
    }
}

// Text that a callback may have changed passes the later passes untouched:
// "^" and a length byte (at most 255 characters per marker).
std::string Shield(const std::string& text)
{
    std::string out;
    for (std::size_t at = 0; at < text.size(); at += 255) {
        const std::size_t n = std::min<std::size_t>(255, text.size() - at);
        out += '^';
        out += static_cast<char>(n);
        out.append(text, at, n);
    }
    return out;
}

std::string Unshield(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == '^' && i + 1 < text.size()) {
            const std::size_t n = static_cast<std::uint8_t>(text[i + 1]);
            out.append(text, i + 2, n);
            i += 2 + n;
        } else {
            out += text[i++];
        }
    }
    return out;
}

std::string SignedText(std::int32_t value, int size)
{
    const std::uint32_t magnitude = value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
    return (value < 0 ? "-$" : "+$") + IntToHex(magnitude, 2 * size);
}

const char* SizeName(int size)
{
    switch (size) {
    case 1: return "byte ptr ";
    case 2: return "word ptr ";
    case 4: return "dword ptr ";
    case 8: return "qword ptr ";
    case 10: return "tbyte ptr ";
    default: return "";
    }
}

} // namespace

struct TDisAsm::State {
    const TDisAsm& owner;
    const std::uint8_t* start;
    std::size_t count = 0;
    int operandSize = 4;
    int addressSize = 4;
    bool segmentOverride = false;
    std::string segment;
    std::uint8_t modrm = 0;
    bool haveModrm = false;
    std::uint8_t sib = 0;
    bool haveSib = false;
    int size = 0;
    bool showSize = true;
    TdaRef ref;
    bool failed = false;
    std::uintptr_t readablePage = 1; // no page starts at 1

    std::uintptr_t Here() const { return reinterpret_cast<std::uintptr_t>(start) + count; }

    std::uint8_t ReadByte()
    {
        if (failed) return 0;
        const std::uintptr_t at = Here();
        const std::uintptr_t page = at & ~std::uintptr_t{0xFFF};
        if (count >= MaxInstructionBytes ||
            (page != readablePage && !IsReadableMemory(reinterpret_cast<const void*>(at), 1))) {
            failed = true;
            return 0;
        }
        readablePage = page;
        ++count;
        return *reinterpret_cast<const std::uint8_t*>(at);
    }
    std::uint32_t ReadValue(int bytes)
    {
        std::uint32_t value = 0;
        for (int i = 0; i < bytes; ++i) value |= std::uint32_t{ReadByte()} << (8 * i);
        return value;
    }
    std::int32_t ReadSigned(int bytes)
    {
        const std::uint32_t value = ReadValue(bytes);
        if (bytes == 1) return static_cast<std::int8_t>(value);
        if (bytes == 2) return static_cast<std::int16_t>(value);
        return static_cast<std::int32_t>(value);
    }
    std::uint8_t ModRM()
    {
        if (!haveModrm) {
            modrm = ReadByte();
            haveModrm = true;
        }
        return modrm;
    }
    std::uint8_t Sib()
    {
        if (!haveSib) {
            sib = ReadByte();
            haveSib = true;
        }
        return sib;
    }
    int RegField() { return (ModRM() >> 3) & 7; }
    std::string SegmentPrefix() const { return segmentOverride ? segment + ":" : std::string(); }

    void Expand(std::string& text);
    std::string SizePass(const std::string& text) const;
    std::string AtEscape(char letter, char argument);
    std::string Operand(char kind, char sizeLetter, char marker);
    void SetSize(char sizeLetter);
    std::string AddressReference();
    std::string ModRMOperand();
    std::string MemoryOperand(std::string text);
    std::string Immediate(char kind);
    std::string RelativeTarget(char marker);
    std::string FarAddress(char sizeLetter);
    std::string MemoryOffset();
};

void TDisAsm::State::Expand(std::string& text)
{
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == '#' || c == '@') {
            const std::size_t length = c == '#' ? 4 : 3;
            std::string escape = text.substr(i, length);
            escape.resize(length, ' ');
            const std::string replacement =
                c == '#' ? Operand(escape[1], escape[2], escape[3]) : AtEscape(escape[1], escape[2]);
            text.replace(i, std::min(length, text.size() - i), replacement);
        } else if (c == '^' && i + 1 < text.size()) {
            i += 2 + static_cast<std::uint8_t>(text[i + 1]);
        } else if (c == '%' && i + 1 < text.size() && text[i + 1] == 's') {
            i += 3; // the size byte is raw and never an escape
        } else {
            ++i;
        }
    }
}

std::string TDisAsm::State::SizePass(const std::string& text) const
{
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == '^' && i + 1 < text.size()) {
            const std::size_t n = static_cast<std::uint8_t>(text[i + 1]);
            out.append(text, i + 2, n);
            i += 2 + n;
        } else if (c == '%' && i + 1 < text.size() && text[i + 1] == 's') {
            if (showSize && i + 2 < text.size()) out += SizeName(static_cast<std::uint8_t>(text[i + 2]));
            i += 3;
        } else if (c == '%' && i + 1 < text.size() && text[i + 1] == 'c') {
            out += "DB      ";
            for (std::size_t b = 0; b < count; ++b) out += (b == 0 ? "$" : ", $") + IntToHex(start[b], 2);
            out += "  //";
            i += 3;
        } else if (c == '%') {
            out.append(text, i, 3);
            i += 3;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

std::string TDisAsm::State::AtEscape(char letter, char argument)
{
    switch (letter) {
    case 'c':
        if (argument == '1') return Templates[ReadByte()];
        if (argument == '2') return Templates[TwoByteBlock + ReadByte()];
        if (argument >= 'a' && argument <= 'h') {
            const int block = FpuBlock + (argument - 'a') * FpuOpcodeEntries;
            const std::uint8_t m = ModRM();
            return Templates[m >= 0xC0 ? block + 8 + (m - 0xC0) : block + RegField()];
        }
        break;
    case 'g':
        if (argument >= 'a' && argument <= 'j') return Templates[GroupBlock + (argument - 'a') * 8 + RegField()];
        break;
    case 'h':
        if (argument >= '1' && argument <= '4') return Templates[TailBlock + (argument - '1') * 8 + RegField()];
        break;
    case 'e': return (operandSize == 4 ? "e" : "") + std::string(1, argument);
    case 'o':
        if (argument == '2') return operandSize == 4 ? "w" : "b";
        if (argument == '4') return operandSize == 4 ? "d" : "w";
        if (argument == '8') return operandSize == 4 ? "q" : "d";
        break;
    case 'p':
        segment = std::string(1, argument) + "s";
        segmentOverride = true;
        return Templates[ReadByte()];
    case 's':
        (argument == 'a' ? addressSize : operandSize) = 2;
        return Templates[ReadByte()];
    case 'm': showSize = true; return {};
    }
    return "???";
}

void TDisAsm::State::SetSize(char sizeLetter)
{
    switch (sizeLetter) {
    case 'a': size = addressSize == 2 ? 4 : 8; break;
    case 'b': size = 1; break;
    case 'c': size = operandSize == 2 ? 1 : 2; break;
    case 'd': size = 4; break;
    // A far pointer's offset follows the operand size (66 EA takes 16 bits).
    case 'p': size = operandSize + 2; break;
    case 'q': size = 8; break;
    case 's': size = 6; break;
    case 't': size = 10; break;
    case 'v': size = operandSize; break;
    case 'w': size = 2; break;
    default:
        size = 0;
        showSize = false;
        break;
    }
}

std::string TDisAsm::State::Operand(char kind, char sizeLetter, char marker)
{
    SetSize(sizeLetter);
    switch (kind) {
    case 'A': return FarAddress(sizeLetter);
    case 'C':
    case 'D':
        if (sizeLetter != 'd') return "???";
        return std::string(1, kind) + std::to_string(RegField());
    case 'T': return "T" + std::to_string(RegField());
    case 'E':
    case 'M': return ModRMOperand();
    // Moves to and from control, debug and test registers take a register
    // whatever the mod field says, and read no displacement.
    case 'R': return RegisterName(ModRM() & 7, size);
    case 'G':
        showSize = false;
        return RegisterName(RegField(), size);
    case 'H':
    case 'I': return Immediate(kind);
    case 'J': return RelativeTarget(marker);
    case 'L': return "$" + IntToHex(ReadValue(2), 4);
    case 'O': return MemoryOffset();
    case 'P': return "MM" + std::to_string(RegField());
    case 'Q':
        if ((ModRM() >> 6) == 3) return "MM" + std::to_string(ModRM() & 7);
        return ModRMOperand();
    case 'S': return SegmentRegisters[RegField()];
    case 'F': return {};
    }
    return "???";
}

std::string TDisAsm::State::AddressReference()
{
    const std::uintptr_t valueAddress = Here();
    const std::uint32_t value = ReadValue(4);
    ref.Immidiate += value;
    std::string text = "$" + IntToHex(value, 4);
    if (owner.OnAddressRef) owner.OnAddressRef(owner.Param, valueAddress, value, text);
    return Shield(text);
}

std::string TDisAsm::State::ModRMOperand()
{
    const std::uint8_t m = ModRM();
    const int mod = m >> 6;
    const int rm = m & 7;
    if (mod == 3) return RegisterName(rm, size);

    std::string text = SegmentPrefix();
    if (addressSize == 2) {
        if (mod == 0 && rm == 6) {
            const std::uint32_t value = ReadValue(2);
            ref.Immidiate += value;
            text += "[$" + IntToHex(value, 4);
        } else {
            text += Memory16[rm];
        }
    } else if (rm == 4) {
        const std::uint8_t s = Sib();
        const int base = s & 7;
        const int index = (s >> 3) & 7;
        const int scale = s >> 6;
        if (base == 5 && mod == 0) {
            text += "[" + AddressReference();
        } else {
            text += std::string("[") + Registers32[base];
            ref.ARegister2 = static_cast<TRegister>(base);
            ref.MultiplyReg2 = 1;
        }
        if (index != 4) {
            text += std::string("+") + Registers32[index];
            if (scale != 0) text += "*" + std::to_string(1 << scale);
            ref.ARegister1 = static_cast<TRegister>(index);
            ref.MultiplyReg1 = 1u << scale;
        }
    } else if (mod == 0 && rm == 5) {
        text += "[" + AddressReference();
    } else {
        text += std::string("[") + Registers32[rm];
        ref.ARegister1 = static_cast<TRegister>(rm);
        ref.MultiplyReg1 = 1;
    }

    if (mod == 1) {
        const std::int32_t displacement = ReadSigned(1);
        ref.Immidiate += static_cast<std::uint32_t>(displacement);
        text += SignedText(displacement, 1);
    } else if (mod == 2) {
        if (addressSize == 2) {
            const std::uint32_t value = ReadValue(2);
            ref.Immidiate += value;
            text += "+$" + IntToHex(value, 4);
        } else {
            text += "+" + AddressReference();
        }
    }
    text += "]";
    return MemoryOperand(std::move(text));
}

// The size marker in front of a memory operand, and the OnRef callback.
std::string TDisAsm::State::MemoryOperand(std::string text)
{
    if (size != 4 && size != 0) showSize = true;
    if (owner.OnRef) {
        const std::string shown = Unshield(text);
        std::string replaced = shown;
        owner.OnRef(owner.Param, ref, size, replaced);
        if (replaced != shown) text = Shield(replaced);
    }
    return "%s" + std::string(1, static_cast<char>(size)) + text;
}

std::string TDisAsm::State::Immediate(char kind)
{
    const std::uintptr_t valueAddress = Here();
    const int bytes = size == 1 || size == 2 ? size : 4;
    std::string text;
    if (kind == 'H') {
        text = SignedText(ReadSigned(bytes), bytes);
    } else {
        text = "$" + IntToHex(ReadValue(bytes), 2 * bytes);
    }
    if (owner.OnImmidiateData) owner.OnImmidiateData(owner.Param, valueAddress, bytes, kind == 'H', text);
    return Shield(text);
}

std::string TDisAsm::State::RelativeTarget(char marker)
{
    const std::uintptr_t valueAddress = Here();
    const int bytes = size == 1 || size == 2 ? size : 4;
    const std::int32_t displacement = ReadSigned(bytes);
    const std::uintptr_t target = Here() + static_cast<std::uintptr_t>(static_cast<std::intptr_t>(displacement));
    std::string text = SignedText(displacement, bytes);
    if (marker == 'j' && owner.OnJumpInstr) owner.OnJumpInstr(owner.Param, valueAddress, target, text);
    if (marker == 'c' && owner.OnCallInstr) owner.OnCallInstr(owner.Param, valueAddress, target, text);
    return Shield(text);
}

std::string TDisAsm::State::FarAddress(char sizeLetter)
{
    std::string text = SegmentPrefix();
    if (sizeLetter != 'p') return text + "???";
    const std::string offset = operandSize == 4 ? AddressReference() : "$" + IntToHex(ReadValue(2), 2);
    const std::uint32_t selector = ReadValue(2);
    return text + "$" + IntToHex(selector, 4) + ":" + offset;
}

std::string TDisAsm::State::MemoryOffset()
{
    // The segment override belongs to the operand here as in a ModRM operand
    // (64 A1 reads fs:[...]).
    std::string text = SegmentPrefix();
    if (addressSize == 2) {
        const std::uint32_t value = ReadValue(2);
        ref.Immidiate += value;
        return "%s" + std::string(1, static_cast<char>(size)) + text + "[$" + IntToHex(value, 4) + "]";
    }
    text += "[" + AddressReference() + "]";
    return MemoryOperand(std::move(text));
}

std::string TDisAsm::GetInstruction(const void* address, std::size_t& size)
{
    State state{*this, static_cast<const std::uint8_t*>(address)};
    std::string text = Templates[state.ReadByte()];
    state.Expand(text);
    size = std::max<std::size_t>(state.count, 1);
    if (state.failed) return "???";
    return state.SizePass(text);
}

} // namespace kv::crashreport
