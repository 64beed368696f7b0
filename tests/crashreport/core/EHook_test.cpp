#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>
#include <typeinfo>
#include <vector>

#include "common/TestSupport.h"
#include "crashreport/core/EHook.h"
#include "crashreport/core/ESystem.h"
#include "platform/Format.h"
#include "platform/Handles.h"
#include "platform/TextCodec.h"

namespace cr = kv::crashreport;

namespace hooktest {
// Outside the anonymous namespace: the compiler cannot prove that no other
// unit derives from it, so calls go through the method table.
struct Greeter {
    virtual int Hello(int x) { return x + 1; }
    virtual int Bye(int x) { return x - 1; }
};
} // namespace hooktest

namespace {

using Bytes = std::vector<std::uint8_t>;

// ---- Instruction lengths: a table of the cases that need care

struct LengthCase {
    const char* name;
    Bytes code;
    int length; // 0: no instruction
};

class InstructionLengths : public ::testing::TestWithParam<LengthCase> {};

TEST_P(InstructionLengths, MatchTheProcessor)
{
    const LengthCase& c = GetParam();
    Bytes padded = c.code;
    padded.resize(32, 0x90);
    int length = -1;
    const bool decoded = cr::GetInstructionLength(padded.data(), length);
    if (c.length == 0) {
        EXPECT_FALSE(decoded);
    } else {
        ASSERT_TRUE(decoded);
        EXPECT_EQ(length, c.length);
    }
}

INSTANTIATE_TEST_SUITE_P(
    EHook, InstructionLengths,
    ::testing::Values(
        LengthCase{"MovImm32", {0xB8, 0x78, 0x56, 0x34, 0x12}, 5},
        LengthCase{"OperandSizeMovImm16", {0x66, 0xB8, 0x34, 0x12}, 4},
        LengthCase{"OperandSizeAddImm16", {0x66, 0x81, 0xC0, 0x34, 0x12}, 5},
        LengthCase{"OperandSizeImulImm16", {0x66, 0x69, 0xC0, 0x34, 0x12}, 5},
        LengthCase{"OperandSizeKeepsImm8", {0x66, 0x83, 0xC0, 0x01}, 4},
        LengthCase{"AddressSizeDisp16", {0x67, 0x8B, 0x86, 0x34, 0x12}, 5},
        LengthCase{"AddressSizeDirect16", {0x67, 0x8B, 0x06, 0x34, 0x12}, 5},
        LengthCase{"AddressSizeNoSib", {0x67, 0x8B, 0x04}, 3},
        LengthCase{"AddressSizeMoffs16", {0x67, 0xA1, 0x34, 0x12}, 4},
        LengthCase{"BothSizePrefixes", {0x66, 0x67, 0xC7, 0x86, 0x34, 0x12, 0x78, 0x56}, 8},
        LengthCase{"Moffs32", {0xA1, 0x78, 0x56, 0x34, 0x12}, 5},
        LengthCase{"DirectDisp32", {0x8B, 0x05, 0x00, 0x10, 0x40, 0x00}, 6},
        LengthCase{"SibNoBaseDisp32", {0x8B, 0x04, 0x85, 0x00, 0x10, 0x40, 0x00}, 7},
        LengthCase{"SibEspDisp8", {0x8B, 0x44, 0x24, 0x08}, 4},
        LengthCase{"SibEspDisp32", {0x8B, 0x84, 0x24, 0x00, 0x01, 0x00, 0x00}, 7},
        LengthCase{"SibEbpBaseMod1", {0x8B, 0x44, 0x25, 0x08}, 4},
        LengthCase{"SibDisp32AndImm32", {0xC7, 0x04, 0x85, 0, 0x10, 0x40, 0, 1, 0, 0, 0}, 11},
        LengthCase{"TestRegImm8", {0xF6, 0xC1, 0x01}, 3},
        LengthCase{"TestMemImm8", {0xF6, 0x05, 0x00, 0x10, 0x40, 0x00, 0x01}, 7},
        LengthCase{"NotByteHasNoImm", {0xF6, 0xD1}, 2},
        LengthCase{"TestRegImm32", {0xF7, 0xC1, 0x00, 0x00, 0x01, 0x00}, 6},
        LengthCase{"TestRegImm16", {0x66, 0xF7, 0xC1, 0x00, 0x01}, 5},
        LengthCase{"NegHasNoImm", {0xF7, 0xD8}, 2},
        LengthCase{"DivMemHasNoImm", {0xF7, 0x75, 0x08}, 3},
        LengthCase{"BtRegImm8", {0x0F, 0xBA, 0xE0, 0x05}, 4},
        LengthCase{"BtsMemImm8", {0x0F, 0xBA, 0x6C, 0x24, 0x04, 0x03}, 6},
        LengthCase{"ShldImm8", {0x0F, 0xA4, 0xC2, 0x04}, 4},
        LengthCase{"ShldCl", {0x0F, 0xA5, 0xC2}, 3},
        LengthCase{"X87FldLocal", {0xD9, 0x45, 0xF8}, 3},
        LengthCase{"X87FstpRegister", {0xDD, 0xD8}, 2},
        LengthCase{"X87FldDirect", {0xDD, 0x05, 0x00, 0x10, 0x40, 0x00}, 6},
        LengthCase{"X87FildQwordSib", {0xDF, 0x2C, 0x24}, 3},
        LengthCase{"X87FnstswAx", {0xDF, 0xE0}, 2},
        LengthCase{"X87Fldcw", {0xD9, 0x6C, 0x24, 0x06}, 4},
        LengthCase{"FwaitAlone", {0x9B, 0xD9, 0x7D, 0xFE}, 1},
        LengthCase{"Enter", {0xC8, 0x10, 0x00, 0x00}, 4},
        LengthCase{"RetImm16", {0xC2, 0x08, 0x00}, 3},
        LengthCase{"OperandSizeKeepsRetImm16", {0x66, 0xC2, 0x08, 0x00}, 4},
        LengthCase{"FarCall", {0x9A, 0, 0, 0, 0, 0x08, 0x00}, 7},
        LengthCase{"FarCall16", {0x66, 0x9A, 0, 0, 0x08, 0x00}, 6},
        LengthCase{"RepMovsd", {0xF3, 0xA5}, 2},
        LengthCase{"LockCmpxchg", {0xF0, 0x0F, 0xB1, 0x0A}, 4},
        LengthCase{"FsMoffs", {0x64, 0xA1, 0x18, 0x00, 0x00, 0x00}, 6},
        LengthCase{"JccRel32", {0x0F, 0x84, 0, 0, 0, 0}, 6},
        LengthCase{"JccRel16", {0x66, 0x0F, 0x84, 0, 0}, 5},
        LengthCase{"JccRel8", {0x74, 0x05}, 2},
        LengthCase{"CallRel32", {0xE8, 0, 0, 0, 0}, 5},
        LengthCase{"Map0F38", {0x66, 0x0F, 0x38, 0x00, 0xC1}, 5},
        LengthCase{"Map0F3AImm8", {0x66, 0x0F, 0x3A, 0x0F, 0xC1, 0x08}, 6},
        LengthCase{"PshufdImm8", {0x66, 0x0F, 0x70, 0xC1, 0x1B}, 5},
        LengthCase{"MultiByteNop", {0x66, 0x0F, 0x1F, 0x84, 0, 0, 0, 0, 0}, 9},
        LengthCase{"MovFromCr0", {0x0F, 0x20, 0xC0}, 3},
        LengthCase{"Ud2", {0x0F, 0x0B}, 2},
        LengthCase{"Bswap", {0x0F, 0xC8}, 2},
        LengthCase{"ReservedTwoByte", {0x0F, 0x04}, 0},
        LengthCase{"ReservedThreeDNowEscape", {0x0F, 0x3B}, 0},
        LengthCase{"LongerThan15Bytes", {0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66,
                                         0x66, 0xB8, 0x34, 0x12},
                   0}),
    [](const ::testing::TestParamInfo<LengthCase>& info) { return std::string(info.param.name); });

TEST(EHook, DecodingStopsAtTheEndOfTheBuffer)
{
    const std::uint8_t code[] = {0xB8, 0x78, 0x56, 0x34, 0x12};
    int length = 0;
    EXPECT_TRUE(cr::GetInstructionLength(code, 5, length));
    EXPECT_EQ(length, 5);
    EXPECT_FALSE(cr::GetInstructionLength(code, 4, length));
    cr::InstructionShape shape;
    const std::uint8_t prefixed[] = {0xF0, 0x66, 0x0F, 0xB1, 0x0A};
    ASSERT_TRUE(cr::DecodeInstruction(prefixed, sizeof prefixed, shape));
    EXPECT_EQ(shape.OpcodeOffset, 2);
    EXPECT_TRUE(shape.TwoByte);
    EXPECT_EQ(shape.Opcode, 0xB1);
    EXPECT_TRUE(shape.OperandSizePrefix);
    EXPECT_FALSE(shape.AddressSizePrefix);
}

// ---- Instruction lengths against objdump, over real code
// The fixture (make-length-fixtures.sh) holds each binary's .text and the
// length objdump gives at every instruction boundary.

class ObjdumpBoundaries : public ::testing::TestWithParam<const char*> {};

TEST_P(ObjdumpBoundaries, EveryInstructionHasObjdumpsLength)
{
    const std::wstring folder = L"C:\\kvtest\\fixtures-lengths\\";
    const std::wstring name = kv::AnsiToWide(GetParam());
    ASSERT_TRUE(kvtest::PathExists(folder + name + L".lengths")) << "run make-length-fixtures.sh first";
    const std::string text = kvtest::ReadBytes(folder + name + L".text");
    const std::string lengths = kvtest::ReadBytes(folder + name + L".lengths");
    ASSERT_EQ(text.size(), lengths.size());
    const auto* code = reinterpret_cast<const std::uint8_t*>(text.data());
    std::size_t instructions = 0, mismatches = 0;
    for (std::size_t at = 0; at < lengths.size(); ++at) {
        const int expected = static_cast<std::uint8_t>(lengths[at]);
        if (expected == 0) continue;
        ++instructions;
        int length = 0;
        const bool decoded = cr::GetInstructionLength(code + at, text.size() - at, length);
        if (decoded && length == expected) continue;
        if (++mismatches <= 20) {
            std::string bytes;
            for (int i = 0; i < expected && at + i < text.size(); ++i)
                bytes += kv::Format(" %.2x", {static_cast<unsigned>(code[at + i])});
            ADD_FAILURE() << "offset " << kv::Format("%x", {static_cast<unsigned>(at)}) << ":" << bytes
                          << " objdump " << expected << ", decoder " << (decoded ? length : 0);
        }
    }
    EXPECT_EQ(mismatches, 0u) << "of " << instructions << " instructions";
    EXPECT_GT(instructions, 20000u);
}

INSTANTIATE_TEST_SUITE_P(EHook, ObjdumpBoundaries,
                         ::testing::Values("crashreport_core_tests.exe", "ntdll.dll", "kernelbase.dll", "msvcrt.dll",
                                           "user32.dll"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (c == '.') c = '_';
                             return name;
                         });

// ---- CodeSizeToReturn

struct ReturnCase {
    const char* name;
    Bytes code;
    int maximum;
    int size;
};

class CodeSizesToReturn : public ::testing::TestWithParam<ReturnCase> {};

TEST_P(CodeSizesToReturn, EndAtTheFirstReturn)
{
    const ReturnCase& c = GetParam();
    Bytes padded = c.code;
    padded.resize(64, 0x90);
    EXPECT_EQ(cr::CodeSizeToReturn(padded.data(), c.maximum), c.size);
}

INSTANTIATE_TEST_SUITE_P(
    EHook, CodeSizesToReturn,
    ::testing::Values(ReturnCase{"Ret", {0x55, 0x89, 0xE5, 0x5D, 0xC3}, 32, 5},
                      ReturnCase{"RetImm16", {0x90, 0xC2, 0x08, 0x00}, 32, 4},
                      ReturnCase{"FarRetImm16", {0xCA, 0x04, 0x00}, 32, 3},
                      ReturnCase{"FarRet", {0x90, 0xCB}, 32, 2},
                      ReturnCase{"LeaveIsNoReturn", {0x55, 0x89, 0xE5, 0xC9, 0xC3}, 32, 5},
                      ReturnCase{"EnterIsNoReturn", {0xC8, 0x10, 0x00, 0x00, 0xC3}, 32, 5},
                      ReturnCase{"LesIsNoReturn", {0xC4, 0x06, 0xC3}, 32, 3},
                      ReturnCase{"LdsIsNoReturn", {0xC5, 0x06, 0xC3}, 32, 3},
                      ReturnCase{"MovImmIsNoReturn", {0xC6, 0x00, 0x05, 0xC7, 0x00, 1, 0, 0, 0, 0xC3}, 32, 10},
                      ReturnCase{"IntIsNoReturn", {0xCC, 0xCD, 0x03, 0xCE, 0xCF}, 32, 1},
                      ReturnCase{"ReturnByteInsideImmediate", {0xB8, 0xC3, 0, 0, 0, 0xC3}, 32, 6},
                      ReturnCase{"TwoByteC2IsNoReturn", {0x0F, 0xC2, 0xC1, 0x00, 0xC3}, 32, 5},
                      ReturnCase{"NoneWithinMaximum", {0x90, 0x90, 0x90, 0x90, 0xC3}, 4, 1},
                      ReturnCase{"ReturnStartingWithinMaximum", {0x90, 0x90, 0x90, 0xC2, 0x04, 0x00}, 4, 6}),
    [](const ::testing::TestParamInfo<ReturnCase>& info) { return std::string(info.param.name); });

// ---- Memory with code of our own

// Pages of executable memory; `Write` places crafted code.
class CodeArea {
public:
    explicit CodeArea(std::size_t size = 0x1000)
        : block_(static_cast<std::uint8_t*>(
              ::VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE))),
          base_(block_.Get())
    {
        std::memset(base_, 0xCC, size);
    }

