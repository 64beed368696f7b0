#include "cleaner/windows/MainUnit.h"

#include <algorithm>

#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/OwnFiles.h"
#include "cleaner/engine/SettingsFiles.h"
#include "cleaner/windows/AboutPage.h"
#include "cleaner/windows/CleanPage.h"
#include "cleaner/windows/CookiesManagerUnit.h"
#include "cleaner/windows/CreateTaskUnit.h"
#include "cleaner/windows/FiltersPage.h"
#include "cleaner/windows/IconIndexes.h"
#include "cleaner/windows/LanguageUnit.h"
#include "cleaner/windows/PathPage.h"
#include "cleaner/windows/ScanPage.h"
#include "cleaner/windows/SpecifyFolderUnit.h"
#include "platform/Format.h"
#include "platform/Handles.h"
#include "platform/MessageLoop.h"
#include "platform/WorkerThread.h"

namespace kv {
namespace {

constexpr int kDesignedWidth = 780;
constexpr int kDesignedHeight = 540;
constexpr int kTitleBarHeight = 26;
constexpr int kTitlePanelHeight = 56;
constexpr int kStatusHeight = 26;
constexpr int kButtonsWidth = 156;
constexpr int kControlWidth = 120; // at least; wider when a caption needs it
constexpr int kControlInset = 8;    // the wide buttons' distance from the panel's edges
constexpr int kPageMargin = 8;
constexpr int kSysButtonsWidth = 70;

constexpr COLORREF kNavy = RGB(24, 46, 92);
constexpr COLORREF kBody = RGB(240, 243, 248);
constexpr COLORREF kSide = RGB(222, 229, 240);
constexpr COLORREF kPageButtonText = RGB(28, 40, 64);
constexpr COLORREF kMenuCaptionColour = RGB(201, 213, 233);
constexpr COLORREF kRegInfoColour = RGB(150, 170, 205);

// The page title of each page, a language entry.
constexpr int kPageCaptionEntries[MainPageCount] = {140, 20, 142, 143, 144};

// Where the hover marker runs for each page button: from the button down to
// the Clean button, the road still ahead.
struct MarkerPlace {
    int top;
    int height;
};
constexpr MarkerPlace kGreenBarPlaces[MainPageCount] = {{32, 196}, {88, 140}, {128, 100}, {168, 60}, {208, 20}};
constexpr int kPageButtonTops[MainPageCount] = {12, 68, 108, 148, 188};
constexpr int kPageButtonHeight = 40;

const wchar_t* const kPageButtonNames[MainPageCount] = {L"AboutButton", L"PathButton", L"FiltersButton", L"ScanButton",
                                                        L"CleanButton"};
const wchar_t* const kPageButtonPictures[MainPageCount] = {L"PAGEABOUT", L"PAGEPATH", L"PAGEFILTERS", L"PAGESCAN",
                                                           L"PAGECLEAN"};
const wchar_t* const kPagePanelNames[MainPageCount] = {L"AboutPagePanel", L"PathPagePanel", L"FiltersPagePanel",
                                                       L"ScanPagePanel", L"CleanPagePanel"};

forms::FormStyle MainStyle()
{
    forms::FormStyle style;
    style.className = L"TMainForm";
    style.caption = L"Kestrelvane";
    style.clientWidth = kDesignedWidth;
    style.clientHeight = kDesignedHeight;
    style.border = forms::BorderStyle::Sizeable;
    style.position = forms::FormPosition::ScreenCenter;
    style.color = kBody;
    style.showInTaskbar = true;
    return style;
}

std::wstring FileNamePart(const std::wstring& path) { return path.substr(path.find_last_of(L"\\/:") + 1); }

std::wstring WindowsVersionText()
{
    // GetVersionEx answers what the compatibility settings say, which is the
    // version the program's Windows-specific paths must follow.
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    ::GetVersionExW(&info);
#pragma GCC diagnostic pop
    return Format(L"%d%d", {static_cast<int>(info.dwMajorVersion), static_cast<int>(info.dwMinorVersion)});
}

// The system's message for an error code, without its line end.
std::wstring SystemErrorText(DWORD code)
{
    LocalMemory<wchar_t> buffer;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
        reinterpret_cast<wchar_t*>(buffer.Receive()), 0, nullptr);
    std::wstring text(buffer ? buffer.Get() : L"", buffer ? length : 0);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) text.pop_back();
    return text;
}

} // namespace

void TMainFormPage::Arrange(int width, int height)
{
    if (forms::WinControl* list = PageList()) list->SetBounds(0, 0, width, height);
}

forms::ListView& TMainFormPage::AddPageList(int id, const wchar_t* name, bool checkBoxes, bool multiSelect,
                                           forms::RowStore store)
{
    // Built and filled with redraw off: each change to a drawing list moves
    // and repaints it, hundreds of window-server calls under Wine. The frame
    // turns redraw on when the page is first laid out.
    forms::ListView& list = MainForm.Add<forms::ListView>(Host, id, checkBoxes, multiSelect, false, store);
    list.SetName(name);
    list.SetImageList(MainForm.IconsImageList);
    return list;
}

void TMainFormPage::FillColumn(forms::ListView& list, int column, int width, int minWidth)
{
    int others = 0;
    for (int other = 0; other < list.ColumnCount(); ++other)
        if (other != column) others += list.ColumnWidth(other);
    list.SetColumnWidth(column, std::max(minWidth, width - others - ::GetSystemMetrics(SM_CXVSCROLL) - 4));
}

// ---------------------------------------------------------------------------
// Construction

TMainForm::TMainForm() : forms::Form(CreateParams(MainStyle()))
{
    BuildFrame();
    BuildMenus();
    CreatePages();
    ConnectEvents();
    ArrangeFrame();
    FormCreate();
}

TMainForm::~TMainForm()
{
    RunOnDestroy();
    forms::Application& application = forms::Application::Instance();
    application.OnHint = nullptr;
}

forms::FormStyle TMainForm::CreateParams(forms::FormStyle style)
{
    // Our own title bar replaces the system's: no caption, but the sizing
    // frame stays. The window is made so, centred on the work area.
    style.styleRemoved = WS_CAPTION;
    style.styleAdded = WS_POPUP;
    return style;
}

