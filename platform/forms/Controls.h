#pragma once
// The form layer's controls. A Control is either a graphic control (no window
// of its own: label, image, paint box, picture button), painted and given its
// mouse input by the windowed control it sits on, or a WinControl with a real
// window (form, panel, the system's buttons, edits, lists). Every window
// procedure of the layer routes what a handler throws to the application's
// exception handler (platform/Exceptions.h); nothing unwinds through user32.
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Handles.h"
#include "platform/forms/Graphics.h"

namespace kv::forms {

class WinControl;
class Form;
class ImageList;

enum class MouseButton { Left, Right, Middle };

class Control {
public:
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;
    virtual ~Control();

    int Id() const noexcept { return id_; }
    const std::wstring& Name() const noexcept { return name_; }
    void SetName(std::wstring name) { name_ = std::move(name); }
    WinControl* Parent() const noexcept { return parent_; }
    Form* OwnerForm() const noexcept;

    int Left() const noexcept { return bounds_.left; }
    int Top() const noexcept { return bounds_.top; }
    int Width() const noexcept { return bounds_.right - bounds_.left; }
    int Height() const noexcept { return bounds_.bottom - bounds_.top; }
    // In the parent's client coordinates (the screen's for a form).
    const RECT& Bounds() const noexcept { return bounds_; }
    RECT ScreenBounds() const;
    virtual void SetBounds(int left, int top, int width, int height);
    void SetLeft(int left) { SetBounds(left, Top(), Width(), Height()); }
    void SetTop(int top) { SetBounds(Left(), top, Width(), Height()); }
    void SetWidth(int width) { SetBounds(Left(), Top(), width, Height()); }
    void SetHeight(int height) { SetBounds(Left(), Top(), Width(), height); }

    bool Visible() const noexcept { return visible_; }
    virtual void SetVisible(bool visible);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    bool Enabled() const noexcept { return enabled_; }
    virtual void SetEnabled(bool enabled);

    virtual std::wstring Text() const { return text_; }
    virtual void SetText(const std::wstring& text);

    // "short|long": the short part is the tooltip, the long part goes to the application's OnHint.
    const std::wstring& Hint() const noexcept { return hint_; }
    void SetHint(std::wstring hint) { hint_ = std::move(hint); }

    const FontSpec& Font() const noexcept { return font_; }
    void SetFont(const FontSpec& font);
    void SetFontName(const std::wstring& name);
    void SetFontColor(COLORREF color);
    COLORREF Color() const noexcept { return color_; }
    void SetColor(COLORREF color);
    void SetCursor(LPCWSTR systemCursor) { cursor_ = ::LoadCursorW(nullptr, systemCursor); }
    HCURSOR Cursor() const noexcept { return cursor_; }

    int Tag = 0;

    std::function<void()> OnClick;
    std::function<void()> OnDblClick;
    std::function<void()> OnMouseEnter;
    std::function<void()> OnMouseLeave;
    std::function<void(MouseButton, UINT keys, int x, int y)> OnMouseDown;
    std::function<void(MouseButton, UINT keys, int x, int y)> OnMouseUp;
    std::function<void(UINT keys, int x, int y)> OnMouseMove;

    // Input as the parent (graphic controls) or the window procedure delivers it;
    // x and y are in the control's own client coordinates.
    virtual void MouseEnter();
    virtual void MouseLeave();
    virtual void MouseDown(MouseButton button, UINT keys, int x, int y);
    virtual void MouseUp(MouseButton button, UINT keys, int x, int y);
    virtual void MouseMove(UINT keys, int x, int y);
    virtual void Click();
    virtual void DblClick();

    virtual bool IsWindowed() const noexcept = 0;
    virtual void Invalidate() = 0;
    // Graphic controls paint here, with the DC's origin at their top-left corner.
    virtual void Paint(HDC dc) {}

    HFONT FontHandle();
    // The size of a text in the control's font (DrawText's measure with `format`).
    SIZE MeasureText(const std::wstring& text, UINT format = DT_SINGLELINE | DT_NOPREFIX);

protected:
    Control(WinControl* parent, int id);
    virtual void EnabledChanged() {}
    virtual void TextChanged() {}
    virtual void FontChanged() { Invalidate(); }
    bool SameBounds(int left, int top, int width, int height) const noexcept;

