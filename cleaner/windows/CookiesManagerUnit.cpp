#include "cleaner/windows/CookiesManagerUnit.h"

#include <algorithm>
#include <vector>

#include "cleaner/engine/CookieIndex.h"
#include "cleaner/engine/SharedState.h"
#include "cleaner/windows/UiText.h"
#include "platform/Handles.h"
#include "platform/StringList.h"
#include "platform/TextCodec.h"

namespace kv {
namespace {

constexpr wchar_t kCaption[] = L"Cookies Manager";
constexpr int kClientWidth = 448;
constexpr int kClientHeight = 336;
constexpr COLORREF kInk = RGB(32, 40, 56);
constexpr COLORREF kPanelColour = RGB(255, 250, 232);
constexpr COLORREF kPanelEdge = RGB(176, 160, 120);

forms::FormStyle CookiesManagerStyle()
{
    forms::FormStyle style;
    style.className = L"TCookiesManagerForm";
    style.caption = kCaption;
    style.clientWidth = kClientWidth;
    style.clientHeight = kClientHeight;
    style.border = forms::BorderStyle::None;
    style.position = forms::FormPosition::MainFormCenter;
    style.color = RGB(255, 255, 255);
    style.alphaBlend = 245;
    return style;
}

// Both lists: sorted, several rows selectable at once, no border of their own
// (the background draws their frames).
std::unique_ptr<forms::Control> MakeCookieList(forms::WinControl& parent, int id)
{
    return std::make_unique<forms::ListBox>(parent, id, true, true, false);
}

std::vector<int> SelectedRows(const forms::ListBox& list)
{
    std::vector<int> rows;
    for (int i = 0; i < list.Count(); ++i)
        if (list.Selected(i)) rows.push_back(i);
    return rows;
}

std::vector<std::wstring> Rows(const forms::ListBox& list)
{
    std::vector<std::wstring> rows;
    for (int i = 0; i < list.Count(); ++i) rows.push_back(list.Item(i));
    return rows;
}

// Adds a name once, whatever its letter case; blank names are no cookies.
void AddOnce(forms::ListBox& list, const std::wstring& name)
{
    if (!name.empty() && list.IndexOf(name) < 0) list.AddItem(name);
}

} // namespace

TCookiesManagerForm::TCookiesManagerForm(HWND owner) : forms::Form(CookiesManagerStyle(), owner)
{
    using namespace forms;
    Build({
        {Make<Image>, L"BackImage", idBackImage, 0, 0, 0, kClientWidth, kClientHeight, nullptr, L"COOKIESBACK"},
        {Make<Label>, L"CaptionLabel", idCaptionLabel, 0, 46, 14, 300, 18, kCaption, nullptr,
         lfTransparent | lfWhiteText | lfBold},
        {Make<TBmpButton>, L"ExitImage", idExitImage, 0, 414, 12, 22, 18, nullptr, L"BUTTONEXIT"},
        {Make<Label>, L"labDontSave", idLabDontSave, 0, 30, 54, 178, 16, nullptr, nullptr, lfTransparent | lfBold},
        {Make<Label>, L"labDoSave", idLabDoSave, 0, 262, 54, 178, 16, nullptr, nullptr, lfTransparent | lfBold},
        {MakeCookieList, L"CookiesDeletedListBox", idCookiesDeletedListBox, 0, 16, 74, 184, 195},
        {MakeCookieList, L"CookiesSavedListBox", idCookiesSavedListBox, 0, 248, 74, 184, 195},
        {Make<Image>, L"imgDontSave", idImgDontSave, 0, 0, 0, 14, 14, nullptr, L"COOKIEDROP", lfHidden},
        {Make<Image>, L"imgDoSave", idImgDoSave, 0, 0, 0, 14, 14, nullptr, L"COOKIEKEEP", lfHidden},
        {Make<Label>, L"CookieNameLabel", idCookieNameLabel, 0, 16, 306, 296, 16, nullptr, nullptr, lfTransparent},
        {Make<TBmpButton>, L"SaveCookieButton", idSaveCookieButton, 0, 208, 132, 32, 28, nullptr, L"BUTTONTOKEEP",
         lfDisabled},
        {Make<TBmpButton>, L"DeleteCookieButton", idDeleteCookieButton, 0, 208, 174, 32, 28, nullptr,
         L"BUTTONTODELETE", lfDisabled},
        {Make<TBmpButton>, L"SaveButton", idSaveButton, 0, 336, 300, 44, 28, nullptr, L"BUTTONSAVE"},
        {Make<TBmpButton>, L"CancelButton", idCancelButton, 0, 388, 300, 44, 28, nullptr, L"BUTTONCANCEL"},
        {Make<TBmpButton>, L"imgAddCookie", idImgAddCookie, 0, 412, 271, 20, 20, nullptr, L"COOKIEADD"},
        {Make<Panel>, L"palAddCookie", idPalAddCookie, 0, 248, 196, 184, 73, nullptr, nullptr, lfHidden},
        {Make<Edit>, L"edtCookieName", idEdtCookieName, idPalAddCookie, 8, 10, 168, 22},
        {Make<Button>, L"btnOK", idBtnOK, idPalAddCookie, 8, 40, 80, 24, nullptr, nullptr, lfDefault},
        {Make<Button>, L"btnCancel", idBtnCancel, idPalAddCookie, 96, 40, 80, 24},
    });
    BackImage = &Get<Image>(idBackImage);
    CaptionLabel = &Get<Label>(idCaptionLabel);
    ExitImage = &Get<TBmpButton>(idExitImage);
    labDontSave = &Get<Label>(idLabDontSave);
    labDoSave = &Get<Label>(idLabDoSave);
    CookiesDeletedListBox = &Get<ListBox>(idCookiesDeletedListBox);
    CookiesSavedListBox = &Get<ListBox>(idCookiesSavedListBox);
    imgDontSave = &Get<Image>(idImgDontSave);
    imgDoSave = &Get<Image>(idImgDoSave);
    CookieNameLabel = &Get<Label>(idCookieNameLabel);
    SaveCookieButton = &Get<TBmpButton>(idSaveCookieButton);
    DeleteCookieButton = &Get<TBmpButton>(idDeleteCookieButton);
    SaveButton = &Get<TBmpButton>(idSaveButton);
    CancelButton = &Get<TBmpButton>(idCancelButton);
    imgAddCookie = &Get<TBmpButton>(idImgAddCookie);
    palAddCookie = &Get<Panel>(idPalAddCookie);
    edtCookieName = &Get<Edit>(idEdtCookieName);
    btnOK = &Get<Button>(idBtnOK);
    btnCancel = &Get<Button>(idBtnCancel);

    for (ListBox* list : {CookiesDeletedListBox, CookiesSavedListBox}) list->SetColor(RGB(255, 255, 255));
    labDontSave->SetFontColor(kInk);
    labDoSave->SetFontColor(kInk);
    palAddCookie->SetColor(kPanelColour);
    // Child windows made later lie below the earlier ones: the panel must cover the keep list.
    ::SetWindowPos(palAddCookie->Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    palAddCookie->OnPaint = [](HDC dc, const RECT& client) {
        const GdiObject edge(::CreateSolidBrush(kPanelEdge));
        ::FrameRect(dc, &client, static_cast<HBRUSH>(edge.Get()));
    };

    OnDestroy = [this] { FormDestroy(); };
    SaveButton->OnClick = [this] { SaveButtonClick(); };
    CancelButton->OnClick = [this] { CancelButtonClick(); };
    ExitImage->OnClick = [this] { CancelButtonClick(); };
    SaveCookieButton->OnClick = [this] { SaveCookieButtonClick(); };
    DeleteCookieButton->OnClick = [this] { DeleteCookieButtonClick(); };
    timCheckEnable.OnTimer = [this] { timCheckEnableTimer(); };
    CookiesDeletedListBox->OnDrawItem = [this](int index, HDC dc, const RECT& rect, bool selected) {
        CookiesDeletedListBoxDrawItem(index, dc, rect, selected);
    };
    CookiesSavedListBox->OnDrawItem = [this](int index, HDC dc, const RECT& rect, bool selected) {
        CookiesSavedListBoxDrawItem(index, dc, rect, selected);
    };
    CookiesDeletedListBox->OnMouseMove = [this](UINT, int x, int y) { CookiesDeletedListBoxMouseMove(x, y); };
    CookiesSavedListBox->OnMouseMove = [this](UINT, int x, int y) { CookiesSavedListBoxMouseMove(x, y); };
    imgAddCookie->OnClick = [this] { imgAddCookieClick(); };
    edtCookieName->OnChange = [this] { edtCookieNameChange(); };
    btnOK->OnClick = [this] { btnOKClick(); };
    btnCancel->OnClick = [this] { btnCancelClick(); };
    BackImage->OnMouseDown = [this](MouseButton button, UINT, int, int) { BackImageMouseDown(button); };
    KeyPreview = true;
    OnKeyDown = [this](WPARAM key, bool& handled) { FormKeyDown(key, handled); };
    FormCreate();
}

void TCookiesManagerForm::FormCreate()
{
    SetFontName(forms::ScreenHintFontName());
    // After the font: the rows keep this height whatever font the lists get.
    CookiesDeletedListBox->SetItemHeight(kItemHeight);
    CookiesSavedListBox->SetItemHeight(kItemHeight);
    CookieNameLabel->SetFontColor(RGB(255, 255, 255));
    labDontSave->SetText(UiText(155));
    labDoSave->SetText(UiText(156));
    btnOK->SetText(UiText(160));
    btnCancel->SetText(UiText(161));
    CancelButton->SetHint(UiText(168));
    ExitImage->SetHint(UiText(168));
    SaveCookieButton->SetHint(UiText(179));
    DeleteCookieButton->SetHint(UiText(180));
    SaveButton->SetHint(UiText(181));
    imgAddCookie->SetHint(UiText(247));
    FillLists();
    keepRamp_ = MakeRamp(kKeepRampStart, RGB(255, 255, 255));
    deleteRamp_ = MakeRamp(kDeleteRampStart, RGB(255, 255, 255));
    timCheckEnable.Start();
}

void TCookiesManagerForm::FillLists()
{
    // The keep list always comes from CookieKeepList, not only when the
    // settings already hold a "Cookies" value: the list is loaded with the
    // settings at start-up, and a second opening in the same run must show
    // what the first one saved.
    for (const std::wstring& name : StringList(CookieKeepList)) AddOnce(*CookiesSavedListBox, name);
    // A missing or unreadable index leaves the delete list empty.
    const StringList pairs(AnsiToWide(ReadCookieIndex(IECookiesFolder + L"index.dat")));
    for (std::size_t i = 0; i < pairs.Count(); i += 2)
        if (CookiesSavedListBox->IndexOf(pairs[i]) < 0) AddOnce(*CookiesDeletedListBox, pairs[i]);
}

void TCookiesManagerForm::FormDestroy()
{
    timCheckEnable.Stop();
    keepRamp_.Reset();
    deleteRamp_.Reset();
}

COLORREF TCookiesManagerForm::RampColor(COLORREF from, COLORREF to, int x)
{
    auto channel = [x](int a, int b) { return a + (b - a) * (x + 1) / kRampWidth; };
    return RGB(channel(GetRValue(from), GetRValue(to)), channel(GetGValue(from), GetGValue(to)),
               channel(GetBValue(from), GetBValue(to)));
}

GdiObject TCookiesManagerForm::MakeRamp(COLORREF from, COLORREF to)
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = kRampWidth;
    info.bmiHeader.biHeight = kRampHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    GdiObject ramp(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!ramp.Get() || !bits) return ramp;
    // 24-bit rows are padded to whole 32-bit words.
    const int stride = (kRampWidth * 3 + 3) & ~3;
    auto* row0 = static_cast<BYTE*>(bits);
    for (int x = 0; x < kRampWidth; ++x) {
        const COLORREF colour = RampColor(from, to, x);
        row0[3 * x] = GetBValue(colour);
        row0[3 * x + 1] = GetGValue(colour);
        row0[3 * x + 2] = GetRValue(colour);
    }
    for (int y = 1; y < kRampHeight; ++y) std::copy(row0, row0 + stride, row0 + y * stride);
    ::GdiFlush();
    return ramp;
}

void TCookiesManagerForm::MoveSelected(forms::ListBox& from, forms::ListBox& to)
{
    const std::vector<int> rows = SelectedRows(from);
    if (rows.empty()) return;
    for (int row : rows) AddOnce(to, from.Item(row));
    // From the bottom, so the indices of the rows still to go stay valid.
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) from.DeleteItem(*it);
}

