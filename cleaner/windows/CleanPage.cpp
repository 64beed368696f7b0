#include "cleaner/windows/CleanPage.h"

#include <algorithm>

#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/windows/CookiesManagerUnit.h"
#include "cleaner/windows/GuideUnit.h"
#include "cleaner/windows/IconIndexes.h"
#include "cleaner/windows/PathPage.h"
#include "cleaner/windows/ProgressUnit.h"
#include "cleaner/windows/ScanPage.h"
#include "cleaner/windows/SpecifyFolderUnit.h"
#include "platform/Format.h"
#include "platform/MessageLoop.h"
#include "platform/Paths.h"

namespace kv {
namespace {

// Room for any size text ("1,023.99 MB") while the sizes are still being measured.
constexpr int kSizeColumnMinWidth = 90;
// A column title's margins and sort-arrow room in the list's header.
constexpr int kTitleMargins = 16;

// The fixed rows, in TCleanTarget order. The language table replaces the captions.
struct TCleanRow {
    const wchar_t* caption;
    int image;
    bool hasMenu;
};
constexpr std::array<TCleanRow, ctTargetCount> kCleanRows{{
    {L"Send files to the Recycle Bin", iiRecycleMethod, true},
    {L"Clean Windows Recycle Bin", iiRecycleBin, false},
    {L"Clean Windows Temp Folder", iiIncludeFolder, true},
    {L"Clean Specific Folder", iiIncludeFolder, false},
    {L"Clean Windows Cookies Folder", iiCookies, true},
    {L"Clean Temporary Internet Files Folder", iiInternetCache, false},
    {L"Clean Windows History Folder", iiHistory, false},
    {L"Clean Recent Documents Folder", iiRecentDocuments, false},
    {L"Clean Registry - Program History", iiRegistry, true},
    {L"Clean Registry - Windows Tracks", iiRegistry, true},
    {L"Clean Firefox Cache", iiFirefox, false},
    {L"Clean Firefox History", iiFirefox, false},
    {L"Clean FireFox Cookies", iiFirefox, false},
}};

// Row 0 by clean method: its image and caption entry.
struct TMethodLook {
    int image;
    int captionEntry;
};
constexpr std::array<TMethodLook, 3> kMethodLooks{{{iiRecycleMethod, 110}, {iiIncludeFolder, 111}, {iiEmptyFolder, 112}}};

// The size actions a visit of the page starts, in this order.
constexpr std::array<int, 8> kSizeActions{saIECache,  saRecycleBin,      saTempFolders,      saFoldersToEmpty,
                                          saCookies, saIEHistory, saRecentDocuments, saFirefoxCache};
constexpr std::array<TCleanTarget, 3> kWaitingRows{ctRecycleBin, ctWindowsTemp, ctSpecificFolder};
constexpr int kAnalyzingText = 108;

// The registry menus: entry names as the language table knows them, in the
// order of the settings' name tables.
constexpr std::array<const wchar_t*, ProgramHistoryCount> kProgramHistoryItemNames{
    L"CleanWinZipFileMenuItem",           L"CleanWinZipExtractMenuItem",        L"CleanWinRarFileMenuItem",
    L"CleanWordPadRecentFileMenuItem",    L"CleanPaintRecentFileMenuItem",      L"CleanMediaPlayerRecentFileMenuItem",
    L"RealPlayerMostRecentClipsMenuItem", L"RealPlayerOpenLocationClipsMenuItem", L"MiCleanUEFindHistory",
    L"MiCleanUERecentFileList",           L"MiCleanUERecentProject"};
constexpr std::array<const wchar_t*, ProgramHistoryCount> kProgramHistoryCaptions{
    L"WinZip File Menu",           L"WinZip Extract To Menu",        L"WinRar Recent File Menu",
    L"Word Pad Recent File Menu",  L"Paint Recent File Menu",        L"Media Player Recent File/URL Menu",
    L"RealPlayer Most Recent Clips", L"RealPlayer Open Location Clips", L"UltraEdit Find/Replace History",
    L"UltraEdit Recent File History", L"UltraEdit Recent Project History"};
constexpr std::array<const wchar_t*, TracksCount> kTracksItemNames{
    L"RecentItemsfromRunMenuItem", L"FindFilesMenuItem", L"FindFilesContainingTextMenuItem",
    L"AllTypedWebAddressesMenuItem"};
constexpr std::array<const wchar_t*, TracksCount> kTracksCaptions{
    L"Recent Items from Run Menu", L"Find Files Menu", L"Find Files Containing Text Menu", L"All Typed Web Addresses"};
// The checkable entries follow the two commands and a separator.
constexpr std::size_t kFirstCheckableEntry = 3;

constexpr wchar_t kRecycleBinFolder[] = L"::{645FF040-5081-101B-9F08-00AA002F954E}";

} // namespace

// ---------------------------------------------------------------------------
// Construction

TCleanPage::TCleanPage(TMainForm& mainForm, forms::Panel& host) : TMainFormPage(mainForm, host)
{
    CleanListView = &AddPageList(idCleanListView, L"CleanListView", true);
    CleanListView->AddColumn(L"Clean Options", 300);
    CleanListView->AddColumn(L"Size", 110, LVCFMT_RIGHT);
    CleanListView->AddColumn(L"Pop-Up Menu", 90, LVCFMT_CENTER);
    BuildRows();
    BuildMenus();
    ConnectEvents();
}

TCleanPage::~TCleanPage()
{
    // The frame's buttons and menus outlive the page.
    for (forms::Control* control : std::initializer_list<forms::Control*>{MainForm.CleanNowButton, MainForm.CleanButton}) {
        control->OnMouseUp = nullptr;
    }
    MainForm.CleanNowButton->OnClick = nullptr;
    for (forms::MenuItem* item : {MainForm.OptionsRecycleBinMenuItem, MainForm.OptionsSpecificFolderMenuItem,
                                  MainForm.OptionsDeletePermanentlyMenuItem})
        item->OnClick = nullptr;
}

void TCleanPage::BuildRows()
{
    syncing_ = true;
    for (const TCleanRow& row : kCleanRows)
        CleanListView->AddItem(row.caption, {L"", row.hasMenu ? L"Yes" : L""}, row.image, false);
    SetTargetSizeText(ctRegistryProgramHistory, kNotMeasured);
    SetTargetSizeText(ctRegistryWindowsTracks, kNotMeasured);
    syncing_ = false;
}

void TCleanPage::BuildMenus()
{
    RecycleBinMenuItem = &CleanPanelCleanMethodPopupMenu.Add(L"RecycleBinMenuItem", L"Send files to the Recycle Bin");
    SpecificFolderMenuItem =
        &CleanPanelCleanMethodPopupMenu.Add(L"SpecificFolderMenuItem", L"Send files to the User Defined Folder");
    DeletePermanentlyMenuItem =
        &CleanPanelCleanMethodPopupMenu.Add(L"DeletePermanentlyMenuItem", L"Delete files PERMANENTLY");

    AlsoCleanSubFolderMenuItem = &CleanSubFolderPopupMenu.Add(L"AlsoCleanSubFolderMenuItem", L"Also clean sub-folders");
    AlsoCleanSubFolderMenuItem->AutoCheck = true;
    AlsoCleanSubFolderMenuItem->Checked = true;
    OpenTempFoldersMenuItem = &CleanSubFolderPopupMenu.Add(L"OpenTempFoldersMenuItem", L"Open Temp Folder");

    CookiesManagerMenuItem = &CookiesPopupMenu.Add(L"CookiesManagerMenuItem", L"Cookies Manager");

    RegistryProgramCheckAllMenuItem = &CleanPanelRegistryProgramPopupMenu.Add(L"RegistryProgramCheckAllMenuItem", L"&Check All");
    RegistryProgramRemoveAllMenuItem =
        &CleanPanelRegistryProgramPopupMenu.Add(L"RegistryProgramRemoveAllMenuItem", L"&Remove All");
    CleanPanelRegistryProgramPopupMenu.AddSeparator();
    for (std::size_t i = 0; i < ProgramHistoryItems.size(); ++i)
        ProgramHistoryItems[i] =
            &CleanPanelRegistryProgramPopupMenu.Add(kProgramHistoryItemNames[i], kProgramHistoryCaptions[i]);

    CleanRegistryTracksCheckAllMenuItem =
        &CleanPanelRegistryTracksPopupMenu.Add(L"CleanRegistryTracksCheckAllMenuItem", L"&Check All");
    CleanRegistryTracksRemoveAllMenuItem =
        &CleanPanelRegistryTracksPopupMenu.Add(L"CleanRegistryTracksRemoveAllMenuItem", L"&Remove All");
    CleanPanelRegistryTracksPopupMenu.AddSeparator();
    for (std::size_t i = 0; i < TracksItems.size(); ++i)
        TracksItems[i] = &CleanPanelRegistryTracksPopupMenu.Add(kTracksItemNames[i], kTracksCaptions[i]);

    for (forms::PopupMenu* menu : {&CleanPanelCleanMethodPopupMenu, &CleanSubFolderPopupMenu, &CookiesPopupMenu,
                                   &CleanPanelRegistryProgramPopupMenu, &CleanPanelRegistryTracksPopupMenu})
        MainForm.RegisterMenu(*menu);
}

void TCleanPage::ConnectEvents()
{
    using forms::MouseButton;
    CleanListView->OnMouseDown = [this](MouseButton button, UINT, int x, int y) { CleanListViewMouseDown(button, x, y); };
    CleanListView->OnDblClick = [this] { CleanListViewDblClick(); };
    CleanListView->OnItemChecked = [this](int row) { CleanListViewItemChecked(row); };

    MainForm.CleanNowButton->OnClick = [this] { CleanNowButtonClick(); };
    auto methodMenu = [this](MouseButton button, UINT, int, int) { CleanButtonMouseUp(button); };
    MainForm.CleanNowButton->OnMouseUp = methodMenu;
    MainForm.CleanButton->OnMouseUp = methodMenu;

    RecycleBinMenuItem->OnClick = [this] { RecycleBinMenuItemClick(); };
    SpecificFolderMenuItem->OnClick = [this] { SpecificFolderMenuItemClick(); };
    DeletePermanentlyMenuItem->OnClick = [this] { DeletePermanentlyMenuItemClick(); };
    MainForm.OptionsRecycleBinMenuItem->OnClick = RecycleBinMenuItem->OnClick;
    MainForm.OptionsSpecificFolderMenuItem->OnClick = SpecificFolderMenuItem->OnClick;
    MainForm.OptionsDeletePermanentlyMenuItem->OnClick = DeletePermanentlyMenuItem->OnClick;

    OpenTempFoldersMenuItem->OnClick = [this] { OpenTempFoldersMenuItemClick(); };
    CookiesManagerMenuItem->OnClick = [this] { CookiesManagerMenuItemClick(); };
    RegistryProgramCheckAllMenuItem->OnClick = [this] { RegistryProgramCheckAllMenuItemClick(); };
    RegistryProgramRemoveAllMenuItem->OnClick = [this] { RegistryProgramRemoveAllMenuItemClick(); };
    CleanRegistryTracksCheckAllMenuItem->OnClick = [this] { CleanRegistryTracksCheckAllMenuItemClick(); };
    CleanRegistryTracksRemoveAllMenuItem->OnClick = [this] { CleanRegistryTracksRemoveAllMenuItemClick(); };
    auto entryClick = [this] { RecentItemsfromRunMenuItemClick(); };
    for (forms::MenuItem* item : ProgramHistoryItems) {
        item->AutoCheck = true;
        item->OnClick = entryClick;
    }
    for (forms::MenuItem* item : TracksItems) {
        item->AutoCheck = true;
        item->OnClick = entryClick;
    }
}

void TCleanPage::Arrange(int width, int height)
{
    TMainFormPage::Arrange(width, height);
    // The size and menu columns take what their texts need (the size column
    // room for sizes still being measured), the captions what they leave but
    // never less than their longest: in a narrow window or a long language
    // the list scrolls sideways rather than cut a caption.
    // The last column: the list would give a title-fitted last column all the room left.
    CleanListView->SetColumnWidth(colPopUpMenu, LVSCW_AUTOSIZE);
    CleanListView->SetColumnWidth(colPopUpMenu, std::max(CleanListView->ColumnWidth(colPopUpMenu),
                                                         CleanListView->StringWidth(CleanListView->ColumnCaption(colPopUpMenu)) + kTitleMargins));
    CleanListView->SetColumnWidth(colSize, LVSCW_AUTOSIZE_USEHEADER);
    CleanListView->SetColumnWidth(colSize, std::max(kSizeColumnMinWidth, CleanListView->ColumnWidth(colSize)));
    CleanListView->SetColumnWidth(colCleanOptions, LVSCW_AUTOSIZE_USEHEADER);
    const int others = CleanListView->ColumnWidth(colSize) + CleanListView->ColumnWidth(colPopUpMenu);
    const int rest = width - others - 4;
    CleanListView->SetColumnWidth(colCleanOptions, std::max(CleanListView->ColumnWidth(colCleanOptions), rest));
}

// ---------------------------------------------------------------------------
// Entering the page and the sizes

void TCleanPage::Enter()
{
    CleanPageActive = 0;
    RefreshCleanSizes();
    UpdateTracksRows();
    UpdateCleanMethodDisplay();
    Arrange(Host.Width(), Host.Height()); // the captions may be another language's now
    CleanListView->Show();
    // Taking the focus would activate the main window and so close a progress
    // window that still shows the log of the Clean Now just run (a job shows
    // this page right after it).
    if (!MainForm.ProgressForm || !::IsWindowVisible(MainForm.ProgressForm->Handle())) CleanListView->SetFocus();
    MainForm.SetControlButtons(false, false, true, true, false, StopRequested == 0, StopRequested == 1);
    if (MainForm.frmGuide) MainForm.frmGuide->StartIfWanted();
}

void TCleanPage::RefreshCleanSizes()
{
    if (RunHiddenly) return;
    SetTargetSizeText(ctJunkFiles, FormatFileSize(JunkTotalSize));
    UpdateCleanTotalSize(*this);
    const std::vector<TFolderToEmpty> folders = FoldersToEmpty();
    for (TCleanTarget row : kWaitingRows)
        if (TargetSizeReady[row] == 1) SetTargetSizeText(row, kv::LanguageText(kAnalyzingText));
    for (int action : kSizeActions)
        TGetFolderSize::StartSizeThread(action, *this, action == saFoldersToEmpty ? folders : std::vector<TFolderToEmpty>{});
    // What cleaning removes: the old history file, the cookie store with its companions.
    SetTargetSizeText(ctFirefoxHistory, FormatFileSize(FilesSizeOnDisk(FirefoxHistoryFilesToRemove(FirefoxHistoryFile))));
    SetTargetSizeText(ctFirefoxCookies, FormatFileSize(FilesSizeOnDisk(FirefoxCookiesFilesToRemove(FirefoxCookiesFile))));
    MainForm.SetControlButtons(false, false, true, true, false, false, true);
}

void TCleanPage::UpdateTracksRows()
{
    SetRowChecked(ctRegistryProgramHistory, AnyEntryChecked(CleanPanelRegistryProgramPopupMenu));
    SetRowChecked(ctRegistryWindowsTracks, AnyEntryChecked(CleanPanelRegistryTracksPopupMenu));
}

void TCleanPage::UpdateCleanMethodDisplay()
{
    UpdateCleanTotalSize(*this);
    for (forms::MenuItem* item : {RecycleBinMenuItem, SpecificFolderMenuItem, DeletePermanentlyMenuItem,
                                  MainForm.OptionsRecycleBinMenuItem, MainForm.OptionsSpecificFolderMenuItem,
                                  MainForm.OptionsDeletePermanentlyMenuItem})
        item->Enabled = true;
    const TCleanMethod method = CleanMethod();
    // A stored method out of range is cleaned as the recycle bin; show it so.
    const TMethodLook& look = kMethodLooks[static_cast<std::size_t>(method >= 0 && method <= 2 ? method : 0)];
    CleanListView->SetImageIndex(ctJunkFiles, look.image);
    CleanListView->SetCaption(ctJunkFiles, kv::LanguageText(look.captionEntry));
    // The method in use is the one entry that cannot be chosen; the backup
    // folder stays choosable, to pick another folder.
    if (method == cmRecycleBin) RecycleBinMenuItem->Enabled = MainForm.OptionsRecycleBinMenuItem->Enabled = false;
    if (method == cmDeletePermanently)
        DeletePermanentlyMenuItem->Enabled = MainForm.OptionsDeletePermanentlyMenuItem->Enabled = false;
}

// ---------------------------------------------------------------------------
// The size threads' and the total's view

void TCleanPage::SetTargetSizeText(TCleanTarget row, const std::wstring& text)
{
    if (row >= 0 && row < CleanListView->Count()) CleanListView->SetSubItem(row, colSize - 1, text);
}

bool TCleanPage::IsTargetChecked(TCleanTarget row) const
{
    return row >= 0 && row < CleanListView->Count() && CleanListView->Checked(row);
}

TCleanMethod TCleanPage::CleanMethod() const { return MainForm.Settings.CleanMethod; }

void TCleanPage::ShowCleanTotal(std::int64_t total)
{
    MainForm.IndexLabel->SetText(Format(kv::LanguageText(106), {FormatFileSize(total)}));
}

// ---------------------------------------------------------------------------
// Settings

void TCleanPage::LoadSettings(const TSettings& settings)
{
    // Every target is measured anew from the next visit of the page on.
    InvalidateCleanSizes();
    syncing_ = true;
    const std::array<bool, ctTargetCount> rows{settings.DoClean,  settings.EmptyBin,    settings.Temp,
                                               settings.SpecificTempFolder, settings.IECookies, settings.IECache,
                                               settings.IEHistory, settings.Recent, false, false,
                                               settings.FireFoxCache, settings.FireFoxHistory, settings.FireFoxCookies};
    for (int row = 0; row < ctTargetCount; ++row) CleanListView->SetChecked(row, rows[static_cast<std::size_t>(row)]);
    AlsoCleanSubFolderMenuItem->Checked = settings.CleanTempSubFolders;
    for (std::size_t i = 0; i < ProgramHistoryItems.size(); ++i) ProgramHistoryItems[i]->Checked = settings.ProgramHistory[i];
    for (std::size_t i = 0; i < TracksItems.size(); ++i) TracksItems[i]->Checked = settings.Tracks[i];
    syncing_ = false;
    UpdateTracksRows();
    UpdateCleanMethodDisplay();
}

void TCleanPage::StoreSettings(TSettings& settings) const
{
    auto checked = [this](TCleanTarget row) { return CleanListView->Checked(row); };
    settings.DoClean = checked(ctJunkFiles);
    settings.EmptyBin = checked(ctRecycleBin);
    settings.Temp = checked(ctWindowsTemp);
    settings.SpecificTempFolder = checked(ctSpecificFolder);
    settings.IECookies = checked(ctCookies);
    settings.IECache = checked(ctTempInternetFiles);
    settings.IEHistory = checked(ctHistory);
    settings.Recent = checked(ctRecentDocuments);
    settings.FireFoxCache = checked(ctFirefoxCache);
    settings.FireFoxHistory = checked(ctFirefoxHistory);
    settings.FireFoxCookies = checked(ctFirefoxCookies);
    settings.CleanTempSubFolders = AlsoCleanSubFolderMenuItem->Checked;
    for (std::size_t i = 0; i < ProgramHistoryItems.size(); ++i) settings.ProgramHistory[i] = ProgramHistoryItems[i]->Checked;
    for (std::size_t i = 0; i < TracksItems.size(); ++i) settings.Tracks[i] = TracksItems[i]->Checked;
}

// ---------------------------------------------------------------------------
// Rows and their menus

void TCleanPage::SetRowChecked(int row, bool checked)
{
    if (CleanListView->Checked(row) == checked) return;
    syncing_ = true;
    CleanListView->SetChecked(row, checked);
    syncing_ = false;
}

bool TCleanPage::AnyEntryChecked(const forms::PopupMenu& menu)
{
    for (std::size_t i = kFirstCheckableEntry; i < menu.Count(); ++i)
        if (!menu[i].IsSeparator() && menu[i].Checked) return true;
    return false;
}

void TCleanPage::CheckMenuEntries(forms::PopupMenu& menu, bool checked)
{
    for (std::size_t i = kFirstCheckableEntry; i < menu.Count(); ++i) menu[i].Checked = checked && !menu[i].IsSeparator();
    SetRowChecked(&menu == &CleanPanelRegistryProgramPopupMenu ? ctRegistryProgramHistory : ctRegistryWindowsTracks,
                  checked);
    UpdateCleanTotalSize(*this);
}

void TCleanPage::RecentItemsfromRunMenuItemClick()
{
    UpdateTracksRows();
    UpdateCleanTotalSize(*this);
}

forms::PopupMenu* TCleanPage::RowMenu(int row)
{
    switch (row) {
    case ctJunkFiles:
        return &CleanPanelCleanMethodPopupMenu;
    case ctWindowsTemp:
        return &CleanSubFolderPopupMenu;
    case ctCookies:
        return &CookiesPopupMenu;
    case ctRegistryProgramHistory:
        return &CleanPanelRegistryProgramPopupMenu;
    case ctRegistryWindowsTracks:
        return &CleanPanelRegistryTracksPopupMenu;
    default:
        return nullptr;
    }
}

int TCleanPage::RowAt(int x, int y) const
{
    for (int row = 0; row < CleanListView->Count(); ++row) {
        const RECT bounds = CleanListView->ItemRect(row);
        if (y >= bounds.top && y < bounds.bottom && x >= bounds.left && x < bounds.right) return row;
    }
    return -1;
}

void TCleanPage::CleanListViewMouseDown(forms::MouseButton button, int x, int y)
{
    // The row under the mouse: a right press selects it before its menu opens.
    const int row = RowAt(x, y);
    if (button == forms::MouseButton::Right && x > kCheckBoxWidth && row >= 0) {
        CleanListView->SetSelected(row, true);
        if (forms::PopupMenu* menu = RowMenu(row)) {
            POINT mouse{};
            ::GetCursorPos(&mouse);
            menu->Popup(mouse.x, mouse.y, MainForm.Handle());
        }
    }
    UpdateCleanTotalSize(*this);
}

void TCleanPage::CleanListViewItemChecked(int row)
{
    if (syncing_) return;
    const bool checked = CleanListView->Checked(row);
    // The registry rows stand for their menus: checking one checks every entry.
    if (row == ctRegistryProgramHistory) CheckMenuEntries(CleanPanelRegistryProgramPopupMenu, checked);
    if (row == ctRegistryWindowsTracks) CheckMenuEntries(CleanPanelRegistryTracksPopupMenu, checked);
    if (row == ctWindowsTemp && checked && CurrentPage == pgClean && !JobMode) ShowTempFolderWarning();
    UpdateCleanTotalSize(*this);
}

void TCleanPage::ShowTempFolderWarning()
{
    ShowMessageBox(MainForm.Handle(), Format(kv::LanguageText(236), {UserTempFolder, WinTempFolder}), L"Kestrelvane",
                   MB_OK | MB_ICONINFORMATION);
}

void TCleanPage::CleanButtonMouseUp(forms::MouseButton button)
{
    if (button != forms::MouseButton::Right) return;
    POINT mouse{};
    ::GetCursorPos(&mouse);
    CleanPanelCleanMethodPopupMenu.Popup(mouse.x, mouse.y, MainForm.Handle());
}

void TCleanPage::CleanListViewDblClick()
{
    auto open = [](const std::wstring& target) {
        if (!target.empty() && target != L"\\") OpenWithShell(target, L"", L"", SW_SHOWNORMAL);
    };
    switch (CleanListView->SelectedIndex()) {
    case ctRecycleBin:
        open(kRecycleBinFolder);
        break;
    case ctWindowsTemp:
        OpenTempFoldersMenuItemClick();
        break;
    case ctCookies:
        open(IECookiesFolder);
        break;
    case ctTempInternetFiles:
        open(IECacheFolder);
        break;
    case ctHistory:
        open(IEHistoryFolder);
        break;
    case ctRecentDocuments:
        open(RecentFolder);
        break;
    case ctFirefoxCache:
        if (MainForm.Locations.firefoxFound) open(FirefoxCacheFolder);
        break;
    default:
        break;
    }
}

void TCleanPage::OpenTempFoldersMenuItemClick()
{
    OpenWithShell(UserTempFolder, L"", L"", SW_SHOWNORMAL);
    OpenWithShell(WinTempFolder, L"", L"", SW_SHOWNORMAL);
}

void TCleanPage::CookiesManagerMenuItemClick() { MainForm.OptionsCookiesManagerMenuItemClick(); }

void TCleanPage::CheckAllButtonClick()
{
    for (int row = 0; row < ctTargetCount; ++row) CleanListView->SetChecked(row, true);
    CheckMenuEntries(CleanPanelRegistryProgramPopupMenu, true);
    CheckMenuEntries(CleanPanelRegistryTracksPopupMenu, true);
    UpdateCleanTotalSize(*this);
}

void TCleanPage::RemoveAllButtonClick()
{
    for (int row = 0; row < ctTargetCount; ++row) CleanListView->SetChecked(row, false);
    CheckMenuEntries(CleanPanelRegistryProgramPopupMenu, false);
    CheckMenuEntries(CleanPanelRegistryTracksPopupMenu, false);
    UpdateCleanTotalSize(*this);
}

// ---------------------------------------------------------------------------
// Clean method

void TCleanPage::RecycleBinMenuItemClick()
{
    MainForm.Settings.CleanMethod = cmRecycleBin;
    MainForm.UpdateCleanMethodDisplay();
}

void TCleanPage::SpecificFolderMenuItemClick()
{
    ChooseBackupFolder(MainForm.Settings, [this] { MainForm.UpdateCleanMethodDisplay(); }, MainForm.Handle());
}

void TCleanPage::DeletePermanentlyMenuItemClick()
{
    MainForm.Settings.CleanMethod = cmDeletePermanently;
    MainForm.UpdateCleanMethodDisplay();
}

// ---------------------------------------------------------------------------
// Clean Now

forms::ListView* TCleanPage::ScanResults() const
{
    return MainForm.ScanPage().ScanListView;
}

std::vector<TFolderToEmpty> TCleanPage::FoldersToEmpty() const
{
    std::vector<TFolderToEmpty> folders;
    const forms::ListView& paths = *MainForm.PathPage().PathListView;
    for (int row = 0; row < paths.Count(); ++row) {
        const int kind = paths.ImageIndex(row);
        if (!paths.Checked(row) || (kind != pkEmptyFolder && kind != pkEmptyWithSubFolders)) continue;
        folders.push_back({WithTrailingBackslash(paths.Caption(row)), kind == pkEmptyWithSubFolders});
    }
    return folders;
}

std::vector<std::wstring> TCleanPage::CheckedTrackEntries() const
{
    std::vector<std::wstring> entries;
    for (std::size_t i = 0; i < ProgramHistoryItems.size(); ++i)
        if (ProgramHistoryItems[i]->Checked) entries.emplace_back(ProgramHistoryNames[i]);
    for (std::size_t i = 0; i < TracksItems.size(); ++i)
        if (TracksItems[i]->Checked) entries.emplace_back(TracksNames[i]);
    return entries;
}

TCleanNowRequest TCleanPage::CleanNowRequest() const
{
    TCleanNowRequest request;
    for (int row = 0; row < ctTargetCount; ++row) request.CheckedRows[static_cast<std::size_t>(row)] = CleanListView->Checked(row);
    if (const forms::ListView* results = ScanResults()) {
        // Sized once: a growing list of thousands of rows would hold its old
        // and new copies at once, on top of the rows the window holds.
        const int rows = results->Count();
        request.Junk.reserve(static_cast<std::size_t>(rows));
        for (int row = 0; row < rows; ++row) {
            const forms::ListView::Row result = results->GetRow(row);
            const std::wstring location = result.subItems.empty() ? std::wstring() : result.subItems[0];
            request.Junk.push_back(JunkItemOf(result.caption, location, result.image, result.checked));
        }
    }
    request.CleanMethod = MainForm.Settings.CleanMethod;
    request.Backup = {MainForm.Settings.SpecificFolder, MainForm.Settings.DeletionFile};
    request.Targets.alsoCleanSubFolders = AlsoCleanSubFolderMenuItem->Checked;
    request.Targets.foldersToEmpty = FoldersToEmpty();
    request.Targets.checkedTrackEntries = CheckedTrackEntries();
    request.Targets.osVersionText = MainForm.OSVersionText;
    HWND owner = MainForm.Handle();
    request.Targets.onShell32Missing = [owner] {
        ShowMessageBox(owner, kv::LanguageText(154), L"Kestrelvane", MB_OK | MB_ICONERROR);
    };
    return request;
}

void TCleanPage::CleanNowButtonClick()
{
    const TCleanNowRequest request = CleanNowRequest();
    const TCleanNowReport report = RunCleanNow(*this, request);
    // A folder corrected on the way is the one to use from now on.
    if (report.junkDone && request.CleanMethod == cmBackupFolder) {
        MainForm.Settings.SpecificFolder = report.backup.folder;
        MainForm.Settings.DeletionFile = report.backup.logName;
    }
}

std::wstring TCleanPage::LanguageText(int index) { return kv::LanguageText(index); }

void TCleanPage::CleanNowStarted()
{
    MainForm.CleanNowButton->SetEnabled(false);
    MainForm.StopButton->SetEnabled(true);
    if (MainForm.ProgressForm && !RunHiddenly) {
        MainForm.ProgressForm->Show();
        // Shown again after an earlier run, it would stay behind the main window.
        ::BringWindowToTop(MainForm.ProgressForm->Handle());
    }
    ProcessMessages();
    if (MainForm.ProgressForm) MainForm.ProgressForm->ClearLog();
}

void TCleanPage::ShowProgressText(const std::wstring& text)
{
    if (MainForm.ProgressForm) MainForm.ProgressForm->ShowProgressText(text);
}

void TCleanPage::AddProgressLine(int step, int stepTotal, const std::wstring& text)
{
    if (MainForm.ProgressForm) MainForm.ProgressForm->AddProgressLine(step, stepTotal, text);
    MainForm.JobLog.push_back(Format(L"%s.  %s", {Format(L"%.2d", {step}), text}));
}

void TCleanPage::AddSkippedLine(const std::wstring& text)
{
    if (MainForm.ProgressForm) MainForm.ProgressForm->AddLogLine(text);
    MainForm.JobLog.push_back(text);
}

bool TCleanPage::ConfirmPermanentDelete()
{
    return ShowMessageBox(MainForm.Handle(), kv::LanguageText(cnConfirmDelete), kv::LanguageText(145),
                          MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

std::optional<TBackupLocation> TCleanPage::CorrectBackupFolder(const std::wstring& folder)
{
    if (ShowMessageBox(MainForm.Handle(), Format(kv::LanguageText(cnBackupFolderMissing), {folder}), L"Warning",
                       MB_YESNO | MB_ICONWARNING) != IDYES)
        return std::nullopt;
    SpecificFolderMenuItemClick();
    return TBackupLocation{MainForm.Settings.SpecificFolder, MainForm.Settings.DeletionFile};
}

void TCleanPage::RemoveCleanedItems()
{
    forms::ListView* results = ScanResults();
    if (!results) return;
    results->DeleteItemsWhere([results](int row) { return results->Checked(row); });
    MainForm.ScanPage().ResetScanColumns();
}


void TCleanPage::CleanNowFinished(const std::wstring& doneText)
{
    RefreshCleanSizes();
    MainForm.CleanNowButton->SetEnabled(true);
    MainForm.StopButton->SetEnabled(false);
    MainForm.IndexLabel->SetText(doneText);
    ShowProgressText(doneText);
    if (MainForm.ProgressForm) MainForm.ProgressForm->FinishLog();
}

} // namespace kv
