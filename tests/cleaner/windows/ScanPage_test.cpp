// The Scan page: real scans of scratch trees from the Start button, Stop,
// the total of the checked rows, checking over a selection, sorting, the
// pop-up menu's exclude commands, clearing and saving the list.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "MainWindowTestSupport.h"
#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/TSearchUnit.h"
#include "cleaner/windows/IconIndexes.h"
#include "cleaner/windows/ScanPage.h"
#include "platform/Format.h"
#include "platform/TextCodec.h"

using kvtest::MainWindowTest;

namespace {

std::wstring FinishedText() { return kv::LanguageText(kv::stFinished) + kv::LanguageText(kv::stFinishedHint); }

void MakeFolder(const std::wstring& path) { ASSERT_TRUE(::CreateDirectoryW(path.c_str(), nullptr)); }

void MakeFile(const std::wstring& path, std::size_t size) { kvtest::WriteBytes(path, std::string(size, 'x')); }

// A tree whose scan lists many rows: 10 folders of 20 files that the "*.tmp"
// filter finds.
constexpr int kBusyTreeFiles = 200;
void MakeBusyTree(const std::wstring& tree)
{
    for (int folder = 0; folder < 10; ++folder) {
        const std::wstring sub = tree + kv::Format(L"folder%d\\", {folder});
        MakeFolder(sub);
        for (int file = 0; file < kBusyTreeFiles / 10; ++file) MakeFile(sub + kv::Format(L"file%d.tmp", {file}), 10);
    }
}

// "YYYY-MM-DD hh:mm:ss" as the file time whose fields these are.
FILETIME FileTimeOf(const wchar_t* text)
{
    SYSTEMTIME fields{};
    EXPECT_EQ(std::swscanf(text, L"%hu-%hu-%hu %hu:%hu:%hu", &fields.wYear, &fields.wMonth, &fields.wDay, &fields.wHour,
                           &fields.wMinute, &fields.wSecond),
              6);
    FILETIME time{};
    EXPECT_TRUE(::SystemTimeToFileTime(&fields, &time));
    return time;
}

kv::TScanResult ResultRow(const wchar_t* name, const wchar_t* location, std::int64_t size, const wchar_t* modified,
                          const wchar_t* filter, int image = kv::kFileResultImage)
{
    return kv::TScanResult{name, image, location, size, FileTimeOf(modified), filter};
}

class ScanPageTest : public MainWindowTest {
protected:
    void TearDown() override
    {
        MainWindowTest::TearDown();
        kv::StoppedByUser = 0;
        kv::ScanDone = 0;
        kv::JunkTotalSize = 0;
    }

    // The window with these filters, scanning `folder` with its sub-folders and no drive.
    void OpenScanning(const std::wstring& folder, std::vector<kv::TFilterEntry> include,
                      std::vector<kv::TFilterEntry> exclude = {})
    {
        kv::SaveInclusiveFiles(include);
        kv::SaveExclusiveFiles(exclude);
        Open();
        for (int row = 0; row < Paths().Count(); ++row) Paths().SetChecked(row, false);
        if (!folder.empty())
            Paths().AddItem(kvtest::WithoutTrailingBackslash(folder), {}, kv::pkIncludeWithSubFolders, true);
    }
    // Rows put in as the scan thread puts them.
    void OpenWithRows(std::initializer_list<kv::TScanResult> rows)
    {
        OpenScanning(L"", {{true, L"*.tmp", L"t"}});
        for (const kv::TScanResult& row : rows) Page().AddScanItem(row, L"");
    }

