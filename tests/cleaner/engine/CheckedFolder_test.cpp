// Checked folders: entries reached by their exact names through the folder's
// own handle, links of either kind (reparse points, Wine's host links) and
// folders swapped for links refused. The links are made on the host side.
#include <gtest/gtest.h>

#include <windows.h>

#include "cleaner/engine/CheckedFolder.h"
#include "cleaner/engine/DeleteGuard.h"
#include "common/HostScript.h"
#include "common/TestSupport.h"
#include "platform/TextCodec.h"

namespace {

using kvtest::PathExists;
using kvtest::ReadBytes;

TEST(CheckedFolder, PlainEntryNames)
{
    for (const wchar_t* name : {L"a.txt", L"..a", L"a..b", L"user@site[1].txt", L".hidden", L"x y.tmp"})
        EXPECT_TRUE(kv::IsPlainEntryName(name)) << testing::PrintToString(std::wstring(name));
    for (const wchar_t* name : {L"", L".", L"..", L"..\\x.tmp", L"a\\b", L"a/b", L"C:x", L"report.doc.", L"a ",
                                L"...", L"*.tmp", L"a?", L"a\x01", L"a|b", L"\"a\""})
        EXPECT_FALSE(kv::IsPlainEntryName(name)) << testing::PrintToString(std::wstring(name));
}

class CheckedFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = kvtest::ScratchFolder(L"checked-folder");
        ASSERT_EQ(kvtest::RunHostScript(root_, L"host",
                                        "rm -rf real real.moved outside folderlink parent moved\n"
                                        "mkdir -p real outside\n"
                                        "printf 'mine' > real/a.tmp\n"
                                        "printf 'outside' > outside/a.tmp\n"
                                        "printf 'twin' > real/b.tmp\n"
                                        "printf 'dotted' > 'real/b.tmp.'\n"
                                        "ln -s ../outside/a.tmp real/filelink.tmp\n"
                                        "ln -s outside folderlink\n"
                                        "mkdir -p parent && ln -s ../outside parent/inner\n"),
                  0);
    }
    std::wstring root_;
};

TEST_F(CheckedFolderTest, EntriesAreReachedByTheirExactNamesOnly)
{
    const kv::TCheckedFolder folder(root_ + L"real\\");
    ASSERT_TRUE(folder.IsUsable());
    EXPECT_TRUE(folder.OpenEntry(L"a.tmp", false).has_value());
    std::optional<kv::TSkipReason> refusal;
    EXPECT_FALSE(folder.OpenEntry(L"b.tmp.", false, &refusal).has_value());
    EXPECT_EQ(refusal, kv::TSkipReason::NotPlainName);
    EXPECT_FALSE(folder.DeleteEntry(L"b.tmp.", false, false));
    EXPECT_EQ(ReadBytes(root_ + L"real\\b.tmp"), "twin") << "the plain twin of a dotted name stays";
    EXPECT_FALSE(folder.OpenEntry(L"missing.tmp", false, &refusal).has_value());
}

TEST_F(CheckedFolderTest, AHostLinkToAFileIsRefusedAndItsTargetStays)
{
    const kv::TCheckedFolder folder(root_ + L"real\\");
    std::optional<kv::TSkipReason> refusal;
    EXPECT_FALSE(folder.DeleteEntry(L"filelink.tmp", false, true, &refusal));
    EXPECT_EQ(refusal, kv::TSkipReason::Link);
    EXPECT_EQ(ReadBytes(root_ + L"outside\\a.tmp"), "outside");
}

TEST_F(CheckedFolderTest, FoldersThroughLinksAreRefused)
{
    for (const std::wstring& linked : {root_ + L"folderlink\\", root_ + L"parent\\inner\\"}) {
        const kv::TCheckedFolder folder(linked);
        EXPECT_FALSE(folder.IsUsable()) << kv::WideToUtf8(linked);
        EXPECT_EQ(folder.Refusal(), kv::TSkipReason::Link) << kv::WideToUtf8(linked);
        EXPECT_FALSE(folder.DeleteEntry(L"a.tmp", false, true));
    }
    EXPECT_EQ(ReadBytes(root_ + L"outside\\a.tmp"), "outside");
}

// The folder is checked once; swapped for a link afterwards, it is no longer
// in place, and its entries are no longer reached.
TEST_F(CheckedFolderTest, AFolderSwappedForALinkAfterTheCheckIsNoLongerInPlace)
{
    const kv::TCheckedFolder folder(root_ + L"real\\");
    ASSERT_TRUE(folder.StillInPlace());
    ASSERT_EQ(kvtest::RunHostScript(root_, L"swap", "mv real real.moved && ln -s outside real\n"), 0);
    EXPECT_FALSE(folder.StillInPlace());
    std::optional<kv::TSkipReason> refusal;
    EXPECT_FALSE(folder.DeleteEntry(L"a.tmp", false, true, &refusal));
    EXPECT_TRUE(refusal.has_value());
    EXPECT_EQ(ReadBytes(root_ + L"outside\\a.tmp"), "outside");
    EXPECT_EQ(ReadBytes(root_ + L"real.moved\\a.tmp"), "mine");
}

// Swapped for another real folder of the same name before anything asked
// whether it is in place: the answer is about the folder that was checked.
TEST_F(CheckedFolderTest, AFolderSwappedForAnotherBeforeItsFirstLookIsNoLongerInPlace)
{
    const kv::TCheckedFolder folder(root_ + L"real\\");
    ASSERT_TRUE(folder.IsUsable());
    ASSERT_EQ(kvtest::RunHostScript(root_, L"swap", "mv real real.moved && mkdir real && printf other > real/a.tmp\n"), 0);
    EXPECT_FALSE(folder.StillInPlace());
    EXPECT_EQ(ReadBytes(root_ + L"real\\a.tmp"), "other");
    EXPECT_EQ(ReadBytes(root_ + L"real.moved\\a.tmp"), "mine");
}

