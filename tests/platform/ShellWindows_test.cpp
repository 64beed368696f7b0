#include <gtest/gtest.h>

#include "common/FormDriver.h"
#include "platform/ShellWindows.h"

namespace {

TEST(ShellWindows, TheFolderPickerOpensOnTheStartFolderItIsGiven)
{
    kvtest::FolderPickerAnswer picker(std::wstring(L"C:\\chosen\\"));
    const auto chosen = kv::BrowseForFolder(nullptr, L"Pick one", L"", L"C:\\start\\");
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(*chosen, L"C:\\chosen\\");
    EXPECT_EQ(picker.LastCaption, L"Pick one");
    EXPECT_EQ(picker.LastStartFolder, L"C:\\start\\");
}

TEST(ShellWindows, ACancelledPickerChoosesNothing)
{
    kvtest::FolderPickerAnswer picker(std::nullopt);
    EXPECT_FALSE(kv::BrowseForFolder(nullptr, L"Pick one", L"", L"").has_value());
    EXPECT_EQ(picker.TimesAsked(), 1);
}

TEST(ShellWindows, AMessageBoxGivesTheButtonPressed)
{
    kvtest::MessageBoxAnswerer answerer(IDNO);
    EXPECT_EQ(kv::ShowMessageBox(nullptr, L"Go on?", L"Question", MB_YESNO), IDNO);
    ASSERT_EQ(answerer.Boxes().size(), 1u);
    EXPECT_EQ(answerer.Boxes()[0].text, L"Go on?");
    EXPECT_EQ(answerer.Boxes()[0].caption, L"Question");
}

} // namespace
