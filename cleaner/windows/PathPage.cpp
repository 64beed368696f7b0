#include "cleaner/windows/PathPage.h"

#include <algorithm>

#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/windows/AddFolderUnit.h"

namespace kv {
namespace {

// Which stored list a folder row belongs to, by its kind.
bool ListOfKind(int kind, TFolderList& list)
{
    switch (kind) {
    case pkIncludeFolder:
    case pkIncludeWithSubFolders:
        list = flInclusive;
        return true;
    case pkExcludeFolder:
    case pkExcludeWithSubFolders:
        list = flExclusive;
        return true;
    case pkEmptyFolder:
    case pkEmptyWithSubFolders:
        list = flEmpty;
        return true;
    default:
        return false;
    }
}

} // namespace

TPathPage::TPathPage(TMainForm& mainForm, forms::Panel& host) : TMainFormPage(mainForm, host)
{
    PathListView = &AddPageList(idPathListView, L"PathListView", true);
    PathListView->AddColumn(L"Path", 220);
    PathListView->AddColumn(L"Volumn Name", 100);
    PathListView->AddColumn(L"Capacity", 84, LVCFMT_RIGHT);
    PathListView->AddColumn(L"Free Space", 84, LVCFMT_RIGHT);
    PathListView->OnDblClick = [this] { PathListViewDblClick(); };

    InclusionFolderMenuItem = &SelectFolderPopupMenu.Add(L"InclusionFolderMenuItem", L"Add a folder that will be scanned");
    ExclusionFolderMenuItem =
        &SelectFolderPopupMenu.Add(L"ExclusionFolderMenuItem", L"Add a folder that will NOT be scanned");
    EmptyFolderMenuItem =
        &SelectFolderPopupMenu.Add(L"EmptyFolderMenuItem", L"Add a folder that will be emptied every time");
    InclusionFolderMenuItem->OnClick = [this] { InclusionFolderMenuItemClick(); };
    ExclusionFolderMenuItem->OnClick = [this] { ExclusionFolderMenuItemClick(); };
    EmptyFolderMenuItem->OnClick = [this] { EmptyFolderMenuItemClick(); };
    mainForm.RegisterMenu(SelectFolderPopupMenu);
}

void TPathPage::Arrange(int width, int height)
{
    TMainFormPage::Arrange(width, height);
    FillColumn(*PathListView, colPath, width, 160);
}

void TPathPage::Enter()
{
    if (!(MainForm.OSVersionText == L"40" && !MainForm.IsWindowsNT)) RefreshDriveDetails();
    PathListView->Show();
    PathListView->SetFocus();
    MainForm.SetControlButtons(true, true, true, true, false, false, false);
    MainForm.IndexLabel->SetText(MainForm.PathButton->Hint());
}

void TPathPage::RefreshDriveDetails()
{
    const int drives = std::min(MainForm.DriveCount, PathListView->Count());
    for (int row = 0; row < drives; ++row) {
        const std::wstring root = PathListView->Caption(row) + L"\\";
        PathListView->SetSubItem(row, colVolumeName - 1, GetVolumeLabel(root));
        PathListView->SetSubItem(row, colCapacity - 1, FormatDiskSpace(root, 0));
        PathListView->SetSubItem(row, colFreeSpace - 1, FormatDiskSpace(root, 1));
    }
}

void TPathPage::AddButtonMouseDown(int screenX, int screenY)
{
    SelectFolderPopupMenu.Popup(screenX, screenY, MainForm.Handle());
}

void TPathPage::InclusionFolderMenuItemClick() { AddFolder(0); }
void TPathPage::ExclusionFolderMenuItemClick() { AddFolder(1); }
void TPathPage::EmptyFolderMenuItemClick() { AddFolder(2); }

void TPathPage::AddFolder(int action)
{
    TAddFolderForm dialog(*PathListView);
    forms::RadioButton* choices[] = {dialog.IncludeRadioButton, dialog.ExcludeRadioButton, dialog.EmptyRadioButton};
    choices[action]->SetChecked(true);
    dialog.Tag = TAddFolderForm::modeNew;
    dialog.ShowModal();
}

void TPathPage::PathListViewDblClick()
{
    const int row = PathListView->SelectedIndex();
    if (row < 0) return;
    const int kind = PathListView->ImageIndex(row);
    if (kind == pkDrive) return;
    TAddFolderForm dialog(*PathListView);
    dialog.FolderEdit->SetText(PathListView->Caption(row));
    dialog.ShowPathKind(static_cast<PathKind>(kind));
    dialog.Tag = TAddFolderForm::modeEdit;
    dialog.ShowModal();
}

void TPathPage::DeleteButtonClick()
{
    const int row = PathListView->SelectedIndex();
    // Drive rows stay: they are the machine's drives, not the user's entries.
    if (row >= MainForm.DriveCount) PathListView->DeleteItem(row);
}

void TPathPage::CheckAll(bool checked)
{
    for (int row = 0; row < PathListView->Count(); ++row) PathListView->SetChecked(row, checked);
}

void TPathPage::CheckAllButtonClick() { CheckAll(true); }
void TPathPage::RemoveAllButtonClick() { CheckAll(false); }

void TPathPage::LoadSettings(const TSettings& settings)
{
    for (const auto* folders : {&settings.InclusiveFolders, &settings.ExclusiveFolders, &settings.EmptyFolders})
        for (const TFolderEntry& folder : *folders)
            // A row whose stored code named no kind could not be saved again.
            if (folder.kind != pkNone) PathListView->AddItem(folder.path, {}, folder.kind, folder.checked);
}

void TPathPage::StoreSettings(TSettings& settings) const
{
    settings.ScanDrives.clear();
    settings.InclusiveFolders.clear();
    settings.ExclusiveFolders.clear();
    settings.EmptyFolders.clear();
    std::vector<TFolderEntry>* lists[] = {&settings.InclusiveFolders, &settings.ExclusiveFolders, &settings.EmptyFolders};
    for (int row = 0; row < PathListView->Count(); ++row) {
        const int kind = PathListView->ImageIndex(row);
        const bool checked = PathListView->Checked(row);
        TFolderList list{};
        if (row < MainForm.DriveCount && kind == pkDrive)
            settings.ScanDrives.push_back({PathListView->Caption(row), checked});
        else if (ListOfKind(kind, list))
            lists[list]->push_back({PathListView->Caption(row), static_cast<PathKind>(kind), checked});
    }
}

} // namespace kv
