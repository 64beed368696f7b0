#include "cleaner/windows/ProgressUnit.h"

#include <algorithm>

#include "cleaner/windows/UiText.h"
#include "platform/Format.h"

namespace kv {
namespace {

forms::FormStyle ProgressStyle()
{
    forms::FormStyle style;
    style.className = L"TProgressForm";
    style.caption = L"Progress";
    style.clientWidth = 400;
    style.clientHeight = 262;
    style.border = forms::BorderStyle::ToolWindow;
    style.position = forms::FormPosition::MainFormCenter;
    style.color = RGB(255, 255, 255);
    return style;
}

} // namespace

TProgressForm::TProgressForm() : forms::Form(ProgressStyle())
{
    using namespace forms;
    Build({
        {Make<Image>, L"BackImage", idBackImage, 0, 0, 0, 400, 262, nullptr, L"PROGRESSBACK"},
        {Make<Label>, L"ProgressLabel", idProgressLabel, 0, 22, 10, 320, 18, nullptr, nullptr,
         lfTransparent | lfWhiteText | lfBold},
        {Make<Image>, L"ProgressBar", idProgressBar, 0, 23, 37, 0, 14, nullptr, L"PROGRESSBAR"},
        {Make<Label>, L"StatusLabel", idStatusLabel, 0, 22, 72, 356, 152, nullptr, nullptr, lfTransparent},
        {Make<Label>, L"HideProgressPanelButton", idHideProgressPanelButton, 0, 300, 236, 80, 18, L"Close", nullptr,
         lfTransparent | lfAlignRight | lfHandCursor},
    });
    BackImage = &Get<Image>(idBackImage);
    ProgressLabel = &Get<Label>(idProgressLabel);
    ProgressBar = &Get<Image>(idProgressBar);
    StatusLabel = &Get<Label>(idStatusLabel);
    HideProgressPanelButton = &Get<Label>(idHideProgressPanelButton);
    StatusLabel->SetFontColor(RGB(32, 40, 56));
    HideProgressPanelButton->SetFontColor(RGB(34, 70, 140));

    OnActivate = [this] { FormActivate(); };
    OnDeactivate = [this] { HideProgressPanelButtonClick(); };
    OnDestroy = [this] { FormDestroy(); };
    HideProgressPanelButton->OnClick = [this] { HideProgressPanelButtonClick(); };
    StatusLabel->OnMouseDown = [this](MouseButton button, UINT, int, int) { StatusLabelMouseDown(button); };
    OnMouseWheel = [this](int delta, bool& handled) {
        if (delta < 0)
            FormMouseWheelDown();
        else
            FormMouseWheelUp();
        handled = true;
    };
    FormCreate();
}

void TProgressForm::FormCreate()
{
    Hide();
    ProgressLines.Clear();
}

void TProgressForm::FormActivate()
{
    SetCaption(UiText(59));
    HideProgressPanelButton->SetText(UiText(73));
}

void TProgressForm::FormDestroy() { ProgressLines.Clear(); }

void TProgressForm::HideProgressPanelButtonClick() { Close(); }

void TProgressForm::ClearLog()
{
    StatusLabel->SetText(std::wstring());
    ProgressBar->SetWidth(0);
}

void TProgressForm::AddProgressLine(int step, int stepTotal, const std::wstring& text)
{
    ProgressBar->SetWidth(stepTotal < 1 ? kBarWidth : step * kBarWidth / stepTotal);
    // The text is a language text: it is an argument, never the pattern.
    StatusLabel->SetText(StatusLabel->Text() + Format(L"%s.  %s%s", {Format(L"%.2d", {step}), text, L"\r\n"}));
}

void TProgressForm::AddLogLine(const std::wstring& text) { StatusLabel->SetText(StatusLabel->Text() + text + L"\r\n"); }

void TProgressForm::FinishLog()
{
    ProgressPage = 1;
    ProgressLines.SetText(StatusLabel->Text());
}

void TProgressForm::ShowLines(std::size_t first)
{
    std::wstring text;
    const std::size_t last = std::min(first + kLinesPerPage, ProgressLines.Count());
    for (std::size_t i = first; i < last; ++i) text += ProgressLines[i] + L"\r\n";
    StatusLabel->SetText(text);
}

void TProgressForm::StatusLabelMouseDown(forms::MouseButton button)
{
    const std::size_t lines = ProgressLines.Count();
    ProgressPageCount = static_cast<std::uint8_t>(lines / kLinesPerPage + (lines % kLinesPerPage ? 1 : 0));
    if (button == forms::MouseButton::Left) {
        if (ProgressPage < ProgressPageCount && ProgressPage * kLinesPerPage < 248) {
            ShowLines(static_cast<std::size_t>(ProgressPage) * kLinesPerPage);
            ++ProgressPage;
        }
    } else if (button == forms::MouseButton::Right) {
        if (ProgressPage > 1) {
            --ProgressPage;
            StatusLabel->SetText(std::wstring());
            if ((ProgressPage - 1) * kLinesPerPage < 248) ShowLines(static_cast<std::size_t>(ProgressPage - 1) * kLinesPerPage);
        }
    }
}

void TProgressForm::FormMouseWheelDown() { StatusLabelMouseDown(forms::MouseButton::Left); }

void TProgressForm::FormMouseWheelUp() { StatusLabelMouseDown(forms::MouseButton::Right); }

} // namespace kv
