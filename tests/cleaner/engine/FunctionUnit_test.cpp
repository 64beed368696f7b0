#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "cleaner/engine/FunctionUnit.h"
#include "common/TestSupport.h"
#include "platform/Exceptions.h"
#include "platform/Handles.h"
#include "platform/WorkerThread.h"

namespace {

// ---- MatchWildcard

struct WildcardCase {
    const wchar_t* mask;
    const wchar_t* name;
    bool matches;
};

class MatchWildcardTest : public ::testing::TestWithParam<WildcardCase> {};

TEST_P(MatchWildcardTest, Matches)
{
    const WildcardCase& c = GetParam();
    EXPECT_EQ(kv::MatchWildcard(c.mask, c.name), c.matches) << "mask '" << testing::PrintToString(std::wstring(c.mask))
                                                            << "' name '" << testing::PrintToString(std::wstring(c.name)) << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Table, MatchWildcardTest,
    ::testing::Values(
        WildcardCase{L"*.tmp", L"file.tmp", true}, WildcardCase{L"*.tmp", L"file.tmp.bak", false},
        WildcardCase{L"*.TMP", L"File.Tmp", true},             // case ignored
        WildcardCase{L"~*.*", L"~WRL0001.tmp", true}, WildcardCase{L"~*.*", L"a~b.tmp", false},
        WildcardCase{L"*", L"anything.at.all", true}, WildcardCase{L"*", L"", true},
        WildcardCase{L"?", L"a", true}, WildcardCase{L"?", L"", false}, WildcardCase{L"?", L"ab", false},
        WildcardCase{L"??.log", L"ab.log", true}, WildcardCase{L"??.log", L"abc.log", false},
        WildcardCase{L"*?b", L"xbb", false},                   // one resumption point only
        WildcardCase{L"*?b", L"xb", true}, WildcardCase{L"*b", L"xbb", true},
        WildcardCase{L"a*b*c", L"aXbYc", true}, WildcardCase{L"a*b*c", L"aXbYcZ", false},
        WildcardCase{L"*.*", L"noextension", false}, WildcardCase{L"*.*", L"x.", true},
        WildcardCase{L"", L"", true}, WildcardCase{L"", L"x", false}, WildcardCase{L"x", L"", false},
        WildcardCase{L"thumbs.db", L"Thumbs.db", true}, WildcardCase{L"*.$$$", L"a.$$$", true},
        WildcardCase{L"**.bak", L"z.bak", true}, WildcardCase{L"*\x00e9*", L"caf\x00c9.txt", true}));

// ---- Comparisons

TEST(CompareVersions, Table)
{
    struct Case {
        const wchar_t* current;
        const wchar_t* newest;
        bool newer;
    };
    const Case cases[] = {{L"1.2", L"1.10", true},        {L"1.2.3.4", L"1.2.3.4.5", false},
                          {L"2.0", L"1.9.9.9", false},    {L"N/A", L"1.0", true},
                          {L"1.0", L"1.0", false},        {L"1.0.0.1", L"1.0.0.2", true},
                          {L"1.0", L"1.0\r\n", false},    {L"1.0", L"1.1 beta", true},
                          {L"3", L"", false},             {L"", L"0.0.0.1", true}};
    for (const Case& c : cases)
        EXPECT_EQ(kv::CompareVersions(c.current, c.newest), c.newer)
            << testing::PrintToString(std::wstring(c.current)) << " vs " << testing::PrintToString(std::wstring(c.newest));
}

TEST(CompareNumericText, DigitsOnlyAndNoOverflow)
{
    EXPECT_EQ(kv::CompareNumericText(L"1,024", L"999"), 1);
    EXPECT_EQ(kv::CompareNumericText(L"12", L"1 2"), 0);
    EXPECT_EQ(kv::CompareNumericText(L"abc", L"0"), 0);
    EXPECT_EQ(kv::CompareNumericText(L"2024-01-02", L"2024-01-10"), -1);
    EXPECT_EQ(kv::CompareNumericText(L"99999999999999999999999", L"99999999999999999999998"), 1);
    EXPECT_EQ(kv::CompareSizeText(L"1,536", L"1,535"), 1);
    EXPECT_EQ(kv::CompareSizeText(L"7", L"0007"), 0);
}

TEST(IsValidFileName, Table)
{
    EXPECT_TRUE(kv::IsValidFileName(L"Backup.txt"));
    EXPECT_FALSE(kv::IsValidFileName(L" Backup.txt"));
    EXPECT_FALSE(kv::IsValidFileName(L"Backup.txt "));
    EXPECT_FALSE(kv::IsValidFileName(L"what?.txt"));
    EXPECT_FALSE(kv::IsValidFileName(L""));
    for (const wchar_t* bad : {L"a\\b", L"a/b", L"a:b", L"a*b", L"a\"b", L"a<b", L"a>b", L"a|b"})
        EXPECT_FALSE(kv::IsValidFileName(bad)) << testing::PrintToString(std::wstring(bad));
}

// ---- Sizes and their display

std::wstring LocaleSeparator(LCTYPE type)
{
    wchar_t buffer[8] = {};
    ::GetLocaleInfoW(LOCALE_USER_DEFAULT, type, buffer, 8);
    return buffer;
}

TEST(FormatFileSize, UnitsAndLocaleSeparators)
{
    const std::wstring dot = LocaleSeparator(LOCALE_SDECIMAL);
    const std::wstring comma = LocaleSeparator(LOCALE_STHOUSAND);
    EXPECT_EQ(kv::FormatFileSize(0), L"0 Bytes");
    EXPECT_EQ(kv::FormatFileSize(1023), L"1023 Bytes");
    EXPECT_EQ(kv::FormatFileSize(1024), L"1" + dot + L"00 KB");
    EXPECT_EQ(kv::FormatFileSize(1536), L"1" + dot + L"50 KB");
    EXPECT_EQ(kv::FormatFileSize(1048576), L"1" + dot + L"00 MB");
    EXPECT_EQ(kv::FormatFileSize(1073741824), L"1" + dot + L"00 GB");
    EXPECT_EQ(kv::FormatFileSize(1048575), L"1" + comma + L"024" + dot + L"00 KB"); // rounds up to 1,024.00
    EXPECT_EQ(kv::FormatFileSize(5LL * 1099511627776LL), L"5" + comma + L"120" + dot + L"00 GB");
    EXPECT_EQ(kv::FormatFileSize(-5), L"0" + dot + L"00 KB");
}

TEST(FormatThousands, GroupsByThree)
{
    const std::wstring comma = LocaleSeparator(LOCALE_STHOUSAND);
    EXPECT_EQ(kv::FormatThousands(0), L"0");
    EXPECT_EQ(kv::FormatThousands(999), L"999");
    EXPECT_EQ(kv::FormatThousands(1000), L"1" + comma + L"000");
    EXPECT_EQ(kv::FormatThousands(1234567890123LL), L"1" + comma + L"234" + comma + L"567" + comma + L"890" + comma + L"123");
}

TEST(FileTimeToText, UtcCalendarFieldsWithoutTimeZoneShift)
{
    SYSTEMTIME fields{};
    fields.wYear = 2009;
    fields.wMonth = 3;
    fields.wDay = 7;
    fields.wHour = 4;
    fields.wMinute = 5;
    fields.wSecond = 6;
    FILETIME time{};
    ASSERT_TRUE(::SystemTimeToFileTime(&fields, &time));
    EXPECT_EQ(kv::FileTimeToText(time), L"2009-03-07 04:05:06");
}

class SizeOnDiskTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = kv::ClusterSizes;
        folder_ = kvtest::ScratchFolder(L"SizeOnDisk");
    }
    void TearDown() override { kv::ClusterSizes = saved_; }
    std::array<std::uint32_t, 26> saved_{};
    std::wstring folder_;
};

