#include <windows.h>

#include <gtest/gtest.h>

#include <shellapi.h>

#include <map>

#include "cleaner/engine/CleanTargets.h"
#include "cleaner/engine/FunctionUnit.h"
#include "platform/Exceptions.h"
#include "platform/Registry.h"
#include "platform/TextCodec.h"
#include "CleanTargetsTestSupport.h"

namespace {

using kvtest::PathExists;
using kvtest::TreeOf;
using Tree = std::set<std::wstring>;

// ---- DeleteFolderContents

// The tree every table case starts from.
void BuildEmptyingTree(const std::wstring& f)
{
    for (const wchar_t* name : {L"a.tmp", L"b.TMP", L"c.txt", L"sub\\d.tmp", L"sub\\e.txt", L"sub\\deep\\f.tmp",
                                L"locked\\g.tmp", L"ro.tmp", L"hidden.tmp", L"system.tmp"})
        kvtest::WriteSized(f + name, 10);
    kvtest::MakeFolder(f + L"emptysub\\");
    ::SetFileAttributesW((f + L"ro.tmp").c_str(), FILE_ATTRIBUTE_READONLY);
    ::SetFileAttributesW((f + L"hidden.tmp").c_str(), FILE_ATTRIBUTE_HIDDEN);
    ::SetFileAttributesW((f + L"system.tmp").c_str(), FILE_ATTRIBUTE_SYSTEM);
    ::SetFileAttributesW((f + L"locked\\g.tmp").c_str(), FILE_ATTRIBUTE_READONLY);
}

struct EmptyingCase {
    const wchar_t* name;
    const wchar_t* mask;
    bool withSubFolders;
    Tree remaining;
};

class DeleteFolderContentsTable : public ::testing::TestWithParam<EmptyingCase> {};

TEST_P(DeleteFolderContentsTable, RemovesExactlyWhatTheMaskAndFlagSay)
{
    const EmptyingCase& c = GetParam();
    kvtest::ScopedCleanRunning running;
    const std::wstring f = kvtest::ScratchFolder(std::wstring(L"emptying-") + c.name);
    BuildEmptyingTree(f);
    // A file in use without sharing cannot go; its folder then stays too.
    kv::FileHandle inUse(::CreateFileW((f + L"locked\\g.tmp").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(inUse.IsValid());
    const DWORD folderAttributes = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_SYSTEM;
    ::SetFileAttributesW(f.c_str(), FILE_ATTRIBUTE_SYSTEM);

    kv::DeleteFolderContents(f, c.mask, c.withSubFolders);

    EXPECT_EQ(TreeOf(f), c.remaining);
    // The emptied folder keeps its attributes; the file that stayed keeps its own.
    EXPECT_EQ(kvtest::KeyAttributes(f), folderAttributes);
    EXPECT_EQ(kvtest::KeyAttributes(f + L"locked\\g.tmp"), static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    ::SetFileAttributesW(f.c_str(), FILE_ATTRIBUTE_NORMAL);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeleteFolderContentsTable,
    ::testing::Values(
        EmptyingCase{L"tmp-flat", L"*.tmp", false,
                     {L"c.txt", L"sub\\", L"sub\\d.tmp", L"sub\\e.txt", L"sub\\deep\\", L"sub\\deep\\f.tmp",
                      L"locked\\", L"locked\\g.tmp", L"emptysub\\"}},
        EmptyingCase{L"all-flat", L"*", false,
                     {L"sub\\", L"sub\\d.tmp", L"sub\\e.txt", L"sub\\deep\\", L"sub\\deep\\f.tmp", L"locked\\",
                      L"locked\\g.tmp", L"emptysub\\"}},
        EmptyingCase{L"tmp-deep", L"*.tmp", true, {L"c.txt", L"sub\\", L"sub\\e.txt", L"locked\\", L"locked\\g.tmp"}},
        EmptyingCase{L"all-deep", L"*", true, {L"locked\\", L"locked\\g.tmp"}},
        EmptyingCase{L"no-match", L"*.bak", false,
                     {L"a.tmp", L"b.TMP", L"c.txt", L"ro.tmp", L"hidden.tmp", L"system.tmp", L"sub\\", L"sub\\d.tmp",
                      L"sub\\e.txt", L"sub\\deep\\", L"sub\\deep\\f.tmp", L"locked\\", L"locked\\g.tmp",
                      L"emptysub\\"}}),
    [](const auto& info) {
        std::string name;
        for (const wchar_t* p = info.param.name; *p; ++p) name += *p == L'-' ? '_' : static_cast<char>(*p);
        return name;
    });

TEST(DeleteFolderContents, TwoCharacterFolderTextDoesNothing)
{
    kvtest::ScopedCleanRunning running;
    wchar_t saved[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, saved);
    const std::wstring f = kvtest::ScratchFolder(L"two-chars");
    kvtest::WriteSized(f + L"keep.tmp", 1);
    ::SetCurrentDirectoryW(f.c_str());
    kv::DeleteFolderContents(L"C:", L"*", true);
    ::SetCurrentDirectoryW(saved);
    EXPECT_TRUE(PathExists(f + L"keep.tmp"));
}

TEST(DeleteFolderContents, AttributesOfKeptEntriesStayAsTheyWere)
{
    kvtest::ScopedCleanRunning running;
    const std::wstring recent = kvtest::ScratchFolder(L"recent-attributes");
    kvtest::WriteSized(recent + L"desktop.ini", 5);
    kvtest::WriteSized(recent + L"doc.lnk", 5);
    kvtest::WriteSized(recent + L"AutomaticDestinations\\x.automaticDestinations-ms", 5);
    const DWORD shellAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    ::SetFileAttributesW((recent + L"desktop.ini").c_str(), shellAttributes);
    ::SetFileAttributesW((recent + L"AutomaticDestinations").c_str(), FILE_ATTRIBUTE_HIDDEN);
    const kvtest::ScopedValue<std::wstring> folder(kv::RecentFolder, recent);

    kv::CleanTarget(kv::ctRecentDocuments, kv::TCleanRequest{});

    EXPECT_FALSE(PathExists(recent + L"doc.lnk"));
    EXPECT_EQ(kvtest::KeyAttributes(recent + L"desktop.ini"), shellAttributes);
    EXPECT_EQ(kvtest::KeyAttributes(recent + L"AutomaticDestinations"),
              static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN));
    ::SetFileAttributesW((recent + L"desktop.ini").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(DeleteFolderContents, StopsWhenStopIsRequested)
{
    const std::wstring f = kvtest::ScratchFolder(L"stop");
    for (int i = 0; i < 20; ++i) kvtest::WriteSized(f + L"f" + std::to_wstring(i) + L".tmp", 1);
    kv::StopRequested = 1; // idle: one entry at most
    kv::DeleteFolderContents(f, L"*", true);
    EXPECT_GE(TreeOf(f).size(), 19u);
}

TEST(DeleteFolderContents, NeverWalksThroughALinkToAFolderOutside)
{
    KV_REQUIRE_FIXTURES();
    kvtest::ScopedCleanRunning running;
    const std::wstring links = kvtest::FixtureFolder() + L"links\\";
    ASSERT_TRUE(kvtest::Attributes(links + L"inside\\outlink") & FILE_ATTRIBUTE_REPARSE_POINT);
    const Tree outside = TreeOf(links + L"outside\\");
    ASSERT_EQ(outside, (Tree{L"keep.tmp", L"deeper\\", L"deeper\\keep.tmp"}));

    kv::DeleteFolderContents(links + L"inside\\", L"*.tmp", true);
    EXPECT_FALSE(PathExists(links + L"inside\\junk.tmp"));
    EXPECT_FALSE(PathExists(links + L"inside\\sub\\junk.tmp"));
    EXPECT_EQ(TreeOf(links + L"outside\\"), outside);

    kv::DeleteFolderContents(links + L"inside\\", L"*", true);
    EXPECT_EQ(TreeOf(links + L"outside\\"), outside);
    // Removed as a link (Windows) or left in place (Wine cannot remove a Unix
    // link without going through it); never emptied.
    const Tree left = TreeOf(links + L"inside\\");
    for (const std::wstring& name : left) {
        const bool link = name.find(L"outlink") != std::wstring::npos;
        const bool holdsLink = name == L"sub\\" && left.count(L"sub\\outlink\\");
        EXPECT_TRUE(link || holdsLink) << testing::PrintToString(name);
    }
}

// ---- ZeroFillFile

TEST(ZeroFillFile, OverwritesAFileHeldOpenWithSharingAndKeepsItsLength)
{
    const std::wstring f = kvtest::ScratchFolder(L"zero-shared") + L"index.dat";
    kvtest::WriteSized(f, 70000, 'k');
    kv::FileHandle holder(::CreateFileW(f.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder.IsValid());
    kv::ZeroFillFile(f, 0, 0);
    holder.Reset();
    EXPECT_EQ(kvtest::ReadBytes(f), std::string(70000, '\0'));
}

TEST(ZeroFillFile, FailsCleanlyOnAFileHeldWithoutSharing)
{
    const std::wstring f = kvtest::ScratchFolder(L"zero-exclusive") + L"index.dat";
    kvtest::WriteSized(f, 300, 'k');
    kv::FileHandle holder(::CreateFileW(f.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder.IsValid());
    bool done = true;
    EXPECT_NO_THROW(done = kv::ZeroFillFile(f, 0, 0));
    EXPECT_FALSE(done);
    holder.Reset();
    EXPECT_EQ(kvtest::ReadBytes(f), std::string(300, 'k'));
}

TEST(ZeroFillFile, RangesAndMissingFiles)
{
    const std::wstring f = kvtest::ScratchFolder(L"zero-range") + L"data.bin";
    kvtest::WriteBytes(f, "abcdefgh");
    kv::ZeroFillFile(f, 3, 2); // 1-based start
    EXPECT_EQ(kvtest::ReadBytes(f), std::string("ab\0\0efgh", 8));
    kv::ZeroFillFile(f, 7, 100); // never grows the file
    EXPECT_EQ(kvtest::ReadBytes(f), std::string("ab\0\0ef\0\0", 8));
    EXPECT_TRUE(kv::ZeroFillFile(f + L".missing", 0, 0));
    EXPECT_FALSE(PathExists(f + L".missing"));
}

// ---- History index files

TEST(WipeIndexFiles, DeletesOrBlanksEveryIndexAndRemovesEmptiedContainers)
{
    const std::wstring h = kvtest::ScratchFolder(L"history");
    kvtest::WriteSized(h + L"index.dat", 100, 'i');
    kvtest::WriteSized(h + L"desktop.ini", 10);
    kvtest::WriteSized(h + L"MSHist01\\index.dat", 100, 'i');
    kvtest::WriteSized(h + L"MSHist02\\index.dat", 100, 'i');
    kvtest::WriteSized(h + L"MSHist02\\other.txt", 10);
    kvtest::WriteSized(h + L"MSHist03\\index.dat", 256, 'i');
    // In use by the browser: readable and writable, but not deletable.
    kv::FileHandle inUse(::CreateFileW((h + L"MSHist03\\index.dat").c_str(), GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(inUse.IsValid());

    kv::WipeIndexFiles(h);

    EXPECT_EQ(TreeOf(h), (Tree{L"desktop.ini", L"MSHist02\\", L"MSHist02\\other.txt", L"MSHist03\\",
                               L"MSHist03\\index.dat"}));
    inUse.Reset();
    EXPECT_EQ(kvtest::ReadBytes(h + L"MSHist03\\index.dat"), std::string(256, '\0'));
}

TEST(WipeIEHistory, BlanksALockedHistoryIndex)
{
    const std::wstring h = kvtest::ScratchFolder(L"history-locked");
    const kvtest::ScopedValue<std::wstring> folder(kv::IEHistoryFolder, h);
    kvtest::WriteSized(h + L"History.IE5\\index.dat", 32768, 'u');
    kv::FileHandle inUse(::CreateFileW((h + L"History.IE5\\index.dat").c_str(), GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    kv::WipeIEHistory();
    inUse.Reset();
    EXPECT_EQ(kvtest::ReadBytes(h + L"History.IE5\\index.dat"), std::string(32768, '\0'));
}

TEST(WipeIEHistoryContainers, DeletesTheExtensibleCacheKeyAndWipesTheContainers)
{
    const wchar_t key[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\5.0\\Cache\\Extensible Cache";
    const std::wstring h = kvtest::ScratchFolder(L"history-containers");
    const kvtest::ScopedValue<std::wstring> folder(kv::IEHistoryFolder, h);
    kvtest::WriteSized(h + L"History.IE5\\MSHist01\\index.dat", 100);

    kv::DeleteRegistryKey(HKEY_CURRENT_USER, key);
    kv::WipeIEHistoryContainers(); // no key: nothing at all
    EXPECT_TRUE(PathExists(h + L"History.IE5\\MSHist01\\index.dat"));

    kv::RegistryKey::Create(HKEY_CURRENT_USER, std::wstring(key) + L"\\MSHist01").WriteString(L"CachePath", h);
    kv::WipeIEHistoryContainers();
    EXPECT_FALSE(kv::RegistryKeyExists(HKEY_CURRENT_USER, key));
    EXPECT_FALSE(PathExists(h + L"History.IE5\\MSHist01\\"));
}

// ---- Recycle bin

TEST(EmptyRecycleBin, EmptiesTheBinOfTheTestPrefix)
{
    // The prefix's recycle bin is the freedesktop trash below the scratch XDG_DATA_HOME.
    const std::wstring f = kvtest::ScratchFolder(L"recycle");
    kvtest::WriteSized(f + L"recycled.tmp", 100);
    std::wstring from = f + L"recycled.tmp";
    from.push_back(L'\0');
    SHFILEOPSTRUCTW operation{};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
    ASSERT_EQ(::SHFileOperationW(&operation), 0);
    SHQUERYRBINFO info{sizeof info};
    ASSERT_EQ(::SHQueryRecycleBinW(nullptr, &info), S_OK);
    ASSERT_GT(info.i64NumItems, 0);

    bool reported = false;
    EXPECT_TRUE(kv::EmptyRecycleBin([&] { reported = true; }));
    EXPECT_FALSE(reported);
    info = SHQUERYRBINFO{sizeof info};
    ASSERT_EQ(::SHQueryRecycleBinW(nullptr, &info), S_OK);
    EXPECT_EQ(info.i64NumItems, 0);
}

// ---- Registry and INI tracks

const wchar_t kRealPlayerVersionKey[] = L"SOFTWARE\\Classes\\Software\\RealNetworks\\RealPlayer\\CurrentVersion";
const wchar_t kSearchBandKey[] = L"SOFTWARE\\Classes\\Shell.FileSearchBand\\CLSID";
const wchar_t kSearchBandId[] = L"{C4EE31F3-4768-11D2-BE5C-00A0C9A83DA1}";

struct SeededKey {
    HKEY root;
    std::wstring path;
};

std::vector<SeededKey> TrackKeys()
{
    const std::wstring bars = std::wstring(L"Software\\Microsoft\\Internet Explorer\\Explorer Bars\\") + kSearchBandId;
    return {{HKEY_CURRENT_USER, L"Software\\Nico Mak Computing\\WinZip\\filemenu"},
            {HKEY_CURRENT_USER, L"Software\\Nico Mak Computing\\WinZip\\extract"},
            {HKEY_CURRENT_USER, L"Software\\WinRAR\\ArcHistory"},
            {HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\Paint\\Recent File List"},
            {HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\Wordpad\\Recent File List"},
            {HKEY_CURRENT_USER, L"Software\\Microsoft\\MediaPlayer\\Player\\RecentFileList"},
            {HKEY_CURRENT_USER, L"Software\\Microsoft\\MediaPlayer\\Player\\RecentURLList"},
            {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Software\\RealNetworks\\RealPlayer\\6.0\\Preferences\\MostRecentClips1"},
            {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Software\\RealNetworks\\RealPlayer\\6.0\\Preferences\\MostRecentClips2"},
            {HKEY_CURRENT_USER, L"Software\\RealNetworks\\RealPlayer\\6.0\\Preferences\\MostRecentClips1"},
            {HKEY_CURRENT_USER, L"Software\\RealNetworks\\RealPlayer\\6.0\\Preferences\\OpenLocationClips1"},
            {HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\RunMRU"},
            {HKEY_CURRENT_USER, bars + L"\\FilesNamedMRU"},
            {HKEY_CURRENT_USER, L"Software\\Microsoft\\Search Assistant\\ACMru\\5603"},
            {HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Doc Find Spec MRU"},
            {HKEY_CURRENT_USER, bars + L"\\ContainingTextMRU"},
            {HKEY_CURRENT_USER, L"Software\\Microsoft\\Search Assistant\\ACMru\\5604"},
            {HKEY_CURRENT_USER, L"Software\\Microsoft\\Internet Explorer\\TypedURLs"}};
}

class RegistryTracks : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const SeededKey& key : TrackKeys())
            kv::RegistryKey::Create(key.root, key.path).WriteString(L"a", L"C:\\secret\\file.doc");
        kv::RegistryKey::Create(HKEY_LOCAL_MACHINE, kRealPlayerVersionKey).WriteString(L"", L"6.0");
        kv::RegistryKey::Create(HKEY_LOCAL_MACHINE, kSearchBandKey).WriteString(L"", kSearchBandId);
        // Beside the tracks: must survive every clean.
        kv::RegistryKey::Create(HKEY_CURRENT_USER, L"Software\\WinRAR\\General").WriteString(L"keep", L"1");
        kv::RegistryKey::Create(HKEY_CURRENT_USER, L"Software\\RealNetworks\\RealPlayer\\6.0\\Preferences\\MostRecentClips3x")
            .WriteString(L"keep", L"1");
    }
    void TearDown() override
    {
        for (const wchar_t* key : {L"Software\\Nico Mak Computing", L"Software\\WinRAR", L"Software\\RealNetworks",
                                   L"Software\\Microsoft\\MediaPlayer", L"Software\\Microsoft\\Search Assistant",
                                   L"Software\\Microsoft\\Internet Explorer\\Explorer Bars",
                                   L"Software\\Microsoft\\Internet Explorer\\TypedURLs",
                                   L"Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\Paint",
                                   L"Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\Wordpad",
                                   L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\RunMRU",
                                   L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Doc Find Spec MRU"})
            kv::DeleteRegistryKey(HKEY_CURRENT_USER, key);
        kv::DeleteRegistryKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Software\\RealNetworks");
        kv::DeleteRegistryKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Shell.FileSearchBand");
    }
    static std::vector<std::wstring> Remaining()
    {
        std::vector<std::wstring> left;
        for (const SeededKey& key : TrackKeys())
            if (kv::RegistryKeyExists(key.root, key.path)) left.push_back(key.path);
        return left;
    }
};

TEST_F(RegistryTracks, OnlyTheCheckedEntriesAreCleared)
{
    const kvtest::ScopedValue<std::wstring> history(kv::IEHistoryFolder, kvtest::ScratchFolder(L"tracks-history"));
    kv::CleanRegistryTracks({L"winrarfilemenu", L"RealPlayerMostRecentClips", L"FindFilesMenu"});
    const std::wstring bars = std::wstring(L"Software\\Microsoft\\Internet Explorer\\Explorer Bars\\") + kSearchBandId;
    EXPECT_EQ(Remaining(),
              (std::vector<std::wstring>{
                  L"Software\\Nico Mak Computing\\WinZip\\filemenu", L"Software\\Nico Mak Computing\\WinZip\\extract",
                  L"Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\Paint\\Recent File List",
                  L"Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\Wordpad\\Recent File List",
                  L"Software\\Microsoft\\MediaPlayer\\Player\\RecentFileList",
                  L"Software\\Microsoft\\MediaPlayer\\Player\\RecentURLList",
                  L"Software\\RealNetworks\\RealPlayer\\6.0\\Preferences\\OpenLocationClips1",
                  L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\RunMRU", bars + L"\\ContainingTextMRU",
                  L"Software\\Microsoft\\Search Assistant\\ACMru\\5604",
                  L"Software\\Microsoft\\Internet Explorer\\TypedURLs"}));
    EXPECT_TRUE(kv::RegistryKeyExists(HKEY_CURRENT_USER, L"Software\\WinRAR\\General"));
    EXPECT_TRUE(kv::RegistryKeyExists(HKEY_CURRENT_USER,
                                      L"Software\\RealNetworks\\RealPlayer\\6.0\\Preferences\\MostRecentClips3x"));
}

TEST_F(RegistryTracks, EveryEntryClearsItsWholeTable)
{
    const kvtest::ScopedValue<std::wstring> history(kv::IEHistoryFolder, kvtest::ScratchFolder(L"tracks-all"));
    kv::CleanRegistryTracks(kv::RegistryTrackEntries());
    EXPECT_EQ(Remaining(), std::vector<std::wstring>{});
    kv::CleanRegistryTracks(kv::RegistryTrackEntries()); // again: nothing left to do, no error
}

TEST_F(RegistryTracks, CorruptVersionAndClassTextsAreSkipped)
{
    kv::RegistryKey::Create(HKEY_LOCAL_MACHINE, kRealPlayerVersionKey).WriteString(L"", L"6.0\\Preferences\\MostRecentClips1\\..");
    kv::RegistryKey::Create(HKEY_LOCAL_MACHINE, kSearchBandKey).WriteString(L"", L"");
    kv::CleanRegistryTracks({L"RealPlayerMostRecentClips", L"FindFilesMenu"});
    const std::vector<std::wstring> left = Remaining();
    auto has = [&](const std::wstring& path) { return std::find(left.begin(), left.end(), path) != left.end(); };
    EXPECT_TRUE(has(L"Software\\RealNetworks\\RealPlayer\\6.0\\Preferences\\MostRecentClips1"));
    EXPECT_TRUE(has(std::wstring(L"Software\\Microsoft\\Internet Explorer\\Explorer Bars\\") + kSearchBandId +
                    L"\\FilesNamedMRU"));
    // What does not depend on the corrupt text is still cleared.
    EXPECT_FALSE(has(L"Software\\Microsoft\\Search Assistant\\ACMru\\5603"));
}

const char kUltraEditIni[] =
    "[Settings]\r\nFont=Courier\r\n"
    "[Find History]\r\nFind0=password\r\n"
    "[Replace History]\r\nReplace0=secret\r\n"
    "[Find/Replace]\r\nFindString=password\r\nReplaceString=secret\r\nMatchCase=1\r\n"
    "[Recent File List]\r\nFile1=C:\\private\\diary.txt\r\n"
    "[Recent Projects]\r\nProject1=C:\\private\\plan.prj\r\n";

std::wstring IniText(const std::wstring& file, const wchar_t* section, const wchar_t* key)
{
    wchar_t value[256] = {};
    ::GetPrivateProfileStringW(section, key, L"<none>", value, 256, file.c_str());
    return value;
}

TEST(UltraEditTracks, ClearsTheHistorySectionsOfAReadOnlyIni)
{
    const std::wstring ini = kvtest::ScratchFolder(L"ultraedit") + L"uedit32.INI";
    kvtest::WriteBytes(ini, kUltraEditIni);
    ::SetFileAttributesW(ini.c_str(), FILE_ATTRIBUTE_READONLY);
    const kvtest::ScopedValue<std::wstring> file(kv::UltraEditIniFile, ini);

    kv::CleanRegistryTracks({L"UltraEditFindReplaceHistory", L"UltraEditRecentFileHistory", L"UltraEditRecentProjectHistory"});

    EXPECT_FALSE(kvtest::Attributes(ini) & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(IniText(ini, L"Find History", L"Find0"), L"<none>");
    EXPECT_EQ(IniText(ini, L"Replace History", L"Replace0"), L"<none>");
    EXPECT_EQ(IniText(ini, L"Find/Replace", L"FindString"), L"<none>");
    EXPECT_EQ(IniText(ini, L"Find/Replace", L"ReplaceString"), L"<none>");
    EXPECT_EQ(IniText(ini, L"Find/Replace", L"MatchCase"), L"1");
    EXPECT_EQ(IniText(ini, L"Recent File List", L"File1"), L"<none>");
    EXPECT_EQ(IniText(ini, L"Recent Projects", L"Project1"), L"<none>");
    EXPECT_EQ(IniText(ini, L"Settings", L"Font"), L"Courier");
}

TEST(UltraEditTracks, NothingHappensWithoutTheIni)
{
    const std::wstring ini = kvtest::ScratchFolder(L"ultraedit-missing") + L"ue.INI";
    const kvtest::ScopedValue<std::wstring> file(kv::UltraEditIniFile, ini);
    kv::CleanRegistryTracks({L"UltraEditFindReplaceHistory", L"UltraEditRecentFileHistory", L"UltraEditRecentProjectHistory"});
    kv::DeleteIniEntry(ini, L"Recent Projects", L"");
    EXPECT_FALSE(PathExists(ini));
}

// ---- Locations

struct LocationFixture {
    std::wstring root = kvtest::ScratchFolder(L"locations");
    std::wstring appData = root + L"Roaming";
    std::wstring localAppData = root + L"Local";
    std::wstring windows = root + L"Windows";
    kv::TLocationSources Sources(const wchar_t* os = L"61", bool uac = false)
    {
        kv::TLocationSources s;
        s.shellFolder = [this](std::wstring_view name) -> std::wstring {
            if (name == L"AppData") return appData;
            if (name == L"Local AppData") return localAppData;
            if (name == L"Cookies") return root + L"Cookies";
            if (name == L"Cache") return root + L"Cache";
            if (name == L"History") return root + L"History";
            if (name == L"Recent") return root + L"Recent";
            return std::wstring();
        };
        s.tempFolder = root;
        s.windowsFolder = windows;
        s.osVersionText = os;
        s.uacEnabled = uac;
        s.isWindowsNT = true;
        return s;
    }
    void ProfilesIni(std::string_view text)
    {
        kvtest::WriteSized(appData + L"\\Mozilla\\Firefox\\profiles.ini", 0);
        kvtest::WriteBytes(appData + L"\\Mozilla\\Firefox\\profiles.ini", text);
    }
};

TEST(Locations, ShellFoldersTempAndVistaLowFolders)
{
    LocationFixture f;
    const kv::TTargetLocations l = kv::LocateCleanTargets(f.Sources());
    EXPECT_EQ(l.userTempFolder, f.root);
    EXPECT_EQ(l.winTempFolder, f.windows + L"\\Temp\\");
    EXPECT_EQ(l.ieCookiesFolder, f.root + L"Cookies\\");
    EXPECT_EQ(l.ieCacheFolder, f.root + L"Cache\\");
    EXPECT_EQ(l.ieHistoryFolder, f.root + L"History\\");
    EXPECT_EQ(l.recentFolder, f.root + L"Recent\\");
    EXPECT_FALSE(l.currentUserSid.empty());

    const kv::TTargetLocations vista = kv::LocateCleanTargets(f.Sources(L"60", true));
    EXPECT_EQ(vista.ieCookiesFolder, f.root + L"Cookies\\Low\\");
    EXPECT_EQ(vista.ieCacheFolder, f.root + L"Cache\\Low\\");
    EXPECT_EQ(vista.ieHistoryFolder, f.root + L"History\\Low\\");
    EXPECT_EQ(kv::LocateCleanTargets(f.Sources(L"61", true)).ieCookiesFolder, f.root + L"Cookies\\");
}

TEST(Locations, TempFolderInShortFormGetsItsLongSpelling)
{
    LocationFixture f;
    const std::wstring longFolder = f.root + L"A Long Temporary Folder\\";
    kvtest::MakeFolder(longFolder);
    kv::TLocationSources s = f.Sources();
    s.tempFolder = kv::GetShortPath(longFolder);
    ASSERT_NE(s.tempFolder, longFolder);
    EXPECT_EQ(kv::LocateCleanTargets(s).userTempFolder, longFolder);
}

TEST(Locations, UltraEditIniFallbacks)
{
    LocationFixture f;
    EXPECT_EQ(kv::LocateCleanTargets(f.Sources()).ultraEditIniFile, f.windows + L"\\ue.INI");
    kvtest::WriteSized(f.windows + L"\\uedit32.INI", 1);
    EXPECT_EQ(kv::LocateCleanTargets(f.Sources()).ultraEditIniFile, f.windows + L"\\uedit32.INI");
    kvtest::WriteSized(f.appData + L"\\Idmcomp\\UltraEdit\\uedit32.INI", 1);
    EXPECT_EQ(kv::LocateCleanTargets(f.Sources()).ultraEditIniFile, f.appData + L"\\Idmcomp\\UltraEdit\\uedit32.INI");
}

struct ProfileCase {
    const char* name;
    const char* ini;
    const wchar_t* profilePart; // nullptr: no profile found
};

class FirefoxProfiles : public ::testing::TestWithParam<ProfileCase> {};

TEST_P(FirefoxProfiles, ProfileFolderAndFiles)
{
    const ProfileCase& c = GetParam();
    LocationFixture f;
    if (c.ini) f.ProfilesIni(c.ini);
    const kv::TTargetLocations l = kv::LocateCleanTargets(f.Sources());
    if (!c.profilePart) {
        EXPECT_FALSE(l.firefoxFound);
        EXPECT_EQ(l.firefoxCacheFolder, L"");
        EXPECT_EQ(l.firefoxHistoryFile, L"");
        EXPECT_EQ(l.firefoxCookiesFile, L"");
        return;
    }
    const std::wstring profile = f.appData + c.profilePart;
    EXPECT_TRUE(l.firefoxFound);
    EXPECT_EQ(l.firefoxProfileFolder, profile);
    EXPECT_EQ(l.firefoxCacheFolder, f.localAppData + c.profilePart + L"Cache\\");
    EXPECT_EQ(l.firefoxHistoryFile, profile + L"history.dat");
    EXPECT_EQ(l.firefoxCookiesFile, profile + L"cookies.txt");
    kvtest::WriteSized(profile + L"places.sqlite", 1);
    const kv::TTargetLocations modern = kv::LocateCleanTargets(f.Sources());
    EXPECT_EQ(modern.firefoxHistoryFile, profile + L"places.sqlite");
    EXPECT_EQ(modern.firefoxCookiesFile, profile + L"cookies.sqlite");
}

INSTANTIATE_TEST_SUITE_P(
    Variants, FirefoxProfiles,
    ::testing::Values(
        ProfileCase{"missing", nullptr, nullptr},
        ProfileCase{"relative", "[General]\r\nStartWithLastProfile=1\r\n\r\n[Profile0]\r\nName=default\r\nIsRelative=1\r\nPath=Profiles/abcd1234.default\r\n",
                    L"\\Mozilla\\Firefox\\Profiles\\abcd1234.default\\"},
        ProfileCase{"lf-and-blanks", "[profile0]\nName=default\nPath = Profiles/x.default/\n", L"\\Mozilla\\Firefox\\Profiles\\x.default\\"},
        ProfileCase{"utf8", "[Profile0]\r\nPath=Profiles/caf\xC3\xA9.default\r\n", L"\\Mozilla\\Firefox\\Profiles\\caf\x00e9.default\\"},
        ProfileCase{"empty-path", "[Profile0]\r\nName=default\r\nPath=\r\n", nullptr},
        ProfileCase{"other-profile-only", "[Profile1]\r\nPath=Profiles/y.default\r\n", nullptr},
        ProfileCase{"climbs-out", "[Profile0]\r\nPath=../../../Windows\r\n", nullptr},
        ProfileCase{"drive-in-relative", "[Profile0]\r\nIsRelative=1\r\nPath=C:\\Windows\r\n", nullptr}),
    [](const auto& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

TEST(Locations, AbsoluteFirefoxProfileHoldsItsOwnCache)
{
    LocationFixture f;
    const std::wstring elsewhere = f.root + L"Elsewhere\\profile";
    kvtest::MakeFolder(elsewhere + L"\\");
    f.ProfilesIni("[Profile0]\r\nIsRelative=0\r\nPath=" + kv::WideToAnsi(elsewhere) + "\r\n");
    const kv::TTargetLocations l = kv::LocateCleanTargets(f.Sources());
    EXPECT_EQ(l.firefoxProfileFolder, elsewhere + L"\\");
    EXPECT_EQ(l.firefoxCacheFolder, elsewhere + L"\\Cache\\");
}

// ---- Firefox targets on databases made by the sqlite3 tool (WAL mode)

struct FirefoxProfileCopy {
    std::wstring folder = kvtest::ScratchFolder(L"firefox-profile");
    FirefoxProfileCopy()
    {
        const std::wstring source = kvtest::FixtureFolder() + L"firefox\\Profiles\\abcd1234.default\\";
        for (const std::wstring& name : TreeOf(source)) kvtest::CopyFileTo(source + name, folder + name);
    }
};

TEST(FirefoxTargets, HistoryNeverDeletesPlacesWhichHoldsTheBookmarks)
{
    KV_REQUIRE_FIXTURES();
    FirefoxProfileCopy p;
    const Tree before = TreeOf(p.folder);
    ASSERT_TRUE(before.count(L"places.sqlite-wal"));
    std::map<std::wstring, std::string> contents;
    for (const std::wstring& name : before) contents[name] = kvtest::ReadBytes(p.folder + name);
    const kvtest::ScopedValue<std::wstring> history(kv::FirefoxHistoryFile, p.folder + L"places.sqlite");

    kv::CleanTarget(kv::ctFirefoxHistory, kv::TCleanRequest{});

    for (const std::wstring name : {L"places.sqlite", L"places.sqlite-wal", L"places.sqlite-shm"})
        EXPECT_EQ(kvtest::ReadBytes(p.folder + name), contents[name]) << testing::PrintToString(std::wstring(name));
    EXPECT_EQ(kv::FilesSizeOnDisk(kv::FirefoxHistoryFilesToRemove(kv::FirefoxHistoryFile)), 0);
}

TEST(FirefoxTargets, CookiesGoWithTheirWalShmAndJournal)
{
    KV_REQUIRE_FIXTURES();
    kvtest::ScopedNoClusterRounding exact;
    FirefoxProfileCopy p;
    const std::wstring store = p.folder + L"cookies.sqlite";
    const kvtest::ScopedValue<std::wstring> cookies(kv::FirefoxCookiesFile, store);
    std::int64_t expected = 0;
    for (const wchar_t* suffix : {L"", L"-wal", L"-shm", L"-journal"}) expected += kv::FileSizeOf(store + suffix);
    EXPECT_EQ(kv::FilesSizeOnDisk(kv::FirefoxCookiesFilesToRemove(store)), expected);

    kv::CleanTarget(kv::ctFirefoxCookies, kv::TCleanRequest{});

    EXPECT_EQ(TreeOf(p.folder), (Tree{L"places.sqlite", L"places.sqlite-wal", L"places.sqlite-shm"}));
}

TEST(FirefoxTargets, AStoreInUseKeepsItsWriteAheadLog)
{
    KV_REQUIRE_FIXTURES();
    FirefoxProfileCopy p;
    const std::wstring store = p.folder + L"cookies.sqlite";
    kv::FileHandle firefox(::CreateFileW(store.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(firefox.IsValid());
    kv::CleanFirefoxCookies(store);
    firefox.Reset();
    EXPECT_TRUE(PathExists(store));
    EXPECT_TRUE(PathExists(store + L"-wal"));
}

TEST(FirefoxTargets, OldProfilesLoseHistoryDat)
{
    const std::wstring profile = kvtest::ScratchFolder(L"firefox-old");
    kvtest::WriteSized(profile + L"history.dat", 10);
    kvtest::WriteSized(profile + L"bookmarks.html", 10);
    kv::CleanFirefoxHistory(profile + L"history.dat");
    EXPECT_EQ(TreeOf(profile), Tree{L"bookmarks.html"});
}

// ---- Clean order

TEST(CleanOrder, RowsInTheOrderCleanNowWorksThroughThem)
{
    std::vector<int> rows;
    for (const kv::TCleanStep& step : kv::CleanOrder) rows.push_back(step.target);
    EXPECT_EQ(rows, (std::vector<int>{1, 2, 3, 4, 6, 7, 5, 8, 9, 10, 11, 12}));
}

TEST(CleanOrder, FoldersToEmptyFollowTheirKind)
{
    kvtest::ScopedCleanRunning running;
    const std::wstring flat = kvtest::ScratchFolder(L"empty-flat");
    const std::wstring deep = kvtest::ScratchFolder(L"empty-deep");
    for (const std::wstring& f : {flat, deep}) {
        kvtest::WriteSized(f + L"a.txt", 1);
        kvtest::WriteSized(f + L"sub\\b.txt", 1);
    }
    kv::TCleanRequest request;
    request.foldersToEmpty = {{flat, false}, {deep, true}};
    kv::CleanTarget(kv::ctSpecificFolder, request);
    EXPECT_EQ(TreeOf(flat), (Tree{L"sub\\", L"sub\\b.txt"}));
    EXPECT_EQ(TreeOf(deep), Tree{});
}

TEST(CleanOrder, IECacheIsEmptiedAndItsIndexBlanked)
{
    kvtest::ScopedCleanRunning running;
    const std::wstring cache = kvtest::ScratchFolder(L"ie-cache");
    kvtest::WriteSized(cache + L"Content.IE5\\index.dat", 4096, 'i');
    kvtest::WriteSized(cache + L"Content.IE5\\ABCD1234\\page[1].htm", 100);
    kv::FileHandle wininet(::CreateFileW((cache + L"Content.IE5\\index.dat").c_str(), GENERIC_READ | GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    const kvtest::ScopedValue<std::wstring> folder(kv::IECacheFolder, cache);
    kv::CleanTarget(kv::ctTempInternetFiles, kv::TCleanRequest{});
    wininet.Reset();
    EXPECT_EQ(TreeOf(cache), (Tree{L"Content.IE5\\", L"Content.IE5\\index.dat"}));
    EXPECT_EQ(kvtest::ReadBytes(cache + L"Content.IE5\\index.dat"), std::string(4096, '\0'));
}

TEST(CleanOrder, MissingShellFoldersTouchNothing)
{
    kvtest::ScopedCleanRunning running;
    const kvtest::ScopedValue<std::wstring> cache(kv::IECacheFolder, L"\\");
    const kvtest::ScopedValue<std::wstring> history(kv::IEHistoryFolder, L"\\Low\\");
    const kvtest::ScopedValue<std::wstring> recent(kv::RecentFolder, L"\\");
    const kvtest::ScopedValue<std::wstring> firefox(kv::FirefoxCacheFolder, L"");
    for (kv::TCleanTarget row : {kv::ctTempInternetFiles, kv::ctHistory, kv::ctRecentDocuments, kv::ctFirefoxCache,
                                 kv::ctFirefoxHistory, kv::ctFirefoxCookies})
        EXPECT_NO_THROW(kv::CleanTarget(row, kv::TCleanRequest{}));
    EXPECT_TRUE(PathExists(kvtest::ExecutableFolder()));
}

} // namespace
