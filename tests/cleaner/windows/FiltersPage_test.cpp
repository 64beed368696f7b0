// The Filters page and the filter editor: counts, sorting, the reset, the
// pop-up menu and the duplicate rules.
#include <gtest/gtest.h>

#include "MainWindowTestSupport.h"
#include "cleaner/windows/EditItemUnit.h"
#include "cleaner/windows/IconIndexes.h"

using kvtest::MainWindowTest;

namespace {

kv::TEditItemForm& EditorOf(HWND window)
{
    return dynamic_cast<kv::TEditItemForm&>(*kv::forms::Form::FromHandle(window));
}

class FiltersPageTest : public MainWindowTest {
protected:
    void OpenWith(std::initializer_list<kv::TFilterEntry> include, std::initializer_list<kv::TFilterEntry> exclude)
    {
        kv::SaveInclusiveFiles(std::vector<kv::TFilterEntry>(include));
        kv::SaveExclusiveFiles(std::vector<kv::TFilterEntry>(exclude));
        Open();
        kvtest::Click(*form->FiltersButton);
    }
    std::wstring Status() const { return kvtest::TextOf(*form->IndexLabel); }
    bool StatusBecomes(const std::wstring& text)
    {
        return kvtest::PumpUntil([&] { return Status() == text; }, 2000);
    }
};

TEST_F(FiltersPageTest, CountsFollowRowsAndCheckMarks)
{
    OpenWith({{true, L"*.tmp", L"a"}, {true, L"*.bak", L"b"}, {false, L"*.old", L"c"}, {false, L"*.chk", L"d"},
              {false, L"~*.*", L"e"}},
             {{true, L"*.doc", L"f"}});
    EXPECT_TRUE(StatusBecomes(L"<Filters Panel> - 5 Inclusive Filters (2 selected), 1 Exclusive Filters (1 selected)"))
        << kvtest::TextOf(*form->IndexLabel);
    kvtest::ClickCheckBox(Filters(), 2);
    EXPECT_TRUE(StatusBecomes(L"<Filters Panel> - 5 Inclusive Filters (3 selected), 1 Exclusive Filters (1 selected)"));
    Filters().SetSelected(5, true);
    kvtest::Click(*form->DeleteButton);
    EXPECT_TRUE(StatusBecomes(L"<Filters Panel> - 5 Inclusive Filters (3 selected), 0 Exclusive Filters (0 selected)"));
    EXPECT_FALSE(form->tiUpdateCountOfFilters.Enabled()) << "the timer stops itself";
}

TEST_F(FiltersPageTest, CountsFollowTheFilterEditorWhenItCloses)
{
    OpenWith({{true, L"*.tmp", L"a"}}, {});
    ASSERT_TRUE(StatusBecomes(L"<Filters Panel> - 1 Inclusive Filters (1 selected), 0 Exclusive Filters (0 selected)"));
    kvtest::WhenShown added(L"TEditItemForm", [](HWND window) {
        kv::TEditItemForm& e = EditorOf(window);
        kvtest::TypeText(*e.FileNameEdit, L"*.new");
        kvtest::Click(*e.ExcludeRadioButton);
        kvtest::Click(*e.SaveButton);
    });
    kvtest::Click(*form->AddButton);
    ASSERT_TRUE(added.Ran());
    EXPECT_TRUE(StatusBecomes(L"<Filters Panel> - 1 Inclusive Filters (1 selected), 1 Exclusive Filters (1 selected)"))
        << Status();

    Filters().SetSelected(0, true);
    kvtest::WhenShown edited(L"TEditItemForm", [](HWND window) {
        kv::TEditItemForm& e = EditorOf(window);
        kvtest::Click(*e.ExcludeRadioButton);
        kvtest::Click(*e.SaveButton);
    });
    form->FiltersPage().FiltersListViewDblClick();
    ASSERT_TRUE(edited.Ran());
    EXPECT_TRUE(StatusBecomes(L"<Filters Panel> - 0 Inclusive Filters (0 selected), 2 Exclusive Filters (2 selected)"))
        << Status();
}

TEST_F(FiltersPageTest, CountsAreNotShownOnOtherPages)
{
    OpenWith({{true, L"*.tmp", L"a"}}, {});
    kvtest::Click(*form->PathButton);
    Filters().SetChecked(0, false);
    kvtest::Pump(250);
    EXPECT_EQ(Status(), L"<Path Panel>");
}

TEST_F(FiltersPageTest, SortingByTheCheckColumnAlternatesAndArrowsFollowTheColumn)
{
    OpenWith({{true, L"*.b", L"2"}, {false, L"*.A", L"1"}, {true, L"*.c", L"3"}}, {{false, L"*.d", L"4"}});
    kvtest::ClickColumnHeader(Filters(), 0);
    auto rows = kvtest::ReadRows(Filters());
    EXPECT_FALSE(rows[0].checked);
    EXPECT_FALSE(rows[1].checked);
    EXPECT_TRUE(rows.back().checked) << "checked rows last";
    kvtest::ClickColumnHeader(Filters(), 0);
    rows = kvtest::ReadRows(Filters());
    EXPECT_TRUE(rows[0].checked) << "then first";
    EXPECT_EQ(Filters().ColumnImage(0), kv::iiCheckHeader) << "column 0 keeps its picture";

    kvtest::ClickColumnHeader(Filters(), 1);
    EXPECT_EQ(Filters().ColumnImage(1), kv::iiSortDown);
    const auto masks = kvtest::ReadColumn(Filters(), 1);
    const bool ascending = masks == std::vector<std::wstring>{L"*.A", L"*.b", L"*.c", L"*.d"};
    const bool descending = masks == std::vector<std::wstring>{L"*.d", L"*.c", L"*.b", L"*.A"};
    EXPECT_TRUE(ascending || descending) << "case is ignored";
    kvtest::ClickColumnHeader(Filters(), 1);
    EXPECT_EQ(Filters().ColumnImage(1), kv::iiSortUp);
    EXPECT_EQ(kvtest::ReadColumn(Filters(), 1).front(), ascending ? L"*.d" : L"*.A") << "the direction alternates";
    kvtest::ClickColumnHeader(Filters(), 3);
    EXPECT_EQ(Filters().ColumnImage(1), -1);
    EXPECT_EQ(Filters().ColumnImage(3), kv::iiSortDown);
}

TEST_F(FiltersPageTest, ResetRestoresTheFactoryListsOnlyWhenConfirmed)
{
    OpenWith({{true, L"*.mine", L"mine"}}, {});
    {
        kvtest::MessageBoxAnswerer no(IDNO);
        form->FiltersPage().ResetListMenuItemClick();
        ASSERT_EQ(no.Boxes().size(), 1u);
        EXPECT_EQ(no.Boxes()[0].text, kv::LanguageText(105));
        EXPECT_EQ(no.Boxes()[0].caption, kv::LanguageText(145));
    }
    EXPECT_EQ(Filters().Count(), 1);
    {
        kvtest::MessageBoxAnswerer yes(IDYES);
        kvtest::MenuChooser chooser(L"Reset List");
        kvtest::RightClick(Filters(), POINT{100, 60});
        ASSERT_TRUE(chooser.Opened());
        ASSERT_TRUE(chooser.Chosen());
    }
    const auto factoryInclude = kv::LoadInclusiveFiles(true);
    const auto factoryExclude = kv::LoadExclusiveFiles(true);
    ASSERT_EQ(Filters().Count(), static_cast<int>(factoryInclude.size() + factoryExclude.size()));
    EXPECT_EQ(Filters().SubItem(0, 1), factoryInclude.front().mask);
    EXPECT_EQ(Filters().ImageIndex(Filters().Count() - 1), kv::fkExclusive);
}

TEST_F(FiltersPageTest, EditAndDeleteEntriesNeedASelectedRow)
{
    OpenWith({{true, L"*.tmp", L"a"}}, {});
    {
        kvtest::MenuChooser chooser(L"no such entry");
        kvtest::RightClick(Filters(), POINT{200, 200});
        ASSERT_TRUE(chooser.Opened());
        EXPECT_FALSE(chooser.EntryOf(L"Edit this Filter")->enabled);
        EXPECT_FALSE(chooser.EntryOf(L"Delete this Filter")->enabled);
        EXPECT_TRUE(chooser.EntryOf(L"Add a Filter")->enabled);
    }
    Filters().SetSelected(0, true);
    {
        kvtest::MenuChooser chooser(L"Delete this Filter");
        kvtest::RightClick(Filters(), POINT{100, Filters().ItemRect(0).top + 4});
        ASSERT_TRUE(chooser.Chosen());
    }
    EXPECT_EQ(Filters().Count(), 0);
}

TEST_F(FiltersPageTest, AddedFilterIsCheckedSelectedAndStored)
{
    OpenWith({{true, L"*.tmp", L"a"}}, {});
    kvtest::WhenShown editor(L"TEditItemForm", [](HWND window) {
        kv::TEditItemForm& e = EditorOf(window);
        EXPECT_EQ(e.Text(), kv::LanguageText(134));
        EXPECT_FALSE(e.SaveButton->Enabled()) << "no mask yet";
        kvtest::TypeText(*e.FileNameEdit, L"*.junk");
        EXPECT_TRUE(e.SaveButton->Enabled());
        kvtest::TypeText(*e.DescriptionEdit, L"Junk files");
        kvtest::Click(*e.ExcludeRadioButton);
        kvtest::Click(*e.SaveButton);
    });
    kvtest::Click(*form->AddButton);
    ASSERT_TRUE(editor.Ran());
    ASSERT_EQ(Filters().Count(), 2);
    const auto row = Filters().GetRow(1);
    EXPECT_EQ(row.subItems, (std::vector<std::wstring>{L"*.junk", L".junk", L"Junk files"}));
    EXPECT_EQ(row.image, kv::fkExclusive);
    EXPECT_TRUE(row.checked);
    EXPECT_TRUE(row.selected);
    const kv::TSettings settings = form->CollectSettings();
    ASSERT_EQ(settings.ExclusiveFiles.size(), 1u);
    EXPECT_EQ(settings.ExclusiveFiles[0], (kv::TFilterEntry{true, L"*.junk", L"Junk files"}));
}

TEST_F(FiltersPageTest, EnterSavesTheFilterFromEitherEditAndEscapeCancels)
{
    OpenWith({{true, L"*.tmp", L"a"}}, {});
    auto add = [&](const std::wstring& mask, bool fromDescription, WPARAM key) {
        kvtest::WhenShown editor(L"TEditItemForm", [&](HWND window) {
            kv::TEditItemForm& e = EditorOf(window);
            kvtest::PressKey(*e.FileNameEdit, VK_RETURN); // no mask yet: Save is disabled
            EXPECT_TRUE(::IsWindowVisible(window));
            kvtest::TypeText(*e.FileNameEdit, mask);
            kvtest::TypeText(*e.DescriptionEdit, L"typed");
            kvtest::PressKey(fromDescription ? *e.DescriptionEdit : *e.FileNameEdit, key);
        });
        kvtest::Click(*form->AddButton);
        EXPECT_TRUE(editor.Ran());
        EXPECT_FALSE(kvtest::IsFormVisible(L"TEditItemForm"));
    };
    add(L"*.esc", false, VK_ESCAPE);
    EXPECT_EQ(Filters().Count(), 1);
    add(L"*.one", false, VK_RETURN);
    add(L"*.two", true, VK_RETURN);
    EXPECT_EQ(kvtest::ReadColumn(Filters(), 1), (std::vector<std::wstring>{L"*.tmp", L"*.one", L"*.two"}));
}

TEST_F(FiltersPageTest, ADuplicateMaskIsRefusedIgnoringCaseAndTheEditorStaysOpen)
{
    OpenWith({{true, L"*.tmp", L"a"}}, {});
    bool stayedOpen = false;
    std::vector<kvtest::MessageBoxAnswerer::Seen> boxes;
    kvtest::WhenShown editor(L"TEditItemForm", [&](HWND window) {
        kv::TEditItemForm& e = EditorOf(window);
        kvtest::TypeText(*e.FileNameEdit, L"*.TMP");
        {
            kvtest::MessageBoxAnswerer ok(IDOK);
            kvtest::Click(*e.SaveButton);
            boxes = ok.Boxes();
        }
        stayedOpen = ::IsWindowVisible(window) && e.ModalResultValue() == kv::forms::mrNone;
        kvtest::PressKey(*e.FileNameEdit, VK_ESCAPE);
    });
    kvtest::Click(*form->AddButton);
    ASSERT_TRUE(editor.Ran());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, kv::LanguageText(104));
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(Filters().Count(), 1) << "Escape closed the editor without adding";
}

