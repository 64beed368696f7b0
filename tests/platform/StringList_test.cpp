#include <gtest/gtest.h>

#include "platform/StringList.h"

namespace {

struct SplitCase {
    const wchar_t* text;
    std::vector<std::wstring> lines;
};

class StringListSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(StringListSplit, SplitsLikeTheRuntime)
{
    kv::StringList list(GetParam().text);
    EXPECT_EQ(list.Lines(), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StringListSplit,
    ::testing::Values(SplitCase{L"a\r\nb\r\n", {L"a", L"b"}},           // final line end adds no line
                      SplitCase{L"a\rb\nc", {L"a", L"b", L"c"}},         // lone CR and lone LF
                      SplitCase{L"a\r\n\r\nb", {L"a", L"", L"b"}},       // empty line kept
                      SplitCase{L"a\n\rb", {L"a", L"", L"b"}},           // LF then CR: two breaks
                      SplitCase{L"", {}}, SplitCase{L"\r\n", {L""}},     //
                      SplitCase{L"only", {L"only"}}));

TEST(StringList, TextEndsEveryLineWithCrLf)
{
    kv::StringList list(L"a\nb");
    EXPECT_EQ(list.Text(), L"a\r\nb\r\n");
}

TEST(StringList, NameValueLookupIgnoresCase)
{
    kv::StringList list(L"Language=English\r\nCodePage=1251\r\nnovalue");
    EXPECT_EQ(list.Value(L"codepage"), L"1251");
    EXPECT_EQ(list.IndexOfName(L"LANGUAGE"), 0);
    EXPECT_EQ(list.IndexOfName(L"novalue"), -1);
    list.SetValue(L"CODEPAGE", L"1252");
    EXPECT_EQ(list[1], L"CODEPAGE=1252");
    list.SetValue(L"New", L"x");
    EXPECT_EQ(list.Count(), 4u);
}

TEST(StringList, FindAndSortIgnoreCase)
{
    kv::StringList list(L"b.TMP\r\nA.log\r\nc.bak");
    EXPECT_EQ(list.IndexOf(L"B.tmp"), 0);
    EXPECT_EQ(list.IndexOf(L"missing"), -1);
    list.Sort();
    EXPECT_EQ(list.Lines(), (std::vector<std::wstring>{L"A.log", L"b.TMP", L"c.bak"}));
}

TEST(StringList, AnsiListSplitsTheSameWay)
{
    kv::AnsiStringList list("x\r\ny\rz\n");
    EXPECT_EQ(list.Lines(), (std::vector<std::string>{"x", "y", "z"}));
}

} // namespace
