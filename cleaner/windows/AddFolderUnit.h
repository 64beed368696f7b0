#pragma once
// TAddFolderForm: the scan-path dialog. It adds a folder row to the main
// window's path list, or changes the selected one, and refuses a folder that
// is already listed with the same kind.
#include "cleaner/engine/SharedState.h"
#include "platform/StringList.h"
#include "platform/forms/Controls.h"
#include "platform/forms/Form.h"

namespace kv {

class TAddFolderForm : public forms::Form {
public:
    // Save and Cancel carry the ids the dialog manager gives Enter and Esc.
    enum ControlId : int {
        idSaveButton = IDOK,
        idCancelButton = IDCANCEL,
        idAddFolderGroupBox = 10,
        idFolderEdit,
        idBtnSelectFolder,
        idActionGroupBox,
        idIncludeRadioButton,
        idExcludeRadioButton,
        idEmptyRadioButton,
        idSubFolderCheckBox,
    };
    // Tag: what the dialog does with the list.
    enum Mode : int { modeNew = 0, modeEdit = 1 };

    explicit TAddFolderForm(forms::ListView& pathListView);
    ~TAddFolderForm() override { RunOnDestroy(); }

    forms::GroupBox* AddFolderGroupBox;
    forms::Edit* FolderEdit;
    forms::Button* btnSelectFolder;
    forms::GroupBox* ActionGroupBox;
    forms::RadioButton* IncludeRadioButton;
    forms::RadioButton* ExcludeRadioButton;
    forms::RadioButton* EmptyRadioButton;
    forms::CheckBox* SubFolderCheckBox;
    forms::Button* SaveButton;
    forms::Button* CancelButton;

    // "kind caption" of every row of the path list; a drive row counts as
    // "include with sub-folders" of its drive.
    StringList ExistingPaths;

    // The kind the radio buttons and the check box choose; pkNone when no
    // radio button is checked.
    PathKind GetPathKind() const;
    // Sets the radio button and the check box from a row's kind.
    void ShowPathKind(PathKind kind);

    void FormCreate();
    void FormActivate();
    void FormClose();
    void FolderEditChange();
    void btnSelectFolderClick();
    void SaveButtonClick();
    void CancelButtonClick();

private:
    forms::ListView& paths_;
};

} // namespace kv
