#pragma once
// The language chooser: the list of language files with their display names,
// which name to preselect, which file a chosen name stands for, the chooser's
// window TLanguageForm, and the language steps of start-up and of the Options
// menu.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cleaner/windows/LangDataUnit.h"
#include "platform/StringList.h"
#include "platform/forms/Form.h"

namespace kv {

// The maker's page of downloadable language files.
inline constexpr wchar_t LanguagePackAddress[] = L"https://www.orbelune.com/kestrelvane/languages.html";

// The display name of a language file: its [Info] Language, "None" when the
// file has none (or an empty one) or cannot be read.
std::wstring LanguageDisplayName(const std::wstring& path);

// LanguageList: pairs of lines, display name then full path, one pair for each
// LanguageFolder() + "*.ini". Ordered by file name, so that which of two files
// with the same name wins does not depend on the file system's enumeration.
StringList ListLanguageFiles();
// The same for the given files, in whatever order they were found.
StringList BuildLanguageList(std::vector<std::wstring> paths);

// The display names in the order the chooser's sorted combo box shows them.
std::vector<std::wstring> LanguageChoices(const StringList& languageList);

// The name to preselect for `languageFile`; empty when it is not listed.
std::wstring LanguageChoiceFor(const StringList& languageList, std::wstring_view languageFile);

// At start-up: the template's name ("English"); the first choice when the
// template is not listed; empty when nothing is.
std::wstring StartupLanguageChoice(const StringList& languageList);

// The file a chosen name stands for: the first pair of that name, ignoring
// case. nullopt when no pair has it (nothing chosen).
std::optional<std::wstring> LanguageFileForChoice(const StringList& languageList, std::wstring_view name);

// Opens LanguagePackAddress in the default browser.
void OpenLanguagePackPage();

// The language step of start-up: rewrites the template, sets LanguageFile from
// the stored file name (the settings store's \Settings Language value, nullopt
// when there is none) and loads it. When that file does not exist,
// `showChooser` runs (it shows the chooser modally with the template
// preselected, and sets LanguageFile on OK) - except in job mode, where an
// unattended run must not wait on a dialog and English is used.
void LoadStartupLanguage(const std::optional<std::wstring>& storedFileName, bool jobMode,
                         const std::function<void()>& showChooser);

// ---------------------------------------------------------------------------
// The chooser's window

class TLanguageForm : public forms::Form {
public:
    // OK is IDOK, so that Enter presses it as in any dialog.
    enum ControlId : int { idOKButton = IDOK, idLanguageImage = 10, idLabel1, idLangComboBox, idlabGetLanguagePack };

    TLanguageForm();
    ~TLanguageForm() override { RunOnDestroy(); }

    forms::Image* LanguageImage;
    forms::Label* Label1;
    forms::ComboBox* LangComboBox;
    forms::Label* labGetLanguagePack;
    forms::Button* OKButton;

    // Display name, then full path, for every language file; built when the
    // window is created.
    StringList LanguageList;
    // What the link opens; tests put a recorder here instead of the browser.
    std::function<void()> OpenPackPage = OpenLanguagePackPage;

    // Start-up preselects the template's entry instead of the current file's.
    void SelectStartupChoice();

    void FormCreate();
    void OKButtonClick();
    void labGetLanguagePackClick();
    void FormDestroy();

private:
    void SelectChoice(const std::wstring& name);
    void FormKeyDown(WPARAM key, bool& handled);
};

// The chooser at start-up, modally, with the template's entry preselected. OK
// sets LanguageFile; anything else leaves it as it was.
void ShowStartupLanguageChooser();

// The language step of the program's start-up: LoadStartupLanguage with the
// stored file name of the settings root, the chooser when that file is
// missing, then every window text taken from the loaded table.
void PrepareStartupLanguage();

// The Options menu's Language entry: rewrites the template, shows the chooser
// with the current file preselected, loads the file chosen (or the current one
// again) and pushes the texts into the main window.
void ChangeLanguage(MainWindowLanguageTarget& mainWindow);

} // namespace kv
