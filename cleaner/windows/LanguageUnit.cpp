#include "cleaner/windows/LanguageUnit.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/SharedState.h"
#include "cleaner/windows/LangDataUnit.h"
#include "platform/Handles.h"

namespace kv {
namespace {

constexpr wchar_t kNoName[] = L"None";

bool IsExistingFile(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

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
    if (!IsExistingFile(LanguageFile)) {
        if (jobMode)
            LanguageFile = LanguageTemplatePath();
        else if (showChooser)
            showChooser();
    }
    LoadLanguage(LanguageFile);
}

} // namespace kv