    RECT bounds_{};
    bool visible_ = true;
    bool enabled_ = true;
    std::wstring text_;
    COLORREF color_ = CLR_INVALID; // CLR_INVALID: the parent's colour

private:
    WinControl* parent_;
    int id_;
    std::wstring name_;
    std::wstring hint_;
    FontSpec font_;
    bool parentFontName_ = true;
    GdiObject fontHandle_;
    FontSpec fontHandleSpec_;
    HCURSOR cursor_ = nullptr;

    friend class WinControl;
};

// A control with no window of its own.
class GraphicControl : public Control {
public:
    bool IsWindowed() const noexcept override { return false; }
    void Invalidate() override;
    void SetBounds(int left, int top, int width, int height) override;
    void SetVisible(bool visible) override;
    void SetEnabled(bool enabled) override;
    void SetText(const std::wstring& text) override;

protected:
    GraphicControl(WinControl& parent, int id);
};

class WinControl : public Control {
public:
    ~WinControl() override;

    HWND Handle() const noexcept { return handle_; }
    bool IsWindowed() const noexcept override { return true; }
    void Invalidate() override;
    void SetBounds(int left, int top, int width, int height) override;
    void SetVisible(bool visible) override;
    void SetEnabled(bool enabled) override;
    std::wstring Text() const override;
    void SetText(const std::wstring& text) override;
    void SetFocus();
    bool Focused() const;

    // Children in z-order (first painted first); graphic ones are painted by this window.
    const std::vector<Control*>& Children() const noexcept { return children_; }
    Control* ChildAt(int x, int y, bool enabledOnly) const;
    Control* HoveredChild() const noexcept { return hovered_; }

    // The control object of a window made by this layer, or nullptr.
    static WinControl* FromHandle(HWND window) noexcept;

    // Where the next child made on this control is to be, and whether shown:
    // a layout says so before making the child, whose window is then created
    // in its place instead of being created at the origin, moved and hidden
    // (each a round trip to the window server). Taken by the next child's
    // window; a child without a window leaves it to DropNextChildPlace.
    void PlaceNextChild(const RECT& bounds, bool visible) { nextChild_ = ChildPlace{bounds, visible}; }
    void DropNextChildPlace() noexcept { nextChild_.reset(); }
    COLORREF EffectiveColor() const;

    std::function<void(HDC dc, const RECT& client)> OnPaint; // after the background, before graphic children

protected:
    // Our own window class (registered on first use) or a system class to subclass.
    WinControl(WinControl* parent, int id);
    void CreateOwnWindow(const wchar_t* className, DWORD style, DWORD exStyle, const RECT& bounds, HWND parentWindow,
                         UINT classStyle = CS_DBLCLKS);
    void CreateSystemWindow(const wchar_t* className, DWORD style, DWORD exStyle, const RECT& bounds);
    // The same, made hidden whatever its place says, for a control whose
    // set-up costs more while it shows; ShowAsPlaced shows it afterwards.
    void CreateSystemWindowHidden(const wchar_t* className, DWORD style, DWORD exStyle, const RECT& bounds);
    void ShowAsPlaced();

    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT DefaultProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Messages the parent passes on: WM_COMMAND notification codes, WM_NOTIFY,
    // owner drawing and control colours.
    virtual bool CommandNotify(WORD code) { return false; }
    virtual bool Notify(NMHDR& header, LRESULT& result) { return false; }
    virtual bool DrawItem(DRAWITEMSTRUCT& item) { return false; }
    virtual HBRUSH ControlColor(HDC dc);
    void FontChanged() override;

