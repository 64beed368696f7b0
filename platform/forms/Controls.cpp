#include "platform/forms/Controls.h"

#include <windowsx.h>

#include <algorithm>
#include <climits>
#include <exception>
#include <map>

#include "platform/Exceptions.h"
#include "platform/LockedMap.h"
#include "platform/forms/Form.h"

namespace kv::forms {
namespace {

// Which control object each of our windows belongs to, and the procedure of
// a subclassed system control. Looked up with nearly every message, so kept
// here rather than in window properties or comctl32's subclass chain, which
// under Wine cost a round trip to the server per read.
struct ControlEntry {
    WinControl* control = nullptr; // none once detached
    WNDPROC baseProc = nullptr;    // the system class's procedure, for a subclassed control
};

using ControlWindows = LockedMap<HWND, ControlEntry>;

ControlWindows& OurWindows()
{
    static ControlWindows windows;
    return windows;
}

MouseButton ButtonOf(UINT message)
{
    switch (message) {
    case WM_RBUTTONDOWN: case WM_RBUTTONUP: case WM_RBUTTONDBLCLK: return MouseButton::Right;
    case WM_MBUTTONDOWN: case WM_MBUTTONUP: case WM_MBUTTONDBLCLK: return MouseButton::Middle;
    default: return MouseButton::Left;
    }
}

bool IsButtonDown(UINT m) { return m == WM_LBUTTONDOWN || m == WM_RBUTTONDOWN || m == WM_MBUTTONDOWN; }
bool IsDoubleClick(UINT m) { return m == WM_LBUTTONDBLCLK || m == WM_RBUTTONDBLCLK || m == WM_MBUTTONDBLCLK; }
bool IsButtonUp(UINT m) { return m == WM_LBUTTONUP || m == WM_RBUTTONUP || m == WM_MBUTTONUP; }

// The text of a list or combo box item; the two speak the same protocol with different messages.
std::wstring ItemText(HWND window, UINT lengthMessage, UINT textMessage, int index)
{
    const LRESULT length = ::SendMessageW(window, lengthMessage, index, 0);
    if (length < 0) return std::wstring();
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    ::SendMessageW(window, textMessage, index, reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    return text;
}

struct PaintScope {
    HWND window;
    PAINTSTRUCT paint{};
    HDC dc;
    explicit PaintScope(HWND w) : window(w), dc(::BeginPaint(w, &paint)) {}
    ~PaintScope() { ::EndPaint(window, &paint); }
};

} // namespace

// ---------------------------------------------------------------- Control

Control::Control(WinControl* parent, int id) : parent_(parent), id_(id)
{
    if (parent_) parent_->children_.push_back(this);
}

Control::~Control()
{
    if (!parent_) return;
    auto& siblings = parent_->children_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    if (parent_->hovered_ == this) parent_->hovered_ = nullptr;
    if (parent_->pressed_ == this) parent_->pressed_ = nullptr;
}

Form* Control::OwnerForm() const noexcept
{
    const Control* control = this;
    while (control->parent_) control = control->parent_;
    return dynamic_cast<Form*>(const_cast<Control*>(control));
}

RECT Control::ScreenBounds() const
{
    RECT result = bounds_;
    if (parent_ && parent_->Handle()) ::MapWindowPoints(parent_->Handle(), nullptr, reinterpret_cast<POINT*>(&result), 2);
    return result;
}

void Control::SetBounds(int left, int top, int width, int height)
{
    bounds_ = RECT{left, top, left + std::max(width, 0), top + std::max(height, 0)};
}

bool Control::SameBounds(int left, int top, int width, int height) const noexcept
{
    return bounds_.left == left && bounds_.top == top && Width() == std::max(width, 0) &&
           Height() == std::max(height, 0);
}

void Control::SetVisible(bool visible) { visible_ = visible; }

void Control::SetEnabled(bool enabled)
{
    if (enabled_ == enabled) return;
    enabled_ = enabled;
    EnabledChanged();
}

void Control::SetText(const std::wstring& text)
{
    text_ = text;
    TextChanged();
}

void Control::SetFont(const FontSpec& font)
{
    font_ = font;
    parentFontName_ = font.name.empty();
    FontChanged();
}

void Control::SetFontName(const std::wstring& name)
{
    font_.name = name;
    parentFontName_ = false;
    FontChanged();
}

void Control::SetFontColor(COLORREF color)
{
    font_.color = color;
    Invalidate();
}

void Control::SetColor(COLORREF color)
{
    color_ = color;
    Invalidate();
}

HFONT Control::FontHandle()
{
    FontSpec effective = font_;
    if (parentFontName_ && parent_) effective.name = parent_->FontHandle() ? parent_->fontHandleSpec_.name : L"";
    if (!fontHandle_ || !effective.SameFace(fontHandleSpec_)) {
        fontHandle_ = CreateFontFrom(effective);
        fontHandleSpec_ = effective;
        if (fontHandleSpec_.name.empty()) fontHandleSpec_.name = ScreenHintFontName();
    }
    return static_cast<HFONT>(fontHandle_.Get());
}

void Control::MouseEnter()
{
    if (OnMouseEnter) OnMouseEnter();
}

void Control::MouseLeave()
{
    if (OnMouseLeave) OnMouseLeave();
}

void Control::MouseDown(MouseButton button, UINT keys, int x, int y)
{
    if (OnMouseDown) OnMouseDown(button, keys, x, y);
}

void Control::MouseUp(MouseButton button, UINT keys, int x, int y)
{
    if (OnMouseUp) OnMouseUp(button, keys, x, y);
}

void Control::MouseMove(UINT keys, int x, int y)
{
    if (OnMouseMove) OnMouseMove(keys, x, y);
}

void Control::Click()
{
    if (OnClick) OnClick();
}

void Control::DblClick()
{
    if (OnDblClick) OnDblClick();
}

// ---------------------------------------------------------------- GraphicControl

GraphicControl::GraphicControl(WinControl& parent, int id) : Control(&parent, id) {}

// A window not on screen (its own or an ancestor's WS_VISIBLE off) is painted
// whole when it is shown; invalidating it before is a wasted round trip to
// the window server under Wine, hundreds of them while a form is built.
void GraphicControl::Invalidate()
{
    if (Parent() && Parent()->Handle() && ::IsWindowVisible(Parent()->Handle()))
        ::InvalidateRect(Parent()->Handle(), &bounds_, FALSE);
}

void GraphicControl::SetBounds(int left, int top, int width, int height)
{
    if (SameBounds(left, top, width, height)) return;
    Invalidate();
    Control::SetBounds(left, top, width, height);
    Invalidate();
}

void GraphicControl::SetVisible(bool visible)
{
    if (visible_ == visible) return;
    visible_ = visible;
    if (!visible && Parent()->hovered_ == this) Parent()->SetHovered(nullptr);
    Invalidate();
}

void GraphicControl::SetEnabled(bool enabled)
{
    Control::SetEnabled(enabled);
    Invalidate();
}

void GraphicControl::SetText(const std::wstring& text)
{
    Control::SetText(text);
    Invalidate();
}

// ---------------------------------------------------------------- WinControl

WinControl::WinControl(WinControl* parent, int id) : Control(parent, id) {}

WinControl::~WinControl()
{
    if (handle_) {
        HWND window = handle_;
        Detach();
        ::DestroyWindow(window);
    }
}

void WinControl::Detach(bool destroying)
{
    if (!handle_) return;
    const bool ownProcOnTop = reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(handle_, GWLP_WNDPROC)) == SystemClassProc;
    if (baseProc_ && !destroying && ownProcOnTop) {
        ::SetWindowLongPtrW(handle_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(baseProc_));
        OurWindows().Forget(handle_);
    } else if (baseProc_ && !destroying) {
        // Subclassed again on top of us: our procedure stays in the chain and
        // passes the window's last messages on.
        OurWindows().Set(handle_, {nullptr, baseProc_});
    } else {
        OurWindows().Forget(handle_);
    }
    handle_ = nullptr;
}

WinControl* WinControl::FromHandle(HWND window) noexcept
{
    return window ? OurWindows().Find(window).control : nullptr;
}

void WinControl::CreateOwnWindow(const wchar_t* className, DWORD style, DWORD exStyle, const RECT& bounds,
                                 HWND parentWindow, UINT classStyle)
{
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW existing{sizeof(existing)};
    if (!::GetClassInfoExW(instance, className, &existing)) {
        WNDCLASSEXW windowClass{sizeof(windowClass)};
        windowClass.style = classStyle;
        windowClass.lpfnWndProc = OwnClassProc;
        windowClass.hInstance = instance;
        windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(1));
        windowClass.lpszClassName = className;
        if (!::RegisterClassExW(&windowClass)) throw Exception(L"Cannot register the window class " + std::wstring(className));
    }
    RECT place = bounds;
    if (style & WS_CHILD) TakePlace(place, style);
    bounds_ = place;
    ownClass_ = true;
    // A child's identifier comes with its window, not with a second call.
    const HMENU childId = (style & WS_CHILD) ? reinterpret_cast<HMENU>(static_cast<INT_PTR>(Id())) : nullptr;
    ::CreateWindowExW(exStyle, className, text_.c_str(), style, place.left, place.top, place.right - place.left,
                      place.bottom - place.top, parentWindow, childId, instance, this);
    if (!handle_) throw Exception(L"Cannot create a window of class " + std::wstring(className));
    visible_ = (style & WS_VISIBLE) != 0;
}

