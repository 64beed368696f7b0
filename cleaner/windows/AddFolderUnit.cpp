#include "cleaner/windows/AddFolderUnit.h"

#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/windows/LangDataUnit.h"
#include "platform/Format.h"

namespace kv {
namespace {

forms::FormStyle AddFolderStyle()
{
    forms::FormStyle style;
    style.className = L"TAddFolderForm";
    style.clientWidth = 420;
    style.clientHeight = 200;
    style.border = forms::BorderStyle::Dialog;
    style.position = forms::FormPosition::MainFormCenter;
    return style;
}

std::wstring PathEntry(int kind, const std::wstring& folder) { return Format(L"%d %s", {kind, folder}); }

} // namespace

TAddFolderForm::TAddFolderForm(forms::ListView& pathListView) : forms::Form(AddFolderStyle()), paths_(pathListView)
{
    using namespace forms;
    Build({
        {Make<GroupBox>, L"AddFolderGroupBox", idAddFolderGroupBox, 0, 8, 6, 404, 62},
        {Make<Edit>, L"FolderEdit", idFolderEdit, idAddFolderGroupBox, 12, 24, 296, 23, nullptr, nullptr, lfGroup},
        {Make<Button>, L"btnSelectFolder", idBtnSelectFolder, idAddFolderGroupBox, 316, 23, 78, 25},
        {Make<GroupBox>, L"ActionGroupBox", idActionGroupBox, 0, 8, 74, 404, 80},
        {Make<RadioButton>, L"IncludeRadioButton", idIncludeRadioButton, idActionGroupBox, 12, 22, 120, 20, nullptr,
         nullptr, lfChecked | lfGroup},
        {Make<RadioButton>, L"ExcludeRadioButton", idExcludeRadioButton, idActionGroupBox, 142, 22, 120, 20},
        {Make<RadioButton>, L"EmptyRadioButton", idEmptyRadioButton, idActionGroupBox, 272, 22, 120, 20},
        {Make<CheckBox>, L"SubFolderCheckBox", idSubFolderCheckBox, idActionGroupBox, 12, 48, 360, 20, nullptr, nullptr,
         lfChecked | lfGroup},
        {Make<Button>, L"SaveButton", idSaveButton, 0, 236, 164, 84, 26, nullptr, nullptr, lfDefault | lfGroup},
        {Make<Button>, L"CancelButton", idCancelButton, 0, 328, 164, 84, 26},
    });
    AddFolderGroupBox = &Get<GroupBox>(idAddFolderGroupBox);
    FolderEdit = &Get<Edit>(idFolderEdit);
    btnSelectFolder = &Get<Button>(idBtnSelectFolder);
    ActionGroupBox = &Get<GroupBox>(idActionGroupBox);
    IncludeRadioButton = &Get<RadioButton>(idIncludeRadioButton);
    ExcludeRadioButton = &Get<RadioButton>(idExcludeRadioButton);
    EmptyRadioButton = &Get<RadioButton>(idEmptyRadioButton);
    SubFolderCheckBox = &Get<CheckBox>(idSubFolderCheckBox);
    SaveButton = &Get<Button>(idSaveButton);
    CancelButton = &Get<Button>(idCancelButton);

    OnActivate = [this] { FormActivate(); };
    OnClose = [this](CloseAction&) { FormClose(); };
    FolderEdit->OnChange = [this] { FolderEditChange(); };
    for (Control* choice : std::initializer_list<Control*>{IncludeRadioButton, ExcludeRadioButton, EmptyRadioButton,
                                                            SubFolderCheckBox})
        choice->OnClick = [this] { FolderEditChange(); };
    btnSelectFolder->OnClick = [this] { btnSelectFolderClick(); };
    SaveButton->OnClick = [this] { SaveButtonClick(); };
    CancelButton->OnClick = [this] { CancelButtonClick(); };
    FormCreate();
}

void TAddFolderForm::FormCreate()
{
    SetFontName(forms::ScreenHintFontName());
    SetCaption(LanguageText(222));
    AddFolderGroupBox->SetText(LanguageText(222));
    ActionGroupBox->SetText(LanguageText(226));
    IncludeRadioButton->SetText(LanguageText(210));
    ExcludeRadioButton->SetText(LanguageText(211));
    EmptyRadioButton->SetText(LanguageText(225));
    SubFolderCheckBox->SetText(LanguageText(223));
    btnSelectFolder->SetText(LanguageText(224));
    SaveButton->SetText(LanguageText(160));
    CancelButton->SetText(LanguageText(161));
    SaveButton->SetEnabled(false);
    ExistingPaths.Clear();
    for (int row = 0; row < paths_.Count(); ++row) {
        const int image = paths_.ImageIndex(row);
        ExistingPaths.Add(PathEntry(image == pkDrive ? pkIncludeWithSubFolders : image, paths_.Caption(row)));
    }
}

void TAddFolderForm::FormActivate()
{
    if (Tag == modeNew) btnSelectFolderClick();
}

void TAddFolderForm::FormClose() { ExistingPaths.Clear(); }

PathKind TAddFolderForm::GetPathKind() const
{
    const bool withSubFolders = SubFolderCheckBox->Checked();
    if (IncludeRadioButton->Checked()) return withSubFolders ? pkIncludeWithSubFolders : pkIncludeFolder;
    if (ExcludeRadioButton->Checked()) return withSubFolders ? pkExcludeWithSubFolders : pkExcludeFolder;
    if (EmptyRadioButton->Checked()) return withSubFolders ? pkEmptyWithSubFolders : pkEmptyFolder;
    return pkNone;
}

void TAddFolderForm::ShowPathKind(PathKind kind)
{
    switch (kind) {
    case pkIncludeFolder:
    case pkIncludeWithSubFolders:
        IncludeRadioButton->SetChecked(true);
        break;
    case pkExcludeFolder:
    case pkExcludeWithSubFolders:
        ExcludeRadioButton->SetChecked(true);
        break;
    case pkEmptyFolder:
    case pkEmptyWithSubFolders:
        EmptyRadioButton->SetChecked(true);
        break;
    default:
        return;
    }
    SubFolderCheckBox->SetChecked(kind == pkIncludeWithSubFolders || kind == pkExcludeWithSubFolders ||
                                  kind == pkEmptyWithSubFolders);
}

void TAddFolderForm::FolderEditChange()
{
    const std::wstring folder = FolderEdit->Text();
    const bool usable = !folder.empty() && folder.back() != L'\\' && folder.back() != L'/' && FolderExists(folder);
    SaveButton->SetEnabled(usable && ExistingPaths.IndexOf(PathEntry(GetPathKind(), folder)) < 0);
}

void TAddFolderForm::btnSelectFolderClick()
{
    int title = 61;
    if (ExcludeRadioButton->Checked()) title = 62;
    if (EmptyRadioButton->Checked()) title = 63;
    if (const auto folder = BrowseForFolder(Handle(), LanguageText(title), L"", BrowseStartFolder)) FolderEdit->SetText(*folder);
}

void TAddFolderForm::SaveButtonClick()
{
    // Save is enabled only for a folder without a trailing separator, but
    // the list must never hold one whatever enabled the button.
    std::wstring folder = FolderEdit->Text();
    while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
    const PathKind kind = GetPathKind();
    if (folder.empty() || kind == pkNone) return;
    if (Tag == modeNew) {
        paths_.AddItem(folder, {}, kind, true);
    } else {
        const int row = paths_.SelectedIndex();
        if (row < 0) return;
        paths_.SetCaption(row, folder);
        paths_.SetImageIndex(row, kind);
    }
    SetModalResult(forms::mrOk);
    Close();
}

void TAddFolderForm::CancelButtonClick()
{
    SetModalResult(forms::mrCancel);
    Close();
}

} // namespace kv