    void PaintClient(HDC dc);
    void EnabledChanged() override {}
    // A brush of one colour, kept until another colour is asked for.
    HBRUSH CachedBrush(COLORREF color);

private:
    friend class Control;
    friend class GraphicControl;
    static LRESULT CALLBACK OwnClassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // The procedure of a subclassed system control; the class's own is baseProc_.
    static LRESULT CALLBACK SystemClassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    bool RouteMouse(UINT message, WPARAM wParam, LPARAM lParam);
    void SetHovered(Control* control);
    void TrackLeave();
    // Ends the tie between window and object; `destroying` on WM_NCDESTROY,
    // when the window's procedure no longer matters.
    void Detach(bool destroying = false);
    // The place the parent's layout asked for, if any, instead of `bounds`.
    void TakePlace(RECT& bounds, DWORD& style);
    void MakeSystemWindow(const wchar_t* className, DWORD style, DWORD exStyle, const RECT& bounds,
                          bool hiddenWhileSetUp);

    struct ChildPlace {
        RECT bounds;
        bool visible;
    };
    std::optional<ChildPlace> nextChild_;
    HWND handle_ = nullptr;
    WNDPROC baseProc_ = nullptr;
    HFONT sentFont_ = nullptr; // the font a system control was last given
    bool ownClass_ = false;
    bool tracking_ = false;
    bool mouseInside_ = false;
    std::vector<Control*> children_;
    Control* hovered_ = nullptr;
    Control* pressed_ = nullptr;
    MouseButton pressedButton_ = MouseButton::Left;
    GdiObject brush_;
    COLORREF brushColor_ = CLR_INVALID;
};

// ---- Graphic controls

class Label : public GraphicControl {
public:
    Label(WinControl& parent, int id);
    bool Transparent = false;
    bool WordWrap = false;
    bool AutoSize = false;
    UINT Alignment = DT_LEFT; // DT_LEFT, DT_CENTER or DT_RIGHT
    void Paint(HDC dc) override;
    void AdjustSize();

protected:
    void TextChanged() override;
};

class Image : public GraphicControl {
public:
    Image(WinControl& parent, int id);
    const Bitmap& Picture() const noexcept { return picture_; }
    // Copies the picture in (the image keeps its own).
    void SetPicture(const Bitmap& picture);
    bool Stretch = false;
    bool Center = false;
    bool AutoSize = false;
    // When set, the picture fills the control with these borders kept at
    // their size (Bitmap::DrawSliced).
    std::optional<RECT> SliceBorder;
    void Paint(HDC dc) override;

private:
    Bitmap picture_;
};

class PaintBox : public GraphicControl {
public:
    PaintBox(WinControl& parent, int id);
    std::function<void(HDC dc, const RECT& area)> OnPaint;
    void Paint(HDC dc) override;
};

// ---- Windowed controls

class Panel : public WinControl {
public:
    Panel(WinControl& parent, int id);
    bool Bevel = false;
};

class Button : public WinControl {
public:
    Button(WinControl& parent, int id);
    void SetDefault(bool isDefault);

protected:
    Button(WinControl& parent, int id, DWORD style);
    bool CommandNotify(WORD code) override;
};

// A push button that shows a picture in place of a caption: a sign that
// needs no translation.
class GlyphButton : public Button {
public:
    GlyphButton(WinControl& parent, int id);
    const Bitmap& Glyph() const noexcept { return glyph_; }
    void SetGlyph(const Bitmap& glyph);

protected:
    bool DrawItem(DRAWITEMSTRUCT& item) override;

private:
    Bitmap glyph_;
};

class CheckBox : public Button {
public:
    CheckBox(WinControl& parent, int id);
    bool Checked() const;
    // Changing the mark fires OnClick, as a click of the user would.
    void SetChecked(bool checked);

protected:
    CheckBox(WinControl& parent, int id, DWORD style);
    HBRUSH ControlColor(HDC dc) override;
};

class RadioButton : public CheckBox {
public:
    RadioButton(WinControl& parent, int id);
};

class Edit : public WinControl {
public:
    Edit(WinControl& parent, int id);
    std::function<void()> OnChange;
    void SetMaxLength(int length);
    void SelectAll();
    void SetReadOnly(bool readOnly);

protected:
    bool CommandNotify(WORD code) override;
    HBRUSH ControlColor(HDC dc) override;
};

class ComboBox : public WinControl {
public:
    ComboBox(WinControl& parent, int id, bool sorted = false);
    int AddItem(const std::wstring& text);
    void Clear();
    int Count() const;
    std::wstring Item(int index) const;
    int ItemIndex() const;
    void SetItemIndex(int index);
    int IndexOf(const std::wstring& text) const;
    std::wstring Text() const override;
    std::function<void()> OnChange;

protected:
    bool CommandNotify(WORD code) override;
};

// Owner-drawn list box of fixed item height.
class ListBox : public WinControl {
public:
    ListBox(WinControl& parent, int id, bool sorted = false, bool multiSelect = false, bool border = true);
    int AddItem(const std::wstring& text);
    void DeleteItem(int index);
    void Clear();
    int Count() const;
    std::wstring Item(int index) const;
    int IndexOf(const std::wstring& text) const; // case-insensitive, -1 when absent
    bool Selected(int index) const;
    void SetSelected(int index, bool selected);
    int SelCount() const;
    int ItemHeight() const;
    void SetItemHeight(int height);
    // The row at a client point; with `existing` only a row that lies under the point.
    int ItemAtPos(POINT point, bool existing) const;
    RECT ItemRect(int index) const;
    std::function<void(int index, HDC dc, const RECT& rect, bool selected)> OnDrawItem;

protected:
    bool DrawItem(DRAWITEMSTRUCT& item) override;
};

// Where a list's rows live. System: the system's list keeps a copy of every
// row. Owner: the ListView object keeps them and the list, made as a virtual
// list, asks for what it shows; adding a row then costs the list nothing but
// its count, and a row takes a fraction of the memory. The interface is the
// same for both.
enum class RowStore { System, Owner };

// Report-style list view, optionally with check boxes, row images and sortable columns.
class ListView : public WinControl {
public:
    struct Row {
        std::wstring caption;
        std::vector<std::wstring> subItems;
        int image = -1;
        bool checked = false;
        bool selected = false;
    };