void TMainForm::BuildFrame()
{
    using namespace forms;
    const int W = kDesignedWidth, H = kDesignedHeight;
    Build({
        // Title bar
        {Make<Panel>, L"TitleBarPanel", idTitleBarPanel, 0, 0, 0, W, kTitleBarHeight},
        {Make<PaintBox>, L"TitleBarBack0", idTitleBarBack0, idTitleBarPanel, 0, 0, 8, kTitleBarHeight},
        {Make<PaintBox>, L"TitleBarBack1", idTitleBarBack1, idTitleBarPanel, 8, 0, 220, kTitleBarHeight},
        {Make<PaintBox>, L"TitleBarBack2", idTitleBarBack2, idTitleBarPanel, 228, 0, W - 228 - 76, kTitleBarHeight},
        {Make<PaintBox>, L"TitleBarBack3", idTitleBarBack3, idTitleBarPanel, W - 76, 0, 76, kTitleBarHeight},
        {Make<Label>, L"AppNameLabel", idAppNameLabel, idTitleBarPanel, 12, 6, 200, 16, L"Kestrelvane", nullptr,
         lfTransparent | lfWhiteText | lfBold},
        {Make<Panel>, L"MenuCaptionPanel", idMenuCaptionPanel, idTitleBarPanel, 240, 3, W - 240 - 84, 20},
        {Make<Label>, L"MenuCaptionLabel", idMenuCaptionLabel, idMenuCaptionPanel, 0, 3, W - 240 - 84, 16, nullptr,
         nullptr, lfTransparent | lfAlignCenter},
        {Make<Panel>, L"SysButtonsPanel", idSysButtonsPanel, idTitleBarPanel, W - kSysButtonsWidth - 4, 4,
         kSysButtonsWidth, 18},
        {Make<TBmpButton>, L"MinimizeButton", idMinimizeButton, idSysButtonsPanel, 0, 0, 22, 18, nullptr,
         L"BUTTONMINIMIZE"},
        {Make<TBmpButton>, L"MaximizeButton", idMaximizeButton, idSysButtonsPanel, 24, 0, 22, 18, nullptr,
         L"BUTTONMAXIMIZE"},
        {Make<TBmpButton>, L"RestoreButton", idRestoreButton, idSysButtonsPanel, 24, 0, 22, 18, nullptr,
         L"BUTTONRESTORE", lfHidden},
        {Make<TBmpButton>, L"ExitButton", idExitButton, idSysButtonsPanel, 48, 0, 22, 18, nullptr, L"BUTTONEXIT"},
        // Banner with the logo and the page's status line
        {Make<Panel>, L"TitlePanel", idTitlePanel, 0, 0, kTitleBarHeight, W, kTitlePanelHeight},
        {Make<Image>, L"LogoImage", idLogoImage, idTitlePanel, 14, 4, 48, 48, nullptr, L"LOGO"},
        {Make<Image>, L"TitleBarTile1", idTitleBarTile1, idTitlePanel, 0, 0, 1, kTitleBarHeight, nullptr,
         L"TITLETILE1", lfHidden},
        {Make<Image>, L"TitleBarTile2", idTitleBarTile2, idTitlePanel, 0, 0, 1, kTitleBarHeight, nullptr,
         L"TITLETILE2", lfHidden},
        {Make<TBmpButton>, L"OptionsButton", idOptionsButton, idTitlePanel, W - 38, 16, 24, 24, nullptr,
         L"BUTTONOPTIONS"},
        {Make<Panel>, L"IndexPanel", idIndexPanel, idTitlePanel, 74, 18, W - 74 - 50, 20},
        {Make<Label>, L"IndexLabel", idIndexLabel, idIndexPanel, 0, 2, W - 74 - 50, 16, nullptr, nullptr,
         lfTransparent | lfWhiteText},
        // Status line
        {Make<Panel>, L"StatusPanel", idStatusPanel, 0, 0, H - kStatusHeight, W, kStatusHeight},
        {Make<Label>, L"HintLabel", idHintLabel, idStatusPanel, 10, 6, W - 240, 16, nullptr, nullptr,
         lfTransparent | lfWhiteText},
        {Make<Panel>, L"RegInfoPanel", idRegInfoPanel, idStatusPanel, W - 220, 3, 180, 20},
        {Make<Label>, L"RegInfoLabel", idRegInfoLabel, idRegInfoPanel, 0, 3, 180, 16, nullptr, nullptr,
         lfTransparent | lfAlignRight},
        {Make<TBmpButton>, L"HelpButton", idHelpButton, idStatusPanel, W - 32, 1, 24, 24, nullptr, L"BUTTONHELP"},
        // Page buttons
        {Make<Panel>, L"ButtonsPanel", idButtonsPanel, 0, 0, kTitleBarHeight + kTitlePanelHeight, kButtonsWidth,
         H - kTitleBarHeight - kTitlePanelHeight - kStatusHeight},
        {Make<Image>, L"GreenBar", idGreenBar, idButtonsPanel, 6, kGreenBarPlaces[1].top, 4, kGreenBarPlaces[1].height,
         nullptr, L"GREENBAR", lfStretch},
        // Pages and the control panel
        {Make<Panel>, L"MainPanel", idMainPanel, 0, kButtonsWidth, kTitleBarHeight + kTitlePanelHeight,
         W - kButtonsWidth, H - kTitleBarHeight - kTitlePanelHeight - kStatusHeight},
        {Make<Panel>, L"ControlPanel", idControlPanel, idMainPanel, W - kButtonsWidth - kControlWidth, 0, kControlWidth,
         H - kTitleBarHeight - kTitlePanelHeight - kStatusHeight},
        {Make<TBmpButton>, L"AddButton", idAddButton, idControlPanel, 16, 6, 32, 32, nullptr, L"BUTTONADD"},
        {Make<TBmpButton>, L"DeleteButton", idDeleteButton, idControlPanel, 80, 6, 32, 32, nullptr, L"BUTTONDELETE"},
        {Make<TBmpButton>, L"CheckAllButton", idCheckAllButton, idControlPanel, 16, 42, 32, 32, nullptr,
         L"BUTTONCHECKALL"},
        {Make<TBmpButton>, L"RemoveAllButton", idRemoveAllButton, idControlPanel, 80, 42, 32, 32, nullptr,
         L"BUTTONREMOVEALL"},
        {Make<TCaptionButton>, L"StartButton", idStartButton, idControlPanel, 8, 80, 104, 32, nullptr, L"BUTTONSTART",
         lfWhiteText},
        {Make<TCaptionButton>, L"StopButton", idStopButton, idControlPanel, 8, 116, 104, 32, nullptr, L"BUTTONSTOP",
         lfWhiteText},
        {Make<TCaptionButton>, L"CleanNowButton", idCleanNowButton, idControlPanel, 8, 152, 104, 32, nullptr,
         L"BUTTONCLEAN", lfWhiteText},
    });
    for (int page = 0; page < MainPageCount; ++page) {
        const ControlSpec button{Make<TCaptionButton>, kPageButtonNames[page], idAboutButton + page, idButtonsPanel, 14,
                                 kPageButtonTops[page], 136, kPageButtonHeight, nullptr, kPageButtonPictures[page]};
        // The window opens on the Scan page: its panel is shown (and laid out)
        // while the window is still hidden, where that costs no repainting.
        const ControlSpec panel{Make<Panel>, kPagePanelNames[page], idPagePanel + page, idMainPanel, kPageMargin,
                                kPageMargin, 100, 100, nullptr, nullptr, page == pgScan ? 0u : lfHidden};
        Build(&button, 1);
        Build(&panel, 1);
    }

    TitleBarPanel = &Get<Panel>(idTitleBarPanel);
    TitleBarBack0 = &Get<PaintBox>(idTitleBarBack0);
    TitleBarBack1 = &Get<PaintBox>(idTitleBarBack1);
    TitleBarBack2 = &Get<PaintBox>(idTitleBarBack2);
    TitleBarBack3 = &Get<PaintBox>(idTitleBarBack3);
    AppNameLabel = &Get<Label>(idAppNameLabel);
    MenuCaptionPanel = &Get<Panel>(idMenuCaptionPanel);
    MenuCaptionLabel = &Get<Label>(idMenuCaptionLabel);
    SysButtonsPanel = &Get<Panel>(idSysButtonsPanel);
    MinimizeButton = &Get<TBmpButton>(idMinimizeButton);
    MaximizeButton = &Get<TBmpButton>(idMaximizeButton);
    RestoreButton = &Get<TBmpButton>(idRestoreButton);
    ExitButton = &Get<TBmpButton>(idExitButton);
    TitlePanel = &Get<Panel>(idTitlePanel);
    LogoImage = &Get<Image>(idLogoImage);
    TitleBarTile1 = &Get<Image>(idTitleBarTile1);
    TitleBarTile2 = &Get<Image>(idTitleBarTile2);
    OptionsButton = &Get<TBmpButton>(idOptionsButton);
    IndexPanel = &Get<Panel>(idIndexPanel);
    IndexLabel = &Get<Label>(idIndexLabel);
    StatusPanel = &Get<Panel>(idStatusPanel);
    HintLabel = &Get<Label>(idHintLabel);
    HelpButton = &Get<TBmpButton>(idHelpButton);
    RegInfoPanel = &Get<Panel>(idRegInfoPanel);
    RegInfoLabel = &Get<Label>(idRegInfoLabel);
    ButtonsPanel = &Get<Panel>(idButtonsPanel);
    AboutButton = &PageButton(pgAbout);
    PathButton = &PageButton(pgPath);
    FiltersButton = &PageButton(pgFilters);
    ScanButton = &PageButton(pgScan);
    CleanButton = &PageButton(pgClean);
    GreenBar = &Get<Image>(idGreenBar);
    MainPanel = &Get<Panel>(idMainPanel);
    ControlPanel = &Get<Panel>(idControlPanel);
    AddButton = &Get<TBmpButton>(idAddButton);
    DeleteButton = &Get<TBmpButton>(idDeleteButton);
    CheckAllButton = &Get<TBmpButton>(idCheckAllButton);
    RemoveAllButton = &Get<TBmpButton>(idRemoveAllButton);
    StartButton = &Get<TCaptionButton>(idStartButton);
    StopButton = &Get<TCaptionButton>(idStopButton);
    CleanNowButton = &Get<TCaptionButton>(idCleanNowButton);

    titleBack_ = Bitmap::FromPngResource(L"TITLEBACK");
    IconsImageList.LoadStrip(Bitmap::FromPngResource(L"ICONS"), 16);

    TitleBarPanel->SetColor(kNavy);
    StatusPanel->SetColor(kNavy);
    RegInfoPanel->SetColor(kNavy);
    RegInfoLabel->SetFontColor(kRegInfoColour);
    ButtonsPanel->SetColor(kSide);
    MainPanel->SetColor(kBody);
    ControlPanel->SetColor(kBody);
    for (int page = 0; page < MainPageCount; ++page) {
        TCaptionButton& button = PageButton(page);
        button.CaptionLeft = 44;
        FontSpec font = button.Font();
        font.size = 10;
        font.color = kPageButtonText;
        button.SetFont(font);
        PagePanel(page).SetColor(kBody);
    }
    for (TCaptionButton* button : {StartButton, StopButton, CleanNowButton}) button->CaptionLeft = 32;
}

