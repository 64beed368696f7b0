#include "cleaner/windows/CaptionButton.h"

#include <algorithm>

#include "platform/Handles.h"

namespace kv {
namespace {

constexpr COLORREF kSelectedFill = RGB(255, 255, 255);
constexpr COLORREF kSelectedEdge = RGB(46, 160, 67);
// Room right of the caption, and the picture's right edge that keeps its
// size when the button is wider than the picture.
constexpr int kCaptionRightMargin = 6;
constexpr int kPictureRightEdge = 8;

} // namespace

TCaptionButton::TCaptionButton(forms::WinControl& parent, int id) : TBmpButton(parent, id) {}

void TCaptionButton::SetSelected(bool selected)
{
    if (selected_ == selected) return;
    selected_ = selected;
    Invalidate();
}

int TCaptionButton::FittingWidth()
{
    const int caption = text_.empty() ? 0 : CaptionLeft + MeasureText(text_).cx + kCaptionRightMargin;
    return std::max(Picture().Width(), caption);
}

void TCaptionButton::Paint(HDC dc)
{
    const RECT area{0, 0, Width(), Height()};
    if (selected_) {
        // A disabled picture alone would read as "unavailable"; the current
        // page must read as "here".
        const GdiObject fill(::CreateSolidBrush(kSelectedFill));
        ::FillRect(dc, &area, static_cast<HBRUSH>(fill.Get()));
        const GdiObject edge(::CreateSolidBrush(kSelectedEdge));
        const RECT bar{0, 0, 4, Height()};
        ::FillRect(dc, &bar, static_cast<HBRUSH>(edge.Get()));
    }
    // A caption longer than the picture's room widens the button: the picture
    // keeps its glyph and its right edge, and its middle stretches.
    Picture().DrawSliced(dc, area, RECT{CaptionLeft, 0, kPictureRightEdge, 0});
    if (text_.empty()) return;
    RECT textArea{CaptionLeft, 0, Width() - kCaptionRightMargin, Height()};
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, Enabled() || selected_ ? Font().color : ::GetSysColor(COLOR_GRAYTEXT));
    HGDIOBJ previous = ::SelectObject(dc, FontHandle());
    ::DrawTextW(dc, text_.c_str(), static_cast<int>(text_.size()), &textArea,
                DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    ::SelectObject(dc, previous);
}

} // namespace kv
