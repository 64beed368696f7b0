#include "cleaner/windows/ScanPage.h"

#include <algorithm>
#include <exception>

#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/SettingsStore.h"
#include "cleaner/windows/FiltersPage.h"
#include "cleaner/windows/GuideUnit.h"
#include "cleaner/windows/IconIndexes.h"
#include "cleaner/windows/PathPage.h"
#include "platform/Exceptions.h"
#include "platform/Format.h"
#include "platform/TextCodec.h"

namespace kv {
namespace {

// The widths the columns start with, before any result is listed.
constexpr int kScanColumnWidths[] = {80, 120, 50, 100};
constexpr int kFilterColumnMinWidth = 90;
// Clicks left of this point hit a row's check box.
constexpr int kCheckBoxAreaRight = 20;
constexpr int kTabWidth = 8;

// Language entries of the page.
enum TScanPageText : int {
    spClearConfirm = 193,
    spExcludeConfirm = 202,
    spFolderExcluded = 197,
    spFileExcluded = 198,
    spWorking = 150,
    spWarningCaption = 145,
    spPageCaption = 143,
};

constexpr wchar_t kUserDefinedFilter[] = L"User Define";

int CompareIgnoringCase(const std::wstring& a, const std::wstring& b) { return ::lstrcmpiW(a.c_str(), b.c_str()); }

bool SameTextIgnoringCase(const std::wstring& a, const std::wstring& b) { return CompareIgnoringCase(a, b) == 0; }

const std::wstring& SubItemOf(const forms::ListView::Row& row, int subItem)
{
    static const std::wstring none;
    return static_cast<std::size_t>(subItem) < row.subItems.size() ? row.subItems[static_cast<std::size_t>(subItem)]
                                                                    : none;
}

std::wstring LocalDateTimeText()
{
    wchar_t date[80] = {}, time[80] = {};
    ::GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, date, 80);
    ::GetTimeFormatW(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, time, 80);
    return std::wstring(date) + L" " + time;
}

int Length(const std::wstring& text) { return static_cast<int>(text.size()); }

} // namespace

void ScanListPadColumn(std::wstring& text, int length, int maximum)
{
    const int tabs = maximum / kTabWidth - length / kTabWidth + 1;
    if (tabs >= 1) text.append(static_cast<std::size_t>(tabs), L'\t');
}

std::wstring ScanListText(const std::vector<forms::ListView::Row>& rows, const std::wstring& stamp)
{
    enum : int { location = TScanPage::colLocation - 1, size = TScanPage::colSize - 1, modified = TScanPage::colModified - 1 };
    int nameMax = 0, locationMax = 0, sizeMax = 0;
    for (const forms::ListView::Row& row : rows) {
        nameMax = std::max(nameMax, Length(row.caption));
        locationMax = std::max(locationMax, Length(SubItemOf(row, location)));
        sizeMax = std::max(sizeMax, Length(SubItemOf(row, size)));
    }
    std::wstring text = L"; Kestrelvane Scan Result\r\n\r\n; ----------" + stamp + L"----------\r\n\r\n";
    for (const forms::ListView::Row& row : rows) {
        text += row.caption;
        ScanListPadColumn(text, Length(row.caption), nameMax);
        text += SubItemOf(row, location);
        ScanListPadColumn(text, Length(SubItemOf(row, location)), locationMax);
        text += SubItemOf(row, size);
        ScanListPadColumn(text, Length(SubItemOf(row, size)), sizeMax);
        text += SubItemOf(row, modified);
        text += L"\r\n";
    }
    return text;
}

// ---------------------------------------------------------------------------

