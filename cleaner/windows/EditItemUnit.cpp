#include "cleaner/windows/EditItemUnit.h"

#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/SettingsStore.h"
#include "cleaner/windows/LangDataUnit.h"

namespace kv {
namespace {

forms::FormStyle EditItemStyle()
{
    forms::FormStyle style;
    style.className = L"TEditItemForm";
    style.clientWidth = 400;
    style.clientHeight = 232;
    style.border = forms::BorderStyle::Dialog;
    style.position = forms::FormPosition::ScreenCenter;
    style.keyPreview = true;
    return style;
}

} // namespace

TEditItemForm::TEditItemForm(forms::ListView& filtersListView) : forms::Form(EditItemStyle()), filters_(filtersListView)
{
    using namespace forms;
    Build({
        {Make<GroupBox>, L"GroupBox3", idGroupBox3, 0, 8, 6, 384, 50},
        {Make<RadioButton>, L"IncludeRadioButton", idIncludeRadioButton, idGroupBox3, 12, 20, 150, 20, nullptr, nullptr,
         lfChecked | lfGroup},
        {Make<RadioButton>, L"ExcludeRadioButton", idExcludeRadioButton, idGroupBox3, 182, 20, 150, 20},
        {Make<GroupBox>, L"GroupBox1", idGroupBox1, 0, 8, 62, 384, 54},
        {Make<Edit>, L"FileNameEdit", idFileNameEdit, idGroupBox1, 12, 22, 360, 23, nullptr, nullptr, lfGroup},
        {Make<GroupBox>, L"GroupBox2", idGroupBox2, 0, 8, 122, 384, 54},
        {Make<Edit>, L"DescriptionEdit", idDescriptionEdit, idGroupBox2, 12, 22, 360, 23, nullptr, nullptr, lfGroup},
        {Make<Button>, L"SaveButton", idSaveButton, 0, 216, 196, 84, 26, nullptr, nullptr, lfDefault | lfGroup},
        {Make<Button>, L"CancelButton", idCancelButton, 0, 308, 196, 84, 26},
    });
    GroupBox3 = &Get<GroupBox>(idGroupBox3);
    IncludeRadioButton = &Get<RadioButton>(idIncludeRadioButton);
    ExcludeRadioButton = &Get<RadioButton>(idExcludeRadioButton);
    GroupBox1 = &Get<GroupBox>(idGroupBox1);
    FileNameEdit = &Get<Edit>(idFileNameEdit);
    GroupBox2 = &Get<GroupBox>(idGroupBox2);
    DescriptionEdit = &Get<Edit>(idDescriptionEdit);
    SaveButton = &Get<Button>(idSaveButton);
    CancelButton = &Get<Button>(idCancelButton);
    FileNameEdit->SetMaxLength(kMaxMaskLength);

    OnActivate = [this] { FormActivate(); };
    OnKeyDown = [this](WPARAM key, bool& handled) { FormKeyDown(key, handled); };
    OnClose = [this](CloseAction&) { FormClose(); };
    FileNameEdit->OnChange = [this] { FileNameEditChange(); };
    DescriptionEdit->OnChange = [this] { FileNameEditChange(); };
    IncludeRadioButton->OnClick = [this] { IncludeRadioButtonClick(); };
    ExcludeRadioButton->OnClick = [this] { ExcludeRadioButtonClick(); };
    SaveButton->OnClick = [this] { SaveButtonClick(); };
    CancelButton->OnClick = [this] { CancelButtonClick(); };
    FormCreate();
}

void TEditItemForm::FormCreate()
{
    SetFontName(forms::ScreenHintFontName());
    GroupBox3->SetText(LanguageText(157));
    GroupBox1->SetText(LanguageText(158));
    GroupBox2->SetText(LanguageText(159));
    SaveButton->SetText(LanguageText(160));
    CancelButton->SetText(LanguageText(161));
    IncludeRadioButton->SetText(LanguageText(210));
    ExcludeRadioButton->SetText(LanguageText(211));
    SaveButton->SetEnabled(false);
    ExistingMasks.Clear();
    for (int row = 0; row < filters_.Count(); ++row) ExistingMasks.Add(filters_.SubItem(row, 1));
}

void TEditItemForm::FormActivate() { FileNameEdit->SetFocus(); }

void TEditItemForm::FormKeyDown(WPARAM key, bool& handled)
{
    if (key != VK_ESCAPE) return;
    handled = true;
    CancelButtonClick();
}

void TEditItemForm::FormClose() { ExistingMasks.Clear(); }

void TEditItemForm::FileNameEditChange() { SaveButton->SetEnabled(!FileNameEdit->Text().empty()); }

int TEditItemForm::SelectedImage() const
{
    const int row = filters_.SelectedIndex();
    return row < 0 ? -1 : filters_.ImageIndex(row);
}

void TEditItemForm::IncludeRadioButtonClick()
{
    // Changing only the kind of a filter is a change worth saving.
    if (Tag == modeEdit && IncludeRadioButton->Checked() && SelectedImage() == fkExclusive) SaveButton->SetEnabled(true);
}

void TEditItemForm::ExcludeRadioButtonClick()
{
    if (Tag == modeEdit && ExcludeRadioButton->Checked() && SelectedImage() == fkInclusive) SaveButton->SetEnabled(true);
}

void TEditItemForm::RefuseDuplicate()
{
    ShowMessageBox(Handle(), LanguageText(104), Text(), MB_OK | MB_ICONWARNING);
    FileNameEdit->SetFocus();
    FileNameEdit->SelectAll();
}

void TEditItemForm::SaveButtonClick()
{
    const std::wstring mask = FileNameEdit->Text();
    if (mask.empty()) return;
    const std::wstring description = DescriptionEdit->Text();
    const int image = IncludeRadioButton->Checked() ? fkInclusive : fkExclusive;
    const int existing = ExistingMasks.IndexOf(mask);
    if (Tag == modeNew) {
        if (existing >= 0) return RefuseDuplicate();
        const int row = filters_.AddItem(L"", {mask, MaskExtension(mask), description}, image, true);
        filters_.SetSelected(row, true);
        filters_.SetFocus();
        filters_.MakeVisible(row);
    } else {
        const int row = filters_.SelectedIndex();
        if (row < 0) return;
        if (existing >= 0 && existing != row) return RefuseDuplicate();
        filters_.SetImageIndex(row, image);
        filters_.SetSubItem(row, 0, mask);
        filters_.SetSubItem(row, 1, MaskExtension(mask));
        filters_.SetSubItem(row, 2, description);
    }
    SetModalResult(forms::mrOk);
    Close();
}

void TEditItemForm::CancelButtonClick()
{
    SetModalResult(forms::mrCancel);
    Close();
}

} // namespace kv
