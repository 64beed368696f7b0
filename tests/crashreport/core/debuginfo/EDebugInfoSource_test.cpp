// The outside debug-data readers against files that tools/make-debug-fixtures.py
// wrote from one neutral table (make-debuginfo-fixtures.sh, run by ctest
// before these tests): a table of edge cases, and the DWARF rows of a test
// DLL whose sampled addresses addr2line has resolved.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "crashreport/core/debuginfo/EDebugInfoSource.h"
#include "crashreport/core/debuginfo/EJclDebug.h"
#include "crashreport/core/debuginfo/EMapScanner.h"
#include "crashreport/core/debuginfo/ETD32Debug.h"
#include "platform/TextCodec.h"

namespace {

using namespace kv::crashreport;

const std::string Fixtures = "C:\\kvtest\\debuginfo\\";

std::string ReadFixture(const std::string& name)
{
    auto bytes = ReadWholeFile(Fixtures + name, MaxDebugFileBytes);
    EXPECT_TRUE(bytes.has_value()) << name;
    return bytes.value_or(std::string());
}

struct Answer {
    std::string unit;
    std::string proc;
    std::int32_t procOffset;
    std::int32_t line;
    std::string source;
};

bool operator==(const Answer& a, const Answer& b)
{
    return a.unit == b.unit && a.proc == b.proc && a.procOffset == b.procOffset && a.line == b.line &&
           a.source == b.source;
}

std::ostream& operator<<(std::ostream& out, const Answer& a)
{
    return out << "{" << a.unit << ", " << a.proc << "+" << a.procOffset << ", line " << a.line << ", " << a.source
               << "}";
}

template <class Scanner>
Answer Ask(Scanner& scanner, std::uint32_t offset)
{
    Answer answer;
    std::int32_t lineOffset = 0;
    answer.unit = scanner.ModuleNameFromAddr(offset);
    answer.proc = scanner.ProcNameFromAddr(offset, answer.procOffset);
    answer.line = scanner.LineNumberFromAddr(offset, lineOffset);
    answer.source = scanner.SourceNameFromAddr(offset);
    return answer;
}

// The three readers over the same edge table.
class EdgeFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        jdbg_ = ReadFixture("edge.jdbg");
        tds_ = ReadFixture("edge.tds");
        map_ = std::make_unique<TELMapScanner>(Fixtures + "edge.map");
        jcl_ = std::make_unique<TELBinDebugScanner>(ByteView(jdbg_.data(), jdbg_.size()), true);
        td32_ = std::make_unique<TELTD32InfoScanner>(ByteView(tds_.data(), tds_.size()));
        ASSERT_TRUE(jcl_->ValidFormat());
        ASSERT_TRUE(td32_->ValidData());
    }
    std::string jdbg_, tds_;
    std::unique_ptr<TELMapScanner> map_;
    std::unique_ptr<TELBinDebugScanner> jcl_;
    std::unique_ptr<TELTD32InfoScanner> td32_;
};

TEST_F(EdgeFiles, InsideAProcedureAllReadersAgree)
{
    const Answer expected{"Alpha", "Alpha.First", 0x10, 11, "alpha.pas"};
    EXPECT_EQ(Ask(*map_, 0x20), expected);
    EXPECT_EQ(Ask(*jcl_, 0x20), expected);
    EXPECT_EQ(Ask(*td32_, 0x20), expected);
}

// A segment's end belongs to it in the map and TD32 modules; the nearest
// lower procedure and line answer in the map and JCL data, while TD32 wants
// an address inside a procedure and before a source segment's end.
TEST_F(EdgeFiles, AddressAtTheSegmentEnd)
{
    EXPECT_EQ(Ask(*map_, 0x100), (Answer{"Alpha", "Alpha.Second", 0xD0, 14, "alpha.pas"}));
    EXPECT_EQ(Ask(*jcl_, 0x100), (Answer{"Alpha", "Alpha.Second", 0xD0, 14, "alpha.pas"}));
    EXPECT_EQ(Ask(*td32_, 0x100), (Answer{"Alpha", "", 0, 0, ""}));
}

