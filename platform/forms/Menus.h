#pragma once
// Pop-up menus: a tree of items built into a fresh HMENU every time the menu
// opens, so captions, check marks and enabled states are always current.
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kv::forms {

class MenuItem {
public:
    MenuItem() = default;
    MenuItem(std::wstring name, std::wstring caption) : Name(std::move(name)), Caption(std::move(caption)) {}
    MenuItem(const MenuItem&) = delete;
    MenuItem& operator=(const MenuItem&) = delete;
    virtual ~MenuItem() = default;

    std::wstring Name;
    std::wstring Caption; // "-" is a separator
    bool Checked = false;
    bool Enabled = true;
    bool Visible = true;
    bool AutoCheck = false; // a click toggles Checked first
    std::wstring Hint;
    int Tag = 0;
    std::function<void()> OnClick;

    MenuItem& Add(std::wstring name, std::wstring caption);
    MenuItem& AddSeparator();
    std::size_t Count() const noexcept { return items_.size(); }
    MenuItem& operator[](std::size_t index) const { return *items_[index]; }
    MenuItem* Find(const std::wstring& name);
    bool IsSeparator() const noexcept { return Caption == L"-"; }
    void Click();

protected:
    std::vector<std::unique_ptr<MenuItem>> items_;
};

// Chooses an entry of an open menu: returns the command id, 0 for none. The
// default shows the menu with TrackPopupMenuEx; tests install a scripted one.
using MenuTracker = UINT (*)(HMENU menu, int x, int y, HWND owner);
MenuTracker SetMenuTracker(MenuTracker tracker) noexcept;

class PopupMenu : public MenuItem {
public:
    std::function<void()> OnPopup;
    // Opens the menu at a screen point and runs the chosen item's click.
    void Popup(int x, int y, HWND owner = nullptr);
};

} // namespace kv::forms