void TMainForm::BuildMenus()
{
    using forms::MenuItem;
    OptionsCookiesManagerMenuItem = &OptionsPopupMenu.Add(L"OptionsCookiesManagerMenuItem", L"Cookies Manager");
    OptionsPopupMenu.AddSeparator();
    OptionsFilterMenuItem = &OptionsPopupMenu.Add(L"OptionsFilterMenuItem", L"Filter Options");
    OptionsFindBrokenLinkFilesMenuItem =
        &OptionsFilterMenuItem->Add(L"OptionsFindBrokenLinkFilesMenuItem", L"Find Invalid Shortcut files");
    OptionsFindEmptyFolderMenuItem = &OptionsFilterMenuItem->Add(L"OptionsFindEmptyFolderMenuItem", L"Find Empty Folder");
    OptionsSkipReadOnlyAndSystemFilesMenuItem = &OptionsFilterMenuItem->Add(
        L"OptionsSkipReadOnlyAndSystemFilesMenuItem", L"Skip read only and system files");
    for (MenuItem* item :
         {OptionsFindBrokenLinkFilesMenuItem, OptionsFindEmptyFolderMenuItem, OptionsSkipReadOnlyAndSystemFilesMenuItem})
        item->AutoCheck = true;
    OptionsFileRemovalMenuItem = &OptionsPopupMenu.Add(L"OptionsFileRemovalMenuItem", L"File Removal");
    OptionsRecycleBinMenuItem = &OptionsFileRemovalMenuItem->Add(L"OptionsRecycleBinMenuItem", L"Send files to the Recycle Bin");
    OptionsSpecificFolderMenuItem =
        &OptionsFileRemovalMenuItem->Add(L"OptionsSpecificFolderMenuItem", L"Send files to the User Defined Folder");
    RestorefilesfromSpecificFolder = &OptionsFileRemovalMenuItem->Add(L"RestorefilesfromSpecificFolder",
                                                                      L"Restore files from User Defined Folder");
    OptionsDeletePermanentlyMenuItem =
        &OptionsFileRemovalMenuItem->Add(L"OptionsDeletePermanentlyMenuItem", L"Delete files PERMANENTLY");
    OptionsPopupMenu.AddSeparator();
    OptionsLanguageMenuItem = &OptionsPopupMenu.Add(L"OptionsLanguageMenuItem", L"Language");
    OptionsPopupMenu.AddSeparator();
    OptionsExportSettingMenuItem = &OptionsPopupMenu.Add(L"OptionsExportSettingMenuItem", L"Export Settings");
    OptionsImportSettingMenuItem = &OptionsPopupMenu.Add(L"OptionsImportSettingMenuItem", L"Import Settings");
    OptionsCreateJobFileMenuItem = &OptionsPopupMenu.Add(L"OptionsCreateJobFileMenuItem", L"Create a Task File");

    ContentsMenuItem = &HelpPopupMenu.Add(L"ContentsMenuItem", L"Kestrelvane Help");
    VisitHomepageMenuItem = &HelpPopupMenu.Add(L"VisitHomepageMenuItem", L"Kestrelvane Home Page");
    HelpPopupMenu.AddSeparator();
    ShowBalloonTipsMenuItem = &HelpPopupMenu.Add(L"ShowBalloonTipsMenuItem", L"Always show balloon tips");
    ShowBalloonTipsMenuItem->AutoCheck = true;
    HelpPopupMenu.AddSeparator();
    CheckForUpdatesMenuItem = &HelpPopupMenu.Add(L"CheckForUpdatesMenuItem", L"Check For Update");

    RegisterMenu(OptionsPopupMenu);
    RegisterMenu(HelpPopupMenu);
}

