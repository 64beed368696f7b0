#include "cleaner/windows/GuideUnit.h"

#include "cleaner/engine/SharedState.h"
#include "cleaner/windows/UiText.h"
#include "platform/MessageLoop.h"

namespace kv {
namespace {

forms::FormStyle GuideStyle()
{
    forms::FormStyle style;
    style.className = L"TfrmGuide";
    style.border = forms::BorderStyle::None;
    style.position = forms::FormPosition::Designed;
    style.clientWidth = 299;
    style.clientHeight = 118;
    style.autoSize = true;
    style.alphaBlend = 235;
    // The balloon's surroundings are drawn in the button-face colour, which is cut out.
    style.color = ::GetSysColor(COLOR_BTNFACE);
    style.transparentColor = ::GetSysColor(COLOR_BTNFACE);
    style.stayOnTop = true;
    return style;
}

constexpr COLORREF kBalloonColour = RGB(255, 252, 226);

} // namespace

TfrmGuide::TfrmGuide() : forms::Form(GuideStyle())
{
    using namespace forms;
    Build({
        {Make<Image>, L"imgInfoBack", idImgInfoBack, 0, 0, 0, 299, 118, nullptr, L"GUIDEBALLOON", lfAutoSize},
        {Make<Label>, L"labInfo", idLabInfo, 0, 38, 12, 226, 62, nullptr, nullptr, lfTransparent | lfWordWrap | lfBold},
        {Make<CheckBox>, L"cbShowNextTime", idCbShowNextTime, 0, 14, 88, 14, 14},
        {Make<Label>, L"labShowNextTime", idLabShowNextTime, 0, 33, 88, 230, 16, nullptr, nullptr,
         lfTransparent | lfHandCursor},
    });
    imgInfoBack = &Get<Image>(idImgInfoBack);
    labInfo = &Get<Label>(idLabInfo);
    cbShowNextTime = &Get<CheckBox>(idCbShowNextTime);
    labShowNextTime = &Get<Label>(idLabShowNextTime);
    cbShowNextTime->SetColor(kBalloonColour);

    OnDeactivate = [this] { FormDeactivate(); };
    imgInfoBack->OnClick = [this] { FormDeactivate(); };
    labInfo->OnClick = [this] { FormDeactivate(); };
    labShowNextTime->OnClick = [this] { labShowNextTimeClick(); };
    cbShowNextTime->OnClick = [this] { cbShowNextTimeClick(); };
    timUpdateInfo.OnTimer = [this] { timUpdateInfoTimer(); };
    FormCreate();
}

void TfrmGuide::FormCreate() { SetFontName(forms::ScreenHintFontName()); }

void TfrmGuide::StartIfWanted()
{
    if (ShowBalloonTips && !RunHiddenly) timUpdateInfo.Start();
}

GuideAnchor TfrmGuide::Anchor() const
{
    if (AnchorSource) return AnchorSource();
    GuideAnchor anchor;
    if (HWND main = ApplicationWindow()) {
        ::GetWindowRect(main, &anchor.mainWindow);
        anchor.mainPanelWidth = anchor.mainWindow.right - anchor.mainWindow.left;
    }
    return anchor;
}

void TfrmGuide::timUpdateInfoTimer()
{
    timUpdateInfo.Stop();
    labShowNextTime->SetText(UiText(232));
    cbShowNextTime->SetChecked(ShowBalloonTips);
    const GuideAnchor anchor = Anchor();
    const int left = anchor.mainWindow.left + anchor.mainPanelLeft + anchor.mainPanelWidth - 340;
    if (CurrentPage == pgClean) {
        SetBounds(left, anchor.mainWindow.top + 180, Width(), Height());
        labInfo->SetText(UiText(233));
    } else if (CurrentPage == pgScan) {
        SetBounds(left, anchor.mainWindow.top + 120, Width(), Height());
        labInfo->SetText(UiText(234));
    }
    Show();
}

void TfrmGuide::FormDeactivate() { Hide(); }

void TfrmGuide::labShowNextTimeClick()
{
    cbShowNextTime->SetChecked(!cbShowNextTime->Checked());
    ShowBalloonTips = cbShowNextTime->Checked();
}

void TfrmGuide::cbShowNextTimeClick() { ShowBalloonTips = cbShowNextTime->Checked(); }

} // namespace kv
