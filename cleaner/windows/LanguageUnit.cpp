#include "cleaner/windows/LanguageUnit.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/SettingsStore.h"
#include "cleaner/engine/SharedState.h"
#include "cleaner/windows/UiText.h"
#include "platform/Handles.h"
#include "platform/Paths.h"
#include "platform/Registry.h"

namespace kv {
namespace {

constexpr wchar_t kNoName[] = L"None";

// "*.ini" also matches longer extensions through their short names
// ("a.ini_old" is "A~1.INI"); only a true ".ini" counts.
bool HasIniExtension(std::wstring_view name)
{
    const auto dot = name.rfind(L'.');
    return dot != std::wstring_view::npos && CompareTextIgnoreCase(name.substr(dot), L".ini") == 0;
}

std::vector<std::wstring> LanguageFilePaths()
{
    std::vector<std::wstring> paths;
    const std::wstring folder = LanguageFolder();
    WIN32_FIND_DATAW entry{};
    FindHandle find(::FindFirstFileW((folder + L"*.ini").c_str(), &entry));
    if (!find) return paths;
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        if (HasIniExtension(entry.cFileName)) paths.push_back(folder + entry.cFileName);
    } while (::FindNextFileW(find.Get(), &entry));
    return paths;
}

} // namespace

std::wstring LanguageDisplayName(const std::wstring& path)
{
    const std::optional<IniFile> file = ReadLanguageFile(path);
    std::wstring name = file ? file->ReadString(L"Info", L"Language", L"") : std::wstring();
    return name.empty() ? std::wstring(kNoName) : name;
}

StringList ListLanguageFiles() { return BuildLanguageList(LanguageFilePaths()); }

StringList BuildLanguageList(std::vector<std::wstring> paths)
{
    std::sort(paths.begin(), paths.end(),
              [](const std::wstring& a, const std::wstring& b) { return CompareTextIgnoreCase(a, b) < 0; });
    StringList languageList;
    for (std::wstring& path : paths) {
        languageList.Add(LanguageDisplayName(path));
        languageList.Add(std::move(path));
    }
    return languageList;
}

std::vector<std::wstring> LanguageChoices(const StringList& languageList)
{
    std::vector<std::wstring> names;
    for (std::size_t i = 0; i + 1 < languageList.Count(); i += 2) names.push_back(languageList[i]);
    std::stable_sort(names.begin(), names.end(),
                     [](const std::wstring& a, const std::wstring& b) { return CompareTextIgnoreCase(a, b) < 0; });
    return names;
}

std::wstring LanguageChoiceFor(const StringList& languageList, std::wstring_view languageFile)
{
    for (std::size_t i = 1; i < languageList.Count(); i += 2)
        if (CompareTextIgnoreCase(languageList[i], languageFile) == 0) return languageList[i - 1];
    return std::wstring();
}

std::wstring StartupLanguageChoice(const StringList& languageList)
{
    std::wstring name = LanguageChoiceFor(languageList, LanguageTemplatePath());
    if (!name.empty()) return name;
    const std::vector<std::wstring> choices = LanguageChoices(languageList);
    return choices.empty() ? std::wstring() : choices.front();
}

std::optional<std::wstring> LanguageFileForChoice(const StringList& languageList, std::wstring_view name)
{
    for (std::size_t i = 0; i + 1 < languageList.Count(); i += 2)
        if (CompareTextIgnoreCase(languageList[i], name) == 0) return languageList[i + 1];
    return std::nullopt;
}

void OpenLanguagePackPage() { OpenWithShell(LanguagePackAddress, L"", L"", SW_SHOWNORMAL); }

void LoadStartupLanguage(const std::optional<std::wstring>& storedFileName, bool jobMode,
                         const std::function<void()>& showChooser)
{
    // A read-only program folder only costs the translators their template.
    WriteLanguageTemplate();
    LanguageFile = storedFileName ? LanguageFolder() + *storedFileName : std::wstring();
    if (!FileExists(LanguageFile)) {
        if (jobMode)
            LanguageFile = LanguageTemplatePath();
        else if (showChooser)
            showChooser();
    }
    LoadLanguage(LanguageFile);
}

// ---------------------------------------------------------------------------
// The chooser's window

