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

} // namespace