void TMainForm::CreatePages()
{
    // The other pages cost about a fifth of the window's start each time it
    // opens, and most runs never show them: they are made when needed.
    pageListHeld_.fill(true);
    MakePage(pgScan);
    MakePage(pgClean);
}

std::unique_ptr<TMainFormPage> TMainForm::NewPage(int page)
{
    // A page unit takes its page over by being made here.
    switch (page) {
    case pgAbout: return std::make_unique<TAboutPage>(*this, PagePanel(pgAbout));
    case pgPath: return std::make_unique<TPathPage>(*this, PagePanel(pgPath));
    case pgFilters: return std::make_unique<TFiltersPage>(*this, PagePanel(pgFilters));
    case pgScan: return std::make_unique<TScanPage>(*this, PagePanel(pgScan));
    case pgClean: return std::make_unique<TCleanPage>(*this, PagePanel(pgClean));
    default: throw Exception(L"The main window has no page " + std::to_wstring(page));
    }
}

void TMainForm::MakePage(int page)
{
    auto& slot = pages_.at(static_cast<std::size_t>(page));
    if (slot) return;
    if (!created_) {
        // FormCreate gives the pages made with the window their texts, rows and settings.
        slot = NewPage(page);
        return;
    }
    const std::vector<bool> foundBefore = LanguageBindingsFound();
    slot = NewPage(page);
    const std::span<const LanguageBinding> table = MainWindowLanguageTable();
    const std::vector<bool> foundNow = LanguageBindingsFound();
    for (std::size_t i = 0; i < table.size(); ++i)
        if (foundNow[i] && !foundBefore[i]) SetLanguageText(table[i], LanguageText(table[i].entry));
    if (page == pgPath) FillDriveList();
    slot->LoadSettings(Settings);
    if (page == pgAbout && !programVersion_.empty()) AboutPage().SetProgramVersion(programVersion_);
}

std::vector<bool> TMainForm::LanguageBindingsFound() const
{
    const std::span<const LanguageBinding> table = MainWindowLanguageTable();
    std::vector<bool> found(table.size());
    for (std::size_t i = 0; i < table.size(); ++i) {
        const std::wstring name = table[i].control;
        found[i] = FindControl(name) != nullptr || FindMenuItem(name) != nullptr;
    }
    return found;
}

TMainFormPage& TMainForm::Page(int page)
{
    MakePage(page);
    return *pages_[static_cast<std::size_t>(page)];
}

TAboutPage& TMainForm::AboutPage() { return static_cast<TAboutPage&>(Page(pgAbout)); }
TPathPage& TMainForm::PathPage() { return static_cast<TPathPage&>(Page(pgPath)); }
TFiltersPage& TMainForm::FiltersPage() { return static_cast<TFiltersPage&>(Page(pgFilters)); }
TScanPage& TMainForm::ScanPage() { return static_cast<TScanPage&>(Page(pgScan)); }
TCleanPage& TMainForm::CleanPage() { return static_cast<TCleanPage&>(Page(pgClean)); }

void TMainForm::ConnectEvents()
{
    using forms::MouseButton;
    OnActivate = [this] { FormActivate(); };
    OnResize = [this] { FormResize(); };
    OnCloseQuery = [this](bool& canClose) { FormCloseQuery(canClose); };
    OnDestroy = [this] { FormDestroy(); };

    auto drag = [this](MouseButton button, UINT, int, int) {
        if (button == MouseButton::Left) TitleBarPanelMouseDown();
    };
    auto toggle = [this] { TitleBarPanelDblClick(); };
    for (forms::Control* part : std::initializer_list<forms::Control*>{
             TitleBarPanel, TitleBarBack0, TitleBarBack1, TitleBarBack2, TitleBarBack3, AppNameLabel, MenuCaptionPanel,
             MenuCaptionLabel, LogoImage}) {
        part->OnMouseDown = drag;
        part->OnDblClick = toggle;
    }
    TitleBarBack0->OnPaint = [this](HDC dc, const RECT& area) { TitleBarBack0Paint(dc, area); };
    TitleBarBack1->OnPaint = [this](HDC dc, const RECT& area) { TitleBarBack1Paint(dc, area); };
    TitleBarBack2->OnPaint = TitleBarBack0->OnPaint;
    TitleBarBack3->OnPaint = TitleBarBack0->OnPaint;
    // Windowed parts of the title show the bar's tiles behind their own children.
    MenuCaptionPanel->OnPaint = [this](HDC dc, const RECT& client) {
        TileTitleBar(dc, client, TitleBarTile2->Picture(), MenuCaptionPanel->Top());
    };
    SysButtonsPanel->OnPaint = [this](HDC dc, const RECT& client) {
        TileTitleBar(dc, client, TitleBarTile2->Picture(), SysButtonsPanel->Top());
    };
    TitlePanel->OnPaint = [this](HDC dc, const RECT& client) { TileTitleBar(dc, client, titleBack_, 0); };
    IndexPanel->OnPaint = [this](HDC dc, const RECT& client) { TileTitleBar(dc, client, titleBack_, IndexPanel->Top()); };

    MinimizeButton->OnClick = [this] { MinimizeButtonClick(); };
    MaximizeButton->OnClick = [this] { MaximizeButtonClick(); };
    RestoreButton->OnClick = [this] { RestoreButtonClick(); };
    ExitButton->OnClick = [this] { ExitButtonClick(); };
    OptionsButton->OnMouseUp = [this](MouseButton button, UINT, int, int) { OptionsButtonMouseUp(button); };
    HelpButton->OnMouseUp = [this](MouseButton button, UINT, int, int) { HelpButtonMouseUp(button); };

    AboutButton->OnClick = [this] { AboutButtonClick(); };
    PathButton->OnClick = [this] { PathButtonClick(); };
    FiltersButton->OnClick = [this] { FiltersButtonClick(); };
    ScanButton->OnClick = [this] { ScanButtonClick(); };
    CleanButton->OnClick = [this] { CleanButtonClick(); };
    for (int page = 0; page < MainPageCount; ++page)
        PageButton(page).OnMouseEnter = [this, page] { PageButtonMouseEnter(page); };

    AddButton->OnClick = [this] { AddButtonClick(); };
    AddButton->OnMouseDown = [this](MouseButton button, UINT, int x, int y) { AddButtonMouseDown(button, x, y); };
    DeleteButton->OnClick = [this] { DeleteButtonClick(); };
    CheckAllButton->OnClick = [this] { CheckAllButtonClick(); };
    RemoveAllButton->OnClick = [this] { RemoveAllButtonClick(); };

    OptionsPopupMenu.OnPopup = [this] { OptionsFilterMenuItem->Enabled = StopRequested == 1; };
    OptionsLanguageMenuItem->OnClick = [this] { OptionsLanguageMenuItemClick(); };
    OptionsCookiesManagerMenuItem->OnClick = [this] { OptionsCookiesManagerMenuItemClick(); };
    OptionsCreateJobFileMenuItem->OnClick = [this] { OptionsCreateJobFileMenuItemClick(); };
    RestorefilesfromSpecificFolder->OnClick = [this] { RestorefilesfromSpecificFolderClick(); };
    OptionsExportSettingMenuItem->OnClick = [this] { OptionsExportSettingMenuItemClick(); };
    OptionsImportSettingMenuItem->OnClick = [this] { OptionsImportSettingMenuItemClick(); };
    HelpPopupMenu.OnPopup = [this] { HelpPopupMenuPopup(); };
    ContentsMenuItem->OnClick = [this] { ContentsMenuItemClick(); };
    VisitHomepageMenuItem->OnClick = [this] { VisitHomepageMenuItemClick(); };
    ShowBalloonTipsMenuItem->OnClick = [this] { ShowBalloonTipsMenuItemClick(); };
    CheckForUpdatesMenuItem->OnClick = [this] { CheckForUpdatesMenuItemClick(); };

    JobTimer.OnTimer = [this] { JobTimerTimer(); };
}

