#pragma once
// TCreateTaskForm ("Create a Task File"): writes a job file, the current
// settings with the job's steps, which runs the program unattended when it
// is given back to it (scan, clean, close; hidden or shown).
#include <windows.h>

#include <memory>
#include <string>

#include "cleaner/engine/SettingsFiles.h"
#include "cleaner/engine/SettingsStore.h"
#include "platform/forms/Form.h"
#include "platform/forms/Timer.h"

namespace kv {

class TCreateTaskForm : public forms::Form {
public:
    // Save and Cancel carry the ids the dialog manager gives Enter and Esc.
    enum ControlId : int {
        idCreateSaveButton = IDOK,
        idCreateCancelButton = IDCANCEL,
        idIntroLabel = 10,
        idTaskOptionsGroupBox,
        idAutoScanCheckBox,
        idAutoCleanCheckBox,
        idAutoExitCheckBox,
        idRunHiddenlyCheckBox,
    };

    // `current` is the program's settings as they stand; the job file holds
    // a copy of them.
    explicit TCreateTaskForm(const TSettings& current, HWND owner = nullptr);
    ~TCreateTaskForm() override { RunOnDestroy(); }

    forms::Label* IntroLabel;
    forms::GroupBox* TaskOptionsGroupBox;
    forms::CheckBox* AutoScanCheckBox;
    forms::CheckBox* AutoCleanCheckBox;
    forms::CheckBox* AutoExitCheckBox;
    forms::CheckBox* RunHiddenlyCheckBox;
    forms::Button* CreateSaveButton;
    forms::Button* CreateCancelButton;
    forms::Timer Timer1{100};

    void FormCreate();
    void Timer1Timer();
    void CreateSaveButtonClick();
    void CreateCancelButtonClick();

    // The job's steps as the check boxes say.
    TJobOptions JobOptions() const;
    // The file the last save wrote ("" when none was written).
    const std::wstring& SavedFile() const noexcept { return savedFile_; }

private:
    const TSettings& current_;
    std::wstring savedFile_;
};

// The options menu's "Create a Job File": the dialog with scan, clean and
// close checked, shown modally and freed.
void CreateJobFile(const TSettings& current, HWND owner = nullptr);

} // namespace kv
