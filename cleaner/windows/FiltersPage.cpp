#include "cleaner/windows/FiltersPage.h"

#include <algorithm>

#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/windows/EditItemUnit.h"
#include "cleaner/windows/IconIndexes.h"
#include "platform/Format.h"
#include "platform/TextCodec.h"

namespace kv {

TFiltersPage::TFiltersPage(TMainForm& mainForm, forms::Panel& host) : TMainFormPage(mainForm, host)
{
    FiltersListView = &AddPageList(idFiltersListView, L"FiltersListView", true);
    FiltersListView->AddColumn(L"", 40);
    FiltersListView->AddColumn(L"Filter Name", 140);
    FiltersListView->AddColumn(L"Type", 80);
    FiltersListView->AddColumn(L"Description", 300);
    FiltersListView->SetColumnImage(colCheck, iiCheckHeader);
    FiltersListView->OnDblClick = [this] { FiltersListViewDblClick(); };
    FiltersListView->OnInsert = [this](int) { FiltersListViewInsert(); };
    FiltersListView->OnDeletion = [this](int) { FiltersListViewInsert(); };
    FiltersListView->OnItemChecked = [this](int) { FiltersListViewInsert(); };
    FiltersListView->OnColumnClick = [this](int column) { FiltersListViewColumnClick(column); };
    FiltersListView->OnMouseDown = [this](forms::MouseButton button, UINT, int, int) {
        if (button != forms::MouseButton::Right) return;
        POINT mouse{};
        ::GetCursorPos(&mouse);
        FiltersListViewPopupMenu.Popup(mouse.x, mouse.y, MainForm.Handle());
    };

    EditaFilterMenuItem = &FiltersListViewPopupMenu.Add(L"EditaFilterMenuItem", L"&Edit this Filter");
    AddFilterMenuItem = &FiltersListViewPopupMenu.Add(L"AddFilterMenuItem", L"&Add a Filter");
    RemoveFilterMenuItem = &FiltersListViewPopupMenu.Add(L"RemoveFilterMenuItem", L"&Delete this Filter");
    FiltersListViewPopupMenu.AddSeparator();
    ResetListMenuItem = &FiltersListViewPopupMenu.Add(L"ResetListMenuItem", L"Reset List");
    FiltersListViewPopupMenu.AddSeparator();
    CheckAllMenuItem = &FiltersListViewPopupMenu.Add(L"CheckAllMenuItem", L"&Select All");
    RemoveAllMenuItem = &FiltersListViewPopupMenu.Add(L"RemoveAllMenuItem", L"&Deselect All");
    FiltersListViewPopupMenu.OnPopup = [this] { FiltersListViewPopupMenuPopup(); };
    EditaFilterMenuItem->OnClick = [this] { FiltersListViewDblClick(); };
    AddFilterMenuItem->OnClick = [this] { AddButtonClick(); };
    RemoveFilterMenuItem->OnClick = [this] { DeleteButtonClick(); };
    ResetListMenuItem->OnClick = [this] { ResetListMenuItemClick(); };
    CheckAllMenuItem->OnClick = [this] { CheckAll(true); };
    RemoveAllMenuItem->OnClick = [this] { CheckAll(false); };
    mainForm.RegisterMenu(FiltersListViewPopupMenu);

    mainForm.tiUpdateCountOfFilters.OnTimer = [this] { TiUpdateCountOfFiltersTimer(); };
}

void TFiltersPage::Arrange(int width, int height)
{
    TMainFormPage::Arrange(width, height);
    FillColumn(*FiltersListView, colDescription, width, 120);
}

void TFiltersPage::Enter()
{
    FiltersListView->Show();
    FiltersListView->SetFocus();
    MainForm.SetControlButtons(true, true, true, true, false, false, false);
    MainForm.tiUpdateCountOfFilters.Start();
}

void TFiltersPage::AddButtonClick()
{
    if (CurrentPage != pgFilters) return;
    TEditItemForm dialog(*FiltersListView);
    dialog.SetCaption(LanguageText(134));
    dialog.Tag = TEditItemForm::modeNew;
    dialog.FileNameEdit->SetText(L"");
    dialog.DescriptionEdit->SetText(L"");
    dialog.ShowModal();
    EditorClosed();
}

void TFiltersPage::FiltersListViewDblClick()
{
    const int row = FiltersListView->SelectedIndex();
    if (row < 0) return;
    const forms::ListView::Row filter = FiltersListView->GetRow(row);
    TEditItemForm dialog(*FiltersListView);
    dialog.SetCaption(LanguageText(149));
    dialog.Tag = TEditItemForm::modeEdit;
    dialog.FileNameEdit->SetText(filter.subItems.at(colFilterName - 1));
    dialog.DescriptionEdit->SetText(filter.subItems.at(colDescription - 1));
    (filter.image == fkInclusive ? dialog.IncludeRadioButton : dialog.ExcludeRadioButton)->SetChecked(true);
    dialog.SaveButton->SetEnabled(false);
    dialog.ShowModal();
    EditorClosed();
}

void TFiltersPage::EditorClosed()
{
    // The editor's changes came while it disabled this window, when the list's
    // events do not count; the window is enabled again now.
    FiltersListViewInsert();
}

void TFiltersPage::DeleteButtonClick()
{
    const int row = FiltersListView->SelectedIndex();
    if (row >= 0) FiltersListView->DeleteItem(row);
}

void TFiltersPage::CheckAll(bool checked)
{
    for (int row = 0; row < FiltersListView->Count(); ++row) FiltersListView->SetChecked(row, checked);
}

void TFiltersPage::CheckAllButtonClick() { CheckAll(true); }
void TFiltersPage::RemoveAllButtonClick() { CheckAll(false); }

void TFiltersPage::FiltersListViewPopupMenuPopup()
{
    const bool selected = FiltersListView->SelectedIndex() >= 0;
    EditaFilterMenuItem->Enabled = selected;
    RemoveFilterMenuItem->Enabled = selected;
}

void TFiltersPage::ResetListMenuItemClick()
{
    if (ShowMessageBox(MainForm.Handle(), LanguageText(105), LanguageText(145),
                       MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) != IDYES)
        return;
    FiltersListView->Clear();
    AddFilters(LoadInclusiveFiles(true), fkInclusive);
    AddFilters(LoadExclusiveFiles(true), fkExclusive);
    FitColumns();
}

void TFiltersPage::FiltersListViewInsert()
{
    if (::IsWindowEnabled(MainForm.Handle()) && CurrentPage == pgFilters) MainForm.tiUpdateCountOfFilters.Start();
}

void TFiltersPage::TiUpdateCountOfFiltersTimer()
{
    MainForm.tiUpdateCountOfFilters.Stop();
    if (CurrentPage != pgFilters) return;
    int include = 0, includeChecked = 0, exclude = 0, excludeChecked = 0;
    for (int row = 0; row < FiltersListView->Count(); ++row) {
        const int image = FiltersListView->ImageIndex(row);
        const bool checked = FiltersListView->Checked(row);
        if (image == fkInclusive) {
            ++include;
            includeChecked += checked ? 1 : 0;
        } else if (image == fkExclusive) {
            ++exclude;
            excludeChecked += checked ? 1 : 0;
        }
    }
    MainForm.IndexLabel->SetText(
        Format(LanguageText(248), {LanguageText(126), include, includeChecked, exclude, excludeChecked}));
}

void TFiltersPage::FiltersListViewColumnClick(int column)
{
    MainForm.SortColumn = column;
    FiltersListView->Sort(
        [this](const forms::ListView::Row& a, const forms::ListView::Row& b) { return FiltersListViewCompare(a, b); });
    if (MainForm.SortColumn > 0) {
        for (int other = colFilterName; other < FiltersListView->ColumnCount(); ++other)
            if (other != column) FiltersListView->SetColumnImage(other, -1);
        FiltersListView->SetColumnImage(column, FiltersListView->ColumnImage(column) == iiSortDown ? iiSortUp : iiSortDown);
    }
    MainForm.SortDescending = !MainForm.SortDescending;
}

int TFiltersPage::FiltersListViewCompare(const forms::ListView::Row& a, const forms::ListView::Row& b) const
{
    int result = 0;
    const int column = MainForm.SortColumn;
    if (column == colCheck) {
        result = static_cast<int>(a.checked) - static_cast<int>(b.checked);
    } else {
        const std::size_t index = static_cast<std::size_t>(column - 1);
        const std::wstring left = index < a.subItems.size() ? UpperCase(a.subItems[index]) : std::wstring();
        const std::wstring right = index < b.subItems.size() ? UpperCase(b.subItems[index]) : std::wstring();
        result = left.compare(right);
    }
    result = result < 0 ? -1 : result > 0 ? 1 : 0;
    return MainForm.SortDescending ? -result : result;
}

void TFiltersPage::AddFilters(const std::vector<TFilterEntry>& filters, int image)
{
    for (const TFilterEntry& filter : filters)
        FiltersListView->AddItem(L"", {filter.mask, MaskExtension(filter.mask), filter.description}, image,
                                 filter.checked);
}

void TFiltersPage::FitColumns()
{
    FiltersListView->SetColumnWidth(colFilterName, LVSCW_AUTOSIZE_USEHEADER);
    FiltersListView->SetColumnWidth(colType, LVSCW_AUTOSIZE_USEHEADER);
    Arrange(Host.Width(), Host.Height());
}

void TFiltersPage::LoadSettings(const TSettings& settings)
{
    FiltersListView->Clear();
    AddFilters(settings.InclusiveFiles, fkInclusive);
    AddFilters(settings.ExclusiveFiles, fkExclusive);
    FitColumns();
}

void TFiltersPage::StoreSettings(TSettings& settings) const
{
    settings.InclusiveFiles.clear();
    settings.ExclusiveFiles.clear();
    for (int row = 0; row < FiltersListView->Count(); ++row) {
        const forms::ListView::Row filter = FiltersListView->GetRow(row);
        TFilterEntry entry{filter.checked, filter.subItems.at(colFilterName - 1), filter.subItems.at(colDescription - 1)};
        if (filter.image == fkInclusive) settings.InclusiveFiles.push_back(std::move(entry));
        if (filter.image == fkExclusive) settings.ExclusiveFiles.push_back(std::move(entry));
    }
}

} // namespace kv