TEST_F(FiltersPageTest, EditingAcceptsTheRowsOwnMaskButNotAnotherRows)
{
    OpenWith({{true, L"*.tmp", L"a"}, {true, L"*.bak", L"b"}}, {});
    Filters().SetSelected(0, true);
    kv::TEditItemForm editor(Filters());
    editor.Tag = kv::TEditItemForm::modeEdit;
    editor.FileNameEdit->SetText(L"*.TMP");
    editor.DescriptionEdit->SetText(L"changed");
    {
        kvtest::MessageBoxAnswerer ok(IDOK);
        editor.SaveButtonClick();
        EXPECT_TRUE(ok.Boxes().empty()) << "its own index is allowed";
    }
    EXPECT_EQ(editor.ModalResultValue(), kv::forms::mrOk);
    EXPECT_EQ(Filters().GetRow(0).subItems, (std::vector<std::wstring>{L"*.TMP", L".TMP", L"changed"}));

    kv::TEditItemForm other(Filters());
    other.Tag = kv::TEditItemForm::modeEdit;
    other.FileNameEdit->SetText(L"*.Bak");
    {
        kvtest::MessageBoxAnswerer ok(IDOK);
        other.SaveButtonClick();
        ASSERT_EQ(ok.Boxes().size(), 1u);
    }
    EXPECT_EQ(other.ModalResultValue(), kv::forms::mrNone);
    EXPECT_EQ(Filters().SubItem(0, 1), L"*.TMP");
}

