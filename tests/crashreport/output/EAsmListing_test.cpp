#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "crashreport/core/EHook.h"
#include "crashreport/output/EAsmListing.h"

namespace {

using namespace kv::crashreport;

// A page of code between two inaccessible pages; the describer stand-in
// knows two procedures in it.
class AsmListing : public ::testing::Test {
protected:
    void SetUp() override
    {
        SYSTEM_INFO info;
        ::GetSystemInfo(&info);
        page_ = info.dwPageSize;
        memory_ = static_cast<std::uint8_t*>(::VirtualAlloc(nullptr, 3 * page_, MEM_RESERVE, PAGE_NOACCESS));
        ASSERT_NE(memory_, nullptr);
        code_ = static_cast<std::uint8_t*>(::VirtualAlloc(memory_ + page_, page_, MEM_COMMIT, PAGE_READWRITE));
        ASSERT_NE(code_, nullptr);
        std::memset(code_, 0x90, page_);
        g_code = code_;
        SetAsmAddressDescriber(Describer);
    }
    void TearDown() override
    {
        SetAsmAddressDescriber(nullptr);
        ::VirtualFree(memory_, 0, MEM_RELEASE);
    }
    // First: code_+0x100 .. +0x200, lines 10 + offset/16; Second: +0x200 ..
    // +0x300, lines 50 + offset/16.
    static void Describer(const void* address, TOspreyDebugInfo& info)
    {
        const auto offset = static_cast<std::intptr_t>(static_cast<const std::uint8_t*>(address) - g_code);
        if (offset < 0x100 || offset >= 0x300) return;
        const bool second = offset >= 0x200;
        const std::intptr_t inProc = offset - (second ? 0x200 : 0x100);
        info.DebugDetail = ddSourceCode;
        info.UnitName = "Shapes.pas";
        info.ClassName = "TShape";
        info.ProcedureName = second ? "Draw" : "Paint";
        info.Line = static_cast<std::uint32_t>((second ? 50 : 10) + inProc / 16);
        info.ProcOffsetLine = static_cast<std::uint32_t>(inProc / 16);
    }
    std::vector<std::string> Lines(const std::string& text)
    {
        std::vector<std::string> lines;
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t end = text.find("\r\n", at);
            lines.push_back(text.substr(at, end - at));
            at = end + 2;
        }
        return lines;
    }
    std::string Build(std::uint8_t* address)
    {
        heading_ = "unchanged";
        return BuildAssemblerSection(address, heading_);
    }
    static inline std::uint8_t* g_code = nullptr;
    DWORD page_ = 0;
    std::uint8_t* memory_ = nullptr;
    std::uint8_t* code_ = nullptr;
    std::string heading_;
};

TEST_F(AsmListing, UnreadableAddressGivesNothing)
{
    EXPECT_EQ(Build(memory_ + 16), "");
    EXPECT_EQ(heading_, "unchanged");
    EXPECT_EQ(Build(code_ + page_ - 2), ""); // only 2 of the 4 bytes readable
    EXPECT_EQ(heading_, "unchanged");
}

// Ten instructions before and after, the faulting one marked; the heading's
// rule is as long as the longest line.
TEST_F(AsmListing, TenBeforeAndTenAfter)
{
    std::uint8_t* address = code_ + 0x80; // no procedure here: no notes
    address[0] = 0x8B;
    address[1] = 0x45;
    address[2] = 0xF8;
    const std::vector<std::string> lines = Lines(Build(address));
    ASSERT_EQ(lines.size(), 21u);
    EXPECT_EQ(lines[0].substr(10), "nop");
    EXPECT_NE(lines[10].find("mov     eax, [ebp-$08]"), std::string::npos);
    EXPECT_NE(lines[10].find("; <-- EXCEPTION"), std::string::npos);
    char expectedAddress[9];
    std::snprintf(expectedAddress, sizeof expectedAddress, "%08X", static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(address)));
    EXPECT_EQ(lines[10].substr(0, 8), expectedAddress);
    std::size_t longest = 0;
    for (const auto& line : lines) longest = std::max(longest, line.size());
    EXPECT_EQ(heading_, "Assembler Information:\r\n" + std::string(longest, '-'));
}

