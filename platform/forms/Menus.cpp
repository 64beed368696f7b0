#include "platform/forms/Menus.h"

#include <atomic>
#include <map>

#include "platform/Handles.h"
#include "platform/MessageLoop.h"

namespace kv::forms {
namespace {

UINT TrackWithWindows(HMENU menu, int x, int y, HWND owner)
{
    // The owner must be in the foreground, or the menu does not close when the user clicks elsewhere.
    ::SetForegroundWindow(owner);
    const UINT chosen = static_cast<UINT>(
        ::TrackPopupMenuEx(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY | TPM_LEFTALIGN, x, y, owner, nullptr));
    ::PostMessageW(owner, WM_NULL, 0, 0);
    return chosen;
}

std::atomic<MenuTracker> g_tracker{TrackWithWindows};

struct MenuOwner {
    HMENU menu;
    ~MenuOwner() { ::DestroyMenu(menu); }
};

void Fill(HMENU menu, const MenuItem& parent, std::map<UINT, MenuItem*>& commands)
{
    for (std::size_t i = 0; i < parent.Count(); ++i) {
        MenuItem& item = parent[i];
        if (!item.Visible) continue;
        if (item.IsSeparator()) {
            ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            continue;
        }
        UINT flags = MF_STRING | (item.Checked ? MF_CHECKED : 0) | (item.Enabled ? 0 : MF_GRAYED);
        if (item.Count() > 0) {
            HMENU sub = ::CreatePopupMenu();
            Fill(sub, item, commands);
            ::AppendMenuW(menu, flags | MF_POPUP, reinterpret_cast<UINT_PTR>(sub), item.Caption.c_str());
        } else {
            const UINT id = static_cast<UINT>(commands.size() + 1);
            commands[id] = &item;
            ::AppendMenuW(menu, flags, id, item.Caption.c_str());
        }
    }
}

} // namespace

MenuItem& MenuItem::Add(std::wstring name, std::wstring caption)
{
    items_.push_back(std::make_unique<MenuItem>(std::move(name), std::move(caption)));
    return *items_.back();
}

MenuItem& MenuItem::AddSeparator() { return Add(L"", L"-"); }

MenuItem* MenuItem::Find(const std::wstring& name)
{
    for (auto& item : items_) {
        if (item->Name == name) return item.get();
        if (MenuItem* found = item->Find(name)) return found;
    }
    return nullptr;
}

void MenuItem::Click()
{
    if (!Enabled) return;
    if (AutoCheck) Checked = !Checked;
    if (OnClick) OnClick();
}

MenuTracker SetMenuTracker(MenuTracker tracker) noexcept { return g_tracker.exchange(tracker ? tracker : TrackWithWindows); }

void PopupMenu::Popup(int x, int y, HWND owner)
{
    if (OnPopup) OnPopup();
    if (!owner) owner = ApplicationWindow() ? ApplicationWindow() : ::GetActiveWindow();
    MenuOwner menu{::CreatePopupMenu()};
    std::map<UINT, MenuItem*> commands;
    Fill(menu.menu, *this, commands);
    const UINT chosen = g_tracker.load()(menu.menu, x, y, owner);
    if (auto found = commands.find(chosen); found != commands.end()) found->second->Click();
}

} // namespace kv::forms
