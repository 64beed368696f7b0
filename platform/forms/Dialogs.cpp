#include "platform/forms/Dialogs.h"

#include <commdlg.h>

#include <atomic>
#include <vector>

#include "platform/MessageLoop.h"

namespace kv::forms {
namespace {
std::atomic<FileDialogHandler> g_handler{nullptr};

std::wstring PlainExtension(const std::wstring& extension)
{
    std::size_t start = 0;
    while (start < extension.size() && (extension[start] == L'*' || extension[start] == L'.')) ++start;
    return extension.substr(start);
}
} // namespace

FileDialogHandler SetFileDialogHandler(FileDialogHandler handler) noexcept { return g_handler.exchange(handler); }

std::wstring SystemFilterText(const std::wstring& filter)
{
    std::wstring result = filter;
    for (wchar_t& c : result)
        if (c == L'|') c = L'\0';
    result.push_back(L'\0');
    result.push_back(L'\0');
    return result;
}

bool FileDialog::Execute(HWND owner)
{
    if (FileDialogHandler handler = g_handler.load()) {
        std::optional<std::wstring> chosen = handler(*this);
        if (chosen) FileName = *chosen;
        return chosen.has_value();
    }
    std::vector<wchar_t> buffer(32768, L'\0');
    FileName.copy(buffer.data(), std::min(FileName.size(), buffer.size() - 1));
    const std::wstring filter = SystemFilterText(Filter);
    const std::wstring extension = PlainExtension(DefaultExt);
    OPENFILENAMEW info{};
    info.lStructSize = sizeof(info);
    info.hwndOwner = owner ? owner : ApplicationWindow();
    info.lpstrFilter = Filter.empty() ? nullptr : filter.c_str();
    info.lpstrFile = buffer.data();
    info.nMaxFile = static_cast<DWORD>(buffer.size());
    info.lpstrInitialDir = InitialDir.empty() ? nullptr : InitialDir.c_str();
    info.lpstrTitle = Title.empty() ? nullptr : Title.c_str();
    info.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
    info.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST;
    if (kind_ == Kind::Open) info.Flags |= OFN_FILEMUSTEXIST;
    if (OverwritePrompt) info.Flags |= OFN_OVERWRITEPROMPT;
    const BOOL chosen = kind_ == Kind::Open ? ::GetOpenFileNameW(&info) : ::GetSaveFileNameW(&info);
    if (!chosen) return false;
    FileName = buffer.data();
    return true;
}

} // namespace kv::forms
