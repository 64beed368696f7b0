#pragma once
// TfrmGuide: the balloon tip that points the user at the next action when the
// Scan or Clean page is entered, with a check box that switches the tips off.
#include <windows.h>

#include <functional>

#include "platform/forms/Form.h"
#include "platform/forms/Timer.h"

namespace kv {

// Where the main window and its page area are, for placing the balloon.
struct GuideAnchor {
    RECT mainWindow{};
    int mainPanelLeft = 0;
    int mainPanelWidth = 0;
};

class TfrmGuide : public forms::Form {
public:
    enum ControlId : int { idImgInfoBack = 1, idLabInfo, idCbShowNextTime, idLabShowNextTime };

    TfrmGuide();
    ~TfrmGuide() override { RunOnDestroy(); }

    forms::Image* imgInfoBack;
    forms::Label* labInfo;
    forms::CheckBox* cbShowNextTime;
    forms::Label* labShowNextTime;
    forms::Timer timUpdateInfo{20};

    // Set by the main window; without it the application window is the anchor.
    std::function<GuideAnchor()> AnchorSource;

    // What the Scan and Clean page entries do: start the one-shot timer when
    // tips are wanted and the program is not running hidden.
    void StartIfWanted();

    void FormCreate();
    void FormDeactivate();
    void timUpdateInfoTimer();
    void labShowNextTimeClick();
    void cbShowNextTimeClick();

private:
    GuideAnchor Anchor() const;
};

} // namespace kv
