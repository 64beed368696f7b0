#pragma once
// TMainForm: the cleaner's one main window. The frame (own title bar, page
// buttons, control panel, status lines, menus, start-up and closing) lives
// here; each page keeps its controls and handlers in a unit of its own
// (TMainFormPage), placed on a page panel of MainPanel that the frame shows when
// the page is entered.
#include <windows.h>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cleaner/engine/CleanTargets.h"
#include "cleaner/engine/SettingsStore.h"
#include "cleaner/engine/SharedState.h"
#include "cleaner/windows/BmpButtons.h"
#include "cleaner/windows/CaptionButton.h"
#include "cleaner/windows/HTTPUnit.h"
#include "cleaner/windows/LangDataUnit.h"
#include "platform/forms/Dialogs.h"
#include "platform/forms/Form.h"
#include "platform/forms/Menus.h"
#include "platform/forms/Timer.h"

namespace kv {

class TMainForm;
class TAboutPage;
class TPathPage;
class TFiltersPage;
class TScanPage;
class TCleanPage;
class TProgressForm;
class TfrmGuide;

inline constexpr int MainPageCount = 5;

// One page of the main window. The frame owns the page, its panel and its
// page button; the page builds its controls onto its panel (ids from
// PageControlIds(page) on) and answers the control-panel commands while it
// is the current page.
class TMainFormPage {
public:
    TMainFormPage(TMainForm& mainForm, forms::Panel& host) : MainForm(mainForm), Host(host) {}
    virtual ~TMainFormPage() = default;
    TMainFormPage(const TMainFormPage&) = delete;
    TMainFormPage& operator=(const TMainFormPage&) = delete;

    // The page's list; it fills the panel unless Arrange says otherwise.
    virtual forms::WinControl* PageList() { return nullptr; }
    virtual void Arrange(int width, int height);

    // The page's own part of its entry handler. The frame has already set
    // CurrentPage, shown the panel and the page's menu caption; it then
    // updates the Add and Delete hints and the page buttons.
    virtual void Enter() {}

    // The control-panel commands while this page is shown.
    virtual void AddButtonMouseDown(int screenX, int screenY) {}
    virtual void AddButtonClick() {}
    virtual void DeleteButtonClick() {}
    virtual void CheckAllButtonClick() {}
    virtual void RemoveAllButtonClick() {}
    // Language entries of the Add and Delete hints on this page.
    virtual int AddHintEntry() const { return 120; }
    virtual int DeleteHintEntry() const { return 121; }

    // The page's share of the settings: into its controls after loading,
    // back into the model before saving. What a page does not show passes
    // through the model unchanged.
    virtual void LoadSettings(const TSettings& settings) {}
    virtual void StoreSettings(TSettings& settings) const {}
    // The clean method of the settings model changed (a dialog chose another).
    virtual void CleanMethodChanged(const TSettings& settings) {}

protected:
    // A list of the page on its panel, with the window's row pictures.
    forms::ListView& AddPageList(int id, const wchar_t* name, bool checkBoxes, bool multiSelect = false,
                                 forms::RowStore store = forms::RowStore::System);
    // Gives `column` what the list's other columns leave of `width` (at least
    // `minWidth`), so no row needs scrolling sideways.
    static void FillColumn(forms::ListView& list, int column, int width, int minWidth);

    TMainForm& MainForm;
    forms::Panel& Host;
};

// The first control id of a page's own controls.
constexpr int PageControlIds(int page) { return 200 + 100 * page; }

class TMainForm : public forms::Form, public MainWindowLanguageTarget, public IUpdateCheckView {
public:
    enum ControlId : int {
        idTitleBarPanel = 1,
        idTitleBarBack0,
        idTitleBarBack1,
        idTitleBarBack2,
        idTitleBarBack3,
        idAppNameLabel,
        idMenuCaptionPanel,
        idMenuCaptionLabel,
        idSysButtonsPanel,
        idMinimizeButton,
        idMaximizeButton,
        idRestoreButton,
        idExitButton,
        idTitlePanel = 20,
        idLogoImage,
        idTitleBarTile1,
        idTitleBarTile2,
        idOptionsButton,
        idIndexPanel,
        idIndexLabel,
        idStatusPanel = 30,
        idHintLabel,
        idHelpButton,
        idRegInfoPanel,
        idRegInfoLabel,
        idButtonsPanel = 40,
        idAboutButton, // then Path, Filters, Scan, Clean: idAboutButton + page
        idPathButton,
        idFiltersButton,
        idScanButton,
        idCleanButton,
        idGreenBar,
        idMainPanel = 60,
        idControlPanel,
        idAddButton,
        idDeleteButton,
        idCheckAllButton,
        idRemoveAllButton,
        idStartButton,
        idStopButton,
        idCleanNowButton,
        idPagePanel = 70, // idPagePanel + page
    };

    static constexpr int kMinWidth = 640;
    static constexpr int kMinHeight = 480;

    TMainForm();
    ~TMainForm() override;

