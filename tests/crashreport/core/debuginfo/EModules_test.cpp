#include "crashreport/core/debuginfo/EModules.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "crashreport/core/ESystem.h"
#include "crashreport/core/debuginfo/EDebug.h"
#include "crashreport/core/debuginfo/EDebugData.h"
#include "platform/Handles.h"

namespace kv::crashreport {
namespace {

class ModulesListTest : public testing::Test {
protected:
    void SetUp() override { CreateModulesLists(); }
    void TearDown() override
    {
        DestroyModulesLists();
        SetPlatformVersionOverride(nullptr);
    }
};

TEST_F(ModulesListTest, BuildsEveryLoadedModuleSortedAndCompletesRebuildEntriesInPlace)
{
    BuildModulesList();
    TOspreyModulesList& list = *ModulesList();
    ASSERT_GE(list.Count(), 3);
    for (int i = 1; i < list.Count(); ++i)
        EXPECT_LT(reinterpret_cast<std::uintptr_t>(list[i - 1]->Handle), reinterpret_cast<std::uintptr_t>(list[i]->Handle));

    const HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    TOspreyModuleInfo* made = list.FindByHandle(kernel);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->ModuleType, mtUnknown); // made during the rebuild
    EXPECT_TRUE(made->FunctionsList.Empty());
    EXPECT_NE(made->Name.find("kernel32"), std::string::npos);

    // The first later lookup completes the same entry: stack entries may hold it.
    TOspreyModuleInfo* looked = GetModuleInfoByHandle(kernel);
    EXPECT_EQ(looked, made);
    EXPECT_EQ(looked->ModuleType, mtOSLibrary);
    EXPECT_FALSE(looked->FunctionsList.Empty());

    TOspreyModuleInfo* own = GetModuleInfoByAddress(reinterpret_cast<const void*>(&BuildModulesList));
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own->Handle, ::GetModuleHandleA(nullptr));
    EXPECT_EQ(own->ModuleType, mtMainModule);
    EXPECT_TRUE(own->FunctionsList.Empty()); // the main module's exports are never listed
    EXPECT_GT(own->Size, 0u);
    // This test executable carries no reporter data (its reporter stays off):
    // the default version and no own lines.
    EXPECT_EQ(own->ExtraInformation.OspreyVersion, ELDataVersion);
    EXPECT_EQ(own->ExtraInformation.DebugInformation, nullptr);
}

TEST_F(ModulesListTest, UnknownAddressHasNoModule)
{
    EXPECT_EQ(GetModuleInfoByAddress(reinterpret_cast<const void*>(0x10)), nullptr);
    EXPECT_EQ(GetModuleInfoByHandle(nullptr), nullptr);
}

TEST_F(ModulesListTest, AnyLoadedModulesAddressResolvesThroughItsOwnData)
{
    // The program (with its data) loaded beside the tests, and the first
    // sampled address addr2line knows a line for (address_oracle.py).
    ModuleHandle program(::LoadLibraryExW(L"D:\\debuginfo\\Kestrelvane.exe", nullptr, DONT_RESOLVE_DLL_REFERENCES));
    ASSERT_TRUE(program.IsValid()) << "address_oracle.py has not run";
    std::ifstream answers("D:\\debuginfo\\addresses.txt");
    std::string rva, file, line;
    while (std::getline(answers, rva, '\t') && std::getline(answers, file, '\t') && std::getline(answers, line, '\t')) {
        std::string symbol;
        std::getline(answers, symbol);
        if (file.size() > 4 && file.substr(file.size() - 4) == ".cpp" && line != "0" && !IsHiddenUnit(file)) break;
    }
    ASSERT_FALSE(rva.empty());
    const auto* address = reinterpret_cast<const std::uint8_t*>(program.Get()) + std::stoul(rva, nullptr, 16);

    TOspreyDebugInfo info;
    GetDebugInfoOfAddress(address, 42, info, true, false);
    ASSERT_NE(info.ModuleInfo, nullptr);
    EXPECT_EQ(info.ModuleInfo->Handle, program.Get());
    EXPECT_EQ(info.ModuleInfo->ModuleType, mtMainModule);
    EXPECT_EQ(info.DebugDetail, ddSourceCode);
    EXPECT_EQ(info.UnitName, file);
    EXPECT_EQ(info.Line, std::stoul(line));
    EXPECT_EQ(info.ThreadID, 42u);
    EXPECT_TRUE(info.ErrorLine);
    EXPECT_FALSE(info.RunningThread);

    // This executable has no data and, as the main module, no exports: the module only.
    GetDebugInfoOfAddress(reinterpret_cast<const void*>(&BuildModulesList), 0, info, false, false);
    EXPECT_EQ(info.DebugDetail, ddModule);
    EXPECT_TRUE(info.UnitName.empty() && info.ProcedureName.empty());
    EXPECT_EQ(info.Line, 0u);
}

