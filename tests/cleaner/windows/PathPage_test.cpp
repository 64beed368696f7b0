// The Path page and the scan-path dialog: adding folders of every kind,
// editing and deleting rows, and the duplicate rules.
#include <gtest/gtest.h>

#include "MainWindowTestSupport.h"
#include "cleaner/windows/AddFolderUnit.h"
#include "platform/TextCodec.h"

using kvtest::MainWindowTest;

namespace {

kv::TAddFolderForm& DialogOf(HWND window)
{
    return dynamic_cast<kv::TAddFolderForm&>(*kv::forms::Form::FromHandle(window));
}

struct AddCase {
    const wchar_t* menuEntry;
    bool withSubFolders;
    int image;
    int pickerTitle;
};

TEST_F(MainWindowTest, AddingAFolderOfEachKindStoresItsImage)
{
    const std::wstring folder = kvtest::WithoutTrailingBackslash(kvtest::ScratchFolder(L"Added"));
    const AddCase cases[] = {
        {L"Add a folder that will be scanned", true, kv::pkIncludeWithSubFolders, 61},
        {L"Add a folder that will be scanned", false, kv::pkIncludeFolder, 61},
        {L"Add a folder that will NOT be scanned", true, kv::pkExcludeWithSubFolders, 62},
        {L"Add a folder that will NOT be scanned", false, kv::pkExcludeFolder, 62},
        {L"Add a folder that will be emptied every time", true, kv::pkEmptyWithSubFolders, 63},
        {L"Add a folder that will be emptied every time", false, kv::pkEmptyFolder, 63},
    };
    Open();
    kvtest::Click(*form->PathButton);
    for (const AddCase& c : cases) {
        kvtest::FolderPickerAnswer picker(folder);
        bool saveWasEnabled = false;
        kvtest::WhenShown dialog(L"TAddFolderForm", [&](HWND window) {
            kv::TAddFolderForm& d = DialogOf(window);
            if (!c.withSubFolders) kvtest::Click(*d.SubFolderCheckBox);
            saveWasEnabled = d.SaveButton->Enabled();
            kvtest::Click(*d.SaveButton);
        });
        kvtest::MenuChooser chooser(c.menuEntry);
        const int before = Paths().Count();
        kvtest::Click(*form->AddButton);
        ASSERT_TRUE(chooser.Chosen()) << c.menuEntry;
        ASSERT_TRUE(dialog.Ran());
        EXPECT_EQ(picker.TimesAsked(), 1) << "a new folder opens the picker at once";
        EXPECT_EQ(picker.LastCaption, kv::LanguageText(c.pickerTitle));
        EXPECT_TRUE(saveWasEnabled);
        ASSERT_EQ(Paths().Count(), before + 1) << c.menuEntry << " " << c.withSubFolders;
        const auto row = Paths().GetRow(before);
        EXPECT_EQ(row.caption, folder);
        EXPECT_EQ(row.image, c.image);
        EXPECT_TRUE(row.checked);
    }
    // The rows are stored in the three lists by kind.
    const kv::TSettings settings = form->CollectSettings();
    EXPECT_EQ(settings.InclusiveFolders.size(), 2u);
    EXPECT_EQ(settings.ExclusiveFolders.size(), 2u);
    ASSERT_EQ(settings.EmptyFolders.size(), 2u);
    EXPECT_EQ(settings.EmptyFolders[1].kind, kv::pkEmptyFolder);
}

TEST_F(MainWindowTest, TheScanPathDialogSavesOnEnterOnlyAValidFolderAndCancelsOnEscape)
{
    const std::wstring folder = kvtest::WithoutTrailingBackslash(kvtest::ScratchFolder(L"Keyed"));
    Open();
    kvtest::Click(*form->PathButton);
    const int before = Paths().Count();
    kvtest::FolderPickerAnswer picker(std::nullopt);
    auto run = [&](const std::wstring& text, WPARAM key) {
        bool stayedOpen = false;
        kvtest::WhenShown dialog(L"TAddFolderForm", [&](HWND window) {
            kv::TAddFolderForm& d = DialogOf(window);
            d.FolderEdit->SetText(L"");
            kvtest::TypeText(*d.FolderEdit, text + L"\\Missing");
            kvtest::PressKey(*d.FolderEdit, VK_RETURN); // Save is disabled for a folder that does not exist
            stayedOpen = ::IsWindowVisible(window) && d.ModalResultValue() == kv::forms::mrNone;
            d.FolderEdit->SetText(L"");
            kvtest::TypeText(*d.FolderEdit, text);
            kvtest::PressKey(*d.FolderEdit, key);
        });
        kvtest::MenuChooser chooser(L"Add a folder that will NOT be scanned");
        kvtest::Click(*form->AddButton);
        EXPECT_TRUE(dialog.Ran());
        EXPECT_TRUE(stayedOpen);
        EXPECT_FALSE(kvtest::IsFormVisible(L"TAddFolderForm"));
    };
    run(folder, VK_ESCAPE);
    EXPECT_EQ(Paths().Count(), before) << "Escape adds nothing";
    run(folder, VK_RETURN);
    ASSERT_EQ(Paths().Count(), before + 1);
    EXPECT_EQ(Paths().Caption(before), folder);
    EXPECT_EQ(Paths().ImageIndex(before), kv::pkExcludeWithSubFolders);
}

TEST_F(MainWindowTest, TheSameFolderMayBeListedOncePerKind)
{
    const std::wstring folder = kvtest::WithoutTrailingBackslash(kvtest::ScratchFolder(L"Listed"));
    Open();
    Paths().AddItem(folder, {}, kv::pkIncludeWithSubFolders, true);
    kv::TAddFolderForm dialog(Paths());
    auto saveEnabledFor = [&](const std::wstring& text, kv::forms::RadioButton* choice, bool withSubFolders) {
        choice->SetChecked(true);
        dialog.SubFolderCheckBox->SetChecked(withSubFolders);
        dialog.FolderEdit->SetText(text);
        return dialog.SaveButton->Enabled();
    };
    EXPECT_FALSE(saveEnabledFor(folder, dialog.IncludeRadioButton, true)) << "already there";
    EXPECT_FALSE(saveEnabledFor(kv::LowerCase(folder), dialog.IncludeRadioButton, true)) << "case is ignored";
    EXPECT_TRUE(saveEnabledFor(folder, dialog.IncludeRadioButton, false));
    EXPECT_TRUE(saveEnabledFor(folder, dialog.ExcludeRadioButton, true));
    EXPECT_TRUE(saveEnabledFor(folder, dialog.EmptyRadioButton, true));
    // A drive row counts as "include with sub-folders" of the drive.
    EXPECT_FALSE(saveEnabledFor(L"C:", dialog.IncludeRadioButton, true));
    EXPECT_TRUE(saveEnabledFor(L"C:", dialog.ExcludeRadioButton, false));
    // No trailing separator, and only folders that exist.
    EXPECT_FALSE(saveEnabledFor(folder + L"\\", dialog.ExcludeRadioButton, true));
    EXPECT_FALSE(saveEnabledFor(folder + L"/", dialog.ExcludeRadioButton, true));
    EXPECT_FALSE(saveEnabledFor(folder + L"\\Missing", dialog.ExcludeRadioButton, true));
    EXPECT_FALSE(saveEnabledFor(L"", dialog.ExcludeRadioButton, true));
}

TEST_F(MainWindowTest, DoubleClickEditsAFolderRowButNeverADrive)
{
    const std::wstring first = kvtest::WithoutTrailingBackslash(kvtest::ScratchFolder(L"First"));
    const std::wstring second = kvtest::WithoutTrailingBackslash(kvtest::ScratchFolder(L"Second"));
    Open();
    kvtest::Click(*form->PathButton);
    const int row = Paths().AddItem(first, {}, kv::pkEmptyFolder, true);
    kv::PathKind shownKind = kv::pkNone;
    std::wstring shownFolder;
    {
        kvtest::WhenShown dialog(L"TAddFolderForm", [&](HWND window) {
            kv::TAddFolderForm& d = DialogOf(window);
            shownKind = d.GetPathKind();
            shownFolder = d.FolderEdit->Text();
            d.FolderEdit->SetText(second);
            kvtest::Click(*d.ExcludeRadioButton);
            kvtest::Click(*d.SubFolderCheckBox);
            kvtest::Click(*d.SaveButton);
        });
        kvtest::FolderPickerAnswer picker(std::nullopt);
        Paths().SetSelected(row, true);
        form->PathPage().PathListViewDblClick();
        ASSERT_TRUE(dialog.Ran());
        EXPECT_EQ(picker.TimesAsked(), 0) << "editing does not open the picker";
    }
    EXPECT_EQ(shownKind, kv::pkEmptyFolder);
    EXPECT_EQ(shownFolder, first);
    EXPECT_EQ(Paths().Caption(row), second);
    EXPECT_EQ(Paths().ImageIndex(row), kv::pkExcludeWithSubFolders);

    kvtest::WhenShown never(L"TAddFolderForm", [](HWND window) { DialogOf(window).CancelButtonClick(); });
    Paths().SetSelected(0, true);
    form->PathPage().PathListViewDblClick();
    EXPECT_FALSE(never.Ran()) << "drive rows have no dialog";
}

TEST_F(MainWindowTest, DeleteRemovesFolderRowsButNotDrives)
{
    const std::wstring folder = kvtest::WithoutTrailingBackslash(kvtest::ScratchFolder(L"Deleted"));
    Open();
    kvtest::Click(*form->PathButton);
    const int drives = form->DriveCount;
    Paths().AddItem(folder, {}, kv::pkIncludeFolder, true);
    Paths().SetSelected(0, true);
    kvtest::Click(*form->DeleteButton);
    EXPECT_EQ(Paths().Count(), drives + 1);
    Paths().SetSelected(drives, true);
    kvtest::Click(*form->DeleteButton);
    EXPECT_EQ(Paths().Count(), drives);
}

TEST_F(MainWindowTest, CheckAllAndRemoveAllMarkEveryPathRow)
{
    Open();
    kvtest::Click(*form->PathButton);
    const auto filters = kvtest::ReadColumn(Filters(), 1);
    int filtersChecked = 0;
    for (const auto& row : kvtest::ReadRows(Filters())) filtersChecked += row.checked ? 1 : 0;
    kvtest::Click(*form->RemoveAllButton);
    for (const auto& row : kvtest::ReadRows(Paths())) EXPECT_FALSE(row.checked);
    kvtest::Click(*form->CheckAllButton);
    for (const auto& row : kvtest::ReadRows(Paths())) EXPECT_TRUE(row.checked);
    int stillChecked = 0;
    for (const auto& row : kvtest::ReadRows(Filters())) stillChecked += row.checked ? 1 : 0;
    EXPECT_EQ(stillChecked, filtersChecked) << "the other page's list is not touched";
    EXPECT_EQ(kvtest::ReadColumn(Filters(), 1), filters);
}

} // namespace
