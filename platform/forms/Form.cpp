#include "platform/forms/Form.h"

#include <windowsx.h>

#include <algorithm>

#include "platform/MessageLoop.h"

namespace kv::forms {
namespace {

DWORD StyleOf(BorderStyle border)
{
    switch (border) {
    case BorderStyle::None: return WS_POPUP;
    case BorderStyle::Single: return WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    case BorderStyle::Dialog: return WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    case BorderStyle::ToolWindow: return WS_POPUP | WS_CAPTION | WS_SYSMENU;
    case BorderStyle::Sizeable:
    default: return WS_OVERLAPPEDWINDOW;
    }
}

DWORD ExStyleOf(const FormStyle& style)
{
    DWORD exStyle = WS_EX_CONTROLPARENT;
    if (style.border == BorderStyle::Dialog) exStyle |= WS_EX_DLGMODALFRAME;
    if (style.border == BorderStyle::ToolWindow) exStyle |= WS_EX_TOOLWINDOW;
    if (style.stayOnTop) exStyle |= WS_EX_TOPMOST;
    if (style.showInTaskbar) exStyle |= WS_EX_APPWINDOW;
    if (style.alphaBlend < 255 || style.transparentColor != CLR_INVALID) exStyle |= WS_EX_LAYERED;
    return exStyle;
}

RECT WindowRectFor(int clientWidth, int clientHeight, DWORD style, DWORD exStyle)
{
    RECT rect{0, 0, clientWidth, clientHeight};
    ::AdjustWindowRectEx(&rect, style, FALSE, exStyle);
    return rect;
}

// Every top-level window of this thread that is enabled and visible, for a modal run.
BOOL CALLBACK CollectEnabledWindow(HWND window, LPARAM data)
{
    return GuardedCallback<BOOL>(FALSE, [&] {
        auto* list = reinterpret_cast<std::vector<HWND>*>(data);
        if (::IsWindowVisible(window) && ::IsWindowEnabled(window)) list->push_back(window);
        return TRUE;
    });
}

bool BelongsTo(HWND window, HWND form)
{
    for (HWND owner = window; owner; owner = ::GetWindow(owner, GW_OWNER))
        if (owner == form) return true;
    return false;
}

} // namespace

Form::Form(const FormStyle& style, HWND owner) : WinControl(nullptr, 0), className_(style.className)
{
    color_ = style.color;
    text_ = style.caption;
    KeyPreview = style.keyPreview;
    autoSize_ = style.autoSize;
    alpha_ = style.alphaBlend;
    transparentColor_ = style.transparentColor;
    const DWORD windowStyle = ((StyleOf(style.border) | WS_CLIPCHILDREN) & ~style.styleRemoved) | style.styleAdded;
    const DWORD exStyle = ExStyleOf(style);
    const RECT frame = WindowRectFor(style.clientWidth, style.clientHeight, windowStyle, exStyle);
    if (!owner) owner = ApplicationWindow();
    // Made in its place, in its final style: moving a top-level window or
    // changing its frame afterwards costs a quarter of a millisecond under Wine.
    CreateOwnWindow(className_.c_str(), windowStyle, exStyle,
                    PlaceFor(style, SIZE{frame.right - frame.left, frame.bottom - frame.top}), owner, CS_DBLCLKS);
    ApplyLayered();
}

void Form::RunOnDestroy()
{
    destroying_ = true;
    if (destroyRan_) return;
    destroyRan_ = true;
    if (OnDestroy) GuardedCallback([&] { OnDestroy(); });
}

Form::~Form()
{
    RunOnDestroy();
    // Controls go before the window: each removes itself from its parent.
    while (!components_.empty()) components_.pop_back();
    if (Application::Instance().MainForm() == this) Application::Instance().SetMainForm(nullptr);
    if (Application::Instance().ActiveForm() == this) Application::Instance().SetActiveForm(nullptr);
}

Form* Form::FromHandle(HWND window) noexcept { return dynamic_cast<Form*>(WinControl::FromHandle(window)); }

void Form::ApplyLayered()
{
    if (!(::GetWindowLongW(Handle(), GWL_EXSTYLE) & WS_EX_LAYERED)) return;
    DWORD flags = 0;
    if (alpha_ < 255) flags |= LWA_ALPHA;
    if (transparentColor_ != CLR_INVALID) flags |= LWA_COLORKEY;
    if (!flags) flags = LWA_ALPHA;
    ::SetLayeredWindowAttributes(Handle(), transparentColor_ == CLR_INVALID ? 0 : transparentColor_,
                                 static_cast<BYTE>(std::clamp(alpha_, 0, 255)), flags);
}

void Form::SetAlphaBlend(int alpha)
{
    alpha_ = alpha;
    if (alpha < 255) ::SetWindowLongW(Handle(), GWL_EXSTYLE, ::GetWindowLongW(Handle(), GWL_EXSTYLE) | WS_EX_LAYERED);
    ApplyLayered();
}

RECT Form::PlaceFor(const FormStyle& style, SIZE size)
{
    int left = style.left, top = style.top;
    if (style.position != FormPosition::Designed) {
        // The screen only when the work area is unknown: under Wine each of
        // these questions costs three round trips to the window server.
        RECT area{};
        if (!::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0))
            area = RECT{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
        if (style.position == FormPosition::MainFormCenter && Application::Instance().MainForm())
            ::GetWindowRect(Application::Instance().MainForm()->Handle(), &area);
        left = area.left + (area.right - area.left - size.cx) / 2;
        top = area.top + (area.bottom - area.top - size.cy) / 2;
    }
    return RECT{left, top, left + size.cx, top + size.cy};
}

void Form::Build(std::initializer_list<ControlSpec> layout) { Build(layout.begin(), layout.size()); }

void Form::Build(const ControlSpec* layout, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const ControlSpec& spec = layout[i];
        WinControl* parent = this;
        if (spec.parentId != 0) {
            parent = dynamic_cast<WinControl*>(FindControl(spec.parentId));
            if (!parent) throw Exception(L"Layout of " + className_ + L": a parent must be a windowed control listed earlier");
        }
        parent->PlaceNextChild(RECT{spec.x, spec.y, spec.x + std::max(spec.width, 0), spec.y + std::max(spec.height, 0)},
                               (spec.flags & lfHidden) == 0);
        std::unique_ptr<Control> control = spec.create(*parent, spec.id);
        parent->DropNextChildPlace();
        control->SetName(spec.name ? spec.name : L"");
        control->SetBounds(spec.x, spec.y, spec.width, spec.height);
        if (spec.flags & lfBold) {
            FontSpec font = control->Font();
            font.bold = true;
            control->SetFont(font);
        }
        if (spec.flags & lfWhiteText) control->SetFontColor(RGB(255, 255, 255));
        if (spec.flags & lfHandCursor) control->SetCursor(IDC_HAND);
        if (auto* label = dynamic_cast<Label*>(control.get())) {
            label->Transparent = (spec.flags & lfTransparent) != 0;
            label->WordWrap = (spec.flags & lfWordWrap) != 0;
            label->AutoSize = (spec.flags & lfAutoSize) != 0;
            label->Alignment = (spec.flags & lfAlignRight) ? DT_RIGHT : (spec.flags & lfAlignCenter) ? DT_CENTER : DT_LEFT;
        }
        if (auto* image = dynamic_cast<Image*>(control.get())) {
            image->Stretch = (spec.flags & lfStretch) != 0;
            image->Center = (spec.flags & lfCenter) != 0;
            image->AutoSize = (spec.flags & lfAutoSize) != 0;
        }
        if (auto* aware = dynamic_cast<LayoutAware*>(control.get()))
            aware->ApplyLayout(spec);
        else if (auto* image = dynamic_cast<Image*>(control.get()); image && spec.picture)
            image->SetPicture(Bitmap::FromPngResource(spec.picture));
        if (spec.text) control->SetText(spec.text);
        if (auto* check = dynamic_cast<CheckBox*>(control.get()); check && (spec.flags & lfChecked))
            ::SendMessageW(check->Handle(), BM_SETCHECK, BST_CHECKED, 0);
        if (auto* button = dynamic_cast<Button*>(control.get()); button && (spec.flags & lfDefault)) button->SetDefault(true);
        if (auto* windowed = dynamic_cast<WinControl*>(control.get()); windowed && (spec.flags & lfGroup))
            ::SetWindowLongW(windowed->Handle(), GWL_STYLE, ::GetWindowLongW(windowed->Handle(), GWL_STYLE) | WS_GROUP);
        if (spec.flags & lfDisabled) control->SetEnabled(false);
        if (spec.flags & lfHidden) control->SetVisible(false);
        components_.push_back(std::move(control));
    }
    if (autoSize_) AutoSizeToControls();
}