// The first instruction past the address whose first byte lies in C2-CB
// ends the listing (C6: mov with an immediate counts too).
TEST_F(AsmListing, StopsAfterReturnRange)
{
    std::uint8_t* address = code_ + 0x80;
    const std::uint8_t bytes[] = {0x90, 0x90, 0xC6, 0x00, 0x01, 0x90};
    std::memcpy(address, bytes, sizeof bytes);
    const std::vector<std::string> lines = Lines(Build(address));
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_NE(lines.back().find("mov     byte ptr [eax], $01"), std::string::npos);
}

// Notes name the procedure and line; the listing starts at the note of the
// procedure that holds the address; a call to a procedure's start shows its
// name, a jump into one adds its line.
TEST_F(AsmListing, NotesAndTargets)
{
    std::uint8_t* address = code_ + 0x200;
    // call Second's start; jmp into Second at +0x40 (line 54)
    const std::int32_t toStart = static_cast<std::int32_t>((code_ + 0x200) - (address + 5));
    address[0] = 0xE8;
    std::memcpy(address + 1, &toStart, 4);
    const std::int32_t toMiddle = static_cast<std::int32_t>((code_ + 0x240) - (address + 10));
    address[5] = 0xE9;
    std::memcpy(address + 6, &toMiddle, 4);
    const std::string text = Build(address);
    const std::vector<std::string> lines = Lines(text);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "; Shapes.TShape.Draw (Line=50 - Offset=0)");
    EXPECT_EQ(lines[1], "; " + std::string(lines[0].size() - 2, '-'));
    EXPECT_NE(lines[2].find("call    Shapes.TShape.Draw"), std::string::npos) << text;
    EXPECT_EQ(lines[2].find("(Line="), std::string::npos) << text;
    EXPECT_NE(text.find("jmp     Shapes.TShape.Draw (Line=54)"), std::string::npos) << text;
    // The instructions of Paint before the address are cut with its note.
    EXPECT_EQ(text.find("Paint"), std::string::npos) << text;
    // A later line of the same procedure adds only its line note.
    EXPECT_NE(text.find(";\r\n; Line=51 - Offset=1\r\n; " + std::string(18, '-') + "\r\n"), std::string::npos) << text;
}

TEST_F(AsmListing, StringPreview)
{
    char* strings = reinterpret_cast<char*>(code_ + 0x800);
    std::strcpy(strings, "Hi\tthere");
    std::memset(strings + 0x40, 'x', 40);
    std::uint8_t* address = code_ + 0x80;
    const auto first = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(strings));
    const auto second = first + 0x40;
    address[0] = 0x68;
    std::memcpy(address + 1, &first, 4);
    address[5] = 0x68;
    std::memcpy(address + 6, &second, 4);
    const std::string text = Build(address);
    EXPECT_NE(text.find("; 'Hi.there' <-- EXCEPTION"), std::string::npos) << text;
    EXPECT_NE(text.find("; '" + std::string(32, 'x') + "'..."), std::string::npos) << text;
}

} // namespace

namespace {

__attribute__((noinline)) int ListedFunction(int value)
{
    int total = 0;
    for (int i = 0; i < value; ++i) total += i * value ^ (total >> 3);
    return total;
}

// Real compiled code: the chain of instruction lengths from up to 70 bytes
// before lands on the address, and the faulting line is the address's.
TEST(AsmListingRealCode, FindsTheInstructionBoundary)
{
    const auto* function = reinterpret_cast<const std::uint8_t*>(&ListedFunction);
    ASSERT_GT(ListedFunction(7), 0);
    int offset = 0;
    for (int i = 0; i < 4; ++i) {
        int length = 0;
        ASSERT_TRUE(kv::crashreport::GetInstructionLength(function + offset, length));
        offset += length;
    }
    std::string heading;
    const std::string text = kv::crashreport::BuildAssemblerSection(function + offset, heading);
    char address[16];
    std::snprintf(address, sizeof address, "%08X  ",
                  static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(function + offset)));
    const std::size_t line = text.find(address);
    ASSERT_NE(line, std::string::npos) << text;
    EXPECT_NE(text.find("<-- EXCEPTION", line), std::string::npos) << text;
    EXPECT_LT(text.find("<-- EXCEPTION", line), text.find("\r\n", line)) << text;
}

} // namespace
