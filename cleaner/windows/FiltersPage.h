#pragma once
// The Filters page of the main window: the file masks a scan looks for
// (include filters, image 3) and the masks it leaves alone (exclude filters,
// image 13), with their counts in the status line.
#include "cleaner/windows/MainUnit.h"
#include "platform/forms/Controls.h"
#include "platform/forms/Menus.h"

namespace kv {

class TFiltersPage : public TMainFormPage {
public:
    enum ControlId : int { idFiltersListView = PageControlIds(pgFilters) };
    enum Column : int { colCheck, colFilterName, colType, colDescription };

    TFiltersPage(TMainForm& mainForm, forms::Panel& host);

    forms::ListView* FiltersListView;
    forms::PopupMenu FiltersListViewPopupMenu;
    forms::MenuItem* EditaFilterMenuItem;
    forms::MenuItem* AddFilterMenuItem;
    forms::MenuItem* RemoveFilterMenuItem;
    forms::MenuItem* ResetListMenuItem;
    forms::MenuItem* CheckAllMenuItem;
    forms::MenuItem* RemoveAllMenuItem;

    forms::WinControl* PageList() override { return FiltersListView; }
    void Arrange(int width, int height) override;
    void Enter() override;
    void AddButtonClick() override;
    void DeleteButtonClick() override;
    void CheckAllButtonClick() override;
    void RemoveAllButtonClick() override;
    int AddHintEntry() const override { return 134; }
    int DeleteHintEntry() const override { return 135; }
    void LoadSettings(const TSettings& settings) override;
    void StoreSettings(TSettings& settings) const override;

    void FiltersListViewDblClick();
    void FiltersListViewInsert();
    void FiltersListViewColumnClick(int column);
    int FiltersListViewCompare(const forms::ListView::Row& a, const forms::ListView::Row& b) const;
    void FiltersListViewPopupMenuPopup();
    void ResetListMenuItemClick();
    void TiUpdateCountOfFiltersTimer();

private:
    void AddFilters(const std::vector<TFilterEntry>& filters, int image);
    void FitColumns();
    void CheckAll(bool checked);
    // The counts follow what the filter editor changed.
    void EditorClosed();
};

} // namespace kv