TEST_F(SizeOnDiskTest, RoundsUpToTheDrivesCluster)
{
    const std::wstring one = folder_ + L"one.bin";
    const std::wstring eight = folder_ + L"eight.bin";
    kvtest::WriteBytes(one, "x");
    kvtest::WriteBytes(eight, std::string(8192, 'y'));
    kv::ClusterSizes['C' - 'A'] = 4096;
    EXPECT_EQ(kv::SizeOnDisk(one, 1), 4096);
    EXPECT_EQ(kv::SizeOnDisk(eight, 8192), 8192);
    EXPECT_EQ(kv::SizeOnDisk(one, -1), 4096) << "a negative size is measured";
    EXPECT_EQ(kv::FileSizeOnDisk(eight), 8192);
    EXPECT_EQ(kv::SizeOnDisk(folder_ + L"missing.bin", 10), 0);
    kv::ClusterSizes['C' - 'A'] = 0;
    EXPECT_EQ(kv::SizeOnDisk(one, 1), 1) << "unknown cluster size keeps the size";
}

TEST_F(SizeOnDiskTest, RelativePathUsesDriveC)
{
    kvtest::WriteBytes(folder_ + L"rel.bin", "abc");
    kv::ClusterSizes['C' - 'A'] = 512;
    // A path whose first character is no drive letter takes C's cluster size.
    const std::wstring unc = L"\\\\?\\" + folder_ + L"rel.bin";
    EXPECT_EQ(kv::SizeOnDisk(unc, 3), 512);
}