std::map<std::string, std::string> ObjdumpExports()
{
    std::ifstream file("D:\\debuginfo\\exports.txt");
    std::map<std::string, std::string> exports;
    std::string line;
    while (std::getline(file, line)) exports[line.substr(0, line.find('\t'))] = line.substr(line.find('\t') + 1);
    return exports;
}

TEST_F(ModulesListTest, ExportsOfADllWithAForwarderAgreeWithObjdump)
{
    const auto expected = ObjdumpExports();
    ASSERT_EQ(expected.size(), 5u) << "address_oracle.py has not run";
    ModuleHandle dll(::LoadLibraryW(L"D:\\debuginfo\\ExportsFixture.dll"));
    ASSERT_TRUE(dll.IsValid());
    const auto base = reinterpret_cast<std::uintptr_t>(dll.Get());

    TOspreyFunctionsList list;
    ASSERT_TRUE(FillExportsList(dll.Get(), list));
    ASSERT_EQ(list.Count(), 5);
    for (int i = 1; i < list.Count(); ++i)
        EXPECT_LE(reinterpret_cast<std::uintptr_t>(list[i - 1]->Address), reinterpret_cast<std::uintptr_t>(list[i]->Address));
    for (const auto& function : list) {
        SCOPED_TRACE(function->Name);
        ASSERT_EQ(expected.count(function->Name), 1u);
        const std::string& target = expected.at(function->Name);
        if (target.rfind("-> ", 0) == 0) {
            EXPECT_EQ(target, "-> kernel32.lstrlenA");
            EXPECT_EQ(function->Address, reinterpret_cast<const void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "lstrlenA")));
        } else {
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(function->Address), base + std::stoul(target, nullptr, 16));
            EXPECT_EQ(function->Size, 0u);
        }
    }

    // Addresses inside the DLL are described by its exports.
    TOspreyDebugInfo info;
    auto describe = [&](const char* name) {
        GetDebugInfoOfAddress(reinterpret_cast<const std::uint8_t*>(::GetProcAddress(dll.Get(), name)) + 2, 0, info,
                              false, false);
    };
    describe("FixtureFirst");
    EXPECT_EQ(info.DebugDetail, ddProcedure);
    EXPECT_EQ(info.ProcedureName, "FixtureFirst");
    describe("Fixture.Unit.Dotted");
    EXPECT_EQ(info.DebugDetail, ddUnitAndProcedure);
    EXPECT_EQ(info.UnitName, "Fixture.cpp");
    EXPECT_EQ(info.ClassName, "Unit");
    EXPECT_EQ(info.ProcedureName, "Dotted");
    describe("@Fixture@TBorland@Run$qqrv");
    EXPECT_EQ(info.UnitName, "Fixture.cpp");
    EXPECT_EQ(info.ClassName, "TBorland");
    EXPECT_EQ(info.ProcedureName, "Run");
    EXPECT_EQ(info.ModuleInfo->ModuleType, mtOSLibrary);
}

struct WayCase {
    const char* Name;
    PlatformVersion Version;
    bool Memory;  // the open-process ways measure the working set
    bool Threads; // every way but EnumProcesses counts threads
};

class ProcessesListWays : public testing::TestWithParam<WayCase> {
protected:
    void TearDown() override
    {
        SetPlatformVersionOverride(nullptr);
        DestroyModulesLists();
    }
};