void TCookiesManagerForm::SaveCookieButtonClick()
{
    MoveSelected(*CookiesDeletedListBox, *CookiesSavedListBox);
    LastHoverIndex = -1;
    timCheckEnableTimer();
}

void TCookiesManagerForm::DeleteCookieButtonClick()
{
    MoveSelected(*CookiesSavedListBox, *CookiesDeletedListBox);
    LastHoverIndex = -1;
    timCheckEnableTimer();
}

void TCookiesManagerForm::timCheckEnableTimer()
{
    SaveCookieButton->SetEnabled(CookiesDeletedListBox->SelCount() > 0);
    DeleteCookieButton->SetEnabled(CookiesSavedListBox->SelCount() > 0);
}

void TCookiesManagerForm::DrawRow(const forms::ListBox& list, const forms::Image& icon, HBITMAP ramp, int index,
                                  HDC dc, const RECT& rect, bool selected)
{
    GdiObject pattern(selected && ramp ? ::CreatePatternBrush(ramp) : nullptr);
    HBRUSH brush = pattern.Get() ? static_cast<HBRUSH>(pattern.Get()) : static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
    // The ramp starts at the row's left edge whatever the DC's origin.
    ::SetBrushOrgEx(dc, rect.left, rect.top, nullptr);
    ::FillRect(dc, &rect, brush);
    const forms::Bitmap& picture = icon.Picture();
    const int itemHeight = rect.bottom - rect.top;
    if (!picture.Empty()) picture.Draw(dc, rect.left + 2, rect.top + (itemHeight - picture.Height()) / 2);
    const std::wstring text = list.Item(index);
    SIZE size{};
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, RGB(0, 0, 0));
    ::TextOutW(dc, rect.left + picture.Width() + 6, rect.top + (itemHeight - size.cy) / 2, text.c_str(),
               static_cast<int>(text.size()));
}