    // Without `drawing` the list is made with its redraw off (SetRedraw).
    ListView(WinControl& parent, int id, bool checkBoxes = true, bool multiSelect = false, bool drawing = true,
             RowStore store = RowStore::System);

    void SetImageList(const ImageList& images);
    void AddColumn(const std::wstring& caption, int width, int format = LVCFMT_LEFT);
    int ColumnCount() const;
    std::wstring ColumnCaption(int column) const;
    void SetColumnCaption(int column, const std::wstring& caption);
    int ColumnWidth(int column) const;
    void SetColumnWidth(int column, int width); // LVSCW_AUTOSIZE fits the contents
    // The width of a text in the list's font (a cell adds its margins).
    int StringWidth(const std::wstring& text) const;
    void DeleteColumn(int column);
    int ColumnImage(int column) const; // -1: none
    void SetColumnImage(int column, int image);
    RECT HeaderItemRect(int column) const;

    // `ownerKeptColumns`: the columns (1 or more) whose texts this row does
    // not hand to the list: the list asks OnOwnerKeptText whenever it needs one.
    int AddItem(const std::wstring& caption, const std::vector<std::wstring>& subItems = {}, int image = -1,
                bool checked = false, std::initializer_list<int> ownerKeptColumns = {});
    // The key the row added last was given (see Key), without asking the list.
    LPARAM NewestKey() const noexcept { return nextKey_ - 1; }
    int Count() const;
    void DeleteItem(int index);
    // Deletes, last to first, every row `remove` picks, with redraw off
    // meanwhile: each delete would repaint the list and reset its scroll bars.
    void DeleteItemsWhere(const std::function<bool(int index)>& remove);
    void Clear();
    Row GetRow(int index) const;
    // A row's own key, given when it was added: it stays with the row
    // through sorts and through deletions of other rows.
    LPARAM Key(int index) const;
    std::wstring Caption(int index) const;
    void SetCaption(int index, const std::wstring& caption);
    std::wstring SubItem(int index, int subItem) const;
    void SetSubItem(int index, int subItem, const std::wstring& text);
    int ImageIndex(int index) const;
    void SetImageIndex(int index, int image);
    bool Checked(int index) const;
    void SetChecked(int index, bool checked);
    bool Selected(int index) const;
    void SetSelected(int index, bool selected);
    int SelectedIndex() const; // the first selected row, -1 when none
    int SelCount() const;
    RECT ItemRect(int index, int part = LVIR_BOUNDS) const;
    void MakeVisible(int index);
    // While redraw is off, added rows are not painted (each insert would
    // repaint the list); turning it on again repaints once.
    void SetRedraw(bool redraw);
    // Paints the rows added so far and leaves redraw off.
    void RepaintWhileRedrawOff();