TEST_F(SizeOnDiskTest, MeasuresRealDrives)
{
    const std::uint32_t cluster = kv::GetClusterSize(L"C:\\");
    EXPECT_GT(cluster, 0u);
    EXPECT_EQ(cluster % 512, 0u);
    EXPECT_EQ(kv::GetClusterSize(L"Q:\\"), 0u);
    EXPECT_GT(kv::GetDiskSpace(L"C:\\", 0), 0);
    EXPECT_GT(kv::GetDiskSpace(L"C:\\", 1), 0);
    EXPECT_EQ(kv::GetDiskSpace(L"C:\\", 2), 0);
    EXPECT_FALSE(kv::FormatDiskSpace(L"C:\\", 0).empty());
    EXPECT_EQ(kv::FormatDiskSpace(L"Q:\\", 0), L"");
    EXPECT_THROW(kv::GetClusterSize9x(3), kv::Exception) << "no 9x system device here";
}

TEST(FileSizeOf, OpenFailuresGiveZero)
{
    const std::wstring folder = kvtest::ScratchFolder(L"FileSizeOf");
    kvtest::WriteBytes(folder + L"f.bin", std::string(1234, 'z'));
    EXPECT_EQ(kv::FileSizeOf(folder + L"f.bin"), 1234);
    EXPECT_EQ(kv::FileSizeOf(folder + L"none.bin"), 0);
}

// ---- Folders and paths

TEST(Folders, SystemFolders)
{
    const std::wstring windows = kv::GetWindowsFolder();
    EXPECT_EQ(_wcsicmp(windows.c_str(), L"C:\\windows"), 0);
    const std::wstring temp = kv::GetTempFolder();
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(temp.back(), L'\\');
    EXPECT_TRUE(kvtest::PathExists(temp));
    EXPECT_EQ(kv::GetShellFolder(L"No Such Shell Folder"), L"");
    EXPECT_EQ(kv::GetFileSystemName(L"Q:\\"), L"");
}

TEST(Folders, CreateFolderPathStopsAtTheLastBackslash)
{
    const std::wstring folder = kvtest::ScratchFolder(L"CreateFolderPath");
    kv::CreateFolderPath(folder + L"A\\B\\file.txt");
    EXPECT_TRUE(kvtest::PathExists(folder + L"A\\"));
    EXPECT_TRUE(kvtest::PathExists(folder + L"A\\B\\"));
    EXPECT_FALSE(kvtest::PathExists(folder + L"A\\B\\file.txt"));
}

TEST(Folders, TruePathNameOfShortPath)
{
    const std::wstring folder = kvtest::ScratchFolder(L"TruePath");
    const std::wstring longFolder = folder + L"A Rather Long Folder Name\\";
    ASSERT_TRUE(::CreateDirectoryW(longFolder.c_str(), nullptr));
    const std::wstring shortForm = kv::GetShortPath(longFolder);
    ASSERT_FALSE(shortForm.empty());
    EXPECT_EQ(_wcsicmp(kv::GetTruePathName(shortForm).c_str(), longFolder.c_str()), 0)
        << testing::PrintToString(shortForm);
    EXPECT_EQ(kv::GetTruePathName(folder + L"missing\\"), L"");
    EXPECT_EQ(kv::GetTruePathName(L"C:\\"), L"C:\\");
}