TScanPage::TScanPage(TMainForm& mainForm, forms::Panel& host) : TMainFormPage(mainForm, host)
{
    // A scan lists tens of thousands of rows: the page keeps them, the list
    // asks for the ones it shows.
    ScanListView = &AddPageList(idScanListView, L"ScanListView", true, true, forms::RowStore::Owner);
    ScanListView->AddColumn(L"File Name", kScanColumnWidths[colFileName]);
    ScanListView->AddColumn(L"Location", kScanColumnWidths[colLocation]);
    ScanListView->AddColumn(L"Size", kScanColumnWidths[colSize], LVCFMT_RIGHT);
    ScanListView->AddColumn(L"Modified", kScanColumnWidths[colModified]);
    ScanListView->AddColumn(L"Filter", kFilterColumnMinWidth);
    ScanListView->OnClick = [this] { ScanListViewClick(); };
    ScanListView->OnChange = [this](int index) { ScanListViewChange(index); };
    ScanListView->OnItemChecked = [this](int row) { ScanListViewItemChecked(row); };
    ScanListView->OnColumnClick = [this](int column) { ScanListViewColumnClick(column); };
    ScanListView->OnOwnerKeptText = [this](LPARAM key, int column) { return OwnerKeptText(key, column); };
    ScanListView->OnMouseDown = [this](forms::MouseButton button, UINT, int x, int y) {
        ScanListViewMouseDown(button, x, y);
    };
    BuildPopupMenu();

    mainForm.StartButton->OnClick = [this] { StartButtonClick(); };
    mainForm.StopButton->OnClick = [this] { StopButtonClick(); };
    mainForm.FlashTimer.OnTimer = [this] { FlashTimerTimer(); };
}

void TScanPage::BuildPopupMenu()
{
    forms::PopupMenu& menu = ScanPanelPopupMenu;
    OpenContainingFolderMenuItem = &menu.Add(L"OpenContainingFolderMenuItem", L"&Open Containing Folder");
    CopyMenu = &menu.Add(L"CopyMenu", L"Copy Information");
    CopyFileNameMenuItem = &CopyMenu->Add(L"CopyFileNameMenuItem", L"File Name");
    CopyLocationMenuItem = &CopyMenu->Add(L"CopyLocationMenuItem", L"Location");
    CopyFileNameLocationMenuItem = &CopyMenu->Add(L"CopyFileNameLocationMenuItem", L"File Name && Location");
    menu.AddSeparator();
    MiCheckSelected = &menu.Add(L"MiCheckSelected", L"Check selected");
    MiUncheckSelected = &menu.Add(L"MiUncheckSelected", L"Uncheck selected");
    menu.AddSeparator();
    ExcludePopupMenuButton = &menu.Add(L"ExcludePopupMenuButton", L"Exclude...");
    ExcludeFileMenuButton = &ExcludePopupMenuButton->Add(L"ExcludeFileMenuButton", L"Exclude this File");
    ExcludeContainingFolderMenuButton =
        &ExcludePopupMenuButton->Add(L"ExcludeContainingFolderMenuButton", L"Exclude this Location");
    MiExcludeFilter = &ExcludePopupMenuButton->Add(L"MiExcludeFilter", L"Exclude this filter");
    menu.AddSeparator();
    AutoResizePopupMenuButton = &menu.Add(L"AutoResizePopupMenuButton", L"Size All Columns to Fit");
    ClearAllPopupMenuButton = &menu.Add(L"ClearAllPopupMenuButton", L"&Clear Result (will not delete actual files)");
    SaveListPopupMenuButton = &menu.Add(L"SaveListPopupMenuButton", L"&Save Result");
    menu.AddSeparator();
    PropertiesMenuItem = &menu.Add(L"PropertiesMenuItem", L"P&roperties");

    menu.OnPopup = [this] { ScanPanelPopupMenuPopup(); };
    OpenContainingFolderMenuItem->OnClick = [this] { OpenContainingFolderMenuItemClick(); };
    CopyFileNameMenuItem->OnClick = [this] { CopyFileNameMenuItemClick(); };
    CopyLocationMenuItem->OnClick = [this] { CopyLocationMenuItemClick(); };
    CopyFileNameLocationMenuItem->OnClick = [this] { CopyFileNameLocationMenuItemClick(); };
    MiCheckSelected->OnClick = [this] { MiCheckSelectedClick(); };
    MiUncheckSelected->OnClick = [this] { MiUncheckSelectedClick(); };
    ExcludeFileMenuButton->OnClick = [this] { ExcludeFileMenuButtonClick(); };
    ExcludeContainingFolderMenuButton->OnClick = [this] { ExcludeContainingFolderMenuButtonClick(); };
    MiExcludeFilter->OnClick = [this] { MiExcludeFilterClick(); };
    AutoResizePopupMenuButton->OnClick = [this] { AutoResizePopupMenuButtonClick(); };
    ClearAllPopupMenuButton->OnClick = [this] { ClearAllPopupMenuButtonClick(); };
    SaveListPopupMenuButton->OnClick = [this] { SaveListPopupMenuButtonClick(); };
    PropertiesMenuItem->OnClick = [this] { PropertiesMenuItemClick(); };
    MainForm.RegisterMenu(menu);
}

