#include "cleaner/windows/ProgressUnit.h"

#include <algorithm>

#include "cleaner/windows/UiText.h"
#include "platform/Format.h"

namespace kv {
namespace {

// The designed layout; the window's width grows from it to fit its texts, its
// height is a page of the log.
constexpr int kDesignedWidth = 400;
constexpr int kDesignedHeight = 262;
constexpr int kMargin = 22;            // left and right of the texts
constexpr int kLogTop = 72;
constexpr int kFooterHeight = 38;      // below the log: the rule and the Close label
constexpr int kProgressLabelRoom = 58; // right of the step's text: the header's mark
// The background's borders that keep their size as the window changes: the
// header with the bar's track (left and top) and the footer (bottom); a plain
// column right of the track and the white rows of the log stretch.
constexpr RECT kBackBorder{382, kLogTop, 16, kFooterHeight};

forms::FormStyle ProgressStyle()
{
    forms::FormStyle style;
    style.className = L"TProgressForm";
    style.caption = L"Progress";
    style.clientWidth = kDesignedWidth;
    style.clientHeight = kDesignedHeight;
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
    BackImage->SliceBorder = kBackBorder;

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
    FitToTexts();
}

void TProgressForm::FitToTexts()
{
    const int lineHeight = StatusLabel->MeasureText(L"Ag").cy;
    int widest = 0;
    const StringList log(StatusLabel->Text());
    for (const std::wstring& line : log)
        widest = std::max<int>(widest, StatusLabel->MeasureText(line).cx);
    const int logWidth = std::max(kDesignedWidth - 2 * kMargin, widest + 2);
    const int logHeight = kLinesPerPage * lineHeight;
    const int stepWidth = ProgressLabel->MeasureText(ProgressLabel->Text()).cx + 2;
    const int closeWidth = std::max<int>(80, HideProgressPanelButton->MeasureText(HideProgressPanelButton->Text()).cx + 2);
    const int width = std::max({kDesignedWidth, logWidth + 2 * kMargin, kMargin + stepWidth + kProgressLabelRoom,
                                closeWidth + 2 * kMargin});
    const int height = kLogTop + logHeight + kFooterHeight;

    StatusLabel->SetBounds(kMargin, kLogTop, logWidth, logHeight);
    ProgressLabel->SetWidth(width - kMargin - kProgressLabelRoom);
    HideProgressPanelButton->SetBounds(width - 20 - closeWidth, height - 26, closeWidth, 18);
    BackImage->SetBounds(0, 0, width, height);

    RECT client{};
    ::GetClientRect(Handle(), &client);
    if (client.right == width && client.bottom == height) return;
    RECT frame{0, 0, width, height};
    ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongW(Handle(), GWL_STYLE)), FALSE,
                         static_cast<DWORD>(::GetWindowLongW(Handle(), GWL_EXSTYLE)));
    // It grows around its centre, and stays on the screen.
    RECT work{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int frameWidth = frame.right - frame.left, frameHeight = frame.bottom - frame.top;
    int left = Left() - (frameWidth - Width()) / 2, top = Top() - (frameHeight - Height()) / 2;
    left = std::max<int>(work.left, std::min<int>(left, work.right - frameWidth));
    top = std::max<int>(work.top, std::min<int>(top, work.bottom - frameHeight));
    SetBounds(left, top, frameWidth, frameHeight);
}

void TProgressForm::FormDestroy() { ProgressLines.Clear(); }

void TProgressForm::HideProgressPanelButtonClick() { Close(); }

void TProgressForm::ClearLog()
{
    StatusLabel->SetText(std::wstring());
    ProgressBar->SetWidth(0);
}

void TProgressForm::ShowProgressText(const std::wstring& text)
{
    ProgressLabel->SetText(text);
    FitToTexts();
}

void TProgressForm::AddProgressLine(int step, int stepTotal, const std::wstring& text)
{
    ProgressBar->SetWidth(stepTotal < 1 ? kBarWidth : step * kBarWidth / stepTotal);
    // The text is a language text: it is an argument, never the pattern.
    StatusLabel->SetText(StatusLabel->Text() + Format(L"%s.  %s%s", {Format(L"%.2d", {step}), text, L"\r\n"}));
    FitToTexts();
}

void TProgressForm::AddLogLine(const std::wstring& text)
{
    StatusLabel->SetText(StatusLabel->Text() + text + L"\r\n");
    FitToTexts();
}

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
