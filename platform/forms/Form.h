#pragma once
// Forms (top-level windows built from layout tables) and the application
// object that owns the message loop.
#include <windows.h>

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "platform/Exceptions.h"
#include "platform/forms/Controls.h"

namespace kv::forms {

enum class BorderStyle { None, Single, Sizeable, Dialog, ToolWindow };
enum class FormPosition { Designed, ScreenCenter, MainFormCenter };
enum class CloseAction { None, Hide, Free, Minimize };
enum ModalResult : int { mrNone = 0, mrOk = IDOK, mrCancel = IDCANCEL, mrYes = IDYES, mrNo = IDNO };

// How a form looks: the window class name is the form's class name, so a
// person (or a test) can find the window by it.
struct FormStyle {
    const wchar_t* className = L"TForm";
    std::wstring caption;
    int clientWidth = 300;
    int clientHeight = 200;
    BorderStyle border = BorderStyle::Sizeable;
    FormPosition position = FormPosition::ScreenCenter;
    int left = 0, top = 0; // for FormPosition::Designed
    COLORREF color = ::GetSysColor(COLOR_BTNFACE);
    int alphaBlend = 255;                     // below 255: a layered, translucent window
    COLORREF transparentColor = CLR_INVALID;  // this colour is cut out of the window
    bool autoSize = false;                    // the client area fits the controls
    bool stayOnTop = false;
    bool keyPreview = false;
    bool showInTaskbar = false;
    // What the form's own creation parameters take from the border's window
    // style and add to it, before the window is made.
    DWORD styleRemoved = 0;
    DWORD styleAdded = 0;
};

class Form;
using ControlFactory = std::unique_ptr<Control> (*)(WinControl& parent, int id);

template <class T>
std::unique_ptr<Control> Make(WinControl& parent, int id)
{
    return std::make_unique<T>(parent, id);
}

// Layout flags, read by the control kinds that know them.
enum LayoutFlag : unsigned {
    lfHidden = 1u << 0,
    lfDisabled = 1u << 1,
    lfTransparent = 1u << 2,
    lfWordWrap = 1u << 3,
    lfAutoSize = 1u << 4,
    lfStretch = 1u << 5,
    lfCenter = 1u << 6,
    lfChecked = 1u << 7,
    lfHandCursor = 1u << 8,
    lfAlignRight = 1u << 9,
    lfAlignCenter = 1u << 10,
    lfBold = 1u << 11,
    lfDefault = 1u << 12,
    lfGroup = 1u << 13,
    lfWhiteText = 1u << 14,
};

// One row of a form's layout: the kind, its name, id, parent (0: the form),
// position, text, picture resource and flags.
struct ControlSpec {
    ControlFactory create;
    const wchar_t* name;
    int id;
    int parentId;
    int x, y, width, height;
    const wchar_t* text = nullptr;
    const wchar_t* picture = nullptr;
    unsigned flags = 0;
};

// Controls that read their own picture or special flags from a layout row.
class LayoutAware {
public:
    virtual ~LayoutAware() = default;
    virtual void ApplyLayout(const ControlSpec& spec) = 0;
};

class Form : public WinControl {
public:
    explicit Form(const FormStyle& style, HWND owner = nullptr);
    ~Form() override;

    const std::wstring& ClassName() const noexcept { return className_; }
    void SetCaption(const std::wstring& caption) { SetText(caption); }

    // Creates the controls of a layout table, in order (a parent before its children).
    void Build(std::initializer_list<ControlSpec> layout);
    void Build(const ControlSpec* layout, std::size_t count);
    Control* FindControl(int id) const;
    Control* FindControl(const std::wstring& name) const;
    template <class T>
    T& Get(int id) const
    {
        T* control = dynamic_cast<T*>(FindControl(id));
        if (!control) throw Exception(L"Form " + className_ + L" has no such control");
        return *control;
    }
    // Adds a control made by hand (not from a layout row); the form owns it.
    template <class T, class... Args>
    T& Add(WinControl& parent, int id, Args&&... args)
    {
        auto control = std::make_unique<T>(parent, id, std::forward<Args>(args)...);
        T& result = *control;
        components_.push_back(std::move(control));
        return result;
    }

