// The form layer driven through its windows: list views with check boxes and
// sortable columns, exceptions in window procedures, modal and modeless
// forms, graphic controls, menus, dialogs and pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/FormDriver.h"
#include "platform/StringList.h"
#include "platform/forms/Dialogs.h"
#include "platform/forms/Form.h"
#include "platform/forms/Graphics.h"
#include "platform/forms/Menus.h"
#include "platform/forms/Timer.h"

using namespace kv::forms;

namespace {

enum { idList = 10, idButton, idLabel, idEdit, idImage, idPanel, idPanelLabel };

class FormsTest : public ::testing::Test {
protected:
    void SetUp() override { kvtest::StartApplication(); }

    static FormStyle TestStyle(const wchar_t* className) { return kvtest::HostStyle(className); }
};

// The filters list's rule: column 0 compares the check marks (unchecked first),
// other columns their texts ignoring case; the direction flips at every click.
struct FiltersSorter {
    ListView& list;
    int sortColumn = 0;
    bool descending = false;

    void ColumnClick(int column)
    {
        sortColumn = column;
        list.Sort([this](const ListView::Row& a, const ListView::Row& b) {
            int result = sortColumn == 0 ? int(a.checked) - int(b.checked)
                                         : kv::CompareTextIgnoreCase(a.subItems[sortColumn - 1], b.subItems[sortColumn - 1]);
            return descending ? -result : result;
        });
        if (sortColumn > 0) {
            for (int c = 1; c < list.ColumnCount(); ++c)
                if (c != sortColumn) list.SetColumnImage(c, -1);
            list.SetColumnImage(sortColumn, list.ColumnImage(sortColumn) == 16 ? 15 : 16);
        }
        descending = !descending;
    }
};

// The rows of a list live in the system's list or in the ListView itself (a
// virtual list); either way the list answers alike, and what it shows, asked
// through its window, is what its rows say.
std::unique_ptr<Control> MakeOwnedRowsList(WinControl& parent, int id)
{
    return std::make_unique<ListView>(parent, id, true, false, true, RowStore::Owner);
}

std::unique_ptr<Control> MakeOwnedRowsMultiSelectList(WinControl& parent, int id)
{
    return std::make_unique<ListView>(parent, id, true, true, true, RowStore::Owner);
}

std::unique_ptr<Control> MakeMultiSelectList(WinControl& parent, int id)
{
    return std::make_unique<ListView>(parent, id, true, true, true);
}

struct ListStoreCase {
    const char* name;
    ControlFactory make;
    ControlFactory makeMultiSelect;
};

void PrintTo(const ListStoreCase& store, std::ostream* out) { *out << store.name; }

const ListStoreCase kListStores[] = {
    {"SystemKeptRows", Make<ListView>, MakeMultiSelectList},
    {"OwnerKeptRows", MakeOwnedRowsList, MakeOwnedRowsMultiSelectList},
};

// A cell and a mark as the list shows them: asked of its window, never of the object.
std::wstring ShownText(const ListView& list, int row, int column)
{
    wchar_t text[1024] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 1024;
    ::SendMessageW(list.Handle(), LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return text;
}

std::vector<std::wstring> ShownColumn(const ListView& list, int column)
{
    std::vector<std::wstring> cells;
    const int rows = static_cast<int>(::SendMessageW(list.Handle(), LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < rows; ++row) cells.push_back(ShownText(list, row, column));
    return cells;
}

bool ShownChecked(const ListView& list, int row)
{
    const auto state = static_cast<UINT>(::SendMessageW(list.Handle(), LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK));
    return ((state & LVIS_STATEIMAGEMASK) >> 12) == 2;
}

class ListStoreTest : public FormsTest, public ::testing::WithParamInterface<ListStoreCase> {
protected:
    ListView& BuildList(Form& form, bool multiSelect = false)
    {
        form.Build({{multiSelect ? GetParam().makeMultiSelect : GetParam().make, L"List", idList, 0, 0, 0, 420, 300}});
        auto& list = form.Get<ListView>(idList);
        list.AddColumn(L"Name", 200);
        return list;
    }
};

INSTANTIATE_TEST_SUITE_P(BothStores, ListStoreTest, ::testing::ValuesIn(kListStores),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(ListStoreTest, ListViewWithCheckBoxesIsCheckedSortedAndReadBack)
{
    Form form(TestStyle(L"TListTestForm"));
    form.Build({{GetParam().make, L"FiltersListView", idList, 0, 0, 0, 420, 300}});
    ImageList icons;
    icons.LoadStrip(Bitmap::FromPngResource(L"ICONS"), 16);
    auto& list = kvtest::ControlOf<ListView>(kvtest::FindForm(L"TListTestForm"), idList);
    list.SetImageList(icons);
    list.AddColumn(L"", 40);
    list.AddColumn(L"Filter Name", 120);
    list.AddColumn(L"Type", 60);
    list.AddColumn(L"Description", 160);
    list.AddItem(L"", {L"*.tmp", L".tmp", L"Temporary files"}, 3, true);
    list.AddItem(L"", {L"*.BAK", L".BAK", L"Backups"}, 3, false);
    list.AddItem(L"", {L"*.chk", L".chk", L"Disk check pieces"}, 13, true);
    std::vector<int> checkedEvents;
    list.OnItemChecked = [&](int index) { checkedEvents.push_back(index); };
    FiltersSorter sorter{list};
    list.OnColumnClick = [&](int column) { sorter.ColumnClick(column); };
    form.Show();
    kvtest::Pump();

    kvtest::ClickCheckBox(list, 1);
    EXPECT_TRUE(list.Checked(1));
    EXPECT_TRUE(ShownChecked(list, 1));
    EXPECT_EQ(checkedEvents, std::vector<int>{1});
    kvtest::ClickCheckBox(list, 2);
    EXPECT_FALSE(list.Checked(2));
    EXPECT_FALSE(ShownChecked(list, 2));

    kvtest::ClickColumnHeader(list, 1);
    EXPECT_EQ(kvtest::ReadColumn(list, 1), (std::vector<std::wstring>{L"*.BAK", L"*.chk", L"*.tmp"}));
    EXPECT_EQ(list.ColumnImage(1), 16);
    kvtest::ClickColumnHeader(list, 1);
    EXPECT_EQ(kvtest::ReadColumn(list, 1), (std::vector<std::wstring>{L"*.tmp", L"*.chk", L"*.BAK"}));
    EXPECT_EQ(ShownColumn(list, 1), kvtest::ReadColumn(list, 1));
    EXPECT_EQ(list.ColumnImage(1), 15);

    // Rows keep their marks and images through the sorts.
    const auto rows = kvtest::ReadRows(list);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_TRUE(rows[0].checked);  // *.tmp
    EXPECT_FALSE(rows[1].checked); // *.chk, unchecked above
    EXPECT_TRUE(rows[2].checked);  // *.BAK, checked above
    EXPECT_EQ(rows[1].image, 13);
    EXPECT_EQ(rows[2].subItems[2], L"Backups");
    for (int row = 0; row < 3; ++row) EXPECT_EQ(ShownChecked(list, row), rows[static_cast<std::size_t>(row)].checked);

    // Column 0 sorts by the marks: unchecked first, then checked first.
    kvtest::ClickColumnHeader(list, 0);
    EXPECT_FALSE(list.Checked(0));
    EXPECT_TRUE(list.Checked(2));
    kvtest::ClickColumnHeader(list, 0);
    EXPECT_TRUE(list.Checked(0));
    EXPECT_FALSE(list.Checked(2));
    EXPECT_EQ(list.ColumnImage(1), 15); // a click on column 0 leaves the arrows alone
}

TEST_P(ListStoreTest, ClickingARowSelectsIt)
{
    Form form(TestStyle(L"TRowTestForm"));
    auto& list = BuildList(form);
    list.AddItem(L"first");
    list.AddItem(L"second");
    int clicks = 0;
    list.OnClick = [&] { ++clicks; };
    std::vector<int> checkedEvents;
    list.OnItemChecked = [&](int index) { checkedEvents.push_back(index); };
    form.Show();
    kvtest::ClickRow(list, 1);
    EXPECT_EQ(list.SelectedIndex(), 1);
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(list.Checked(1)) << "a click beside the check box leaves the mark";
    EXPECT_TRUE(checkedEvents.empty());
}

// The space key marks the focused row (and unmarks it again), as a click on
// its check box does; a mark set by the program to what it was tells nothing.
TEST_P(ListStoreTest, TheSpaceKeyTogglesTheFocusedRowsMark)
{
    Form form(TestStyle(L"TSpaceTestForm"));
    auto& list = BuildList(form);
    for (const wchar_t* name : {L"first", L"second", L"third"}) list.AddItem(name);
    std::vector<int> checkedEvents;
    list.OnItemChecked = [&](int index) { checkedEvents.push_back(index); };
    form.Show();
    kvtest::ClickRow(list, 2);
    list.SetFocus();
    kvtest::PressKey(list, VK_SPACE);
    EXPECT_TRUE(list.Checked(2));
    EXPECT_TRUE(ShownChecked(list, 2));
    EXPECT_FALSE(list.Checked(1));
    kvtest::PressKey(list, VK_SPACE);
    EXPECT_FALSE(list.Checked(2));
    EXPECT_EQ(checkedEvents, (std::vector<int>{2, 2}));

    list.SetChecked(0, false);
    EXPECT_EQ(checkedEvents.size(), 2u) << "no change, no event";
    list.SetChecked(0, true);
    EXPECT_TRUE(ShownChecked(list, 0));
    EXPECT_EQ(checkedEvents, (std::vector<int>{2, 2, 0}));
}

// Sorting moves the selection and the focus with their rows.
TEST_P(ListStoreTest, SortingKeepsTheSelectionWithItsRows)
{
    Form form(TestStyle(L"TSortSelectionTestForm"));
    auto& list = BuildList(form, true);
    for (const wchar_t* name : {L"delta", L"alpha", L"charlie", L"bravo"}) list.AddItem(name);
    form.Show();
    list.SetSelected(0, true); // delta
    list.SetSelected(2, true); // charlie, focused last
    list.Sort([](const ListView::Row& a, const ListView::Row& b) { return a.caption.compare(b.caption); });
    EXPECT_EQ(ShownColumn(list, 0), (std::vector<std::wstring>{L"alpha", L"bravo", L"charlie", L"delta"}));
    EXPECT_EQ(list.SelCount(), 2);
    EXPECT_TRUE(list.Selected(2));
    EXPECT_TRUE(list.Selected(3));
    EXPECT_EQ(::SendMessageW(list.Handle(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED), 2);
    EXPECT_TRUE(list.GetRow(3).selected);
    EXPECT_FALSE(list.GetRow(0).selected);

    // Every row selected: still every row after a sort, and every row left after a deletion.
    for (int row = 0; row < list.Count(); ++row) list.SetSelected(row, true);
    list.Sort([](const ListView::Row& a, const ListView::Row& b) { return b.caption.compare(a.caption); });
    EXPECT_EQ(ShownColumn(list, 0), (std::vector<std::wstring>{L"delta", L"charlie", L"bravo", L"alpha"}));
    EXPECT_EQ(list.SelCount(), 4);
    list.DeleteItemsWhere([&](int row) { return list.Caption(row) == L"bravo"; });
    EXPECT_EQ(list.SelCount(), 3);
}

// A shift-click selects a range of rows: each row whose selection changed is
// told, however the list keeps its rows (a virtual list tells of a range at once).
TEST_P(ListStoreTest, AShiftClickTellsOfEachRowItSelects)
{
    Form form(TestStyle(L"TRangeTestForm"));
    auto& list = BuildList(form, true);
    for (const wchar_t* name : {L"alpha", L"bravo", L"charlie", L"delta", L"echo"}) list.AddItem(name);
    form.Show();
    kvtest::ClickRow(list, 1);
    std::vector<int> changed;
    list.OnChange = [&](int index) { changed.push_back(index); };
    const RECT label = list.ItemRect(3, LVIR_LABEL);
    const LPARAM at = MAKELPARAM((label.left + label.right) / 2, (label.top + label.bottom) / 2);
    ::PostMessageW(list.Handle(), WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT, at);
    ::PostMessageW(list.Handle(), WM_LBUTTONUP, MK_SHIFT, at);
    kvtest::Pump();
    EXPECT_EQ(list.SelCount(), 3);
    for (int row : {2, 3})
        EXPECT_NE(std::find(changed.begin(), changed.end(), row), changed.end()) << "row " << row << " was not told of";
    EXPECT_EQ(std::find(changed.begin(), changed.end(), 4), changed.end()) << "a row left alone is not told of";
}

TEST_P(ListStoreTest, ALoneRowKeepsItsSelectionThroughASort)
{
    Form form(TestStyle(L"TLoneRowTestForm"));
    auto& list = BuildList(form);
    list.AddItem(L"only");
    form.Show();
    list.SetSelected(0, true);
    list.Sort([](const ListView::Row& a, const ListView::Row& b) { return a.caption.compare(b.caption); });
    EXPECT_EQ(list.SelectedIndex(), 0);
}

// Typing a row's first letters moves the selection to it.
TEST_P(ListStoreTest, TypingARowsFirstLetterSelectsIt)
{
    Form form(TestStyle(L"TTypeAheadTestForm"));
    auto& list = BuildList(form);
    for (const wchar_t* name : {L"apple", L"banana", L"cherry"}) list.AddItem(name);
    form.Show();
    kvtest::ClickRow(list, 0);
    list.SetFocus();
    ::SendMessageW(list.Handle(), WM_CHAR, L'C', 1);
    kvtest::Pump();
    EXPECT_EQ(list.SelectedIndex(), 2);
}

TEST_P(ListStoreTest, DeletingRowsWherePickedKeepsTheOthersInOrder)
{
    Form form(TestStyle(L"TDeleteRowsTestForm"));
    auto& list = BuildList(form);
    for (const wchar_t* name : {L"keep 0", L"drop 1", L"drop 2", L"keep 3", L"drop 4"})
        list.AddItem(name, {}, -1, name[0] == L'd');
    std::vector<int> deleted;
    list.OnDeletion = [&](int index) { deleted.push_back(index); };
    form.Show();
    list.SetSelected(3, true);

    list.DeleteItemsWhere([&](int row) { return list.Checked(row); });
    EXPECT_EQ(kvtest::ReadColumn(list, 0), (std::vector<std::wstring>{L"keep 0", L"keep 3"}));
    EXPECT_EQ(ShownColumn(list, 0), (std::vector<std::wstring>{L"keep 0", L"keep 3"}));
    EXPECT_EQ(deleted, (std::vector<int>{4, 2, 1})) << "last to first, one event per row";
    EXPECT_EQ(list.SelectedIndex(), 1) << "the selected row stays selected where it went";
    EXPECT_FALSE(ShownChecked(list, 1));
    list.DeleteItem(0);
    EXPECT_EQ(ShownColumn(list, 0), std::vector<std::wstring>{L"keep 3"});
    EXPECT_EQ(list.SelectedIndex(), 0);
    list.DeleteItemsWhere([](int) { return true; });
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(::SendMessageW(list.Handle(), LVM_GETITEMCOUNT, 0, 0), 0);
    EXPECT_EQ(list.SelectedIndex(), -1);
    EXPECT_EQ(list.Caption(0), L"") << "a row out of range reads as nothing";
    EXPECT_FALSE(list.Checked(0));
}

LRESULT CALLBACK CountingDeletionNotices(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                         DWORD_PTR data)
{
    if (message == WM_NOTIFY && reinterpret_cast<const NMHDR*>(lParam)->code == LVN_DELETEITEM)
        ++*reinterpret_cast<int*>(data);
    return ::DefSubclassProc(window, message, wParam, lParam);
}

// Emptying a list sends its owner a notice a row only when a deletion handler
// listens for them; the handler, when there is one, still hears of every row.
TEST_F(FormsTest, EmptyingAListTellsOfEachRowOnlyWhenADeletionHandlerListens)
{
    Form form(TestStyle(L"TEmptyListTestForm"));
    form.Build({{Make<ListView>, L"List", idList, 0, 0, 0, 420, 300}});
    auto& list = form.Get<ListView>(idList);
    list.AddColumn(L"Name", 200);
    int notices = 0;
    ASSERT_TRUE(::SetWindowSubclass(form.Handle(), CountingDeletionNotices, 9, reinterpret_cast<DWORD_PTR>(&notices)));
    const auto fill = [&] {
        for (const wchar_t* name : {L"row 0", L"row 1", L"row 2"}) list.AddItem(name, {}, -1, true);
    };

    fill();
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(notices, 0) << "nobody listens";

    std::vector<int> deleted;
    list.OnDeletion = [&](int index) { deleted.push_back(index); };
    fill();
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    std::sort(deleted.begin(), deleted.end());
    EXPECT_EQ(deleted, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(notices, 3);
    ::RemoveWindowSubclass(form.Handle(), CountingDeletionNotices, 9);
}

// A column whose texts the owner keeps: the list asks for them by row key
// whenever it needs them (reads, sorts), and rows keep theirs through the
// sort and the deletion of other rows; a long text comes whole.
TEST_P(ListStoreTest, OwnerKeptTextsFollowTheirRowsThroughSortsAndDeletions)
{
    Form form(TestStyle(L"TOwnerKeptTestForm"));
    auto& list = BuildList(form);
    list.AddColumn(L"Folder", 200);
    list.AddColumn(L"Size", 60);
    std::map<LPARAM, std::wstring> folders;
    list.OnOwnerKeptText = [&](LPARAM key, int column) -> std::wstring_view {
        EXPECT_EQ(column, 1);
        return folders.at(key);
    };
    const std::wstring longFolder = L"C:\\" + std::wstring(700, L'x') + L"\\";
    for (const auto& [name, folder] : std::initializer_list<std::pair<const wchar_t*, std::wstring>>{
             {L"c.tmp", L"C:\\three\\"}, {L"a.tmp", longFolder}, {L"b.tmp", L"C:\\two\\"}}) {
        const int index = list.AddItem(name, {L"ignored", L"1 KB"}, -1, false, {1});
        EXPECT_EQ(list.NewestKey(), list.Key(index));
        folders[list.NewestKey()] = folder;
    }
    form.Show();
    EXPECT_EQ(list.SubItem(0, 1), L"C:\\three\\");
    EXPECT_EQ(list.SubItem(1, 1), longFolder);
    EXPECT_EQ(ShownText(list, 1, 1), longFolder);
    EXPECT_EQ(list.SubItem(2, 2), L"1 KB") << "the other columns are the list's own";
    EXPECT_EQ(ShownText(list, 2, 2), L"1 KB");
    list.Sort([](const ListView::Row& a, const ListView::Row& b) { return a.caption.compare(b.caption); });
    EXPECT_EQ(kvtest::ReadColumn(list, 1), (std::vector<std::wstring>{longFolder, L"C:\\two\\", L"C:\\three\\"}));
    EXPECT_EQ(ShownColumn(list, 1), kvtest::ReadColumn(list, 1));
    list.DeleteItem(0);
    EXPECT_EQ(list.GetRow(1).subItems.at(0), L"C:\\three\\");
    list.SetSubItem(1, 0, L"C:\\mine\\");
    EXPECT_EQ(ShownText(list, 1, 1), L"C:\\mine\\") << "a text set later is the list's own again";
}

TEST_F(FormsTest, EmptyingAnOwnerKeptListTellsTheDeletionHandlerOfEachRow)
{
    Form form(TestStyle(L"TEmptyOwnedTestForm"));
    form.Build({{MakeOwnedRowsList, L"List", idList, 0, 0, 0, 420, 300}});
    auto& list = form.Get<ListView>(idList);
    list.AddColumn(L"Name", 200);
    for (const wchar_t* name : {L"row 0", L"row 1", L"row 2"}) list.AddItem(name, {}, -1, true);
    std::vector<int> deleted;
    list.OnDeletion = [&](int index) { deleted.push_back(index); };
    list.Clear();
    EXPECT_EQ(deleted, (std::vector<int>{2, 1, 0}));
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(::SendMessageW(list.Handle(), LVM_GETITEMCOUNT, 0, 0), 0);
    list.AddItem(L"again");
    EXPECT_EQ(ShownColumn(list, 0), std::vector<std::wstring>{L"again"});
}

// A comparison that fails mid-sort is raised to the caller, and a list whose
// rows are its own keeps them in their order.
TEST_F(FormsTest, AFailedSortLeavesOwnerKeptRowsInTheirOrder)
{
    Form form(TestStyle(L"TFailedSortTestForm"));
    form.Build({{MakeOwnedRowsList, L"List", idList, 0, 0, 0, 420, 300}});
    auto& list = form.Get<ListView>(idList);
    list.AddColumn(L"Name", 200);
    for (const wchar_t* name : {L"b", L"c", L"a"}) list.AddItem(name);
    int comparisons = 0;
    EXPECT_THROW(list.Sort([&](const ListView::Row& a, const ListView::Row& b) {
        if (++comparisons == 2) throw std::runtime_error("no order");
        return a.caption.compare(b.caption);
    }),
                 std::runtime_error);
    EXPECT_EQ(ShownColumn(list, 0), (std::vector<std::wstring>{L"b", L"c", L"a"}));
}

// A procedure that counts the messages it passes on, as another component
// subclassing one of our controls would.
LRESULT CALLBACK CountingSubclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data)
{
    ++*reinterpret_cast<int*>(data);
    if (message == WM_NCDESTROY) *reinterpret_cast<int*>(data) = -1000;
    return ::DefSubclassProc(window, message, wParam, lParam);
}

TEST_F(FormsTest, ControlsAreFoundByTheirWindowsAndAnotherSubclassOnTopKeepsItsChain)
{
    int passed = 0;
    HWND listWindow = nullptr;
    {
        Form form(TestStyle(L"TFindControlTestForm"));
        form.Build({{Make<ListView>, L"List", idList, 0, 0, 0, 420, 300}});
        auto& list = form.Get<ListView>(idList);
        listWindow = list.Handle();
        list.AddColumn(L"Name", 200);
        EXPECT_EQ(WinControl::FromHandle(listWindow), &list);
        EXPECT_EQ(WinControl::FromHandle(form.Handle()), &form);
        EXPECT_EQ(WinControl::FromHandle(ListView_GetHeader(listWindow)), nullptr) << "the list's own header is not ours";
        EXPECT_EQ(WinControl::FromHandle(::GetDesktopWindow()), nullptr);

        ASSERT_TRUE(::SetWindowSubclass(listWindow, CountingSubclass, 7, reinterpret_cast<DWORD_PTR>(&passed)));
        std::vector<int> checkedEvents;
        list.OnItemChecked = [&](int index) { checkedEvents.push_back(index); };
        list.AddItem(L"row", {}, -1, false);
        list.SetChecked(0, true);
        EXPECT_EQ(list.Count(), 1) << "the list itself still answers";
        EXPECT_TRUE(list.Checked(0));
        EXPECT_EQ(checkedEvents, std::vector<int>{0}) << "notifications still reach the control";
        EXPECT_GT(passed, 0);
    }
    EXPECT_EQ(passed, -1000) << "the procedure on top saw the window's end";
    EXPECT_EQ(WinControl::FromHandle(listWindow), nullptr);
}

LRESULT CALLBACK CountingMoves(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data)
{
    if (message == WM_WINDOWPOSCHANGING) ++*reinterpret_cast<int*>(data);
    return ::DefSubclassProc(window, message, wParam, lParam);
}

// The windows a thread creates, as asked for: identifier, place and style.
struct CreatedWindow {
    int id;
    RECT place;
    LONG style;
};
std::vector<CreatedWindow>* createdWindows = nullptr;

LRESULT CALLBACK RecordCreation(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND && createdWindows) {
        const CREATESTRUCTW& asked = *reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs;
        if (asked.style & WS_CHILD)
            createdWindows->push_back({static_cast<int>(reinterpret_cast<INT_PTR>(asked.hMenu)),
                                       RECT{asked.x, asked.y, asked.x + asked.cx, asked.y + asked.cy}, asked.style});
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

RECT PlaceInParent(HWND window)
{
    RECT place{};
    ::GetWindowRect(window, &place);
    ::MapWindowPoints(nullptr, ::GetParent(window), reinterpret_cast<POINT*>(&place), 2);
    return place;
}

TEST_F(FormsTest, ALaidOutChildIsMadeInItsPlaceWithItsIdAndIsNotMovedAgainToWhereItIs)
{
    Form form(TestStyle(L"TPlacedChildrenTestForm"));
    std::vector<CreatedWindow> created;
    createdWindows = &created;
    HHOOK hook = ::SetWindowsHookExW(WH_CBT, RecordCreation, nullptr, ::GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    form.Build({
        {Make<Panel>, L"Shown", idPanel, 0, 10, 20, 100, 50},
        {Make<Panel>, L"Hidden", idPanel + 100, 0, 30, 40, 60, 70, nullptr, nullptr, lfHidden},
        {Make<Edit>, L"Edit", idEdit, idPanel, 5, 6, 80, 21},
        {Make<Button>, L"Button", idButton, 0, 120, 20, 75, 25},
        {Make<Label>, L"Label", idLabel, 0, 1, 2, 30, 16},
    });
    ::UnhookWindowsHookEx(hook);
    createdWindows = nullptr;
    // Each window is created where the layout puts it, hidden when it is to
    // be, never made at the origin and moved there.
    std::map<int, CreatedWindow> byId;
    for (const CreatedWindow& window : created) byId.emplace(window.id, window);
    const auto equal = [](const RECT& a, const RECT& b) { return ::EqualRect(&a, &b) != FALSE; };
    ASSERT_EQ(byId.count(idPanel) + byId.count(idPanel + 100) + byId.count(idEdit) + byId.count(idButton), 4u);
    EXPECT_PRED2(equal, byId[idPanel].place, (RECT{10, 20, 110, 70}));
    EXPECT_PRED2(equal, byId[idPanel + 100].place, (RECT{30, 40, 90, 110}));
    EXPECT_PRED2(equal, byId[idEdit].place, (RECT{5, 6, 85, 27}));
    EXPECT_PRED2(equal, byId[idButton].place, (RECT{120, 20, 195, 45}));
    EXPECT_TRUE(byId[idPanel].style & WS_VISIBLE);
    EXPECT_FALSE(byId[idPanel + 100].style & WS_VISIBLE);

    auto& shown = form.Get<Panel>(idPanel);
    auto& hidden = form.Get<Panel>(idPanel + 100);
    auto& edit = form.Get<Edit>(idEdit);
    auto& button = form.Get<Button>(idButton);
    EXPECT_PRED2(equal, PlaceInParent(shown.Handle()), (RECT{10, 20, 110, 70}));
    EXPECT_PRED2(equal, PlaceInParent(hidden.Handle()), (RECT{30, 40, 90, 110}));
    EXPECT_PRED2(equal, PlaceInParent(edit.Handle()), (RECT{5, 6, 85, 27}));
    EXPECT_PRED2(equal, PlaceInParent(button.Handle()), (RECT{120, 20, 195, 45}));
    EXPECT_TRUE(::GetWindowLongW(shown.Handle(), GWL_STYLE) & WS_VISIBLE);
    EXPECT_FALSE(::GetWindowLongW(hidden.Handle(), GWL_STYLE) & WS_VISIBLE);
    EXPECT_FALSE(hidden.Visible());
    EXPECT_EQ(::GetDlgCtrlID(shown.Handle()), idPanel);
    EXPECT_EQ(::GetDlgCtrlID(hidden.Handle()), idPanel + 100);
    EXPECT_EQ(::GetDlgCtrlID(edit.Handle()), idEdit);
    EXPECT_EQ(WinControl::FromHandle(shown.Handle()), &shown);
    // The place of the last layout row, a graphic control's, is not left to
    // the next window made by hand.
    form.Add<Panel>(form, idPanel + 200);
    EXPECT_PRED2(equal, PlaceInParent(form.Get<Panel>(idPanel + 200).Handle()), (RECT{0, 0, 0, 0}));

    int moves = 0;
    ASSERT_TRUE(::SetWindowSubclass(shown.Handle(), CountingMoves, 8, reinterpret_cast<DWORD_PTR>(&moves)));
    shown.SetBounds(10, 20, 100, 50);
    EXPECT_EQ(moves, 0) << "already there";
    shown.SetBounds(11, 20, 100, 50);
    EXPECT_GT(moves, 0);
    EXPECT_PRED2(equal, PlaceInParent(shown.Handle()), (RECT{11, 20, 111, 70}));
    moves = 0;
    shown.SetBounds(11, 20, 100, 0);
    shown.SetBounds(11, 20, 100, -3);
    EXPECT_EQ(moves, 1) << "a negative height is a height of 0";
    ::RemoveWindowSubclass(shown.Handle(), CountingMoves, 8);
}

TEST_F(FormsTest, AnExceptionInAWindowProcedureReachesTheHandlerAndTheLoopGoesOn)
{
    kvtest::ExceptionRecorder recorder;
    Form form(TestStyle(L"TThrowTestForm"));
    form.Build({{Make<Button>, L"Button", idButton, 0, 10, 10, 100, 24, L"Throw"}});
    auto& button = form.Get<Button>(idButton);
    button.OnClick = [] { throw std::runtime_error("clicked into a fault"); };
    form.Show();
    kvtest::Click(button);
    ASSERT_EQ(recorder.Messages().size(), 1u);
    EXPECT_EQ(recorder.Messages()[0], L"clicked into a fault");

    // The application's own loop keeps running after a throwing timer tick.
    Timer timer(10);
    int ticks = 0;
    timer.OnTimer = [&] {
        if (++ticks == 1) throw kv::Exception(L"timer fault");
        Application::Instance().Terminate(7);
    };
    timer.Start();
    EXPECT_EQ(Application::Instance().Run(), 7);
    EXPECT_EQ(ticks, 2);
    ASSERT_EQ(recorder.Messages().size(), 2u);
    EXPECT_EQ(recorder.Messages()[1], L"timer fault");
}

TEST_F(FormsTest, TimersTickApartAndNeverOnceStoppedOrGone)
{
    int fast = 0, slow = 0, gone = 0;
    Timer fastTimer(5), slowTimer(60);
    fastTimer.OnTimer = [&] {
        if (++fast == 3) fastTimer.Stop();
    };
    slowTimer.OnTimer = [&] { ++slow; };
    auto goneTimer = std::make_unique<Timer>(5);
    goneTimer->OnTimer = [&] { ++gone; };
    fastTimer.Start();
    slowTimer.Start();
    goneTimer->Start();
    goneTimer.reset();
    EXPECT_TRUE(kvtest::PumpUntil([&] { return slow >= 2; }, 3000));
    EXPECT_EQ(fast, 3) << "stopped from its own tick";
    EXPECT_EQ(gone, 0) << "freed before its first tick";
    slowTimer.Stop();
    fastTimer.SetInterval(10);
    fastTimer.Start();
    EXPECT_TRUE(kvtest::PumpUntil([&] { return fast >= 4; }, 3000)) << "started again";
    fastTimer.Stop();
    const int slowTicks = slow;
    kvtest::Pump(150);
    EXPECT_EQ(slow, slowTicks);
}

TEST_F(FormsTest, AModelessFormFreedOnCloseIsDestroyedNotEnded)
{
    Form form(TestStyle(L"TModelessTestForm"));
    form.OnClose = [](CloseAction& action) { action = CloseAction::Free; };
    form.Show();
    HWND window = form.Handle();
    ASSERT_TRUE(::IsWindow(window));
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    kvtest::Pump();
    EXPECT_FALSE(::IsWindow(window));
    EXPECT_EQ(kvtest::FindForm(L"TModelessTestForm"), nullptr);
}

TEST_F(FormsTest, AModelessFormHidesOnCloseByDefaultAndCanRefuse)
{
    Form form(TestStyle(L"THideTestForm"));
    bool allow = false;
    form.OnCloseQuery = [&](bool& canClose) { canClose = allow; };
    form.Show();
    ::PostMessageW(form.Handle(), WM_CLOSE, 0, 0);
    kvtest::Pump();
    EXPECT_TRUE(kvtest::IsFormVisible(L"THideTestForm"));
    allow = true;
    ::PostMessageW(form.Handle(), WM_CLOSE, 0, 0);
    kvtest::Pump();
    EXPECT_FALSE(kvtest::IsFormVisible(L"THideTestForm"));
    EXPECT_TRUE(::IsWindow(form.Handle()));
}

TEST_F(FormsTest, AModalFormDisablesTheOthersUntilItsResultIsSet)
{
    Form owner(TestStyle(L"TOwnerTestForm"));
    owner.Show();
    Form dialog(TestStyle(L"TModalTestForm"));
    dialog.Build({{Make<Button>, L"OKButton", idButton, 0, 10, 10, 80, 24, L"OK"}});
    auto& ok = dialog.Get<Button>(idButton);
    bool ownerEnabledDuringModal = true;
    ok.OnClick = [&] {
        ownerEnabledDuringModal = ::IsWindowEnabled(owner.Handle()) != FALSE;
        dialog.SetModalResult(mrOk);
    };
    Timer clickLater(30);
    clickLater.OnTimer = [&] {
        clickLater.Stop();
        kvtest::Click(ok);
    };
    clickLater.Start();
    EXPECT_EQ(dialog.ShowModal(), mrOk);
    EXPECT_FALSE(ownerEnabledDuringModal);
    EXPECT_TRUE(::IsWindowEnabled(owner.Handle()));
    EXPECT_FALSE(kvtest::IsFormVisible(L"TModalTestForm"));
}

TEST_F(FormsTest, EnterPressesTheFocusedButtonOrElseOKAndEscapePressesCancel)
{
    Form form(TestStyle(L"TKeysTestForm"));
    form.Build({
        {Make<Edit>, L"Edit", idEdit, 0, 10, 10, 120, 22},
        {Make<Button>, L"OKButton", IDOK, 0, 10, 40, 80, 24, L"OK", nullptr, lfDefault},
        {Make<Button>, L"CancelButton", IDCANCEL, 0, 100, 40, 80, 24, L"Cancel"},
    });
    std::vector<std::wstring> pressed;
    auto& ok = form.Get<Button>(IDOK);
    auto& cancel = form.Get<Button>(IDCANCEL);
    ok.OnClick = [&] { pressed.push_back(L"OK"); };
    cancel.OnClick = [&] { pressed.push_back(L"Cancel"); };
    form.Show();
    auto& edit = form.Get<Edit>(idEdit);
    edit.SetFocus();
    kvtest::PressKey(edit, VK_RETURN);
    kvtest::PressKey(edit, VK_ESCAPE);
    cancel.SetFocus();
    kvtest::PressKey(cancel, VK_RETURN);
    ok.SetEnabled(false);
    edit.SetFocus();
    kvtest::PressKey(edit, VK_RETURN); // a disabled OK is not pressed
    EXPECT_EQ(pressed, (std::vector<std::wstring>{L"OK", L"Cancel", L"Cancel"}));
}

TEST_F(FormsTest, GraphicControlsGetTheMouseFromTheirWindow)
{
    Form form(TestStyle(L"TGraphicTestForm"));
    form.Build({
        {Make<Panel>, L"Panel", idPanel, 0, 100, 100, 200, 100},
        {Make<Label>, L"Label", idLabel, 0, 10, 10, 80, 20, L"Hello", nullptr, lfHandCursor},
        {Make<Label>, L"PanelLabel", idPanelLabel, idPanel, 20, 20, 80, 20, L"Inside"},
    });
    auto& label = form.Get<Label>(idLabel);
    auto& inner = form.Get<Label>(idPanelLabel);
    std::vector<std::wstring> events;
    label.OnMouseEnter = [&] { events.push_back(L"enter"); };
    label.OnMouseLeave = [&] { events.push_back(L"leave"); };
    label.OnClick = [&] { events.push_back(L"click"); };
    label.OnMouseDown = [&](MouseButton b, UINT, int x, int y) {
        events.push_back(b == MouseButton::Right ? L"right down" : L"down " + std::to_wstring(x) + L"," + std::to_wstring(y));
    };
    inner.OnClick = [&] { events.push_back(L"inner click"); };
    form.Show();

    kvtest::MoveMouseTo(label);
    kvtest::Click(label, POINT{5, 6});
    kvtest::RightClick(label);
    kvtest::MoveMouseAway(label);
    kvtest::Click(inner);
    EXPECT_EQ(events, (std::vector<std::wstring>{L"enter", L"down 5,6", L"click", L"right down", L"leave", L"inner click"}));
    EXPECT_EQ(kvtest::TextOf(inner), L"Inside");

    // A disabled graphic control gets no presses.
    events.clear();
    label.SetEnabled(false);
    kvtest::Click(label);
    EXPECT_TRUE(std::find(events.begin(), events.end(), L"click") == events.end());
}

TEST_F(FormsTest, AMessageBoxTheFormOpensNeitherDeactivatesNorReactivatesIt)
{
    Form form(TestStyle(L"TActivateTestForm"));
    int activations = 0, deactivations = 0;
    form.OnActivate = [&] { ++activations; };
    form.OnDeactivate = [&] { ++deactivations; };
    form.Show();
    kvtest::Pump();
    ASSERT_EQ(activations, 1);
    {
        kvtest::MessageBoxAnswerer answerer(IDOK);
        ::MessageBoxW(form.Handle(), L"Settings exported successfully", L"Kestrelvane", MB_OK);
        ASSERT_EQ(answerer.Boxes().size(), 1u);
    }
    kvtest::Pump();
    EXPECT_EQ(activations, 1);
    EXPECT_EQ(deactivations, 0);

    Form other(TestStyle(L"TOtherTestForm"));
    other.Show();
    kvtest::Pump();
    EXPECT_EQ(deactivations, 1);
    kvtest::ActivateWindow(form.Handle());
    EXPECT_EQ(activations, 2);
}

TEST_F(FormsTest, TypingIntoAnEditFiresItsChanges)
{
    Form form(TestStyle(L"TEditTestForm"));
    form.Build({{Make<Edit>, L"FileNameEdit", idEdit, 0, 10, 10, 200, 22}});
    auto& edit = form.Get<Edit>(idEdit);
    int changes = 0;
    edit.OnChange = [&] { ++changes; };
    form.Show();
    kvtest::TypeText(edit, L"*.tmp");
    EXPECT_EQ(edit.Text(), L"*.tmp");
    EXPECT_EQ(changes, 5);
}

TEST_F(FormsTest, APopupMenuShowsCurrentStatesAndRunsTheChosenItem)
{
    PopupMenu menu;
    auto& save = menu.Add(L"SaveItem", L"&Save List");
    auto& tips = menu.Add(L"TipsItem", L"Show Balloon Tips");
    tips.AutoCheck = true;
    auto& sub = menu.Add(L"FilterOptions", L"Filter Options");
    auto& empty = sub.Add(L"FindEmpty", L"Find Empty Folder");
    int saves = 0, empties = 0;
    save.OnClick = [&] { ++saves; };
    empty.OnClick = [&] { ++empties; };
    menu.OnPopup = [&] { save.Enabled = false; };
    {
        kvtest::MenuChooser chooser(L"Save List");
        menu.Popup(10, 10);
        EXPECT_TRUE(chooser.Opened());
        EXPECT_FALSE(chooser.Chosen()); // disabled by OnPopup before the menu showed
    }
    EXPECT_EQ(saves, 0);
    {
        kvtest::MenuChooser chooser(L"Show Balloon Tips");
        menu.Popup(10, 10);
        ASSERT_TRUE(chooser.EntryOf(L"Show Balloon Tips"));
        EXPECT_FALSE(chooser.EntryOf(L"Show Balloon Tips")->checked);
    }
    EXPECT_TRUE(tips.Checked);
    {
        kvtest::MenuChooser chooser(L"Find Empty Folder");
        menu.Popup(10, 10);
        EXPECT_TRUE(chooser.EntryOf(L"Show Balloon Tips")->checked);
    }
    EXPECT_EQ(empties, 1);
}

TEST_F(FormsTest, FileDialogsAreAnsweredInTestsAndFiltersConvert)
{
    EXPECT_EQ(SystemFilterText(L"Text Files|*.txt"), std::wstring(L"Text Files\0*.txt\0\0", 18));
    FileDialog save(FileDialog::Kind::Save);
    save.FileName = L"KVScan.txt";
    save.DefaultExt = L"*.txt";
    save.Filter = L"Text Files|*.txt";
    {
        kvtest::FileDialogAnswer answer(std::wstring(L"C:\\kvtest\\out.txt"));
        EXPECT_TRUE(save.Execute());
        EXPECT_EQ(save.FileName, L"C:\\kvtest\\out.txt");
        EXPECT_EQ(answer.LastFileName, L"KVScan.txt");
        EXPECT_EQ(answer.LastFilter, L"Text Files|*.txt");
    }
    kvtest::FileDialogAnswer cancel(std::nullopt);
    EXPECT_FALSE(save.Execute());
}

TEST_F(FormsTest, MessageBoxesAreReadAndAnswered)
{
    kvtest::MessageBoxAnswerer answerer(IDNO);
    EXPECT_EQ(::MessageBoxW(nullptr, L"Continue?", L"Warning", MB_YESNO | MB_ICONWARNING), IDNO);
    answerer.SetAnswer(IDYES);
    EXPECT_EQ(::MessageBoxW(nullptr, L"Really?", L"Kestrelvane", MB_YESNO), IDYES);
    ASSERT_EQ(answerer.Boxes().size(), 2u);
    EXPECT_EQ(answerer.Boxes()[0].caption, L"Warning");
    EXPECT_EQ(answerer.Boxes()[0].text, L"Continue?");
    EXPECT_EQ(answerer.Boxes()[1].text, L"Really?");
}

TEST_F(FormsTest, PicturesComeFromResourcesWithTheirTransparency)
{
    const Bitmap icons = Bitmap::FromPngResource(L"ICONS");
    EXPECT_EQ(icons.Height(), 16);
    EXPECT_EQ(icons.Width(), 16 * 40);
    EXPECT_EQ(icons.Pixel(0, 0) >> 24, 0u);       // the drive icon's corner is transparent
    EXPECT_EQ(icons.Pixel(8, 8) >> 24, 255u);     // and its body is opaque
    ImageList list;
    list.LoadStrip(icons, 16);
    EXPECT_EQ(list.Count(), 40);
    EXPECT_THROW(Bitmap::FromPngResource(L"NOSUCHPICTURE"), kv::Exception);
    const char notAPicture[] = "plain text";
    EXPECT_THROW(Bitmap::FromImageBytes(notAPicture, sizeof(notAPicture)), kv::Exception);
}

TEST_F(FormsTest, ImagesAreDrawnByTheirWindow)
{
    Form form(TestStyle(L"TImageTestForm"));
    form.Build({{Make<Image>, L"Picture", idImage, 0, 20, 20, 96, 32, nullptr, L"BUTTONSTART"}});
    const auto& image = form.Get<Image>(idImage);
    form.Show();
    const COLORREF drawn = kvtest::ShownPixel(image, POINT{30, 16});
    const std::uint32_t source = image.Picture().Pixel(30, 16);
    EXPECT_EQ(GetRValue(drawn), (source >> 16) & 0xFF);
    EXPECT_EQ(GetBValue(drawn), source & 0xFF);
}

TEST_F(FormsTest, HintsReachTheApplication)
{
    Form form(TestStyle(L"THintTestForm"));
    form.Build({{Make<Label>, L"Label", idLabel, 0, 10, 10, 80, 20, L"Hint me"}});
    auto& label = form.Get<Label>(idLabel);
    label.SetHint(L"Scan|Click to start scanning");
    std::vector<std::wstring> hints;
    Application::Instance().OnHint = [&](const std::wstring& hint) { hints.push_back(hint); };
    form.Show();
    kvtest::MoveMouseTo(label);
    kvtest::MoveMouseAway(label);
    Application::Instance().OnHint = nullptr;
    ASSERT_GE(hints.size(), 2u);
    EXPECT_EQ(hints[0], L"Click to start scanning");
    EXPECT_EQ(hints.back(), L"");
}

} // namespace