void TCookiesManagerForm::CookiesDeletedListBoxDrawItem(int index, HDC dc, const RECT& rect, bool selected)
{
    DrawRow(*CookiesDeletedListBox, *imgDontSave, static_cast<HBITMAP>(deleteRamp_.Get()), index, dc, rect, selected);
}

void TCookiesManagerForm::CookiesSavedListBoxDrawItem(int index, HDC dc, const RECT& rect, bool selected)
{
    DrawRow(*CookiesSavedListBox, *imgDoSave, static_cast<HBITMAP>(keepRamp_.Get()), index, dc, rect, selected);
}

int TCookiesManagerForm::TextWidth(forms::ListBox& list, const std::wstring& text)
{
    const WindowDC dc(list.Handle());
    HGDIOBJ previous = ::SelectObject(dc.Get(), list.FontHandle());
    SIZE size{};
    ::GetTextExtentPoint32W(dc.Get(), text.c_str(), static_cast<int>(text.size()), &size);
    ::SelectObject(dc.Get(), previous);
    return size.cx;
}

void TCookiesManagerForm::ListMouseMove(forms::ListBox& list, int x, int y)
{
    const int index = list.ItemAtPos(POINT{x, y}, false);
    // The row is remembered with its list, so the same row number in the other
    // list still updates the name.
    if (index < 0 || (index == LastHoverIndex && &list == LastHoverList)) return;
    LastHoverIndex = index;
    LastHoverList = &list;
    const std::wstring text = list.Item(index);
    CookieNameLabel->SetText(TextWidth(list, text) > list.Width() - 30 ? text : std::wstring());
}

