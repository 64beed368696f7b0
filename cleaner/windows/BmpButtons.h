#pragma once
// TBmpButton: the picture button of the cleaner's windows. It is an image
// control that shows one of four pictures by state: normal (mouse away),
// mouse over, pressed and disabled.
#include <functional>
#include <string>

#include "platform/forms/Controls.h"
#include "platform/forms/Form.h"

namespace kv {

class TBmpButton : public forms::Image, public forms::LayoutAware {
public:
    TBmpButton(forms::WinControl& parent, int id);

    const forms::Bitmap& EnterImage() const noexcept { return FEnterImage; }
    const forms::Bitmap& LeaveImage() const noexcept { return FLeaveImage; }
    const forms::Bitmap& DownImage() const noexcept { return FDownImage; }
    const forms::Bitmap& DisabledImage() const noexcept { return FDisabledImage; }
    // Each copies the picture into the button's own.
    void SetEnterImage(const forms::Bitmap& picture);
    void SetLeaveImage(const forms::Bitmap& picture);
    void SetDownImage(const forms::Bitmap& picture);
    void SetDisabledImage(const forms::Bitmap& picture);

    // Cuts a strip of four frames side by side (normal, over, pressed, disabled),
    // each a quarter of the strip wide; the normal one is shown.
    void LoadStrip(const forms::Bitmap& strip);
    // The same from a strip file; nothing happens when the file does not exist.
    const std::wstring& BitmapFileName() const noexcept { return FBitmapFileName; }
    void SetBitmapFileName(const std::wstring& fileName);

    bool EnterNow() const noexcept { return FEnterNow; }
    std::function<void()> OnMouseExit;

    void MouseEnter() override;
    void MouseLeave() override;
    void MouseDown(forms::MouseButton button, UINT keys, int x, int y) override;
    void MouseUp(forms::MouseButton button, UINT keys, int x, int y) override;
    // The layout row's picture names the strip resource.
    void ApplyLayout(const forms::ControlSpec& spec) override;

protected:
    void EnabledChanged() override;

private:
    static void Assign(forms::Bitmap& target, const forms::Bitmap& source);

    forms::Bitmap FEnterImage;
    forms::Bitmap FLeaveImage;
    forms::Bitmap FDownImage;
    forms::Bitmap FDisabledImage;
    bool FEnterNow = false;
    std::wstring FBitmapFileName;
};

} // namespace kv