void WinControl::CreateSystemWindow(const wchar_t* className, DWORD style, DWORD exStyle, const RECT& bounds)
{
    MakeSystemWindow(className, style, exStyle, bounds, false);
}

void WinControl::CreateSystemWindowHidden(const wchar_t* className, DWORD style, DWORD exStyle, const RECT& bounds)
{
    MakeSystemWindow(className, style, exStyle, bounds, true);
}

void WinControl::ShowAsPlaced()
{
    if (handle_ && visible_) ::ShowWindow(handle_, SW_SHOWNA);
}

void WinControl::MakeSystemWindow(const wchar_t* className, DWORD style, DWORD exStyle, const RECT& bounds,
                                  bool hiddenWhileSetUp)
{
    RECT place = bounds;
    style |= WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
    TakePlace(place, style);
    bounds_ = place;
    visible_ = (style & WS_VISIBLE) != 0;
    if (hiddenWhileSetUp) style &= ~WS_VISIBLE;
    HWND window = ::CreateWindowExW(exStyle, className, text_.c_str(), style, place.left, place.top,
                                    place.right - place.left, place.bottom - place.top, Parent()->Handle(),
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(Id())), ::GetModuleHandleW(nullptr),
                                    nullptr);
    if (!window) throw Exception(L"Cannot create a control of class " + std::wstring(className));
    handle_ = window;
    baseProc_ = reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(window, GWLP_WNDPROC));
    OurWindows().Set(window, {this, baseProc_});
    ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SystemClassProc));
    sentFont_ = FontHandle();
    ::SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(sentFont_), FALSE);
}

void WinControl::TakePlace(RECT& bounds, DWORD& style)
{
    WinControl* parent = Parent();
    if (!parent || !parent->nextChild_) return;
    bounds = parent->nextChild_->bounds;
    if (!parent->nextChild_->visible) style &= ~WS_VISIBLE;
    parent->nextChild_.reset();
}

LRESULT CALLBACK WinControl::OwnClassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // Found in our own table: the window's user data would cost a round trip
    // to the window server to set.
    WinControl* self = OurWindows().Find(window).control;
    if (!self && message == WM_NCCREATE) {
        self = static_cast<WinControl*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->handle_ = window;
        OurWindows().Set(window, {self, nullptr});
    }
    if (!self) return ::DefWindowProcW(window, message, wParam, lParam);
    return self->Dispatch(message, wParam, lParam);
}

LRESULT CALLBACK WinControl::SystemClassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const ControlEntry entry = OurWindows().Find(window);
    if (entry.control) return entry.control->Dispatch(message, wParam, lParam);
    // Detached, but still in the window's chain of procedures.
    if (message == WM_NCDESTROY) OurWindows().Forget(window);
    return entry.baseProc ? ::CallWindowProcW(entry.baseProc, window, message, wParam, lParam)
                          : ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT WinControl::Dispatch(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCDESTROY) {
        const HWND window = handle_;
        const WNDPROC baseProc = baseProc_;
        Detach(true);
        return baseProc ? ::CallWindowProcW(baseProc, window, message, wParam, lParam)
                        : ::DefWindowProcW(window, message, wParam, lParam);
    }
    // Whatever a handler throws stops here: it must not unwind through user32.
    return GuardedCallback<LRESULT>(0, [&] { return WindowProc(message, wParam, lParam); });
}

LRESULT WinControl::DefaultProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!handle_) return 0;
    return baseProc_ ? ::CallWindowProcW(baseProc_, handle_, message, wParam, lParam)
                     : ::DefWindowProcW(handle_, message, wParam, lParam);
}

