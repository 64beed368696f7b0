#pragma once
// Windows that the system shows for us: the folder picker, message boxes and a
// file's property sheet. They live here, below the cleaner's engine, so that
// the engine itself never shows a window.
#include <windows.h>

#include <optional>
#include <string>

namespace kv {

// The shell's folder picker (file-system folders only), titled with `caption`;
// a non-empty `rootFolder` is its top, and it opens on `startFolder`. The
// thread's other windows are disabled while it shows. Nothing for Cancel.
std::optional<std::wstring> BrowseForFolder(HWND owner, const std::wstring& caption, const std::wstring& rootFolder,
                                            const std::wstring& startFolder);
// Answers BrowseForFolder in place of the user (tests): the chosen folder, or
// nothing for Cancel; it is given the caption and the start folder.
using FolderPickerHandler = std::optional<std::wstring> (*)(const std::wstring& caption, const std::wstring& startFolder);
FolderPickerHandler SetFolderPickerHandler(FolderPickerHandler handler) noexcept;

int ShowMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags);

// The shell's property sheet of a file or folder, owned by the application window.
void ShowFileProperties(const std::wstring& path);

} // namespace kv
