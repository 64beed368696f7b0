#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "FactoryLists.h"
#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/SettingsStore.h"
#include "cleaner/engine/SharedState.h"
#include "platform/Registry.h"
#include "platform/TextCodec.h"

namespace {

using kv::TFilterEntry;
using kv::TFolderEntry;
using kv::TSettings;

constexpr wchar_t TestRootBase[] = L"Software\\Orbelune\\KestrelvaneTests";

// Each test works below a key of its own, removed before and after.
class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = std::wstring(TestRootBase) + L"\\" +
                kv::AnsiToWide(::testing::UnitTest::GetInstance()->current_test_info()->name());
        for (wchar_t& c : root_)
            if (c == L'/') c = L'_';
        kv::DeleteRegistryTree(HKEY_CURRENT_USER, root_);
        kv::CookieKeepList.clear();
    }
    // Only the test's own key: other test programs work below TestRootBase at the same time.
    void TearDown() override { kv::DeleteRegistryTree(HKEY_CURRENT_USER, root_); }

    kv::RegistryKey Key(const wchar_t* sub) const { return kv::RegistryKey::Create(HKEY_CURRENT_USER, root_ + sub); }
    void WriteRaw(const wchar_t* sub, const wchar_t* name, std::string_view bytes) const
    {
        ASSERT_TRUE(Key(sub).WriteBinary(name, bytes.data(), bytes.size()));
    }
    std::string ReadRaw(const wchar_t* sub, const wchar_t* name) const
    {
        const auto bytes = Key(sub).ReadBytes(name);
        return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("<missing>");
    }

    std::wstring root_;
};

