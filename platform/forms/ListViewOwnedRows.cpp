// The rows of a list made with RowStore::Owner: a virtual list, whose rows
// live here and are handed to the list cell by cell as it paints or is asked.
// The list itself keeps only the count, the selection and the focus. The check
// marks are ours too: a virtual list changes none on a click or a key, so a
// click on a row's check box (NM_CLICK) and the space key (LVN_KEYDOWN) change
// them here, and the events fire as they do for a system-kept row.
#include "platform/forms/Controls.h"

#include <algorithm>
#include <numeric>
#include <unordered_set>

#include "platform/Exceptions.h"

namespace kv::forms {
namespace {

// While rows move or go, the list's selection is changed by the program, not
// by a person: no change events meanwhile.
class QuietChanges {
public:
    explicit QuietChanges(bool& quiet) : quiet_(quiet) { quiet_ = true; }
    ~QuietChanges() { quiet_ = false; }
    QuietChanges(const QuietChanges&) = delete;
    QuietChanges& operator=(const QuietChanges&) = delete;

private:
    bool& quiet_;
};

} // namespace

const ListView::OwnerRow& ListView::OwnedRow(int index) const
{
    // A row out of range reads as nothing, as the system's list answers.
    static const OwnerRow none;
    if (index < 0 || static_cast<std::size_t>(index) >= ownedRows_.size()) return none;
    return ownedRows_[static_cast<std::size_t>(index)];
}

ListView::OwnerRow* ListView::OwnedRowAt(int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= ownedRows_.size()) return nullptr;
    return &ownedRows_[static_cast<std::size_t>(index)];
}

int ListView::AddOwnedRow(const std::wstring& caption, const std::vector<std::wstring>& subItems, int image,
                          bool checked, std::initializer_list<int> ownerKeptColumns)
{
    OwnerRow row;
    row.caption = caption;
    row.subItems = subItems;
    for (int column : ownerKeptColumns) {
        if (column < 1 || column >= 32) continue;
        row.ownerKept |= 1u << column;
        // The owner answers for this column: a text given for it is never shown.
        if (static_cast<std::size_t>(column) <= row.subItems.size()) row.subItems[static_cast<std::size_t>(column - 1)].clear();
    }
    row.key = nextKey_++;
    row.image = image;
    row.checked = checked;
    ownedRows_.push_back(std::move(row));
    if (!SetOwnedCount()) {
        ownedRows_.pop_back();
        throw Exception(L"Cannot add a row to the list");
    }
    const int index = static_cast<int>(ownedRows_.size()) - 1;
    // A virtual list tells of no insert: the handler hears of it here.
    if (OnInsert) OnInsert(index);
    return index;
}

bool ListView::SetOwnedCount()
{
    // Only the rows that come or go are painted again, and the view stays where it is.
    return ::SendMessageW(Handle(), LVM_SETITEMCOUNT, ownedRows_.size(), LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL) != 0;
}

std::wstring ListView::OwnedCellText(const OwnerRow& row, int column) const
{
    if (column >= 0 && column < 32 && (row.ownerKept & (1u << column)))
        return OnOwnerKeptText ? std::wstring(OnOwnerKeptText(row.key, column)) : std::wstring();
    if (column == 0) return row.caption;
    const auto given = static_cast<std::size_t>(column - 1);
    return column > 0 && given < row.subItems.size() ? row.subItems[given] : std::wstring();
}

void ListView::SetOwnedCellText(int index, int column, const wchar_t* text)
{
    OwnerRow* row = OwnedRowAt(index);
    if (!row || column < 0 || column >= 32) return;
    const bool ownerKept = text == LPSTR_TEXTCALLBACKW;
    row->ownerKept = ownerKept ? row->ownerKept | (1u << column) : row->ownerKept & ~(1u << column);
    const std::wstring value = ownerKept || !text ? std::wstring() : std::wstring(text);
    if (column == 0) {
        row->caption = value;
    } else {
        if (row->subItems.size() < static_cast<std::size_t>(column)) row->subItems.resize(static_cast<std::size_t>(column));
        row->subItems[static_cast<std::size_t>(column - 1)] = value;
    }
    RedrawOwnedRow(index);
}

void ListView::SetOwnedImage(int index, int image)
{
    OwnerRow* row = OwnedRowAt(index);
    if (!row) return;
    row->image = image;
    RedrawOwnedRow(index);
}

