#pragma once
// TCaptionButton: a picture button that writes its caption over its picture,
// so the captions follow the chosen language while the pictures stay the same.
#include <windows.h>

#include "cleaner/windows/BmpButtons.h"

namespace kv {

class TCaptionButton : public TBmpButton {
public:
    TCaptionButton(forms::WinControl& parent, int id);

    // Where the caption starts; the picture's glyph sits to its left.
    int CaptionLeft = 40;
    // The width that shows the whole caption (never below the picture's).
    int FittingWidth();
    // The current page's button: drawn marked, whatever its enabled state.
    bool Selected() const noexcept { return selected_; }
    void SetSelected(bool selected);

    void Paint(HDC dc) override;

private:
    bool selected_ = false;
};

} // namespace kv
