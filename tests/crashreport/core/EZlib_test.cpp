#include "crashreport/core/EZlib.h"

#include <gtest/gtest.h>

#include <random>

#include "crashreport/core/debuginfo/EDebugData.h"

namespace kv::crashreport {
namespace {

std::string RandomText(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string text(size, '\0');
    for (char& c : text) c = static_cast<char>('a' + random() % 6); // compressible, not trivially
    return text;
}

class ZDecompressSizes : public testing::TestWithParam<std::size_t> {};

TEST_P(ZDecompressSizes, InflatesWhatDeflateMade)
{
    const std::string text = RandomText(GetParam(), 3);
    const std::string packed = ZCompressBuffer(text);
    EXPECT_EQ(ZDecompressBuffer(packed.data(), packed.size()), text);
}

INSTANTIATE_TEST_SUITE_P(Bytes, ZDecompressSizes, testing::Values(0u, 1u, 255u, 256u, 4096u, 300000u));

TEST(ZDecompressBuffer, ACutStreamRaisesInsteadOfGivingPartialData)
{
    const std::string packed = ZCompressBuffer(RandomText(20000, 4));
    for (std::size_t cut = 0; cut < packed.size(); cut += 97) {
        SCOPED_TRACE(cut);
        EXPECT_THROW(ZDecompressBuffer(packed.data(), cut), EZLibError);
    }
}

TEST(ZDecompressBuffer, DamagedDataRaisesWithZlibsText)
{
    const std::string garbage = "\x78\x9C\xFF\xFF\xFF\xFF\xFF\xFF";
    try {
        ZDecompressBuffer(garbage.data(), garbage.size());
        FAIL();
    } catch (const EZLibError& error) {
        EXPECT_EQ(error.Code(), -3);
        EXPECT_STREQ(error.what(), "data error");
    }
}

TEST(ZDecompressBuffer, OutputIsLimited)
{
    const std::string packed = ZCompressBuffer(std::string(1 << 20, 'z'));
    EXPECT_THROW(ZDecompressBuffer(packed.data(), packed.size(), 1 << 16), EZLibError);
}

TEST(EZLibError, ZlibTexts)
{
    EXPECT_STREQ(ZLibErrorText(-1), "file error");
    EXPECT_STREQ(ZLibErrorText(-2), "stream error");
    EXPECT_STREQ(ZLibErrorText(-3), "data error");
    EXPECT_STREQ(ZLibErrorText(-4), "insufficient memory");
    EXPECT_STREQ(ZLibErrorText(-5), "buffer error");
    EXPECT_STREQ(ZLibErrorText(-6), "incompatible version");
}

} // namespace
} // namespace kv::crashreport
