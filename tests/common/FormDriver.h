#pragma once
// Works the program's windows the way a person would: finds a form by its
// class name and a control by its id, moves the mouse, clicks, types, reads
// labels and list rows, and answers message boxes, menus and file dialogs.
// Input is posted to the windows' queues (as the system does for real input)
// and then the messages are pumped, so every handler runs through the real
// window procedures.
#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Exceptions.h"
#include "platform/forms/Controls.h"
#include "platform/forms/Dialogs.h"
#include "platform/forms/Form.h"
#include "platform/forms/Timer.h"

namespace kvtest {

// The application object as the program sets it up (idempotent).
void StartApplication();
// A plain form style for windows a test builds: class name, client size, placed at (left, top).
kv::forms::FormStyle HostStyle(const wchar_t* className, int clientWidth = 420, int clientHeight = 300, int left = 40,
                               int top = 40);

// Dispatches waiting messages; with a time, keeps doing so for that long.
void Pump(DWORD milliseconds = 0);
// Pumps until `done` holds or the time runs out; returns whether it held.
template <class Condition>
bool PumpUntil(Condition done, DWORD timeoutMs = 3000)
{
    const DWORD start = ::GetTickCount();
    while (!done()) {
        if (::GetTickCount() - start > timeoutMs) return false;
        Pump(10);
    }
    return true;
}

// A top-level window of this process with that window class name (visible or not).
HWND FindForm(std::wstring_view className);
kv::forms::Form* FindFormObject(std::wstring_view className);
bool IsFormVisible(std::wstring_view className);

kv::forms::Control& ControlById(HWND form, int id);
template <class T>
T& ControlOf(HWND form, int id)
{
    return dynamic_cast<T&>(ControlById(form, id));
}

// ---- Mouse. Points are in the control's own coordinates; the default is its centre.
void MoveMouseTo(const kv::forms::Control& control, std::optional<POINT> point = std::nullopt);
// The mouse leaves the control's window altogether.
void MoveMouseAway(const kv::forms::Control& control);
void Press(const kv::forms::Control& control, kv::forms::MouseButton button = kv::forms::MouseButton::Left,
           std::optional<POINT> point = std::nullopt);
void Release(const kv::forms::Control& control, kv::forms::MouseButton button = kv::forms::MouseButton::Left,
             std::optional<POINT> point = std::nullopt);
void Click(const kv::forms::Control& control, std::optional<POINT> point = std::nullopt);
void RightClick(const kv::forms::Control& control, std::optional<POINT> point = std::nullopt);
void DoubleClick(const kv::forms::Control& control, std::optional<POINT> point = std::nullopt);
// Turns the wheel over a window: negative notches turn it down (towards the user).
void TurnWheel(const kv::forms::WinControl& window, int notches);

// ---- Keyboard
void TypeText(const kv::forms::WinControl& control, std::wstring_view text);
void PressKey(const kv::forms::WinControl& control, WPARAM virtualKey);

// ---- What is shown
std::wstring TextOf(const kv::forms::Control& control);
bool IsShownEnabled(const kv::forms::Control& control);

// ---- Combo boxes: picks the entry with this text as a click in the open list
// would (the selection changes and the owner hears of it); throws when absent.
void ChooseComboItem(const kv::forms::ComboBox& combo, const std::wstring& text);

// ---- Captions
// The width of a text in the control's font, one line; "&" marks an
// accelerator (shown underlined, not as a character) unless `prefix` is false.
int TextWidth(kv::forms::Control& control, const std::wstring& text, bool prefix = true);
// The height of one line of text in the control's font.
int LineHeight(kv::forms::Control& control);
// Every push button, check box and radio button on show in the window whose
// caption does not fit the room its button gives it, as "name: caption".
std::vector<std::wstring> CutButtonCaptions(kv::forms::WinControl& window);

// ---- List views
std::vector<kv::forms::ListView::Row> ReadRows(const kv::forms::ListView& list);
std::vector<std::wstring> ReadColumn(const kv::forms::ListView& list, int column); // 0: captions
void ClickRow(const kv::forms::ListView& list, int row);
void ClickCheckBox(const kv::forms::ListView& list, int row);
void ClickColumnHeader(const kv::forms::ListView& list, int column);
// The room, in pixels, that the widest cell of a column (0: the captions) and
// the column's title need to be read whole, margins included.
int WidestCell(const kv::forms::ListView& list, int column);
int TitleWidth(const kv::forms::ListView& list, int column);

// ---- Activation
void ActivateWindow(HWND window);

// Answers every message box this thread opens while it lives, with the given
// button (IDYES, IDNO, IDOK, IDCANCEL), and keeps what each box said.
class MessageBoxAnswerer {
public:
    struct Seen {
        std::wstring caption;
        std::wstring text;
        int answer;
        HWND owner;          // the window the box belongs to
        bool ownerVisible;   // whether that window was on show
        bool ownerEnabled;   // whether it still took input while the box was up
    };
    explicit MessageBoxAnswerer(int answer);
    ~MessageBoxAnswerer();
    MessageBoxAnswerer(const MessageBoxAnswerer&) = delete;
    MessageBoxAnswerer& operator=(const MessageBoxAnswerer&) = delete;
    const std::vector<Seen>& Boxes() const noexcept { return seen_; }
    void SetAnswer(int answer) noexcept { answer_ = answer; }

private:
    static void CALLBACK Poll(HWND, UINT, UINT_PTR, DWORD);
    int answer_;
    UINT_PTR timer_;
    std::vector<Seen> seen_;
    std::vector<HWND> handled_;
};

// Chooses the entry with this caption (ignoring "&") when a pop-up menu opens,
// as a person would; a disabled entry cannot be chosen. Keeps what the menu showed.
class MenuChooser {
public:
    struct Entry {
        std::wstring caption;
        bool enabled;
        bool checked;
    };
    explicit MenuChooser(std::wstring caption);
    ~MenuChooser();
    MenuChooser(const MenuChooser&) = delete;
    MenuChooser& operator=(const MenuChooser&) = delete;
    bool Opened() const noexcept { return opened_; }
    bool Chosen() const noexcept { return chosen_; }
    const std::vector<Entry>& Entries() const noexcept { return entries_; }
    std::optional<Entry> EntryOf(const std::wstring& caption) const;

private:
    static UINT Track(HMENU menu, int x, int y, HWND owner);
    std::wstring caption_;
    bool opened_ = false;
    bool chosen_ = false;
    std::vector<Entry> entries_;
};

// Answers the file dialogs opened while it lives: a path, or Cancel.
class FileDialogAnswer {
public:
    explicit FileDialogAnswer(std::optional<std::wstring> path);
    ~FileDialogAnswer();
    FileDialogAnswer(const FileDialogAnswer&) = delete;
    FileDialogAnswer& operator=(const FileDialogAnswer&) = delete;
    int TimesAsked() const noexcept { return asked_; }
    // What the last dialog asked for (its default extension and filter).
    std::wstring LastDefaultExt, LastFilter, LastFileName;

private:
    static std::optional<std::wstring> Answer(const kv::forms::FileDialog& dialog);
    std::optional<std::wstring> path_;
    int asked_ = 0;
};

// Records what reaches the application's exception handler while it lives.
class ExceptionRecorder {
public:
    ExceptionRecorder();
    ~ExceptionRecorder();
    ExceptionRecorder(const ExceptionRecorder&) = delete;
    ExceptionRecorder& operator=(const ExceptionRecorder&) = delete;
    const std::vector<std::wstring>& Messages() const noexcept { return messages_; }

private:
    static void Handle(const std::exception_ptr& error);
    kv::ApplicationExceptionHandler previous_;
    std::vector<std::wstring> messages_;
};

// The pixel a control shows at a point of its own, as painted into a bitmap.
COLORREF ShownPixel(const kv::forms::Control& control, POINT point);

// Answers the folder pickers (BrowseForFolder) opened while it lives: a
// folder, or Cancel. Keeps the caption and start folder of the last one.
class FolderPickerAnswer {
public:
    explicit FolderPickerAnswer(std::optional<std::wstring> folder);
    ~FolderPickerAnswer();
    FolderPickerAnswer(const FolderPickerAnswer&) = delete;
    FolderPickerAnswer& operator=(const FolderPickerAnswer&) = delete;
    int TimesAsked() const noexcept { return asked_; }
    void SetAnswer(std::optional<std::wstring> folder) { folder_ = std::move(folder); }
    std::wstring LastCaption, LastStartFolder;

private:
    static std::optional<std::wstring> Answer(const std::wstring& caption, const std::wstring& startFolder);
    std::optional<std::wstring> folder_;
    int asked_ = 0;
};

// Works a window that a modal loop shows: once a visible window of the class
// appears, `action` runs once with it (from a timer, so inside that loop), as
// a person would act on a dialog that has just opened.
class WhenShown {
public:
    WhenShown(std::wstring className, std::function<void(HWND window)> action);
    bool Ran() const noexcept { return ran_; }

private:
    std::wstring className_;
    std::function<void(HWND)> action_;
    kv::forms::Timer timer_{20};
    bool ran_ = false;
};

} // namespace kvtest