LRESULT WinControl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        if (lParam)
            if (WinControl* target = FromHandle(reinterpret_cast<HWND>(lParam)); target && target->CommandNotify(HIWORD(wParam)))
                return 0;
        break;
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (WinControl* target = FromHandle(header->hwndFrom)) {
            LRESULT result = 0;
            if (target->Notify(*header, result)) return result;
        }
        break;
    }
    case WM_DRAWITEM: {
        auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
        if (WinControl* target = FromHandle(item->hwndItem); target && target->DrawItem(*item)) return TRUE;
        break;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
        if (WinControl* target = FromHandle(reinterpret_cast<HWND>(lParam)))
            if (HBRUSH brush = target->ControlColor(reinterpret_cast<HDC>(wParam))) return reinterpret_cast<LRESULT>(brush);
        break;
    case WM_ENABLE:
        if (enabled_ != (wParam != FALSE)) {
            enabled_ = wParam != FALSE;
            EnabledChanged();
        }
        break;
    default:
        break;
    }
    if (ownClass_) {
        switch (message) {
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT: {
            PaintScope paint(handle_);
            RECT client;
            ::GetClientRect(handle_, &client);
            // Drawn off-screen first, so graphic controls over pictures do not flicker.
            const GdiObject bitmap(::CreateCompatibleBitmap(paint.dc, std::max<LONG>(client.right, 1),
                                                            std::max<LONG>(client.bottom, 1)));
            const MemoryDC buffer(paint.dc, static_cast<HBITMAP>(bitmap.Get()));
            PaintClient(buffer.Get());
            ::BitBlt(paint.dc, 0, 0, client.right, client.bottom, buffer.Get(), 0, 0, SRCCOPY);
            return 0;
        }
        case WM_PRINTCLIENT:
            PaintClient(reinterpret_cast<HDC>(wParam));
            return 0;
        case WM_SETCURSOR:
            if (LOWORD(lParam) == HTCLIENT && reinterpret_cast<HWND>(wParam) == handle_) {
                HCURSOR cursor = hovered_ && hovered_->Cursor() ? hovered_->Cursor() : Cursor();
                if (cursor) {
                    ::SetCursor(cursor);
                    return TRUE;
                }
            }
            break;
        default:
            if (RouteMouse(message, wParam, lParam)) return 0;
            break;
        }
        return DefaultProc(message, wParam, lParam);
    }
    // A system control: its own handling first, then the events, as a person sees them.
    if (message == WM_MOUSEMOVE || IsButtonDown(message) || IsButtonUp(message) || IsDoubleClick(message)) {
        const LRESULT result = DefaultProc(message, wParam, lParam);
        const int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
        const UINT keys = static_cast<UINT>(wParam);
        if (message == WM_MOUSEMOVE) {
            MouseMove(keys, x, y);
        } else if (IsButtonUp(message)) {
            MouseUp(ButtonOf(message), keys, x, y);
        } else {
            MouseDown(ButtonOf(message), keys, x, y);
        }
        return result;
    }
    return DefaultProc(message, wParam, lParam);
}

void WinControl::TrackLeave()
{
    if (tracking_) return;
    TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, handle_, 0};
    tracking_ = ::TrackMouseEvent(&track) != FALSE;
}

void WinControl::SetHovered(Control* control)
{
    if (control == hovered_) return;
    Control* previous = hovered_;
    hovered_ = control;
    if (previous) previous->MouseLeave();
    if (control) control->MouseEnter();
    Application::Instance().ShowHintOf(control ? control : (mouseInside_ ? this : nullptr));
}

Control* WinControl::ChildAt(int x, int y, bool enabledOnly) const
{
    const POINT point{x, y};
    for (auto it = children_.rbegin(); it != children_.rend(); ++it) {
        Control* child = *it;
        if (child->IsWindowed() || !child->Visible() || (enabledOnly && !child->Enabled())) continue;
        if (::PtInRect(&child->Bounds(), point)) return child;
    }
    return nullptr;
}

bool WinControl::RouteMouse(UINT message, WPARAM wParam, LPARAM lParam)
{
    const int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
    const UINT keys = static_cast<UINT>(wParam);
    auto local = [&](Control* c, auto&& call) {
        if (c == this)
            call(c, x, y);
        else
            call(c, x - c->Left(), y - c->Top());
    };
    if (message == WM_MOUSEMOVE) {
        TrackLeave();
        if (!mouseInside_) {
            mouseInside_ = true;
            MouseEnter();
        }
        Control* target = ChildAt(x, y, false);
        SetHovered(target);
        Control* receiver = pressed_ ? pressed_ : (target && target->Enabled() ? target : this);
        local(receiver, [&](Control* c, int cx, int cy) { c->MouseMove(keys, cx, cy); });
        return true;
    }
    if (message == WM_MOUSELEAVE) {
        tracking_ = false;
        if (!mouseInside_) return true;
        mouseInside_ = false;
        SetHovered(nullptr);
        MouseLeave();
        return true;
    }
    if (message == WM_CAPTURECHANGED) {
        if (reinterpret_cast<HWND>(lParam) != handle_) pressed_ = nullptr;
        return false;
    }
    if (IsButtonDown(message) || IsDoubleClick(message)) {
        Control* target = ChildAt(x, y, true);
        Control* receiver = target ? target : this;
        pressed_ = receiver;
        pressedButton_ = ButtonOf(message);
        ::SetCapture(handle_);
        if (IsDoubleClick(message) && pressedButton_ == MouseButton::Left) receiver->DblClick();
        local(receiver, [&](Control* c, int cx, int cy) { c->MouseDown(ButtonOf(message), keys, cx, cy); });
        return true;
    }
    if (IsButtonUp(message)) {
        Control* receiver = pressed_;
        const MouseButton button = ButtonOf(message);
        if (receiver && button == pressedButton_) {
            pressed_ = nullptr;
            if (::GetCapture() == handle_) ::ReleaseCapture();
            const RECT area = receiver == this ? RECT{0, 0, Width(), Height()} : receiver->Bounds();
            const bool inside = receiver == this ? true : ::PtInRect(&area, POINT{x, y}) != FALSE;
            // The click comes before the release is reported, so a handler that
            // disables its control on click decides what the release shows.
            if (button == MouseButton::Left && inside) receiver->Click();
            local(receiver, [&](Control* c, int cx, int cy) { c->MouseUp(button, keys, cx, cy); });
            return true;
        }
        if (!receiver) {
            Control* target = ChildAt(x, y, true);
            Control* under = target ? target : this;
            local(under, [&](Control* c, int cx, int cy) { c->MouseUp(button, keys, cx, cy); });
            return true;
        }
        return true;
    }
    return false;
}

void WinControl::PaintClient(HDC dc)
{
    RECT client;
    ::GetClientRect(handle_, &client);
    const GdiObject background(::CreateSolidBrush(EffectiveColor()));
    ::FillRect(dc, &client, static_cast<HBRUSH>(background.Get()));
    if (OnPaint) OnPaint(dc, client);
    for (Control* child : children_) {
        if (child->IsWindowed() || !child->Visible()) continue;
        const RECT& r = child->Bounds();
        RECT overlap;
        if (!::IntersectRect(&overlap, &r, &client)) continue;
        const int saved = ::SaveDC(dc);
        ::IntersectClipRect(dc, r.left, r.top, r.right, r.bottom);
        ::OffsetViewportOrgEx(dc, r.left, r.top, nullptr);
        child->Paint(dc);
        ::RestoreDC(dc, saved);
    }
}

COLORREF WinControl::EffectiveColor() const
{
    if (color_ != CLR_INVALID) return color_;
    if (Parent()) return Parent()->EffectiveColor();
    return ::GetSysColor(COLOR_BTNFACE);
}

