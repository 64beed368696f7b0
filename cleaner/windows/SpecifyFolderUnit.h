#pragma once
// TSpecifyFolderForm ("Specify a folder"): chooses the backup folder and the
// name of its log for the clean method that moves the junk files away, and
// restores the files listed in such a log. Opened modally from the clean-
// method menus, from the options menu's restore entry and by Clean Now when
// the backup folder is missing; freed after use.
#include <functional>
#include <string>

#include "cleaner/engine/BackupLog.h"
#include "cleaner/engine/SettingsStore.h"
#include "platform/forms/Form.h"

namespace kv {

// Shown after a restore that could not bring everything back, with the
// number and then the former paths, one a line.
inline constexpr wchar_t RestoreIncompleteText[] =
    L"%d of the backed-up files could not be restored: a file of the same name is in their place, or their backup "
    L"copy is missing.";
// At most this many paths are listed under it.
inline constexpr int RestoreIncompleteListed = 15;

class TSpecifyFolderForm : public forms::Form {
public:
    // OK and Cancel carry the ids the dialog manager gives Enter and Esc.
    enum ControlId : int {
        idOKButton = IDOK,
        idCancelButton = IDCANCEL,
        idGroupBox1 = 10,
        idFolderNameLabel,
        idSelectFolderButton,
        idGroupBox2,
        idFileNameEdit,
        idEditFileNameButton,
        idRestoreButton,
    };

    // `settings` holds SpecificFolder, DeletionFile and CleanMethod; OK
    // changes them and then calls `updateCleanMethodDisplay`.
    explicit TSpecifyFolderForm(TSettings& settings, std::function<void()> updateCleanMethodDisplay = {},
                                HWND owner = nullptr);
    ~TSpecifyFolderForm() override { RunOnDestroy(); }

    forms::GroupBox* GroupBox1;
    forms::Label* FolderNameLabel;
    forms::Button* SelectFolderButton;
    forms::GroupBox* GroupBox2;
    forms::Edit* FileNameEdit;
    forms::Button* EditFileNameButton;
    forms::Button* OKButton;
    forms::Button* CancelButton;
    forms::Button* RestoreButton;

    // The folder shown, with a trailing backslash; empty while the picker is open.
    std::wstring ChosenFolder;

    void FormCreate();
    void SelectFolderButtonClick();
    void EditFileNameButtonClick();
    void FileNameEditChange();
    void OKButtonClick();
    void CancelButtonClick();
    void RestoreButtonClick();

    // What the last restore did (ran stays false when no log was found).
    const TRestoreResult& LastRestore() const noexcept { return lastRestore_; }

private:
    void ShowFolder(const std::wstring& folder);
    // The window that owns the dialog's message boxes and the folder picker:
    // the dialog itself once shown, before that the window that opened it (the
    // menu's restore runs first), which the box then disables as it must.
    HWND VisibleOwner() const;
    void SetFileNameEditable(bool editable);

    TSettings& settings_;
    std::function<void()> updateCleanMethodDisplay_;
    TRestoreResult lastRestore_;
};

// The options menu's "Restore files from Specific Folder": the dialog is
// created, restores from the current backup folder at once, is then shown
// modally and freed.
void RestoreFilesFromSpecificFolder(TSettings& settings, const std::function<void()>& updateCleanMethodDisplay,
                                    HWND owner = nullptr);

// The clean-method menus' "Send files to a Specific Folder" (and Clean Now's
// correction of a missing folder): the dialog shown modally; true when OK
// was pressed (the settings then hold the new folder and method 1).
bool ChooseBackupFolder(TSettings& settings, const std::function<void()>& updateCleanMethodDisplay, HWND owner = nullptr);

} // namespace kv