// ---------------------------------------------------------------------------
// The page

void TScanPage::Arrange(int width, int height)
{
    TMainFormPage::Arrange(width, height);
    FillColumn(*ScanListView, colFilter, width, kFilterColumnMinWidth);
}

void TScanPage::Enter()
{
    ScanListView->Show();
    ScanListView->SetFocus();
    const bool idle = StopRequested == 1;
    const bool rows = ScanListView->Count() > 0;
    MainForm.SetControlButtons(false, false, rows && idle, rows && idle, idle, !idle, false);
    // A scan that runs already (a job starts it before the window shows) keeps its status line.
    if (idle) MainForm.IndexLabel->SetText(MainForm.ScanButton->Hint());
    if (MainForm.frmGuide) MainForm.frmGuide->StartIfWanted();
}

void TScanPage::CheckAll(bool checked)
{
    if (ScanListView->Count() == 0) return;
    MarkRows(checked, false);
}

void TScanPage::MarkRows(bool checked, bool selectedOnly)
{
    scanCheckedSize_.reset();
    {
        // One total at the end, not one per row.
        struct MarkingScope {
            bool& flag;
            ~MarkingScope() { flag = false; }
        } marking{markingRows_ = true};
        for (int row = 0; row < ScanListView->Count(); ++row)
            if (!selectedOnly || ScanListView->Selected(row)) ScanListView->SetChecked(row, checked);
    }
    if (StopRequested == 1) UpdateJunkTotal();
}

void TScanPage::CheckAllButtonClick() { CheckAll(true); }
void TScanPage::RemoveAllButtonClick() { CheckAll(false); }

void TScanPage::UpdateJunkTotal()
{
    if (ScanListView->Count() == 0) return;
    JunkTotalSize = CheckedRowsDiskSize();
    ShowJunkTotal();
}

void TScanPage::ShowJunkTotal()
{
    MainForm.IndexLabel->SetText(Format(LanguageText(stFoundSize), {FormatFileSize(JunkTotalSize)}));
}

std::int64_t TScanPage::CheckedRowsDiskSize()
{
    std::int64_t total = 0;
    for (int row = 0; row < ScanListView->Count(); ++row)
        if (ScanListView->Checked(row)) total += RowDiskSize(row);
    return total;
}

TScanPage::TRowFacts& TScanPage::FactsOf(LPARAM key)
{
    if (rowFacts_.empty() || key < firstFactsKey_) {
        // Before the first row with facts: the vector starts again from this key.
        std::vector<TRowFacts> facts(rowFacts_.empty() ? 0 : firstFactsKey_ - key);
        facts.insert(facts.end(), rowFacts_.begin(), rowFacts_.end());
        rowFacts_ = std::move(facts);
        firstFactsKey_ = key;
    }
    const auto index = static_cast<std::size_t>(key - firstFactsKey_);
    if (index >= rowFacts_.size()) rowFacts_.resize(index + 1);
    return rowFacts_[index];
}

std::int64_t TScanPage::RowDiskSize(int row)
{
    std::int64_t& size = FactsOf(ScanListView->Key(row)).diskSize;
    if (size < 0) size = FileSizeOnDisk(RowPath(row));
    return size;
}

std::uint32_t TScanPage::TSharedTexts::IndexOf(const std::wstring& text)
{
    // A folder's rows come one after another: the last text is asked first.
    if (!texts_.empty() && *texts_.back() == text) return static_cast<std::uint32_t>(texts_.size() - 1);
    const auto [place, isNew] = indexes_.try_emplace(text, static_cast<std::uint32_t>(texts_.size()));
    if (isNew) texts_.push_back(&place->first);
    return place->second;
}

std::wstring_view TScanPage::TSharedTexts::At(std::uint32_t index) const
{
    return index < texts_.size() ? std::wstring_view(*texts_[index]) : std::wstring_view();
}

void TScanPage::TSharedTexts::Clear()
{
    texts_.clear();
    indexes_.clear();
}