    std::uint8_t* At(std::size_t offset) const { return base_ + offset; }
    std::uint8_t* Write(std::size_t offset, std::initializer_list<std::uint8_t> bytes)
    {
        std::memcpy(base_ + offset, bytes.begin(), bytes.size());
        return base_ + offset;
    }
    // A rel32 at `offset` that reaches `to`, the instruction ending at `end`.
    void Rel32(std::size_t offset, std::size_t end, const void* to)
    {
        const auto value = static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(to) -
                                                     reinterpret_cast<std::uintptr_t>(base_ + end));
        std::memcpy(base_ + offset, &value, 4);
    }

private:
    kv::VirtualMemory<> block_;
    std::uint8_t* base_;
};

// A committed page followed by a reserved one: the end of readable memory.
class PageBeforeReserved {
public:
    explicit PageBeforeReserved(DWORD protection)
    {
        SYSTEM_INFO info{};
        ::GetSystemInfo(&info);
        page_ = info.dwPageSize;
        block_.Reset(static_cast<std::uint8_t*>(::VirtualAlloc(nullptr, 2 * page_, MEM_RESERVE, PAGE_NOACCESS)));
        ::VirtualAlloc(block_.Get(), page_, MEM_COMMIT, protection);
    }

    // The last `size` bytes of the committed page.
    std::uint8_t* Tail(std::size_t size) const { return block_.Get() + page_ - size; }

private:
    std::size_t page_ = 0;
    kv::VirtualMemory<> block_;
};

