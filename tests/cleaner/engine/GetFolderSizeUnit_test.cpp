#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "cleaner/engine/GetFolderSizeUnit.h"
#include "platform/MessageLoop.h"
#include "platform/TextCodec.h"
#include "CleanTargetsTestSupport.h"

namespace {

using kvtest::WriteSized;

// ---- FolderSizeByMask

TEST(FolderSizeByMask, CountsMatchingFilesOnDiskBelowTheFolder)
{
    kvtest::ScopedNoClusterRounding exact;
    const std::wstring f = kvtest::ScratchFolder(L"size-mask");
    WriteSized(f + L"a.tmp", 100);
    WriteSized(f + L"B.TMP", 50);
    WriteSized(f + L"c.txt", 7);
    WriteSized(f + L"sub\\d.tmp", 30);
    std::int64_t total = 5; // added to, not replaced
    kv::FolderSizeByMask(f, total, false, L"*.tmp");
    EXPECT_EQ(total, 5 + 180);
    total = 0;
    kv::FolderSizeByMask(f, total, false, L"*.tmp", false);
    EXPECT_EQ(total, 150);
    total = 0;
    kv::FolderSizeByMask(L"C:", total, false, L"*");
    EXPECT_EQ(total, 0);
}

TEST(FolderSizeByMask, RoundsUpToTheClusterSize)
{
    kvtest::ScopedNoClusterRounding exact;
    kv::ClusterSizes['C' - 'A'] = 4096;
    const std::wstring f = kvtest::ScratchFolder(L"size-cluster");
    WriteSized(f + L"one.bin", 1);
    WriteSized(f + L"two.bin", 8192);
    std::int64_t total = 0;
    kv::FolderSizeByMask(f, total, false, L"*");
    EXPECT_EQ(total, 4096 + 8192);
}

TEST(FolderSizeByMask, OnlyWritableSkipsFilesInUse)
{
    kvtest::ScopedNoClusterRounding exact;
    const std::wstring f = kvtest::ScratchFolder(L"size-writable");
    WriteSized(f + L"free.tmp", 10);
    WriteSized(f + L"busy.tmp", 20);
    kv::FileHandle busy(::CreateFileW((f + L"busy.tmp").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::int64_t total = 0;
    kv::FolderSizeByMask(f, total, true, L"*");
    EXPECT_EQ(total, 10);
}

TEST(FolderSizeByMask, NeverWalksThroughALink)
{
    KV_REQUIRE_FIXTURES();
    kvtest::ScopedNoClusterRounding exact;
    const std::wstring inside = kvtest::FixtureFolder() + L"links\\inside\\";
    std::int64_t expected = 0;
    for (const std::wstring& name : kvtest::TreeOf(inside))
        if (name.back() != L'\\' && name.find(L"outlink") == std::wstring::npos) expected += kv::FileSizeOf(inside + name);
    std::int64_t total = 0;
    kv::FolderSizeByMask(inside, total, false, L"*");
    EXPECT_EQ(total, expected);
}

// ---- Recycle bins

std::string RecycledInfoV1()
{
    std::string bytes(544, '\0');
    bytes[0] = 1;
    return bytes;
}

std::string RecycledInfoV2(std::wstring_view originalPath)
{
    const std::uint32_t characters = static_cast<std::uint32_t>(originalPath.size() + 1);
    std::string bytes(28 + 2 * characters, '\0');
    bytes[0] = 2;
    std::memcpy(bytes.data() + 24, &characters, 4);
    std::memcpy(bytes.data() + 28, originalPath.data(), originalPath.size() * 2);
    return bytes;
}

const wchar_t kSid[] = L"S-1-5-21-1111111111-2222222222-3333333333-1001";

// A drive root below the scratch area with a Vista-style bin of one user.
std::wstring MakeVistaBin()
{
    const std::wstring root = kvtest::ScratchFolder(L"recycle-v6");
    const std::wstring bin = root + L"$Recycle.Bin\\" + kSid + L"\\";
    WriteSized(bin + L"$RAAAAAA.txt", 100);
    kvtest::WriteBytes(bin + L"$IAAAAAA.txt", RecycledInfoV1());
    WriteSized(bin + L"$RBBBBBB\\one.bin", 10);
    WriteSized(bin + L"$RBBBBBB\\deeper\\two.bin", 20);
    kvtest::WriteBytes(bin + L"$IBBBBBB", RecycledInfoV2(L"C:\\Users\\me\\Folder"));
    WriteSized(bin + L"$RCCCCCC.txt", 1000);                     // no $I companion
    WriteSized(bin + L"$RDDDDDD.txt", 2000);                     // $I one byte short
    kvtest::WriteBytes(bin + L"$IDDDDDD.txt", RecycledInfoV1().substr(0, 543));
    WriteSized(bin + L"$REEEEEE.txt", 4000);                     // v2 with a wrong length
    kvtest::WriteBytes(bin + L"$IEEEEEE.txt", RecycledInfoV2(L"C:\\x.txt") + "zz");
    WriteSized(bin + L"$RFFFFFF.txt", 8000);                     // unknown version
    std::string v3 = RecycledInfoV1();
    v3[0] = 3;
    kvtest::WriteBytes(bin + L"$IFFFFFF.txt", v3);
    WriteSized(bin + L"desktop.ini", 16000);
    return root;
}

TEST(RecycleBin, VistaLayoutCountsOnlyValidPairsAndWholeFolders)
{
    kvtest::ScopedNoClusterRounding exact;
    const std::wstring root = MakeVistaBin();
    for (int major : {6, 10})
        EXPECT_EQ(kv::RecycleBinSizeOfDrive(L'C', root, major, L"NTFS", kSid), 130) << major;
    EXPECT_EQ(kv::RecycleBinSizeOfDrive(L'C', root, 6, L"NTFS", L""), 0); // not every user's bin
    EXPECT_TRUE(kv::IsRecycledPair(root + L"$Recycle.Bin\\" + kSid + L"\\", L"$RAAAAAA.txt"));
    EXPECT_FALSE(kv::IsRecycledPair(root + L"$Recycle.Bin\\" + kSid + L"\\", L"$rAAAAAA.txt"));
}

TEST(RecycleBin, LayoutByVersionAndFileSystem)
{
    struct Case {
        int major;
        const wchar_t* fileSystem;
        const wchar_t* folder;
        const wchar_t* mask;
    };
    const std::wstring sid = kSid;
    const Case cases[] = {{6, L"NTFS", L"E:\\$Recycle.Bin\\S-1-5-21-1111111111-2222222222-3333333333-1001\\", L"$R*"},
                          {10, L"FAT32", L"E:\\$Recycle.Bin\\", L"$R*"},
                          {5, L"NTFS", L"E:\\Recycler\\S-1-5-21-1111111111-2222222222-3333333333-1001\\", L"De*"},
                          {4, L"FAT32", L"E:\\Recycled\\", L"De*"}};
    for (const Case& c : cases) {
        const kv::TRecycleBinLayout layout = kv::RecycleBinLayout(L'e', L"E:\\", c.major, c.fileSystem, sid);
        EXPECT_EQ(layout.folder, c.folder) << c.major;
        EXPECT_EQ(kv::LowerCase(layout.mask), kv::LowerCase(c.mask)) << c.major;
    }
}

TEST(RecycleBin, OlderLayoutSkipsDesktopIniOnDriveE)
{
    kvtest::ScopedNoClusterRounding exact;
    const std::wstring root = kvtest::ScratchFolder(L"recycle-v5");
    WriteSized(root + L"Recycled\\De1.txt", 100);
    WriteSized(root + L"Recycled\\De2\\inner.txt", 10);
    WriteSized(root + L"Recycled\\desktop.ini", 1000);
    WriteSized(root + L"Recycled\\INFO2", 2000);
    WriteSized(root + L"Recycled\\Dc3.txt", 4000); // another drive's letter
    EXPECT_EQ(kv::RecycleBinSizeOfDrive(L'E', root, 5, L"FAT32", L""), 110);
}

TEST(RecycleBin, MissingBinsMeasureNothing)
{
    const std::wstring root = kvtest::ScratchFolder(L"recycle-none");
    EXPECT_EQ(kv::RecycleBinSizeOfDrive(L'C', root, 6, L"NTFS", kSid), 0);
    EXPECT_GE(kv::GetRecycleBinSize(), 0);
}

// ---- The measures of the rows

TEST(TempSize, AFolderNamedTwiceIsCountedOnce)
{
    kvtest::ScopedNoClusterRounding exact;
    const std::wstring temp = kvtest::ScratchFolder(L"temp-once") + L"Temporary Files\\";
    WriteSized(temp + L"a.tmp", 100);
    WriteSized(temp + L"inner\\b.tmp", 20);
    const std::wstring otherSpellings[] = {kv::GetShortPath(temp), kv::UpperCase(temp),
                                           temp.substr(0, temp.size() - 1)};
    for (const std::wstring& spelling : otherSpellings) {
        const kvtest::ScopedValue<std::wstring> user(kv::UserTempFolder, temp);
        const kvtest::ScopedValue<std::wstring> windows(kv::WinTempFolder, spelling);
        EXPECT_EQ(kv::TempFoldersSize(false), 120) << testing::PrintToString(spelling);
    }
    // The user's temp folder inside the Windows one: the outer walk covers both.
    const kvtest::ScopedValue<std::wstring> user(kv::UserTempFolder, temp + L"inner\\");
    const kvtest::ScopedValue<std::wstring> windows(kv::WinTempFolder, temp);
    EXPECT_EQ(kv::TempFoldersSize(false), 120);
}

TEST(TempSize, TwoFoldersAddUp)
{
    kvtest::ScopedNoClusterRounding exact;
    const std::wstring user = kvtest::ScratchFolder(L"temp-user");
    const std::wstring windows = kvtest::ScratchFolder(L"temp-windows");
    WriteSized(user + L"a.tmp", 100);
    WriteSized(windows + L"b.tmp", 20);
    const kvtest::ScopedValue<std::wstring> u(kv::UserTempFolder, user);
    const kvtest::ScopedValue<std::wstring> w(kv::WinTempFolder, windows);
    EXPECT_EQ(kv::TempFoldersSize(false), 120);
    // A temp variable naming the drive root measures nothing (it is never cleaned).
    const kvtest::ScopedValue<std::wstring> root(kv::UserTempFolder, L"C:\\");
    EXPECT_EQ(kv::TempFoldersSize(false), 20);
}

TEST(RowMeasures, IECacheNeverIncludesItsIndex)
{
    kvtest::ScopedNoClusterRounding exact;
    const std::wstring cache = kvtest::ScratchFolder(L"size-iecache");
    WriteSized(cache + L"Content.IE5\\index.dat", 32768);
    WriteSized(cache + L"Content.IE5\\X1\\page.htm", 300);
    const kvtest::ScopedValue<std::wstring> folder(kv::IECacheFolder, cache);
    EXPECT_EQ(kv::MeasureSizeAction(kv::saIECache, {}, L""), 300);
    const kvtest::ScopedValue<std::wstring> missing(kv::IECacheFolder, L"\\");
    EXPECT_EQ(kv::MeasureSizeAction(kv::saIECache, {}, L""), 0);
}

TEST(RowMeasures, FoldersToEmptyCountAsDeepAsTheyAreEmptied)
{
    kvtest::ScopedNoClusterRounding exact;
    const std::wstring flat = kvtest::ScratchFolder(L"size-flat");
    const std::wstring deep = kvtest::ScratchFolder(L"size-deep");
    for (const std::wstring& f : {flat, deep}) {
        WriteSized(f + L"a.bin", 100);
        WriteSized(f + L"sub\\b.bin", 10);
    }
    EXPECT_EQ(kv::MeasureSizeAction(kv::saFoldersToEmpty, {{flat, false}, {deep, true}}, L""), 100 + 110);
}

TEST(RowMeasures, RecentDocumentsCountLinksOfTheFolderOnly)
{
    kvtest::ScopedNoClusterRounding exact;
    const std::wstring recent = kvtest::ScratchFolder(L"size-recent");
    WriteSized(recent + L"a.lnk", 100);
    WriteSized(recent + L"desktop.ini", 10);
    WriteSized(recent + L"AutomaticDestinations\\b.lnk", 1000);
    const kvtest::ScopedValue<std::wstring> folder(kv::RecentFolder, recent);
    EXPECT_EQ(kv::MeasureSizeAction(kv::saRecentDocuments, {}, L""), 100);
    EXPECT_EQ(kv::MeasureSizeAction(99, {}, L""), 0);
    EXPECT_EQ(kv::SizeActionRow(99), kv::ctJunkFiles);
}

// ---- The grand total and the size thread

class FakeCleanPage : public kv::TCleanPageView {
public:
    void SetTargetSizeText(kv::TCleanTarget row, const std::wstring& text) override
    {
        sizes[row] = text;
        ++updates;
    }
    bool IsTargetChecked(kv::TCleanTarget row) const override { return checked.count(row) != 0; }
    kv::TCleanMethod CleanMethod() const override { return method; }
    bool CleanPageShown() const override { return pageShown; }
    void ShowCleanTotal(std::int64_t total) override { shown.push_back(total); }

    std::set<int> checked;
    kv::TCleanMethod method = kv::cmRecycleBin;
    bool pageShown = true;
    std::map<int, std::wstring> sizes;
    std::vector<std::int64_t> shown;
    std::atomic<int> updates{0};
};

class CleanTotal : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedJunk_ = kv::JunkTotalSize.exchange(1000);
        // The window shows another page: only the view says whether the
        // total is on show, the engine never reads the window's page.
        savedPage_ = kv::CurrentPage.exchange(kv::pgScan);
        for (int row = 0; row < kv::ctTargetCount; ++row) {
            saved_[row] = {kv::TargetSize[row].load(), kv::TargetSizeReady[row].load()};
            kv::TargetSize[row] = 10 << row;
            kv::TargetSizeReady[row] = 1;
        }
    }
    void TearDown() override
    {
        kv::JunkTotalSize = savedJunk_;
        kv::CurrentPage = savedPage_;
        for (int row = 0; row < kv::ctTargetCount; ++row) {
            kv::TargetSize[row] = saved_[row].first;
            kv::TargetSizeReady[row] = saved_[row].second;
        }
    }
    std::int64_t savedJunk_ = 0;
    int savedPage_ = 0;
    std::pair<std::int64_t, std::uint8_t> saved_[kv::ctTargetCount];
    const kvtest::ScopedValue<std::wstring> history_{kv::FirefoxHistoryFile, L""};
    const kvtest::ScopedValue<std::wstring> cookies_{kv::FirefoxCookiesFile, L""};
};

TEST_F(CleanTotal, ScanResultsCountByCleanMethod)
{
    FakeCleanPage page;
    page.checked = {kv::ctJunkFiles};
    page.method = kv::cmRecycleBin; // which is not emptied
    EXPECT_EQ(kv::UpdateCleanTotalSize(page), 0);
    page.checked.insert(kv::ctRecycleBin);
    EXPECT_EQ(kv::UpdateCleanTotalSize(page), 1000 + 20);
    page.method = kv::cmBackupFolder; // moved to the backup folder: nothing is freed
    EXPECT_EQ(kv::UpdateCleanTotalSize(page), 20);
    page.method = kv::cmDeletePermanently;
    page.checked = {kv::ctJunkFiles};
    EXPECT_EQ(kv::UpdateCleanTotalSize(page), 1000);
    EXPECT_EQ(page.shown, (std::vector<std::int64_t>{0, 1020, 20, 1000}));
}

TEST_F(CleanTotal, RowsBeingMeasuredAndUnmeasuredRowsAddNothing)
{
    FakeCleanPage page;
    page.checked = {kv::ctWindowsTemp, kv::ctCookies, kv::ctRegistryProgramHistory, kv::ctFirefoxCache};
    EXPECT_EQ(kv::UpdateCleanTotalSize(page), 40 + 160 + 10240);
    kv::TargetSizeReady[kv::ctCookies] = 0;
    EXPECT_EQ(kv::UpdateCleanTotalSize(page), 40 + 10240);
    EXPECT_EQ(page.shown.size(), 2u);
    page.pageShown = false;
    page.shown.clear();
    kv::UpdateCleanTotalSize(page);
    EXPECT_TRUE(page.shown.empty());
}

TEST_F(CleanTotal, TheSizeThreadMeasuresItsRowAndUpdatesThePage)
{
    kvtest::ScopedNoClusterRounding exact;
    const std::wstring flat = kvtest::ScratchFolder(L"thread-flat");
    WriteSized(flat + L"a.bin", 1536);
    FakeCleanPage page;
    page.checked = {kv::ctSpecificFolder};
    const long idle = kv::WorkerThreadCount;
    kv::TargetSizeReady[kv::ctSpecificFolder] = 1;

    ASSERT_TRUE(kv::TGetFolderSize::StartSizeThread(kv::saFoldersToEmpty, page, {{flat, false}}));
    // While it runs, a second thread for the same row is not started.
    EXPECT_FALSE(kv::TGetFolderSize::StartSizeThread(kv::saFoldersToEmpty, page, {{flat, false}}));
    for (int i = 0; i < 2000 && (page.updates == 0 || kv::WorkerThreadCount != idle); ++i) {
        kv::ProcessMessages();
        ::Sleep(5);
    }
    ASSERT_EQ(page.updates, 1);
    EXPECT_EQ(page.sizes[kv::ctSpecificFolder], kv::FormatFileSize(1536));
    EXPECT_EQ(kv::TargetSize[kv::ctSpecificFolder], 1536);
    EXPECT_EQ(kv::TargetSizeReady[kv::ctSpecificFolder], 1);
    EXPECT_EQ(page.shown.back(), 1536);
    EXPECT_EQ(kv::WorkerThreadCount, idle);
    EXPECT_FALSE(kv::TGetFolderSize::StartSizeThread(42, page));
}

TEST(InvalidateCleanSizes, MarksEveryMeasuredRowIdle)
{
    for (auto& ready : kv::TargetSizeReady) ready = 0;
    kv::InvalidateCleanSizes();
    for (int row : {1, 2, 3, 4, 5, 6, 7, 10}) EXPECT_EQ(kv::TargetSizeReady[row], 1) << row;
}

} // namespace