TEST(Folders, ExpandEnvironment)
{
    ::SetEnvironmentVariableW(L"KV_TEST_VAR", L"value");
    EXPECT_EQ(kv::ExpandEnvironment(L"plain"), L"plain");
    EXPECT_EQ(kv::ExpandEnvironment(L"%KV_TEST_VAR%\\x"), L"value\\x");
    const std::wstring big(3000, L'q');
    ::SetEnvironmentVariableW(L"KV_TEST_BIG", big.c_str());
    EXPECT_EQ(kv::ExpandEnvironment(L"<%KV_TEST_BIG%>"), L"<" + big + L">") << "longer than the first buffer";
}

TEST(Folders, IsRealSubFolder)
{
    WIN32_FIND_DATAW entry{};
    entry.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
    wcscpy(entry.cFileName, L"sub");
    EXPECT_TRUE(kv::IsRealSubFolder(entry));
    wcscpy(entry.cFileName, L"..");
    EXPECT_FALSE(kv::IsRealSubFolder(entry));
    wcscpy(entry.cFileName, L".");
    EXPECT_FALSE(kv::IsRealSubFolder(entry));
    entry.dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE;
    wcscpy(entry.cFileName, L"file");
    EXPECT_FALSE(kv::IsRealSubFolder(entry));
}

// ---- Files

TEST(FindBytes, OneBasedWithStartAndCount)
{
    EXPECT_EQ(kv::FindBytes("URL ", "xxURL yyURL ", 0, 0), 3) << "start 0 searches from the first byte";
    EXPECT_EQ(kv::FindBytes("URL ", "xxURL yyURL ", 1, 0), 3);
    EXPECT_EQ(kv::FindBytes("URL ", "xxURL yyURL ", 4, 0), 9);
    EXPECT_EQ(kv::FindBytes("URL ", "xxURL yyURL ", 4, 6), 0) << "count limits the bytes searched";
    EXPECT_EQ(kv::FindBytes("URL ", "xxURL yyURL ", 4, 12), 9);
    EXPECT_EQ(kv::FindBytes("", "abc", 1, 0), 0);
    EXPECT_EQ(kv::FindBytes("a", "", 1, 0), 0);
    EXPECT_EQ(kv::FindBytes("c", "abc", 99, 0), 0);
    EXPECT_EQ(kv::FindBytes(std::string_view("\0b", 2), std::string_view("a\0b", 3), 1, 0), 2);
}

TEST(Files, WriteUnicodeFileAndDecodeText)
{
    const std::wstring folder = kvtest::ScratchFolder(L"Unicode");
    ASSERT_TRUE(kv::WriteUnicodeFile(folder + L"u.txt", L"A\x0416"));
    EXPECT_EQ(kvtest::ReadBytes(folder + L"u.txt"), std::string("\xFF\xFE" "A\0\x16\x04", 6));
    EXPECT_EQ(kv::DecodeText(std::string("\xFF\xFE" "A\0\x16\x04", 6)), L"A\x0416");
    EXPECT_EQ(kv::DecodeText(std::string("\xFE\xFF\0A\x04\x16", 6)), L"A\x0416");
    EXPECT_EQ(kv::DecodeText("\xEF\xBB\xBF" "A\xD0\x96"), L"A\x0416");
    EXPECT_EQ(kv::DecodeText("plain"), L"plain");
    EXPECT_EQ(kv::DecodeText(""), L"");
    EXPECT_EQ(*kv::ReadWholeFile(folder + L"u.txt"), std::string("\xFF\xFE" "A\0\x16\x04", 6));
    EXPECT_FALSE(kv::ReadWholeFile(folder + L"missing.txt").has_value());
}