std::wstring_view TScanPage::OwnerKeptText(LPARAM key, int column)
{
    if (key < firstFactsKey_) return {};
    const auto index = static_cast<std::size_t>(key - firstFactsKey_);
    if (index >= rowFacts_.size()) return {};
    const TRowFacts& facts = rowFacts_[index];
    switch (column) {
    case colLocation:
        return folders_.At(facts.folder);
    case colSize:
        ownerKeptText_ = FormatThousands(facts.size);
        return ownerKeptText_;
    case colModified:
        ownerKeptText_ = FileTimeToText(facts.modified);
        return ownerKeptText_;
    case colFilter:
        return filters_.At(facts.filter);
    default:
        return {};
    }
}

void TScanPage::ResetScanColumns()
{
    // A window never shown has no columns to fit: fitting them measures every
    // row's texts, a fifth of a second per 10,000 rows.
    if (RunHiddenly) return;
    // Fixed widths would cut the names and times the user is about to judge:
    // each column fits what it holds (or its title, when that is wider).
    for (int column = colFileName; column <= colModified; ++column)
        ScanListView->SetColumnWidth(column, LVSCW_AUTOSIZE_USEHEADER);
    Arrange(Host.Width(), Host.Height());
}

std::wstring TScanPage::RowPath(int row) const
{
    return ScanListView->SubItem(row, colLocation) + ScanListView->Caption(row);
}

// ---------------------------------------------------------------------------
// Start, stop and the scan thread's calls

void TScanPage::StartButtonClick()
{
    // Start stays enabled until the thread's first call reaches this window:
    // a second click in between must not start a second scan.
    if (scanning_) return;
    scanning_ = true;
    try {
        TSearch::Create(*this);
    } catch (...) {
        scanning_ = false;
        throw;
    }
}

void TScanPage::StopButtonClick() { StopScan(LanguageText(stAborted)); }

void TScanPage::FlashTimerTimer()
{
    forms::Label& title = *MainForm.MenuCaptionLabel;
    title.SetText(title.Text().empty() ? LanguageText(spWorking) : std::wstring());
    if (scanning_) ScanListView->RepaintWhileRedrawOff();
}

TScanOptions TScanPage::ReadScanOptions()
{
    TScanOptions options;
    // A scan asked for while the window closes (a job's start racing the
    // close) walks nothing: the closing window waits for it.
    if (AppClosing == 0) {
        const forms::ListView& paths = *MainForm.PathPage().PathListView;
        for (int row = 0; row < paths.Count(); ++row)
            options.Paths.push_back({paths.Caption(row), paths.ImageIndex(row), paths.Checked(row)});
    }
    const forms::ListView& filters = *MainForm.FiltersPage().FiltersListView;
    for (int row = 0; row < filters.Count(); ++row)
        options.Filters.push_back(
            {filters.SubItem(row, TFiltersPage::colFilterName), filters.ImageIndex(row), filters.Checked(row)});
    options.BackupFolder = MainForm.Settings.SpecificFolder;
    options.FindInvalidShortcut = MainForm.OptionsFindBrokenLinkFilesMenuItem->Checked;
    options.FindEmptyFolder = MainForm.OptionsFindEmptyFolderMenuItem->Checked;
    options.SkipReadOnlyAttr = MainForm.OptionsSkipReadOnlyAndSystemFilesMenuItem->Checked;

    MainForm.EnableNavigation(false);
    ScanListView->Clear();
    rowFacts_.clear();
    folders_.Clear();
    filters_.Clear();
    scanCheckedSize_ = 0;
    // Each insert would repaint the list; the title flash repaints it instead.
    ScanListView->SetRedraw(false);
    LastChangedIndex = -1;
    MainForm.IndexLabel->SetText(LanguageText(stSearching));
    MainForm.FlashTimer.Start();
    MainForm.OptionsFilterMenuItem->Enabled = false;
    return options;
}

void TScanPage::ShowCurrentPath(const std::wstring& text) { MainForm.HintLabel->SetText(text); }