void TCookiesManagerForm::CookiesDeletedListBoxMouseMove(int x, int y) { ListMouseMove(*CookiesDeletedListBox, x, y); }

void TCookiesManagerForm::CookiesSavedListBoxMouseMove(int x, int y) { ListMouseMove(*CookiesSavedListBox, x, y); }

void TCookiesManagerForm::imgAddCookieClick()
{
    palAddCookie->Show();
    imgAddCookie->SetEnabled(false);
    btnOK->SetEnabled(false);
    edtCookieName->SetText(std::wstring());
    edtCookieName->SetFocus();
}

void TCookiesManagerForm::edtCookieNameChange()
{
    const std::wstring name = edtCookieName->Text();
    btnOK->SetEnabled(!name.empty() && CookiesSavedListBox->IndexOf(name) < 0);
}

void TCookiesManagerForm::ClosePanel()
{
    palAddCookie->Hide();
    imgAddCookie->SetEnabled(true);
}

void TCookiesManagerForm::btnOKClick()
{
    ClosePanel();
    const std::wstring name = edtCookieName->Text();
    // A typed name that waits in the delete list leaves it: no name is in both.
    const int waiting = name.empty() ? -1 : CookiesDeletedListBox->IndexOf(name);
    if (waiting >= 0) CookiesDeletedListBox->DeleteItem(waiting);
    AddOnce(*CookiesSavedListBox, name);
}