TEST_F(FiltersPageTest, DoubleClickOpensTheEditorWithTheRowAndSaveWaitsForAChange)
{
    OpenWith({}, {{true, L"*.doc", L"Documents"}});
    Filters().SetSelected(0, true);
    bool saveAtFirst = true, saveAfterKind = false, includeChecked = true;
    std::wstring mask, description, caption;
    kvtest::WhenShown editor(L"TEditItemForm", [&](HWND window) {
        kv::TEditItemForm& e = EditorOf(window);
        caption = e.Text();
        mask = e.FileNameEdit->Text();
        description = e.DescriptionEdit->Text();
        includeChecked = e.IncludeRadioButton->Checked();
        saveAtFirst = e.SaveButton->Enabled();
        kvtest::Click(*e.IncludeRadioButton);
        saveAfterKind = e.SaveButton->Enabled();
        kvtest::Click(*e.SaveButton);
    });
    form->FiltersPage().FiltersListViewDblClick();
    ASSERT_TRUE(editor.Ran());
    EXPECT_EQ(caption, kv::LanguageText(149));
    EXPECT_EQ(mask, L"*.doc");
    EXPECT_EQ(description, L"Documents");
    EXPECT_FALSE(includeChecked);
    EXPECT_FALSE(saveAtFirst);
    EXPECT_TRUE(saveAfterKind) << "turning an exclude filter into an include filter is a change";
    EXPECT_EQ(Filters().ImageIndex(0), kv::fkInclusive);
}

} // namespace
