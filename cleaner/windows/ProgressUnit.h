#pragma once
// TProgressForm: Clean Now's progress window. It shows the current step, a
// bar 0 to 353 pixels wide and the numbered log of finished steps, which the
// user can page through ten lines at a time afterwards.
#include <cstdint>
#include <string>

#include "platform/StringList.h"
#include "platform/forms/Form.h"

namespace kv {

class TProgressForm : public forms::Form {
public:
    static constexpr int kBarWidth = 353;
    static constexpr int kLinesPerPage = 10;

    enum ControlId : int {
        idBackImage = 1,
        idProgressLabel,
        idProgressBar,
        idStatusLabel,
        idHideProgressPanelButton,
    };

    TProgressForm();
    ~TProgressForm() override { RunOnDestroy(); }

    forms::Image* BackImage;
    forms::Label* ProgressLabel;
    forms::Image* ProgressBar;
    forms::Label* StatusLabel;
    forms::Label* HideProgressPanelButton;

    StringList ProgressLines;
    std::uint8_t ProgressPage = 1;
    std::uint8_t ProgressPageCount = 0;

    // Clean Now's side: a fresh log, the current step's text, one finished
    // step, and the log kept for paging.
    void ClearLog();
    void ShowProgressText(const std::wstring& text);
    void AddProgressLine(int step, int stepTotal, const std::wstring& text);
    // A line without a step number (an entry the step left alone).
    void AddLogLine(const std::wstring& text);
    void FinishLog();

    void FormCreate();
    void FormActivate();
    void FormDestroy();
    void HideProgressPanelButtonClick();
    void StatusLabelMouseDown(forms::MouseButton button);
    void FormMouseWheelDown();
    void FormMouseWheelUp();

private:
    void ShowLines(std::size_t first);
    // The window is sized so that a page of ten lines, the widest line of the
    // log and the current step's text are shown whole, in whatever language
    // (never narrower than designed).
    void FitToTexts();
};

} // namespace kv
