#include "crashreport/core/debuginfo/EDebugTypes.h"

#include <gtest/gtest.h>

namespace kv::crashreport {
namespace {

TEST(TOspreyStackList, AddFromCopiesTheLineAndLeavesTheRestZero)
{
    TOspreyModuleInfo module;
    TOspreyDebugInfo source;
    source.DebugDetail = ddSourceCode;
    source.ModuleInfo = &module;
    source.Addr = 0x401234;
    source.UnitName = "Unit.cpp";
    source.ClassName = "kv::Class";
    source.ProcedureName = "Run";
    source.Line = 42;
    source.ProcOffsetLine = 3;
    source.ThreadID = 77;
    source.RunningThread = source.ErrorLine = source.IsALeak = true;
    source.LeakType = "TObject";
    source.LeakSize = source.LeakCount = 9;
    source.CustomMsg = "note";

    TOspreyStackList list;
    const TOspreyDebugInfo* entry = list.AddFrom(source);
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(entry, list[0]);
    EXPECT_EQ(entry->DebugDetail, ddSourceCode);
    EXPECT_EQ(entry->ModuleInfo, &module);
    EXPECT_EQ(entry->Addr, 0x401234u);
    EXPECT_EQ(entry->UnitName, "Unit.cpp");
    EXPECT_EQ(entry->ClassName, "kv::Class");
    EXPECT_EQ(entry->ProcedureName, "Run");
    EXPECT_EQ(entry->Line, 42u);
    EXPECT_EQ(entry->ProcOffsetLine, 0u);
    EXPECT_EQ(entry->ThreadID, 0u);
    EXPECT_FALSE(entry->RunningThread || entry->ErrorLine || entry->IsALeak);
    EXPECT_TRUE(entry->LeakType.empty() && entry->CustomMsg.empty());
    EXPECT_EQ(entry->LeakSize + entry->LeakCount, 0u);
}

TEST(TOspreyStackList, EntriesKeepTheirAddressWhileTheListGrowsAndShrinks)
{
    TOspreyStackList list;
    TOspreyDebugInfo source;
    source.Addr = 1;
    const TOspreyDebugInfo* first = list.AddFrom(source);
    for (std::uint32_t i = 2; i < 200; ++i) {
        source.Addr = i;
        list.AddFrom(source);
    }
    EXPECT_EQ(list[0], first);
    list.Delete(1);
    EXPECT_EQ(list[0], first);
    EXPECT_EQ(list[1]->Addr, 3u);
    EXPECT_EQ(list.Count(), 198);
    list.Clear();
    EXPECT_TRUE(list.Empty());
}

int g_freedSources = 0;
void CountFree(TELDebugInfoSource*) { ++g_freedSources; }

TEST(TOspreyModulesList, DeletingAnEntryFreesItsOutsideSourceThroughTheReaders)
{
    OutsideDebugSourceHooks hooks;
    hooks.Free = CountFree;
    SetOutsideDebugSourceHooks(hooks);
    g_freedSources = 0;
    {
        TOspreyModulesList list;
        for (int i = 0; i < 3; ++i) {
            auto module = std::make_unique<TOspreyModuleInfo>();
            module->OtherDebugData.reset(reinterpret_cast<TELDebugInfoSource*>(0x1000 + i));
            module->ExtraInformation.Options = std::make_unique<TOspreyModuleOptionsEx>("m");
            module->ExtraInformation.DebugInformation = std::make_unique<MemoryStream>(std::string(100, 'x'));
            module->FunctionsList.Add(std::make_unique<TOspreyFunctionInfo>());
            list.Add(std::move(module));
        }
        list.Delete(1);
        EXPECT_EQ(g_freedSources, 1);
    }
    EXPECT_EQ(g_freedSources, 3);
    SetOutsideDebugSourceHooks({});
}

TEST(TOspreyModulesList, SortsByHandleAsUnsignedAndFindsByHandle)
{
    TOspreyModulesList list;
    for (std::uintptr_t handle : {0x80000000u, 0x400000u, 0x10000000u, 0x7FF00000u}) {
        auto module = std::make_unique<TOspreyModuleInfo>();
        module->Handle = reinterpret_cast<HMODULE>(handle);
        list.Add(std::move(module));
    }
    TOspreyModuleInfo* high = list.FindByHandle(reinterpret_cast<HMODULE>(0x80000000u));
    list.SortByHandle();
    std::vector<std::uintptr_t> order;
    for (const auto& module : list) order.push_back(reinterpret_cast<std::uintptr_t>(module->Handle));
    EXPECT_EQ(order, (std::vector<std::uintptr_t>{0x400000u, 0x10000000u, 0x7FF00000u, 0x80000000u}));
    EXPECT_EQ(list.Last(), high); // sorting moves the entries, never copies them
    EXPECT_EQ(list.FindByHandle(reinterpret_cast<HMODULE>(0x12345)), nullptr);
}

TEST(TOspreyProcessesList, SortsByIdAndFindsEveryIdByBinarySearch)
{
    TOspreyProcessesList list;
    const std::uint32_t ids[] = {0xFFFFFFF0u, 8, 4, 0x80000000u, 12, 1000};
    for (std::uint32_t id : ids) {
        auto process = std::make_unique<TOspreyProcessInfo>();
        process->ProcessID = id;
        list.Add(std::move(process));
    }
    list.SortByProcessID();
    EXPECT_EQ(list[0]->ProcessID, 4u);
    EXPECT_EQ(list.Last()->ProcessID, 0xFFFFFFF0u);
    for (std::uint32_t id : ids) {
        const int index = list.FindProcessID(id);
        ASSERT_GE(index, 0) << id;
        EXPECT_EQ(list[index]->ProcessID, id);
    }
    EXPECT_EQ(list.FindProcessID(5), -1);
    EXPECT_EQ(TOspreyProcessesList().FindProcessID(5), -1);
}

TEST(TOspreyFunctionsList, SortsByAddress)
{
    TOspreyFunctionsList list;
    for (std::uintptr_t address : {0x7000u, 0x1000u, 0x80001000u, 0x3000u}) {
        auto function = std::make_unique<TOspreyFunctionInfo>();
        function->Address = reinterpret_cast<const void*>(address);
        list.Add(std::move(function));
    }
    list.SortByAddress();
    for (int i = 1; i < list.Count(); ++i)
        EXPECT_LT(reinterpret_cast<std::uintptr_t>(list[i - 1]->Address), reinterpret_cast<std::uintptr_t>(list[i]->Address));
}

TEST(ShortText, CutsAtTheLimit)
{
    EXPECT_EQ(ShortText(std::string(300, 'a')).size(), 255u);
    EXPECT_EQ(ShortText("abc", 2), "ab");
    EXPECT_EQ(ShortText("abc"), "abc");
}

} // namespace
} // namespace kv::crashreport
