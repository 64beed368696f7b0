#pragma once
// The Path page of the main window: the fixed drives at the top of the list,
// then the user's folders to scan, to leave out and to empty, each row's kind
// kept as its image (PathKind).
#include "cleaner/windows/MainUnit.h"
#include "platform/forms/Controls.h"
#include "platform/forms/Menus.h"

namespace kv {

class TPathPage : public TMainFormPage {
public:
    enum ControlId : int { idPathListView = PageControlIds(pgPath) };
    enum Column : int { colPath, colVolumeName, colCapacity, colFreeSpace };

    TPathPage(TMainForm& mainForm, forms::Panel& host);

    forms::ListView* PathListView;
    forms::PopupMenu SelectFolderPopupMenu;
    forms::MenuItem* InclusionFolderMenuItem;
    forms::MenuItem* ExclusionFolderMenuItem;
    forms::MenuItem* EmptyFolderMenuItem;

    forms::WinControl* PageList() override { return PathListView; }
    void Arrange(int width, int height) override;
    void Enter() override;
    void AddButtonMouseDown(int screenX, int screenY) override;
    void DeleteButtonClick() override;
    void CheckAllButtonClick() override;
    void RemoveAllButtonClick() override;
    int AddHintEntry() const override { return 132; }
    int DeleteHintEntry() const override { return 133; }
    void LoadSettings(const TSettings& settings) override;
    void StoreSettings(TSettings& settings) const override;

    // Volume label, capacity and free space of each drive row.
    void RefreshDriveDetails();
    void PathListViewDblClick();
    void InclusionFolderMenuItemClick();
    void ExclusionFolderMenuItemClick();
    void EmptyFolderMenuItemClick();

private:
    // A new folder of the kind the menu entry names: 0 include, 1 exclude, 2 empty.
    void AddFolder(int action);
    void CheckAll(bool checked);
};

} // namespace kv