template <class F>
const void* Code(F procedure)
{
    return reinterpret_cast<const void*>(procedure);
}

Bytes Snapshot(const void* address, std::size_t size)
{
    const auto* bytes = static_cast<const std::uint8_t*>(address);
    return Bytes(bytes, bytes + size);
}

// Every test of hooks starts the unit and ends it, so that each leaves the
// process as it found it.
class HookUnit : public ::testing::Test {
protected:
    void SetUp() override { cr::InitializeHookUnit(); }
    void TearDown() override
    {
        cr::FinalizeHookUnit();
        cr::ForceWindows9xPlatform(std::nullopt);
    }
};

// ---- Writing code and reading headers

TEST(EHook, ExceptionMessages)
{
    EXPECT_EQ(cr::EProcNull("Kernel32.Sleep").Message(), L"Cannot hook a null procedure (\"Kernel32.Sleep\").");
    EXPECT_EQ(cr::EHookingError("Kernel32.Sleep").Message(), L"Cannot hook the procedure \"Kernel32.Sleep\".");
    EXPECT_EQ(cr::ESharedArea("C:\\W\\k.dll").Message(),
              L"Cannot hook the module \"C:\\W\\k.dll\" located into the shared-area.");
    const cr::EHookError* base = nullptr;
    cr::ESharedArea shared("x");
    base = &shared;
    EXPECT_NE(dynamic_cast<const cr::ESharedArea*>(base), nullptr);
}

