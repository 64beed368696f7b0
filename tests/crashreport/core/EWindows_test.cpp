#include <gtest/gtest.h>

#include <windows.h>

#include "common/TestSupport.h"
#include "crashreport/core/EWindows.h"

namespace {

HWND MakeWindow(DWORD exStyle, HWND owner, const char* className = "STATIC")
{
    return ::CreateWindowExA(exStyle, className, "kv test", WS_POPUP | WS_VISIBLE, 10, 20, 200, 100, owner, nullptr,
                             ::GetModuleHandleA(nullptr), nullptr);
}

TEST(EWindows, MainWindowRules)
{
    HWND main = MakeWindow(0, nullptr);
    HWND owned = MakeWindow(0, main);
    HWND tool = MakeWindow(WS_EX_TOOLWINDOW, nullptr);
    HWND toolApp = MakeWindow(WS_EX_TOOLWINDOW | WS_EX_APPWINDOW, nullptr);
    ASSERT_TRUE(main && owned && tool && toolApp);
    EXPECT_TRUE(kv::crashreport::WindowHasArea(main));
    EXPECT_TRUE(kv::crashreport::IsProcessMainWindow(main));
    EXPECT_FALSE(kv::crashreport::IsProcessMainWindow(owned));
    EXPECT_FALSE(kv::crashreport::IsProcessMainWindow(tool));
    EXPECT_TRUE(kv::crashreport::IsProcessMainWindow(toolApp));
    EXPECT_NE(kv::crashreport::FindProcessMainWindow(::GetCurrentProcessId()), nullptr);
    EXPECT_TRUE(kv::crashreport::IsOwnProcessWindow(main));
    EXPECT_FALSE(kv::crashreport::IsAppObjectWindow(main));
    EXPECT_FALSE(kv::crashreport::ProcessHasIDEWindow(::GetCurrentProcessId()));

    const RECT r = kv::crashreport::GetProcessWindowsRect(::GetCurrentProcessId());
    EXPECT_LE(r.left, 10);
    EXPECT_GE(r.right, 210);
    for (HWND w : {toolApp, tool, owned, main}) ::DestroyWindow(w);
}

TEST(EWindows, ProcessWithoutWindowsHasNoRectangle)
{
    const RECT r = kv::crashreport::GetProcessWindowsRect(0xFFFFFFF0); // no such process
    EXPECT_EQ(r.left, -1);
    EXPECT_EQ(r.top, -1);
    EXPECT_EQ(r.right, -1);
    EXPECT_EQ(r.bottom, -1);
    EXPECT_EQ(kv::crashreport::FindProcessMainWindow(0xFFFFFFF0), nullptr);
}

TEST(EWindows, SnapshotTellsNewWindows)
{
    HWND before = MakeWindow(0, nullptr);
    kv::crashreport::SnapshotOwnWindows();
    HWND after = MakeWindow(0, nullptr);
    EXPECT_FALSE(kv::crashreport::IsNewTopLevelWindow(before));
    EXPECT_TRUE(kv::crashreport::IsNewTopLevelWindow(after));
    ::DestroyWindow(after);
    ::DestroyWindow(before);
}

TEST(EWindows, ClipboardText)
{
    EXPECT_FALSE(kv::crashreport::SetClipboardAnsiText(""));
    ASSERT_TRUE(kv::crashreport::SetClipboardAnsiText("report text"));
    ASSERT_TRUE(::OpenClipboard(nullptr));
    HANDLE data = ::GetClipboardData(CF_TEXT);
    ASSERT_NE(data, nullptr);
    EXPECT_STREQ(static_cast<const char*>(::GlobalLock(data)), "report text");
    ::GlobalUnlock(data);
    ::CloseClipboard();
}

} // namespace
