#include <gtest/gtest.h>

#include <string>

#include "common/TestSupport.h"
#include "platform/Paths.h"
#include "platform/TextCodec.h"

namespace {

struct BackslashCase {
    const char* name;
    std::wstring path, with, without;
};

class TrailingBackslash : public ::testing::TestWithParam<BackslashCase> {};

TEST_P(TrailingBackslash, AddsOneAndTakesAllAway)
{
    const BackslashCase& c = GetParam();
    EXPECT_EQ(kv::WithTrailingBackslash(c.path), c.with);
    EXPECT_EQ(kv::WithoutTrailingBackslash(c.path), c.without);
    // The reporter's ANSI paths follow the same rules.
    EXPECT_EQ(kv::WithTrailingBackslash(kv::WideToAnsi(c.path)), kv::WideToAnsi(c.with));
    EXPECT_EQ(kv::WithoutTrailingBackslash(kv::WideToAnsi(c.path)), kv::WideToAnsi(c.without));
}

INSTANTIATE_TEST_SUITE_P(Paths, TrailingBackslash,
                         ::testing::Values(BackslashCase{"Empty", L"", L"", L""},
                                           BackslashCase{"Folder", L"C:\\a", L"C:\\a\\", L"C:\\a"},
                                           BackslashCase{"FolderWithBackslash", L"C:\\a\\", L"C:\\a\\", L"C:\\a"},
                                           BackslashCase{"Doubled", L"C:\\a\\\\", L"C:\\a\\\\", L"C:\\a"},
                                           BackslashCase{"DriveRoot", L"C:\\", L"C:\\", L"C:"},
                                           BackslashCase{"Slash", L"C:/a/", L"C:/a/\\", L"C:/a/"}),
                         [](const ::testing::TestParamInfo<BackslashCase>& info) { return std::string(info.param.name); });

TEST(Paths, FilesAndFoldersAreToldApart)
{
    const std::wstring folder = kvtest::ScratchFolder(L"paths-exist");
    kvtest::WriteBytes(folder + L"file.txt", "x");
    EXPECT_TRUE(kv::FileExists(folder + L"file.txt"));
    EXPECT_FALSE(kv::FileExists(folder));
    EXPECT_FALSE(kv::FileExists(folder + L"missing.txt"));
    EXPECT_TRUE(kv::FolderExists(folder));
    EXPECT_TRUE(kv::FolderExists(kv::WithoutTrailingBackslash(folder)));
    EXPECT_FALSE(kv::FolderExists(folder + L"file.txt"));
    EXPECT_TRUE(kv::FileExists(kv::WideToAnsi(folder + L"file.txt")));
    EXPECT_TRUE(kv::FolderExists(kv::WideToAnsi(folder)));
    EXPECT_FALSE(kv::FolderExists(kv::WideToAnsi(folder + L"missing\\")));
}

TEST(Paths, ReadWholeFileGivesEveryByteOrNothing)
{
    const std::wstring folder = kvtest::ScratchFolder(L"paths-read");
    const std::string bytes("a\0b\r\n\xFF", 6);
    kvtest::WriteBytes(folder + L"data.bin", bytes);
    EXPECT_EQ(kv::ReadWholeFile(folder + L"data.bin"), bytes);
    EXPECT_EQ(kv::ReadWholeFile(folder + L"missing.bin"), std::nullopt);
    EXPECT_EQ(kv::ReadWholeFile(folder), std::nullopt);
}

} // namespace