TEST(EHook, WriteCodeRestoresTheProtection)
{
    SYSTEM_INFO info{};
    ::GetSystemInfo(&info);
    const kv::VirtualMemory<> block(
        static_cast<std::uint8_t*>(::VirtualAlloc(nullptr, info.dwPageSize, MEM_COMMIT, PAGE_EXECUTE_READ)));
    ASSERT_TRUE(block);
    std::uint8_t* page = block.Get();
    const std::uint8_t code[] = {0xB8, 0x2A, 0x00, 0x00, 0x00, 0xC3};
    cr::WriteCode(page + 16, code, sizeof code);
    EXPECT_EQ(std::memcmp(page + 16, code, sizeof code), 0);
    MEMORY_BASIC_INFORMATION memory{};
    ::VirtualQuery(page, &memory, sizeof memory);
    EXPECT_EQ(memory.Protect, static_cast<DWORD>(PAGE_EXECUTE_READ));
    EXPECT_EQ(reinterpret_cast<int (*)()>(page + 16)(), 42);

    cr::WriteJump(page + 32, page + 16);
    EXPECT_EQ(page[32], 0xE9);
    std::int32_t displacement = 0;
    std::memcpy(&displacement, page + 33, 4);
    EXPECT_EQ(displacement, 16 - 32 - 5);
    EXPECT_EQ(reinterpret_cast<int (*)()>(page + 32)(), 42);
}

TEST(EHook, WriteCodeThatCannotUnprotectLeavesTheTargetAlone)
{
    PageBeforeReserved memory(PAGE_READWRITE);
    std::uint8_t* tail = memory.Tail(4);
    std::memset(tail, 0x5A, 4);
    DWORD old = 0;
    ::VirtualProtect(tail, 4, PAGE_READONLY, &old);
    // The range runs from the committed page into the reserved one.
    const std::uint8_t code[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_THROW(cr::WriteCode(tail, code, sizeof code), cr::EHookingError);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(tail[i], 0x5A);
    MEMORY_BASIC_INFORMATION info{};
    ::VirtualQuery(tail, &info, sizeof info);
    EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_READONLY));
}