void TScanPage::AddScanItem(const TScanResult& row, const std::wstring& status)
{
    ScanListView->AddItem(row.Caption, {}, row.ImageIndex, true, {colLocation, colSize, colModified, colFilter});
    TRowFacts& facts = FactsOf(ScanListView->NewestKey());
    facts.diskSize = row.SizeOnDisk;
    facts.size = row.Size;
    facts.modified = row.Modified;
    facts.folder = folders_.IndexOf(row.Location);
    facts.filter = filters_.IndexOf(row.Filter);
    if (scanCheckedSize_) *scanCheckedSize_ += row.SizeOnDisk;
    if (!status.empty()) MainForm.IndexLabel->SetText(status);
}

void TScanPage::ScanSkipped(const TSkipList& skipped)
{
    for (const TSkippedEntry& entry : skipped) MainForm.JobLog.push_back(SkippedLine(entry));
}

void TScanPage::ScanFinished(const std::wstring& status)
{
    scanning_ = false;
    ScanListView->SetRedraw(true);
    if (scanCheckedSize_)
        JunkTotalSize = *scanCheckedSize_;
    else if (ScanListView->Count() > 0)
        JunkTotalSize = CheckedRowsDiskSize();
    scanCheckedSize_.reset();
    MainForm.JobLog.push_back(status);
    MainForm.IndexLabel->SetText(status);
    MainForm.HintLabel->SetText(L"");
    MainForm.EnableNavigation(true);
    const bool rows = ScanListView->Count() > 0;
    MainForm.SetControlButtons(false, false, rows, rows, true, false, false);
    ResetScanColumns();
    MainForm.ScanButton->SetEnabled(false);
    MainForm.FlashTimer.Stop();
    MainForm.OptionsFilterMenuItem->Enabled = true;
    MainForm.SetMenuCaption(LanguageText(spPageCaption));
    // A job waiting for the scan goes on now, not at its timer's next second.
    // Not from here: this runs inside the scan thread's call, and the job's
    // exit waits for that thread.
    if (JobMode && MainForm.JobTimer.Enabled()) MainForm.JobTimer.SetInterval(USER_TIMER_MINIMUM);
}

std::wstring TScanPage::LanguageText(int index) { return kv::LanguageText(index); }

// ---------------------------------------------------------------------------
// The list

void TScanPage::ScanListViewClick()
{
    // The total already follows every mark (see ScanListViewItemChecked).
    if (!MainForm.StopButton->Enabled() && ScanListView->Count() > 0) ShowJunkTotal();
}

void TScanPage::ScanListViewChange(int index) { LastChangedIndex = index; }

void TScanPage::ScanListViewItemChecked(int row)
{
    // The list changes a mark after its click (and the keyboard changes marks
    // with no click at all): the total follows every mark a person changes,
    // one row at a time.
    if (markingRows_) return;
    if (StopRequested != 1) {
        // The status line shows the found total until the scan ends. The row
        // being added (the list may report its first mark) has no size yet:
        // it is counted as it is added.
        if (!scanCheckedSize_) return;
        const std::int64_t known = FactsOf(ScanListView->Key(row)).diskSize;
        if (known >= 0) *scanCheckedSize_ += ScanListView->Checked(row) ? known : -known;
        return;
    }
    const std::int64_t size = RowDiskSize(row);
    JunkTotalSize += ScanListView->Checked(row) ? size : -size;
    ShowJunkTotal();
}

void TScanPage::ScanListViewMouseDown(forms::MouseButton button, int x, int y)
{
    if (button == forms::MouseButton::Right) {
        POINT mouse{};
        ::GetCursorPos(&mouse);
        ScanPanelPopupMenu.Popup(mouse.x, mouse.y, MainForm.Handle());
        return;
    }
    if (button != forms::MouseButton::Left || ScanListView->Count() == 0 || x > kCheckBoxAreaRight) return;
    const int row = LastChangedIndex;
    if (row < 0 || row >= ScanListView->Count() || !ScanListView->Selected(row)) return;
    MarkRows(ScanListView->Checked(row), true);
}

void TScanPage::MiCheckSelectedClick() { MarkRows(true, true); }
void TScanPage::MiUncheckSelectedClick() { MarkRows(false, true); }

void TScanPage::ScanListViewColumnClick(int column)
{
    MainForm.SortColumn = column;
    ScanListView->Sort(
        [this](const forms::ListView::Row& a, const forms::ListView::Row& b) { return ScanListViewCompare(a, b); });
    for (int other = 0; other < ScanListView->ColumnCount(); ++other)
        if (other != column) ScanListView->SetColumnImage(other, -1);
    ScanListView->SetColumnImage(column, ScanListView->ColumnImage(column) > iiSortUp ? iiSortUp : iiSortDown);
    MainForm.SortDescending = !MainForm.SortDescending;
}

