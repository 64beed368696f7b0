#include <gtest/gtest.h>

#include <windows.h>

#include "crashreport/core/ECommon.h"

namespace {

TEST(ECommon, PosFromAndReplace)
{
    EXPECT_EQ(kv::crashreport::PosFrom("b", "abcb", 1), 2);
    EXPECT_EQ(kv::crashreport::PosFrom("b", "abcb", 3), 4);
    EXPECT_EQ(kv::crashreport::PosFrom("B", "abcb", 1), 0);
    EXPECT_EQ(kv::crashreport::PosFrom("", "abc", 1), 0);
    EXPECT_EQ(kv::crashreport::PosFrom("c", "abc", 9), 0);
    EXPECT_EQ(kv::crashreport::ReplaceAllText("aaaa", "aa", "b"), "bb");
    EXPECT_EQ(kv::crashreport::ReplaceAllText("a.b.c", ".", "::"), "a::b::c");
    EXPECT_EQ(kv::crashreport::ReplaceAllText("abc", "", "x"), "abc");
}

TEST(ECommon, Splitting)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(kv::crashreport::SplitTextToList(" a ; b ;; c ", ";", false, false), (V{"a", "b", "c"}));
    EXPECT_EQ(kv::crashreport::SplitTextToList(" a ; b ;; c ", ";", false, true), (V{"a", "b", "", "c"}));
    EXPECT_EQ(kv::crashreport::SplitTextToList("a;b;", ";", true, false), (V{"a;", "b;"}));
    EXPECT_EQ(kv::crashreport::SplitTrimmedText(",", ",, a , b,,c ,"), (V{"a", "b", "", "c"}));
}

TEST(ECommon, SmallTextHelpers)
{
    EXPECT_EQ(kv::crashreport::CollapseControlChars("a\r\n\tb\x01"), "a b ");
    EXPECT_EQ(kv::crashreport::PadRightText("ab", 4), "ab  ");
    EXPECT_EQ(kv::crashreport::PadRightText("abcde", 4), "abcde");
    EXPECT_EQ(kv::crashreport::ChooseText(false, "a", "b"), "b");
    EXPECT_EQ(kv::crashreport::TextIf(false, "a"), "");
    EXPECT_EQ(kv::crashreport::HtmlEscape("a  <b>"), "a&nbsp;&nbsp;&lt;b&gt;");
    EXPECT_EQ(kv::crashreport::HtmlEscape("&\"'\r\n"), "&amp;&quot;&#039;<br>\r\n");
    EXPECT_EQ(kv::crashreport::StripVsHostSuffix("C:\\p\\App.vshost.exe"), "C:\\p\\App.exe");
    EXPECT_EQ(kv::crashreport::TrimText(" \t x \r\n"), "x");
}

TEST(ECommon, AnsiToUtf8EncodesEachUnit)
{
    EXPECT_EQ(kv::crashreport::AnsiToUTF8(""), "");
    EXPECT_EQ(kv::crashreport::AnsiToUTF8("abc"), "abc");
    const std::string wide = kv::crashreport::AnsiToUTF8(std::string(1, '\xE9')); // e acute in the usual code pages
    if (::GetACP() == 1252) {
        EXPECT_EQ(wide, "\xC3\xA9");
    }
}

TEST(ECommon, VersionTexts)
{
    EXPECT_EQ(kv::crashreport::PadNumberText("23"), "00023");
    EXPECT_EQ(kv::crashreport::NormalizeVersionText("1.2"), "00001.00002.00000.00000");
    EXPECT_EQ(kv::crashreport::NormalizeVersionText("6.0.23 beta"), "00006.00000.00023 beta.00000");
    EXPECT_TRUE(kv::crashreport::IsNewerVersion("1.2", "1.10"));
    EXPECT_FALSE(kv::crashreport::IsNewerVersion("1.10", "1.2"));
    EXPECT_FALSE(kv::crashreport::IsNewerVersion("", "2.0"));
    EXPECT_FALSE(kv::crashreport::IsNewerVersion("1.0", "1.0.0.0"));
}

TEST(ECommon, Durations)
{
    EXPECT_EQ(kv::crashreport::FormatDuration(1.5), "1 day, 12 hours, 0 second");
    EXPECT_EQ(kv::crashreport::FormatDuration(2.0 / 86400), "2 seconds");
    EXPECT_EQ(kv::crashreport::FormatDuration(0), "0 second");
    EXPECT_EQ(kv::crashreport::FormatDuration((2 * 3600 + 60 + 1) / 86400.0), "2 hours, 1 minute, 1 second");
}

