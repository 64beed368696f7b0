#include <gtest/gtest.h>

#include "TestHex.h"
#include "crashreport/core/EBase64.h"

namespace {

TEST(EBase64, MatchesIndependentVectorsBothWays)
{
    for (const auto& v : kvtest::kBase64Vectors) {
        const std::string bytes = kvtest::FromHex(v.input);
        EXPECT_EQ(kv::crashreport::Base64EncodeString(bytes), v.encoded) << v.input;
        EXPECT_EQ(kv::crashreport::Base64EncodeBuffer(bytes.data(), bytes.size()), v.encoded);
        EXPECT_EQ(kv::crashreport::Base64DecodeString(v.encoded), bytes) << v.encoded;
    }
}

TEST(EBase64, PaddingAndLengthRules)
{
    const struct {
        const char* text;
        const char* encoded;
    } cases[] = {{"abc", "YWJj"}, {"ab", "YWI="}, {"a", "YQ=="}, {"", ""}};
    for (const auto& c : cases) EXPECT_EQ(kv::crashreport::Base64EncodeString(c.text), c.encoded);

    EXPECT_EQ(kv::crashreport::Base64DecodeString("YWI="), "ab");
    EXPECT_EQ(kv::crashreport::Base64DecodeString("YWJ"), "");   // length 3
    EXPECT_EQ(kv::crashreport::Base64DecodeString("YWJjZ"), ""); // no multiple of 4
    EXPECT_EQ(kv::crashreport::Base64DecodeString(""), "");
}

// Hostile input decodes to something of the announced length, never beyond.
TEST(EBase64, MalformedInputKeepsTheAnnouncedLength)
{
    EXPECT_EQ(kv::crashreport::Base64DecodeString("====").size(), 1u);
    EXPECT_EQ(kv::crashreport::Base64DecodeString("Y===").size(), 1u);
    EXPECT_EQ(kv::crashreport::Base64DecodeString("!!!!~~~~").size(), 6u);
}

} // namespace
