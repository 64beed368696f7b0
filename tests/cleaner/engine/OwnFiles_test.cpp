// The program's own files: a link planted under their name is replaced, never
// written or deleted through. The links are made on the host side.
#include <gtest/gtest.h>

#include <windows.h>

#include "cleaner/engine/OwnFiles.h"
#include "common/HostScript.h"
#include "common/TestSupport.h"

namespace {

using kvtest::PathExists;
using kvtest::ReadBytes;

class OwnFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = kvtest::ScratchFolder(L"own-files");
        ASSERT_EQ(kvtest::RunHostScript(root_, L"host",
                                        "rm -rf program victim\n"
                                        "mkdir -p program victim\n"
                                        "printf 'victim one' > victim/one.txt\n"
                                        "printf 'victim two' > victim/two.txt\n"
                                        "ln -s ../victim/one.txt program/written.txt\n"
                                        "ln -s ../victim/two.txt program/removed.txt\n"
                                        "ln -s ../victim/none.txt program/dangling.txt\n"),
                  0);
    }
    std::wstring root_;
};

TEST_F(OwnFilesTest, WritingReplacesAPlantedLinkAndLeavesItsTarget)
{
    EXPECT_TRUE(kv::ReplaceOwnFile(root_ + L"program\\written.txt", "new bytes"));
    EXPECT_EQ(ReadBytes(root_ + L"program\\written.txt"), "new bytes");
    EXPECT_EQ(ReadBytes(root_ + L"victim\\one.txt"), "victim one");
    EXPECT_TRUE(kv::ReplaceOwnUnicodeFile(root_ + L"program\\dangling.txt", L"x"));
    EXPECT_FALSE(PathExists(root_ + L"victim\\none.txt")) << "a dangling link creates nothing at its target";
    EXPECT_EQ(ReadBytes(root_ + L"program\\dangling.txt"), std::string("\xFF\xFEx\0", 4));
}

TEST_F(OwnFilesTest, RemovingRemovesAPlantedLinkAndLeavesItsTarget)
{
    EXPECT_TRUE(kv::RemoveOwnFile(root_ + L"program\\removed.txt"));
    EXPECT_FALSE(PathExists(root_ + L"program\\removed.txt"));
    EXPECT_EQ(ReadBytes(root_ + L"victim\\two.txt"), "victim two");
    kvtest::WriteBytes(root_ + L"program\\plain.txt", "plain");
    EXPECT_TRUE(kv::RemoveOwnFile(root_ + L"program\\plain.txt"));
    EXPECT_FALSE(PathExists(root_ + L"program\\plain.txt"));
    EXPECT_TRUE(kv::RemoveOwnFile(root_ + L"program\\never.txt"));
}

TEST_F(OwnFilesTest, NothingIsLeftBesideTheFile)
{
    ASSERT_TRUE(kv::ReplaceOwnFile(root_ + L"program\\fresh.txt", "one"));
    ASSERT_TRUE(kv::ReplaceOwnFile(root_ + L"program\\fresh.txt", "two"));
    EXPECT_EQ(ReadBytes(root_ + L"program\\fresh.txt"), "two");
    WIN32_FIND_DATAW entry{};
    HANDLE find = ::FindFirstFileW((root_ + L"program\\fresh.txt.*.tmp").c_str(), &entry);
    EXPECT_EQ(find, INVALID_HANDLE_VALUE) << "no temporary file stays behind";
    if (find != INVALID_HANDLE_VALUE) ::FindClose(find);
}

} // namespace