Control* Form::FindControl(int id) const
{
    for (const auto& control : components_)
        if (control->Id() == id) return control.get();
    return nullptr;
}

Control* Form::FindControl(const std::wstring& name) const
{
    for (const auto& control : components_)
        if (control->Name() == name) return control.get();
    return nullptr;
}

void Form::AutoSizeToControls()
{
    int right = 0, bottom = 0;
    for (Control* child : Children()) {
        if (!child->Visible()) continue;
        right = std::max<int>(right, child->Bounds().right);
        bottom = std::max<int>(bottom, child->Bounds().bottom);
    }
    const DWORD style = ::GetWindowLongW(Handle(), GWL_STYLE), exStyle = ::GetWindowLongW(Handle(), GWL_EXSTYLE);
    const RECT frame = WindowRectFor(right, bottom, style, exStyle);
    SetBounds(Left(), Top(), frame.right - frame.left, frame.bottom - frame.top);
}

void Form::Show()
{
    SetVisible(true);
    BringToFront();
}

void Form::BringToFront()
{
    ::SetWindowPos(Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    ::SetForegroundWindow(Handle());
    ::SetActiveWindow(Handle());
}

int Form::ShowModal()
{
    if (modal_ || Visible()) throw Exception(L"Cannot make a visible window modal");
    std::vector<HWND> disabled;
    ::EnumThreadWindows(::GetCurrentThreadId(), CollectEnabledWindow, reinterpret_cast<LPARAM>(&disabled));
    disabled.erase(std::remove(disabled.begin(), disabled.end(), Handle()), disabled.end());
    for (HWND window : disabled) ::EnableWindow(window, FALSE);
    HWND previousActive = ::GetActiveWindow();
    modal_ = true;
    modalResult_ = mrNone;
    Show();
    struct Restore {
        Form& form;
        std::vector<HWND>& windows;
        HWND active;
        ~Restore()
        {
            // The other windows come back before this one hides, so activation returns to them.
            for (HWND window : windows)
                if (::IsWindow(window)) ::EnableWindow(window, TRUE);
            form.modal_ = false;
            if (form.Handle()) form.SetVisible(false);
            if (active && ::IsWindow(active)) ::SetActiveWindow(active);
        }
    } restore{*this, disabled, previousActive};
    MSG message;
    while (modalResult_ == mrNone && Handle()) {
        const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            ::PostQuitMessage(static_cast<int>(message.wParam));
            if (modalResult_ == mrNone) modalResult_ = mrCancel;
            break;
        }
        if (got < 0) break;
        DispatchQueuedMessage(message);
        if (modalResult_ != mrNone) {
            // A result set by a handler is a request to close: the close events may still refuse it.
            bool canClose = true;
            if (OnCloseQuery) OnCloseQuery(canClose);
            if (!canClose) {
                modalResult_ = mrNone;
                continue;
            }
            CloseAction action = CloseAction::Hide;
            if (OnClose) OnClose(action);
            if (action == CloseAction::None) modalResult_ = mrNone;
        }
    }
    return modalResult_;
}