HBRUSH WinControl::ControlColor(HDC dc) { return nullptr; }

HBRUSH WinControl::CachedBrush(COLORREF color)
{
    if (!brush_ || brushColor_ != color) {
        brush_ = GdiObject(::CreateSolidBrush(color));
        brushColor_ = color;
    }
    return static_cast<HBRUSH>(brush_.Get());
}

void WinControl::FontChanged()
{
    // A system control hears of its font only when it is another one: a list
    // lays itself out again at each WM_SETFONT, the same font or not.
    if (handle_ && !ownClass_) {
        const HFONT font = FontHandle();
        if (font != sentFont_) {
            ::SendMessageW(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
            sentFont_ = font;
        }
    }
    for (Control* child : children_)
        if (child->parentFontName_) child->FontChanged();
    Invalidate();
}

void WinControl::Invalidate()
{
    if (handle_ && ::IsWindowVisible(handle_)) ::InvalidateRect(handle_, nullptr, FALSE);
}

void WinControl::SetBounds(int left, int top, int width, int height)
{
    // A window already where it is asked to be is not moved again: a move is
    // a round trip to the window server and a repaint of what it uncovers.
    if (handle_ && SameBounds(left, top, width, height)) return;
    Control::SetBounds(left, top, width, height);
    if (handle_) ::MoveWindow(handle_, left, top, std::max(width, 0), std::max(height, 0), TRUE);
}

void WinControl::SetVisible(bool visible)
{
    visible_ = visible;
    if (handle_) ::ShowWindow(handle_, visible ? SW_SHOW : SW_HIDE);
}

void WinControl::SetEnabled(bool enabled)
{
    if (handle_) ::EnableWindow(handle_, enabled); // WM_ENABLE updates the state
    Control::SetEnabled(enabled);
}

std::wstring WinControl::Text() const
{
    if (!handle_) return text_;
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(handle_)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(handle_, text.data(), static_cast<int>(text.size()))));
    return text;
}

void WinControl::SetText(const std::wstring& text)
{
    text_ = text;
    if (handle_) ::SetWindowTextW(handle_, text.c_str());
    TextChanged();
}

void WinControl::SetFocus()
{
    if (handle_) ::SetFocus(handle_);
}

bool WinControl::Focused() const { return handle_ && ::GetFocus() == handle_; }

// ---------------------------------------------------------------- Label, Image, PaintBox

Label::Label(WinControl& parent, int id) : GraphicControl(parent, id) {}

void Label::Paint(HDC dc)
{
    RECT area{0, 0, Width(), Height()};
    if (!Transparent) {
        const GdiObject brush(::CreateSolidBrush(color_ != CLR_INVALID ? color_ : Parent()->EffectiveColor()));
        ::FillRect(dc, &area, static_cast<HBRUSH>(brush.Get()));
    }
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, Enabled() ? Font().color : ::GetSysColor(COLOR_GRAYTEXT));
    HGDIOBJ previous = ::SelectObject(dc, FontHandle());
    ::DrawTextW(dc, text_.c_str(), static_cast<int>(text_.size()), &area,
                Alignment | DT_NOPREFIX | DT_EXPANDTABS | (WordWrap ? DT_WORDBREAK : 0));
    ::SelectObject(dc, previous);
}

SIZE Control::MeasureText(const std::wstring& text, UINT format)
{
    const WindowDC screen(nullptr);
    HGDIOBJ previous = ::SelectObject(screen.Get(), FontHandle());
    RECT area{0, 0, 0, 0};
    ::DrawTextW(screen.Get(), text.c_str(), static_cast<int>(text.size()), &area, format | DT_CALCRECT);
    ::SelectObject(screen.Get(), previous);
    return SIZE{area.right - area.left, area.bottom - area.top};
}

void Label::AdjustSize()
{
    const WindowDC screen(nullptr);
    HGDIOBJ previous = ::SelectObject(screen.Get(), FontHandle());
    RECT area{0, 0, WordWrap ? Width() : 0, 0};
    const std::wstring measured = text_.empty() ? L" " : text_;
    ::DrawTextW(screen.Get(), measured.c_str(), static_cast<int>(measured.size()), &area,
                DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS | (WordWrap ? DT_WORDBREAK : 0));
    ::SelectObject(screen.Get(), previous);
    SetBounds(Left(), Top(), WordWrap ? Width() : area.right, area.bottom);
}

void Label::TextChanged()
{
    if (AutoSize) AdjustSize();
}

Image::Image(WinControl& parent, int id) : GraphicControl(parent, id) {}

void Image::SetPicture(const Bitmap& picture)
{
    if (&picture != &picture_) picture_ = picture;
    if (AutoSize && !picture_.Empty()) SetBounds(Left(), Top(), picture_.Width(), picture_.Height());
    Invalidate();
}

void Image::Paint(HDC dc)
{
    if (picture_.Empty()) return;
    if (SliceBorder)
        picture_.DrawSliced(dc, RECT{0, 0, Width(), Height()}, *SliceBorder);
    else if (Stretch)
        picture_.DrawStretched(dc, RECT{0, 0, Width(), Height()});
    else if (Center)
        picture_.Draw(dc, (Width() - picture_.Width()) / 2, (Height() - picture_.Height()) / 2);
    else
        picture_.Draw(dc, 0, 0);
}

PaintBox::PaintBox(WinControl& parent, int id) : GraphicControl(parent, id) {}

void PaintBox::Paint(HDC dc)
{
    if (OnPaint) OnPaint(dc, RECT{0, 0, Width(), Height()});
}

// ---------------------------------------------------------------- Panel

Panel::Panel(WinControl& parent, int id) : WinControl(&parent, id)
{
    CreateOwnWindow(L"TPanel", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, WS_EX_CONTROLPARENT,
                    RECT{0, 0, 0, 0}, parent.Handle());
}

// ---------------------------------------------------------------- Buttons

Button::Button(WinControl& parent, int id) : Button(parent, id, BS_PUSHBUTTON | WS_TABSTOP) {}

Button::Button(WinControl& parent, int id, DWORD style) : WinControl(&parent, id)
{
    CreateSystemWindow(L"BUTTON", style, 0, RECT{0, 0, 0, 0});
}

