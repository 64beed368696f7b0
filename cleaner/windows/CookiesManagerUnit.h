#pragma once
// TCookiesManagerForm: the user chooses which Internet Explorer cookies the
// cookie clean target leaves alone. Two sorted lists (cookies to delete,
// cookies to keep), buttons that move the selected names between them, and a
// small panel to type a name to keep. Saving sets CookieKeepList, which the
// settings store writes with the filters and DeleteUnkeptCookies honours.
#include <windows.h>

#include <string>

#include "cleaner/windows/BmpButtons.h"
#include "platform/Handles.h"
#include "platform/forms/Form.h"
#include "platform/forms/Timer.h"

namespace kv {

class TCookiesManagerForm : public forms::Form {
public:
    static constexpr int kItemHeight = 15;
    // The selection ramps: as wide as a list, a few rows high (the brush repeats them).
    static constexpr int kRampWidth = 184;
    static constexpr int kRampHeight = 8;
    static constexpr COLORREF kKeepRampStart = RGB(204, 255, 0);
    static constexpr COLORREF kDeleteRampStart = RGB(255, 204, 0);

    enum ControlId : int {
        idBackImage = 1,
        idCaptionLabel,
        idExitImage,
        idLabDontSave,
        idLabDoSave,
        idCookiesDeletedListBox,
        idCookiesSavedListBox,
        idImgDontSave,
        idImgDoSave,
        idCookieNameLabel,
        idSaveCookieButton,
        idDeleteCookieButton,
        idSaveButton,
        idCancelButton,
        idImgAddCookie,
        idPalAddCookie,
        idEdtCookieName,
        idBtnOK,
        idBtnCancel,
    };

    // `owner`: the window the manager is modal over (the main window).
    explicit TCookiesManagerForm(HWND owner = nullptr);
    ~TCookiesManagerForm() override { RunOnDestroy(); }

    forms::Image* BackImage;
    forms::Label* CaptionLabel;
    TBmpButton* ExitImage;
    forms::Label* labDontSave;
    forms::Label* labDoSave;
    forms::ListBox* CookiesDeletedListBox;
    forms::ListBox* CookiesSavedListBox;
    forms::Image* imgDontSave;
    forms::Image* imgDoSave;
    forms::Label* CookieNameLabel;
    TBmpButton* SaveCookieButton;
    TBmpButton* DeleteCookieButton;
    TBmpButton* SaveButton;
    TBmpButton* CancelButton;
    TBmpButton* imgAddCookie;
    forms::Panel* palAddCookie;
    forms::Edit* edtCookieName;
    forms::Button* btnOK;
    forms::Button* btnCancel;
    forms::Timer timCheckEnable{1};

    // The list row under the mouse at the last mouse move, and its list.
    int LastHoverIndex = -1;
    const forms::ListBox* LastHoverList = nullptr;

    void FormCreate();
    void FormDestroy();
    void SaveButtonClick();
    void CancelButtonClick();
    void SaveCookieButtonClick();
    void DeleteCookieButtonClick();
    void timCheckEnableTimer();
    void CookiesDeletedListBoxDrawItem(int index, HDC dc, const RECT& rect, bool selected);
    void CookiesSavedListBoxDrawItem(int index, HDC dc, const RECT& rect, bool selected);
    void CookiesDeletedListBoxMouseMove(int x, int y);
    void CookiesSavedListBoxMouseMove(int x, int y);
    void imgAddCookieClick();
    void edtCookieNameChange();
    void btnOKClick();
    void btnCancelClick();
    void BackImageMouseDown(forms::MouseButton button);
    void FormKeyDown(WPARAM key, bool& handled);

    // The keep list's names as CookieKeepList holds them: one per line, CR LF, sorted.
    std::wstring KeepListText() const;

    // Pixel x of a selection ramp from `from` to `to`.
    static COLORREF RampColor(COLORREF from, COLORREF to, int x);

private:
    void FillLists();
    static GdiObject MakeRamp(COLORREF from, COLORREF to);
    // Moves the selected rows, top first, into the other list's sorted place.
    static void MoveSelected(forms::ListBox& from, forms::ListBox& to);
    void DrawRow(const forms::ListBox& list, const forms::Image& icon, HBITMAP ramp, int index, HDC dc,
                 const RECT& rect, bool selected);
    void ListMouseMove(forms::ListBox& list, int x, int y);
    static int TextWidth(forms::ListBox& list, const std::wstring& text);
    void ClosePanel();

    GdiObject keepRamp_;
    GdiObject deleteRamp_;
};

// The entry of the main window's menus: runs the manager modally over `owner`
// and frees it; true when the user saved (CookieKeepList then holds the choice).
bool ShowCookiesManager(HWND owner);

} // namespace kv