int TScanPage::ScanListViewCompare(const forms::ListView::Row& a, const forms::ListView::Row& b) const
{
    int result = 0;
    switch (MainForm.SortColumn) {
    case colFileName:
        result = CompareIgnoringCase(a.caption, b.caption);
        break;
    case colSize:
        result = CompareNumericText(SubItemOf(a, colSize - 1), SubItemOf(b, colSize - 1));
        break;
    case colModified:
        result = CompareSizeText(SubItemOf(a, colModified - 1), SubItemOf(b, colModified - 1));
        break;
    default: { // location and filter
        const int subItem = MainForm.SortColumn - 1;
        result = CompareIgnoringCase(SubItemOf(a, subItem), SubItemOf(b, subItem));
        break;
    }
    }
    result = result < 0 ? -1 : result > 0 ? 1 : 0;
    return MainForm.SortDescending ? -result : result;
}

// ---------------------------------------------------------------------------
// The pop-up menu

void TScanPage::ScanPanelPopupMenuPopup()
{
    const bool rows = ScanListView->Count() > 0;
    const bool selected = ScanListView->SelectedIndex() >= 0;
    // Rows that a scan or Clean Now is still working on are not taken away under it.
    const bool idle = StopRequested == 1;
    for (forms::MenuItem* item : {AutoResizePopupMenuButton, SaveListPopupMenuButton, MiCheckSelected, MiUncheckSelected})
        item->Enabled = rows;
    ClearAllPopupMenuButton->Enabled = rows && idle;
    for (forms::MenuItem* item : {CopyMenu, OpenContainingFolderMenuItem, PropertiesMenuItem})
        item->Enabled = selected;
    ExcludePopupMenuButton->Enabled = selected && idle;
}

void TScanPage::OpenContainingFolderMenuItemClick()
{
    const int row = ScanListView->SelectedIndex();
    if (row < 0) return;
    OpenWithShell(L"explorer", L" /e,/select,\"" + RowPath(row) + L"\"", L"", SW_SHOWNORMAL);
}

void TScanPage::PropertiesMenuItemClick()
{
    const int row = ScanListView->SelectedIndex();
    if (row < 0) return;
    try {
        ShowFileProperties(RowPath(row));
    } catch (const std::exception&) {
        // The property sheet is a convenience: a file that went away shows nothing.
    }
}

void TScanPage::CopyFileNameMenuItemClick()
{
    const int row = ScanListView->SelectedIndex();
    if (row >= 0) SetClipboardText(ScanListView->Caption(row));
}

void TScanPage::CopyLocationMenuItemClick()
{
    const int row = ScanListView->SelectedIndex();
    if (row >= 0) SetClipboardText(ScanListView->SubItem(row, colLocation));
}

void TScanPage::CopyFileNameLocationMenuItemClick()
{
    const int row = ScanListView->SelectedIndex();
    if (row >= 0) SetClipboardText(RowPath(row));
}

void TScanPage::AutoResizePopupMenuButtonClick() { ResetScanColumns(); }