TEST(ECommon, UtcOffsetKeepsItsMinutes)
{
    const struct {
        int minutes;
        const char* text;
    } cases[] = {{0, "+0000"}, {60, "+0100"}, {330, "+0530"}, {345, "+0545"}, {-210, "-0330"}, {-480, "-0800"},
                 {840, "+1400"}};
    for (const auto& c : cases) EXPECT_EQ(kv::crashreport::FormatUTCOffset(c.minutes), c.text) << c.minutes;
}

TEST(ECommon, MailDate)
{
    SYSTEMTIME time{2025, 1, 0, 5, 9, 3, 7, 0};
    const kv::TDateTime value = kv::SystemTimeToDateTime(time);
    EXPECT_EQ(kv::crashreport::FormatMailDate(value, 330), "Sun, 5 Jan 2025 09:03:07 +0530");
    SYSTEMTIME december{1999, 12, 0, 31, 23, 59, 59, 0};
    EXPECT_EQ(kv::crashreport::FormatMailDate(kv::SystemTimeToDateTime(december), -300), "Fri, 31 Dec 1999 23:59:59 -0500");
    EXPECT_EQ(kv::crashreport::GetUTCOffsetHours() * 60 - kv::crashreport::GetUTCOffsetMinutes() <= 30, true);
}

TEST(ECommon, DateTimeText)
{
    SYSTEMTIME noon{2024, 2, 0, 29, 12, 0, 0, 0};
    const std::string text = kv::crashreport::DateTimeText(kv::SystemTimeToDateTime(noon));
    EXPECT_EQ(text, kv::crashreport::ShortDateText(noon) + " " + kv::crashreport::LongTimeText(noon));
    SYSTEMTIME midnight{2024, 2, 0, 29, 0, 0, 0, 0};
    EXPECT_EQ(kv::crashreport::DateTimeText(kv::SystemTimeToDateTime(midnight)), kv::crashreport::ShortDateText(midnight));
    EXPECT_FALSE(kv::crashreport::DateTimeText(1e12).empty()); // no date: its number
}

// ---- %TAG% expansion

class Tags : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (const char* name : {"Date", "KV_TAG", "KV_NESTED", "KV_EMPTY"}) ::SetEnvironmentVariableA(name, nullptr);
    }
};

TEST_F(Tags, EnvironmentVariableShadowsDate)
{
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    EXPECT_EQ(kv::crashreport::ExpandPathTags("%Date%"), kv::crashreport::ShortDateText(now));
    EXPECT_EQ(kv::crashreport::ExpandPathTags("%DATE%"), kv::crashreport::ShortDateText(now));
    ::SetEnvironmentVariableA("Date", "from the environment");
    EXPECT_EQ(kv::crashreport::ExpandPathTags("[%Date%]"), "[from the environment]");
}

TEST_F(Tags, ExpansionRules)
{
    ::SetEnvironmentVariableA("KV_TAG", "value");
    const struct {
        const char* text;
        const char* expanded;
    } cases[] = {
        {"%", "%"},                       // a lone percent sign
        {"100%", "100%"},                 // at the very end
        {"% x", "% x"},                   // followed by a blank
        {"%%", ""},                       // the empty name
        {"a%%b", "ab"},
        {"%KV_TAG%", "value"},
        {"<%KV_TAG%%KV_TAG%>", "<valuevalue>"},
        {"%NoSuchVariable_kv%", ""},      // an unknown name disappears
        {"%KV TAG%", "%KV TAG%"},         // a blank ends the name
        {"%KV_TAG", "%KV_TAG"},           // no closing sign
        {"50% of %KV_TAG%", "50% of value"},
    };
    for (const auto& c : cases) EXPECT_EQ(kv::crashreport::ExpandPathTags(c.text), c.expanded) << c.text;
}

TEST_F(Tags, ValueHoldingATagIsNotExpandedAgain)
{
    ::SetEnvironmentVariableA("KV_TAG", "value");
    ::SetEnvironmentVariableA("KV_NESTED", "%KV_TAG%");
    EXPECT_EQ(kv::crashreport::ExpandPathTags("%KV_NESTED%"), "%KV_TAG%");
}

TEST_F(Tags, BuiltInNames)
{
    char folder[MAX_PATH] = {};
    ::GetCurrentDirectoryA(MAX_PATH, folder);
    EXPECT_EQ(kv::crashreport::ExpandTag("cd"), folder);
    EXPECT_FALSE(kv::crashreport::ExpandTag("Time").empty());
    ::SetEnvironmentVariableA("KV_EMPTY", "");
    EXPECT_EQ(kv::crashreport::ExpandTag("KV_EMPTY"), "");
    const std::string longValue(3000, 'x'); // beyond the first buffer
    ::SetEnvironmentVariableA("KV_TAG", longValue.c_str());
    EXPECT_EQ(kv::crashreport::ExpandTag("KV_TAG"), longValue);
}

} // namespace
