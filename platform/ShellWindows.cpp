#include "platform/ShellWindows.h"

#include <shellapi.h>
#include <shlobj.h>

#include <atomic>
#include <vector>

#include "platform/Exceptions.h"
#include "platform/Handles.h"
#include "platform/MessageLoop.h"

namespace kv {

namespace {

std::atomic<FolderPickerHandler> g_folderPickerHandler{nullptr};

// Disables the thread's other top-level windows while a shell dialog shows.
class TaskWindowsDisabler {
public:
    TaskWindowsDisabler()
    {
        ::EnumThreadWindows(::GetCurrentThreadId(), &TaskWindowsDisabler::Disable, reinterpret_cast<LPARAM>(this));
    }
    ~TaskWindowsDisabler()
    {
        for (HWND window : disabled_) ::EnableWindow(window, TRUE);
    }
    TaskWindowsDisabler(const TaskWindowsDisabler&) = delete;
    TaskWindowsDisabler& operator=(const TaskWindowsDisabler&) = delete;

private:
    static BOOL CALLBACK Disable(HWND window, LPARAM self) noexcept
    {
        return GuardedCallback(TRUE, [&] {
            if (::IsWindowVisible(window) && ::IsWindowEnabled(window)) {
                ::EnableWindow(window, FALSE);
                reinterpret_cast<TaskWindowsDisabler*>(self)->disabled_.push_back(window);
            }
            return TRUE;
        });
    }
    std::vector<HWND> disabled_;
};

// `data` is the start folder.
int CALLBACK BrowseCallback(HWND dialog, UINT message, LPARAM, LPARAM data) noexcept
{
    return GuardedCallback(0, [&] {
        const auto* startFolder = reinterpret_cast<const std::wstring*>(data);
        if (message == BFFM_INITIALIZED && !startFolder->empty())
            ::SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(startFolder->c_str()));
        return 0;
    });
}

using ItemIdList = CoTaskMemory<ITEMIDLIST>;

} // namespace

FolderPickerHandler SetFolderPickerHandler(FolderPickerHandler handler) noexcept
{
    return g_folderPickerHandler.exchange(handler);
}

std::optional<std::wstring> BrowseForFolder(HWND owner, const std::wstring& caption, const std::wstring& rootFolder,
                                            const std::wstring& startFolder)
{
    if (FolderPickerHandler handler = g_folderPickerHandler.load()) return handler(caption, startFolder);
    ItemIdList root;
    if (!rootFolder.empty()) ::SHParseDisplayName(rootFolder.c_str(), nullptr, root.Receive(), 0, nullptr);
    wchar_t displayName[MAX_PATH] = {};
    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.pidlRoot = root.Get();
    info.pszDisplayName = displayName;
    info.lpszTitle = caption.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    info.lpfn = BrowseCallback;
    info.lParam = reinterpret_cast<LPARAM>(&startFolder);
    ItemIdList chosen;
    {
        TaskWindowsDisabler disabled;
        chosen.Reset(::SHBrowseForFolderW(&info));
    }
    if (!chosen) return std::nullopt;
    wchar_t path[MAX_PATH] = {};
    if (!::SHGetPathFromIDListW(chosen.Get(), path)) return std::nullopt;
    return std::wstring(path);
}

int ShowMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags)
{
    return ::MessageBoxW(owner, text.c_str(), caption.c_str(), flags);
}

void ShowFileProperties(const std::wstring& path)
{
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_INVOKEIDLIST;
    info.hwnd = ApplicationWindow();
    info.lpVerb = L"properties";
    info.lpFile = path.c_str();
    info.nShow = SW_SHOW;
    ::ShellExecuteExW(&info);
}

} // namespace kv
