#include <gtest/gtest.h>

#include <cstring>

#include "TestHex.h"
#include "crashreport/core/EEncrypt.h"

namespace {

void ToBlock(const std::string& bytes, std::uint8_t (&block)[8]) { std::memcpy(block, bytes.data(), 8); }
std::string FromBlock(const std::uint8_t (&block)[8]) { return std::string(reinterpret_cast<const char*>(block), 8); }

TEST(EEncrypt, BlockMatchesIndependentModel)
{
    for (const auto& v : kvtest::kTeaBlockVectors) {
        kv::crashreport::TEASetKey(v.password);
        std::uint8_t plain[8], cipher[8], back[8];
        ToBlock(kvtest::FromHex(v.plain), plain);
        kv::crashreport::TEAEncryptBlock(plain, cipher);
        EXPECT_EQ(FromBlock(cipher), kvtest::FromHex(v.cipher)) << v.password << " " << v.plain;
        kv::crashreport::TEADecryptBlock(cipher, back);
        EXPECT_EQ(FromBlock(back), FromBlock(plain)); // the round trip
    }
}

TEST(EEncrypt, BufferMatchesIndependentModel)
{
    for (const auto& v : kvtest::kTeaBufferVectors) {
        kv::crashreport::TEASetKey(v.password);
        const std::string input = kvtest::FromHex(v.input);
        std::string output(input.size(), '\0');
        kv::crashreport::TEADecryptBuffer(input.data(), output.data(), input.size());
        EXPECT_EQ(output, kvtest::FromHex(v.output)) << v.password << " length " << input.size();
    }
}

// Deciphering in place must give what deciphering into a second buffer gives.
TEST(EEncrypt, SameBufferForInputAndOutput)
{
    for (const auto& v : kvtest::kTeaBufferVectors) {
        kv::crashreport::TEASetKey(v.password);
        std::string buffer = kvtest::FromHex(v.input);
        kv::crashreport::TEADecryptBuffer(buffer.data(), buffer.data(), buffer.size());
        EXPECT_EQ(buffer, kvtest::FromHex(v.output)) << v.password << " length " << buffer.size();
    }
}

TEST(EEncrypt, ShortBufferUsesOnlyTheEncipheredInitialBlock)
{
    kv::crashreport::TEASetKey("password");
    std::uint8_t ones[8], stream[8];
    std::memset(ones, 0xFF, 8);
    kv::crashreport::TEAEncryptBlock(ones, stream);
    const char input[5] = {1, 2, 3, 4, 5};
    char output[5];
    kv::crashreport::TEADecryptBuffer(input, output, 5);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(static_cast<std::uint8_t>(output[i]), (input[i] ^ stream[i]) & 0xFF);
}

TEST(EEncrypt, KeyDependsOnPassword)
{
    std::uint8_t plain[8] = {}, a[8], b[8];
    kv::crashreport::TEASetKey("one");
    kv::crashreport::TEAEncryptBlock(plain, a);
    kv::crashreport::TEASetKey("two");
    kv::crashreport::TEAEncryptBlock(plain, b);
    EXPECT_NE(FromBlock(a), FromBlock(b));
}

} // namespace