// ---------------------------------------------------------------------------
// Layout

void TMainForm::ArrangeFrame()
{
    RECT client{};
    ::GetClientRect(Handle(), &client);
    const int W = std::max<int>(client.right, kMinWidth / 2), H = std::max<int>(client.bottom, kMinHeight / 2);
    const int bodyTop = kTitleBarHeight + kTitlePanelHeight;
    const int bodyHeight = std::max(0, H - bodyTop - kStatusHeight);

    TitleBarPanel->SetBounds(0, 0, W, kTitleBarHeight);
    TitleBarBack2->SetBounds(228, 0, std::max(0, W - 228 - 76), kTitleBarHeight);
    TitleBarBack3->SetBounds(W - 76, 0, 76, kTitleBarHeight);
    MenuCaptionPanel->SetBounds(240, 3, std::max(0, W - 240 - 84), 20);
    MenuCaptionLabel->SetBounds(0, 3, MenuCaptionPanel->Width(), 16);
    SysButtonsPanel->SetBounds(W - kSysButtonsWidth - 4, 4, kSysButtonsWidth, 18);

    TitlePanel->SetBounds(0, kTitleBarHeight, W, kTitlePanelHeight);
    OptionsButton->SetBounds(W - 38, 16, 24, 24);
    IndexPanel->SetBounds(74, 18, std::max(0, W - 74 - 50), 20);
    IndexLabel->SetBounds(0, 2, IndexPanel->Width(), 16);

    StatusPanel->SetBounds(0, H - kStatusHeight, W, kStatusHeight);
    HelpButton->SetBounds(W - 32, 1, 24, 24);
    RegInfoPanel->SetBounds(W - 220, 3, 180, 20);

    ButtonsPanel->SetBounds(0, bodyTop, kButtonsWidth, bodyHeight);
    MainPanel->SetBounds(kButtonsWidth, bodyTop, W - kButtonsWidth, bodyHeight);
    ControlPanel->SetBounds(MainPanel->Width() - controlWidth_, 0, controlWidth_, bodyHeight);
    // The right-hand small buttons keep to the panel's right edge.
    DeleteButton->SetLeft(controlWidth_ - 40);
    RemoveAllButton->SetLeft(controlWidth_ - 40);
    for (TCaptionButton* button : {StartButton, StopButton, CleanNowButton})
        button->SetBounds(kControlInset, button->Top(), controlWidth_ - 2 * kControlInset, button->Height());
    ArrangePages();
    FormResize();
}

void TMainForm::ArrangePages()
{
    // Only the page in view is laid out now, the others when they are entered:
    // laying out a page's list costs about a hundred window-server calls under
    // Wine, a tenth of the window's start.
    pageArea_ = SIZE{std::max(0, MainPanel->Width() - controlWidth_ - kPageMargin),
                     std::max(0, MainPanel->Height() - 2 * kPageMargin)};
    pageArranged_.fill(false);
    for (int page = 0; page < MainPageCount; ++page)
        if (PagePanel(page).Visible()) ArrangePage(page);
}

void TMainForm::ArrangePage(int page)
{
    const auto index = static_cast<std::size_t>(page);
    if (pageArranged_[index]) return;
    PagePanel(page).SetBounds(kPageMargin, kPageMargin, pageArea_.cx, pageArea_.cy);
    if (pages_[index]) Page(page).Arrange(pageArea_.cx, pageArea_.cy);
    pageArranged_[index] = pages_[index] != nullptr;
    ReleasePageList(page);
}

void TMainForm::ReleasePageList(int page)
{
    const auto index = static_cast<std::size_t>(page);
    if (!pageListHeld_[index] || !pages_[index]) return;
    pageListHeld_[index] = false;
    if (auto* list = dynamic_cast<forms::ListView*>(Page(page).PageList())) list->SetRedraw(true);
}

void TMainForm::FitControlPanel()
{
    // A translation longer than the buttons' pictures widens the control
    // panel (and so the buttons); the page gives up the room.
    int buttons = 0;
    for (TCaptionButton* button : {StartButton, StopButton, CleanNowButton})
        buttons = std::max(buttons, button->FittingWidth());
    const int width = std::max(kControlWidth, buttons + 2 * kControlInset);
    if (width == controlWidth_) return;
    controlWidth_ = width;
    ArrangeFrame();
}

void TMainForm::TileTitleBar(HDC dc, const RECT& area, const forms::Bitmap& tile, int offsetY) const
{
    if (tile.Empty()) return;
    // Tiled from the bar's own top, so a part placed lower continues the same rows.
    const RECT target{area.left, area.top - offsetY, area.right, area.bottom};
    tile.DrawTiled(dc, target);
}

// ---------------------------------------------------------------------------
// Window messages

LRESULT TMainForm::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_GETMINMAXINFO:
        WMGetMinMaxInfo(*reinterpret_cast<MINMAXINFO*>(lParam));
        return 0;
    case WM_SIZE:
        if (created_) WMSize(wParam);
        break;
    default:
        break;
    }
    return forms::Form::WindowProc(message, wParam, lParam);
}

void TMainForm::WMGetMinMaxInfo(MINMAXINFO& info)
{
    info.ptMinTrackSize = POINT{kMinWidth, kMinHeight};
    // Without a caption the system would maximise over the task bar: keep to the work area.
    HMONITOR monitor = ::MonitorFromWindow(Handle(), MONITOR_DEFAULTTONEAREST);
    MONITORINFO monitorInfo{sizeof(monitorInfo)};
    if (!::GetMonitorInfoW(monitor, &monitorInfo)) return;
    RECT frame = monitorInfo.rcWork;
    ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongW(Handle(), GWL_STYLE)), FALSE,
                         static_cast<DWORD>(::GetWindowLongW(Handle(), GWL_EXSTYLE)));
    info.ptMaxPosition = POINT{frame.left - monitorInfo.rcMonitor.left, frame.top - monitorInfo.rcMonitor.top};
    info.ptMaxSize = POINT{frame.right - frame.left, frame.bottom - frame.top};
}