// Before the first procedure and line of its unit the nearest lower entries
// belong to an earlier unit and are refused.
TEST_F(EdgeFiles, BeforeTheFirstProcedureOfAUnit)
{
    const Answer expected{"Beta", "", 0, 0, ""};
    EXPECT_EQ(Ask(*map_, 0x180), expected);
    EXPECT_EQ(Ask(*jcl_, 0x180), expected);
    EXPECT_EQ(Ask(*td32_, 0x180), expected);
}

TEST_F(EdgeFiles, TD32CleansUnitQualifiedNames)
{
    EXPECT_EQ(Ask(*map_, 0x1A0).proc, "@Beta@TThing@Run$qqrv");
    EXPECT_EQ(Ask(*jcl_, 0x1A0).proc, "@Beta@TThing@Run$qqrv");
    EXPECT_EQ(Ask(*td32_, 0x1A0), (Answer{"Beta", "TThing.Run", 0x10, 21, "beta.pas"}));
}

TEST_F(EdgeFiles, OutsideEveryUnitNothingAnswers)
{
    EXPECT_EQ(Ask(*map_, 0x140).unit, "");
    EXPECT_EQ(Ask(*td32_, 0x140).unit, "");
    EXPECT_EQ(map_->ModuleStartFromAddr(0x140), 0xFFFFFFFFu);
    EXPECT_EQ(jcl_->ModuleStartFromAddr(0x180), 0x180u);
}

TEST(TD32Names, CleaningTable)
{
    EXPECT_EQ(CleanTD32ProcName("@Unit@TClass@Method$qqrv", "Unit"), "TClass.Method");
    EXPECT_EQ(CleanTD32ProcName("@Unit@Proc$qqrv", "unit"), "Proc");
    EXPECT_EQ(CleanTD32ProcName("@Unit@TClass@$bctr$qqrv", "Unit"), "TClass");
    EXPECT_EQ(CleanTD32ProcName("@Unit@TClass@@Create", "Other"), "Unit.TClass.@Create");
    EXPECT_EQ(CleanTD32ProcName("Plain.Name", "Plain"), "Plain.Name");
    EXPECT_EQ(CleanTD32ProcName("", "Unit"), "");
}

// ---- Modules with generated files beside them

HMODULE LoadCopy(const std::string& relative)
{
    return ::LoadLibraryA((Fixtures + relative).c_str());
}

struct Sample {
    std::uint32_t offset;
    std::string unit, file, proc;
    std::int32_t line;
};

std::vector<Sample> Samples()
{
    std::vector<Sample> samples;
    std::istringstream lines(ReadFixture("samples.txt"));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        Sample s;
        std::string offset, lineNumber;
        if (std::getline(fields, offset, '\t') && std::getline(fields, s.unit, '\t') &&
            std::getline(fields, s.file, '\t') && std::getline(fields, lineNumber, '\t') &&
            std::getline(fields, s.proc, '\t')) {
            s.offset = static_cast<std::uint32_t>(std::stoul(offset));
            s.line = std::stoi(lineNumber);
            samples.push_back(s);
        }
    }
    return samples;
}

struct Kind {
    const char* name;
    const char* dll;
};

class GeneratedFiles : public ::testing::TestWithParam<Kind> {};

// Each kind resolves addr2line's sampled addresses of the DLL to the same
// source file and line, and to the procedure of its symbol table.
TEST_P(GeneratedFiles, ResolveAsAddr2lineDoes)
{
    const HMODULE module = LoadCopy(GetParam().dll);
    ASSERT_NE(module, nullptr);
    std::unique_ptr<TELDebugInfoSource> source;
    ASSERT_TRUE(CreateDebugInfoSource(module, source));
    const std::vector<Sample> samples = Samples();
    ASSERT_GE(samples.size(), 100u);
    for (const Sample& s : samples) {
        const auto* address = reinterpret_cast<const std::uint8_t*>(module) + 0x1000 + s.offset;
        TELLocationInfo info;
        ASSERT_TRUE(source->GetLocationInfo(address, info)) << s.offset;
        EXPECT_EQ(info.Address, address);
        EXPECT_EQ(info.DebugInfo, source.get());
        EXPECT_EQ(info.UnitName, s.unit) << s.offset;
        EXPECT_EQ(info.SourceName, s.file) << s.offset;
        EXPECT_EQ(info.LineNumber, s.line) << s.offset;
        EXPECT_EQ(info.ProcedureName, s.proc) << s.offset;
    }
    ::FreeLibrary(module);
}

