#include "cleaner/windows/SpecifyFolderUnit.h"

#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/JunkCleaner.h"
#include "cleaner/windows/UiText.h"
#include "platform/Format.h"
#include "platform/forms/Graphics.h"
#include "platform/Paths.h"

namespace kv {
namespace {

constexpr wchar_t kProgramName[] = L"Kestrelvane";

enum TSpecifyFolderText : int {
    sfSelectFolder = 151,
    sfLogMissing = 153,
    sfCaption = 162,
    sfFolderGroup = 163,
    sfLogGroup = 164,
    sfRestored = 165,
    sfEditFileName = 166,
    sfOK = 167,
    sfCancel = 168,
    sfRestore = 137,
};

forms::FormStyle SpecifyFolderStyle()
{
    forms::FormStyle style;
    style.className = L"TSpecifyFolderForm";
    style.caption = L"Specify a folder";
    style.clientWidth = 408;
    style.clientHeight = 176;
    style.border = forms::BorderStyle::Dialog;
    style.position = forms::FormPosition::MainFormCenter;
    return style;
}

std::wstring NotRestoredMessage(const TRestoreResult& result)
{
    std::wstring text = Format(RestoreIncompleteText, {static_cast<int>(result.notRestored.size())});
    text += L"\r\n";
    int listed = 0;
    for (const std::wstring& path : result.notRestored) {
        if (listed++ == RestoreIncompleteListed) {
            text += L"\r\n...";
            break;
        }
        text += L"\r\n" + path;
    }
    return text;
}

} // namespace

TSpecifyFolderForm::TSpecifyFolderForm(TSettings& settings, std::function<void()> updateCleanMethodDisplay, HWND owner)
    : forms::Form(SpecifyFolderStyle(), owner),
      settings_(settings),
      updateCleanMethodDisplay_(std::move(updateCleanMethodDisplay))
{
    using namespace forms;
    Build({
        {Make<GroupBox>, L"GroupBox1", idGroupBox1, 0, 8, 6, 392, 60},
        {Make<Label>, L"FolderNameLabel", idFolderNameLabel, idGroupBox1, 15, 29, 314, 17},
        {Make<Button>, L"SelectFolderButton", idSelectFolderButton, idGroupBox1, 338, 25, 42, 24, L"..."},
        {Make<GroupBox>, L"GroupBox2", idGroupBox2, 0, 8, 72, 392, 60},
        {Make<Edit>, L"FileNameEdit", idFileNameEdit, idGroupBox2, 12, 26, 320, 22},
        // The language table gives these two buttons hints, not captions: signs stand on them.
        {Make<GlyphButton>, L"EditFileNameButton", idEditFileNameButton, idGroupBox2, 338, 25, 42, 24},
        {Make<Button>, L"RestoreButton", idRestoreButton, 0, 8, 142, 130, 26, L"Restore"},
        {Make<Button>, L"OKButton", idOKButton, 0, 226, 142, 84, 26, L"OK", nullptr, lfDefault},
        {Make<Button>, L"CancelButton", idCancelButton, 0, 316, 142, 84, 26, L"Cancel"},
    });
    GroupBox1 = &Get<GroupBox>(idGroupBox1);
    FolderNameLabel = &Get<Label>(idFolderNameLabel);
    SelectFolderButton = &Get<Button>(idSelectFolderButton);
    GroupBox2 = &Get<GroupBox>(idGroupBox2);
    FileNameEdit = &Get<Edit>(idFileNameEdit);
    EditFileNameButton = &Get<Button>(idEditFileNameButton);
    Get<GlyphButton>(idEditFileNameButton).SetGlyph(Bitmap::FromPngResource(L"GLYPHEDIT"));
    OKButton = &Get<Button>(idOKButton);
    CancelButton = &Get<Button>(idCancelButton);
    RestoreButton = &Get<Button>(idRestoreButton);
    FolderNameLabel->SetColor(::GetSysColor(COLOR_WINDOW));
    // The folder is shown in a field like the log name's below it.
    GroupBox1->OnPaint = [this, frame = GroupBox1->OnPaint](HDC dc, const RECT& client) {
        frame(dc, client);
        RECT field = FolderNameLabel->Bounds();
        ::InflateRect(&field, 3, 3);
        ::FillRect(dc, &field, ::GetSysColorBrush(COLOR_WINDOW));
        ::FrameRect(dc, &field, ::GetSysColorBrush(COLOR_BTNSHADOW));
    };

    SelectFolderButton->OnClick = [this] { SelectFolderButtonClick(); };
    EditFileNameButton->OnClick = [this] { EditFileNameButtonClick(); };
    FileNameEdit->OnChange = [this] { FileNameEditChange(); };
    OKButton->OnClick = [this] { OKButtonClick(); };
    CancelButton->OnClick = [this] { CancelButtonClick(); };
    RestoreButton->OnClick = [this] { RestoreButtonClick(); };
    FormCreate();
}

void TSpecifyFolderForm::FormCreate()
{
    SetFontName(forms::ScreenHintFontName());
    SetCaption(UiText(sfCaption));
    GroupBox1->SetText(UiText(sfFolderGroup));
    GroupBox2->SetText(UiText(sfLogGroup));
    SelectFolderButton->SetHint(UiText(sfSelectFolder));
    EditFileNameButton->SetHint(UiText(sfEditFileName));
    OKButton->SetText(UiText(sfOK));
    CancelButton->SetText(UiText(sfCancel));
    RestoreButton->SetText(UiText(sfRestore));
    ShowFolder(settings_.SpecificFolder);
    FileNameEdit->SetText(settings_.DeletionFile);
    SetFileNameEditable(false);
}

void TSpecifyFolderForm::ShowFolder(const std::wstring& folder)
{
    FolderNameLabel->SetText(folder);
    FolderNameLabel->SetHint(folder);
    ChosenFolder = folder;
}

HWND TSpecifyFolderForm::VisibleOwner() const
{
    return ::IsWindowVisible(Handle()) ? Handle() : ::GetWindow(Handle(), GW_OWNER);
}

void TSpecifyFolderForm::SetFileNameEditable(bool editable)
{
    FileNameEdit->SetEnabled(editable);
    FileNameEdit->SetColor(::GetSysColor(editable ? COLOR_WINDOW : COLOR_BTNFACE));
}

void TSpecifyFolderForm::EditFileNameButtonClick()
{
    SetFileNameEditable(!FileNameEdit->Enabled());
    if (FileNameEdit->Enabled()) FileNameEdit->SetFocus();
}

void TSpecifyFolderForm::FileNameEditChange() { OKButton->SetEnabled(IsValidFileName(FileNameEdit->Text())); }

void TSpecifyFolderForm::SelectFolderButtonClick()
{
    BrowseStartFolder = settings_.SpecificFolder;
    ChosenFolder.clear();
    const auto chosen = BrowseForFolder(VisibleOwner(), UiText(sfSelectFolder), std::wstring(), BrowseStartFolder);
    if (!chosen || chosen->empty()) {
        ChosenFolder = FolderNameLabel->Text();
        return;
    }
    ShowFolder(WithTrailingBackslash(*chosen));
}

void TSpecifyFolderForm::OKButtonClick()
{
    // The edit may hold an invalid name while it was being typed into.
    if (!IsValidFileName(FileNameEdit->Text())) return;
    SetModalResult(forms::mrOk);
    settings_.SpecificFolder = ChosenFolder;
    settings_.DeletionFile = FileNameEdit->Text();
    settings_.CleanMethod = cmBackupFolder;
    if (updateCleanMethodDisplay_) updateCleanMethodDisplay_();
    if (!IsModal()) Close();
}

void TSpecifyFolderForm::CancelButtonClick()
{
    SetModalResult(forms::mrCancel);
    if (!IsModal()) Close();
}

void TSpecifyFolderForm::RestoreButtonClick()
{
    lastRestore_ = TRestoreResult{};
    const auto log = FindBackupLog(ChosenFolder, FileNameEdit->Text());
    const auto text = log ? ReadBackupLog(log->logPath) : std::nullopt;
    if (!text) {
        ShowMessageBox(VisibleOwner(), UiText(sfLogMissing), kProgramName, MB_OK | MB_ICONINFORMATION);
        SelectFolderButtonClick();
        return;
    }
    lastRestore_ = RestoreFromBackupLog(log->base, *text);
    if (!lastRestore_.ran) return;
    if (lastRestore_.notRestored.empty())
        ShowMessageBox(VisibleOwner(), UiText(sfRestored), kProgramName, MB_OK | MB_ICONINFORMATION);
    else
        ShowMessageBox(VisibleOwner(), NotRestoredMessage(lastRestore_), kProgramName, MB_OK | MB_ICONWARNING);
}

void RestoreFilesFromSpecificFolder(TSettings& settings, const std::function<void()>& updateCleanMethodDisplay,
                                    HWND owner)
{
    TSpecifyFolderForm dialog(settings, updateCleanMethodDisplay, owner);
    dialog.RestoreButtonClick();
    dialog.ShowModal();
}

bool ChooseBackupFolder(TSettings& settings, const std::function<void()>& updateCleanMethodDisplay, HWND owner)
{
    TSpecifyFolderForm dialog(settings, updateCleanMethodDisplay, owner);
    return dialog.ShowModal() == forms::mrOk;
}

} // namespace kv
