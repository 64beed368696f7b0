#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "crashreport/core/debuginfo/ETD32Debug.h"

namespace {

using namespace kv::crashreport;

void Put(std::string& data, std::size_t at, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) data[at + i] = static_cast<char>(value >> (8 * i));
}

// Signature, one directory at 8 (next: `next`, entry size `entrySize`, no
// entries), trailing signature.
std::string Data(std::uint32_t next, std::uint16_t entrySize)
{
    std::string data(32, '\0');
    data.replace(0, 4, "FB09");
    Put(data, 4, 8, 4);
    Put(data, 8, 16, 2);
    Put(data, 10, entrySize, 2);
    Put(data, 16, next, 4);
    data.replace(24, 4, "FB0A");
    Put(data, 28, 32, 4);
    return data;
}

TEST(TD32Data, SignatureRules)
{
    std::string data = Data(0, 12);
    EXPECT_TRUE(TELTD32InfoParser::IsTD32DebugInfoValid(ByteView(data.data(), data.size())));
    EXPECT_FALSE(TELTD32InfoParser::IsTD32DebugInfoValid(ByteView(data.data(), 8)));
    Put(data, 28, 33, 4); // trailing offset beyond the data
    EXPECT_FALSE(TELTD32InfoParser::IsTD32DebugInfoValid(ByteView(data.data(), data.size())));
    Put(data, 28, 2, 4); // leading signature would overlap the trailing block
    EXPECT_FALSE(TELTD32InfoParser::IsTD32DebugInfoValid(ByteView(data.data(), data.size())));
    data = Data(0, 12);
    data.replace(0, 4, "FB08");
    EXPECT_FALSE(TELTD32InfoParser::IsTD32DebugInfoValid(ByteView(data.data(), data.size())));
}

// A directory entry size other than 12 makes the data invalid (the factory
// then tries the next kind); a chain of directories that loops ends.
TEST(TD32Data, DirectoryChainIsChecked)
{
    std::string data = Data(0, 16);
    EXPECT_FALSE(TELTD32InfoScanner(ByteView(data.data(), data.size())).ValidData());
    data = Data(8, 12); // the directory names itself as the next
    TELTD32InfoScanner looping(ByteView(data.data(), data.size()));
    EXPECT_TRUE(looping.ValidData());
    EXPECT_EQ(looping.ModuleNameFromAddr(0), "");
}

TEST(TD32Lines, FindLine)
{
    TELSourceModuleInfo source;
    source.Lines = {{10, 0x10}, {11, 0x20}, {12, 0x30}};
    EXPECT_EQ(source.FindLine(0x10)->LineNo, 10u);
    EXPECT_EQ(source.FindLine(0x2F)->LineNo, 11u);
    EXPECT_EQ(source.FindLine(0x30)->LineNo, 12u);
    EXPECT_EQ(source.FindLine(0x31), nullptr); // past the last line
    EXPECT_EQ(source.FindLine(0x0F), nullptr);
}

} // namespace