    // ---- Components
    forms::Panel* TitleBarPanel;
    forms::PaintBox* TitleBarBack0;
    forms::PaintBox* TitleBarBack1;
    forms::PaintBox* TitleBarBack2;
    forms::PaintBox* TitleBarBack3;
    forms::Label* AppNameLabel;
    forms::Panel* MenuCaptionPanel;
    forms::Label* MenuCaptionLabel;
    forms::Panel* SysButtonsPanel;
    TBmpButton* MinimizeButton;
    TBmpButton* MaximizeButton;
    TBmpButton* RestoreButton;
    TBmpButton* ExitButton;
    forms::Panel* TitlePanel;
    forms::Image* LogoImage;
    forms::Image* TitleBarTile1;
    forms::Image* TitleBarTile2;
    TBmpButton* OptionsButton;
    forms::Panel* IndexPanel;
    forms::Label* IndexLabel;
    forms::Panel* StatusPanel;
    forms::Label* HintLabel;
    TBmpButton* HelpButton;
    forms::Panel* RegInfoPanel;
    forms::Label* RegInfoLabel;
    forms::Panel* ButtonsPanel;
    TCaptionButton* AboutButton;
    TCaptionButton* PathButton;
    TCaptionButton* FiltersButton;
    TCaptionButton* ScanButton;
    TCaptionButton* CleanButton;
    forms::Image* GreenBar;
    forms::Panel* MainPanel;
    forms::Panel* ControlPanel;
    TBmpButton* AddButton;
    TBmpButton* DeleteButton;
    TBmpButton* CheckAllButton;
    TBmpButton* RemoveAllButton;
    TCaptionButton* StartButton;
    TCaptionButton* StopButton;
    TCaptionButton* CleanNowButton;

    forms::ImageList IconsImageList;
    forms::Timer FlashTimer{200};
    forms::Timer JobTimer{1000};
    forms::Timer tiUpdateCountOfFilters{100};
    // Shared by several commands, which set their extension and filter before use.
    forms::FileDialog SaveDialog{forms::FileDialog::Kind::Save};
    forms::FileDialog OpenDialog{forms::FileDialog::Kind::Open};

    forms::PopupMenu OptionsPopupMenu;
    forms::MenuItem* OptionsCookiesManagerMenuItem;
    forms::MenuItem* OptionsFilterMenuItem;
    forms::MenuItem* OptionsFindBrokenLinkFilesMenuItem;
    forms::MenuItem* OptionsFindEmptyFolderMenuItem;
    forms::MenuItem* OptionsSkipReadOnlyAndSystemFilesMenuItem;
    forms::MenuItem* OptionsFileRemovalMenuItem;
    forms::MenuItem* OptionsRecycleBinMenuItem;
    forms::MenuItem* OptionsSpecificFolderMenuItem;
    forms::MenuItem* RestorefilesfromSpecificFolder;
    forms::MenuItem* OptionsDeletePermanentlyMenuItem;
    forms::MenuItem* OptionsLanguageMenuItem;
    forms::MenuItem* OptionsExportSettingMenuItem;
    forms::MenuItem* OptionsImportSettingMenuItem;
    forms::MenuItem* OptionsCreateJobFileMenuItem;
    forms::PopupMenu HelpPopupMenu;
    forms::MenuItem* ContentsMenuItem;
    forms::MenuItem* VisitHomepageMenuItem;
    forms::MenuItem* ShowBalloonTipsMenuItem;
    forms::MenuItem* CheckForUpdatesMenuItem;

    // ---- Window state
    bool Maximized = false;
    bool FirstActivate = false;
    int DriveCount = 0;
    bool IsWindowsNT = true;
    std::wstring OSVersionText;
    // Last clicked column of a sortable list and the direction of the next sort.
    int SortColumn = 0;
    bool SortDescending = false;
    // Every location FormCreate found (the clean targets' share is also published).
    TTargetLocations Locations;
    // The settings as loaded; CollectSettings adds what the controls hold now.
    TSettings Settings;

    // ---- Pages
    // The Scan page (the one the window opens on) and the Clean page (whose
    // commands the control panel and the Options menu carry) are made with
    // the window; the others when first entered or asked for, with their
    // language texts, rows and settings as the window's start gives them.
    TMainFormPage& Page(int page);
    bool PageMade(int page) const { return pages_.at(static_cast<std::size_t>(page)) != nullptr; }
    forms::Panel& PagePanel(int page) const { return Get<forms::Panel>(idPagePanel + page); }
    TCaptionButton& PageButton(int page) const { return Get<TCaptionButton>(idAboutButton + page); }
    TAboutPage& AboutPage();
    TPathPage& PathPage();
    TFiltersPage& FiltersPage();
    TScanPage& ScanPage();
    TCleanPage& CleanPage();

    // The windows made beside this one at start-up (set by the start-up steps).
    TProgressForm* ProgressForm = nullptr;
    TfrmGuide* frmGuide = nullptr;

