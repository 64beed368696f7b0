#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "crashreport/core/EHook.h"
#include "crashreport/output/EDisAsm.h"

namespace {

using kv::crashreport::TdaRef;
using kv::crashreport::TDisAsm;
using kv::crashreport::TRegister;

struct Decoded {
    std::string text;
    std::size_t size;
};

Decoded Decode(TDisAsm& disasm, const std::vector<std::uint8_t>& bytes)
{
    std::vector<std::uint8_t> code = bytes;
    code.resize(bytes.size() + 16, 0x90);
    std::size_t size = 0;
    std::string text = disasm.GetInstruction(code.data(), size);
    return {text, size};
}

Decoded Decode(const std::vector<std::uint8_t>& bytes)
{
    TDisAsm disasm;
    return Decode(disasm, bytes);
}

struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    const char* text;
    std::size_t size;
};

class DisAsmCases : public ::testing::TestWithParam<Case> {};

TEST_P(DisAsmCases, DecodesToTextAndSize)
{
    const Case& c = GetParam();
    const Decoded d = Decode(c.bytes);
    EXPECT_EQ(d.text, c.text);
    EXPECT_EQ(d.size, c.size);
}

INSTANTIATE_TEST_SUITE_P(
    Instructions, DisAsmCases,
    ::testing::Values(
        Case{"Nop", {0x90}, "nop", 1}, Case{"Ret", {0xC3}, "ret", 1},
        Case{"MovFromFrame", {0x8B, 0x45, 0xF8}, "mov     eax, [ebp-$08]", 3},
        Case{"GroupCmpShowsByteSize", {0x80, 0x38, 0x05}, "cmp     byte ptr [eax], $05", 3},
        Case{"AddRegisters", {0x01, 0xC8}, "add     eax, ecx", 2},
        Case{"OperandSizePrefix", {0x66, 0x05, 0x34, 0x12}, "add     ax, +$1234", 4},
        Case{"UndefinedTwoByte", {0x0F, 0x04}, "DB      $0F, $04  //", 2},
        Case{"Fchs", {0xD9, 0xE0}, "fchs", 2},
        Case{"FaddMemory", {0xD8, 0x00}, "fadd    dword ptr [eax]", 2},
        Case{"FaddRegister", {0xD8, 0xC1}, "fadd    st(1)", 2},
        Case{"SibWithScale", {0x8B, 0x44, 0x8E, 0x10}, "mov     eax, [esi+ecx*4+$10]", 4},
        Case{"SibNoBaseDisp32", {0x8B, 0x04, 0x8D, 0x00, 0x10, 0x40, 0x00}, "mov     eax, [$401000+ecx*4]", 7},
        Case{"Disp32Absolute", {0xA1, 0x78, 0x56, 0x34, 0x12}, "mov     eax, dword ptr [$12345678]", 5},
        Case{"FsOverrideOffset", {0x64, 0xA1, 0x18, 0x00, 0x00, 0x00}, "mov     eax, dword ptr fs:[$0018]", 6},
        Case{"FsOverrideModRM", {0x64, 0x8B, 0x00}, "mov     eax, fs:[eax]", 3},
        Case{"Address16", {0x67, 0x8B, 0x47, 0x02}, "mov     eax, [bx+$02]", 4},
        Case{"Address16Direct", {0x67, 0x8B, 0x06, 0x34, 0x12}, "mov     eax, [$1234]", 5},
        Case{"MovImmediateShowsDword", {0xC7, 0x00, 0x05, 0x00, 0x00, 0x00}, "mov     dword ptr [eax], $00000005", 6},
        Case{"PushSignedByte", {0x6A, 0xFF}, "push    -$01", 2},
        Case{"Cwde", {0x98}, "cwde ", 1}, Case{"Cbw", {0x66, 0x98}, "cbw ", 2},
        Case{"MovsdAndRep", {0xF3, 0xA5}, "rep     movsd", 2},
        Case{"Movzx", {0x0F, 0xB6, 0x00}, "movzx   eax, byte ptr [eax]", 3},
        Case{"ControlRegister", {0x0F, 0x20, 0xC0}, "mov     eax, C0", 3},
        Case{"Mmx", {0x0F, 0xEF, 0xC1}, "pxor    MM0, MM1", 3},
        Case{"TestTail", {0xF6, 0xC1, 0x80}, "test    cl, $80", 3},
        Case{"NotHasNoTail", {0xF7, 0xD0}, "not     eax", 2},
        Case{"EnterTakesWordAndByte", {0xC8, 0x10, 0x00, 0x01}, "enter   $0010, $01", 4},
        Case{"FarJumpOperandSize32", {0xEA, 0x78, 0x56, 0x34, 0x12, 0xCD, 0xAB}, "jmp     $ABCD:$12345678", 7},
        Case{"FarJumpOperandSize16", {0x66, 0xEA, 0x11, 0x22, 0x33, 0x44}, "jmp     $4433:$2211", 6},
        Case{"NopWithModRM", {0x0F, 0x1F, 0x44, 0x00, 0x00}, "nop     dword ptr [eax+eax+$00]", 5},
        Case{"LeaHidesSize", {0x8D, 0x04, 0x24}, "lea     eax, [esp]", 3},
        Case{"UndefinedGroupEntry", {0xFE, 0xD0}, "DB      $FE, $D0  //", 2}),
    [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

struct Recorder {
    std::vector<std::string> events;
    TdaRef lastRef;
    int lastRefSize = 0;
};

TEST(DisAsmCallbacks, CallGetsAbsoluteTargetAndMayReplaceText)
{
    std::uint8_t code[16] = {0xE8, 0x10, 0x00, 0x00, 0x00};
    std::uintptr_t target = 0, valueAddress = 0;
    struct Seen {
        std::uintptr_t* target;
        std::uintptr_t* valueAddress;
    } seen{&target, &valueAddress};
    TDisAsm disasm;
    disasm.Param = &seen;
    disasm.OnCallInstr = [](void* param, std::uintptr_t value, std::uintptr_t call, std::string& text) {
        auto* s = static_cast<Seen*>(param);
        *s->target = call;
        *s->valueAddress = value;
        text = "Unit.Proc";
    };
    std::size_t size = 0;
    EXPECT_EQ(disasm.GetInstruction(code, size), "call    Unit.Proc");
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(target, reinterpret_cast<std::uintptr_t>(code) + 5 + 0x10);
    EXPECT_EQ(valueAddress, reinterpret_cast<std::uintptr_t>(code) + 1);
}

TEST(DisAsmCallbacks, JumpTargetGoesBackwards)
{
    std::uint8_t code[16] = {0x90, 0x90, 0x75, 0xFC};
    std::uintptr_t target = 0;
    TDisAsm disasm;
    disasm.Param = &target;
    disasm.OnJumpInstr = [](void* param, std::uintptr_t, std::uintptr_t jump, std::string&) {
        *static_cast<std::uintptr_t*>(param) = jump;
    };
    std::size_t size = 0;
    EXPECT_EQ(disasm.GetInstruction(code + 2, size), "jnz     -$04");
    EXPECT_EQ(target, reinterpret_cast<std::uintptr_t>(code));
}

TEST(DisAsmCallbacks, RefDescribesSibOperand)
{
    Recorder recorder;
    TDisAsm disasm;
    disasm.Param = &recorder;
    disasm.OnRef = [](void* param, const TdaRef& ref, int refSize, std::string&) {
        auto* r = static_cast<Recorder*>(param);
        r->lastRef = ref;
        r->lastRefSize = refSize;
    };
    Decode(disasm, {0x66, 0x8B, 0x44, 0x8E, 0x10}); // mov ax, [esi+ecx*4+$10]
    EXPECT_EQ(recorder.lastRef.ARegister1, TRegister::rEcx);
    EXPECT_EQ(recorder.lastRef.MultiplyReg1, 4u);
    EXPECT_EQ(recorder.lastRef.ARegister2, TRegister::rEsi);
    EXPECT_EQ(recorder.lastRef.MultiplyReg2, 1u);
    EXPECT_EQ(recorder.lastRef.Immidiate, 0x10u);
    EXPECT_EQ(recorder.lastRefSize, 2);
}

TEST(DisAsmCallbacks, AddressRefAndImmediateSeeTheirValues)
{
    struct Seen {
        std::uintptr_t ref = 0;
        int immediateSize = 0;
        bool immediateSigned = true;
    } seen;
    TDisAsm disasm;
    disasm.Param = &seen;
    disasm.OnAddressRef = [](void* param, std::uintptr_t, std::uintptr_t ref, std::string& text) {
        static_cast<Seen*>(param)->ref = ref;
        text = "Global";
    };
    disasm.OnImmidiateData = [](void* param, std::uintptr_t, int size, bool sigend, std::string& text) {
        static_cast<Seen*>(param)->immediateSize = size;
        static_cast<Seen*>(param)->immediateSigned = sigend;
        text += "  ; 'x'";
    };
    // mov dword ptr [$00403000], $00000007
    const Decoded d = Decode(disasm, {0xC7, 0x05, 0x00, 0x30, 0x40, 0x00, 0x07, 0x00, 0x00, 0x00});
    EXPECT_EQ(d.text, "mov     dword ptr [Global], $00000007  ; 'x'");
    EXPECT_EQ(seen.ref, 0x403000u);
    EXPECT_EQ(seen.immediateSize, 4);
    EXPECT_FALSE(seen.immediateSigned);
}

// A callback's text is final: a "%" or "^" in a symbol is not a size marker
// or a shield, and a "#" or "@" is not an escape.
TEST(DisAsmCallbacks, CallbackTextPassesUnchanged)
{
    TDisAsm disasm;
    disasm.OnCallInstr = [](void*, std::uintptr_t, std::uintptr_t, std::string& text) {
        text = "Fmt%s%c #Ev @ga^";
        text += '\x05';
    };
    std::string expected = "call    Fmt%s%c #Ev @ga^";
    expected += '\x05';
    EXPECT_EQ(Decode(disasm, {0xE8, 0, 0, 0, 0}).text, expected);
    disasm.OnCallInstr = [](void*, std::uintptr_t, std::uintptr_t, std::string& text) { text = std::string(600, 'n'); };
    EXPECT_EQ(Decode(disasm, {0xE8, 0, 0, 0, 0}).text, "call    " + std::string(600, 'n'));
}

// Reading stops at the end of readable memory and after 15 bytes: a run of
// prefixes or an instruction cut by a page end never faults.
TEST(DisAsmLimits, UnreadableAndOverlongInstructionsDoNotFault)
{
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    auto* pages = static_cast<std::uint8_t*>(::VirtualAlloc(nullptr, 2 * info.dwPageSize, MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(pages, nullptr);
    DWORD old = 0;
    ASSERT_TRUE(::VirtualProtect(pages + info.dwPageSize, info.dwPageSize, PAGE_NOACCESS, &old));
    std::uint8_t* end = pages + info.dwPageSize;
    end[-2] = 0x8B;
    end[-1] = 0x80; // mov eax, [eax+disp32] with the displacement on the locked page
    TDisAsm disasm;
    std::size_t size = 0;
    EXPECT_EQ(disasm.GetInstruction(end - 2, size), "???");
    EXPECT_EQ(size, 2u);
    std::fill(pages, end, 0x66);
    EXPECT_EQ(disasm.GetInstruction(pages, size), "???");
    EXPECT_EQ(size, 15u);
    ::VirtualFree(pages, 0, MEM_RELEASE);
}

} // namespace

// The disassembler and the hooks' length decoder agree on every instruction
// both decode: each opcode with every ModRM byte (and a SIB byte), alone and
// after the 66 and 67 prefixes.
TEST(DisAsmLengths, EqualGetInstructionLength)
{
    std::vector<std::string> differences;
    int compared = 0;
    TDisAsm disasm;
    for (int prefix : {-1, 0x66, 0x67}) {
        for (int twoByte = 0; twoByte < 2; ++twoByte) {
            for (int opcode = 0; opcode < 256; ++opcode) {
                for (int modrm = 0; modrm < 256; modrm += (modrm % 8 == 4 ? 1 : 3)) {
                    std::uint8_t code[32];
                    std::fill(std::begin(code), std::end(code), 0x90);
                    int n = 0;
                    if (prefix >= 0) code[n++] = static_cast<std::uint8_t>(prefix);
                    if (twoByte) code[n++] = 0x0F;
                    code[n++] = static_cast<std::uint8_t>(opcode);
                    code[n++] = static_cast<std::uint8_t>(modrm);
                    code[n++] = static_cast<std::uint8_t>(modrm * 7 + opcode);
                    std::size_t size = 0;
                    const std::string text = disasm.GetInstruction(code, size);
                    int length = 0;
                    if (text.find("//") != std::string::npos || text == "???" ||
                        !kv::crashreport::GetInstructionLength(code, sizeof code, length))
                        continue;
                    ++compared;
                    if (static_cast<int>(size) != length && differences.size() < 40) {
                        char bytes[64];
                        std::snprintf(bytes, sizeof bytes, "%02X %02X %02X %02X %02X", code[0], code[1], code[2],
                                      code[3], code[4]);
                        differences.push_back(std::string(bytes) + ": " + text + " " + std::to_string(size) +
                                              " vs " + std::to_string(length));
                    }
                }
            }
        }
    }
    EXPECT_GT(compared, 50000);
    std::string all;
    for (const auto& d : differences) all += d + "\n";
    EXPECT_TRUE(differences.empty()) << all;
}
