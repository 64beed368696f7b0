#pragma once
// The Clean page of the main window: the 13 fixed clean targets with their
// sizes (measured by the size threads) and their row menus, the clean
// method's display, and Clean Now, which hands a snapshot of the page to the
// Clean Now engine and shows its steps in the progress window.
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "cleaner/engine/GetFolderSizeUnit.h"
#include "cleaner/engine/JunkCleaner.h"
#include "cleaner/windows/MainUnit.h"
#include "platform/forms/Controls.h"
#include "platform/forms/Menus.h"

namespace kv {

class TCleanPage : public TMainFormPage, public TCleanPageView, public TCleanNowView {
public:
    enum ControlId : int { idCleanListView = PageControlIds(pgClean) };
    enum Column : int { colCleanOptions, colSize, colPopUpMenu };
    // The check-box area at the left of a row.
    static constexpr int kCheckBoxWidth = 16;
    // The size column of the rows that are never measured.
    static constexpr wchar_t kNotMeasured[] = L"N / A";

    TCleanPage(TMainForm& mainForm, forms::Panel& host);
    ~TCleanPage() override;

    forms::ListView* CleanListView;

    forms::PopupMenu CleanPanelCleanMethodPopupMenu;
    forms::MenuItem* RecycleBinMenuItem;
    forms::MenuItem* SpecificFolderMenuItem;
    forms::MenuItem* DeletePermanentlyMenuItem;
    forms::PopupMenu CleanSubFolderPopupMenu;
    forms::MenuItem* AlsoCleanSubFolderMenuItem;
    forms::MenuItem* OpenTempFoldersMenuItem;
    forms::PopupMenu CookiesPopupMenu;
    forms::MenuItem* CookiesManagerMenuItem;
    forms::PopupMenu CleanPanelRegistryProgramPopupMenu;
    forms::MenuItem* RegistryProgramCheckAllMenuItem;
    forms::MenuItem* RegistryProgramRemoveAllMenuItem;
    forms::PopupMenu CleanPanelRegistryTracksPopupMenu;
    forms::MenuItem* CleanRegistryTracksCheckAllMenuItem;
    forms::MenuItem* CleanRegistryTracksRemoveAllMenuItem;
    // The checkable entries of the two registry menus, in the order of the
    // settings' name tables (ProgramHistoryNames, TracksNames).
    std::array<forms::MenuItem*, ProgramHistoryCount> ProgramHistoryItems{};
    std::array<forms::MenuItem*, TracksCount> TracksItems{};

    // ---- TMainFormPage
    forms::WinControl* PageList() override { return CleanListView; }
    void Arrange(int width, int height) override;
    void Enter() override;
    void CheckAllButtonClick() override;
    void RemoveAllButtonClick() override;
    void LoadSettings(const TSettings& settings) override;
    void StoreSettings(TSettings& settings) const override;
    void CleanMethodChanged(const TSettings& settings) override { UpdateCleanMethodDisplay(); }

    // ---- TCleanPageView (the size threads and the total)
    void SetTargetSizeText(TCleanTarget row, const std::wstring& text) override;
    bool IsTargetChecked(TCleanTarget row) const override;
    TCleanMethod CleanMethod() const override;
    bool CleanPageShown() const override { return CurrentPage == pgClean; }
    void ShowCleanTotal(std::int64_t total) override;

    // ---- TCleanNowView (Clean Now's window side)
    std::wstring LanguageText(int index) override;
    void CleanNowStarted() override;
    void ShowProgressText(const std::wstring& text) override;
    void AddProgressLine(int step, int stepTotal, const std::wstring& text) override;
    bool ConfirmPermanentDelete() override;
    std::optional<TBackupLocation> CorrectBackupFolder(const std::wstring& folder) override;
    void RemoveCleanedItems() override;
    void AddSkippedLine(const std::wstring& text) override;
    void CleanNowFinished(const std::wstring& doneText) override;

    // ---- The page's own operations
    void RefreshCleanSizes();
    void UpdateTracksRows();
    void UpdateCleanMethodDisplay();
    // Clean Now as the page stands now.
    TCleanNowRequest CleanNowRequest() const;

    // ---- Event handlers
    void CleanNowButtonClick();
    void CleanListViewMouseDown(forms::MouseButton button, int x, int y);
    void CleanButtonMouseUp(forms::MouseButton button);
    void CleanListViewDblClick();
    void CleanListViewItemChecked(int row);
    void RecycleBinMenuItemClick();
    void SpecificFolderMenuItemClick();
    void DeletePermanentlyMenuItemClick();
    void RegistryProgramCheckAllMenuItemClick() { CheckMenuEntries(CleanPanelRegistryProgramPopupMenu, true); }
    void RegistryProgramRemoveAllMenuItemClick() { CheckMenuEntries(CleanPanelRegistryProgramPopupMenu, false); }
    void CleanRegistryTracksCheckAllMenuItemClick() { CheckMenuEntries(CleanPanelRegistryTracksPopupMenu, true); }
    void CleanRegistryTracksRemoveAllMenuItemClick() { CheckMenuEntries(CleanPanelRegistryTracksPopupMenu, false); }
    void RecentItemsfromRunMenuItemClick();
    void OpenTempFoldersMenuItemClick();
    void CookiesManagerMenuItemClick();

private:
    void BuildRows();
    void BuildMenus();
    void ConnectEvents();
    // Checks or clears a registry menu's checkable entries (separators stay
    // clear) and its row.
    void CheckMenuEntries(forms::PopupMenu& menu, bool checked);
    static bool AnyEntryChecked(const forms::PopupMenu& menu);
    void SetRowChecked(int row, bool checked);
    // The menu a row opens with the right button; nullptr for none.
    forms::PopupMenu* RowMenu(int row);
    int RowAt(int x, int y) const;
    // The scan results, kept by the Scan page; nullptr before it exists.
    forms::ListView* ScanResults() const;
    std::vector<TFolderToEmpty> FoldersToEmpty() const;
    std::vector<std::wstring> CheckedTrackEntries() const;
    void ShowTempFolderWarning();

    // Set while the page itself changes check marks, so that the row-checked
    // handler reacts only to the user.
    bool syncing_ = false;
};

} // namespace kv