INSTANTIATE_TEST_SUITE_P(Kinds, GeneratedFiles,
                         ::testing::Values(Kind{"Map", "all\\dbg_all.dll"}, Kind{"TD32", "td32\\dbg_td.dll"},
                                           Kind{"Jcl", "jcl\\dbg_jcl.dll"}),
                         [](const ::testing::TestParamInfo<Kind>& info) { return info.param.name; });

// Map before TD32 before JCL, whatever else lies beside the module.
TEST(DebugInfoFactory, ChoosesTheFirstKindWithData)
{
    struct {
        const char* dll;
        bool map, td32, jcl;
    } cases[] = {{"all\\dbg_all.dll", true, false, false},
                 {"td32\\dbg_td.dll", false, true, false},
                 {"jcl\\dbg_jcl.dll", false, false, true},
                 {"emptymap\\dbg_emptymap.dll", true, false, false}};
    for (const auto& c : cases) {
        const HMODULE module = LoadCopy(c.dll);
        ASSERT_NE(module, nullptr) << c.dll;
        std::unique_ptr<TELDebugInfoSource> source;
        ASSERT_TRUE(CreateDebugInfoSource(module, source)) << c.dll;
        EXPECT_EQ(dynamic_cast<TELDebugInfoMap*>(source.get()) != nullptr, c.map) << c.dll;
        EXPECT_EQ(dynamic_cast<TELDebugInfoTD32*>(source.get()) != nullptr, c.td32) << c.dll;
        EXPECT_EQ(dynamic_cast<TELDebugInfoJedy*>(source.get()) != nullptr, c.jcl) << c.dll;
        // A source already made is kept.
        TELDebugInfoSource* before = source.get();
        EXPECT_FALSE(CreateDebugInfoSource(module, source));
        EXPECT_EQ(source.get(), before);
        source.reset();
        ::FreeLibrary(module);
    }
}

// TD32 data with directory entries of another size is not valid: the
// factory moves on to the JCL data beside it.
TEST(DebugInfoFactory, UnknownTD32DirectoryFallsThrough)
{
    const HMODULE module = LoadCopy("badtds\\dbg_badtds.dll");
    ASSERT_NE(module, nullptr);
    EXPECT_FALSE(TELDebugInfoTD32(module).ValidData());
    std::unique_ptr<TELDebugInfoSource> source;
    ASSERT_TRUE(CreateDebugInfoSource(module, source));
    EXPECT_NE(dynamic_cast<TELDebugInfoJedy*>(source.get()), nullptr);
    source.reset();
    ::FreeLibrary(module);
}

// A "JCLDEBUG" section of the module is read before a ".jdbg" file.
TEST(DebugInfoFactory, JclSectionBeforeFile)
{
    const HMODULE module = LoadCopy("jclsection\\dbg_jclsection.dll");
    ASSERT_NE(module, nullptr);
    TELDebugInfoJedy source(module);
    ASSERT_TRUE(source.ValidData());
    TELLocationInfo info;
    ASSERT_TRUE(source.GetLocationInfo(reinterpret_cast<const std::uint8_t*>(module) + 0x1000 + 0x20, info));
    EXPECT_EQ(info.UnitName, "Alpha"); // the edge table's, held by the section
    EXPECT_EQ(info.ProcedureName, "Alpha.First");
    ::FreeLibrary(module);
}

TEST(DebugInfoFactory, NoDataGivesNoSource)
{
    const HMODULE module = LoadCopy("none\\dbg_none.dll");
    ASSERT_NE(module, nullptr);
    std::unique_ptr<TELDebugInfoSource> source;
    EXPECT_FALSE(CreateDebugInfoSource(module, source));
    EXPECT_EQ(source, nullptr);
    ::FreeLibrary(module);
}