void ListView::SetOwnedChecked(int index, bool checked)
{
    OwnerRow* row = OwnedRowAt(index);
    if (!row || row->checked == checked) return;
    row->checked = checked;
    RedrawOwnedRow(index);
    if (OnItemChecked) OnItemChecked(index);
    if (OnChange) OnChange(index);
}

void ListView::RedrawOwnedRow(int index) { ::SendMessageW(Handle(), LVM_REDRAWITEMS, index, index); }

void ListView::DeleteOwnedRow(int index)
{
    if (!OwnedRowAt(index)) return;
    // The list drops the row's selection and tells of the deletion while the row is still here.
    if (!::SendMessageW(Handle(), LVM_DELETEITEM, index, 0)) return;
    ownedRows_.erase(ownedRows_.begin() + index);
}

void ListView::DeleteOwnedRowsWhere(const std::function<bool(int index)>& remove)
{
    std::vector<char> drop(ownedRows_.size(), 0);
    bool any = false;
    for (int row = Count() - 1; row >= 0; --row)
        if (remove(row)) {
            drop[static_cast<std::size_t>(row)] = 1;
            any = true;
        }
    if (!any) return;
    const Selection selection = TakeSelection();
    if (OnDeletion)
        for (int row = Count() - 1; row >= 0; --row)
            if (drop[static_cast<std::size_t>(row)]) OnDeletion(row);
    // One pass over the rows, where a delete a row would move every row after it.
    std::size_t kept = 0;
    for (std::size_t row = 0; row < ownedRows_.size(); ++row) {
        if (drop[row]) continue;
        if (kept != row) ownedRows_[kept] = std::move(ownedRows_[row]);
        ++kept;
    }
    ownedRows_.erase(ownedRows_.begin() + static_cast<std::ptrdiff_t>(kept), ownedRows_.end());
    ::SendMessageW(Handle(), LVM_SETITEMCOUNT, ownedRows_.size(), LVSICF_NOSCROLL);
    RestoreSelection(selection);
}

void ListView::ClearOwnedRows()
{
    // A virtual list tells of no row as it empties: the handler hears of each here, last first.
    if (OnDeletion)
        for (int row = Count() - 1; row >= 0; --row) OnDeletion(row);
    ::SendMessageW(Handle(), LVM_DELETEALLITEMS, 0, 0);
    std::vector<OwnerRow>().swap(ownedRows_);
}

void ListView::SortOwnedRows(const std::function<int(const Row&, const Row&)>& compare)
{
    const Selection selection = TakeSelection();
    const std::unordered_set<LPARAM> selected(selection.keys.begin(), selection.keys.end());
    const int columns = ColumnCount();
    std::vector<Row> rows(ownedRows_.size());
    for (std::size_t i = 0; i < ownedRows_.size(); ++i) {
        const OwnerRow& owned = ownedRows_[i];
        Row& row = rows[i];
        row.caption = OwnedCellText(owned, 0);
        for (int column = 1; column < columns; ++column) row.subItems.push_back(OwnedCellText(owned, column));
        row.image = owned.image;
        row.checked = owned.checked;
        row.selected = selected.count(owned.key) != 0;
    }
    // The rows move only once the order is known: a comparison that throws leaves them as they were.
    std::vector<std::size_t> order(ownedRows_.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    try {
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return compare(rows[a], rows[b]) < 0; });
    } catch (...) {
        RestoreSelection(selection);
        throw;
    }
    std::vector<OwnerRow> sorted;
    sorted.reserve(ownedRows_.size());
    for (std::size_t from : order) sorted.push_back(std::move(ownedRows_[from]));
    ownedRows_ = std::move(sorted);
    ::InvalidateRect(Handle(), nullptr, TRUE);
    RestoreSelection(selection);
}