namespace {

forms::FormStyle LanguageFormStyle()
{
    forms::FormStyle style;
    style.className = L"TLanguageForm";
    style.clientWidth = 412;
    style.clientHeight = 201;
    style.border = forms::BorderStyle::Dialog;
    style.position = forms::FormPosition::ScreenCenter;
    style.color = RGB(255, 255, 255);
    style.keyPreview = true;
    return style;
}

// The list is sorted, as the user reads it.
std::unique_ptr<forms::Control> MakeSortedComboBox(forms::WinControl& parent, int id)
{
    return std::make_unique<forms::ComboBox>(parent, id, true);
}

constexpr COLORREF kLinkColour = RGB(0, 80, 190);
constexpr COLORREF kTextColour = RGB(32, 40, 56);

// The stored file name: \Settings Language of the settings root, read without
// creating the key; nullopt when there is none. The program only ever stores a
// plain file name there; a value with a path in it (a crafted job file) would
// reach any file on the machine, and counts as no file.
std::optional<std::wstring> StoredLanguageFileName()
{
    std::optional<std::wstring> name =
        RegistryKey::Open(HKEY_CURRENT_USER, SettingsRoot + L"\\Settings").ReadString(L"Language");
    if (name && name->find_first_of(L"\\/:") != std::wstring::npos) return std::wstring();
    return name;
}

} // namespace

TLanguageForm::TLanguageForm() : forms::Form(LanguageFormStyle())
{
    using namespace forms;
    Build({
        {Make<Image>, L"LanguageImage", idLanguageImage, 0, 0, 0, 120, 201, nullptr, L"LANGUAGEPICTURE"},
        {Make<Label>, L"Label1", idLabel1, 0, 136, 30, 264, 32, L"Please select the language you want to use.", nullptr,
         lfTransparent | lfWordWrap},
        {MakeSortedComboBox, L"LangComboBox", idLangComboBox, 0, 136, 68, 264, 220},
        {Make<Label>, L"labGetLanguagePack", idlabGetLanguagePack, 0, 136, 112, 264, 16,
         L"Get more language skins from our website ...", nullptr, lfTransparent | lfHandCursor},
        {Make<Button>, L"OKButton", idOKButton, 0, 308, 158, 92, 26, L"OK", nullptr, lfDefault},
    });
    LanguageImage = &Get<Image>(idLanguageImage);
    Label1 = &Get<Label>(idLabel1);
    labGetLanguagePack = &Get<Label>(idlabGetLanguagePack);
    OKButton = &Get<Button>(idOKButton);
    LangComboBox = &Get<ComboBox>(idLangComboBox);
    Label1->SetFontColor(kTextColour);
    FontSpec link = labGetLanguagePack->Font();
    link.underline = true;
    link.color = kLinkColour;
    labGetLanguagePack->SetFont(link);

    OnDestroy = [this] { FormDestroy(); };
    OnKeyDown = [this](WPARAM key, bool& handled) { FormKeyDown(key, handled); };
    labGetLanguagePack->OnClick = [this] { labGetLanguagePackClick(); };
    OKButton->OnClick = [this] { OKButtonClick(); };
    FormCreate();
}

void TLanguageForm::FormCreate()
{
    const std::wstring hintFont = forms::ScreenHintFontName();
    SetFontName(hintFont);
    labGetLanguagePack->SetFontName(hintFont);
    SetCaption(UiText(189));
    LanguageList = ListLanguageFiles();
    for (const std::wstring& name : LanguageChoices(LanguageList)) LangComboBox->AddItem(name);
    SelectChoice(LanguageChoiceFor(LanguageList, LanguageFile));
}

void TLanguageForm::SelectStartupChoice() { SelectChoice(StartupLanguageChoice(LanguageList)); }

void TLanguageForm::SelectChoice(const std::wstring& name)
{
    LangComboBox->SetItemIndex(name.empty() ? -1 : LangComboBox->IndexOf(name));
}

void TLanguageForm::OKButtonClick()
{
    // Nothing selected (no language files, or the current file is not among
    // them): the current choice stays.
    if (std::optional<std::wstring> file = LanguageFileForChoice(LanguageList, LangComboBox->Text()))
        LanguageFile = std::move(*file);
    SetModalResult(forms::mrOk);
}

void TLanguageForm::labGetLanguagePackClick()
{
    if (OpenPackPage) OpenPackPage();
}

void TLanguageForm::FormDestroy() { LanguageList.Clear(); }

void TLanguageForm::FormKeyDown(WPARAM key, bool& handled)
{
    // Escape closes an open drop-down list first, as in any dialog.
    if (key != VK_ESCAPE || ::SendMessageW(LangComboBox->Handle(), CB_GETDROPPEDSTATE, 0, 0)) return;
    handled = true;
    Close();
}

void ShowStartupLanguageChooser()
{
    TLanguageForm chooser;
    chooser.SelectStartupChoice();
    chooser.ShowModal();
}

void PrepareStartupLanguage()
{
    LoadStartupLanguage(StoredLanguageFileName(), JobMode, &ShowStartupLanguageChooser);
    SetUiTextSource([](int index) { return LanguageText(index); });
}

void ChangeLanguage(MainWindowLanguageTarget& mainWindow)
{
    WriteLanguageTemplate();
    {
        TLanguageForm chooser;
        chooser.ShowModal();
    }
    LoadLanguage(LanguageFile);
    ApplyLanguage(mainWindow);
}

} // namespace kv