    // ---- Operations other units use
    void SetControlButtons(bool add, bool del, bool checkAll, bool removeAll, bool start, bool stop, bool cleanNow);
    void EnableNavigation(bool enabled);
    void SetMenuCaption(const std::wstring& pageName);
    void EnablePageButtons();
    void UpdateAddDeleteHints();
    void AboutButtonClick();
    void PathButtonClick();
    void FiltersButtonClick();
    void ScanButtonClick();
    void CleanButtonClick();
    // Menus whose items take texts from the language table by name.
    void RegisterMenu(forms::PopupMenu& menu);
    forms::MenuItem* FindMenuItem(const std::wstring& name) const;
    // The settings model with the state of the controls.
    TSettings CollectSettings() const;
    // Pumps messages until every worker thread has ended.
    static void WaitForWorkers();

    // The clean method's marks and texts follow Settings.CleanMethod (the
    // Clean page shows them).
    void UpdateCleanMethodDisplay();

    // ---- MainWindowLanguageTarget
    void SetLanguageText(const LanguageBinding& binding, const std::wstring& text) override;
    void RefreshCurrentPage() override;

    // ---- IUpdateCheckView
    void SetCheckForUpdatesEnabled(bool enabled) override;
    void ShowStatus(const std::wstring& text) override;
    void ShowStatusMessage(const std::wstring& text) override;
    bool AskYesNo(const std::wstring& text, const std::wstring& caption) override;
    void OpenDownloadPage(const std::wstring& address) override;
    std::wstring Text(int index) override;

    // ---- Event handlers
    void FormCreate();
    void FormActivate();
    void FormResize();
    void FormCloseQuery(bool& canClose);
    void FormDestroy();
    void BuildDriveList();
    void DisplayHint(const std::wstring& longHint);
    void TitleBarPanelMouseDown();
    void TitleBarPanelDblClick();
    void TitleBarBack0Paint(HDC dc, const RECT& area);
    void TitleBarBack1Paint(HDC dc, const RECT& area);
    void MinimizeButtonClick();
    void MaximizeButtonClick();
    void RestoreButtonClick();
    void ExitButtonClick();
    void PageButtonMouseEnter(int page);
    void OptionsButtonMouseUp(forms::MouseButton button);
    void HelpButtonMouseUp(forms::MouseButton button);
    void AddButtonClick();
    void AddButtonMouseDown(forms::MouseButton button, int x, int y);
    void DeleteButtonClick();
    void CheckAllButtonClick();
    void RemoveAllButtonClick();
    void ContentsMenuItemClick();
    void VisitHomepageMenuItemClick();
    void ShowBalloonTipsMenuItemClick();
    void HelpPopupMenuPopup();
    void CheckForUpdatesMenuItemClick();
    void OptionsLanguageMenuItemClick();
    void OptionsCookiesManagerMenuItemClick();
    void OptionsCreateJobFileMenuItemClick();
    void RestorefilesfromSpecificFolderClick();
    void OptionsExportSettingMenuItemClick();
    void OptionsImportSettingMenuItemClick();
    void JobTimerTimer();

    // What a job run did and left alone: the progress lines of Clean Now and
    // every skipped entry of the scan and the clean. A job writes it to
    // ProgramFolder + JobLogFileName when it ends, so that a hidden run too
    // shows what it skipped.
    static constexpr wchar_t JobLogFileName[] = L"Kestrelvane.log";
    std::vector<std::wstring> JobLog;
    void WriteJobLog() const;

    // The product's home page (Help menu) and the About page's addresses.
    static constexpr wchar_t HomePageAddress[] = L"https://www.orbelune.com/kestrelvane/";
    static constexpr wchar_t SupportAddress[] = L"support@orbelune.com";

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void BuildFrame();
    void CreatePages();
    void BuildMenus();
    void ConnectEvents();
    static forms::FormStyle CreateParams(forms::FormStyle style);
    void ArrangeFrame();
    void ArrangePages();
    void ArrangePage(int page);
    void ReleasePageList(int page);
    void FitControlPanel();
    void EnterPage(int page);
    std::unique_ptr<TMainFormPage> NewPage(int page);
    void MakePage(int page);
    // Which bindings of the window's language table find their control or
    // menu item now; a page made later takes the texts of those it brought.
    std::vector<bool> LanguageBindingsFound() const;
    void FillDriveList();
    void LoadSettingsIntoControls();
    void LocateTargets();
    void StartJob();
    void WMGetMinMaxInfo(MINMAXINFO& info);
    void WMSize(WPARAM kind);
    void TileTitleBar(HDC dc, const RECT& area, const forms::Bitmap& tile, int offsetY) const;

    std::array<std::unique_ptr<TMainFormPage>, MainPageCount> pages_;
    std::vector<wchar_t> fixedDrives_;                 // the drive list's letters
    std::wstring programVersion_;                      // for the About page, once read
    std::vector<forms::PopupMenu*> menus_;
    forms::Bitmap titleBack_;
    bool created_ = false;
    int controlWidth_ = 120;
    SIZE pageArea_{};                                  // each page panel's size
    std::array<bool, MainPageCount> pageArranged_{};   // laid out for pageArea_
    std::array<bool, MainPageCount> pageListHeld_{};   // its list's redraw still off since it was built
};

} // namespace kv
