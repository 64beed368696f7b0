#include "cleaner/windows/BmpButtons.h"

#include <windows.h>

namespace kv {

TBmpButton::TBmpButton(forms::WinControl& parent, int id) : forms::Image(parent, id) { SetCursor(IDC_HAND); }

void TBmpButton::Assign(forms::Bitmap& target, const forms::Bitmap& source)
{
    if (&target != &source) target = source;
}

void TBmpButton::SetEnterImage(const forms::Bitmap& picture) { Assign(FEnterImage, picture); }
void TBmpButton::SetLeaveImage(const forms::Bitmap& picture) { Assign(FLeaveImage, picture); }
void TBmpButton::SetDownImage(const forms::Bitmap& picture) { Assign(FDownImage, picture); }
void TBmpButton::SetDisabledImage(const forms::Bitmap& picture) { Assign(FDisabledImage, picture); }

void TBmpButton::LoadStrip(const forms::Bitmap& strip)
{
    const int frame = strip.Width() / 4;
    SetLeaveImage(strip.Crop(0, 0, frame, strip.Height()));
    SetEnterImage(strip.Crop(frame, 0, frame, strip.Height()));
    SetDownImage(strip.Crop(2 * frame, 0, frame, strip.Height()));
    SetDisabledImage(strip.Crop(3 * frame, 0, frame, strip.Height()));
    SetPicture(Enabled() ? FLeaveImage : FDisabledImage);
}

void TBmpButton::SetBitmapFileName(const std::wstring& fileName)
{
    const DWORD attributes = ::GetFileAttributesW(fileName.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    FBitmapFileName = fileName;
    LoadStrip(forms::Bitmap::FromFile(fileName));
}

void TBmpButton::ApplyLayout(const forms::ControlSpec& spec)
{
    if (spec.picture) LoadStrip(forms::Bitmap::FromPngResource(spec.picture));
}

void TBmpButton::MouseEnter()
{
    forms::Image::MouseEnter(); // fires OnMouseEnter
    if (Enabled()) SetPicture(FEnterImage);
    FEnterNow = true;
}

void TBmpButton::MouseLeave()
{
    forms::Image::MouseLeave();
    if (OnMouseExit) OnMouseExit();
    SetPicture(Enabled() ? FLeaveImage : FDisabledImage);
    FEnterNow = false;
}

void TBmpButton::MouseDown(forms::MouseButton button, UINT keys, int x, int y)
{
    if (button == forms::MouseButton::Left && FEnterNow) SetPicture(FDownImage);
    forms::Image::MouseDown(button, keys, x, y);
}

void TBmpButton::MouseUp(forms::MouseButton button, UINT keys, int x, int y)
{
    if (button == forms::MouseButton::Left && FEnterNow && Enabled()) SetPicture(FEnterImage);
    forms::Image::MouseUp(button, keys, x, y);
}

void TBmpButton::EnabledChanged() { SetPicture(Enabled() ? FLeaveImage : FDisabledImage); }

} // namespace kv