TEST_P(ProcessesListWays, ListOwnProcessSortedById)
{
    const WayCase& c = GetParam();
    SetPlatformVersionOverride(&c.Version);
    BuildProcessesList();
    const TOspreyProcessesList& list = *ProcessesList();
    ASSERT_GE(list.Count(), 1);
    for (int i = 1; i < list.Count(); ++i) EXPECT_LT(list[i - 1]->ProcessID, list[i]->ProcessID);
    const int own = list.FindProcessID(::GetCurrentProcessId());
    ASSERT_GE(own, 0);
    const TOspreyProcessInfo& process = *list[own];
    EXPECT_NE(process.Name.find("crashreport_core_tests.exe"), std::string::npos) << process.Name;
    EXPECT_EQ(process.Memory > 0, c.Memory);
    EXPECT_GE(process.Threads, c.Threads ? 1u : 0u);
    EXPECT_NE(process.Priority, 0u);
    for (const auto& entry : list) EXPECT_FALSE(entry->Name.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Ways, ProcessesListWays,
    testing::Values(WayCase{"SnapshotAloneFromVista", {true, 6}, false, true},
                    WayCase{"SnapshotAndOpenProcessOnXP", {true, 5}, true, true},
                    WayCase{"EnumProcessesOnNT4", {true, 4}, true, true},
                    WayCase{"SnapshotAndOpenProcessOn9x", {false, 4}, true, true}),
    [](const testing::TestParamInfo<WayCase>& info) { return std::string(info.param.Name); });

TEST(ModuleFacts, TypesAndVersionTexts)
{
    EXPECT_EQ(GetModuleType(::GetModuleHandleA(nullptr)), mtMainModule);
    EXPECT_EQ(GetModuleType(::GetModuleHandleA("kernel32.dll")), mtOSLibrary);
    EXPECT_EQ(GetModuleType(reinterpret_cast<HMODULE>(0x10000)), mtUnknown);
    EXPECT_FALSE(ModuleIsDLL(::GetModuleHandleA(nullptr)));
    EXPECT_TRUE(ModuleIsDLL(::GetModuleHandleA("kernel32.dll")));
    std::string description, version;
    GetFileVersionText(GetModuleFullName(::GetModuleHandleA("kernel32.dll")), description, version);
    EXPECT_FALSE(description.empty());
    EXPECT_EQ(std::count(version.begin(), version.end(), '.'), 3);
    GetFileVersionText("", description, version);
    EXPECT_TRUE(description.empty() && version.empty());
}

TEST(ModuleFacts, ReportTexts)
{
    EXPECT_EQ(ExtractFileFolder("C:\\a\\b\\c.dll"), "C:\\a\\b");
    EXPECT_EQ(ExtractFileFolder("C:\\c.dll"), "C:\\");
    EXPECT_EQ(ExtractFileFolder("\\??\\C:\\w\\x.sys"), "C:\\w");
    EXPECT_EQ(FormatSizeKb(0), "");
    EXPECT_EQ(FormatSizeKb(1024), "1 Kb");
    EXPECT_EQ(FormatSizeKb(1536), "2 Kb");
    EXPECT_EQ(FormatSizeKb(2560), "2 Kb"); // halves go to the even number
    EXPECT_EQ(FormatSizeKb(3000), "3 Kb");
    EXPECT_EQ(VersionMajorMinorX("1.2.3.4"), "1.2.x");
    EXPECT_EQ(VersionMajorMinorX("1.2"), "1.2");
    EXPECT_EQ(VersionMajorMinorX("5"), "5");
    EXPECT_EQ(PriorityClassName(32), "Normal");
    EXPECT_EQ(PriorityClassName(64), "Low");
    EXPECT_EQ(PriorityClassName(128), "High");
    EXPECT_EQ(PriorityClassName(256), "Real-Time");
    EXPECT_EQ(PriorityClassName(0x4000), "Below-Normal");
    EXPECT_EQ(PriorityClassName(0x8000), "Above-Normal");
    EXPECT_EQ(PriorityClassName(7), "");
    EXPECT_EQ(PriorityNumberText(0), "??");
    EXPECT_EQ(PriorityNumberText(13), "13");
    EXPECT_EQ(GetFileSizeByName("C:\\no-such-file.bin"), 0u);
}

} // namespace
} // namespace kv::crashreport