void TScanPage::ClearAllPopupMenuButtonClick()
{
    if (ShowMessageBox(MainForm.Handle(), LanguageText(spClearConfirm), LanguageText(spWarningCaption),
                       MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
        return;
    ScanListView->Clear();
    RowsRemoved();
}

void TScanPage::SaveListPopupMenuButtonClick()
{
    forms::FileDialog& dialog = MainForm.SaveDialog;
    dialog.FileName = L"KVScan.txt";
    dialog.DefaultExt = L"*.txt";
    dialog.Filter = L"Text Files|*.txt";
    dialog.OverwritePrompt = true;
    if (!dialog.Execute(MainForm.Handle())) return;
    std::vector<forms::ListView::Row> rows;
    for (int row = 0; row < ScanListView->Count(); ++row) rows.push_back(ScanListView->GetRow(row));
    const std::string text = WideToAnsi(ScanListText(rows, LocalDateTimeText()));
    if (!WriteWholeFile(dialog.FileName, text))
        throw Exception(Format(L"I/O error %d writing %s", {static_cast<int>(::GetLastError()), dialog.FileName}));
}

// ---------------------------------------------------------------------------
// Excluding from later scans

bool TScanPage::ConfirmExclude() const
{
    return ShowMessageBox(MainForm.Handle(), kv::LanguageText(spExcludeConfirm), L"Confirmation",
                          MB_YESNO | MB_ICONINFORMATION) == IDYES;
}

void TScanPage::ShowExcludeNotice(int entry) const
{
    ShowMessageBox(MainForm.Handle(), kv::LanguageText(entry), L"Kestrelvane", MB_OK | MB_ICONINFORMATION);
}

void TScanPage::DeleteRowsWhere(int column, const std::wstring& text)
{
    ScanListView->DeleteItemsWhere([&](int row) { return ScanListView->SubItem(row, column) == text; });
    RowsRemoved();
}

void TScanPage::RowsRemoved()
{
    scanCheckedSize_.reset();
    if (ScanListView->Count() > 0) {
        UpdateJunkTotal();
        return;
    }
    // Nothing is listed, so nothing is left to clean.
    JunkTotalSize = 0;
    MainForm.CheckAllButton->SetEnabled(false);
    MainForm.RemoveAllButton->SetEnabled(false);
}

void TScanPage::ExcludeFileMenuButtonClick()
{
    if (ScanListView->SelectedIndex() < 0 || !ConfirmExclude()) return;
    ShowExcludeNotice(spFileExcluded);
    const int row = ScanListView->SelectedIndex();
    if (row < 0) return;
    const std::wstring path = RowPath(row);
    ScanListView->DeleteItem(row);
    RowsRemoved();

    forms::ListView& filters = *MainForm.FiltersPage().FiltersListView;
    for (int filter = 0; filter < filters.Count(); ++filter) {
        if (!SameTextIgnoringCase(filters.SubItem(filter, TFiltersPage::colFilterName), path)) continue;
        filters.SetImageIndex(filter, fkExclusive);
        filters.SetChecked(filter, true);
        return;
    }
    filters.AddItem(L"", {path, MaskExtension(path), kUserDefinedFilter}, fkExclusive, true);
}

void TScanPage::ExcludeContainingFolderMenuButtonClick()
{
    if (ScanListView->SelectedIndex() < 0 || !ConfirmExclude()) return;
    ShowExcludeNotice(spFolderExcluded);
    const int row = ScanListView->SelectedIndex();
    if (row < 0) return;
    std::wstring folder = ScanListView->SubItem(row, colLocation);
    DeleteRowsWhere(colLocation, folder);
    // A drive root ("C:\") stays a drive of the path list: its rows go, no path row comes.
    if (folder.size() == 3) return;
    while (!folder.empty() && folder.back() == L'\\') folder.pop_back();

    forms::ListView& paths = *MainForm.PathPage().PathListView;
    for (int path = 0; path < paths.Count(); ++path) {
        if (!SameTextIgnoringCase(paths.Caption(path), folder)) continue;
        paths.SetImageIndex(path, pkExcludeWithSubFolders);
        paths.SetChecked(path, true);
        return;
    }
    paths.AddItem(folder, {}, pkExcludeFolder, true);
}

void TScanPage::MiExcludeFilterClick()
{
    if (ScanListView->SelectedIndex() < 0 || !ConfirmExclude()) return;
    const int row = ScanListView->SelectedIndex();
    if (row < 0) return;
    const std::wstring filter = ScanListView->SubItem(row, colFilter);
    DeleteRowsWhere(colFilter, filter);
    // The bracketed rows come from a scan option, not from a filter row.
    if (filter == kEmptyFolderFilter) {
        MainForm.OptionsFindEmptyFolderMenuItem->Checked = false;
        return;
    }
    if (filter == kInvalidShortcutFilter) {
        MainForm.OptionsFindBrokenLinkFilesMenuItem->Checked = false;
        return;
    }
    forms::ListView& filters = *MainForm.FiltersPage().FiltersListView;
    for (int entry = 0; entry < filters.Count(); ++entry) {
        if (!SameTextIgnoringCase(filters.SubItem(entry, TFiltersPage::colFilterName), filter)) continue;
        filters.SetChecked(entry, false);
        return;
    }
}

} // namespace kv