void Form::Close()
{
    if (modal_) {
        if (modalResult_ == mrNone) modalResult_ = mrCancel; // the modal loop runs the close events
        return;
    }
    bool canClose = true;
    if (OnCloseQuery) OnCloseQuery(canClose);
    if (!canClose) return;
    CloseAction action = Application::Instance().MainForm() == this ? CloseAction::Free : CloseAction::Hide;
    if (OnClose) OnClose(action);
    switch (action) {
    case CloseAction::None:
        return;
    case CloseAction::Hide:
        Hide();
        break;
    case CloseAction::Minimize:
        ::ShowWindow(Handle(), SW_MINIMIZE);
        break;
    case CloseAction::Free:
        if (Application::Instance().MainForm() == this) {
            Hide();
            Application::Instance().Terminate();
        } else if (Handle()) {
            // A modeless window is a plain window, never a dialog: it ends with DestroyWindow.
            ::DestroyWindow(Handle());
        }
        break;
    }
}

LRESULT Form::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CLOSE:
        Close();
        return 0;
    case WM_ACTIVATE: {
        // As users know it from other programs: a form is activated when it becomes the
        // application's active form, and deactivated when another form of the application
        // takes over. Message boxes and system dialogs the form opens, and other programs
        // taking the foreground, do neither.
        Application& application = Application::Instance();
        if (LOWORD(wParam) == WA_INACTIVE) {
            const HWND other = reinterpret_cast<HWND>(lParam);
            Form* next = other ? Form::FromHandle(::GetAncestor(other, GA_ROOT)) : nullptr;
            if (next && next != this && !BelongsTo(other, Handle()) && OnDeactivate && !destroying_) OnDeactivate();
        } else if (application.ActiveForm() != this) {
            application.SetActiveForm(this);
            if (OnActivate) OnActivate();
        }
        break;
    }
    case WM_SHOWWINDOW:
        visible_ = wParam != FALSE;
        if (wParam ? static_cast<bool>(OnShow) : static_cast<bool>(OnHide)) (wParam ? OnShow : OnHide)();
        break;
    case WM_SIZE:
    case WM_MOVE: {
        RECT window;
        ::GetWindowRect(Handle(), &window);
        bounds_ = window;
        if (message == WM_SIZE && OnResize) OnResize();
        break;
    }
    case WM_MOUSEWHEEL: {
        bool handled = false;
        if (OnMouseWheel) OnMouseWheel(GET_WHEEL_DELTA_WPARAM(wParam), handled);
        if (handled) return 0;
        break;
    }
    case DM_GETDEFID: {
        // As in any dialog, Enter presses the push button that has the focus;
        // anywhere else the dialog manager falls back to the button IDOK.
        const HWND focus = ::GetFocus();
        if (focus && ::IsChild(Handle(), focus) &&
            (::SendMessageW(focus, WM_GETDLGCODE, 0, 0) & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)))
            return MAKELRESULT(::GetDlgCtrlID(focus), DC_HASDEFID);
        break;
    }
    case WM_NCDESTROY:
        break;
    default:
        break;
    }
    return WinControl::WindowProc(message, wParam, lParam);
}

