#include <gtest/gtest.h>

#include <cstdio>

#include "TestHex.h"
#include "crashreport/core/EHash.h"

namespace {

std::string DigestText(const std::string& bytes)
{
    std::uint8_t digest[16];
    kv::crashreport::MD5Buffer(digest, bytes.data(), bytes.size());
    std::string text;
    char hex[3];
    for (std::uint8_t b : digest) {
        std::snprintf(hex, sizeof hex, "%02x", b);
        text += hex;
    }
    return text;
}

TEST(EHash, Crc16MatchesIndependentVectors)
{
    for (const auto& v : kvtest::kCrc16Vectors)
        EXPECT_EQ(kv::crashreport::CRC16String(kvtest::FromHex(v.input)), v.crc) << v.input;
}

TEST(EHash, Crc16KnownValues)
{
    EXPECT_EQ(kv::crashreport::CRC16String("123456789"), 0x31C3);
    EXPECT_EQ(kv::crashreport::CRC16String(""), 0);
}

TEST(EHash, Md5MatchesIndependentVectors)
{
    for (const auto& v : kvtest::kMd5Vectors) EXPECT_EQ(DigestText(kvtest::FromHex(v.input)), v.digest) << v.input;
}

TEST(EHash, Md5KnownValue) { EXPECT_EQ(DigestText("abc"), "900150983cd24fb0d6963f7d28e17f72"); }

} // namespace