    kv::TScanPage& Page() const { return form->ScanPage(); }
    kv::forms::ListView& Results() const { return *form->ScanPage().ScanListView; }
    std::wstring Status() const { return kvtest::TextOf(*form->IndexLabel); }
    // Runs `action` once, inside the scan thread's call that lists row
    // number `rows`: the thread waits on the window meanwhile, so the scan is
    // surely still running, wherever the walk is.
    void AtRow(int rows, std::function<void()> action)
    {
        Results().OnInsert = [this, rows, action = std::move(action), done = false](int) mutable {
            if (done || Results().Count() < rows) return;
            done = true;
            action();
        };
    }
    void Scan()
    {
        ASSERT_TRUE(form->StartButton->Enabled());
        kvtest::Click(*form->StartButton);
        ASSERT_TRUE(kvtest::PumpUntil([&] { return !Page().Scanning(); }, 30000)) << "the scan ends";
    }
    // "sub\name|filter" for every row below `base`.
    std::set<std::wstring> Found(const std::wstring& base) const
    {
        std::set<std::wstring> found;
        for (const auto& row : kvtest::ReadRows(Results())) {
            std::wstring location = row.subItems.at(0);
            EXPECT_EQ(location.compare(0, base.size(), base), 0) << "found outside the tree: " << location;
            found.insert(location.substr(base.size()) + row.caption + L"|" + row.subItems.at(3));
        }
        return found;
    }
    int RowOf(const std::wstring& name) const
    {
        for (int row = 0; row < Results().Count(); ++row)
            if (Results().Caption(row) == name) return row;
        ADD_FAILURE() << "no row " << testing::PrintToString(name);
        return -1;
    }
    std::wstring TotalText(std::int64_t bytes) const
    {
        return kv::Format(kv::LanguageText(kv::stFoundSize), {kv::FormatFileSize(bytes)});
    }
    // Chooses a pop-up menu entry over the first selected row.
    bool ChooseOnSelection(const std::wstring& entry)
    {
        const int row = Results().SelectedIndex();
        const RECT place = row >= 0 ? Results().ItemRect(row, LVIR_LABEL) : RECT{10, 200, 20, 210};
        kvtest::MenuChooser chooser(entry);
        kvtest::RightClick(Results(), POINT{(place.left + place.right) / 2, (place.top + place.bottom) / 2});
        return chooser.Chosen();
    }
    void SelectOnly(int row)
    {
        for (int other = 0; other < Results().Count(); ++other) Results().SetSelected(other, other == row);
    }
};

// ---------------------------------------------------------------------------
// Start, the scanning state, the end and Stop

TEST_F(ScanPageTest, StartScansTheTreeAndFinishesWithRowsTotalAndButtons)
{
    const std::wstring tree = kvtest::ScratchFolder(L"ScanPageTree");
    MakeFile(tree + L"a.tmp", 100);
    MakeFolder(tree + L"sub");
    MakeFile(tree + L"sub\\B.TMP", 5000);
    MakeFolder(tree + L"sub\\deeper");
    MakeFile(tree + L"sub\\deeper\\c.log", 10);
    MakeFile(tree + L"keep.txt", 10);
    MakeFile(tree + L"off.bak", 10);
    MakeFolder(tree + L"hollow");
    OpenScanning(tree, {{true, L"*.tmp", L"t"}, {true, L"*.log", L"l"}, {false, L"*.bak", L"b"}});
    form->OptionsFindEmptyFolderMenuItem->Checked = true;
    Scan();

    EXPECT_EQ(Found(tree), (std::set<std::wstring>{L"a.tmp|*.tmp", L"sub\\B.TMP|*.tmp", L"sub\\deeper\\c.log|*.log",
                                                   L"hollow|[EMPTY]"}));
    for (const auto& row : kvtest::ReadRows(Results())) {
        EXPECT_TRUE(row.checked) << row.caption;
        EXPECT_EQ(row.image, row.caption == L"hollow" ? kv::kEmptyFolderResultImage : kv::kFileResultImage);
    }
    EXPECT_EQ(Results().SubItem(RowOf(L"B.TMP"), kv::TScanPage::colSize), kv::FormatThousands(5000));
    EXPECT_EQ(Status(), FinishedText());
    EXPECT_EQ(kvtest::TextOf(*form->HintLabel), L"");
    const std::int64_t total = kv::FileSizeOnDisk(tree + L"a.tmp") + kv::FileSizeOnDisk(tree + L"sub\\B.TMP") +
                               kv::FileSizeOnDisk(tree + L"sub\\deeper\\c.log");
    EXPECT_EQ(kv::JunkTotalSize.load(), total);
    EXPECT_EQ(kv::ScanDone.load(), 1);
    EXPECT_EQ(kv::StopRequested.load(), 1);

    EXPECT_TRUE(form->StartButton->Enabled());
    EXPECT_FALSE(form->StopButton->Enabled());
    EXPECT_TRUE(form->CheckAllButton->Enabled());
    EXPECT_TRUE(form->RemoveAllButton->Enabled());
    EXPECT_FALSE(form->AddButton->Enabled());
    EXPECT_FALSE(form->CleanNowButton->Enabled());
    EXPECT_FALSE(form->ScanButton->Enabled());
    EXPECT_TRUE(form->PathButton->Enabled());
    EXPECT_FALSE(form->FlashTimer.Enabled());
    EXPECT_TRUE(form->OptionsFilterMenuItem->Enabled);
    EXPECT_EQ(kvtest::TextOf(*form->MenuCaptionLabel), L"----- Scan -----");
}

TEST_F(ScanPageTest, AScanThatFindsNothingLeavesOnlyStartEnabled)
{
    const std::wstring tree = kvtest::ScratchFolder(L"ScanPageNothing");
    MakeFile(tree + L"keep.txt", 10);
    OpenScanning(tree, {{true, L"*.tmp", L"t"}});
    Scan();
    EXPECT_EQ(Results().Count(), 0);
    EXPECT_EQ(Status(), FinishedText());
    EXPECT_TRUE(form->StartButton->Enabled());
    EXPECT_FALSE(form->CheckAllButton->Enabled());
    EXPECT_FALSE(form->RemoveAllButton->Enabled());
}

TEST_F(ScanPageTest, StopMidWalkKeepsTheRowsFoundAndSaysAborted)
{
    const std::wstring tree = kvtest::ScratchFolder(L"ScanPageBusy");
    MakeBusyTree(tree);
    OpenScanning(tree, {{true, L"*.tmp", L"t"}});
    bool acted = false;
    // The first row reaches the window at once, while the walk waits for it:
    // Stop pressed then ends the walk after the entry in hand.
    AtRow(1, [&] {
        acted = true;
        // The scanning state.
        EXPECT_TRUE(Page().Scanning());
        EXPECT_EQ(kv::StopRequested.load(), 0);
        EXPECT_FALSE(form->StartButton->Enabled());
        EXPECT_TRUE(form->StopButton->Enabled());
        EXPECT_FALSE(form->PathButton->Enabled());
        EXPECT_FALSE(form->CheckAllButton->Enabled());
        EXPECT_TRUE(form->FlashTimer.Enabled());
        EXPECT_FALSE(form->OptionsFilterMenuItem->Enabled);
        EXPECT_EQ(kvtest::TextOf(*form->HintLabel).compare(0, 10, L"Scanning  "), 0) << "the folder being walked";
        // The title blinks: WORKING... and nothing, in turn.
        std::set<std::wstring> titles;
        for (int tick = 0; tick < 2; ++tick) {
            Page().FlashTimerTimer();
            titles.insert(kvtest::TextOf(*form->MenuCaptionLabel));
        }
        EXPECT_EQ(titles, (std::set<std::wstring>{L"", kv::LanguageText(150)}));
        kvtest::Click(*form->StopButton);
    });
    kvtest::Click(*form->StartButton);
    ASSERT_TRUE(kvtest::PumpUntil([&] { return !Page().Scanning(); }, 10000));
    ASSERT_TRUE(acted);
    EXPECT_EQ(Status(), kv::LanguageText(kv::stAborted) + L" " + kv::LanguageText(kv::stFinishedHint));
    EXPECT_GE(Results().Count(), 1) << "the rows found so far stay";
    EXPECT_LT(Results().Count(), kBusyTreeFiles) << "the walk ended early";
    EXPECT_EQ(kv::StoppedByUser.load(), 1);
    EXPECT_EQ(kv::ScanDone.load(), 1);
    EXPECT_EQ(kv::JunkTotalSize.load(), kv::ScanFoundSize.load());
    EXPECT_TRUE(form->StartButton->Enabled());
    EXPECT_TRUE(form->PathButton->Enabled());
    EXPECT_EQ(kvtest::TextOf(*form->MenuCaptionLabel), L"----- Scan -----");
    EXPECT_TRUE(kvtest::PumpUntil([] { return kv::WorkerThreadCount.load() == 1; })) << "the scan thread ends";
}

TEST_F(ScanPageTest, ARowWithAStatusShowsItAndARowWithoutLeavesTheLastOne)
{
    OpenWithRows({});
    kv::StopRequested = 0; // as while a scan runs: the marks the rows come with are not counted
    const std::wstring found = kv::Format(kv::LanguageText(kv::stFoundSize), {L"4 KB"});
    Page().AddScanItem(ResultRow(L"a.tmp", L"C:\\x\\", 1, L"2020-01-02 03:04:05", L"*.tmp"), found);
    EXPECT_EQ(Status(), found);
    Page().AddScanItem(ResultRow(L"b.tmp", L"C:\\x\\", 1, L"2020-01-02 03:04:05", L"*.tmp"), L"");
    EXPECT_EQ(Status(), found) << "the rows of a call before its last carry no status";
    EXPECT_EQ(Results().Count(), 2);
    kv::StopRequested = 1;
}

TEST_F(ScanPageTest, ASecondStartBeforeTheScanReachesTheWindowStartsNoSecondScan)
{
    const std::wstring tree = kvtest::ScratchFolder(L"ScanPageTwice");
    MakeFile(tree + L"a.tmp", 10);
    OpenScanning(tree, {{true, L"*.tmp", L"t"}});
    Page().StartButtonClick();
    Page().StartButtonClick();
    EXPECT_EQ(kv::WorkerThreadCount.load(), 2) << "one scan thread";
    ASSERT_TRUE(kvtest::PumpUntil([&] { return !Page().Scanning() && kv::WorkerThreadCount.load() == 1; }, 10000));
    EXPECT_EQ(Results().Count(), 1);
}

TEST_F(ScanPageTest, ClosingDuringAScanAsksThenStopsAndWaitsForIt)
{
    const std::wstring tree = kvtest::ScratchFolder(L"ScanPageClose");
    MakeBusyTree(tree);
    OpenScanning(tree, {{true, L"*.tmp", L"t"}});
    kvtest::MessageBoxAnswerer yes(IDYES);
    AtRow(1, [&] { form->Close(); });
    kvtest::Click(*form->StartButton);
    ASSERT_TRUE(kvtest::PumpUntil([&] { return !Page().Scanning(); }, 10000));
    ASSERT_EQ(yes.Boxes().size(), 1u);
    EXPECT_EQ(yes.Boxes()[0].text, kv::LanguageText(75));
    EXPECT_EQ(Status(), kv::LanguageText(kv::stAborted) + L" " + kv::LanguageText(kv::stFinishedHint));
    EXPECT_FALSE(::IsWindowVisible(form->Handle()));
    form.reset();
    EXPECT_EQ(kv::WorkerThreadCount.load(), 1);
    EXPECT_EQ(kv::StoppedByUser.load(), 1) << "Yes acts as the Stop button";
}

// ---------------------------------------------------------------------------
// The total of the checked rows and checking over a selection

TEST_F(ScanPageTest, CheckMarksFollowTheSelectionAndTheTotalFollowsTheMarks)
{
    const std::wstring tree = kvtest::ScratchFolder(L"ScanPageMarks");
    MakeFile(tree + L"one.tmp", 100);
    MakeFile(tree + L"two.tmp", 3000);
    MakeFile(tree + L"three.tmp", 70000);
    OpenScanning(tree, {{true, L"*.tmp", L"t"}});
    Scan();
    ASSERT_EQ(Results().Count(), 3);
    const std::int64_t one = kv::FileSizeOnDisk(tree + L"one.tmp"), two = kv::FileSizeOnDisk(tree + L"two.tmp"),
                       three = kv::FileSizeOnDisk(tree + L"three.tmp");

    // Unchecking one of three: the status line shows the other two.
    SelectOnly(-1);
    kvtest::ClickCheckBox(Results(), RowOf(L"two.tmp"));
    EXPECT_FALSE(Results().Checked(RowOf(L"two.tmp")));
    EXPECT_EQ(Status(), TotalText(one + three));
    EXPECT_EQ(kv::JunkTotalSize.load(), one + three);

    // The box of one row of a selection marks every selected row.
    Results().SetSelected(RowOf(L"one.tmp"), true);
    Results().SetSelected(RowOf(L"two.tmp"), true);
    kvtest::ClickCheckBox(Results(), RowOf(L"two.tmp"));
    EXPECT_TRUE(Results().Checked(RowOf(L"one.tmp")));
    EXPECT_TRUE(Results().Checked(RowOf(L"two.tmp")));
    EXPECT_TRUE(Results().Checked(RowOf(L"three.tmp")));
    EXPECT_EQ(Status(), TotalText(one + two + three));
    kvtest::ClickCheckBox(Results(), RowOf(L"one.tmp"));
    EXPECT_FALSE(Results().Checked(RowOf(L"one.tmp")));
    EXPECT_FALSE(Results().Checked(RowOf(L"two.tmp")));
    EXPECT_TRUE(Results().Checked(RowOf(L"three.tmp"))) << "not selected";
    EXPECT_EQ(kv::JunkTotalSize.load(), three);

    // The menu's commands work on the selection too.
    ASSERT_TRUE(ChooseOnSelection(L"Check selected"));
    EXPECT_TRUE(Results().Checked(RowOf(L"one.tmp")));
    EXPECT_TRUE(Results().Checked(RowOf(L"two.tmp")));
    SelectOnly(RowOf(L"three.tmp"));
    ASSERT_TRUE(ChooseOnSelection(L"Uncheck selected"));
    EXPECT_FALSE(Results().Checked(RowOf(L"three.tmp")));
    EXPECT_TRUE(Results().Checked(RowOf(L"one.tmp")));

    // Check All and Remove All mark every row and recount.
    kvtest::Click(*form->RemoveAllButton);
    for (const auto& row : kvtest::ReadRows(Results())) EXPECT_FALSE(row.checked);
    EXPECT_EQ(Status(), TotalText(0));
    kvtest::Click(*form->CheckAllButton);
    for (const auto& row : kvtest::ReadRows(Results())) EXPECT_TRUE(row.checked);
    EXPECT_EQ(kv::JunkTotalSize.load(), one + two + three);
}

TEST_F(ScanPageTest, AMarkChangedByHandMovesTheTotalByThatRowAlone)
{
    const std::wstring tree = kvtest::ScratchFolder(L"ScanPageRunningTotal");
    MakeFile(tree + L"one.tmp", 100);
    MakeFile(tree + L"two.tmp", 3000);
    OpenScanning(tree, {{true, L"*.tmp", L"t"}});
    Scan();
    ASSERT_EQ(Results().Count(), 2);
    // The list is drawn again once the scan has added its rows.
    EXPECT_TRUE(::IsWindowVisible(Results().Handle()));
    const std::int64_t one = kv::FileSizeOnDisk(tree + L"one.tmp"), two = kv::FileSizeOnDisk(tree + L"two.tmp");

    // A file that grows after the scan keeps the size the scan listed: a
    // click on another row measures that row only.
    MakeFile(tree + L"one.tmp", 200000);
    SelectOnly(-1);
    kvtest::ClickCheckBox(Results(), RowOf(L"two.tmp"));
    EXPECT_EQ(kv::JunkTotalSize.load(), one);
    EXPECT_EQ(Status(), TotalText(one));
    kvtest::ClickCheckBox(Results(), RowOf(L"two.tmp"));
    EXPECT_EQ(kv::JunkTotalSize.load(), one + two);
}

struct MarksDuringScanCase {
    const char* name;
    // Done inside the scan thread's call that lists the third row.
    std::function<void(kv::TScanPage&)> changeMarks;
};

class ScanPageMarksDuringScanTest : public ScanPageTest, public ::testing::WithParamInterface<MarksDuringScanCase> {};

// The rows come checked and the total at the end is that of the checked rows,
// counted as the rows came and the marks changed, or counted again.
TEST_P(ScanPageMarksDuringScanTest, TheTotalAtTheEndIsThatOfTheRowsCheckedThen)
{
    const std::wstring tree = kvtest::ScratchFolder(L"ScanPageMarksDuringScan");
    MakeBusyTree(tree);
    OpenScanning(tree, {{true, L"*.tmp", L"t"}});
    AtRow(3, [&] { GetParam().changeMarks(Page()); });
    Scan();
    ASSERT_EQ(Results().Count(), kBusyTreeFiles);
    std::int64_t checked = 0;
    for (int row = 0; row < Results().Count(); ++row)
        if (Results().Checked(row))
            checked += kv::FileSizeOnDisk(Results().SubItem(row, kv::TScanPage::colLocation) + Results().Caption(row));
    EXPECT_LT(checked, kv::ScanFoundSize.load()) << "some marks were taken off";
    EXPECT_EQ(kv::JunkTotalSize.load(), checked);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, ScanPageMarksDuringScanTest,
    ::testing::Values(MarksDuringScanCase{"OneRowUncheckedOnItsOwn",
                                          [](kv::TScanPage& page) { page.ScanListView->SetChecked(1, false); }},
                      MarksDuringScanCase{"EveryRowSoFarUncheckedAtOnce",
                                          [](kv::TScanPage& page) { page.RemoveAllButtonClick(); }}),
    [](const ::testing::TestParamInfo<MarksDuringScanCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Sorting

TEST_F(ScanPageTest, SortsByNumbersForSizesAndTimesAndIgnoresCaseForTexts)
{
    OpenWithRows({ResultRow(L"b.tmp", L"C:\\x\\", 1000, L"2020-01-02 03:04:05", L"*.tmp"),
                  ResultRow(L"A.log", L"C:\\Y\\", 20, L"2019-12-31 23:59:59", L"*.log"),
                  ResultRow(L"C.bak", L"C:\\z\\", 300, L"2020-01-02 03:04:06", L"*.bak")});
    using kv::TScanPage;
    kvtest::ClickColumnHeader(Results(), TScanPage::colSize);
    EXPECT_EQ(kvtest::ReadColumn(Results(), TScanPage::colSize), (std::vector<std::wstring>{L"20", L"300", L"1,000"}));
    EXPECT_EQ(Results().ColumnImage(TScanPage::colSize), kv::iiSortDown);
    kvtest::ClickColumnHeader(Results(), TScanPage::colSize);
    EXPECT_EQ(kvtest::ReadColumn(Results(), TScanPage::colSize), (std::vector<std::wstring>{L"1,000", L"300", L"20"}));
    EXPECT_EQ(Results().ColumnImage(TScanPage::colSize), kv::iiSortUp);

    kvtest::ClickColumnHeader(Results(), TScanPage::colModified);
    EXPECT_EQ(Results().ColumnImage(TScanPage::colSize), -1) << "only the sorted column shows an arrow";
    EXPECT_EQ(Results().ColumnImage(TScanPage::colModified), kv::iiSortDown);
    EXPECT_EQ(kvtest::ReadColumn(Results(), TScanPage::colFileName),
              (std::vector<std::wstring>{L"A.log", L"b.tmp", L"C.bak"}));

    kvtest::ClickColumnHeader(Results(), TScanPage::colFileName);
    EXPECT_EQ(kvtest::ReadColumn(Results(), TScanPage::colFileName),
              (std::vector<std::wstring>{L"C.bak", L"b.tmp", L"A.log"}))
        << "descending now, case ignored";
    kvtest::ClickColumnHeader(Results(), TScanPage::colLocation);
    EXPECT_EQ(kvtest::ReadColumn(Results(), TScanPage::colLocation),
              (std::vector<std::wstring>{L"C:\\x\\", L"C:\\Y\\", L"C:\\z\\"}));
    kvtest::ClickColumnHeader(Results(), TScanPage::colFilter);
    EXPECT_EQ(kvtest::ReadColumn(Results(), TScanPage::colFilter),
              (std::vector<std::wstring>{L"*.tmp", L"*.log", L"*.bak"}));
}

// ---------------------------------------------------------------------------
// The pop-up menu

TEST_F(ScanPageTest, MenuEntriesNeedRowsOrASelection)
{
    OpenWithRows({});
    {
        kvtest::MenuChooser chooser(L"no such entry");
        kvtest::RightClick(Results(), POINT{100, 100});
        ASSERT_TRUE(chooser.Opened());
        for (const wchar_t* entry : {L"Size All Columns to Fit", L"&Clear Result (will not delete actual files)",
                                     L"&Save Result", L"Check selected", L"Uncheck selected", L"Copy Information",
                                     L"&Open Containing Folder", L"P&roperties", L"Exclude..."})
            EXPECT_FALSE(chooser.EntryOf(entry)->enabled) << testing::PrintToString(std::wstring(entry));
    }
    Page().AddScanItem(ResultRow(L"a.tmp", L"C:\\x\\", 1, L"2020-01-02 03:04:05", L"*.tmp"), L"");
    SelectOnly(-1);
    {
        kvtest::MenuChooser chooser(L"no such entry");
        kvtest::RightClick(Results(), POINT{100, 150});
        EXPECT_TRUE(chooser.EntryOf(L"&Save Result")->enabled);
        EXPECT_TRUE(chooser.EntryOf(L"Check selected")->enabled);
        EXPECT_FALSE(chooser.EntryOf(L"Exclude...")->enabled);
        EXPECT_FALSE(chooser.EntryOf(L"P&roperties")->enabled);
    }
    SelectOnly(0);
    kvtest::MessageBoxAnswerer no(IDNO);
    EXPECT_TRUE(ChooseOnSelection(L"Exclude this filter")) << "reachable with a selected row";
    EXPECT_EQ(no.Boxes().size(), 1u);
}

TEST_F(ScanPageTest, CopyCommandsPutTheRowsTextsOnTheClipboard)
{
    OpenWithRows({ResultRow(L"a.tmp", L"C:\\kv\\folder\\", 1, L"2020-01-02 03:04:05", L"*.tmp")});
    SelectOnly(0);
    const struct {
        const wchar_t* entry;
        const wchar_t* text;
    } cases[] = {{L"File Name", L"a.tmp"},
                 {L"Location", L"C:\\kv\\folder\\"},
                 {L"File Name && Location", L"C:\\kv\\folder\\a.tmp"}};
    for (const auto& c : cases) {
        ASSERT_TRUE(ChooseOnSelection(c.entry)) << testing::PrintToString(std::wstring(c.entry));
        ASSERT_TRUE(::OpenClipboard(nullptr));
        HANDLE data = ::GetClipboardData(CF_UNICODETEXT);
        const std::wstring text = data ? static_cast<const wchar_t*>(::GlobalLock(data)) : L"";
        if (data) ::GlobalUnlock(data);
        ::CloseClipboard();
        EXPECT_EQ(text, c.text);
    }
}

TEST_F(ScanPageTest, ClearAllAsksFirstAndTouchesNoFile)
{
    const std::wstring tree = kvtest::ScratchFolder(L"ScanPageClear");
    MakeFile(tree + L"a.tmp", 100);
    OpenScanning(tree, {{true, L"*.tmp", L"t"}});
    Scan();
    ASSERT_EQ(Results().Count(), 1);
    {
        kvtest::MessageBoxAnswerer no(IDNO);
        ASSERT_TRUE(ChooseOnSelection(L"&Clear Result (will not delete actual files)"));
        ASSERT_EQ(no.Boxes().size(), 1u);
        EXPECT_EQ(no.Boxes()[0].text, kv::LanguageText(193));
        EXPECT_EQ(no.Boxes()[0].caption, kv::LanguageText(145));
    }
    EXPECT_EQ(Results().Count(), 1);
    {
        kvtest::MessageBoxAnswerer yes(IDYES);
        ASSERT_TRUE(ChooseOnSelection(L"&Clear Result (will not delete actual files)"));
    }
    EXPECT_EQ(Results().Count(), 0);
    EXPECT_FALSE(form->CheckAllButton->Enabled());
    EXPECT_FALSE(form->RemoveAllButton->Enabled());
    EXPECT_EQ(kv::JunkTotalSize.load(), 0) << "nothing is left to clean";
    EXPECT_TRUE(kvtest::PathExists(tree + L"a.tmp"));
}

// ---------------------------------------------------------------------------
// Excluding from later scans

TEST_F(ScanPageTest, ExcludedFileFolderAndFilterAreNotFoundByTheNextScan)
{
    const std::wstring tree = kvtest::ScratchFolder(L"ScanPageExclude");
    MakeFile(tree + L"a.tmp", 10);
    MakeFile(tree + L"e.tmp", 10);
    MakeFolder(tree + L"sub");
    MakeFile(tree + L"sub\\b.tmp", 10);
    MakeFile(tree + L"sub\\c.tmp", 10);
    MakeFolder(tree + L"sub\\below");
    MakeFile(tree + L"sub\\below\\f.tmp", 10);
    MakeFile(tree + L"d.log", 10);
    OpenScanning(tree, {{true, L"*.tmp", L"t"}, {true, L"*.log", L"l"}});
    Scan();
    ASSERT_EQ(Results().Count(), 6);
    const int filterRows = Filters().Count(), pathRows = Paths().Count();

    // Asked first; No changes nothing.
    SelectOnly(RowOf(L"a.tmp"));
    {
        kvtest::MessageBoxAnswerer no(IDNO);
        ASSERT_TRUE(ChooseOnSelection(L"Exclude this File"));
        ASSERT_EQ(no.Boxes().size(), 1u);
        EXPECT_EQ(no.Boxes()[0].text, kv::LanguageText(202));
        EXPECT_EQ(no.Boxes()[0].caption, L"Confirmation");
    }
    EXPECT_EQ(Results().Count(), 6);
    EXPECT_EQ(Filters().Count(), filterRows);

    // The file: its row goes, an exclude filter naming its path comes.
    {
        kvtest::MessageBoxAnswerer yes(IDYES);
        ASSERT_TRUE(ChooseOnSelection(L"Exclude this File"));
        ASSERT_EQ(yes.Boxes().size(), 2u);
        EXPECT_EQ(yes.Boxes()[1].text, kv::LanguageText(198));
        EXPECT_EQ(yes.Boxes()[1].caption, L"Kestrelvane");
    }
    EXPECT_EQ(Results().Count(), 5);
    ASSERT_EQ(Filters().Count(), filterRows + 1);
    const auto filter = Filters().GetRow(filterRows);
    EXPECT_EQ(filter.subItems, (std::vector<std::wstring>{tree + L"a.tmp", L".tmp", L"User Define"}));
    EXPECT_EQ(filter.image, kv::fkExclusive);
    EXPECT_TRUE(filter.checked);

    // The folder: every row in it goes, an exclude-folder row comes.
    SelectOnly(RowOf(L"b.tmp"));
    {
        kvtest::MessageBoxAnswerer yes(IDYES);
        ASSERT_TRUE(ChooseOnSelection(L"Exclude this Location"));
        ASSERT_EQ(yes.Boxes().size(), 2u);
        EXPECT_EQ(yes.Boxes()[1].text, kv::LanguageText(197));
    }
    EXPECT_EQ(Found(tree), (std::set<std::wstring>{L"e.tmp|*.tmp", L"sub\\below\\f.tmp|*.tmp", L"d.log|*.log"}));
    ASSERT_EQ(Paths().Count(), pathRows + 1);
    EXPECT_EQ(Paths().Caption(pathRows), tree + L"sub");
    EXPECT_EQ(Paths().ImageIndex(pathRows), kv::pkExcludeFolder);
    EXPECT_TRUE(Paths().Checked(pathRows));

    // The filter: its rows go and its filter row is unchecked.
    SelectOnly(RowOf(L"d.log"));
    {
        kvtest::MessageBoxAnswerer yes(IDYES);
        ASSERT_TRUE(ChooseOnSelection(L"Exclude this filter"));
        EXPECT_EQ(yes.Boxes().size(), 1u) << "asked, with no notice after";
    }
    EXPECT_EQ(Found(tree), (std::set<std::wstring>{L"e.tmp|*.tmp", L"sub\\below\\f.tmp|*.tmp"}));
    EXPECT_FALSE(Filters().Checked(1));
    EXPECT_EQ(Filters().SubItem(1, 1), L"*.log");
    EXPECT_EQ(Status(), TotalText(kv::FileSizeOnDisk(tree + L"e.tmp") + kv::FileSizeOnDisk(tree + L"sub\\below\\f.tmp")));

    // The next scan honours all three; the folder's own sub-folders are still walked.
    Scan();
    EXPECT_EQ(Found(tree), (std::set<std::wstring>{L"e.tmp|*.tmp", L"sub\\below\\f.tmp|*.tmp"}));
    EXPECT_TRUE(kvtest::PathExists(tree + L"a.tmp")) << "excluding touches no file";
}

TEST_F(ScanPageTest, ExcludingWhatTheListsHaveAlreadyChangesTheExistingRows)
{
    OpenWithRows({ResultRow(L"a.tmp", L"C:\\Data\\Old\\", 1, L"2020-01-02 03:04:05", L"*.tmp"),
                  ResultRow(L"b.tmp", L"C:\\Data\\Other\\", 1, L"2020-01-02 03:04:05", L"*.tmp")});
    Filters().AddItem(L"", {L"c:\\data\\old\\A.TMP", L".TMP", L"mine"}, kv::fkInclusive, false);
    Paths().AddItem(L"c:\\DATA\\other", {}, kv::pkIncludeWithSubFolders, false);
    const int filterRows = Filters().Count(), pathRows = Paths().Count();
    kvtest::MessageBoxAnswerer yes(IDYES);

    SelectOnly(RowOf(L"a.tmp"));
    ASSERT_TRUE(ChooseOnSelection(L"Exclude this File"));
    EXPECT_EQ(Filters().Count(), filterRows) << "the filter row naming the file is reused";
    EXPECT_EQ(Filters().ImageIndex(filterRows - 1), kv::fkExclusive);
    EXPECT_TRUE(Filters().Checked(filterRows - 1));

    SelectOnly(RowOf(L"b.tmp"));
    ASSERT_TRUE(ChooseOnSelection(L"Exclude this Location"));
    EXPECT_EQ(Paths().Count(), pathRows) << "the path row naming the folder is reused";
    EXPECT_EQ(Paths().ImageIndex(pathRows - 1), kv::pkExcludeWithSubFolders);
    EXPECT_TRUE(Paths().Checked(pathRows - 1));
    EXPECT_EQ(Results().Count(), 0);
    EXPECT_EQ(kv::JunkTotalSize.load(), 0);
}

TEST_F(ScanPageTest, ExcludingADriveRootRemovesItsRowsButAddsNoPath)
{
    OpenWithRows({ResultRow(L"a.tmp", L"C:\\", 1, L"2020-01-02 03:04:05", L"*.tmp"),
                  ResultRow(L"b.tmp", L"C:\\", 1, L"2020-01-02 03:04:05", L"*.tmp"),
                  ResultRow(L"c.tmp", L"C:\\kv\\", 1, L"2020-01-02 03:04:05", L"*.tmp")});
    const int pathRows = Paths().Count();
    kvtest::MessageBoxAnswerer yes(IDYES);
    SelectOnly(0);
    ASSERT_TRUE(ChooseOnSelection(L"Exclude this Location"));
    EXPECT_EQ(kvtest::ReadColumn(Results(), 0), std::vector<std::wstring>{L"c.tmp"});
    EXPECT_EQ(Paths().Count(), pathRows);
}

struct OptionFilterCase {
    const wchar_t* filter;
    int image;
    bool emptyFolderOptionAfter;
    bool brokenShortcutOptionAfter;
};

class ScanPageOptionFilterTest : public ScanPageTest, public ::testing::WithParamInterface<OptionFilterCase> {};

// The bracketed rows come from a scan option: excluding their "filter" turns the option off.
TEST_P(ScanPageOptionFilterTest, ExcludingABracketedFilterTurnsItsOptionOff)
{
    const OptionFilterCase& c = GetParam();
    OpenWithRows({ResultRow(L"x", L"C:\\kv\\", 0, L"2020-01-02 03:04:05", c.filter, c.image),
                  ResultRow(L"y", L"C:\\kv\\", 0, L"2020-01-02 03:04:05", c.filter, c.image),
                  ResultRow(L"z.tmp", L"C:\\kv\\", 0, L"2020-01-02 03:04:05", L"*.tmp")});
    form->OptionsFindEmptyFolderMenuItem->Checked = true;
    form->OptionsFindBrokenLinkFilesMenuItem->Checked = true;
    const auto filtersBefore = kvtest::ReadRows(Filters());
    kvtest::MessageBoxAnswerer yes(IDYES);
    SelectOnly(0);
    ASSERT_TRUE(ChooseOnSelection(L"Exclude this filter"));
    EXPECT_EQ(kvtest::ReadColumn(Results(), 0), std::vector<std::wstring>{L"z.tmp"});
    EXPECT_EQ(form->OptionsFindEmptyFolderMenuItem->Checked, c.emptyFolderOptionAfter);
    EXPECT_EQ(form->OptionsFindBrokenLinkFilesMenuItem->Checked, c.brokenShortcutOptionAfter);
    const auto filtersAfter = kvtest::ReadRows(Filters());
    ASSERT_EQ(filtersAfter.size(), filtersBefore.size());
    for (std::size_t row = 0; row < filtersAfter.size(); ++row)
        EXPECT_EQ(filtersAfter[row].checked, filtersBefore[row].checked) << "no filter row changes";
}

INSTANTIATE_TEST_SUITE_P(Options, ScanPageOptionFilterTest,
                         ::testing::Values(OptionFilterCase{kv::kEmptyFolderFilter, kv::kEmptyFolderResultImage, false, true},
                                           OptionFilterCase{kv::kInvalidShortcutFilter, kv::kFileResultImage, true, false}));

// ---------------------------------------------------------------------------
// Saving the list

struct PadCase {
    int length, maximum, tabs;
};

TEST(ScanListPadColumn, AddsTheTabsToTheNextColumn)
{
    const PadCase cases[] = {{5, 12, 2}, {12, 12, 1}, {0, 0, 1}, {7, 8, 2}, {8, 8, 1}, {16, 15, 0}, {3, 40, 6}};
    for (const PadCase& c : cases) {
        std::wstring text = L"x";
        kv::ScanListPadColumn(text, c.length, c.maximum);
        EXPECT_EQ(text, L"x" + std::wstring(static_cast<std::size_t>(c.tabs), L'\t')) << c.length << "/" << c.maximum;
    }
}

TEST_F(ScanPageTest, SaveListWritesTheRowsAsTabbedTextWithoutTheFilter)
{
    OpenWithRows({ResultRow(L"a.tmp", L"C:\\kv\\", 1234, L"2020-01-02 03:04:05", L"*.tmp"),
                  ResultRow(L"twelve.chars", L"C:\\kv\\", 0, L"2021-11-12 13:14:15", L"[EMPTY]",
                            kv::kEmptyFolderResultImage)});
    Results().SetChecked(1, false);
    const std::wstring file = kvtest::ScratchFolder(L"ScanPageSave") + L"result.txt";
    {
        kvtest::FileDialogAnswer cancel(std::nullopt);
        ASSERT_TRUE(ChooseOnSelection(L"&Save Result"));
        EXPECT_EQ(cancel.TimesAsked(), 1);
    }
    EXPECT_FALSE(kvtest::PathExists(file));
    kvtest::FileDialogAnswer answer(file);
    ASSERT_TRUE(ChooseOnSelection(L"&Save Result"));
    EXPECT_EQ(answer.LastFileName, L"KVScan.txt");
    EXPECT_EQ(answer.LastDefaultExt, L"*.txt");
    EXPECT_EQ(answer.LastFilter, L"Text Files|*.txt");
    EXPECT_TRUE(form->SaveDialog.OverwritePrompt);

    const std::string text = kvtest::ReadBytes(file);
    const std::string head = "; Kestrelvane Scan Result\r\n\r\n; ----------";
    ASSERT_EQ(text.compare(0, head.size(), head), 0) << text;
    const std::size_t stampEnd = text.find("----------\r\n\r\n", head.size());
    ASSERT_NE(stampEnd, std::string::npos) << text;
    EXPECT_GT(stampEnd, head.size()) << "the date and time of the save";
    EXPECT_EQ(text.substr(stampEnd + 14),
              "a.tmp\t\tC:\\kv\\\t1,234\t2020-01-02 03:04:05\r\n"
              "twelve.chars\tC:\\kv\\\t0\t2021-11-12 13:14:15\r\n")
        << "every row, checked or not, in list order";
}

TEST_F(ScanPageTest, ASaveThatCannotBeWrittenReachesTheExceptionHandler)
{
    OpenWithRows({ResultRow(L"a.tmp", L"C:\\kv\\", 1, L"2020-01-02 03:04:05", L"*.tmp")});
    const std::wstring file = kvtest::ScratchFolder(L"ScanPageSaveFails") + L"missing\\result.txt";
    kvtest::ExceptionRecorder errors;
    kvtest::FileDialogAnswer answer(file);
    ASSERT_TRUE(ChooseOnSelection(L"&Save Result"));
    ASSERT_EQ(errors.Messages().size(), 1u);
    EXPECT_NE(errors.Messages()[0].find(file), std::wstring::npos);
    EXPECT_FALSE(kvtest::PathExists(file));
}

// ---------------------------------------------------------------------------
// Entering the page and the column widths

TEST_F(ScanPageTest, EnteringThePageSetsTheControlButtonsByScanStateAndRows)
{
    OpenWithRows({});
    kvtest::Click(*form->PathButton);
    kvtest::Click(*form->ScanButton);
    EXPECT_EQ(kv::CurrentPage.load(), kv::pgScan);
    EXPECT_EQ(Status(), L"<Scan Panel>");
    EXPECT_EQ(kvtest::TextOf(*form->MenuCaptionLabel), L"----- Scan -----");
    EXPECT_TRUE(form->StartButton->Enabled());
    EXPECT_FALSE(form->StopButton->Enabled());
    EXPECT_FALSE(form->CheckAllButton->Enabled()) << "no rows";
    EXPECT_FALSE(form->AddButton->Enabled());
    EXPECT_FALSE(form->DeleteButton->Enabled());
    EXPECT_FALSE(form->CleanNowButton->Enabled());
    EXPECT_TRUE(Results().Visible());

    Page().AddScanItem(ResultRow(L"a.tmp", L"C:\\kv\\", 1, L"2020-01-02 03:04:05", L"*.tmp"), L"");
    kvtest::Click(*form->PathButton);
    kvtest::Click(*form->ScanButton);
    EXPECT_TRUE(form->CheckAllButton->Enabled());
    EXPECT_TRUE(form->RemoveAllButton->Enabled());
}

TEST_F(ScanPageTest, ColumnsFitTheirContentsOnRequest)
{
    OpenWithRows({ResultRow(L"a-rather-long-file-name-for-the-column.tmp", L"C:\\kv\\a\\very\\long\\location\\",
                            1, L"2020-01-02 03:04:05", L"*.tmp")});
    EXPECT_EQ(Results().ColumnWidth(kv::TScanPage::colFileName), 80);
    ASSERT_TRUE(ChooseOnSelection(L"Size All Columns to Fit"));
    for (int column = kv::TScanPage::colFileName; column <= kv::TScanPage::colModified; ++column)
        EXPECT_GE(Results().ColumnWidth(column), kvtest::WidestCell(Results(), column)) << column;
}

TEST_F(ScanPageTest, ColumnsFitTheResultsWhenTheScanEnds)
{
    const std::wstring tree = kvtest::ScratchFolder(L"ScanPageColumns");
    MakeFolder(tree + L"a folder whose name is longer than any default column");
    MakeFile(tree + L"a folder whose name is longer than any default column\\a file name that is long too.tmp", 1234567);
    MakeFile(tree + L"b.tmp", 10);
    OpenScanning(tree, {{true, L"*.tmp", L"t"}});
    Scan();
    ASSERT_EQ(Results().Count(), 2);
    for (int column = kv::TScanPage::colFileName; column <= kv::TScanPage::colModified; ++column) {
        EXPECT_GE(Results().ColumnWidth(column), kvtest::WidestCell(Results(), column)) << "column " << column;
        EXPECT_GE(Results().ColumnWidth(column), kvtest::TitleWidth(Results(), column)) << "column " << column;
    }
}

} // namespace