std::string Utf16Le(std::wstring_view text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

std::string Utf16Be(std::wstring_view text)
{
    std::string bytes;
    for (wchar_t c : text) {
        bytes += static_cast<char>(c >> 8);
        bytes += static_cast<char>(c & 0xFF);
    }
    return bytes;
}

// ---- Defaults

TEST_F(SettingsStoreTest, EmptyKeyGivesEveryDefault)
{
    kv::ProgramFolder = L"C:\\Program\\";
    const TSettings settings = kv::LoadSettings(root_);
    EXPECT_EQ(settings.SpecificFolder, L"C:\\Program\\Backup\\");
    EXPECT_EQ(settings.DeletionFile, L"Backup.txt");
    EXPECT_EQ(settings.CleanMethod, kv::cmRecycleBin);
    EXPECT_EQ(settings.Language, L"");
    EXPECT_TRUE(settings.DoClean);
    EXPECT_FALSE(settings.EmptyBin);
    EXPECT_FALSE(settings.Temp);
    EXPECT_FALSE(settings.CleanTempSubFolders);
    EXPECT_FALSE(settings.SpecificTempFolder);
    EXPECT_TRUE(settings.Recent);
    EXPECT_FALSE(settings.FindInvalidShortCuts);
    EXPECT_FALSE(settings.FindEmptyFolders);
    EXPECT_FALSE(settings.SkipReadOnlyFiles);
    EXPECT_TRUE(settings.ShowBalloonTips);
    EXPECT_FALSE(settings.IECookies || settings.IECache || settings.IEHistory);
    EXPECT_FALSE(settings.FireFoxCookies || settings.FireFoxCache || settings.FireFoxHistory);
    for (bool entry : settings.ProgramHistory) EXPECT_FALSE(entry);
    for (bool entry : settings.Tracks) EXPECT_FALSE(entry);
    EXPECT_EQ(settings.InclusiveFiles, kv::LoadInclusiveFiles(true, root_));
    EXPECT_EQ(settings.InclusiveFiles.size(), 57u);
    ASSERT_EQ(settings.ExclusiveFiles.size(), 1u);
    EXPECT_EQ(settings.ExclusiveFiles[0], (TFilterEntry{true, L"OPA*.bak", L"Backup Files (Microsoft Office)"}));
    EXPECT_TRUE(settings.InclusiveFolders.empty());
    EXPECT_TRUE(settings.ExclusiveFolders.empty());
    EXPECT_TRUE(settings.EmptyFolders.empty());
    EXPECT_EQ(kv::CookieKeepList, L"");
    EXPECT_TRUE(kv::IsScanDriveChecked(L"C:", root_));
    EXPECT_FALSE(kv::RegistryKeyExists(HKEY_CURRENT_USER, root_)) << "loading must not create keys";
}

// ---- Round trip

TSettings EverySettingChanged()
{
    TSettings s;
    s.SpecificFolder = L"D:\\K\u00e4fig\\Backup\\";
    s.DeletionFile = L"Deleted \u65e5\u672c.txt";
    s.CleanMethod = kv::cmDeletePermanently;
    s.Language = L"Deutsch.ini";
    s.DoClean = false;
    s.EmptyBin = s.Temp = s.CleanTempSubFolders = s.SpecificTempFolder = true;
    s.Recent = false;
    s.FindInvalidShortCuts = s.FindEmptyFolders = s.SkipReadOnlyFiles = true;
    s.ShowBalloonTips = false;
    s.IECookies = s.IECache = s.IEHistory = true;
    s.FireFoxCookies = s.FireFoxCache = s.FireFoxHistory = true;
    s.ProgramHistory.fill(true);
    s.Tracks.fill(true);
    s.InclusiveFiles = {{true, L"*.tmp", L"Temporary Files"}, {false, L"*.\u00e9t\u00e9", L"N/A"}};
    s.ExclusiveFiles = {{false, L"keep*.bak", L"Mine"}};
    s.InclusiveFolders = {{L"C:\\Inc\\Sub", kv::pkIncludeWithSubFolders, true},
                          {L"C:\\Inc\\Only", kv::pkIncludeFolder, false}};
    s.ExclusiveFolders = {{L"C:\\Exc", kv::pkExcludeWithSubFolders, false},
                          {L"C:\\Exc\\\u00c5", kv::pkExcludeFolder, true}};
    s.EmptyFolders = {{L"C:\\Empty", kv::pkEmptyWithSubFolders, true}, {L"C:\\Empty2", kv::pkEmptyFolder, true}};
    return s;
}

TEST_F(SettingsStoreTest, EverySettingSurvivesARoundTrip)
{
    TSettings saved = EverySettingChanged();
    saved.ScanDrives = {{L"C:", false}, {L"D:", true}};
    kv::CookieKeepList = L"example.com\r\nkeep.\u00fcber.de\r\n";
    kv::SaveSettings(saved, root_);

    kv::CookieKeepList.clear();
    TSettings loaded = kv::LoadSettings(root_);
    EXPECT_EQ(kv::CookieKeepList, L"example.com\r\nkeep.\u00fcber.de\r\n");
    EXPECT_FALSE(kv::IsScanDriveChecked(L"C:", root_));
    EXPECT_TRUE(kv::IsScanDriveChecked(L"D:", root_));
    EXPECT_TRUE(kv::IsScanDriveChecked(L"E:", root_)) << "a drive not stored is checked";
    saved.ScanDrives.clear();
    EXPECT_TRUE(loaded == saved);
}

// Each value on its own, under its own name: a swapped pair of names would
// survive a round trip of all values together.
struct BoolLayout {
    const wchar_t* key;
    const wchar_t* name;
    bool TSettings::*member;
};

const BoolLayout BoolLayouts[] = {
    {L"\\Settings", L"DoClean", &TSettings::DoClean},
    {L"\\Settings", L"EmptyBin", &TSettings::EmptyBin},
    {L"\\Settings", L"Temp", &TSettings::Temp},
    {L"\\Settings", L"CleanTempSubFolders", &TSettings::CleanTempSubFolders},
    {L"\\Settings", L"SpecificTempFolder", &TSettings::SpecificTempFolder},
    {L"\\Settings", L"Recent", &TSettings::Recent},
    {L"\\Settings", L"FindInvalidShortCuts", &TSettings::FindInvalidShortCuts},
    {L"\\Settings", L"FindEmptyFolders", &TSettings::FindEmptyFolders},
    {L"\\Settings", L"SkipReadOnlyFiles", &TSettings::SkipReadOnlyFiles},
    {L"\\Settings", L"ShowBalloonTips", &TSettings::ShowBalloonTips},
    {L"\\IE", L"Cookies", &TSettings::IECookies},
    {L"\\IE", L"Cache", &TSettings::IECache},
    {L"\\IE", L"History", &TSettings::IEHistory},
    {L"\\FireFox", L"Cookies", &TSettings::FireFoxCookies},
    {L"\\FireFox", L"Cache", &TSettings::FireFoxCache},
    {L"\\FireFox", L"History", &TSettings::FireFoxHistory},
};

TEST_F(SettingsStoreTest, EachBooleanIsStoredUnderItsOwnName)
{
    for (const BoolLayout& layout : BoolLayouts) {
        kv::DeleteRegistryTree(HKEY_CURRENT_USER, root_);
        TSettings settings;
        const bool changed = !(settings.*layout.member);
        settings.*layout.member = changed;
        kv::SaveSettings(settings, root_);
        EXPECT_EQ(Key(layout.key).ReadDword(layout.name), std::optional<DWORD>(changed ? 1 : 0)) << layout.name;
        EXPECT_EQ(kv::LoadSettings(root_).*layout.member, changed) << layout.name;
        EXPECT_TRUE(kv::LoadSettings(root_) == settings) << layout.name;
    }
}

TEST_F(SettingsStoreTest, EachHistoryAndTrackEntryIsStoredUnderItsOwnName)
{
    const wchar_t* programHistory[] = {
        L"WinZipFileMenu", L"WinZipExtractMenu", L"WinRarFileMenu", L"WordPadRecentFileMenu",
        L"PaintRecentFileMenu", L"MediaPlayerRecentFileMenu", L"RealPlayerMostRecentClips",
        L"RealPlayerOpenLocationClips", L"UltraEditFindReplaceHistory", L"UltraEditRecentFileHistory",
        L"UltraEditRecentProjectHistory"};
    const wchar_t* tracks[] = {L"RecentItemsfromRunMenu", L"FindFilesMenu", L"FindFilesContainingTextMenu",
                               L"AllTypedWebAddressesMenu"};
    for (int i = 0; i < kv::ProgramHistoryCount; ++i) {
        kv::DeleteRegistryTree(HKEY_CURRENT_USER, root_);
        TSettings settings;
        settings.ProgramHistory[i] = true;
        kv::SaveSettings(settings, root_);
        EXPECT_EQ(Key(L"\\ProgramHistory").ReadDword(programHistory[i]), std::optional<DWORD>(1)) << i;
        EXPECT_TRUE(kv::LoadSettings(root_) == settings) << i;
    }
    for (int i = 0; i < kv::TracksCount; ++i) {
        kv::DeleteRegistryTree(HKEY_CURRENT_USER, root_);
        TSettings settings;
        settings.Tracks[i] = true;
        kv::SaveSettings(settings, root_);
        EXPECT_EQ(Key(L"\\Tracks").ReadDword(tracks[i]), std::optional<DWORD>(1)) << i;
        EXPECT_TRUE(kv::LoadSettings(root_) == settings) << i;
    }
}

TEST_F(SettingsStoreTest, TypesOfStoredValues)
{
    kv::SaveSettings(EverySettingChanged(), root_);
    EXPECT_EQ(Key(L"\\Settings").ValueType(L"SpecificFolder"), DWORD(REG_SZ));
    EXPECT_EQ(Key(L"\\Settings").ValueType(L"Language"), DWORD(REG_SZ));
    EXPECT_EQ(Key(L"\\Settings").ReadDword(L"CleanMethod"), std::optional<DWORD>(2));
    for (const wchar_t* list : {L"InclusiveFile", L"ExclusiveFile", L"InclusiveFolder", L"ExclusiveFolder",
                                L"EmptyFolder", L"Cookies"})
        EXPECT_EQ(Key(L"\\Filters").ValueType(list), DWORD(REG_BINARY)) << list;
    EXPECT_EQ(ReadRaw(L"\\Filters", L"InclusiveFolder"),
              "\xFF\xFE" + Utf16Le(L"1\r\nC:\\Inc\\Sub\r\n2\r\nC:\\Inc\\Only\r\n"));
    EXPECT_EQ(ReadRaw(L"\\Filters", L"ExclusiveFile"), "\xFF\xFE" + Utf16Le(L"0\r\nkeep*.bak\r\nMine\r\n"));
}

// ---- Corrupt values fall back to their defaults

TEST_F(SettingsStoreTest, CorruptValuesFallBackToTheirDefaults)
{
    kv::ProgramFolder = L"C:\\P\\";
    ASSERT_TRUE(Key(L"\\Settings").WriteString(L"CleanMethod", L"abc"));
    ASSERT_TRUE(Key(L"\\Settings").WriteDword(L"SpecificFolder", 7));
    WriteRaw(L"\\Settings", L"DoClean", "\x01\x02");
    ASSERT_TRUE(Key(L"\\Settings").WriteString(L"Recent", L"yes please"));
    ASSERT_TRUE(Key(L"\\IE").WriteString(L"Cookies", L"x"));
    ASSERT_TRUE(Key(L"\\Filters").WriteString(L"InclusiveFile", L"1\r\n*.x\r\nnot binary\r\n"));
    ASSERT_TRUE(Key(L"\\Filters").WriteDword(L"InclusiveFolder", 1));
    const TSettings settings = kv::LoadSettings(root_);
    EXPECT_EQ(settings.CleanMethod, kv::cmRecycleBin);
    EXPECT_EQ(settings.SpecificFolder, L"C:\\P\\Backup\\");
    EXPECT_TRUE(settings.DoClean);
    EXPECT_TRUE(settings.Recent);
    EXPECT_FALSE(settings.IECookies);
    EXPECT_EQ(settings.InclusiveFiles, kv::LoadInclusiveFiles(true, root_));
    EXPECT_TRUE(settings.InclusiveFolders.empty());
}

TEST_F(SettingsStoreTest, CleanMethodOutsideItsRangeIsTheDefault)
{
    for (DWORD method : {3u, 0xFFFFFFFFu, 1000u}) {
        ASSERT_TRUE(Key(L"\\Settings").WriteDword(L"CleanMethod", method));
        EXPECT_EQ(kv::LoadSettings(root_).CleanMethod, kv::cmRecycleBin) << method;
    }
    ASSERT_TRUE(Key(L"\\Settings").WriteDword(L"CleanMethod", 1));
    EXPECT_EQ(kv::LoadSettings(root_).CleanMethod, kv::cmBackupFolder);
}

// ---- List values

struct ByteOrderCase {
    const char* name;
    std::string bytes;
};

TEST_F(SettingsStoreTest, ListValuesDecodeInEveryByteOrderForm)
{
    const std::wstring text = L"1\r\n*.caf\u00e9\r\nCaf\u00e9 files\r\n";
    const ByteOrderCase cases[] = {
        {"UTF-16LE", "\xFF\xFE" + Utf16Le(text)},
        {"UTF-16BE", "\xFE\xFF" + Utf16Be(text)},
        {"UTF-8", "\xEF\xBB\xBF" + kv::WideToUtf8(text)},
        {"ANSI", kv::WideToAnsi(text)},
    };
    for (const ByteOrderCase& c : cases) {
        WriteRaw(L"\\Filters", L"InclusiveFile", c.bytes);
        EXPECT_EQ(kv::ReadRegistryText(root_, L"\\Filters", L"InclusiveFile"), text) << c.name;
        const auto filters = kv::LoadInclusiveFiles(false, root_);
        ASSERT_EQ(filters.size(), 1u) << c.name;
        EXPECT_EQ(filters[0], (TFilterEntry{true, L"*.caf\u00e9", L"Caf\u00e9 files"})) << c.name;
    }
}

TEST_F(SettingsStoreTest, ReadRegistryTextOfMissingOrEmptyValueIsEmpty)
{
    EXPECT_EQ(kv::ReadRegistryText(root_, L"\\Filters", L"Cookies"), L"");
    WriteRaw(L"\\Filters", L"Cookies", "");
    EXPECT_EQ(kv::ReadRegistryText(root_, L"\\Filters", L"Cookies"), L"");
    EXPECT_TRUE(kv::RegistryValueExists(root_, L"\\Filters", L"Cookies"));
    EXPECT_FALSE(kv::RegistryValueExists(root_, L"\\Filters", L"Other"));
    EXPECT_FALSE(kv::RegistryValueExists(root_, L"\\Missing", L"Cookies"));
}

TEST_F(SettingsStoreTest, ListHoldingOnlyTheByteOrderMarkIsEmptyNotTheFactoryList)
{
    WriteRaw(L"\\Filters", L"InclusiveFile", "\xFF\xFE");
    WriteRaw(L"\\Filters", L"ExclusiveFile", "\xFF\xFE");
    const TSettings settings = kv::LoadSettings(root_);
    EXPECT_TRUE(settings.InclusiveFiles.empty());
    EXPECT_TRUE(settings.ExclusiveFiles.empty());
}

TEST_F(SettingsStoreTest, EmptiedListsAreWrittenAndStayEmpty)
{
    TSettings settings = EverySettingChanged();
    kv::CookieKeepList = L"a.com\r\n";
    kv::SaveSettings(settings, root_);
    settings.InclusiveFiles.clear();
    settings.ExclusiveFiles.clear();
    settings.InclusiveFolders.clear();
    settings.ExclusiveFolders.clear();
    settings.EmptyFolders.clear();
    kv::CookieKeepList.clear();
    kv::SaveSettings(settings, root_);
    EXPECT_EQ(ReadRaw(L"\\Filters", L"InclusiveFile"), "\xFF\xFE");
    EXPECT_EQ(ReadRaw(L"\\Filters", L"Cookies"), "\xFF\xFE");
    kv::CookieKeepList = L"stale";
    EXPECT_TRUE(kv::LoadSettings(root_) == settings);
    EXPECT_EQ(kv::CookieKeepList, L"");
}

TEST_F(SettingsStoreTest, MissingFilterListGivesTheFactoryListAndResetIgnoresTheRegistry)
{
    WriteRaw(L"\\Filters", L"InclusiveFile", "\xFF\xFE" + Utf16Le(L"1\r\n*.mine\r\nMine\r\n"));
    EXPECT_EQ(kv::LoadInclusiveFiles(false, root_).size(), 1u);
    EXPECT_EQ(kv::LoadInclusiveFiles(true, root_).size(), 57u);
    EXPECT_EQ(kv::LoadExclusiveFiles(false, root_).size(), 1u) << "missing: the factory list";
}

TEST(FilterListTest, RepeatedMasksKeepTheFirstIgnoringCase)
{
    const auto filters = kv::ParseFilterList(L"1\r\n*.tmp\r\nFirst\r\n"
                                             L"0\r\n*.TMP\r\nSecond\r\n"
                                             L"1\r\n*.bak\r\n*.log\r\n" // a description is no earlier mask
                                             L"0\r\n*.log\r\nLogs\r\n"
                                             L"1\r\n*.Tmp\r\nThird\r\n");
    const std::vector<TFilterEntry> expected = {
        {true, L"*.tmp", L"First"}, {true, L"*.bak", L"*.log"}, {false, L"*.log", L"Logs"}};
    EXPECT_EQ(filters, expected);
}

TEST(FilterListTest, EmptyMaskIsSkippedAndEmptyDescriptionIsNotAvailable)
{
    const auto filters = kv::ParseFilterList(L"1\r\n\r\nNo mask\r\n0\r\n*.x\r\n\r\n1\r\n*.y\r\nN/A\r\n1\r\n*.z");
    const std::vector<TFilterEntry> expected = {{false, L"*.x", L"N/A"}, {true, L"*.y", L"N/A"}};
    EXPECT_EQ(filters, expected) << "an incomplete last triple is not read";
    EXPECT_EQ(kv::FormatFilterList(filters), L"0\r\n*.x\r\nN/A\r\n1\r\n*.y\r\nN/A\r\n");
}

TEST(FilterListTest, OnlyExactlyOneIsChecked)
{
    const auto filters = kv::ParseFilterList(L"1\r\n*.a\r\nA\r\n 1\r\n*.b\r\nB\r\nyes\r\n*.c\r\nC\r\n");
    ASSERT_EQ(filters.size(), 3u);
    EXPECT_TRUE(filters[0].checked);
    EXPECT_FALSE(filters[1].checked);
    EXPECT_FALSE(filters[2].checked);
}

TEST_F(SettingsStoreTest, HundredFiltersLoadAll)
{
    TSettings settings;
    for (int i = 0; i < 100; ++i)
        settings.InclusiveFiles.push_back({i % 2 == 0, L"*.x" + std::to_wstring(i), L"Filter " + std::to_wstring(i)});
    kv::SaveSettings(settings, root_);
    EXPECT_EQ(kv::LoadInclusiveFiles(false, root_), settings.InclusiveFiles);
}

TEST(FilterListTest, MaskExtension)
{
    EXPECT_EQ(kv::MaskExtension(L"*.tmp"), L".tmp");
    EXPECT_EQ(kv::MaskExtension(L"ffastun.*"), L".*");
    EXPECT_EQ(kv::MaskExtension(L"a.b.c"), L".c");
    EXPECT_EQ(kv::MaskExtension(L"Thumbs"), L"");
}

// ---- Folder lists

struct FolderCodeCase {
    kv::TFolderList list;
    const wchar_t* code;
    kv::PathKind kind;
    bool checked;
};

class FolderCodeTest : public ::testing::TestWithParam<FolderCodeCase> {};

TEST_P(FolderCodeTest, CodeGivesKindAndCheck)
{
    const FolderCodeCase& c = GetParam();
    const auto folders = kv::ParseFolderList(std::wstring(c.code) + L"\r\nC:\\A\r\n", c.list);
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_EQ(folders[0], (TFolderEntry{L"C:\\A", c.kind, c.checked}));
    if (c.kind != kv::pkNone) {
        EXPECT_EQ(kv::FormatFolderList(folders, c.list), std::wstring(c.code) + L"\r\nC:\\A\r\n");
    } else {
        EXPECT_EQ(kv::FormatFolderList(folders, c.list), L"");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, FolderCodeTest,
    ::testing::Values(FolderCodeCase{kv::flInclusive, L"0", kv::pkIncludeWithSubFolders, false},
                      FolderCodeCase{kv::flInclusive, L"1", kv::pkIncludeWithSubFolders, true},
                      FolderCodeCase{kv::flInclusive, L"2", kv::pkIncludeFolder, false},
                      FolderCodeCase{kv::flInclusive, L"3", kv::pkIncludeFolder, true},
                      FolderCodeCase{kv::flExclusive, L"1", kv::pkExcludeWithSubFolders, true},
                      FolderCodeCase{kv::flExclusive, L"2", kv::pkExcludeFolder, false},
                      FolderCodeCase{kv::flEmpty, L"0", kv::pkEmptyWithSubFolders, false},
                      FolderCodeCase{kv::flEmpty, L"3", kv::pkEmptyFolder, true},
                      FolderCodeCase{kv::flEmpty, L"7", kv::pkNone, false},
                      FolderCodeCase{kv::flInclusive, L"-1", kv::pkNone, false}));

TEST(FolderListTest, LoadStopsAtTheFirstEmptyPath)
{
    const auto folders = kv::ParseFolderList(L"1\r\nC:\\A\r\n\r\n3\r\nC:\\B\r\n", kv::flInclusive);
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_EQ(folders[0].path, L"C:\\A");
}

TEST(FolderListTest, PairWithCodeThatIsNoNumberIsSkipped)
{
    const auto folders = kv::ParseFolderList(L"x\r\nC:\\A\r\n\r\nC:\\B\r\n1 \r\nC:\\C\r\n3\r\nC:\\D\r\n1", kv::flExclusive);
    const std::vector<TFolderEntry> expected = {{L"C:\\D", kv::pkExcludeFolder, true}};
    EXPECT_EQ(folders, expected);
}

TEST(FolderListTest, RowsOfOtherListsAreNotWritten)
{
    const std::vector<TFolderEntry> rows = {{L"C:\\Inc", kv::pkIncludeFolder, true},
                                            {L"C:\\Exc", kv::pkExcludeFolder, true},
                                            {L"C:", kv::pkDrive, true}};
    EXPECT_EQ(kv::FormatFolderList(rows, kv::flExclusive), L"3\r\nC:\\Exc\r\n");
}

// ---- Scan drives

TEST_F(SettingsStoreTest, ScanDrivesNotListedKeepTheirFlags)
{
    kv::SaveScanDrives({{L"C:", false}, {L"D:", false}}, root_);
    kv::SaveScanDrives({{L"C:", true}}, root_);
    EXPECT_TRUE(kv::IsScanDriveChecked(L"C:", root_));
    EXPECT_FALSE(kv::IsScanDriveChecked(L"D:", root_));
}

// ---- Factory lists

std::string ResourceBytes(const wchar_t* name)
{
    const HRSRC resource = ::FindResourceW(nullptr, name, reinterpret_cast<LPCWSTR>(RT_RCDATA));
    if (!resource) return "<missing>";
    const void* data = ::LockResource(::LoadResource(nullptr, resource));
    return std::string(static_cast<const char*>(data), ::SizeofResource(nullptr, resource));
}

TEST(FactoryListTest, ResourcesHoldTheFilesByteForByte)
{
    const std::string inclusive(FactoryInclusiveFileBytes, sizeof FactoryInclusiveFileBytes);
    const std::string exclusive(FactoryExclusiveFileBytes, sizeof FactoryExclusiveFileBytes);
    EXPECT_EQ(ResourceBytes(L"INCLUSIVEFILE"), inclusive);
    EXPECT_EQ(ResourceBytes(L"EXCLUSIVEFILE"), exclusive);
    EXPECT_EQ(kv::LoadResourceText(L"INCLUSIVEFILE"), kv::AnsiToWide(inclusive));
    EXPECT_EQ(kv::LoadResourceText(L"EXCLUSIVEFILE"), kv::AnsiToWide(exclusive));
}

TEST(FactoryListTest, FilesAreAnsiWithCrLfAndNoFinalLineEnd)
{
    for (const std::string& bytes : {ResourceBytes(L"INCLUSIVEFILE"), ResourceBytes(L"EXCLUSIVEFILE")}) {
        ASSERT_GT(bytes.size(), 3u);
        EXPECT_NE(bytes.substr(0, 2), "\xFF\xFE");
        EXPECT_NE(bytes.substr(0, 3), "\xEF\xBB\xBF");
        EXPECT_NE(bytes.back(), '\n');
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            EXPECT_GT(static_cast<unsigned char>(bytes[i]), 0u);
            EXPECT_LT(static_cast<unsigned char>(bytes[i]), 0x80u);
            if (bytes[i] == '\n') {
                EXPECT_EQ(bytes[i - 1], '\r') << "at " << i;
            }
            if (bytes[i] == '\r') {
                EXPECT_EQ(bytes[i + 1], '\n') << "at " << i;
            }
        }
    }
    EXPECT_EQ(ResourceBytes(L"EXCLUSIVEFILE"), "1\r\nOPA*.bak\r\nBackup Files (Microsoft Office)");
}

TEST(FactoryListTest, InclusiveListHoldsTheShippedFilters)
{
    const auto filters = kv::ParseFilterList(kv::LoadResourceText(L"INCLUSIVEFILE"));
    ASSERT_EQ(filters.size(), 57u);
    EXPECT_EQ(filters.front(), (TFilterEntry{true, L"~*.*", L"Temporary Files"}));
    EXPECT_EQ(filters[7], (TFilterEntry{false, L"file_id.diz", L"Description File of Software"}));
    EXPECT_EQ(filters[10], (TFilterEntry{true, L"anti-vir.dat", L"Created by F-Prot Anit-Virus"}));
    EXPECT_EQ(filters[17], (TFilterEntry{true, L"*._dd", L"N/A"}));
    EXPECT_EQ(filters[33], (TFilterEntry{true, L"*.err", L"Error File "}));
    EXPECT_EQ(filters[53], (TFilterEntry{false, L"Thumbs.db", L"Thumbnail images caching file"}));
    EXPECT_EQ(filters.back(), (TFilterEntry{true, L"ZALog*.txt", L"Log Files (Zone Alarm)"}));
    int unchecked = 0;
    for (const TFilterEntry& filter : filters) unchecked += filter.checked ? 0 : 1;
    EXPECT_EQ(unchecked, 11);
}

} // namespace
