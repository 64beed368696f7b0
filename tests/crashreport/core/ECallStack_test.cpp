#include <gtest/gtest.h>

#include <unwind.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "crashreport/core/ECallStack.h"
#include "platform/Handles.h"

namespace {

using namespace kv::crashreport;

constexpr std::uint32_t kPage = 4096;

// Three pages: fake code, fake stack cells, and an unreadable page after them.
class FakeMemory {
public:
    FakeMemory()
    {
        memory_.Reset(static_cast<std::uint8_t*>(
            ::VirtualAlloc(nullptr, 3 * kPage, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)));
        base_ = memory_.Get();
        std::memset(base_, 0x90, 2 * kPage);
        DWORD old = 0;
        ::VirtualProtect(base_ + 2 * kPage, kPage, PAGE_NOACCESS, &old);
    }

    std::uint32_t Code(std::uint32_t offset) const { return Address(offset); }
    std::uint32_t Cells(std::uint32_t offset) const { return Address(kPage + offset); }
    std::uint32_t Unreadable() const { return Address(2 * kPage); }
    void Put(std::uint32_t address, const std::vector<std::uint8_t>& bytes) const
    {
        std::memcpy(reinterpret_cast<void*>(address), bytes.data(), bytes.size());
    }
    void Put32(std::uint32_t address, std::uint32_t value) const
    {
        std::memcpy(reinterpret_cast<void*>(address), &value, sizeof value);
    }

private:
    std::uint32_t Address(std::uint32_t offset) const { return reinterpret_cast<std::uint32_t>(base_) + offset; }
    kv::VirtualMemory<> memory_;
    std::uint8_t* base_ = nullptr;
};

std::vector<std::uint8_t> Le32(std::uint32_t value)
{
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

std::vector<std::uint8_t> Join(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<std::uint32_t> Addresses(const TOspreyStackList& list)
{
    std::vector<std::uint32_t> result;
    for (const auto& entry : list) result.push_back(entry->Addr);
    return result;
}

// Scans one stack cell holding `returnAddress`; module-only entries.
std::vector<std::uint32_t> ScanOneCell(const FakeMemory& memory, std::uint32_t returnAddress, bool follow = false)
{
    const std::uint32_t cell = memory.Cells(0);
    memory.Put32(cell, returnAddress);
    TOspreyStackList list;
    TOspreyScanSettings settings;
    settings.FollowCallTargets = follow;
    ScanStackForCalls(list, nullptr, cell, settings, cell + 4);
    return Addresses(list);
}

// One call shape: its bytes (ending right before the return address) and
// where, counted back from the return address, the entry must point (0: no entry).
struct CallShape {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::uint32_t callBytes;
};

class CallShapes : public ::testing::TestWithParam<CallShape> {};

TEST_P(CallShapes, EntryAtTheCallInstructionOrNone)
{
    FakeMemory memory;
    const CallShape& shape = GetParam();
    const std::uint32_t at = memory.Code(64);
    memory.Put(at, shape.bytes);
    const std::uint32_t returnAddress = at + static_cast<std::uint32_t>(shape.bytes.size());
    const std::vector<std::uint32_t> found = ScanOneCell(memory, returnAddress);
    if (shape.callBytes == 0) {
        EXPECT_TRUE(found.empty());
    } else {
        EXPECT_EQ(found, std::vector<std::uint32_t>{returnAddress - shape.callBytes});
    }
}

INSTANTIATE_TEST_SUITE_P(
    ByteTable, CallShapes,
    ::testing::Values(CallShape{"NoCall", {0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90}, 0},
                      CallShape{"CallEax", {0xFF, 0xD0}, 2}, CallShape{"CallEdi", {0xFF, 0xD7}, 2},
                      CallShape{"CallAtEax", {0xFF, 0x10}, 2}, CallShape{"CallAtEbx", {0xFF, 0x13}, 2},
                      CallShape{"CallAtEsi", {0xFF, 0x16}, 2}, CallShape{"CallAtEdi", {0xFF, 0x17}, 2},
                      // FF 14 needs an SIB byte and FF 15 a disp32: neither is two bytes long.
                      CallShape{"TwoByteFF14IsNoCall", {0xFF, 0x14}, 0},
                      CallShape{"TwoByteFF15IsNoCall", {0xFF, 0x15}, 0},
                      CallShape{"Disp8After8BAtFive", {0x8B, 0x00, 0xFF, 0x50, 0x08}, 3},
                      CallShape{"Disp8After8BAtSix", {0x8B, 0x40, 0x04, 0xFF, 0x57, 0x10}, 3},
                      CallShape{"Disp8Without8B", {0x90, 0x90, 0xFF, 0x50, 0x08}, 0},
                      CallShape{"Disp8EspBaseIsNoRegisterCall", {0x8B, 0x00, 0xFF, 0x54, 0x08}, 0},
                      CallShape{"Disp32", {0xFF, 0x95, 0x00, 0x01, 0x00, 0x00}, 6},
                      CallShape{"Disp32EspBaseWithoutSib", {0xFF, 0x94, 0x00, 0x01, 0x00, 0x00}, 0},
                      CallShape{"CallAtEsp", {0xFF, 0x14, 0x24}, 3},
                      CallShape{"CallAtEspDisp8", {0xFF, 0x54, 0x24, 0x08}, 4},
                      CallShape{"CallAtEspDisp32", {0xFF, 0x94, 0x24, 0x00, 0x01, 0x00, 0x00}, 7}),
    [](const ::testing::TestParamInfo<CallShape>& info) { return std::string(info.param.name); });

// Direct calls: the target is checked (through an import thunk) and, when
// followed, shown before the call unless it starts with another call.
TEST(CallTargets, DirectCallFollowsImportThunkAndSkipsCallTargets)
{
    FakeMemory memory;
    const std::uint32_t realTarget = memory.Code(512);
    memory.Put(realTarget, {0xC3});
    const std::uint32_t importCell = memory.Cells(256);
    memory.Put32(importCell, realTarget);
    const std::uint32_t thunk = memory.Code(256);
    memory.Put(thunk, Join({0xFF, 0x25}, Le32(importCell)));

    const std::uint32_t call = memory.Code(64);
    memory.Put(call, Join({0xE8}, Le32(thunk - (call + 5))));
    EXPECT_EQ(ScanOneCell(memory, call + 5, true), (std::vector<std::uint32_t>{realTarget, call}));
    EXPECT_EQ(ScanOneCell(memory, call + 5, false), (std::vector<std::uint32_t>{call}));

    const std::uint32_t callingTarget = memory.Code(768);
    memory.Put(callingTarget, {0xE8, 0, 0, 0, 0});
    memory.Put(call, Join({0xE8}, Le32(callingTarget - (call + 5))));
    EXPECT_EQ(ScanOneCell(memory, call + 5, true), (std::vector<std::uint32_t>{call}));

    memory.Put(call, Join({0xE8}, Le32(memory.Unreadable() - (call + 5))));
    EXPECT_TRUE(ScanOneCell(memory, call + 5, true).empty());
}

// A call through an import cell counts only when the cell and its target can be read.
TEST(CallTargets, ImportPointerCallNeedsReadableCellAndTarget)
{
    FakeMemory memory;
    const std::uint32_t call = memory.Code(64);
    const std::uint32_t cell = memory.Cells(256);
    memory.Put32(cell, memory.Code(512));
    memory.Put(call, Join({0xFF, 0x15}, Le32(cell)));
    EXPECT_EQ(ScanOneCell(memory, call + 6), (std::vector<std::uint32_t>{call}));

    memory.Put(call, Join({0xFF, 0x15}, Le32(memory.Unreadable())));
    EXPECT_TRUE(ScanOneCell(memory, call + 6).empty());

    memory.Put32(cell, memory.Unreadable());
    memory.Put(call, Join({0xFF, 0x15}, Le32(cell)));
    EXPECT_TRUE(ScanOneCell(memory, call + 6).empty());
}

// Values that point where the seven bytes before them cannot be read add nothing.
TEST(CallTargets, ValuesNearUnreadableMemoryAddNothing)
{
    FakeMemory memory;
    EXPECT_TRUE(ScanOneCell(memory, memory.Unreadable() + 16).empty());
    EXPECT_TRUE(ScanOneCell(memory, 3).empty());
}

// The scan stops at 102400 bytes above its start, and reads no cell that
// ends past the top.
TEST(StackRange, CapAndTopBound)
{
    FakeMemory memory;
    const std::uint32_t call = memory.Code(64);
    memory.Put(call, {0xFF, 0xD0});
    std::vector<std::uint32_t> stack(MaxScannedStackBytes / 4 + 4, 0);
    const auto start = reinterpret_cast<std::uint32_t>(stack.data());
    stack[MaxScannedStackBytes / 4 - 1] = call + 2; // the last cell inside the cap
    stack[MaxScannedStackBytes / 4] = call + 2;     // the first one past it
    TOspreyStackList list;
    TOspreyScanSettings settings;
    ScanStackForCalls(list, nullptr, start, settings, start + static_cast<std::uint32_t>(stack.size() * 4));
    EXPECT_EQ(list.Count(), 1);

    std::vector<std::uint32_t> small{call + 2, call + 2};
    const auto smallStart = reinterpret_cast<std::uint32_t>(small.data());
    TOspreyStackList partial;
    TOspreyScanSettings other;
    ScanStackForCalls(partial, nullptr, smallStart, other, smallStart + 7); // the second cell ends past the top
    EXPECT_EQ(partial.Count(), 1);
}

// An unreadable page inside the range is skipped; the cells right before and
// after it are still read, whatever the 400-byte blocks cover.
TEST(StackRange, UnreadablePagesAreSkipped)
{
    kv::VirtualMemory<> owner(
        static_cast<std::uint8_t*>(::VirtualAlloc(nullptr, 4 * kPage, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)));
    std::uint8_t* region = owner.Get();
    ASSERT_NE(region, nullptr);
    std::memset(region, 0x90, 4 * kPage);
    DWORD old = 0;
    ::VirtualProtect(region + 2 * kPage, kPage, PAGE_NOACCESS, &old);
    const auto base = reinterpret_cast<std::uint32_t>(region);
    const std::uint32_t call = base + 64;
    std::memcpy(region + 64, "\xFF\xD0", 2);
    const std::uint32_t value = call + 2;
    for (std::uint32_t offset : {kPage, 2 * kPage - 4, 3 * kPage, 4 * kPage - 4}) std::memcpy(region + offset, &value, 4);
    TOspreyStackList list;
    TOspreyScanSettings settings;
    ScanStackForCalls(list, nullptr, base + kPage, settings, base + 4 * kPage);
    EXPECT_EQ(list.Count(), 4);
}

TEST(StackEntries, ErrorAddressComesFirstAndIsMarked)
{
    FakeMemory memory;
    const std::uint32_t call = memory.Code(64);
    memory.Put(call, {0xFF, 0xD0});
    const std::uint32_t cell = memory.Cells(0);
    memory.Put32(cell, call + 2);
    TOspreyStackList list;
    TOspreyScanSettings settings;
    settings.ThreadID = 77;
    settings.RunningThread = true;
    ScanStackForCalls(list, reinterpret_cast<const void*>(memory.Code(300)), cell, settings, cell + 4);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list[0]->Addr, memory.Code(300));
    EXPECT_TRUE(list[0]->ErrorLine);
    EXPECT_FALSE(list[1]->ErrorLine);
    EXPECT_EQ(list[1]->DebugDetail, ddModule);
    EXPECT_EQ(list[1]->ThreadID, 77u);
    EXPECT_TRUE(list[1]->RunningThread);
}

TEST(StackEntries, ModuleEntryNamesItsModule)
{
    TOspreyStackList list;
    TOspreyScanSettings settings;
    const auto own = reinterpret_cast<std::uint32_t>(&AddStackEntry);
    AddStackEntry(list, own, false, settings);
    AddStackEntry(list, own + 1, false, settings);
    ASSERT_EQ(list.Count(), 2);
    ASSERT_NE(list[0]->ModuleInfo, nullptr);
    EXPECT_EQ(list[0]->ModuleInfo, list[1]->ModuleInfo); // one record per module
    EXPECT_EQ(list[0]->ModuleInfo->Handle, ::GetModuleHandleA(nullptr));
    EXPECT_NE(list[0]->ModuleInfo->Name.find(".exe"), std::string::npos);
}

TEST(StackEntries, ListTakesNoMoreThan1025)
{
    TOspreyStackList list;
    TOspreyScanSettings settings;
    for (int i = 0; i < 1024; ++i) list.Add(std::make_unique<TOspreyDebugInfo>());
    AddStackEntry(list, 0x1000, false, settings);
    EXPECT_EQ(list.Count(), 1025);
    AddStackEntry(list, 0x1000, false, settings);
    EXPECT_EQ(list.Count(), 1025);
}

TEST(StackEntries, MaskFirstIndexAndMaxCount)
{
    TOspreyStackList list;
    TOspreyScanSettings settings;
    settings.DetailMask = {ddProcedure};
    AddStackEntry(list, 0x1000, false, settings); // a module-only entry is not kept
    EXPECT_EQ(list.Count(), 0);

    TOspreyScanSettings window;
    window.FirstIndex = 2;
    window.MaxCount = 2;
    for (std::uint32_t address = 0x1000; address < 0x1006; ++address) AddStackEntry(list, address, false, window);
    EXPECT_EQ(Addresses(list), (std::vector<std::uint32_t>{0x1002, 0x1003}));
}

// ---- cleaning

struct Line {
    TOspreyDebugDetail detail;
    std::uint32_t addr;
    const char* procedure;
    std::uint32_t offsetLine;
    TOspreyModuleInfo* module;
    std::uint32_t thread;
};

void Fill(TOspreyStackList& list, const std::vector<Line>& lines)
{
    for (const Line& line : lines) {
        auto entry = std::make_unique<TOspreyDebugInfo>();
        entry->DebugDetail = line.detail;
        entry->Addr = line.addr;
        entry->UnitName = "Unit.cpp";
        entry->ProcedureName = line.procedure;
        entry->ProcOffsetLine = line.offsetLine;
        entry->ModuleInfo = line.module;
        entry->ThreadID = line.thread;
        list.Add(std::move(entry));
    }
}

std::vector<TOspreyDebugDetail> Details(const TOspreyStackList& list)
{
    std::vector<TOspreyDebugDetail> result;
    for (const auto& entry : list) result.push_back(entry->DebugDetail);
    return result;
}

TEST(CleanCallStack, AddressFoundTwiceInOneModuleIsShownOnce)
{
    TOspreyModuleInfo a, b;
    TOspreyStackList list;
    Fill(list, {{ddProcedure, 0x10, "F", 1, &a, 1},
                                      {ddProcedure, 0x10, "F", 1, &a, 1},
                                      {ddProcedure, 0x10, "F", 1, &b, 1},
                                      {ddProcedure, 0x20, "G", 1, &a, 1},
                                      {ddProcedure, 0x30, "H", 1, &a, 1},
                                      {ddProcedure, 0x40, "I", 1, &a, 1},
                                      {ddProcedure, 0x20, "G", 1, &a, 1}});
    CleanCallStack(list, 0, TOspreyScanSettings{});
    // The first is a repeat of the second; the third is in another module;
    // the fourth's repeat lies three procedure entries further.
    EXPECT_EQ(Details(list), (std::vector<TOspreyDebugDetail>{ddNone, ddProcedure, ddProcedure, ddProcedure,
                                                               ddProcedure, ddProcedure, ddProcedure}));
}

TEST(CleanCallStack, RepeatsBeforeTheFirstNewIndexStay)
{
    TOspreyModuleInfo a;
    TOspreyStackList list;
    Fill(list, {{ddProcedure, 0x10, "F", 1, &a, 1}, {ddProcedure, 0x10, "F", 1, &a, 1}});
    CleanCallStack(list, 1, TOspreyScanSettings{});
    EXPECT_EQ(Details(list), (std::vector<TOspreyDebugDetail>{ddProcedure, ddProcedure}));
}

TEST(CleanCallStack, StaleEntriesBeforeACalledRoutineAreHidden)
{
    TOspreyModuleInfo a;
    // Foo raised (line 5 of it); Bar and Baz are stale cells; Foo's own start
    // was added as the target of the call from Main.
    TOspreyStackList list;
    Fill(list, {{ddSourceCode, 0x100, "Foo", 5, &a, 1},
                                      {ddSourceCode, 0x200, "Bar", 3, &a, 1},
                                      {ddSourceCode, 0x300, "Baz", 2, &a, 1},
                                      {ddSourceCode, 0x0F0, "Foo", 0, &a, 1},
                                      {ddSourceCode, 0x400, "Main", 7, &a, 1}});
    CleanCallStack(list, 0, TOspreyScanSettings{});
    EXPECT_EQ(Details(list),
              (std::vector<TOspreyDebugDetail>{ddSourceCode, ddNone, ddNone, ddSourceCode, ddSourceCode}));
}

TEST(CleanCallStack, CalledRoutineWithoutItsBodyAboveHidesNothing)
{
    TOspreyModuleInfo a;
    TOspreyStackList list;
    Fill(list, {{ddSourceCode, 0x100, "Other", 5, &a, 1},
                                      {ddSourceCode, 0x200, "Bar", 3, &a, 1},
                                      {ddSourceCode, 0x0F0, "Foo", 0, &a, 1}});
    CleanCallStack(list, 0, TOspreyScanSettings{});
    EXPECT_EQ(Details(list), (std::vector<TOspreyDebugDetail>{ddSourceCode, ddSourceCode, ddSourceCode}));
}

// ---- live: a real throw four calls deep

struct Backtrace {
    std::vector<std::uint32_t> returnAddresses;
};

_Unwind_Reason_Code CollectFrame(_Unwind_Context* context, void* data)
{
    static_cast<Backtrace*>(data)->returnAddresses.push_back(static_cast<std::uint32_t>(_Unwind_GetIP(context)));
    return _URC_NO_REASON;
}

struct LiveCapture {
    Backtrace unwinder;
    std::unique_ptr<TOspreyStackList> scanned;
};
LiveCapture* g_capture = nullptr;

// Runs while the exception leaves the deepest level: both views see the
// four levels still on the stack.
struct CaptureOnUnwind {
    ~CaptureOnUnwind()
    {
        volatile std::uint32_t marker = 0;
        const auto start = reinterpret_cast<std::uint32_t>(&marker);
        const auto top = reinterpret_cast<std::uint32_t>(reinterpret_cast<NT_TIB*>(::NtCurrentTeb())->StackBase);
        _Unwind_Backtrace(CollectFrame, &g_capture->unwinder);
        g_capture->scanned = BuildRawCallStack(nullptr, start, top, ::GetCurrentThreadId());
    }
};

volatile int g_depth = 0;
void Deeper() { g_depth = g_depth + 1; }
__attribute__((noinline)) void Level4()
{
    CaptureOnUnwind capture;
    if (g_depth >= 0) throw std::runtime_error("four deep");
}
__attribute__((noinline)) void Level3() { Level4(); Deeper(); }
__attribute__((noinline)) void Level2() { Level3(); Deeper(); }
__attribute__((noinline)) void Level1() { Level2(); Deeper(); }

TEST(LiveStack, UnwinderFramesAppearInOrder)
{
    LiveCapture capture;
    g_capture = &capture;
    try {
        Level1();
    } catch (const std::runtime_error&) {
    }
    g_capture = nullptr;
    ASSERT_TRUE(capture.scanned);
    // The frames returning into Level3, Level2, Level1 and this test: the
    // unwinder gives them after its own and the throw's frames.
    std::vector<std::uint32_t> wanted;
    for (std::uint32_t ip : capture.unwinder.returnAddresses) {
        std::uint32_t target = 0;
        const std::uint32_t call = RecognizeCallBefore(ip, false, target);
        // The small levels may lie side by side: one test per frame.
        for (auto level : {&Level3, &Level2, &Level1}) {
            const auto begin = reinterpret_cast<std::uint32_t>(level);
            if (call >= begin && call < begin + 64) {
                wanted.push_back(call);
                break;
            }
        }
    }
    ASSERT_EQ(wanted.size(), 3u);
    const std::vector<std::uint32_t> scanned = Addresses(*capture.scanned);
    std::size_t from = 0;
    for (std::uint32_t call : wanted) {
        std::size_t at = from;
        while (at < scanned.size() && scanned[at] != call) ++at;
        ASSERT_LT(at, scanned.size()) << std::hex << "call at " << call << " not found in order";
        from = at + 1;
    }
}

} // namespace
