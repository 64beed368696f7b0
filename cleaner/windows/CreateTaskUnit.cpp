#include "cleaner/windows/CreateTaskUnit.h"

#include "cleaner/windows/UiText.h"
#include "platform/Format.h"
#include "platform/forms/Dialogs.h"
#include "platform/forms/Graphics.h"

namespace kv {
namespace {

enum TCreateTaskText : int {
    ctSave = 160,
    ctCancel = 161,
    ctIntro = 212,
    ctCreated = 213,
    ctCaption = 214,
    ctAutoScan = 215,
    ctAutoClean = 216,
    ctAutoExit = 217,
    ctTaskOptions = 218,
    ctRunHiddenly = 221,
};

forms::FormStyle CreateTaskStyle()
{
    forms::FormStyle style;
    style.className = L"TCreateTaskForm";
    style.caption = L"Create a Task File";
    style.clientWidth = 384;
    style.clientHeight = 262;
    style.border = forms::BorderStyle::Dialog;
    style.position = forms::FormPosition::MainFormCenter;
    return style;
}

} // namespace

TCreateTaskForm::TCreateTaskForm(const TSettings& current, HWND owner)
    : forms::Form(CreateTaskStyle(), owner), current_(current)
{
    using namespace forms;
    Build({
        {Make<Label>, L"IntroLabel", idIntroLabel, 0, 12, 10, 360, 64, nullptr, nullptr, lfWordWrap | lfTransparent},
        {Make<GroupBox>, L"TaskOptionsGroupBox", idTaskOptionsGroupBox, 0, 12, 80, 360, 104},
        {Make<CheckBox>, L"AutoScanCheckBox", idAutoScanCheckBox, idTaskOptionsGroupBox, 14, 24, 330, 20},
        {Make<CheckBox>, L"AutoCleanCheckBox", idAutoCleanCheckBox, idTaskOptionsGroupBox, 14, 50, 330, 20},
        {Make<CheckBox>, L"AutoExitCheckBox", idAutoExitCheckBox, idTaskOptionsGroupBox, 14, 76, 330, 20},
        {Make<CheckBox>, L"RunHiddenlyCheckBox", idRunHiddenlyCheckBox, 0, 26, 194, 346, 20},
        {Make<Button>, L"CreateSaveButton", idCreateSaveButton, 0, 192, 226, 86, 26, nullptr, nullptr, lfDefault},
        {Make<Button>, L"CreateCancelButton", idCreateCancelButton, 0, 286, 226, 86, 26},
    });
    IntroLabel = &Get<Label>(idIntroLabel);
    TaskOptionsGroupBox = &Get<GroupBox>(idTaskOptionsGroupBox);
    AutoScanCheckBox = &Get<CheckBox>(idAutoScanCheckBox);
    AutoCleanCheckBox = &Get<CheckBox>(idAutoCleanCheckBox);
    AutoExitCheckBox = &Get<CheckBox>(idAutoExitCheckBox);
    RunHiddenlyCheckBox = &Get<CheckBox>(idRunHiddenlyCheckBox);
    CreateSaveButton = &Get<Button>(idCreateSaveButton);
    CreateCancelButton = &Get<Button>(idCreateCancelButton);

    CreateSaveButton->OnClick = [this] { CreateSaveButtonClick(); };
    CreateCancelButton->OnClick = [this] { CreateCancelButtonClick(); };
    Timer1.OnTimer = [this] { Timer1Timer(); };
    FormCreate();
    Timer1.Start();
}

void TCreateTaskForm::FormCreate()
{
    SetFontName(forms::ScreenHintFontName());
    SetCaption(UiText(ctCaption));
    // The text is written for a caption, where "&&" shows one "&".
    std::wstring intro = UiText(ctIntro);
    for (std::size_t at = intro.find(L"&&"); at != std::wstring::npos; at = intro.find(L"&&", at + 1))
        intro.erase(at, 1);
    IntroLabel->SetText(intro);
    AutoScanCheckBox->SetText(UiText(ctAutoScan));
    AutoCleanCheckBox->SetText(UiText(ctAutoClean));
    AutoExitCheckBox->SetText(UiText(ctAutoExit));
    TaskOptionsGroupBox->SetText(UiText(ctTaskOptions));
    CreateSaveButton->SetText(UiText(ctSave));
    CreateCancelButton->SetText(UiText(ctCancel));
    RunHiddenlyCheckBox->SetText(UiText(ctRunHiddenly));
}

void TCreateTaskForm::Timer1Timer()
{
    // A hidden run has nobody to close the window: it always ends by itself.
    if (RunHiddenlyCheckBox->Checked()) {
        if (!AutoExitCheckBox->Checked()) AutoExitCheckBox->SetChecked(true);
        AutoExitCheckBox->SetEnabled(false);
    } else {
        AutoExitCheckBox->SetEnabled(true);
    }
}

TJobOptions TCreateTaskForm::JobOptions() const
{
    TJobOptions options;
    options.autoScan = AutoScanCheckBox->Checked();
    options.autoClean = AutoCleanCheckBox->Checked();
    options.runHiddenly = RunHiddenlyCheckBox->Checked();
    // Read here too, so a save within the timer's first tick cannot miss it.
    options.autoExit = AutoExitCheckBox->Checked() || options.runHiddenly;
    return options;
}

void TCreateTaskForm::CreateSaveButtonClick()
{
    forms::FileDialog save(forms::FileDialog::Kind::Save);
    save.FileName.clear();
    save.DefaultExt = L"*.kv";
    save.Filter = L"Kestrelvane Job Files|*.kv";
    save.OverwritePrompt = true;
    // Cancelled: the creator stays open.
    if (!save.Execute(Handle())) return;
    TExportNotice notice;
    notice.owner = Handle();
    notice.doneText = Format(UiText(ctCreated), {save.FileName});
    notice.failedText = Format(ExportFailedText, {save.FileName});
    if (!WriteJobFile(current_, JobOptions(), save.FileName, &notice)) return;
    savedFile_ = save.FileName;
    SetModalResult(forms::mrOk);
    if (!IsModal()) Close();
}

void TCreateTaskForm::CreateCancelButtonClick()
{
    SetModalResult(forms::mrCancel);
    if (!IsModal()) Close();
}

void CreateJobFile(const TSettings& current, HWND owner)
{
    TCreateTaskForm dialog(current, owner);
    dialog.AutoScanCheckBox->SetChecked(true);
    dialog.AutoCleanCheckBox->SetChecked(true);
    dialog.AutoExitCheckBox->SetChecked(true);
    dialog.ShowModal();
}

} // namespace kv