// The bytes of a checked entry are read from that very file: swapped for a
// link after the check, its folder's path leads to another file of the same
// name, which is never taken for the entry.
TEST_F(CheckedFolderTest, AnEntrysBytesAreReadFromTheCheckedFileOnly)
{
    const auto bytesOf = [](const kv::FileHandle& file) {
        char bytes[16] = {};
        DWORD read = 0;
        return ::ReadFile(file.Get(), bytes, sizeof bytes, &read, nullptr) ? std::string(bytes, read) : std::string("?");
    };
    const kv::TCheckedFolder folder(root_ + L"real\\");
    const auto entry = folder.OpenEntry(L"a.tmp", false);
    ASSERT_TRUE(entry.has_value());
    {
        const kv::FileHandle reading = folder.OpenForReading(*entry, L"a.tmp");
        ASSERT_TRUE(reading);
        EXPECT_EQ(bytesOf(reading), "mine");
    }
    EXPECT_FALSE(folder.OpenForReading(*entry, L"b.tmp")) << "another file of the folder is not the entry";
    ASSERT_EQ(kvtest::RunHostScript(root_, L"swap", "mv real real.moved && ln -s outside real\n"), 0);
    EXPECT_EQ(ReadBytes(root_ + L"real\\a.tmp"), "outside") << "the path now leads outside";
    // Either nothing opens, or the checked file itself: never the outside one.
    if (const kv::FileHandle after = folder.OpenForReading(*entry, L"a.tmp")) {
        EXPECT_EQ(bytesOf(after), "mine");
    }
}

// A checked entry renamed through its handle: moved when nothing changed; and
// when its folder was swapped for a link after the check, the file the link
// leads to is never left at the target nor taken from its place.
TEST_F(CheckedFolderTest, ARenameMovesTheCheckedEntryAndNeverTheOneALinkLeadsTo)
{
    ASSERT_TRUE(::CreateDirectoryW((root_ + L"moved").c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS);
    const kv::TCheckedFolder folder(root_ + L"real\\");
    kvtest::WriteBytes(root_ + L"moved\\taken.tmp", "taken");
    {
        const auto twin = folder.OpenEntry(L"b.tmp", false);
        ASSERT_TRUE(twin.has_value());
        EXPECT_FALSE(folder.RenameOpened(*twin, L"b.tmp", root_ + L"moved\\taken.tmp")) << "nothing is replaced";
        EXPECT_TRUE(folder.RenameOpened(*twin, L"b.tmp", root_ + L"moved\\b.tmp"));
    } // the entry's handle shares no reading
    EXPECT_EQ(ReadBytes(root_ + L"moved\\taken.tmp"), "taken");
    EXPECT_EQ(ReadBytes(root_ + L"moved\\b.tmp"), "twin");
    EXPECT_FALSE(PathExists(root_ + L"real\\b.tmp"));

    bool moved = false;
    {
        const auto entry = folder.OpenEntry(L"a.tmp", false);
        ASSERT_TRUE(entry.has_value());
        ASSERT_EQ(kvtest::RunHostScript(root_, L"swap", "mv real real.moved && ln -s outside real\n"), 0);
        moved = folder.RenameOpened(*entry, L"a.tmp", root_ + L"moved\\a.tmp");
    }
    EXPECT_EQ(ReadBytes(root_ + L"outside\\a.tmp"), "outside") << "the file the link leads to stays in place";
    if (moved) {
        EXPECT_EQ(ReadBytes(root_ + L"moved\\a.tmp"), "mine") << "only the checked file itself may move";
    } else {
        EXPECT_FALSE(PathExists(root_ + L"moved\\a.tmp"));
        EXPECT_EQ(ReadBytes(root_ + L"real.moved\\a.tmp"), "mine");
    }
}

TEST_F(CheckedFolderTest, DeletesGoThroughTheCheckedHandleReadOnlyIncluded)
{
    kvtest::WriteBytes(root_ + L"real\\ro.tmp", "read-only");
    ::SetFileAttributesW((root_ + L"real\\ro.tmp").c_str(), FILE_ATTRIBUTE_READONLY);
    const kv::TCheckedFolder folder(root_ + L"real\\");
    EXPECT_TRUE(folder.DeleteEntry(L"ro.tmp", false, false));
    EXPECT_FALSE(PathExists(root_ + L"real\\ro.tmp"));
    EXPECT_TRUE(folder.DeleteEntry(L"a.tmp", false, false));
    EXPECT_FALSE(PathExists(root_ + L"real\\a.tmp"));
}

TEST(CheckedFolder, FolderTextsThatAreNoPlainDrivePathsAreRefused)
{
    const std::wstring scratch = kvtest::ScratchFolder(L"checked-texts");
    for (const std::wstring& text : {scratch + L"..\\", scratch + L"x.\\", std::wstring(L"\\\\?\\C:\\kvtest\\"),
                                     std::wstring(L"relative\\"), scratch + std::wstring(300, L'a') + L"\\"}) {
        const kv::TCheckedFolder folder(text);
        EXPECT_FALSE(folder.IsUsable()) << kv::WideToUtf8(text);
        EXPECT_TRUE(folder.Refusal().has_value()) << kv::WideToUtf8(text);
    }
}

} // namespace