void TCookiesManagerForm::btnCancelClick() { ClosePanel(); }

std::wstring TCookiesManagerForm::KeepListText() const
{
    std::wstring text;
    for (const std::wstring& name : Rows(*CookiesSavedListBox)) text += name + L"\r\n";
    return text;
}

void TCookiesManagerForm::SaveButtonClick()
{
    CookieKeepList = KeepListText();
    SetModalResult(forms::mrOk);
    Close();
}

void TCookiesManagerForm::CancelButtonClick()
{
    SetModalResult(forms::mrCancel);
    Close();
}

void TCookiesManagerForm::FormKeyDown(WPARAM key, bool& handled)
{
    // Enter and Esc answer the add panel while it is open (OK is its default
    // button), and Esc closes the manager otherwise, as in any dialog.
    if (key == VK_RETURN && palAddCookie->Visible()) {
        handled = true;
        if (btnOK->Enabled()) btnOKClick();
    } else if (key == VK_ESCAPE) {
        handled = true;
        if (palAddCookie->Visible())
            btnCancelClick();
        else
            CancelButtonClick();
    }
}

void TCookiesManagerForm::BackImageMouseDown(forms::MouseButton button)
{
    if (button != forms::MouseButton::Left) return;
    // Borderless: a press on the background moves the window, as its title bar would.
    ::ReleaseCapture();
    ::SendMessageW(Handle(), WM_SYSCOMMAND, SC_MOVE | HTCAPTION, 0);
}

bool ShowCookiesManager(HWND owner)
{
    TCookiesManagerForm form(owner);
    return form.ShowModal() == forms::mrOk;
}

} // namespace kv