void Button::SetDefault(bool isDefault)
{
    ::SendMessageW(Handle(), BM_SETSTYLE, isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
}

bool Button::CommandNotify(WORD code)
{
    if (code != BN_CLICKED) return false;
    // The dialog manager sends Enter's IDOK to the button of that id whether
    // or not it is enabled; a disabled button is never pressed.
    if (!::IsWindowEnabled(Handle())) return true;
    Click();
    return true;
}

GlyphButton::GlyphButton(WinControl& parent, int id) : Button(parent, id, BS_OWNERDRAW | WS_TABSTOP) {}

void GlyphButton::SetGlyph(const Bitmap& glyph)
{
    glyph_ = glyph;
    Invalidate();
}

bool GlyphButton::DrawItem(DRAWITEMSTRUCT& item)
{
    const bool pushed = (item.itemState & ODS_SELECTED) != 0;
    RECT frame = item.rcItem;
    ::DrawFrameControl(item.hDC, &frame, DFC_BUTTON,
                       DFCS_BUTTONPUSH | (pushed ? DFCS_PUSHED : 0) | ((item.itemState & ODS_DISABLED) ? DFCS_INACTIVE : 0));
    const int shift = pushed ? 1 : 0;
    glyph_.Draw(item.hDC, (item.rcItem.right - item.rcItem.left - glyph_.Width()) / 2 + shift,
                (item.rcItem.bottom - item.rcItem.top - glyph_.Height()) / 2 + shift);
    if (item.itemState & ODS_FOCUS) {
        RECT focus = item.rcItem;
        ::InflateRect(&focus, -4, -4);
        ::DrawFocusRect(item.hDC, &focus);
    }
    return true;
}

CheckBox::CheckBox(WinControl& parent, int id) : CheckBox(parent, id, BS_AUTOCHECKBOX | WS_TABSTOP) {}

CheckBox::CheckBox(WinControl& parent, int id, DWORD style) : Button(parent, id, style) {}

bool CheckBox::Checked() const { return ::SendMessageW(Handle(), BM_GETCHECK, 0, 0) == BST_CHECKED; }

void CheckBox::SetChecked(bool checked)
{
    if (Checked() == checked) return;
    ::SendMessageW(Handle(), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    if (checked && (::GetWindowLongW(Handle(), GWL_STYLE) & 0x0F) == BS_AUTORADIOBUTTON) {
        for (Control* sibling : Parent()->Children())
            if (auto* radio = dynamic_cast<RadioButton*>(sibling); radio && radio != this)
                ::SendMessageW(radio->Handle(), BM_SETCHECK, BST_UNCHECKED, 0);
    }
    Click();
}

HBRUSH CheckBox::ControlColor(HDC dc)
{
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, Font().color);
    return CachedBrush(color_ != CLR_INVALID ? color_ : Parent()->EffectiveColor());
}

RadioButton::RadioButton(WinControl& parent, int id) : CheckBox(parent, id, BS_AUTORADIOBUTTON | WS_TABSTOP) {}

// ---------------------------------------------------------------- Edit, ComboBox

Edit::Edit(WinControl& parent, int id) : WinControl(&parent, id)
{
    CreateSystemWindow(L"EDIT", ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE, RECT{0, 0, 0, 0});
}

void Edit::SetMaxLength(int length) { ::SendMessageW(Handle(), EM_SETLIMITTEXT, length, 0); }

void Edit::SelectAll() { ::SendMessageW(Handle(), EM_SETSEL, 0, -1); }

void Edit::SetReadOnly(bool readOnly) { ::SendMessageW(Handle(), EM_SETREADONLY, readOnly, 0); }

bool Edit::CommandNotify(WORD code)
{
    if (code != EN_CHANGE) return false;
    if (OnChange) OnChange();
    return true;
}

HBRUSH Edit::ControlColor(HDC dc)
{
    if (color_ == CLR_INVALID) return nullptr;
    ::SetBkColor(dc, color_);
    ::SetTextColor(dc, Font().color);
    return CachedBrush(color_);
}

ComboBox::ComboBox(WinControl& parent, int id, bool sorted) : WinControl(&parent, id)
{
    CreateSystemWindow(L"COMBOBOX", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP | (sorted ? CBS_SORT : 0), 0,
                       RECT{0, 0, 0, 0});
}

int ComboBox::AddItem(const std::wstring& text)
{
    return static_cast<int>(::SendMessageW(Handle(), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
}

void ComboBox::Clear() { ::SendMessageW(Handle(), CB_RESETCONTENT, 0, 0); }

int ComboBox::Count() const { return static_cast<int>(::SendMessageW(Handle(), CB_GETCOUNT, 0, 0)); }

std::wstring ComboBox::Item(int index) const { return ItemText(Handle(), CB_GETLBTEXTLEN, CB_GETLBTEXT, index); }

int ComboBox::ItemIndex() const { return static_cast<int>(::SendMessageW(Handle(), CB_GETCURSEL, 0, 0)); }

void ComboBox::SetItemIndex(int index) { ::SendMessageW(Handle(), CB_SETCURSEL, index, 0); }

int ComboBox::IndexOf(const std::wstring& text) const
{
    return static_cast<int>(::SendMessageW(Handle(), CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                           reinterpret_cast<LPARAM>(text.c_str())));
}

std::wstring ComboBox::Text() const
{
    const int index = ItemIndex();
    return index < 0 ? std::wstring() : Item(index);
}

bool ComboBox::CommandNotify(WORD code)
{
    if (code != CBN_SELCHANGE) return false;
    if (OnChange) OnChange();
    return true;
}

// ---------------------------------------------------------------- ListBox

ListBox::ListBox(WinControl& parent, int id, bool sorted, bool multiSelect, bool border) : WinControl(&parent, id)
{
    CreateSystemWindow(L"LISTBOX",
                       LBS_OWNERDRAWFIXED | LBS_HASSTRINGS | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_TABSTOP |
                           (sorted ? LBS_SORT : 0) | (multiSelect ? LBS_EXTENDEDSEL : 0) | (border ? WS_BORDER : 0),
                       0, RECT{0, 0, 0, 0});
}

int ListBox::AddItem(const std::wstring& text)
{
    return static_cast<int>(::SendMessageW(Handle(), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
}

void ListBox::DeleteItem(int index) { ::SendMessageW(Handle(), LB_DELETESTRING, index, 0); }

void ListBox::Clear() { ::SendMessageW(Handle(), LB_RESETCONTENT, 0, 0); }

int ListBox::Count() const { return static_cast<int>(::SendMessageW(Handle(), LB_GETCOUNT, 0, 0)); }

std::wstring ListBox::Item(int index) const { return ItemText(Handle(), LB_GETTEXTLEN, LB_GETTEXT, index); }

int ListBox::IndexOf(const std::wstring& text) const
{
    return static_cast<int>(::SendMessageW(Handle(), LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                           reinterpret_cast<LPARAM>(text.c_str())));
}

bool ListBox::Selected(int index) const { return ::SendMessageW(Handle(), LB_GETSEL, index, 0) > 0; }

void ListBox::SetSelected(int index, bool selected)
{
    if (::GetWindowLongW(Handle(), GWL_STYLE) & LBS_EXTENDEDSEL)
        ::SendMessageW(Handle(), LB_SETSEL, selected, index);
    else
        ::SendMessageW(Handle(), LB_SETCURSEL, selected ? index : -1, 0);
}

int ListBox::SelCount() const
{
    if (::GetWindowLongW(Handle(), GWL_STYLE) & LBS_EXTENDEDSEL)
        return static_cast<int>(::SendMessageW(Handle(), LB_GETSELCOUNT, 0, 0));
    return ::SendMessageW(Handle(), LB_GETCURSEL, 0, 0) >= 0 ? 1 : 0;
}

int ListBox::ItemHeight() const { return static_cast<int>(::SendMessageW(Handle(), LB_GETITEMHEIGHT, 0, 0)); }

void ListBox::SetItemHeight(int height) { ::SendMessageW(Handle(), LB_SETITEMHEIGHT, 0, height); }

int ListBox::ItemAtPos(POINT point, bool existing) const
{
    const LRESULT hit = ::SendMessageW(Handle(), LB_ITEMFROMPOINT, 0, MAKELPARAM(point.x, point.y));
    if (HIWORD(hit) && existing) return -1;
    const int index = LOWORD(hit);
    return index < Count() ? index : -1;
}

RECT ListBox::ItemRect(int index) const
{
    RECT rect{};
    ::SendMessageW(Handle(), LB_GETITEMRECT, index, reinterpret_cast<LPARAM>(&rect));
    return rect;
}

bool ListBox::DrawItem(DRAWITEMSTRUCT& item)
{
    if (item.itemID == static_cast<UINT>(-1)) return true;
    const bool selected = (item.itemState & ODS_SELECTED) != 0;
    const int saved = ::SaveDC(item.hDC);
    ::SelectObject(item.hDC, FontHandle());
    if (OnDrawItem) {
        OnDrawItem(static_cast<int>(item.itemID), item.hDC, item.rcItem, selected);
    } else {
        ::FillRect(item.hDC, &item.rcItem, ::GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
        ::SetBkMode(item.hDC, TRANSPARENT);
        ::SetTextColor(item.hDC, ::GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
        const std::wstring text = Item(static_cast<int>(item.itemID));
        RECT area = item.rcItem;
        area.left += 2;
        ::DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &area, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    }
    ::RestoreDC(item.hDC, saved);
    return true;
}


// ---------------------------------------------------------------- ListView

ListView::ListView(WinControl& parent, int id, bool checkBoxes, bool multiSelect, bool drawing, RowStore store)
    : WinControl(&parent, id), store_(store), checkBoxes_(checkBoxes)
{
    // Made hidden and set up with its redraw off, then shown where it was
    // placed: a list that shows lays its header out again at every step of
    // its set-up, a dozen moves of the header, each a round trip to the
    // window server under Wine. The list must not destroy the image list it
    // is given: the form owns it.
    CreateSystemWindowHidden(WC_LISTVIEWW,
                             LVS_REPORT | LVS_SHOWSELALWAYS | LVS_SHAREIMAGELISTS | WS_TABSTOP |
                                 (multiSelect ? 0 : LVS_SINGLESEL) | (OwnsRows() ? LVS_OWNERDATA : 0),
                             WS_EX_CLIENTEDGE, RECT{0, 0, 0, 0});
    SetRedraw(false);
    const DWORD extended = LVS_EX_FULLROWSELECT | LVS_EX_SUBITEMIMAGES | (checkBoxes ? LVS_EX_CHECKBOXES : 0);
    ::SendMessageW(Handle(), LVM_SETEXTENDEDLISTVIEWSTYLE, extended, extended);
    // A virtual list keeps only selection and focus: it asks for the marks.
    if (OwnsRows() && checkBoxes) ::SendMessageW(Handle(), LVM_SETCALLBACKMASK, LVIS_STATEIMAGEMASK, 0);
    if (drawing) SetRedraw(true);
    ShowAsPlaced();
}

void ListView::SetImageList(const ImageList& images)
{
    ::SendMessageW(Handle(), LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images.Handle()));
}

void ListView::AddColumn(const std::wstring& caption, int width, int format)
{
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
    column.fmt = format;
    column.cx = width;
    column.pszText = const_cast<wchar_t*>(caption.c_str());
    column.iSubItem = ColumnCount();
    ::SendMessageW(Handle(), LVM_INSERTCOLUMNW, column.iSubItem, reinterpret_cast<LPARAM>(&column));
}

static HWND HeaderOf(HWND list) { return reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETHEADER, 0, 0)); }

int ListView::ColumnCount() const { return static_cast<int>(::SendMessageW(HeaderOf(Handle()), HDM_GETITEMCOUNT, 0, 0)); }

std::wstring ListView::ColumnCaption(int column) const
{
    wchar_t buffer[260] = {};
    LVCOLUMNW info{};
    info.mask = LVCF_TEXT;
    info.pszText = buffer;
    info.cchTextMax = 260;
    ::SendMessageW(Handle(), LVM_GETCOLUMNW, column, reinterpret_cast<LPARAM>(&info));
    return buffer;
}

void ListView::SetColumnCaption(int column, const std::wstring& caption)
{
    LVCOLUMNW info{};
    info.mask = LVCF_TEXT;
    info.pszText = const_cast<wchar_t*>(caption.c_str());
    ::SendMessageW(Handle(), LVM_SETCOLUMNW, column, reinterpret_cast<LPARAM>(&info));
}

int ListView::ColumnWidth(int column) const { return static_cast<int>(::SendMessageW(Handle(), LVM_GETCOLUMNWIDTH, column, 0)); }

void ListView::SetColumnWidth(int column, int width) { ::SendMessageW(Handle(), LVM_SETCOLUMNWIDTH, column, MAKELPARAM(width, 0)); }

void ListView::DeleteColumn(int column) { ::SendMessageW(Handle(), LVM_DELETECOLUMN, column, 0); }

int ListView::ColumnImage(int column) const
{
    // Read from the header itself: what the user sees.
    HDITEMW item{};
    item.mask = HDI_FORMAT | HDI_IMAGE;
    if (!::SendMessageW(HeaderOf(Handle()), HDM_GETITEMW, column, reinterpret_cast<LPARAM>(&item))) return -1;
    return (item.fmt & HDF_IMAGE) ? item.iImage : -1;
}

int ListView::StringWidth(const std::wstring& text) const
{
    return static_cast<int>(::SendMessageW(Handle(), LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(text.c_str())));
}

void ListView::SetColumnImage(int column, int image)
{
    HWND header = HeaderOf(Handle());
    HDITEMW item{};
    item.mask = HDI_FORMAT;
    ::SendMessageW(header, HDM_GETITEMW, column, reinterpret_cast<LPARAM>(&item));
    item.mask = HDI_FORMAT | HDI_IMAGE;
    if (image >= 0) {
        item.fmt |= HDF_IMAGE | HDF_BITMAP_ON_RIGHT;
        item.iImage = image;
    } else {
        item.fmt &= ~(HDF_IMAGE | HDF_BITMAP_ON_RIGHT);
        item.iImage = I_IMAGENONE;
    }
    ::SendMessageW(header, HDM_SETITEMW, column, reinterpret_cast<LPARAM>(&item));
}

RECT ListView::HeaderItemRect(int column) const
{
    RECT rect{};
    ::SendMessageW(HeaderOf(Handle()), HDM_GETITEMRECT, column, reinterpret_cast<LPARAM>(&rect));
    return rect;
}

int ListView::AddItem(const std::wstring& caption, const std::vector<std::wstring>& subItems, int image, bool checked,
                      std::initializer_list<int> ownerKeptColumns)
{
    if (OwnsRows()) return AddOwnedRow(caption, subItems, image, checked, ownerKeptColumns);
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_PARAM | (image >= 0 ? LVIF_IMAGE : 0);
    item.iItem = INT_MAX; // past the last row: added at the end, without asking the count
    item.pszText = const_cast<wchar_t*>(caption.c_str());
    item.iImage = image;
    item.lParam = nextKey_++;
    const int index = static_cast<int>(::SendMessageW(Handle(), LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (index < 0) throw Exception(L"Cannot add a row to the list");
    const int lastOwnerKept = ownerKeptColumns.size() == 0 ? 0 : std::max(ownerKeptColumns);
    const int columns = std::max(static_cast<int>(subItems.size()), lastOwnerKept);
    for (int column = 1; column <= columns; ++column) {
        const bool ownerKept = std::find(ownerKeptColumns.begin(), ownerKeptColumns.end(), column) != ownerKeptColumns.end();
        const auto given = static_cast<std::size_t>(column - 1);
        SetColumnText(index, column,
                      ownerKept ? LPSTR_TEXTCALLBACKW : given < subItems.size() ? subItems[given].c_str() : L"");
    }
    if (checked) SetChecked(index, true);
    return index;
}

int ListView::Count() const
{
    if (OwnsRows()) return static_cast<int>(ownedRows_.size());
    return static_cast<int>(::SendMessageW(Handle(), LVM_GETITEMCOUNT, 0, 0));
}

void ListView::DeleteItem(int index)
{
    if (OwnsRows()) return DeleteOwnedRow(index);
    ::SendMessageW(Handle(), LVM_DELETEITEM, index, 0);
}

void ListView::DeleteItemsWhere(const std::function<bool(int index)>& remove)
{
    // Redraw comes back on however the loop ends.
    struct RedrawOffMeanwhile {
        ListView& list;
        const bool wasOn = list.redraw_;
        explicit RedrawOffMeanwhile(ListView& l) : list(l) { if (wasOn) list.SetRedraw(false); }
        ~RedrawOffMeanwhile() { if (wasOn) list.SetRedraw(true); }
    } redrawOff(*this);
    if (OwnsRows()) return DeleteOwnedRowsWhere(remove);
    for (int row = Count() - 1; row >= 0; --row)
        if (remove(row)) DeleteItem(row);
}

void ListView::Clear()
{
    if (OwnsRows()) return ClearOwnedRows();
    ::SendMessageW(Handle(), LVM_DELETEALLITEMS, 0, 0);
}

std::wstring ListView::SubItem(int index, int subItem) const
{
    if (OwnsRows()) return OwnedCellText(OwnedRow(index), subItem);
    std::wstring text(512, L'\0');
    for (;;) {
        LVITEMW item{};
        item.iSubItem = subItem;
        item.pszText = text.data();
        item.cchTextMax = static_cast<int>(text.size());
        const int length = static_cast<int>(::SendMessageW(Handle(), LVM_GETITEMTEXTW, index, reinterpret_cast<LPARAM>(&item)));
        if (length < static_cast<int>(text.size()) - 1) {
            text.resize(static_cast<std::size_t>(std::max(length, 0)));
            return text;
        }
        text.resize(text.size() * 2);
    }
}

std::wstring ListView::Caption(int index) const { return SubItem(index, 0); }

void ListView::SetCaption(int index, const std::wstring& caption)
{
    if (OwnsRows()) return SetOwnedCellText(index, 0, caption.c_str());
    LVITEMW item{};
    item.iSubItem = 0;
    item.pszText = const_cast<wchar_t*>(caption.c_str());
    ::SendMessageW(Handle(), LVM_SETITEMTEXTW, index, reinterpret_cast<LPARAM>(&item));
}

void ListView::SetSubItem(int index, int subItem, const std::wstring& text) { SetColumnText(index, subItem + 1, text.c_str()); }

void ListView::SetColumnText(int index, int column, const wchar_t* text)
{
    if (OwnsRows()) return SetOwnedCellText(index, column, text);
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t*>(text);
    ::SendMessageW(Handle(), LVM_SETITEMTEXTW, index, reinterpret_cast<LPARAM>(&item));
}

int ListView::ImageIndex(int index) const
{
    if (OwnsRows()) return OwnedRow(index).image;
    LVITEMW item{};
    item.mask = LVIF_IMAGE;
    item.iItem = index;
    ::SendMessageW(Handle(), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    return item.iImage;
}

void ListView::SetImageIndex(int index, int image)
{
    if (OwnsRows()) return SetOwnedImage(index, image);
    LVITEMW item{};
    item.mask = LVIF_IMAGE;
    item.iItem = index;
    item.iImage = image;
    ::SendMessageW(Handle(), LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
}

bool ListView::Checked(int index) const
{
    if (OwnsRows()) return OwnedRow(index).checked;
    const UINT state = static_cast<UINT>(::SendMessageW(Handle(), LVM_GETITEMSTATE, index, LVIS_STATEIMAGEMASK));
    return ((state & LVIS_STATEIMAGEMASK) >> 12) == 2;
}

void ListView::SetChecked(int index, bool checked)
{
    if (OwnsRows()) return SetOwnedChecked(index, checked);
    LVITEMW item{};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
    ::SendMessageW(Handle(), LVM_SETITEMSTATE, index, reinterpret_cast<LPARAM>(&item));
}

bool ListView::Selected(int index) const
{
    return (::SendMessageW(Handle(), LVM_GETITEMSTATE, index, LVIS_SELECTED) & LVIS_SELECTED) != 0;
}

void ListView::SetSelected(int index, bool selected)
{
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = selected ? (LVIS_SELECTED | LVIS_FOCUSED) : 0;
    ::SendMessageW(Handle(), LVM_SETITEMSTATE, index, reinterpret_cast<LPARAM>(&item));
}

int ListView::SelectedIndex() const
{
    return static_cast<int>(::SendMessageW(Handle(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

int ListView::SelCount() const { return static_cast<int>(::SendMessageW(Handle(), LVM_GETSELECTEDCOUNT, 0, 0)); }

RECT ListView::ItemRect(int index, int part) const
{
    RECT rect{};
    rect.left = part;
    ::SendMessageW(Handle(), LVM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&rect));
    return rect;
}

void ListView::MakeVisible(int index) { ::SendMessageW(Handle(), LVM_ENSUREVISIBLE, index, FALSE); }

void ListView::SetRedraw(bool redraw)
{
    redraw_ = redraw;
    ::SendMessageW(Handle(), WM_SETREDRAW, redraw ? TRUE : FALSE, 0);
    if (redraw) ::InvalidateRect(Handle(), nullptr, TRUE);
}

void ListView::RepaintWhileRedrawOff()
{
    SetRedraw(true);
    ::UpdateWindow(Handle());
    SetRedraw(false);
}

ListView::Row ListView::GetRow(int index) const
{
    Row row;
    row.caption = Caption(index);
    const int columns = ColumnCount();
    for (int i = 1; i < columns; ++i) row.subItems.push_back(SubItem(index, i));
    row.image = ImageIndex(index);
    row.checked = Checked(index);
    row.selected = Selected(index);
    return row;
}

LPARAM ListView::Key(int index) const
{
    if (OwnsRows()) return OwnedRow(index).key;
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = index;
    ::SendMessageW(Handle(), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    return item.lParam;
}

namespace {
struct SortContext {
    std::map<LPARAM, ListView::Row> rows;
    const std::function<int(const ListView::Row&, const ListView::Row&)>* compare;
    std::exception_ptr error;
};

int CALLBACK CompareRows(LPARAM a, LPARAM b, LPARAM data)
{
    auto* context = reinterpret_cast<SortContext*>(data);
    if (context->error) return 0;
    try {
        return (*context->compare)(context->rows.at(a), context->rows.at(b));
    } catch (...) {
        context->error = std::current_exception();
        return 0;
    }
}
} // namespace

void ListView::Sort(const std::function<int(const Row&, const Row&)>& compare)
{
    if (OwnsRows()) return SortOwnedRows(compare);
    SortContext context;
    context.compare = &compare;
    const int count = Count();
    for (int i = 0; i < count; ++i) context.rows.emplace(Key(i), GetRow(i));
    rowsMoving_ = true;
    ::SendMessageW(Handle(), LVM_SORTITEMS, reinterpret_cast<WPARAM>(&context), reinterpret_cast<LPARAM>(CompareRows));
    rowsMoving_ = false;
    // The comparison ran inside comctl32: its failure is raised here, on our side.
    if (context.error) RethrowException(context.error);
}

bool ListView::Notify(NMHDR& header, LRESULT& result)
{
    switch (header.code) {
    case LVN_COLUMNCLICK:
        if (OnColumnClick) OnColumnClick(reinterpret_cast<NMLISTVIEW&>(header).iSubItem);
        return true;
    case LVN_ITEMCHANGED: {
        auto& change = reinterpret_cast<NMLISTVIEW&>(header);
        if (rowsMoving_ || !(change.uChanged & LVIF_STATE)) return false;
        const UINT oldMark = (change.uOldState & LVIS_STATEIMAGEMASK) >> 12;
        const UINT newMark = (change.uNewState & LVIS_STATEIMAGEMASK) >> 12;
        // The first mark a new row gets is not a change of its check box. A
        // row this object keeps has its marks here, not in the list: their
        // changes are told where they are made.
        if (!OwnsRows() && oldMark != 0 && newMark != 0 && oldMark != newMark && OnItemChecked)
            OnItemChecked(change.iItem);
        if (OnChange) OnChange(change.iItem);
        return false;
    }
    case LVN_ODSTATECHANGED: {
        // A virtual list tells of a range selected at once (a shift-click):
        // each of its rows is told, as a system-kept list tells of each row.
        const auto& range = reinterpret_cast<NMLVODSTATECHANGE&>(header);
        if (rowsMoving_ || !OnChange) return false;
        for (int row = std::max(range.iFrom, 0); row <= range.iTo && row < Count(); ++row) OnChange(row);
        return false;
    }
    case LVN_INSERTITEM:
        if (OnInsert) OnInsert(reinterpret_cast<NMLISTVIEW&>(header).iItem);
        return false;
    case LVN_GETDISPINFOW: {
        LVITEMW& item = reinterpret_cast<NMLVDISPINFOW&>(header).item;
        if (OwnsRows()) {
            FillOwnedDisplay(item);
            return true;
        }
        if (!(item.mask & LVIF_TEXT) || !item.pszText || item.cchTextMax <= 0) return false;
        const std::wstring_view text =
            OnOwnerKeptText ? OnOwnerKeptText(Key(item.iItem), item.iSubItem) : std::wstring_view();
        const std::size_t length = std::min<std::size_t>(text.size(), static_cast<std::size_t>(item.cchTextMax) - 1);
        std::copy_n(text.data(), length, item.pszText);
        item.pszText[length] = L'\0';
        return true;
    }
    case LVN_DELETEALLITEMS:
        // Emptying the list tells of each row only to a deletion handler:
        // without one, TRUE spares the list a notice a row.
        result = OnDeletion ? FALSE : TRUE;
        return true;
    case LVN_DELETEITEM:
        if (OnDeletion) OnDeletion(reinterpret_cast<NMLISTVIEW&>(header).iItem);
        return false;
    case NM_CLICK:
        // A virtual list leaves the marks to its owner: a click on a check box
        // changes nothing in the list itself.
        if (OwnsRows() && checkBoxes_) ToggleCheckedAt(reinterpret_cast<NMITEMACTIVATE&>(header).ptAction);
        Click();
        return false;
    case LVN_KEYDOWN:
        if (OwnsRows() && checkBoxes_ && reinterpret_cast<NMLVKEYDOWN&>(header).wVKey == VK_SPACE) ToggleFocusedChecked();
        return false;
    case LVN_ODFINDITEMW:
        result = OwnsRows() ? FindOwnedRow(reinterpret_cast<NMLVFINDITEMW&>(header)) : -1;
        return true;
    case NM_DBLCLK:
        DblClick();
        return false;
    default:
        return false;
    }
}

// ---------------------------------------------------------------- Group box

GroupBox::GroupBox(WinControl& parent, int id) : Panel(parent, id)
{
    OnPaint = [this](HDC dc, const RECT& client) { PaintFrame(dc, client); };
}

void GroupBox::PaintFrame(HDC dc, const RECT& client)
{
    HGDIOBJ previous = ::SelectObject(dc, FontHandle());
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    RECT frame = client;
    frame.top += metrics.tmHeight / 2;
    ::DrawEdge(dc, &frame, EDGE_ETCHED, BF_RECT);
    const std::wstring caption = Text();
    if (!caption.empty()) {
        RECT text{8, 0, client.right - 8, metrics.tmHeight};
        ::DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &text,
                    DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
        text.right = std::min<LONG>(text.right + 4, client.right - 6);
        text.left -= 2;
        const GdiObject background(::CreateSolidBrush(EffectiveColor()));
        ::FillRect(dc, &text, static_cast<HBRUSH>(background.Get()));
        text.left += 2;
        ::SetBkMode(dc, TRANSPARENT);
        ::SetTextColor(dc, Enabled() ? Font().color : ::GetSysColor(COLOR_GRAYTEXT));
        ::DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &text,
                    DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    }
    ::SelectObject(dc, previous);
}

} // namespace kv::forms
