#pragma once
// The common file dialogs. Tests replace what the user would answer through
// SetFileDialogHandler; the program uses the system's dialogs.
#include <windows.h>

#include <optional>
#include <string>

namespace kv::forms {

class FileDialog {
public:
    enum class Kind { Open, Save };
    explicit FileDialog(Kind kind) : kind_(kind) {}

    std::wstring FileName;
    std::wstring DefaultExt; // "txt", ".txt" and "*.txt" all mean the same
    std::wstring Filter;     // "Text Files|*.txt|All Files|*.*"
    std::wstring Title;
    std::wstring InitialDir;
    bool OverwritePrompt = false;

    Kind GetKind() const noexcept { return kind_; }
    // True when the user chose a file; FileName then holds it.
    bool Execute(HWND owner = nullptr);

private:
    Kind kind_;
};

// Answers a file dialog instead of the user: the chosen path, or nothing for Cancel.
using FileDialogHandler = std::optional<std::wstring> (*)(const FileDialog& dialog);
FileDialogHandler SetFileDialogHandler(FileDialogHandler handler) noexcept;

// "Text Files|*.txt" in the system's form: pairs separated by NUL, ending in two NULs.
std::wstring SystemFilterText(const std::wstring& filter);

} // namespace kv::forms