void TMainForm::WMSize(WPARAM kind)
{
    // Maximising or restoring from the task bar or the keyboard keeps our own
    // buttons in step; a state the buttons already show needs nothing.
    if (kind == SIZE_RESTORED && Maximized) RestoreButtonClick();
    if (kind == SIZE_MAXIMIZED && !Maximized) MaximizeButtonClick();
}

void TMainForm::FormResize()
{
    if (!MainPanel) return;
    RECT client{};
    ::GetClientRect(Handle(), &client);
    if (MainPanel->Width() != client.right - kButtonsWidth || StatusPanel->Top() != client.bottom - kStatusHeight) {
        ArrangeFrame();
        return;
    }
    HintLabel->SetWidth(std::max(0, RegInfoPanel->Left() - 10 - HintLabel->Left()));
}

// ---------------------------------------------------------------------------
// Start-up

void TMainForm::FormCreate()
{
    SetFontName(forms::ScreenHintFontName());
    AppNameLabel->SetFontName(Font().name);
    HintLabel->SetFontColor(RGB(255, 255, 255));
    IndexLabel->SetFontColor(RGB(255, 255, 255));
    MenuCaptionLabel->SetFontColor(kMenuCaptionColour);
    forms::Application& application = forms::Application::Instance();
    application.HintHidePause = 2000;

    StopRequested = 1;

    // A window never shows without texts, even before a language was chosen.
    if (LanguageStrings.empty()) LoadDefaultLanguage();
    ApplyLanguage(*this);
    BuildDriveList();
    LoadSettingsIntoControls();

    application.OnHint = [this](const std::wstring& longHint) { DisplayHint(longHint); };

    LocateTargets();
    if (IECookiesFolder == L"\\") {
        OptionsCookiesManagerMenuItem->Enabled = false;
        if (forms::MenuItem* item = FindMenuItem(L"CookiesManagerMenuItem")) item->Enabled = false;
    }
    FirstActivate = true;
    created_ = true;
    if (JobMode) StartJob();
}

void TMainForm::LocateTargets()
{
    Locations = LocateCleanTargets(SystemLocationSources(OSVersionText));
    PublishTargetLocations(Locations);
    // The drive list found the user's identity first; both come from the same call.
    if (!IsWindowsNT) CurrentUserSid.clear();
}

void TMainForm::BuildDriveList()
{
    OSVersionText = WindowsVersionText();
    IsWindowsNT = ExpandEnvironment(L"%OS%") == L"Windows_NT";
    if (IsWindowsNT) CurrentUserSid = GetCurrentUserSid();
    DriveCount = 0;
    fixedDrives_.clear();
    // Letters with no drive are not asked their type: each question is a
    // round trip to the mount manager under Wine.
    const DWORD present = ::GetLogicalDrives();
    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
        if ((present & (1u << (letter - L'A'))) == 0) continue;
        const std::wstring root = std::wstring(1, letter) + L":\\";
        if (::GetDriveTypeW(root.c_str()) != DRIVE_FIXED) continue;
        fixedDrives_.push_back(letter);
        ++DriveCount;
        std::uint32_t& clusterSize = ClusterSizes[static_cast<std::size_t>(letter - L'A')];
        if (OSVersionText == L"410" || OSVersionText == L"40") {
            try {
                clusterSize = GetClusterSize9x(letter - L'A' + 1);
            } catch (const Exception&) {
                clusterSize = 0; // unknown: sizes on disk fall back to the logical size
            }
        } else {
            clusterSize = GetClusterSize(root);
        }
    }
    if (PageMade(pgPath)) FillDriveList();
}

void TMainForm::FillDriveList()
{
    const bool windows95 = OSVersionText == L"40" && !IsWindowsNT;
    forms::ListView& list = *PathPage().PathListView;
    if (windows95 && list.ColumnCount() == 4) {
        list.DeleteColumn(2);
        list.DeleteColumn(1);
    }
    for (const wchar_t letter : fixedDrives_) {
        const std::wstring caption = std::wstring(1, letter) + L":";
        const std::vector<std::wstring> details = windows95 ? std::vector<std::wstring>{L""}
                                                            : std::vector<std::wstring>{L"", L"", L""};
        list.AddItem(caption, details, pkDrive, IsScanDriveChecked(caption));
    }
}

void TMainForm::LoadSettingsIntoControls()
{
    Settings = LoadSettings(SettingsRoot);
    OptionsFindBrokenLinkFilesMenuItem->Checked = Settings.FindInvalidShortCuts;
    OptionsFindEmptyFolderMenuItem->Checked = Settings.FindEmptyFolders;
    OptionsSkipReadOnlyAndSystemFilesMenuItem->Checked = Settings.SkipReadOnlyFiles;
    ShowBalloonTips = Settings.ShowBalloonTips;
    for (const auto& page : pages_)
        if (page) page->LoadSettings(Settings);
}

TSettings TMainForm::CollectSettings() const
{
    TSettings settings = Settings;
    settings.FindInvalidShortCuts = OptionsFindBrokenLinkFilesMenuItem->Checked;
    settings.FindEmptyFolders = OptionsFindEmptyFolderMenuItem->Checked;
    settings.SkipReadOnlyFiles = OptionsSkipReadOnlyAndSystemFilesMenuItem->Checked;
    settings.ShowBalloonTips = ShowBalloonTips;
    if (!LanguageFile.empty()) settings.Language = FileNamePart(LanguageFile);
    // A page never made shows what was loaded: its share passes through.
    for (const auto& page : pages_)
        if (page) page->StoreSettings(settings);
    return settings;
}

void TMainForm::FormActivate()
{
    if (!FirstActivate) return;
    const std::wstring version = ReadFileVersionText();
    programVersion_ = version;
    if (PageMade(pgAbout)) AboutPage().SetProgramVersion(version);
    RegInfoLabel->SetText(Format(L"Kestrelvane %s", {version}));
    for (TBmpButton* button : {OptionsButton, HelpButton, MaximizeButton, RestoreButton, MinimizeButton, ExitButton})
        button->SetPicture(button->LeaveImage());
    ScanButtonClick();
    FirstActivate = false;
}

void TMainForm::StartJob()
{
    LoadJobFlags();
    JobTimer.Start();
    // Exactly what the Start and Clean Now buttons do, whichever unit serves them.
    if (AutoScan)
        StartButton->Click();
    else
        ScanDone = 1;
}

