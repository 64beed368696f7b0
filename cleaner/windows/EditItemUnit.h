#pragma once
// TEditItemForm: the filter editor. It adds a row to the main window's filter
// list, or changes the selected one, and refuses a mask that another row
// already has (ignoring case).
#include "platform/StringList.h"
#include "platform/forms/Controls.h"
#include "platform/forms/Form.h"

namespace kv {

class TEditItemForm : public forms::Form {
public:
    // Save and Cancel carry the ids the dialog manager gives Enter and Esc.
    enum ControlId : int {
        idSaveButton = IDOK,
        idCancelButton = IDCANCEL,
        idGroupBox3 = 10,
        idIncludeRadioButton,
        idExcludeRadioButton,
        idGroupBox1,
        idFileNameEdit,
        idGroupBox2,
        idDescriptionEdit,
    };
    // Tag: what the dialog does with the list.
    enum Mode : int { modeNew = 1, modeEdit = 2 };
    static constexpr int kMaxMaskLength = 255;

    explicit TEditItemForm(forms::ListView& filtersListView);
    ~TEditItemForm() override { RunOnDestroy(); }

    forms::GroupBox* GroupBox3;
    forms::RadioButton* IncludeRadioButton;
    forms::RadioButton* ExcludeRadioButton;
    forms::GroupBox* GroupBox1;
    forms::Edit* FileNameEdit;
    forms::GroupBox* GroupBox2;
    forms::Edit* DescriptionEdit;
    forms::Button* SaveButton;
    forms::Button* CancelButton;

    // The masks of every row of the filter list, in row order.
    StringList ExistingMasks;

    void FormCreate();
    void FormActivate();
    void FormKeyDown(WPARAM key, bool& handled);
    void FormClose();
    void FileNameEditChange();
    void IncludeRadioButtonClick();
    void ExcludeRadioButtonClick();
    void SaveButtonClick();
    void CancelButtonClick();

private:
    void RefuseDuplicate();
    int SelectedImage() const;

    forms::ListView& filters_;
};

} // namespace kv
