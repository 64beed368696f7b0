#include <gtest/gtest.h>

#include "platform/IniFile.h"

namespace {

struct ReadCase {
    const wchar_t* text;
    const wchar_t* section;
    const wchar_t* key;
    std::optional<std::wstring> value;
};

class IniFileRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(IniFileRead, FollowsTheProfileRules)
{
    const kv::IniFile file(GetParam().text);
    EXPECT_EQ(file.Read(GetParam().section, GetParam().key), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniFileRead,
    ::testing::Values(
        ReadCase{L"[S]\r\nk=v", L"S", L"k", L"v"},
        ReadCase{L"  [S]  \r\n\t key \t=  v a l  \t\r\n", L"S", L"key", L"v a l"}, // blanks trimmed, inner kept
        ReadCase{L"[ S ]\nk=v", L"S", L"k", L"v"},                                  // name trimmed inside brackets
        ReadCase{L"[s]\rKEY=v", L"S", L"key", L"v"},                                // names ignore case; lone CR
        ReadCase{L"[S]\nk=\"  quoted  \"", L"S", L"k", L"  quoted  "},              // quotes keep the blanks
        ReadCase{L"[S]\nk='single'", L"S", L"k", L"single"},
        ReadCase{L"[S]\nk=\"unbalanced'", L"S", L"k", L"\"unbalanced'"},
        ReadCase{L"[S]\nk=\"", L"S", L"k", L"\""},                                  // one quote is no pair
        ReadCase{L"[S]\nk=\"\"", L"S", L"k", L""},
        ReadCase{L"[S]\nk=a \"b\" c", L"S", L"k", L"a \"b\" c"},                    // inner quotes stay
        ReadCase{L"[S]\nk=a=b", L"S", L"k", L"a=b"},                                // first "=" splits
        ReadCase{L"[S]\nk=", L"S", L"k", L""},                                      // present, empty
        ReadCase{L"[S]\nbare", L"S", L"bare", L""},                                 // key without "="
        ReadCase{L"[S]\nk=first\nk=second", L"S", L"k", L"first"},                  // first key wins
        ReadCase{L"[S]\nk=first\n[S]\nk=second\nj=x", L"S", L"j", std::nullopt},    // first section wins
        ReadCase{L"k=orphan\n[S]\n", L"S", L"k", std::nullopt},                     // before any section
        ReadCase{L"[S]\nk=v", L"T", L"k", std::nullopt},
        ReadCase{L"[S]\nk=v\n[T]", L"T", L"k", std::nullopt},
        ReadCase{L"[S] trailing\nk=v", L"S", L"k", L"v"},
        ReadCase{L"[S]\nk=v\x1A", L"S", L"k", L"v"},                                // old end-of-file mark
        ReadCase{L"", L"S", L"k", std::nullopt}));

TEST(IniFile, ReadStringFallsBackOnlyWhenAbsent)
{
    const kv::IniFile file(L"[Info]\nEmpty=\n");
    EXPECT_EQ(file.ReadString(L"Info", L"Empty", L"dflt"), L"");
    EXPECT_EQ(file.ReadString(L"Info", L"Missing", L"dflt"), L"dflt");
    EXPECT_TRUE(file.HasSection(L"INFO"));
    EXPECT_FALSE(file.HasSection(L"Strings"));
}

struct IntegerCase {
    const wchar_t* value;
    long long expected;
};

class IniFileInteger : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(IniFileInteger, ReadsNumbersOrTheFallback)
{
    const kv::IniFile file(std::wstring(L"[Info]\nCodePage=") + GetParam().value);
    EXPECT_EQ(file.ReadInteger(L"Info", L"CodePage", -7), GetParam().expected) << GetParam().value;
}

INSTANTIATE_TEST_SUITE_P(Cases, IniFileInteger,
                         ::testing::Values(IntegerCase{L"1251", 1251}, IntegerCase{L" 1251 ", 1251},
                                           IntegerCase{L"$4E3", 1251}, IntegerCase{L"0x4e3", 1251},
                                           IntegerCase{L"-5", -5}, IntegerCase{L"0", 0},
                                           IntegerCase{L"", -7}, IntegerCase{L"12a", -7},
                                           IntegerCase{L"abc", -7}, IntegerCase{L"$", -7},
                                           IntegerCase{L"99999999999999999999", -7}));

} // namespace