// Takes the selection and the focus off the list, by row key: they stay with
// their rows while the rows move or go.
ListView::Selection ListView::TakeSelection()
{
    Selection selection;
    for (int row = SelectedIndex(); row >= 0;
         row = static_cast<int>(::SendMessageW(Handle(), LVM_GETNEXTITEM, row, LVNI_SELECTED)))
        selection.keys.push_back(OwnedRow(row).key);
    // Every row of several: selected again in one call. (A single-selection
    // list refuses that call, but never has several rows selected.)
    selection.all = selection.keys.size() > 1 && selection.keys.size() == ownedRows_.size();
    const int focused = static_cast<int>(::SendMessageW(Handle(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
    selection.focused = focused >= 0 ? OwnedRow(focused).key : 0;
    const QuietChanges quiet(rowsMoving_);
    if (!selection.keys.empty() || focused >= 0) SetOwnedState(-1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    return selection;
}

void ListView::RestoreSelection(const Selection& selection)
{
    if (selection.keys.empty() && !selection.focused) return;
    const QuietChanges quiet(rowsMoving_);
    if (selection.all && !ownedRows_.empty()) SetOwnedState(-1, LVIS_SELECTED, LVIS_SELECTED);
    const std::unordered_set<LPARAM> keys(selection.keys.begin(), selection.keys.end());
    for (int row = 0; row < Count(); ++row) {
        const LPARAM key = ownedRows_[static_cast<std::size_t>(row)].key;
        if (!selection.all && keys.count(key)) SetOwnedState(row, LVIS_SELECTED, LVIS_SELECTED);
        if (key == selection.focused) SetOwnedState(row, LVIS_FOCUSED, LVIS_FOCUSED);
    }
}

void ListView::SetOwnedState(int index, UINT state, UINT mask)
{
    LVITEMW item{};
    item.state = state;
    item.stateMask = mask;
    ::SendMessageW(Handle(), LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
}

void ListView::FillOwnedDisplay(LVITEMW& item) const
{
    const OwnerRow& row = OwnedRow(item.iItem);
    if ((item.mask & LVIF_TEXT) && item.pszText && item.cchTextMax > 0) {
        const std::wstring text = OwnedCellText(row, item.iSubItem);
        const std::size_t length = std::min<std::size_t>(text.size(), static_cast<std::size_t>(item.cchTextMax) - 1);
        std::copy_n(text.data(), length, item.pszText);
        item.pszText[length] = L'\0';
    }
    if (item.mask & LVIF_IMAGE) item.iImage = item.iSubItem == 0 && row.image >= 0 ? row.image : I_IMAGENONE;
    if ((item.mask & LVIF_STATE) && item.iSubItem == 0 && checkBoxes_) {
        item.state = (item.state & ~LVIS_STATEIMAGEMASK) | INDEXTOSTATEIMAGEMASK(row.checked ? 2 : 1);
        item.stateMask |= LVIS_STATEIMAGEMASK;
    }
}

void ListView::ToggleCheckedAt(POINT point)
{
    LVHITTESTINFO hit{};
    hit.pt = point;
    const int row = static_cast<int>(::SendMessageW(Handle(), LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    if (row >= 0 && (hit.flags & LVHT_ONITEMSTATEICON)) SetOwnedChecked(row, !OwnedRow(row).checked);
}

void ListView::ToggleFocusedChecked()
{
    const int row = static_cast<int>(::SendMessageW(Handle(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
    if (row >= 0) SetOwnedChecked(row, !OwnedRow(row).checked);
}

// A person typing a row's first letters: the first row from `iStart` on whose
// caption starts with them (or is them), going round to the top when asked.
int ListView::FindOwnedRow(const NMLVFINDITEMW& find) const
{
    if (!(find.lvfi.flags & (LVFI_STRING | LVFI_PARTIAL)) || !find.lvfi.psz) return -1;
    const std::wstring_view wanted(find.lvfi.psz);
    const bool prefix = (find.lvfi.flags & LVFI_PARTIAL) != 0;
    const auto matches = [&](int row) {
        const std::wstring& caption = OwnedRow(row).caption;
        if (caption.size() < wanted.size() || (!prefix && caption.size() != wanted.size())) return false;
        return ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, caption.data(), static_cast<int>(wanted.size()),
                                wanted.data(), static_cast<int>(wanted.size())) == CSTR_EQUAL;
    };
    const int count = Count();
    const int start = std::clamp(find.iStart, 0, count);
    for (int row = start; row < count; ++row)
        if (matches(row)) return row;
    if (find.lvfi.flags & LVFI_WRAP)
        for (int row = 0; row < start; ++row)
            if (matches(row)) return row;
    return -1;
}

} // namespace kv::forms