TEST(Files, CanOpenFileKeepsAttributes)
{
    const std::wstring folder = kvtest::ScratchFolder(L"CanOpen");
    const std::wstring path = folder + L"ro.txt";
    kvtest::WriteBytes(path, "data");
    ASSERT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_TRUE(kv::CanOpenFile(path));
    const DWORD kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    EXPECT_EQ(::GetFileAttributesW(path.c_str()) & kept, static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(kvtest::ReadBytes(path), "data") << "opening for writing changes nothing";
    EXPECT_FALSE(kv::CanOpenFile(folder + L"missing.txt"));

    // A file held open without write sharing cannot be opened.
    const std::wstring locked = folder + L"locked.txt";
    kvtest::WriteBytes(locked, "x");
    kv::FileHandle holder(::CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder.IsValid());
    EXPECT_FALSE(kv::CanOpenFile(locked));
}

// ---- System and process

TEST(System, RunAndWaitReturnsTheChildsExitCode)
{
    EXPECT_EQ(kv::RunAndWait(kvtest::ProbePath(), L"exit 7"), 7);
    EXPECT_EQ(kv::RunAndWait(kvtest::ProbePath(), L"exit 0"), 0);
    EXPECT_EQ(kv::RunAndWait(L"C:\\no\\such\\program.exe", L""), -1);
}

TEST(System, SecondInstanceFindsTheMutex)
{
    EXPECT_EQ(kvtest::RunProcess(L"\"" + kvtest::ProbePath() + L"\" mutex"), 0) << "first instance";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION holder{};
    std::wstring line = L"\"" + kvtest::ProbePath() + L"\" hold-mutex 4000";
    ASSERT_TRUE(::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &holder));
    kv::KernelHandle process(holder.hProcess), thread(holder.hThread);
    ::Sleep(1000);
    EXPECT_EQ(kvtest::RunProcess(L"\"" + kvtest::ProbePath() + L"\" mutex"), 1) << "second instance";
    ::WaitForSingleObject(process.Get(), 10000);
    DWORD code = 99;
    ::GetExitCodeProcess(process.Get(), &code);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(kvtest::RunProcess(L"\"" + kvtest::ProbePath() + L"\" mutex"), 0) << "free again";
}

TEST(System, CurrentUserSidComesFromTheToken)
{
    const std::wstring sid = kv::GetCurrentUserSid();
    EXPECT_EQ(sid.rfind(L"S-1-5-", 0), 0u) << testing::PrintToString(sid);
    EXPECT_GT(sid.size(), 8u);
}

TEST(System, VersionTextFromTheResource)
{
    EXPECT_EQ(kv::ReadFileVersionText(), L"1.0.0.0");
    EXPECT_FALSE(kv::IsUACEnabled() && false);
}

TEST(System, ClipboardHoldsTheText)
{
    ASSERT_TRUE(kv::SetClipboardText(L"Kestrel \x00e9"));
    ASSERT_TRUE(::OpenClipboard(nullptr));
    const HANDLE data = ::GetClipboardData(CF_UNICODETEXT);
    const auto* text = data ? static_cast<const wchar_t*>(::GlobalLock(data)) : nullptr;
    const std::wstring copy = text ? std::wstring(text) : std::wstring();
    if (data) ::GlobalUnlock(data);
    ::CloseClipboard();
    EXPECT_EQ(copy, L"Kestrel \x00e9");
}

// ---- Worker-thread counter

DWORD WINAPI CountingThread(void*)
{
    for (int r = 0; r < 20000; ++r) {
        kv::IncThreadCount();
        kv::DecThreadCount();
    }
    return 0;
}

TEST(WorkerThreadCount, IdleIsOneAndChangesAreAtomic)
{
    ASSERT_EQ(kv::WorkerThreadCount.load(), 1);
    constexpr int kThreads = 8;
    std::vector<kv::KernelHandle> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back(::CreateThread(
            nullptr, 0,
            &CountingThread,
            nullptr, 0, nullptr));
    for (auto& thread : threads) ::WaitForSingleObject(thread.Get(), INFINITE);
    EXPECT_EQ(kv::WorkerThreadCount.load(), 1);
    {
        kv::WorkerThreadCounter counter;
        EXPECT_EQ(kv::WorkerThreadCount.load(), 2);
    }
    EXPECT_EQ(kv::WorkerThreadCount.load(), 1);
}

} // namespace
