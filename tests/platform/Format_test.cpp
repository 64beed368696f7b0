#include <gtest/gtest.h>

#include "platform/Format.h"

namespace {

TEST(Format, NumbersAndPadding)
{
    EXPECT_EQ(kv::Format(L"%.4d", {7}), L"0007");
    EXPECT_EQ(kv::Format(L"%.2d-%.2d", {2024, 3}), L"2024-03");
    EXPECT_EQ(kv::Format(L"%d", {-42}), L"-42");
    EXPECT_EQ(kv::Format(L"%u", {4000000000u}), L"4000000000");
    EXPECT_EQ(kv::Format(L"Error Code: %.2x", {0x5}), L"Error Code: 05");
    EXPECT_EQ(kv::Format(L"%X", {0xBEEF}), L"BEEF");
    EXPECT_EQ(kv::Format(L"%x", {-1}), L"ffffffff");
    EXPECT_EQ(kv::Format(L"[%5d|%-5d]", {12, 34}), L"[   12|34   ]");
}

TEST(Format, TextsAndPercent)
{
    EXPECT_EQ(kv::Format(L"%s (%s)", {L"Scan", std::wstring(L"12 files")}), L"Scan (12 files)");
    EXPECT_EQ(kv::Format(L"100%%"), L"100%");
    EXPECT_EQ(kv::Format(L"%.3s", {L"abcdef"}), L"abc");
    EXPECT_EQ(kv::Format("%s=%d", {"key", 5}), "key=5");
}

// Foreign text used as a pattern must never crash or read arguments that are
// not there.
TEST(Format, HostilePatternsAreHarmless)
{
    EXPECT_EQ(kv::Format(L"%s%s%s%n%p"), L"%n%p");
    EXPECT_EQ(kv::Format(L"%d %s", {L"text"}), L"text ");
    EXPECT_EQ(kv::Format(L"trailing %"), L"trailing %");
    EXPECT_EQ(kv::Format(L"%.99999999999d", {1}).size() <= 10001, true);
    EXPECT_EQ(kv::Format(L"%s", {5}), L"5");
}

// Language files are patterns anyone can write: a width of 99999 repeated
// over a long text must not make every call build megabytes.
TEST(Format, WidthsAndResultsOfForeignPatternsAreCapped)
{
    EXPECT_EQ(kv::Format(L"%99999s", {L"x"}).size(), static_cast<std::size_t>(kv::FormatLimits::MaxFieldWidth));
    EXPECT_EQ(kv::Format(L"%.99999d", {1}).size(), static_cast<std::size_t>(kv::FormatLimits::MaxFieldWidth));
    EXPECT_EQ(kv::Format("%-99999d|", {1}).size(), static_cast<std::size_t>(kv::FormatLimits::MaxFieldWidth) + 1);
    std::wstring pattern;
    for (int i = 0; i < 2000; ++i) pattern += L"%99999s";
    EXPECT_EQ(kv::Format(pattern, {L"a"}).size(), kv::FormatLimits::MaxResultLength);
    EXPECT_EQ(kv::Format(std::wstring(100000, L'y')).size(), kv::FormatLimits::MaxResultLength);
    // What the windows use stays as it was.
    EXPECT_EQ(kv::Format(L"[%8s]", {L"ab"}), L"[      ab]");
    EXPECT_EQ(kv::Format(L"%.2d-%.2d-%.2d", {2024, 1, 9}), L"2024-01-09");
}

} // namespace