    void Show();
    void Hide() { SetVisible(false); }
    // Runs the form modally (other windows of the application disabled) until it closes.
    int ShowModal();
    // Asks the form to close: OnCloseQuery, OnClose; a modeless form is then hidden,
    // or destroyed with DestroyWindow when the action is Free.
    void Close();
    bool IsModal() const noexcept { return modal_; }
    int ModalResultValue() const noexcept { return modalResult_; }
    void SetModalResult(int result) { modalResult_ = result; }
    void BringToFront();
    void SetAlphaBlend(int alpha);
    bool KeyPreview = false;
    // Sizes the client area to fit the visible controls.
    void AutoSizeToControls();

    std::function<void()> OnShow;
    std::function<void()> OnHide;
    std::function<void()> OnActivate;
    std::function<void()> OnDeactivate;
    std::function<void(bool& canClose)> OnCloseQuery;
    std::function<void(CloseAction& action)> OnClose;
    std::function<void()> OnDestroy; // runs before the window is destroyed
    std::function<void()> OnResize;
    // delta > 0: turned up (away from the user)
    std::function<void(int delta, bool& handled)> OnMouseWheel;
    std::function<void(WPARAM key, bool& handled)> OnKeyDown;

    static Form* FromHandle(HWND window) noexcept;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    // Runs OnDestroy once. A derived form calls it first in its own destructor,
    // while its members still exist; the base destructor calls it otherwise.
    void RunOnDestroy();

private:
    static RECT PlaceFor(const FormStyle& style, SIZE size);
    void ApplyLayered();

    std::wstring className_;
    std::vector<std::unique_ptr<Control>> components_;
    bool modal_ = false;
    int modalResult_ = mrNone;
    bool autoSize_ = false;
    int alpha_ = 255;
    COLORREF transparentColor_ = CLR_INVALID;
    bool destroying_ = false;
    bool destroyRan_ = false;
};

class Application {
public:
    static Application& Instance();

    // Common controls, the main-thread window and the message hooks.
    void Initialize(const std::wstring& title);
    const std::wstring& Title() const noexcept { return title_; }

    // The first form set becomes the application window (owner of dialogs and
    // message boxes); closing it ends Run.
    void SetMainForm(Form* form);
    Form* MainForm() const noexcept { return mainForm_; }
    bool ShowMainForm = true;

    // The message loop: runs until Terminate (or the main form closes).
    int Run();
    void Terminate(int exitCode = 0);
    bool Terminated() const noexcept { return terminated_; }
    // Handles one message the way Run does; false when WM_QUIT was taken.
    bool HandleMessage();

    // Hints: the long part of the hint of the control under the mouse.
    std::function<void(const std::wstring& longHint)> OnHint;
    int HintHidePause = 2500;
    void ShowHintOf(Control* control);
    const std::wstring& CurrentHint() const noexcept { return currentHint_; }

    // The form of this application that was active last; another program taking
    // the foreground does not change it.
    Form* ActiveForm() const noexcept { return activeForm_; }
    void SetActiveForm(Form* form) noexcept { activeForm_ = form; }

private:
    Application() = default;
    static bool PreTranslate(MSG& message);
    void ShowTooltip(Control* control);
    void HideTooltip();

    std::wstring title_;
    Form* mainForm_ = nullptr;
    Form* activeForm_ = nullptr;
    bool initialized_ = false;
    bool terminated_ = false;
    std::wstring currentHint_;
    HWND tooltip_ = nullptr;
    Control* hintControl_ = nullptr;
};

// Short and long parts of a "short|long" hint.
std::wstring ShortHint(const std::wstring& hint);
std::wstring LongHint(const std::wstring& hint);

} // namespace kv::forms
