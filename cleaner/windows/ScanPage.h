#pragma once
// The Scan page of the main window: starts and stops the junk-file scan,
// shows what it finds in ScanListView, keeps the on-disk total of the checked
// rows, and offers the result commands (sorting, checking over a selection,
// copying, opening, excluding a file, a folder or a filter from later scans,
// clearing and saving the list).
//
// The page is the scan thread's window (TScanView): every call of it runs on
// the main thread.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "cleaner/engine/TSearchUnit.h"
#include "cleaner/windows/MainUnit.h"
#include "platform/forms/Controls.h"
#include "platform/forms/Menus.h"

namespace kv {

// Appends the TABs that bring a cell of `length` characters to the next
// column when the column's longest cell has `maximum` characters (tab stops
// every 8 characters); nothing when fewer than one would be needed.
void ScanListPadColumn(std::wstring& text, int length, int maximum);

// The saved form of the result list: the two comment lines with `stamp`
// (date and time), then one line per row (name, location, size, time; no filter).
std::wstring ScanListText(const std::vector<forms::ListView::Row>& rows, const std::wstring& stamp);

class TScanPage : public TMainFormPage, public TScanView {
public:
    enum ControlId : int { idScanListView = PageControlIds(pgScan) };
    enum Column : int { colFileName, colLocation, colSize, colModified, colFilter };

    TScanPage(TMainForm& mainForm, forms::Panel& host);

    forms::ListView* ScanListView;
    forms::PopupMenu ScanPanelPopupMenu;
    forms::MenuItem* OpenContainingFolderMenuItem;
    forms::MenuItem* CopyMenu;
    forms::MenuItem* CopyFileNameMenuItem;
    forms::MenuItem* CopyLocationMenuItem;
    forms::MenuItem* CopyFileNameLocationMenuItem;
    forms::MenuItem* MiCheckSelected;
    forms::MenuItem* MiUncheckSelected;
    forms::MenuItem* ExcludePopupMenuButton;
    forms::MenuItem* ExcludeFileMenuButton;
    forms::MenuItem* ExcludeContainingFolderMenuButton;
    forms::MenuItem* MiExcludeFilter;
    forms::MenuItem* AutoResizePopupMenuButton;
    forms::MenuItem* ClearAllPopupMenuButton;
    forms::MenuItem* SaveListPopupMenuButton;
    forms::MenuItem* PropertiesMenuItem;

    // The row of the last change event (check mark or selection).
    int LastChangedIndex = -1;

    // ---- TMainFormPage
    forms::WinControl* PageList() override { return ScanListView; }
    void Arrange(int width, int height) override;
    void Enter() override;
    void CheckAllButtonClick() override;
    void RemoveAllButtonClick() override;

    // ---- TScanView (main thread)
    TScanOptions ReadScanOptions() override;
    void ShowCurrentPath(const std::wstring& text) override;
    void AddScanItem(const TScanResult& row, const std::wstring& status) override;
    void ScanSkipped(const TSkipList& skipped) override;
    void ScanFinished(const std::wstring& status) override;
    std::wstring LanguageText(int index) override;

    // Whether a scan started from this page has not finished yet.
    bool Scanning() const noexcept { return scanning_; }

    // ---- Commands and events
    void StartButtonClick();
    void StopButtonClick();
    void FlashTimerTimer();
    // JunkTotalSize := the on-disk size of the checked rows, shown in the status line.
    void UpdateJunkTotal();
    // Columns 0 to 3 fit their contents (when a scan ends and after Clean Now).
    void ResetScanColumns();
    void ScanListViewClick();
    void ScanListViewChange(int index);
    void ScanListViewItemChecked(int row);
    void ScanListViewMouseDown(forms::MouseButton button, int x, int y);
    void ScanListViewColumnClick(int column);
    int ScanListViewCompare(const forms::ListView::Row& a, const forms::ListView::Row& b) const;
    void ScanPanelPopupMenuPopup();
    void MiCheckSelectedClick();
    void MiUncheckSelectedClick();
    void AutoResizePopupMenuButtonClick();
    void ClearAllPopupMenuButtonClick();
    void SaveListPopupMenuButtonClick();
    void OpenContainingFolderMenuItemClick();
    void PropertiesMenuItemClick();
    void CopyFileNameMenuItemClick();
    void CopyLocationMenuItemClick();
    void CopyFileNameLocationMenuItemClick();
    void ExcludeFileMenuButtonClick();
    void ExcludeContainingFolderMenuButtonClick();
    void MiExcludeFilterClick();

private:
    void BuildPopupMenu();
    void CheckAll(bool checked);
    // Checks or unchecks every row (or every selected row), then recounts.
    void MarkRows(bool checked, bool selectedOnly);
    // Location + name of a row.
    std::wstring RowPath(int row) const;
    // A row's size on disk: the scan's own figure, measured only for a row
    // the scan did not add.
    std::int64_t RowDiskSize(int row);
    // The checked rows' sizes on disk, from the figures kept per row.
    std::int64_t CheckedRowsDiskSize();
    void ShowJunkTotal();
    // Deletes, last to first, every row whose column equals `text` exactly.
    void DeleteRowsWhere(int column, const std::wstring& text);
    // The total and the check buttons follow what is left.
    void RowsRemoved();
    bool ConfirmExclude() const;
    void ShowExcludeNotice(int entry) const;

    bool scanning_ = false;
    bool markingRows_ = false;
    // The checked rows' total while a scan adds rows: each row comes checked
    // and a mark changed meanwhile moves it by the row. Whatever else is done
    // to the rows during the scan leaves it unknown, and the end recounts.
    std::optional<std::int64_t> scanCheckedSize_;
    // Texts that many rows share (folders, filters), each kept once: a row
    // holds its text's index instead of a copy of its own.
    class TSharedTexts {
    public:
        static constexpr std::uint32_t kNone = 0xFFFFFFFF;
        std::uint32_t IndexOf(const std::wstring& text);
        std::wstring_view At(std::uint32_t index) const; // empty for kNone
        void Clear();

    private:
        std::unordered_map<std::wstring, std::uint32_t> indexes_;
        std::vector<const std::wstring*> texts_; // the keys of indexes_, by index
    };
    // What the page keeps of each row, by the row's key. The list gives its
    // rows rising keys, so the facts lie in a vector indexed from the first
    // such row's key (a hash map took about 40 bytes a row). The list asks
    // for the location, size, time and filter texts when it shows or gives a
    // row: they are written out then, not kept as texts in each of thousands
    // of rows.
    struct TRowFacts {
        // A mark changed by hand moves the total by one row instead of
        // measuring every checked file again. -1: not known yet.
        std::int64_t diskSize = -1;
        std::int64_t size = 0;
        FILETIME modified{};
        std::uint32_t folder = TSharedTexts::kNone;
        std::uint32_t filter = TSharedTexts::kNone;
    };
    TRowFacts& FactsOf(LPARAM key);
    std::wstring_view OwnerKeptText(LPARAM key, int column);
    std::vector<TRowFacts> rowFacts_;
    LPARAM firstFactsKey_ = 0;
    TSharedTexts folders_;
    TSharedTexts filters_;
    std::wstring ownerKeptText_; // the last size or time written out for the list
};

} // namespace kv
