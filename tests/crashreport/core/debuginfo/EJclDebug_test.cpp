#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "crashreport/core/debuginfo/EJclDebug.h"

namespace {

using namespace kv::crashreport;

void Put32(std::string& data, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) data[at + i] = static_cast<char>(value >> (8 * i));
}

// A header, the given name area and empty lists, without a checksum.
std::string Data(const std::string& names, std::size_t size)
{
    std::string data(size, '\0');
    data.replace(0, 5, "JDBG\x01", 5);
    const std::uint32_t end = 35; // every list: the end marker at 35
    for (std::size_t field : {5u, 9u, 13u, 17u}) Put32(data, field, end);
    data.replace(35, 5, "\xFF\xFF\xFF\xFF\x07", 5);
    Put32(data, 21, 40);
    data.replace(40, names.size(), names);
    return data;
}

TEST(JclFormat, SizeRules)
{
    std::string data(36, '\0');
    data.replace(0, 5, "JDBG\x01", 5);
    EXPECT_TRUE(TELBinDebugScanner(ByteView(data.data(), 36), true).ValidFormat());
    EXPECT_FALSE(TELBinDebugScanner(ByteView(data.data(), 35), true).ValidFormat());
    data.resize(38);
    EXPECT_FALSE(TELBinDebugScanner(ByteView(data.data(), 38), true).ValidFormat());
    data[4] = 2;
    EXPECT_FALSE(TELBinDebugScanner(ByteView(data.data(), 36), true).ValidFormat());
}

// The checksum: the word sum minus the stored value, rotated right by 8,
// equals the stored value; a size that is not a multiple of 4 fails anyway.
TEST(JclFormat, Checksum)
{
    std::string data(40, '\0');
    data.replace(0, 5, "JDBG\x01", 5);
    data[33] = 1;
    data[37] = 0x5A;
    std::uint32_t sum = 0;
    for (std::size_t at = 0; at < data.size(); at += 4)
        sum += static_cast<std::uint8_t>(data[at]) | static_cast<std::uint8_t>(data[at + 1]) << 8 |
               static_cast<std::uint8_t>(data[at + 2]) << 16 | std::uint32_t{static_cast<std::uint8_t>(data[at + 3])} << 24;
    Put32(data, 29, sum);
    EXPECT_TRUE(TELBinDebugScanner(ByteView(data.data(), 40), true).ValidFormat());
    std::string longer = data + "\0\0"; // same words, size not a multiple of 4
    EXPECT_FALSE(TELBinDebugScanner(ByteView(longer.data(), 42), true).ValidFormat());
    data[38] = 1;
    EXPECT_FALSE(TELBinDebugScanner(ByteView(data.data(), 40), true).ValidFormat());
}

TEST(JclNames, ThreeForms)
{
    // 1: XOR-scrambled text ("Ab" then a byte equal to the XOR value kept as it is);
    // 2: "@" and six-bit text that ends at once; other: six-bit "A1".
    std::string names;
    names += '\x01';
    names += static_cast<char>('A' ^ JclNameXor);
    names += static_cast<char>('b' ^ JclNameXor);
    names += static_cast<char>(JclNameXor);
    names += '\0';
    names += '\x02';
    names += '\0';
    names += static_cast<char>(11 | (2 << 6)); // "A" then "1" (code 2: low 2 bits here)
    names += '\0';
    names += '\0';
    const std::string data = Data(names, 52);
    TELBinDebugScanner scanner(ByteView(data.data(), data.size()), true);
    ASSERT_TRUE(scanner.ValidFormat());
    EXPECT_EQ(scanner.DataToStr(1), std::string("Ab") + static_cast<char>(JclNameXor));
    EXPECT_EQ(scanner.DataToStr(6), "@");
    EXPECT_EQ(scanner.DataToStr(8), "A1");
    EXPECT_EQ(scanner.DataToStr(0), "");
    EXPECT_EQ(scanner.DataToStr(5000), "");
}

} // namespace