void TMainForm::JobTimerTimer()
{
    if (StoppedByUser == 1) {
        JobTimer.Stop();
        return;
    }
    if (!ScanDone) return;
    JobTimer.Stop();
    if (AutoClean) {
        CleanNowButton->Click();
        if (!RunHiddenly) CleanButtonClick();
    }
    WriteJobLog();
    if (AutoExit) Close();
}

void TMainForm::WriteJobLog() const
{
    std::wstring text;
    for (const std::wstring& line : JobLog) text += line + L"\r\n";
    ReplaceOwnUnicodeFile(ProgramFolder + JobLogFileName, text);
}

// ---------------------------------------------------------------------------
// Closing

void TMainForm::FormCloseQuery(bool& canClose)
{
    AppClosing = 1;
    if (StopRequested != 0) return;
    if (ShowMessageBox(Handle(), LanguageText(75), LanguageText(145), MB_YESNO | MB_ICONINFORMATION) == IDYES) {
        StopButton->Click();
    } else {
        canClose = false;
        AppClosing = 0;
    }
}

void TMainForm::WaitForWorkers()
{
    // Workers still synchronise with this thread while they end: keep serving them.
    while (WorkerThreadCount.load() > 1) {
        ProcessMessages();
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

void TMainForm::FormDestroy()
{
    SetEnabled(false);
    WaitForWorkers();
    // The language table is kept: the progress and guide windows end after
    // this one and still read it. Saving, the job keys, a pending import and
    // the export at exit are the settings store's exit routine.
    StoreSettingsAtExit(CollectSettings());
    WaitForWorkers();
}

// ---------------------------------------------------------------------------
// Operations for the pages and the worker threads

void TMainForm::SetControlButtons(bool add, bool del, bool checkAll, bool removeAll, bool start, bool stop,
                                  bool cleanNow)
{
    AddButton->SetEnabled(add);
    DeleteButton->SetEnabled(del);
    CheckAllButton->SetEnabled(checkAll);
    RemoveAllButton->SetEnabled(removeAll);
    StartButton->SetEnabled(start);
    StopButton->SetEnabled(stop);
    CleanNowButton->SetEnabled(cleanNow);
}

void TMainForm::EnableNavigation(bool enabled)
{
    for (forms::Control* control : std::initializer_list<forms::Control*>{
             AboutButton, PathButton, FiltersButton, ScanButton, CleanButton, CheckAllButton, RemoveAllButton, StartButton})
        control->SetEnabled(enabled);
    StopButton->SetEnabled(!enabled);
}

void TMainForm::SetMenuCaption(const std::wstring& pageName)
{
    MenuCaptionLabel->SetText(Format(L"----- %s -----", {pageName}));
}

void TMainForm::EnablePageButtons()
{
    const bool enabled = ::IsWindowEnabled(Handle()) != FALSE;
    for (int page = 0; page < MainPageCount; ++page) PageButton(page).SetEnabled(enabled);
}

void TMainForm::UpdateAddDeleteHints()
{
    const TMainFormPage& page = Page(CurrentPage);
    AddButton->SetHint(LanguageText(page.AddHintEntry()));
    DeleteButton->SetHint(LanguageText(page.DeleteHintEntry()));
}

void TMainForm::EnterPage(int page)
{
    MakePage(page);
    CurrentPage = page;
    ArrangePage(page);
    for (int other = 0; other < MainPageCount; ++other) PagePanel(other).SetVisible(other == page);
    SetMenuCaption(LanguageText(kPageCaptionEntries[page]));
    Page(page).Enter();
    UpdateAddDeleteHints();
    EnablePageButtons();
    PageButton(page).SetEnabled(false);
    for (int other = 0; other < MainPageCount; ++other) PageButton(other).SetSelected(other == page);
}

void TMainForm::AboutButtonClick() { EnterPage(pgAbout); }
void TMainForm::PathButtonClick() { EnterPage(pgPath); }
void TMainForm::FiltersButtonClick() { EnterPage(pgFilters); }
void TMainForm::ScanButtonClick() { EnterPage(pgScan); }
void TMainForm::CleanButtonClick() { EnterPage(pgClean); }

void TMainForm::RefreshCurrentPage()
{
    for (int page = 0; page < MainPageCount; ++page) PageButton(page).SetText(LanguageText(kPageCaptionEntries[page]));
    StartButton->SetText(LanguageText(122));
    StopButton->SetText(LanguageText(123));
    CleanNowButton->SetText(LanguageText(124));
    FitControlPanel();
    // Before the first page is entered there is no page to enter again. The
    // page is CurrentPage, not "the disabled button": during a scan every
    // page button is disabled.
    bool entered = false;
    for (int page = 0; page < MainPageCount; ++page) entered = entered || PageButton(page).Selected();
    if (entered) EnterPage(CurrentPage);
}

void TMainForm::RegisterMenu(forms::PopupMenu& menu)
{
    if (std::find(menus_.begin(), menus_.end(), &menu) == menus_.end()) menus_.push_back(&menu);
}

forms::MenuItem* TMainForm::FindMenuItem(const std::wstring& name) const
{
    for (forms::PopupMenu* menu : menus_)
        if (forms::MenuItem* item = menu->Find(name)) return item;
    return nullptr;
}

void TMainForm::SetLanguageText(const LanguageBinding& binding, const std::wstring& text)
{
    const std::wstring name = binding.control;
    if (binding.slot == LanguageSlot::Caption || binding.slot == LanguageSlot::Hint) {
        if (forms::MenuItem* item = FindMenuItem(name)) {
            (binding.slot == LanguageSlot::Caption ? item->Caption : item->Hint) = text;
            return;
        }
    }
    forms::Control* control = FindControl(name);
    if (!control) return; // a control of a page this build does not have
    auto* list = dynamic_cast<forms::ListView*>(control);
    switch (binding.slot) {
    case LanguageSlot::Caption:
        control->SetText(text);
        break;
    case LanguageSlot::Hint:
        control->SetHint(text);
        break;
    case LanguageSlot::ColumnTitle:
        if (list && binding.column < list->ColumnCount()) list->SetColumnCaption(binding.column, text);
        break;
    case LanguageSlot::RowCaption:
        if (list && binding.row < list->Count()) list->SetCaption(binding.row, text);
        break;
    case LanguageSlot::RowText:
        if (list && binding.row < list->Count() && binding.column > 0 && binding.column < list->ColumnCount())
            list->SetSubItem(binding.row, binding.column - 1, text);
        break;
    }
}

// ---------------------------------------------------------------------------
// Frame handlers

void TMainForm::DisplayHint(const std::wstring& longHint) { HintLabel->SetText(longHint); }

void TMainForm::TitleBarPanelMouseDown()
{
    if (Maximized) return;
    ::ReleaseCapture();
    ::SendMessageW(Handle(), WM_SYSCOMMAND, 0xF012, 0); // move by the caption
}

void TMainForm::TitleBarPanelDblClick()
{
    if (Maximized)
        RestoreButtonClick();
    else
        MaximizeButtonClick();
}

void TMainForm::TitleBarBack0Paint(HDC dc, const RECT& area) { TileTitleBar(dc, area, TitleBarTile2->Picture(), 0); }

void TMainForm::TitleBarBack1Paint(HDC dc, const RECT& area) { TileTitleBar(dc, area, TitleBarTile1->Picture(), 0); }

void TMainForm::MinimizeButtonClick() { ::ShowWindow(Handle(), SW_MINIMIZE); }

void TMainForm::MaximizeButtonClick()
{
    Maximized = true;
    ::ShowWindow(Handle(), SW_MAXIMIZE);
    MaximizeButton->Hide();
    RestoreButton->Show();
}

void TMainForm::RestoreButtonClick()
{
    Maximized = false;
    ::ShowWindow(Handle(), SW_RESTORE);
    RestoreButton->Hide();
    MaximizeButton->Show();
}

void TMainForm::ExitButtonClick() { Close(); }

void TMainForm::PageButtonMouseEnter(int page)
{
    if (StopRequested != 1) return;
    const MarkerPlace& place = kGreenBarPlaces[page];
    GreenBar->SetBounds(GreenBar->Left(), place.top, GreenBar->Width(), place.height);
}

void TMainForm::OptionsButtonMouseUp(forms::MouseButton button)
{
    if (button != forms::MouseButton::Left) return;
    const RECT screen = OptionsButton->ScreenBounds();
    OptionsPopupMenu.Popup(screen.left, screen.bottom, Handle());
}

void TMainForm::HelpButtonMouseUp(forms::MouseButton button)
{
    if (button != forms::MouseButton::Left) return;
    const RECT screen = HelpButton->ScreenBounds();
    HelpPopupMenu.Popup(screen.left, screen.bottom, Handle());
}

void TMainForm::AddButtonClick() { Page(CurrentPage).AddButtonClick(); }

void TMainForm::AddButtonMouseDown(forms::MouseButton button, int, int)
{
    if (button != forms::MouseButton::Left) return;
    POINT mouse{};
    ::GetCursorPos(&mouse);
    Page(CurrentPage).AddButtonMouseDown(mouse.x, mouse.y);
}

void TMainForm::DeleteButtonClick() { Page(CurrentPage).DeleteButtonClick(); }
void TMainForm::CheckAllButtonClick() { Page(CurrentPage).CheckAllButtonClick(); }
void TMainForm::RemoveAllButtonClick() { Page(CurrentPage).RemoveAllButtonClick(); }

// ---------------------------------------------------------------------------
// Menus

void TMainForm::ContentsMenuItemClick()
{
    const std::wstring helpFile = ProgramFolder + L"Kestrelvane.chm";
    if (::GetFileAttributesW(helpFile.c_str()) == INVALID_FILE_ATTRIBUTES) {
        // No language text says this: the file's name and the system's own
        // words for a missing file, which are in the user's language.
        ShowMessageBox(Handle(), helpFile + L"\r\n\r\n" + SystemErrorText(ERROR_FILE_NOT_FOUND), LanguageText(68),
                       MB_OK | MB_ICONINFORMATION);
        return;
    }
    OpenWithShell(helpFile, L"", L"", SW_SHOWNORMAL);
}

void TMainForm::VisitHomepageMenuItemClick() { OpenWithShell(HomePageAddress, L"", L"", SW_SHOWNORMAL); }

void TMainForm::ShowBalloonTipsMenuItemClick() { ShowBalloonTips = ShowBalloonTipsMenuItem->Checked; }

void TMainForm::HelpPopupMenuPopup() { ShowBalloonTipsMenuItem->Checked = ShowBalloonTips; }

void TMainForm::CheckForUpdatesMenuItemClick()
{
    WorkerThread::Start<TCheckForUpdates>(static_cast<IUpdateCheckView&>(*this), DefaultUpdateServer());
}

void TMainForm::OptionsLanguageMenuItemClick() { ChangeLanguage(*this); }

void TMainForm::OptionsCookiesManagerMenuItemClick() { ShowCookiesManager(Handle()); }

void TMainForm::OptionsCreateJobFileMenuItemClick() { CreateJobFile(CollectSettings(), Handle()); }

void TMainForm::RestorefilesfromSpecificFolderClick()
{
    RestoreFilesFromSpecificFolder(Settings, [this] { UpdateCleanMethodDisplay(); }, Handle());
}

void TMainForm::UpdateCleanMethodDisplay()
{
    for (const auto& page : pages_)
        if (page) page->CleanMethodChanged(Settings);
}

void TMainForm::OptionsExportSettingMenuItemClick()
{
    if (ShowMessageBox(Handle(), LanguageText(194), L"Kestrelvane", MB_OKCANCEL | MB_ICONINFORMATION) != IDOK) return;
    SaveDialog.FileName.clear();
    SaveDialog.DefaultExt = L"*.reg";
    SaveDialog.Filter = L"Windows Registry Files|*.reg";
    if (!SaveDialog.Execute(Handle())) return;
    TExportNotice notice;
    notice.owner = Handle();
    notice.doneText = Format(LanguageText(213), {SaveDialog.FileName});
    notice.failedText = Format(ExportFailedText, {SaveDialog.FileName});
    ExportSettingsFile(CollectSettings(), SaveDialog.FileName, &notice);
}

void TMainForm::OptionsImportSettingMenuItemClick()
{
    OpenDialog.FileName.clear();
    OpenDialog.DefaultExt = L"*.reg";
    OpenDialog.Filter = L"Windows Registry Files|*.reg";
    if (!OpenDialog.Execute(Handle())) return;
    PendingImport.clear();
    // Said now, while the user can still choose another file: closing the
    // program for a file that would then be refused would lose nothing, but
    // would claim an import that never happens.
    if (!IsImportableSettingsFile(OpenDialog.FileName)) {
        ShowMessageBox(Handle(), Format(ImportRefusedText, {OpenDialog.FileName}), L"Kestrelvane", MB_OK | MB_ICONWARNING);
        return;
    }
    if (ShowMessageBox(Handle(), LanguageText(204), L"Kestrelvane", MB_OKCANCEL | MB_ICONINFORMATION) != IDOK) return;
    PendingImport = OpenDialog.FileName;
    Close();
}

// ---------------------------------------------------------------------------
// The update check's view

void TMainForm::SetCheckForUpdatesEnabled(bool enabled) { CheckForUpdatesMenuItem->Enabled = enabled; }

void TMainForm::ShowStatus(const std::wstring& text) { IndexLabel->SetText(text); }

void TMainForm::ShowStatusMessage(const std::wstring& text)
{
    ShowMessageBox(Handle(), text, forms::Application::Instance().Title(), MB_OK);
}

bool TMainForm::AskYesNo(const std::wstring& text, const std::wstring& caption)
{
    return ShowMessageBox(Handle(), text, caption, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void TMainForm::OpenDownloadPage(const std::wstring& address) { OpenWithShell(address, L"", L"", SW_SHOWNORMAL); }

std::wstring TMainForm::Text(int index) { return LanguageText(index); }

} // namespace kv