// An empty map file is a valid source that knows no address (and is chosen
// before the TD32 file beside it).
TEST(DebugInfoFactory, EmptyMapAnswersNothing)
{
    const HMODULE module = LoadCopy("emptymap\\dbg_emptymap.dll");
    ASSERT_NE(module, nullptr);
    std::unique_ptr<TELDebugInfoSource> source;
    ASSERT_TRUE(CreateDebugInfoSource(module, source));
    TELLocationInfo info;
    info.LineNumber = 77;
    for (std::uint32_t offset : {0x0u, 0x10u, 0x1000u})
        EXPECT_FALSE(source->GetLocationInfo(reinterpret_cast<const std::uint8_t*>(module) + 0x1000 + offset, info));
    EXPECT_EQ(info.LineNumber, 77);
    ::FreeLibrary(module);
}

TEST(DebugInfoSource, OffsetsAndProcOffsetLine)
{
    const HMODULE module = LoadCopy("edge\\dbg_edge.dll");
    ASSERT_NE(module, nullptr);
    TELDebugInfoMap source(module);
    ASSERT_TRUE(source.ValidData());
    const auto* base = reinterpret_cast<const std::uint8_t*>(module);
    EXPECT_EQ(source.AddressToOffset(base + 0x1000), 0u);
    TELLocationInfo info;
    ASSERT_TRUE(source.GetLocationInfo(base + 0x1000 + 0x30, info)); // first byte of Alpha.Second
    EXPECT_EQ(info.ProcedureName, "Alpha.Second");
    EXPECT_EQ(info.ProcOffsetLine, 0);
    ASSERT_TRUE(source.GetLocationInfo(base + 0x1000 + 0x44, info));
    EXPECT_EQ(info.LineNumber, 14);
    EXPECT_EQ(info.ProcOffsetLine, 2);
    ::FreeLibrary(module);
}

// ---- Damaged data: truncated and bit-flipped copies of every generated
// file parse without a fault and answer only what they hold.

template <class Query>
void ForEachDamagedCopy(const std::string& good, Query query)
{
    for (std::size_t cut = 0; cut < good.size(); cut += std::max<std::size_t>(1, good.size() / 97))
        query(good.substr(0, cut));
    std::uint32_t seed = 12345;
    for (int flip = 0; flip < 300; ++flip) {
        std::string bad = good;
        seed = seed * 1103515245 + 12345;
        const std::size_t at = (seed >> 8) % bad.size();
        bad[at] = static_cast<char>(bad[at] ^ (1 << ((seed >> 4) % 8)));
        if (flip % 3 == 0) bad[(seed >> 12) % bad.size()] = static_cast<char>(0xFF);
        query(bad);
    }
}

void QueryAll(auto& scanner)
{
    for (std::uint32_t offset : {0x0u, 0x20u, 0x100u, 0x1A0u, 0x400u, 0x2000u, 0xFFFFFFF0u}) Ask(scanner, offset);
}

TEST(DamagedFiles, MapParsesWithoutFault)
{
    const std::string folder = kv::WideToAnsi(kvtest::ScratchFolder(L"damaged-map"));
    ForEachDamagedCopy(ReadFixture("dll.map"), [&](const std::string& bytes) {
        std::ofstream(folder + "d.map", std::ios::binary) << bytes;
        TELMapScanner scanner(folder + "d.map");
        QueryAll(scanner);
    });
}

TEST(DamagedFiles, JclParsesWithoutFault)
{
    ForEachDamagedCopy(ReadFixture("dll.jdbg"), [](std::string bytes) {
        // Without the checksum test the damaged lists and names are read.
        if (bytes.size() > 33) bytes[33] = 0;
        TELBinDebugScanner cached(ByteView(bytes.data(), bytes.size()), true);
        TELBinDebugScanner walking(ByteView(bytes.data(), bytes.size()), false);
        QueryAll(cached);
        QueryAll(walking);
        cached.ModuleName();
    });
}

TEST(DamagedFiles, TD32ParsesWithoutFault)
{
    ForEachDamagedCopy(ReadFixture("dll.tds"), [](const std::string& bytes) {
        TELTD32InfoScanner scanner(ByteView(bytes.data(), bytes.size()));
        QueryAll(scanner);
    });
}

} // namespace