    // Sorts the rows with `compare` (<0, 0, >0); rows keep their marks and selection.
    void Sort(const std::function<int(const Row&, const Row&)>& compare);

    std::function<void(int column)> OnColumnClick;
    std::function<void(int index)> OnItemChecked; // a row's check mark changed
    std::function<void(int index)> OnChange;      // any state or text change of a row
    std::function<void(int index)> OnInsert;
    std::function<void(int index)> OnDeletion;
    // The text of a row's owner-kept column (see AddItem), by the row's key.
    std::function<std::wstring_view(LPARAM key, int column)> OnOwnerKeptText;

protected:
    bool Notify(NMHDR& header, LRESULT& result) override;

private:
    // A row of a list whose rows this object keeps (RowStore::Owner).
    struct OwnerRow {
        std::wstring caption;
        std::vector<std::wstring> subItems; // columns 1..n, owner-kept ones left empty
        LPARAM key = 0;
        int image = -1;
        std::uint32_t ownerKept = 0; // bit c: column c's text comes from OnOwnerKeptText
        bool checked = false;
    };

    // A cell's text by its column (0: the caption); LPSTR_TEXTCALLBACKW makes it owner-kept.
    void SetColumnText(int index, int column, const wchar_t* text);

    // The rows this object keeps (ListViewOwnedRows.cpp).
    struct Selection {
        std::vector<LPARAM> keys;
        LPARAM focused = 0; // keys start at 1
        bool all = false;
    };
    bool OwnsRows() const noexcept { return store_ == RowStore::Owner; }
    const OwnerRow& OwnedRow(int index) const;
    OwnerRow* OwnedRowAt(int index); // nullptr when out of range
    int AddOwnedRow(const std::wstring& caption, const std::vector<std::wstring>& subItems, int image, bool checked,
                    std::initializer_list<int> ownerKeptColumns);
    bool SetOwnedCount();
    std::wstring OwnedCellText(const OwnerRow& row, int column) const;
    void SetOwnedCellText(int index, int column, const wchar_t* text);
    void SetOwnedImage(int index, int image);
    void SetOwnedChecked(int index, bool checked);
    void RedrawOwnedRow(int index);
    void DeleteOwnedRow(int index);
    void DeleteOwnedRowsWhere(const std::function<bool(int index)>& remove);
    void ClearOwnedRows();
    void SortOwnedRows(const std::function<int(const Row&, const Row&)>& compare);
    Selection TakeSelection();
    void RestoreSelection(const Selection& selection);
    void SetOwnedState(int index, UINT state, UINT mask);
    // What the list asks of a row, and a person's check-box click or space key.
    void FillOwnedDisplay(LVITEMW& item) const;
    void ToggleCheckedAt(POINT point);
    void ToggleFocusedChecked();
    int FindOwnedRow(const NMLVFINDITEMW& find) const;

    RowStore store_ = RowStore::System;
    std::vector<OwnerRow> ownedRows_;
    bool checkBoxes_ = false;
    LPARAM nextKey_ = 1;
    bool rowsMoving_ = false; // a sort or a bulk change moves rows: the list's change events are not a person's
    bool redraw_ = true;
};

// A frame with a caption around a group of controls; the controls are its
// children (their positions are in its client area).
class GroupBox : public Panel {
public:
    GroupBox(WinControl& parent, int id);

protected:
    void TextChanged() override { Invalidate(); }

private:
    void PaintFrame(HDC dc, const RECT& client);
};

} // namespace kv::forms
