#include "FormDriver.h"

#include <commctrl.h>

#include <algorithm>

#include "platform/MessageLoop.h"
#include "platform/ShellWindows.h"
#include "platform/forms/Menus.h"

namespace kvtest {
namespace {

using kv::forms::Control;
using kv::forms::MouseButton;
using kv::forms::WinControl;

MessageBoxAnswerer* g_answerer = nullptr;
MenuChooser* g_chooser = nullptr;
FileDialogAnswer* g_fileAnswer = nullptr;
ExceptionRecorder* g_recorder = nullptr;

// The window that receives a control's mouse input, and the point in it.
HWND InputWindow(const Control& control, POINT& point)
{
    if (control.IsWindowed()) return static_cast<const WinControl&>(control).Handle();
    point.x += control.Left();
    point.y += control.Top();
    return control.Parent()->Handle();
}

POINT Resolve(const Control& control, std::optional<POINT> point)
{
    return point ? *point : POINT{control.Width() / 2, control.Height() / 2};
}

void PostMouse(const Control& control, UINT message, WPARAM keys, std::optional<POINT> where)
{
    POINT point = Resolve(control, where);
    HWND window = InputWindow(control, point);
    if (message == WM_MOUSEMOVE) {
        // Only a move moves the cursor; a press or release happens where it is.
        POINT screen = point;
        ::ClientToScreen(window, &screen);
        ::SetCursorPos(screen.x, screen.y);
    }
    ::PostMessageW(window, message, keys, MAKELPARAM(point.x, point.y));
}

UINT DownMessage(MouseButton b) { return b == MouseButton::Right ? WM_RBUTTONDOWN : b == MouseButton::Middle ? WM_MBUTTONDOWN : WM_LBUTTONDOWN; }
UINT UpMessage(MouseButton b) { return b == MouseButton::Right ? WM_RBUTTONUP : b == MouseButton::Middle ? WM_MBUTTONUP : WM_LBUTTONUP; }
WPARAM KeyOf(MouseButton b) { return b == MouseButton::Right ? MK_RBUTTON : b == MouseButton::Middle ? MK_MBUTTON : MK_LBUTTON; }

struct FindByClass {
    std::wstring_view className;
    HWND found = nullptr;
};

BOOL CALLBACK FindTopLevel(HWND window, LPARAM data)
{
    auto* search = reinterpret_cast<FindByClass*>(data);
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    if (process != ::GetCurrentProcessId()) return TRUE;
    wchar_t name[256] = {};
    ::GetClassNameW(window, name, 256);
    if (search->className == name) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

std::wstring WindowText(HWND window)
{
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::wstring WithoutAccelerators(std::wstring text)
{
    text.erase(std::remove(text.begin(), text.end(), L'&'), text.end());
    return text;
}

BOOL CALLBACK CollectDialogBox(HWND window, LPARAM data)
{
    wchar_t name[16] = {};
    ::GetClassNameW(window, name, 16);
    if (std::wstring_view(name) == L"#32770" && ::IsWindowVisible(window))
        reinterpret_cast<std::vector<HWND>*>(data)->push_back(window);
    return TRUE;
}

} // namespace

void StartApplication() { kv::forms::Application::Instance().Initialize(L"Kestrelvane"); }

kv::forms::FormStyle HostStyle(const wchar_t* className, int clientWidth, int clientHeight, int left, int top)
{
    kv::forms::FormStyle style;
    style.className = className;
    style.caption = className;
    style.clientWidth = clientWidth;
    style.clientHeight = clientHeight;
    style.position = kv::forms::FormPosition::Designed;
    style.left = left;
    style.top = top;
    return style;
}

void Pump(DWORD milliseconds)
{
    const DWORD start = ::GetTickCount();
    do {
        kv::ProcessMessages();
        if (milliseconds) ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    } while (::GetTickCount() - start < milliseconds);
    kv::ProcessMessages();
}

HWND FindForm(std::wstring_view className)
{
    FindByClass search{className};
    ::EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

kv::forms::Form* FindFormObject(std::wstring_view className) { return kv::forms::Form::FromHandle(FindForm(className)); }

bool IsFormVisible(std::wstring_view className)
{
    HWND form = FindForm(className);
    return form && ::IsWindowVisible(form);
}

kv::forms::Control& ControlById(HWND form, int id)
{
    kv::forms::Form* object = kv::forms::Form::FromHandle(form);
    if (!object) throw kv::Exception(L"No form of ours behind that window");
    kv::forms::Control* control = object->FindControl(id);
    if (!control) throw kv::Exception(L"The form has no control with that id");
    return *control;
}

void MoveMouseTo(const Control& control, std::optional<POINT> point)
{
    PostMouse(control, WM_MOUSEMOVE, 0, point);
    Pump();
}

void MoveMouseAway(const Control& control)
{
    POINT point{};
    HWND window = InputWindow(control, point);
    RECT frame;
    ::GetWindowRect(::GetAncestor(window, GA_ROOT), &frame);
    ::SetCursorPos(frame.right + 40, frame.bottom + 40);
    ::PostMessageW(window, WM_MOUSELEAVE, 0, 0);
    Pump();
}

void Press(const Control& control, MouseButton button, std::optional<POINT> point)
{
    PostMouse(control, DownMessage(button), KeyOf(button), point);
    Pump();
}

void Release(const Control& control, MouseButton button, std::optional<POINT> point)
{
    PostMouse(control, UpMessage(button), 0, point);
    Pump();
}

void Click(const Control& control, std::optional<POINT> point)
{
    // Both halves are queued before either is handled, as with a real click: some
    // controls wait inside the press for the release.
    PostMouse(control, WM_MOUSEMOVE, 0, point);
    PostMouse(control, WM_LBUTTONDOWN, MK_LBUTTON, point);
    PostMouse(control, WM_LBUTTONUP, 0, point);
    Pump();
}

void RightClick(const Control& control, std::optional<POINT> point)
{
    PostMouse(control, WM_MOUSEMOVE, 0, point);
    PostMouse(control, WM_RBUTTONDOWN, MK_RBUTTON, point);
    PostMouse(control, WM_RBUTTONUP, 0, point);
    Pump();
}

void DoubleClick(const Control& control, std::optional<POINT> point)
{
    PostMouse(control, WM_LBUTTONDOWN, MK_LBUTTON, point);
    PostMouse(control, WM_LBUTTONUP, 0, point);
    PostMouse(control, WM_LBUTTONDBLCLK, MK_LBUTTON, point);
    PostMouse(control, WM_LBUTTONUP, 0, point);
    Pump();
}

void TurnWheel(const WinControl& window, int notches)
{
    RECT frame;
    ::GetWindowRect(window.Handle(), &frame);
    const POINT centre{(frame.left + frame.right) / 2, (frame.top + frame.bottom) / 2};
    ::PostMessageW(window.Handle(), WM_MOUSEWHEEL, MAKEWPARAM(0, notches * WHEEL_DELTA), MAKELPARAM(centre.x, centre.y));
    Pump();
}

void TypeText(const WinControl& control, std::wstring_view text)
{
    for (wchar_t c : text) ::PostMessageW(control.Handle(), WM_CHAR, c, 1);
    Pump();
}

void PressKey(const WinControl& control, WPARAM virtualKey)
{
    ::PostMessageW(control.Handle(), WM_KEYDOWN, virtualKey, 1);
    ::PostMessageW(control.Handle(), WM_KEYUP, virtualKey, 0xC0000001);
    Pump();
}

std::wstring TextOf(const Control& control) { return control.Text(); }

bool IsShownEnabled(const Control& control)
{
    if (control.IsWindowed()) return ::IsWindowEnabled(static_cast<const WinControl&>(control).Handle()) != FALSE;
    return control.Enabled();
}

int TextWidth(Control& control, const std::wstring& text, bool prefix)
{
    const kv::WindowDC screen(nullptr);
    HGDIOBJ previous = ::SelectObject(screen.Get(), control.FontHandle());
    RECT area{0, 0, 0, 0};
    ::DrawTextW(screen.Get(), text.c_str(), static_cast<int>(text.size()), &area,
                DT_CALCRECT | DT_SINGLELINE | (prefix ? 0 : DT_NOPREFIX));
    ::SelectObject(screen.Get(), previous);
    return area.right - area.left;
}

int LineHeight(Control& control)
{
    const kv::WindowDC screen(nullptr);
    HGDIOBJ previous = ::SelectObject(screen.Get(), control.FontHandle());
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(screen.Get(), &metrics);
    ::SelectObject(screen.Get(), previous);
    return metrics.tmHeight;
}

namespace {
// The room the system's button control leaves its caption: the frame and the
// focus rectangle of a push button, the box and its gap of a check box or a
// radio button.
constexpr int kPushButtonMargins = 8;
constexpr int kCheckBoxAndGap = 19;

void CollectCutCaptions(WinControl& window, std::vector<std::wstring>& cut)
{
    for (Control* child : window.Children()) {
        if (!child->Visible()) continue;
        if (auto* button = dynamic_cast<kv::forms::Button*>(child)) {
            const LONG kind = ::GetWindowLongW(button->Handle(), GWL_STYLE) & BS_TYPEMASK;
            const bool push = kind == BS_PUSHBUTTON || kind == BS_DEFPUSHBUTTON;
            const int room = button->Width() - (push ? kPushButtonMargins : kCheckBoxAndGap);
            const std::wstring caption = button->Text();
            if (!caption.empty() && TextWidth(*button, caption) > room)
                cut.push_back(button->Name() + L": " + caption);
        }
        if (auto* windowed = dynamic_cast<WinControl*>(child)) CollectCutCaptions(*windowed, cut);
    }
}
} // namespace

std::vector<std::wstring> CutButtonCaptions(WinControl& window)
{
    std::vector<std::wstring> cut;
    CollectCutCaptions(window, cut);
    return cut;
}

void ChooseComboItem(const kv::forms::ComboBox& combo, const std::wstring& text)
{
    const int index = combo.IndexOf(text);
    if (index < 0) throw kv::Exception(L"The combo box has no such entry");
    ::SendMessageW(combo.Handle(), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    ::PostMessageW(::GetParent(combo.Handle()), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(combo.Handle()), CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(combo.Handle()));
    Pump();
}

std::vector<kv::forms::ListView::Row> ReadRows(const kv::forms::ListView& list)
{
    std::vector<kv::forms::ListView::Row> rows;
    for (int i = 0; i < list.Count(); ++i) rows.push_back(list.GetRow(i));
    return rows;
}

std::vector<std::wstring> ReadColumn(const kv::forms::ListView& list, int column)
{
    std::vector<std::wstring> cells;
    for (int i = 0; i < list.Count(); ++i) cells.push_back(list.SubItem(i, column));
    return cells;
}

void ClickRow(const kv::forms::ListView& list, int row)
{
    const RECT label = list.ItemRect(row, LVIR_LABEL);
    Click(list, POINT{(label.left + label.right) / 2, (label.top + label.bottom) / 2});
}

void ClickCheckBox(const kv::forms::ListView& list, int row)
{
    const RECT bounds = list.ItemRect(row, LVIR_BOUNDS);
    const int y = (bounds.top + bounds.bottom) / 2;
    for (int x = bounds.left; x < bounds.left + 48; ++x) {
        LVHITTESTINFO hit{};
        hit.pt = POINT{x, y};
        ::SendMessageW(list.Handle(), LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
        if (hit.iItem == row && (hit.flags & LVHT_ONITEMSTATEICON)) {
            Click(list, POINT{x + 3, y});
            return;
        }
    }
    throw kv::Exception(L"The row shows no check box");
}

void ClickColumnHeader(const kv::forms::ListView& list, int column)
{
    HWND header = reinterpret_cast<HWND>(::SendMessageW(list.Handle(), LVM_GETHEADER, 0, 0));
    const RECT item = list.HeaderItemRect(column);
    const LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
    ::PostMessageW(header, WM_MOUSEMOVE, 0, at);
    ::PostMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
    ::PostMessageW(header, WM_LBUTTONUP, 0, at);
    Pump();
}

namespace {
int ListTextWidth(const kv::forms::ListView& list, const std::wstring& text)
{
    return static_cast<int>(::SendMessageW(list.Handle(), LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(text.c_str())));
}
} // namespace

int WidestCell(const kv::forms::ListView& list, int column)
{
    int widest = 0;
    for (const std::wstring& cell : ReadColumn(list, column)) widest = std::max(widest, ListTextWidth(list, cell));
    // The list's own margins around a cell's text: 12 pixels, and the check
    // box and the row picture (16 pixels each) in the first column.
    return widest + 12 + (column == 0 ? 2 * 16 : 0);
}

int TitleWidth(const kv::forms::ListView& list, int column)
{
    return ListTextWidth(list, list.ColumnCaption(column)) + 12;
}

void ActivateWindow(HWND window)
{
    ::SetForegroundWindow(window);
    ::SetActiveWindow(window);
    Pump();
}

// ---------------------------------------------------------------- MessageBoxAnswerer

MessageBoxAnswerer::MessageBoxAnswerer(int answer) : answer_(answer), timer_(::SetTimer(nullptr, 0, 20, Poll))
{
    g_answerer = this;
}

MessageBoxAnswerer::~MessageBoxAnswerer()
{
    ::KillTimer(nullptr, timer_);
    g_answerer = nullptr;
}

void CALLBACK MessageBoxAnswerer::Poll(HWND, UINT, UINT_PTR, DWORD)
{
    MessageBoxAnswerer* self = g_answerer;
    if (!self) return;
    std::vector<HWND> boxes;
    ::EnumThreadWindows(::GetCurrentThreadId(), CollectDialogBox, reinterpret_cast<LPARAM>(&boxes));
    for (HWND box : boxes) {
        if (std::find(self->handled_.begin(), self->handled_.end(), box) != self->handled_.end()) continue;
        self->handled_.push_back(box);
        int answer = self->answer_;
        for (int fallback : {self->answer_, IDOK, IDCANCEL, IDNO})
            if (::GetDlgItem(box, fallback)) {
                answer = fallback;
                break;
            }
        HWND owner = ::GetWindow(box, GW_OWNER);
        self->seen_.push_back(Seen{WindowText(box), WindowText(::GetDlgItem(box, 0xFFFF)), answer, owner,
                                   owner && ::IsWindowVisible(owner), owner && ::IsWindowEnabled(owner)});
        ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(box, answer)));
    }
}

// ---------------------------------------------------------------- MenuChooser

MenuChooser::MenuChooser(std::wstring caption) : caption_(std::move(caption))
{
    g_chooser = this;
    kv::forms::SetMenuTracker(Track);
}

MenuChooser::~MenuChooser()
{
    kv::forms::SetMenuTracker(nullptr);
    g_chooser = nullptr;
}

std::optional<MenuChooser::Entry> MenuChooser::EntryOf(const std::wstring& caption) const
{
    for (const Entry& entry : entries_)
        if (WithoutAccelerators(entry.caption) == WithoutAccelerators(caption)) return entry;
    return std::nullopt;
}

UINT MenuChooser::Track(HMENU menu, int, int, HWND)
{
    MenuChooser* self = g_chooser;
    if (!self) return 0;
    self->opened_ = true;
    UINT chosen = 0;
    auto walk = [&](auto&& walkRef, HMENU current) -> void {
        const int count = ::GetMenuItemCount(current);
        for (int i = 0; i < count; ++i) {
            wchar_t text[256] = {};
            MENUITEMINFOW info{};
            info.cbSize = sizeof(info);
            info.fMask = MIIM_STRING | MIIM_ID | MIIM_STATE | MIIM_SUBMENU | MIIM_FTYPE;
            info.dwTypeData = text;
            info.cch = 255;
            ::GetMenuItemInfoW(current, static_cast<UINT>(i), TRUE, &info);
            if (info.fType & MFT_SEPARATOR) continue;
            const Entry entry{text, !(info.fState & MFS_DISABLED), (info.fState & MFS_CHECKED) != 0};
            self->entries_.push_back(entry);
            if (info.hSubMenu) {
                if (entry.enabled) walkRef(walkRef, info.hSubMenu);
            } else if (!chosen && entry.enabled && WithoutAccelerators(entry.caption) == WithoutAccelerators(self->caption_)) {
                chosen = info.wID;
            }
        }
    };
    walk(walk, menu);
    self->chosen_ = chosen != 0;
    return chosen;
}

// ---------------------------------------------------------------- FileDialogAnswer

FileDialogAnswer::FileDialogAnswer(std::optional<std::wstring> path) : path_(std::move(path))
{
    g_fileAnswer = this;
    kv::forms::SetFileDialogHandler(Answer);
}

FileDialogAnswer::~FileDialogAnswer()
{
    kv::forms::SetFileDialogHandler(nullptr);
    g_fileAnswer = nullptr;
}

std::optional<std::wstring> FileDialogAnswer::Answer(const kv::forms::FileDialog& dialog)
{
    FileDialogAnswer* self = g_fileAnswer;
    if (!self) return std::nullopt;
    ++self->asked_;
    self->LastDefaultExt = dialog.DefaultExt;
    self->LastFilter = dialog.Filter;
    self->LastFileName = dialog.FileName;
    return self->path_;
}

// ---------------------------------------------------------------- ExceptionRecorder

ExceptionRecorder::ExceptionRecorder() : previous_(kv::SetApplicationExceptionHandler(Handle)) { g_recorder = this; }

ExceptionRecorder::~ExceptionRecorder()
{
    kv::SetApplicationExceptionHandler(previous_);
    g_recorder = nullptr;
}

void ExceptionRecorder::Handle(const std::exception_ptr& error)
{
    if (g_recorder) g_recorder->messages_.push_back(kv::ExceptionMessage(error));
}

// ---------------------------------------------------------------- pixels

COLORREF ShownPixel(const Control& control, POINT point)
{
    HWND window = InputWindow(control, point);
    RECT client;
    ::GetClientRect(window, &client);
    kv::forms::Bitmap canvas(std::max<LONG>(client.right, 1), std::max<LONG>(client.bottom, 1));
    {
        HDC screen = ::GetDC(nullptr);
        kv::forms::MemoryDC dc(screen, canvas.Handle());
        ::ReleaseDC(nullptr, screen);
        ::SendMessageW(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc.Get()), PRF_CLIENT);
        ::GdiFlush();
    }
    const std::uint32_t pixel = canvas.Pixel(point.x, point.y);
    return RGB((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF);
}

// ---------------------------------------------------------------- FolderPickerAnswer

namespace {
FolderPickerAnswer* g_folderAnswer = nullptr;
} // namespace

FolderPickerAnswer::FolderPickerAnswer(std::optional<std::wstring> folder) : folder_(std::move(folder))
{
    g_folderAnswer = this;
    kv::SetFolderPickerHandler(Answer);
}

FolderPickerAnswer::~FolderPickerAnswer()
{
    kv::SetFolderPickerHandler(nullptr);
    g_folderAnswer = nullptr;
}

std::optional<std::wstring> FolderPickerAnswer::Answer(const std::wstring& caption, const std::wstring& startFolder)
{
    if (!g_folderAnswer) return std::nullopt;
    ++g_folderAnswer->asked_;
    g_folderAnswer->LastCaption = caption;
    g_folderAnswer->LastStartFolder = startFolder;
    return g_folderAnswer->folder_;
}

// ---------------------------------------------------------------- WhenShown

WhenShown::WhenShown(std::wstring className, std::function<void(HWND window)> action)
    : className_(std::move(className)), action_(std::move(action))
{
    timer_.OnTimer = [this] {
        HWND window = FindForm(className_);
        if (!window || !::IsWindowVisible(window)) return;
        // The action may run loops of its own (message boxes): it must not start again.
        timer_.Stop();
        ran_ = true;
        action_(window);
    };
    timer_.Start();
}

} // namespace kvtest