// ---------------------------------------------------------------- Application

Application& Application::Instance()
{
    static Application application;
    return application;
}

void Application::Initialize(const std::wstring& title)
{
    title_ = title;
    if (initialized_) return;
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&controls);
    InitializeMainThread();
    SetMessagePreTranslator(PreTranslate);
    initialized_ = true;
}

void Application::SetMainForm(Form* form)
{
    mainForm_ = form;
    SetApplicationWindow(form ? form->Handle() : nullptr);
}

bool Application::PreTranslate(MSG& message)
{
    HWND top = message.hwnd ? ::GetAncestor(message.hwnd, GA_ROOT) : nullptr;
    Form* form = top ? Form::FromHandle(top) : nullptr;
    if (!form) return false;
    if (message.message == WM_KEYDOWN && form->KeyPreview && form->OnKeyDown) {
        bool handled = false;
        GuardedCallback([&] { form->OnKeyDown(message.wParam, handled); });
        if (handled) return true;
    }
    // Tab, arrows and Enter move between a form's controls as in any dialog.
    return ::IsDialogMessageW(top, &message) != FALSE;
}

bool Application::HandleMessage()
{
    MSG message;
    const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got <= 0) {
        terminated_ = true;
        return false;
    }
    DispatchQueuedMessage(message);
    return true;
}

int Application::Run()
{
    terminated_ = false;
    if (mainForm_ && ShowMainForm) mainForm_->Show();
    MSG message;
    for (;;) {
        const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) break;
        if (got < 0) return -1;
        DispatchQueuedMessage(message);
    }
    terminated_ = true;
    return static_cast<int>(message.wParam);
}

void Application::Terminate(int exitCode)
{
    terminated_ = true;
    ::PostQuitMessage(exitCode);
}

std::wstring ShortHint(const std::wstring& hint)
{
    const auto bar = hint.find(L'|');
    return bar == std::wstring::npos ? hint : hint.substr(0, bar);
}

std::wstring LongHint(const std::wstring& hint)
{
    const auto bar = hint.find(L'|');
    return bar == std::wstring::npos ? hint : hint.substr(bar + 1);
}

namespace {
constexpr UINT_PTR kHideHintTimer = 0x4B56;
void CALLBACK HideHintTimer(HWND window, UINT, UINT_PTR id, DWORD)
{
    ::KillTimer(window, id);
    ::SendMessageW(window, TTM_TRACKACTIVATE, FALSE, 0);
}
} // namespace

void Application::ShowHintOf(Control* control)
{
    if (control == hintControl_) return;
    hintControl_ = control;
    const std::wstring hint = control ? control->Hint() : std::wstring();
    const std::wstring longHint = LongHint(hint);
    if (longHint != currentHint_) {
        currentHint_ = longHint;
        if (OnHint) OnHint(currentHint_);
    }
    if (ShortHint(hint).empty())
        HideTooltip();
    else
        ShowTooltip(control);
}

void Application::ShowTooltip(Control* control)
{
    if (!tooltip_) {
        tooltip_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, 0, 0,
                                     0, 0, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
        if (!tooltip_) return;
        TOOLINFOW tool{};
        tool.cbSize = sizeof(tool);
        tool.uFlags = TTF_TRACK | TTF_ABSOLUTE;
        tool.uId = 1;
        tool.lpszText = const_cast<wchar_t*>(L"");
        ::SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
    const std::wstring text = ShortHint(control->Hint());
    TOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.uId = 1;
    tool.lpszText = const_cast<wchar_t*>(text.c_str());
    ::SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    POINT cursor{};
    ::GetCursorPos(&cursor);
    ::SendMessageW(tooltip_, TTM_TRACKPOSITION, 0, MAKELPARAM(cursor.x + 12, cursor.y + 20));
    ::SendMessageW(tooltip_, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&tool));
    ::SetTimer(tooltip_, kHideHintTimer, static_cast<UINT>(std::max(HintHidePause, 100)), HideHintTimer);
}

void Application::HideTooltip()
{
    if (!tooltip_) return;
    TOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.uId = 1;
    ::SendMessageW(tooltip_, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&tool));
}

} // namespace kv::forms
