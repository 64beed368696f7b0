#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "common/TestSupport.h"
#include "crashreport/core/debuginfo/EMapScanner.h"
#include "platform/TextCodec.h"

namespace {

using namespace kv::crashreport;

std::string WriteMap(const std::string& text)
{
    const std::string path = kv::WideToAnsi(kvtest::ScratchFolder(L"map-scanner")) + "test.map";
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

const char* const Header =
    " Start         Length     Name                   Class\r\n"
    " 0001:00401000 00000400H .text                   CODE\r\n\r\n"
    "Detailed map of segments\r\n\r\n"
    " 0001:00000000 00000100 C=CODE     S=.text    G=(none)   M=First ACBP=A9\r\n"
    " 0001:00000100 00000100 C=CODE     S=.text    G=(none)   M=Second ACBP=A9\r\n"
    " 0002:00000000 00000100 C=DATA     S=.data    G=DGROUP   M=First ACBP=A9\r\n\r\n"
    "  Address             Publics by Name\r\n\r\n"
    " 0001:00000010       First.Run\r\n\r\n"
    "  Address             Publics by Value\r\n\r\n"
    " 0001:00000010       First.Run\r\n"
    " 0001:00000110       Second.Go\r\n"
    " 0002:00000004       First.Data\r\n\r\n";

// A block whose first pairs break the rising order loses them one by one;
// its file name then goes to the first pair that is accepted.
TEST(MapScanner, OutOfOrderPairsAreDroppedAndCounted)
{
    const std::string text = std::string(Header) +
                             "Line numbers for First(first.pas) segment .text\r\n\r\n"
                             "    10 0001:00000010    11 0001:00000020\r\n\r\n"
                             "Line numbers for Second(second.pas) segment .text\r\n\r\n"
                             "     5 0001:00000018     6 0001:00000008     7 0001:00000110\r\n"
                             "     8 0002:00000120     9 0001:00000500    12 0001:00000120\r\n";
    TELMapScanner scanner(WriteMap(text));
    EXPECT_EQ(scanner.LineNumberErrors(), 4);
    std::int32_t offset = 0;
    EXPECT_EQ(scanner.LineNumberFromAddr(0x118, offset), 7);
    EXPECT_EQ(offset, 8);
    EXPECT_EQ(scanner.SourceNameFromAddr(0x118), "second.pas");
    EXPECT_EQ(scanner.SourceNameFromAddr(0x20), "first.pas");
    EXPECT_EQ(scanner.ProcNameFromAddr(0x118, offset), "Second.Go");
    EXPECT_EQ(offset, 8);
    EXPECT_EQ(scanner.ModuleNameFromAddr(0x200), "Second"); // a segment's end is inside it
    EXPECT_EQ(scanner.ModuleNameFromAddr(0x201), "");
    EXPECT_EQ(scanner.ModuleStartFromAddr(0x100), 0x100u); // searched from the last segment
}

// Without the expected sections the tables stay empty; a missing section
// hides every later one.
TEST(MapScanner, MissingSectionsGiveEmptyTables)
{
    TELMapScanner scanner(WriteMap("Publics by Value\r\n 0001:00000010 X\r\n"));
    EXPECT_EQ(scanner.ModuleNameFromAddr(0x10), "");
    TELMapScanner noDetailed(WriteMap(" Start Length Name Class\r\n"
                                      "  Address             Publics by Value\r\n\r\n 0001:00000010 X\r\n"));
    std::int32_t offset = 0;
    EXPECT_EQ(noDetailed.ProcNameFromAddr(0x10, offset), "");
}

TEST(MapScanner, NameTexts)
{
    const std::string text = "Alpha(alpha.pas) segment\r\n(beta.pas\rx\r\nC:\\src\\gamma.pas  ACBP=A9\r\nd|e.f\r\n";
    TELMapScanner scanner(WriteMap(text));
    const std::string& stream = scanner.Stream();
    EXPECT_EQ(scanner.MapStringToStr(0), "Alpha");
    EXPECT_EQ(scanner.MapStringToStr(stream.find('(')), "alpha.pas");
    EXPECT_EQ(scanner.MapStringToStr(stream.find("(beta")), "beta.pas");
    EXPECT_EQ(scanner.MapStringToStr(TELAbstractMapParser::NoText), "");
    EXPECT_EQ(scanner.MapStringToFileName(stream.find("C:")), "gamma");
    EXPECT_EQ(scanner.MapStringToFileName(stream.find("d|")), "e");
}

} // namespace