TEST(EHook, PEHeaders)
{
    const HMODULE self = ::GetModuleHandleW(nullptr);
    const IMAGE_NT_HEADERS32* headers = cr::GetPEHeaders(self);
    ASSERT_NE(headers, nullptr);
    EXPECT_EQ(headers->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(cr::GetPEHeaders(nullptr), nullptr);

    CodeArea area;
    EXPECT_EQ(cr::GetPEHeaders(area.At(0)), nullptr);
    // "MZ" with a zero header offset, then with an offset to a page's last bytes.
    area.Write(0, {'M', 'Z'});
    std::memset(area.At(2), 0, 62);
    EXPECT_EQ(cr::GetPEHeaders(area.At(0)), nullptr);
    const std::int32_t offset = 0x1000 - 8;
    std::memcpy(area.At(0x3C), &offset, 4);
    area.Write(offset, {'P', 'E', 0, 0});
    EXPECT_EQ(cr::GetPEHeaders(area.At(0)), nullptr);
}

// ---- Import tables, on a DLL of our own

DWORD WINAPI FakeProcessId() { return 0x4B56u; }
DWORD WINAPI FakeTickCount() { return 7u; }

class ImportPatches : public HookUnit {
protected:
    void SetUp() override
    {
        HookUnit::SetUp();
        dll_.Reset(::LoadLibraryW((kvtest::ExecutableFolder() + L"kv_hooks_testdll.dll").c_str()));
        ASSERT_TRUE(dll_);
        processId_ = Proc<DWORD (*)()>("KvHookDll_ProcessId");
        tickCount_ = Proc<DWORD (*)()>("KvHookDll_TickCount");
        processIdCell_ = Proc<void** (*)()>("KvHookDll_ProcessIdCell")();
        tickCountCell_ = Proc<void** (*)()>("KvHookDll_TickCountCell")();
        kernel32_ = ::GetModuleHandleW(L"kernel32.dll");
        realProcessId_ = reinterpret_cast<const void*>(::GetProcAddress(kernel32_, "GetCurrentProcessId"));
        ASSERT_EQ(*processIdCell_, realProcessId_);
    }
    void TearDown() override
    {
        HookUnit::TearDown();
        dll_.Reset();
    }
    template <class F>
    F Proc(const char* name)
    {
        return reinterpret_cast<F>(::GetProcAddress(dll_.Get(), name));
    }

    kv::ModuleHandle dll_;
    HMODULE kernel32_ = nullptr;
    DWORD (*processId_)() = nullptr;
    DWORD (*tickCount_)() = nullptr;
    void** processIdCell_ = nullptr;
    void** tickCountCell_ = nullptr;
    const void* realProcessId_ = nullptr;
};

TEST_F(ImportPatches, PatchAndUndoAtTheUnitsEnd)
{
    const Bytes before = Snapshot(processIdCell_, 4);
    const void* old = cr::PatchImportTable(dll_.Get(), "kernel32.dll", realProcessId_, false, false, "pid",
                                           Code(&FakeProcessId));
    EXPECT_EQ(old, realProcessId_);
    EXPECT_EQ(processId_(), 0x4B56u);
    EXPECT_EQ(*processIdCell_, reinterpret_cast<void*>(&FakeProcessId));
    const std::vector<cr::TSaveDLLProc> patches = cr::PatchedImportsSnapshot();
    ASSERT_EQ(patches.size(), 1u);
    EXPECT_EQ(patches[0].HookModule, reinterpret_cast<std::uintptr_t>(dll_.Get()));
    EXPECT_EQ(patches[0].ExportModule, "kernel32.dll");
    EXPECT_EQ(patches[0].OldProc, realProcessId_);

    cr::FinalizeHookUnit();
    EXPECT_EQ(std::memcmp(processIdCell_, before.data(), 4), 0);
    EXPECT_EQ(processId_(), ::GetCurrentProcessId());
}

TEST_F(ImportPatches, NothingToPatch)
{
    // The DLL does not import user32 at all, nor this procedure from kernel32.
    const void* sleep = reinterpret_cast<const void*>(::GetProcAddress(kernel32_, "Beep"));
    EXPECT_EQ(cr::PatchImportTable(dll_.Get(), "user32.dll", sleep, false, true, "", Code(&FakeProcessId)), nullptr);
    EXPECT_EQ(cr::PatchImportTable(dll_.Get(), "kernel32.dll", sleep, false, true, "", Code(&FakeProcessId)), nullptr);
    try {
        cr::PatchImportTable(dll_.Get(), "user32.dll", sleep, false, false, "user32.Sleep", Code(&FakeProcessId));
        ADD_FAILURE() << "no EHookingError";
    } catch (const cr::EHookingError& error) {
        EXPECT_EQ(error.Message(), L"Cannot hook the procedure \"user32.Sleep\".");
    }
    EXPECT_THROW(cr::PatchImportTable(dll_.Get(), "kernel32.dll", nullptr, false, true, "x", Code(&FakeProcessId)),
                 cr::EProcNull);
    // A memory block is no module: no headers, so nothing (or a failure).
    CodeArea area;
    EXPECT_EQ(cr::PatchImportTable(reinterpret_cast<HMODULE>(area.At(0)), "kernel32.dll", sleep, false, true, "",
                                   Code(&FakeProcessId)),
              nullptr);
    EXPECT_THROW(cr::PatchImportTable(reinterpret_cast<HMODULE>(area.At(0)), "kernel32.dll", sleep, false, false,
                                      "x", Code(&FakeProcessId)),
                 cr::EHookingError);
    EXPECT_TRUE(cr::PatchedImportsSnapshot().empty());
    EXPECT_EQ(*processIdCell_, realProcessId_);
}

TEST_F(ImportPatches, ByNameInTheListedModules)
{
    const void* original = nullptr;
    EXPECT_TRUE(cr::HookProcByName({"no-such-module.dll", "KV_HOOKS_TESTDLL.DLL"}, "KERNEL32.DLL", false, original,
                                   Code(&FakeTickCount), "GetTickCount"));
    EXPECT_EQ(original, reinterpret_cast<const void*>(::GetProcAddress(kernel32_, "GetTickCount")));
    EXPECT_EQ(tickCount_(), 7u);
    EXPECT_NE(processId_(), 0x4B56u);

    const void* none = nullptr;
    EXPECT_FALSE(cr::HookProcByName({"no-such-module.dll"}, "kernel32.dll", false, none,
                                    Code(&FakeTickCount), "GetTickCount"));
    try {
        cr::HookProcByName({"kv_hooks_testdll.dll"}, "kernel32.dll", false, none, Code(&FakeTickCount), "NoSuchExport");
        ADD_FAILURE() << "no EProcNull";
    } catch (const cr::EProcNull& error) {
        EXPECT_EQ(error.Message(), L"Cannot hook a null procedure (\"kernel32.dll.NoSuchExport\").");
    }
    cr::FinalizeHookUnit();
    EXPECT_EQ(*tickCountCell_, original);
}

TEST_F(ImportPatches, Windows9xStubsMatchByTheirPushedValue)
{
    // Two system call stubs of the same procedure at different addresses.
    CodeArea area;
    const std::uint8_t* asExported = area.Write(0x00, {0x68, 0x11, 0x22, 0x33, 0x44, 0xE9, 0, 0, 0, 0});
    std::uint8_t* inTable = area.Write(0x40, {0x68, 0x11, 0x22, 0x33, 0x44, 0xE9, 0, 0, 0, 0});
    area.Write(0x80, {0x68, 0x99, 0x22, 0x33, 0x44, 0xE9, 0, 0, 0, 0});
    const void* stub = inTable;
    cr::WriteCode(processIdCell_, &stub, 4);

    cr::ForceWindows9xPlatform(false);
    EXPECT_EQ(cr::PatchImportTable(dll_.Get(), "kernel32.dll", asExported, false, true, "", Code(&FakeProcessId)), nullptr);
    cr::ForceWindows9xPlatform(true);
    EXPECT_EQ(cr::PatchImportTable(dll_.Get(), "kernel32.dll", area.At(0x80), false, true, "", Code(&FakeProcessId)),
              nullptr);
    EXPECT_EQ(cr::PatchImportTable(dll_.Get(), "kernel32.dll", asExported, false, false, "", Code(&FakeProcessId)),
              asExported);
    EXPECT_EQ(*processIdCell_, reinterpret_cast<void*>(&FakeProcessId));

    cr::WriteCode(processIdCell_, &realProcessId_, 4);
}

TEST_F(ImportPatches, Windows9xSharedAreaIsNeverPatched)
{
    cr::ForceWindows9xPlatform(true);
    try {
        cr::PatchImportTable(reinterpret_cast<HMODULE>(0xBFF70000u), "kernel32.dll", realProcessId_, false, true, "",
                             Code(&FakeProcessId));
        ADD_FAILURE() << "no ESharedArea";
    } catch (const cr::ESharedArea& error) {
        EXPECT_EQ(error.Message(), L"Cannot hook the module \"\" located into the shared-area.");
    }
    EXPECT_THROW(cr::HookProcedure(reinterpret_cast<void*>(0xBFF71234u), reinterpret_cast<void*>(&FakeTickCount),
                                   "Kernel32.Sleep"),
                 cr::ESharedArea);
    cr::ForceWindows9xPlatform(false);
    EXPECT_THROW(cr::HookProcedure(reinterpret_cast<void*>(0xBFF71234u), reinterpret_cast<void*>(&FakeTickCount),
                                   "Kernel32.Sleep"),
                 cr::EHookingError);
}

// ---- Virtual method slots

__attribute__((noinline)) hooktest::Greeter* MakeGreeter()
{
    static hooktest::Greeter greeter;
    hooktest::Greeter* volatile result = &greeter;
    return result;
}

void* VmtOf(hooktest::Greeter* object) { return *reinterpret_cast<void**>(object); }

int __thiscall HookedHello(hooktest::Greeter*, int x) { return x * 100; }
int __thiscall OtherHello(hooktest::Greeter*, int x) { return -x; }

using VmtSlots = HookUnit;

TEST_F(VmtSlots, HookAndUnhook)
{
    hooktest::Greeter* greeter = MakeGreeter();
    void* vmt = VmtOf(greeter);
    const Bytes before = Snapshot(vmt, 8);
    void* original = cr::HookVMTSlot(vmt, 0, reinterpret_cast<void*>(&HookedHello));
    ASSERT_NE(original, nullptr);
    EXPECT_EQ(greeter->Hello(3), 300);
    EXPECT_EQ(greeter->Bye(3), 2);
    // The original still runs when called with the object.
    EXPECT_EQ(reinterpret_cast<int(__thiscall*)(hooktest::Greeter*, int)>(original)(greeter, 3), 4);
    // Hooked again with the same procedure: the same original, one record.
    EXPECT_EQ(cr::HookVMTSlot(vmt, 0, reinterpret_cast<void*>(&HookedHello)), original);
    EXPECT_TRUE(cr::UnhookVMTSlot(vmt, 0));
    EXPECT_FALSE(cr::UnhookVMTSlot(vmt, 0));
    EXPECT_EQ(std::memcmp(vmt, before.data(), 8), 0);
    EXPECT_EQ(greeter->Hello(3), 4);
}

TEST_F(VmtSlots, NegativeSlotsReachTheClassData)
{
    hooktest::Greeter* greeter = MakeGreeter();
    void* vmt = VmtOf(greeter);
    const void* classData = cr::HookVMTSlot(vmt, -1, const_cast<std::type_info*>(&typeid(int)));
    EXPECT_EQ(classData, &typeid(hooktest::Greeter));
    EXPECT_TRUE(typeid(*greeter) == typeid(int));
    EXPECT_TRUE(cr::UnhookVMTSlot(vmt, -1));
    EXPECT_TRUE(typeid(*greeter) == typeid(hooktest::Greeter));
}

TEST_F(VmtSlots, TablesOutsideModulesAreNotWritten)
{
    void* table[2] = {reinterpret_cast<void*>(&OtherHello), nullptr};
    EXPECT_EQ(cr::HookVMTSlot(table, 0, reinterpret_cast<void*>(&HookedHello)), reinterpret_cast<void*>(&OtherHello));
    EXPECT_EQ(table[0], reinterpret_cast<void*>(&OtherHello));
    EXPECT_TRUE(cr::UnhookVMTSlot(table, 0));
}

TEST_F(VmtSlots, NothingBeforeTheStartOrAfterTheEnd)
{
    hooktest::Greeter* greeter = MakeGreeter();
    void* vmt = VmtOf(greeter);
    cr::HookVMTSlot(vmt, 1, reinterpret_cast<void*>(&OtherHello));
    EXPECT_EQ(greeter->Bye(5), -5);
    cr::FinalizeHookUnit();
    EXPECT_EQ(greeter->Bye(5), 4);
    EXPECT_FALSE(cr::HookUnitActive());
    EXPECT_EQ(cr::HookVMTSlot(vmt, 1, reinterpret_cast<void*>(&OtherHello)), nullptr);
    EXPECT_EQ(greeter->Bye(5), 4);
    EXPECT_FALSE(cr::UnhookVMTSlot(vmt, 1));
}

// ---- Detours

// Targets compiled with the hookable prologue, and their replacements.
extern "C" __attribute__((noinline, ms_hook_prologue)) int DetourTargetAdd(int a, int b) { return a + b; }
extern "C" __attribute__((noinline, ms_hook_prologue)) int DetourTargetTwice(int a) { return a * 2; }
int (*volatile callAdd)(int, int) = &DetourTargetAdd;
int (*volatile callTwice)(int) = &DetourTargetTwice;
int (*originalAdd)(int, int) = nullptr;

int ReplacementAdd(int a, int b) { return originalAdd(a, b) * 100; }
int OtherReplacementAdd(int a, int b) { return 0; }
int ReplacementTwice(int a) { return -1; }

extern "C" __attribute__((noinline)) int FortyHelper() { return 40; }

int __fastcall Crafted99(int) { return 99; }
using Fastcall = int(__fastcall*)(int);

Fastcall AsFastcall(void* code) { return reinterpret_cast<Fastcall>(code); }

using Detours = HookUnit;

TEST_F(Detours, OurPrologueIsFiveBytesOfWholeInstructions)
{
    const std::uint8_t prologue[] = {0x8B, 0xFF, 0x55, 0x8B, 0xEC};
    EXPECT_EQ(std::memcmp(reinterpret_cast<const void*>(&DetourTargetAdd), prologue, sizeof prologue), 0);
}

TEST_F(Detours, TheOriginalRunsThroughTheTrampoline)
{
    void* target = reinterpret_cast<void*>(&DetourTargetAdd);
    const Bytes before = Snapshot(target, 8);
    originalAdd = reinterpret_cast<int (*)(int, int)>(
        cr::HookProcedure(target, reinterpret_cast<void*>(&ReplacementAdd), "DetourTargetAdd"));
    ASSERT_NE(originalAdd, nullptr);
    EXPECT_EQ(callAdd(2, 3), 500);
    EXPECT_EQ(originalAdd(2, 3), 5);

    // Twice with the same replacement: the same trampoline; another one is refused.
    EXPECT_EQ(cr::HookProcedure(target, reinterpret_cast<void*>(&ReplacementAdd), "DetourTargetAdd"),
              reinterpret_cast<void*>(originalAdd));
    try {
        cr::HookProcedure(target, reinterpret_cast<void*>(&OtherReplacementAdd), "DetourTargetAdd");
        ADD_FAILURE() << "no EHookingError";
    } catch (const cr::EHookingError& error) {
        EXPECT_EQ(error.Message(), L"Cannot hook the procedure \"DetourTargetAdd\".");
    }
    EXPECT_EQ(callAdd(2, 3), 500);

    EXPECT_TRUE(cr::UnhookProcedure(target));
    EXPECT_FALSE(cr::UnhookProcedure(target));
    EXPECT_EQ(std::memcmp(target, before.data(), before.size()), 0);
    EXPECT_EQ(callAdd(2, 3), 5);
}

TEST_F(Detours, UnhookByTrampoline)
{
    void* target = reinterpret_cast<void*>(&DetourTargetTwice);
    const Bytes before = Snapshot(target, 8);
    void* trampoline = cr::HookProcedure(target, reinterpret_cast<void*>(&ReplacementTwice), "DetourTargetTwice");
    EXPECT_EQ(callTwice(4), -1);
    EXPECT_TRUE(cr::UnhookProcedure(trampoline));
    EXPECT_EQ(std::memcmp(target, before.data(), before.size()), 0);
    EXPECT_EQ(callTwice(4), 8);
}

TEST_F(Detours, NullsAreRefused)
{
    EXPECT_THROW(cr::HookProcedure(nullptr, reinterpret_cast<void*>(&ReplacementTwice), "Nothing"), cr::EProcNull);
    try {
        cr::HookProcedure(nullptr, reinterpret_cast<void*>(&ReplacementTwice), "Nothing");
    } catch (const cr::EProcNull& error) {
        EXPECT_EQ(error.Message(), L"Cannot hook a null procedure (\"Nothing\").");
    }
}

// Crafted targets (fastcall: the argument in ECX, the result in EAX) whose
// first instructions need moving with care.
struct CraftedTarget {
    const char* name;
    Bytes code;
    std::vector<std::pair<int, int>> argumentsAndResults;
};

class CraftedDetours : public HookUnit, public ::testing::WithParamInterface<CraftedTarget> {};

TEST_P(CraftedDetours, OriginalBehaviourThroughTheTrampoline)
{
    const CraftedTarget& c = GetParam();
    CodeArea area;
    std::memcpy(area.At(0), c.code.data(), c.code.size());
    // Every crafted far destination is 0x40, which returns 7.
    area.Write(0x40, {0xB8, 0x07, 0x00, 0x00, 0x00, 0xC3});
    for (const auto& [argument, result] : c.argumentsAndResults) EXPECT_EQ(AsFastcall(area.At(0))(argument), result);

    const Bytes before = Snapshot(area.At(0), 16);
    void* trampoline = cr::HookProcedure(area.At(0), reinterpret_cast<void*>(&Crafted99), c.name);
    EXPECT_EQ(AsFastcall(area.At(0))(1), 99);
    for (const auto& [argument, result] : c.argumentsAndResults)
        EXPECT_EQ(AsFastcall(trampoline)(argument), result) << "argument " << argument;
    EXPECT_TRUE(cr::UnhookProcedure(area.At(0)));
    EXPECT_EQ(std::memcmp(area.At(0), before.data(), before.size()), 0);
}

// Near branches to 0x40 and the call to FortyHelper are patched in by name.
Bytes WithRel32(Bytes code, std::size_t at, std::size_t end, std::uintptr_t destinationOffset)
{
    code.resize(std::max<std::size_t>(code.size(), 0x10));
    const auto value = static_cast<std::int32_t>(destinationOffset - end);
    std::memcpy(code.data() + at, &value, 4);
    return code;
}

INSTANTIATE_TEST_SUITE_P(
    EHook, CraftedDetours,
    ::testing::Values(
        // jecxz +6 out of the covered 7 bytes
        CraftedTarget{"ShortJecxzOut",
                      {0xE3, 0x06, 0xB8, 0x01, 0, 0, 0, 0xC3, 0xB8, 0x02, 0, 0, 0, 0xC3},
                      {{0, 2}, {5, 1}}},
        // jmp short out of the covered 7 bytes
        CraftedTarget{"ShortJmpOut", {0xEB, 0x06, 0xB8, 0x01, 0, 0, 0, 0xC3, 0xB8, 0x02, 0, 0, 0, 0xC3}, {{0, 2}}},
        // test ecx,ecx; jz +6 out of the covered 9 bytes
        CraftedTarget{"ShortJzOut",
                      {0x85, 0xC9, 0x74, 0x06, 0xB8, 0x01, 0, 0, 0, 0xC3, 0xB8, 0x02, 0, 0, 0, 0xC3},
                      {{0, 2}, {3, 1}}},
        // jmp short to the next instruction: inside, kept as it is
        CraftedTarget{"ShortJmpInside", {0xEB, 0x00, 0xB8, 0x03, 0, 0, 0, 0xC3}, {{0, 3}}},
        // xor eax,eax; jecxz to exactly the end of the covered 9 bytes
        CraftedTarget{"ShortJumpToTheEndIsInside",
                      {0x31, 0xC0, 0xE3, 0x05, 0xB8, 0x0A, 0, 0, 0, 0x40, 0xC3},
                      {{0, 1}, {2, 11}}},
        // test ecx,ecx; jz near to 0x40 (returns 7)
        CraftedTarget{"NearJccOut",
                      WithRel32({0x85, 0xC9, 0x0F, 0x84, 0, 0, 0, 0, 0xB8, 0x01, 0, 0, 0, 0xC3}, 4, 8, 0x40),
                      {{0, 7}, {3, 1}}},
        // jmp near to 0x40 (returns 7)
        CraftedTarget{"NearJmpFirst", WithRel32({0xE9, 0, 0, 0, 0}, 1, 5, 0x40), {{0, 7}}}),
    [](const ::testing::TestParamInfo<CraftedTarget>& info) { return std::string(info.param.name); });

TEST_F(Detours, CallAtTheStartIsRelocated)
{
    CodeArea area;
    // call FortyHelper; add eax,2; ret
    area.Write(0, {0xE8, 0, 0, 0, 0, 0x83, 0xC0, 0x02, 0xC3});
    area.Rel32(1, 5, reinterpret_cast<const void*>(&FortyHelper));
    EXPECT_EQ(AsFastcall(area.At(0))(0), 42);
    void* trampoline = cr::HookProcedure(area.At(0), reinterpret_cast<void*>(&Crafted99), "CallFirst");
    EXPECT_EQ(AsFastcall(area.At(0))(0), 99);
    EXPECT_EQ(AsFastcall(trampoline)(0), 42);
    EXPECT_TRUE(cr::UnhookProcedure(trampoline));
}

TEST_F(Detours, ImportThunkLeadsToTheRealProcedure)
{
    CodeArea area;
    std::uint8_t* real = area.Write(0x40, {0xB8, 0x05, 0, 0, 0, 0xC3});
    std::uint8_t* cell = area.At(0x80);
    std::memcpy(cell, &real, 4);
    std::uint8_t* thunk = area.Write(0, {0xFF, 0x25, 0, 0, 0, 0, 0xCC, 0xCC});
    std::memcpy(thunk + 2, &cell, 4);

    void* trampoline = cr::HookProcedure(thunk, reinterpret_cast<void*>(&Crafted99), "Thunk");
    EXPECT_EQ(AsFastcall(thunk)(0), 99);
    EXPECT_EQ(AsFastcall(real)(0), 99);
    EXPECT_EQ(AsFastcall(trampoline)(0), 5);
    // The thunk itself is untouched: the detour lies on the procedure behind it.
    EXPECT_EQ(thunk[0], 0xFF);
    EXPECT_FALSE(cr::UnhookProcedure(thunk));
    EXPECT_TRUE(cr::UnhookProcedure(real));
    EXPECT_EQ(AsFastcall(thunk)(0), 5);
}

TEST_F(Detours, AFailedHookLeavesTheTargetIntact)
{
    PageBeforeReserved memory(PAGE_EXECUTE_READWRITE);
    // Three bytes of code before unreadable memory: no room for a jump.
    std::uint8_t* target = memory.Tail(3);
    std::memcpy(target, "\x31\xC0\xC3", 3);
    EXPECT_THROW(cr::HookProcedure(target, reinterpret_cast<void*>(&Crafted99), "Short"), cr::EHookingError);
    EXPECT_EQ(std::memcmp(target, "\x31\xC0\xC3", 3), 0);
    EXPECT_FALSE(cr::UnhookProcedure(target));
}

// ---- The unit's end restores everything

TEST_F(ImportPatches, UnitEndRestoresEveryPatchedByte)
{
    hooktest::Greeter* greeter = MakeGreeter();
    void* vmt = VmtOf(greeter);
    void* add = reinterpret_cast<void*>(&DetourTargetAdd);
    void* twice = reinterpret_cast<void*>(&DetourTargetTwice);
    const Bytes cells = Snapshot(processIdCell_, 4), tickCells = Snapshot(tickCountCell_, 4);
    const Bytes slots = Snapshot(static_cast<void**>(vmt) - 1, 12);
    const Bytes addBytes = Snapshot(add, 16), twiceBytes = Snapshot(twice, 16);

    const void* original = nullptr;
    ASSERT_TRUE(cr::HookProcByName({"kv_hooks_testdll.dll"}, "kernel32.dll", false, original, Code(&FakeTickCount),
                                   "GetTickCount"));
    cr::PatchImportTable(dll_.Get(), "kernel32.dll", realProcessId_, false, false, "pid", Code(&FakeProcessId));
    cr::HookVMTSlot(vmt, 0, reinterpret_cast<void*>(&HookedHello));
    cr::HookVMTSlot(vmt, 1, reinterpret_cast<void*>(&OtherHello));
    originalAdd = reinterpret_cast<int (*)(int, int)>(
        cr::HookProcedure(add, reinterpret_cast<void*>(&ReplacementAdd), "add"));
    cr::HookProcedure(twice, reinterpret_cast<void*>(&ReplacementTwice), "twice");
    EXPECT_EQ(callAdd(1, 1), 200);
    EXPECT_EQ(greeter->Hello(1), 100);
    EXPECT_EQ(tickCount_(), 7u);

    cr::FinalizeHookUnit();
    EXPECT_EQ(std::memcmp(processIdCell_, cells.data(), 4), 0);
    EXPECT_EQ(std::memcmp(tickCountCell_, tickCells.data(), 4), 0);
    EXPECT_EQ(std::memcmp(static_cast<void**>(vmt) - 1, slots.data(), 12), 0);
    EXPECT_EQ(std::memcmp(add, addBytes.data(), 16), 0);
    EXPECT_EQ(std::memcmp(twice, twiceBytes.data(), 16), 0);
    EXPECT_EQ(callAdd(1, 1), 2);
    EXPECT_EQ(greeter->Hello(1), 2);
    EXPECT_FALSE(cr::UnhookProcedure(add));
}

} // namespace
